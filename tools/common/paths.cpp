// Paths and programs: folders of paths, finding programs in PATH, this binary's own folder, whole files.
#include "paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

std::string directory_of(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool is_directory(const std::string& path)
{
    struct stat info { };
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool is_program(const std::string& path)
{
    struct stat info { };
    return access(path.c_str(), X_OK) == 0 && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string find_program(const std::string& name)
{
    if (name.find('/') != std::string::npos)
        return is_program(name) ? name : "";
    const char* path = getenv("PATH");
    const std::string directories = path ? path : "/usr/bin:/bin";
    for (size_t start = 0;;) {
        const size_t end = directories.find(':', start);
        const std::string directory = directories.substr(start, end == std::string::npos ? end : end - start);
        std::string candidate = (directory.empty() ? "." : directory) + "/" + name;
        if (is_program(candidate))
            return candidate;
        if (end == std::string::npos)
            return "";
        start = end + 1;
    }
}

std::string own_directory()
{
    char path[PATH_MAX];
    const ssize_t size = readlink("/proc/self/exe", path, sizeof path - 1);
    if (size <= 0)
        return ".";
    path[size] = '\0';
    return directory_of(path);
}

std::string absolute(const std::string& path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string read_file(const std::string& path)
{
    std::string text;
    if (FILE* file = fopen(path.c_str(), "r")) {
        char buffer[4096];
        size_t size;
        while ((size = fread(buffer, 1, sizeof buffer, file)) > 0)
            text.append(buffer, size);
        fclose(file);
    }
    return text;
}
