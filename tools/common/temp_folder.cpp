// The private temporary folder: made on first use, removed at exit without a shell, so any character in TMPDIR is
// safe.
#include "temp_folder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "fail.h"

namespace {

std::string folder;   // empty: none made, or removed

}   // namespace

const std::string& temp_folder()
{
    if (folder.empty()) {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + tool_name() + "-XXXXXX";
        if (!mkdtemp(pattern.data()))
            fail(exit_failed, "cannot create a temporary folder %s: %s", pattern.c_str(), strerror(errno));
        folder = pattern;
        static const bool registered = atexit(remove_temp_folder) == 0;
        (void)registered;
    }
    return folder;
}

void remove_temp_folder()
{
    if (folder.empty())
        return;
    std::error_code error;
    std::filesystem::remove_all(folder, error);
    if (error)
        warn("could not remove %s", folder.c_str());
    folder.clear();
}
