// A fresh temporary folder for a test's files, and reading, writing or testing for a file in it.
#pragma once

#include <string>

#include "paths.h"   // read_file, as the tools read files

// A fresh folder under TMPDIR, removed with its contents when the object goes (kept with TEST_KEEP_FILES set).
struct TempDir {
    std::string path;   // empty when the folder could not be made
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

bool file_exists(const std::string& path);
// Writes bytes to path, replacing the file.
void write_file(const std::string& path, const std::string& bytes);
