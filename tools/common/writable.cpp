// The check that an output can be written: a probe file made and removed in the output's folder.
#include "writable.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "fail.h"
#include "paths.h"

std::string why_unwritable(const std::string& path)
{
    if (is_directory(path))
        return path + " is a folder";
    // A file made and removed at once: permissions, a read-only file system and folders such as /proc all answer
    // as they would at the end of the run (access() looks at the permission bits alone).
    const std::string folder = directory_of(path);
    std::string probe = folder + "/." + tool_name() + "-probe-XXXXXX";
    const int fd = mkstemp(probe.data());
    if (fd < 0)
        return "no file can be made in the folder " + folder + " (" + strerror(errno) + ")";
    close(fd);
    unlink(probe.c_str());
    return "";
}

void check_writable(const std::string& path, const std::string& what)
{
    const std::string reason = why_unwritable(path);
    if (!reason.empty())
        fail(exit_failed, "cannot write %s: %s", what.c_str(), reason.c_str());
}
