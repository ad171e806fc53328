// A fresh temporary folder for a test's files, and reading, writing or testing for a file in it.
#include "temp_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

TempDir::TempDir()
{
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/demo-test-XXXXXX";
    if (mkdtemp(pattern.data()))
        path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;   // a folder that cannot be removed is only left behind
    if (!path.empty() && !getenv("TEST_KEEP_FILES"))
        std::filesystem::remove_all(path, ignored);
}

bool file_exists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
