// Paths and programs: the folder of a path, finding a program as the shell would, and the tool's own folder.
#pragma once

#include <string>

// The folder part of path: "." for a bare name, "/" for a name in the root.
std::string directory_of(const std::string& path);
bool is_directory(const std::string& path);
// A regular file that may be executed.
bool is_program(const std::string& path);
// The full path of a program's name, as execvp would find it in PATH (a name with a slash is taken as it is), or ""
// when there is none.
std::string find_program(const std::string& name);
// The folder of this process's own binary ("." when /proc does not tell).
std::string own_directory();
// The path with links and dots resolved, or the path as it is when it cannot be.
std::string absolute(const std::string& path);
// A file's whole contents ("" when it cannot be read).
std::string read_file(const std::string& path);
