// The preview's live shaders: the stage files watched by their modification times, and every program rebuilt from
// them when one changes; a stage that does not build leaves the last good programs in use.
#include <sys/stat.h>

#include <cstdio>
#include <vector>

#include "display_config.h"
#include "fail.h"
#include "preview.h"
#include "programs.h"
#include "stage_text.h"

static std::string watched;               // the folder; empty while the embedded stages are all there is
static std::vector<std::string> in_use;   // the GL's texts of the programs in use, in the order of stage_names

// What tells a changed file: existence, modification time and size.
struct Stamp {
    bool exists = false;
    long long seconds = 0, nanoseconds = 0, size = 0;
    bool operator==(const Stamp& other) const
    {
        return exists == other.exists && seconds == other.seconds && nanoseconds == other.nanoseconds &&
               size == other.size;
    }
};
static std::vector<Stamp> stamps;

static std::vector<Stamp> read_stamps()
{
    std::vector<Stamp> read(stage_count);
    for (size_t i = 0; i < stage_count; ++i) {
        struct stat info { };
        const std::string path = watched + "/" + stage_names[i] + ".glsl";
        if (stat(path.c_str(), &info) == 0)
            read[i] = {true, info.st_mtim.tv_sec, info.st_mtim.tv_nsec, info.st_size};
    }
    return read;
}

// Builds the programs from the files unless they hold what is in use already (always: in any case).
static void rebuild(bool always)
{
    const std::vector<StageLiteral> literals =
        configuration_literals(sample_width, sample_height, display_scale, gentle);
    std::vector<std::string> texts;
    for (const char* name : stage_names) {
        const StageText stage = load_stage(watched, name, literals);
        if (!stage.problem.empty()) {
            warn("%s; the last good programs stay in use", stage.problem.c_str());
            return;
        }
        texts.push_back(stage.text);
    }
    if (!always && texts == in_use)
        return;
    if (rebuild_programs(texts)) {
        in_use = texts;
        printf("preview: programs rebuilt from %s\n", watched.c_str());
    } else {
        warn("a program of %s does not link; the last good programs stay in use", watched.c_str());
    }
}

void watch_shaders(const std::string& directory)
{
    if (directory.empty()) {
        printf("preview: the embedded stages are shown; --shaders DIR watches a folder of stage files\n");
        return;
    }
    struct stat info { };
    if (stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        warn("no shader folder at %s; the embedded stages are shown and not watched", directory.c_str());
        return;
    }
    watched = directory;
    for (size_t i = 0; i < stage_count; ++i)
        in_use.emplace_back(embedded_stage(i));
    stamps = read_stamps();
    rebuild(false);
}

void poll_shaders()
{
    if (watched.empty())
        return;
    std::vector<Stamp> now = read_stamps();
    if (now == stamps)
        return;
    stamps = std::move(now);
    rebuild(false);
}

void reload_shaders()
{
    if (!watched.empty())
        rebuild(true);
}
