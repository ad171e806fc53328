// The preview's command line: preview [--at SECONDS] [--paused] [--shaders DIR].
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "preview.h"
#include "show.h"

static const char usage[] = "usage: preview [--at SECONDS] [--paused] [--shaders DIR]";

// One line saying what is wrong, then the usage; the status for it.
static int refuse(const std::string& problem)
{
    printf("preview: %s\n%s\n", problem.c_str(), usage);
    return 2;
}

static bool is_directory(const std::string& path)
{
    struct stat info { };
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Whether this is the preview the build wrote, run where the build wrote it. Only that one may watch the source
// tree's stages unasked: an installed copy would read a path of the machine that built it, which on this machine
// may be missing or anybody's.
static bool in_build_tree()
{
    char* self = realpath("/proc/self/exe", nullptr);
    char* built = realpath(PREVIEW_BUILD_BINARY, nullptr);
    const bool same = self && built && std::strcmp(self, built) == 0;
    free(self);
    free(built);
    return same;
}

int parse_options(int argc, char** argv, PreviewOptions& options)
{
    if (in_build_tree())
        options.shaders = PREVIEW_SHADER_DIR;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool takes_value = argument == "--at" || argument == "--shaders";
        if (takes_value && i + 1 == argc)
            return refuse(argument + " needs a value");
        if (argument == "--help") {
            printf("%s\n", usage);
            return 0;
        } else if (argument == "--paused") {
            options.paused = true;
        } else if (argument == "--at") {
            const char* text = argv[++i];
            char* end = nullptr;
            errno = 0;
            const double seconds = strtod(text, &end);
            const double longest = run_length / 1000.0;
            if (*text == '\0' || *end != '\0' || errno != 0 || !(seconds >= 0 && seconds <= longest))
                return refuse("--at takes seconds from 0 to " + std::to_string(run_length / 1000) + ", not '" + text +
                              "'");
            options.at_ms = std::llround(seconds * 1000.0);
        } else if (argument == "--shaders") {
            options.shaders = argv[++i];
            options.shaders_given = true;
            if (!is_directory(options.shaders))
                return refuse("--shaders: no folder '" + options.shaders + "'");
        } else {
            return refuse("unknown argument '" + argument + "'");
        }
    }
    return -1;
}
