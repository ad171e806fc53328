// capture's paths, programs and files: folders of paths, this tool's own folder, finding programs, reading files.
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "capture.h"

std::string directory_of(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool is_directory(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string own_directory()
{
    char path[4096];
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

// A program name as execvp would find it, or "" when there is none.
std::string find_program(const std::string& name)
{
    if (name.find('/') != std::string::npos)
        return access(name.c_str(), X_OK) == 0 && !is_directory(name) ? name : "";
    const char* path = getenv("PATH");
    std::string directories = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        const size_t end = directories.find(':', start);
        const std::string directory = directories.substr(start, end == std::string::npos ? end : end - start);
        std::string candidate = (directory.empty() ? "." : directory) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0 && !is_directory(candidate))
            return candidate;
        if (end == std::string::npos)
            return "";
        start = end + 1;
    }
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

void check_writable(const std::string& path, const std::string& what)
{
    if (is_directory(path))
        die(2, "cannot write %s: %s is a folder", what.c_str(), path.c_str());
    // A file made and removed at once: permissions, a read-only file system and folders such as /proc all
    // answer as they would at the end of the run.
    const std::string folder = directory_of(path);
    std::string probe = folder + "/.capture-probe-XXXXXX";
    const int fd = mkstemp(probe.data());
    if (fd < 0)
        die(2, "cannot write %s: no file can be made in the folder %s (%s)", what.c_str(), folder.c_str(),
            strerror(errno));
    close(fd);
    unlink(probe.c_str());
}
