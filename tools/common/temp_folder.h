// A private temporary folder, TMPDIR/TOOL-XXXXXX, made once and removed with everything in it when the process
// exits (through exit or a return from main, fail included).
#pragma once

#include <string>

// Makes the folder on the first call (or fails with status 1) and returns its path.
const std::string& temp_folder();
// Removes it now, should it exist (said on stderr when it cannot be).
void remove_temp_folder();
