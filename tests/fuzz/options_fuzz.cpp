// Fuzz target: any command line, for a tool's option parser (capture's, or the preview's). The bytes are the
// arguments, separated by NUL bytes. A parser that refuses an argument exits: the program is linked with exit
// wrapped (-Wl,--wrap=exit), and the wrapper jumps back to here with the status, so that every run ends as the
// tool's would and the next one starts. The jump skips the parser's destructors (exit never returns, so the
// compiler leaves no way to unwind past it): their memory is left behind, and leaks are not looked for here.
#include <getopt.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#if defined(FUZZ_CAPTURE)
#include "capture.h"
#else
#include "preview.h"
#endif

static jmp_buf parser_exited;
constexpr int exit_status_zero = 256;   // setjmp's 0 means "not jumped yet"

static bool parsing = false;

// Every exit of the program comes here (the fuzzer's own too): only the parser's jumps back.
extern "C" [[noreturn]] void __real_exit(int status);
extern "C" [[noreturn]] void __wrap_exit(int status)
{
    if (!parsing)
        __real_exit(status);
    parsing = false;
    longjmp(parser_exited, status == 0 ? exit_status_zero : status);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    std::vector<std::string> arguments = {"tool"};
    std::string argument;
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] == 0) {
            arguments.push_back(argument);
            argument.clear();
        } else {
            argument += static_cast<char>(bytes[i]);
        }
    }
    if (!argument.empty())
        arguments.push_back(argument);
    std::vector<char*> argv;
    for (std::string& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(arguments.size());
    const int exited = setjmp(parser_exited);
    if (exited != 0) {
        if (exited != exit_status_zero && exited != 2)
            __builtin_trap();   // a bad argument is status 2, --help 0: nothing else
        return 0;
    }
    parsing = true;
    optind = 0;   // getopt_long starts over
    {
#if defined(FUZZ_CAPTURE)
        const Options options = parse_arguments(argc, argv.data());
        // What the parser accepted is an interval of the show, in order.
        if (!(options.from >= 0 && options.from <= options.to && options.to <= show_length))
            __builtin_trap();
#else
        PreviewOptions options;
        parse_options(argc, argv.data(), options);
#endif
    }
    parsing = false;
    return 0;
}
