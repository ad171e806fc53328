// Whether an output can be written, tried before the work starts rather than found out after it.
#pragma once

#include <string>

// "" when a file can be made in the folder of path and path is no folder; otherwise why not.
std::string why_unwritable(const std::string& path);
// Fails with status 1 and "cannot write WHAT: REASON" unless path can be written.
void check_writable(const std::string& path, const std::string& what);
