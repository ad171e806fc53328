// The command line every tool follows: options through getopt_long from one table a tool, numbers taken strictly,
// -h/--help to standard output and status 0, --version likewise, a bad argument as one line and the usage on
// standard error and status 2.
#pragma once

#include <getopt.h>

#include <string>

// The value getopt_long returns for --version; every tool's table holds {"version", no_argument, nullptr,
// version_option} and {"help", no_argument, nullptr, 'h'}.
constexpr int version_option = 0x10000;

// The usage text --help prints and a bad argument follows with (set once, before the first next_option).
void set_usage(const char* usage);
// "TOOL VERSION (commit C)" or "TOOL VERSION" where the build did not know the commit.
std::string version_line();

// The next option of the table, as getopt_long gives it (-1 after the last; the operands are then argv[optind..]).
// Handles -h/--help and --version (prints, exits 0), and refuses an unknown option or a missing value.
int next_option(int argc, char** argv, const char* short_options, const option* table);

// "TOOL: MESSAGE", then the usage, on stderr; status 2.
[[noreturn]] void bad_argument(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The whole text as a finite number within [low, high], or a bad argument naming the option.
double parse_number(const std::string& text, const char* option, double low, double high);
// The whole text as a whole number within [low, high], or a bad argument naming the option.
long parse_whole(const std::string& text, const char* option, long low, long high);

// The same checks without the exit, for callers with their own way out (the launcher's tests, the fuzz target):
// false when text is not such a number.
bool strict_number(const std::string& text, double low, double high, double* value);
bool strict_whole(const std::string& text, long low, long high, long* value);
