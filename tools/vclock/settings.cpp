// vclock's settings: read once from the environment, part by part, and the helpers the parts read and write with.
// A malformed value stops the program with a message on stderr, status 2.
//
// The settings belong to one process: the first that starts SDL with them (SDL_Init), which names itself in
// VCLOCK_OWNER. The programs it starts inherit LD_PRELOAD and every setting; those that never start SDL (a shell
// command) never read them, and those that do (another SDL program) find another owner named, run with vclock's
// defaults and write nothing, so neither truncates the owner's files. A wrapper that merely starts the program
// (timeout, a shell) starts no SDL, so the program itself is the owner.
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <mutex>

#include "vclock.h"
#include "vclock_protocol.h"

namespace vclock {

[[noreturn]] void fail(const char* what, const char* value)
{
    fprintf(stderr, "vclock: bad %s: '%s'\n", what, value);
    fflush(stderr);
    _exit(2);
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

int64_t parse_integer(const std::string& text, const char* what, int64_t low, int64_t high)
{
    char* end = nullptr;
    errno = 0;
    const long long value = strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high)
        fail(what, text.c_str());
    return value;
}

FILE* open_text_file(const char* variable)
{
    const char* path = getenv(variable);
    if (!path)
        return nullptr;
    FILE* file = fopen(path, "w");
    if (!file)
        fail((std::string(variable) + " (cannot create)").c_str(), path);
    setvbuf(file, nullptr, _IOLBF, 0);
    return file;
}

void write_line(FILE* file, const char* format, ...)
{
    va_list values;
    va_start(values, format);
    vfprintf(file, format, values);   // NOLINT(clang-analyzer-valist.Uninitialized): a false alarm
    va_end(values);
    fputc('\n', file);
}

namespace {

pid_t owner = 0;   // this process once it owns the settings

// The settings are this process's unless an SDL program that started it owns them.
bool claim_settings()
{
    const pid_t self = getpid();
    const char* named = getenv(owner_variable);
    if (named && *named && strtol(named, nullptr, 10) != self)
        return false;
    // Read at SDL_Init, on the program's main thread before SDL and GL start threads of their own.
    setenv(owner_variable, std::to_string(self).c_str(), 1);
    owner = self;
    return true;
}

void read_settings()
{
    if (!claim_settings())
        return;
    read_clock_settings();
    read_event_settings();
    read_grab_settings();
    read_log_settings();
    read_audio_settings();
    read_gl_error_settings();
}

}   // namespace

// Read on first use rather than in a load-time constructor, which could run before the parts' own globals
// are initialised.
void configure()
{
    static std::once_flag once;
    std::call_once(once, read_settings);
}

bool owns_settings()
{
    return owner != 0 && owner == getpid();   // not in a child forked from the owner
}

}   // namespace vclock
