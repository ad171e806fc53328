// The tools' command-line convention: the getopt_long loop's shared cases, the strict number parser, --help and
// --version.
#include "command_line.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "fail.h"
#include "version.h"

namespace {

const char* usage_text = "";

}   // namespace

void set_usage(const char* usage)
{
    usage_text = usage;
}

std::string version_line()
{
    std::string line = std::string(tool_name()) + " " + project_version;
    if (*project_commit)
        line += std::string(" (commit ") + project_commit + ")";
    return line;
}

int next_option(int argc, char** argv, const char* short_options, const option* table)
{
    opterr = 0;   // our own message, one line
    const int previous = optind;
    const std::string options = std::string(":") + short_options;
    const int found = getopt_long(argc, argv, options.c_str(), table, nullptr);
    switch (found) {
    case 'h':
        fputs(usage_text, stdout);
        exit(exit_done);
    case version_option:
        printf("%s\n", version_line().c_str());
        exit(exit_done);
    case ':':
        bad_argument("%s needs a value", argv[optind - 1]);
    case '?':
        if (optopt && optopt < 0x100 && previous < argc && argv[previous][1] != '-')
            bad_argument("unknown option '-%c'", optopt);
        bad_argument("unknown option '%s'", argv[previous < argc ? previous : argc - 1]);
    default:
        return found;
    }
}

void bad_argument(const char* format, ...)
{
    fprintf(stderr, "%s: ", tool_name());
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);   // NOLINT(clang-analyzer-valist.Uninitialized): a false alarm
    va_end(args);
    fputc('\n', stderr);
    fputs(usage_text, stderr);
    exit(exit_usage);
}

bool strict_number(const std::string& text, double low, double high, double* value)
{
    char* end = nullptr;
    errno = 0;
    *value = strtod(text.c_str(), &end);
    return !text.empty() && !isspace(static_cast<unsigned char>(text[0])) && *end == '\0' && errno == 0 &&
           std::isfinite(*value) && *value >= low && *value <= high;
}

bool strict_whole(const std::string& text, long low, long high, long* value)
{
    char* end = nullptr;
    errno = 0;
    *value = strtol(text.c_str(), &end, 10);
    return !text.empty() && !isspace(static_cast<unsigned char>(text[0])) && *end == '\0' && errno == 0 &&
           *value >= low && *value <= high;
}

double parse_number(const std::string& text, const char* option, double low, double high)
{
    double value = 0;
    if (!strict_number(text, low, high, &value))
        bad_argument("%s must be a number from %g to %g, not '%s'", option, low, high, text.c_str());
    return value;
}

long parse_whole(const std::string& text, const char* option, long low, long high)
{
    long value = 0;
    if (!strict_whole(text, low, high, &value))
        bad_argument("%s must be a whole number from %ld to %ld, not '%s'", option, low, high, text.c_str());
    return value;
}
