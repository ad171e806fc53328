// The one error line and exit, and the tool's name that starts every message.
#include "fail.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "signals.h"

namespace {

const char* name_of_tool = "tool";
void (*clean_up_of_tool)() = nullptr;

}   // namespace

void set_tool(const char* name, void (*clean_up)())
{
    name_of_tool = name;
    clean_up_of_tool = clean_up;
}

const char* tool_name()
{
    return name_of_tool;
}

void fail(int status, const char* format, ...)
{
    fprintf(stderr, "%s: ", name_of_tool);
    if (interrupted()) {
        fputs("interrupted", stderr);
        status = exit_interrupted;
    } else {
        va_list args;
        va_start(args, format);
        vfprintf(stderr, format, args);   // NOLINT(clang-analyzer-valist.Uninitialized): a false alarm
        va_end(args);
    }
    fputc('\n', stderr);
    if (clean_up_of_tool)
        clean_up_of_tool();
    exit(status);
}

void warn(const char* format, ...)
{
    fprintf(stderr, "%s: ", name_of_tool);
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);   // NOLINT(clang-analyzer-valist.Uninitialized): a false alarm
    va_end(args);
    fputc('\n', stderr);
}
