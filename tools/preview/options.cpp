// The preview's command line: preview [--at SECONDS] [--paused] [--shaders DIR], and the keys its --help lists.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "command_line.h"
#include "fail.h"
#include "paths.h"
#include "preview.h"
#include "show.h"

namespace {

// The keys, the same table as the manual page's KEYS.
const char usage[] =
    "usage: preview [--at SECONDS] [--paused] [--shaders DIR]\n"
    "Plays the show from any time with the music in step, and rebuilds the programs when a stage file changes.\n"
    "      --at SECONDS    start at this show time, 0 to 136 (default 0)\n"
    "      --paused        start paused\n"
    "      --shaders DIR   the folder of stage files to watch\n"
    "  -h, --help          this text\n"
    "      --version       the version of preview\n"
    "Keys:\n"
    "  Space               pause and resume\n"
    "  Left, Right         1 s back, forward\n"
    "  Page Up, Page Down  10 s back, forward\n"
    "  , and .             pause and step 1/60 s back, forward\n"
    "  Home                go to 0\n"
    "  1 to 6              the landmarks 0, 4.3, 9, 36, 95 and 130 s\n"
    "  [ and ]             start and end of a loop at the current time\n"
    "  Backspace           clear the loop\n"
    "  R                   reload the shaders\n"
    "  Escape              quit (so does closing the window)\n"
    "Exit status: 0 when quit, 1 without a display or a usable OpenGL, 2 on a bad argument.\n";

// Whether this is the preview the build wrote, run where the build wrote it. Only that one may watch the source
// tree's stages unasked: an installed copy would read a path of the machine that built it, which on this machine
// may be missing or anybody's.
bool in_build_tree()
{
    char* self = realpath("/proc/self/exe", nullptr);
    char* built = realpath(PREVIEW_BUILD_BINARY, nullptr);
    const bool same = self && built && std::strcmp(self, built) == 0;
    free(self);
    free(built);
    return same;
}

}   // namespace

void parse_options(int argc, char** argv, PreviewOptions& options)
{
    if (in_build_tree())
        options.shaders = PREVIEW_SHADER_DIR;
    enum { at_option = 256, paused_option, shaders_option };
    static const option table[] = {
        {"at", required_argument, nullptr, at_option},           {"paused", no_argument, nullptr, paused_option},
        {"shaders", required_argument, nullptr, shaders_option}, {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, version_option},       {nullptr, 0, nullptr, 0}};
    set_tool("preview");
    set_usage(usage);
    for (int found; (found = next_option(argc, argv, "h", table)) != -1;) {
        const std::string value = optarg ? optarg : "";
        switch (found) {
        case at_option:
            options.at_ms = std::llround(parse_number(value, "--at", 0, run_length / 1000.0) * 1000.0);
            break;
        case paused_option:
            options.paused = true;
            break;
        case shaders_option:
            options.shaders = value;
            options.shaders_given = true;
            if (!is_directory(options.shaders))
                bad_argument("--shaders: no folder '%s'", value.c_str());
            break;
        default:
            bad_argument("unknown option '%s'", argv[optind - 1]);
        }
    }
    if (optind < argc)
        bad_argument("unexpected operand '%s'", argv[optind]);
}
