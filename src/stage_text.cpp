// A stage file's text made into the text the GL compiles: opening comments dropped, configuration literals filled in.
#include "stage_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

size_t stage_index(const char* name)
{
    size_t index = 0;
    while (index < stage_count && std::strcmp(stage_names[index], name) != 0)
        ++index;
    return index;
}

std::vector<StageLiteral> configuration_literals(int sample_width, int sample_height, float display_scale, bool gentle)
{
    char scale[64];
    snprintf(scale, sizeof scale, "vec2(%f,%f)", static_cast<double>(display_scale),
             static_cast<double>(display_scale));
    const std::string width = std::to_string(sample_width);
    return {{"SAMPLE_SIZE", "vec2(" + width + "," + std::to_string(sample_height) + ")"},
            {"FILTER_DIRECTION_TEST", "textureSize(tex).x == " + width},
            {"DISPLAY_SCALE", scale},
            // The gentle cloud bursts in sparks a fifth as wide, and its cube pulses between 1.6 and 2 times its
            // size and swings by a fifth of a radian instead of collapsing through its centre and swinging by one.
            // The resting spot (the point 0) keeps the full swing: its turn moves it by a fraction of a pixel.
            {"CLOUD_FLASH_SIZE", gentle ? "0.01" : "0.05"},
            {"CUBE_SWING", gentle ? "(point == vec3(0.0) ? r : 0.2 * r)" : "r"},
            {"CUBE_PULSE", gentle ? "(1.8 + 0.2 * r)" : "2.0 * r"}};
}

// Whether c may stand inside a placeholder's name.
static bool placeholder_char(char c)
{
    return (c >= 'A' && c <= 'Z') || c == '_';
}

StageText stage_text(const std::string& file_name, const std::string& contents,
                     const std::vector<StageLiteral>& literals)
{
    // The file's opening comment lines describe it for readers; the GL gets the code from the first other line.
    size_t start = 0;
    while (contents.compare(start, 2, "//") == 0) {
        const size_t end = contents.find('\n', start);
        if (end == std::string::npos)
            break;   // a last comment line without its newline stays, as the build always kept it
        start = end + 1;
    }

    StageText result;
    for (size_t at = start; at < contents.size();) {
        const size_t open = contents.find('@', at);
        size_t close = open == std::string::npos ? open : open + 1;
        while (close < contents.size() && placeholder_char(contents[close]))
            ++close;
        if (open == std::string::npos || close == open + 1 || close >= contents.size() || contents[close] != '@') {
            const size_t copy_to = open == std::string::npos ? contents.size() : open + 1;
            result.text.append(contents, at, copy_to - at);
            at = copy_to;
            continue;
        }
        const std::string name = contents.substr(open + 1, close - open - 1);
        const auto literal = std::find_if(literals.begin(), literals.end(),
                                          [&](const StageLiteral& candidate) { return candidate.name == name; });
        if (literal == literals.end()) {
            result.text.clear();
            result.problem.append(file_name).append(": unknown placeholder @").append(name).append("@");
            return result;
        }
        result.text.append(contents, at, open - at);
        result.text += literal->value;
        at = close + 1;
    }
    return result;
}

StageText load_stage(const std::string& directory, const char* name, const std::vector<StageLiteral>& literals)
{
    const std::string file_name = std::string(name) + ".glsl";
    const std::string path = directory + "/" + file_name;
    // Judged and read through one descriptor, so that what was judged is what is read. O_NONBLOCK: opening a fifo
    // would otherwise wait for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {"", "cannot read " + path + ": " + strerror(errno)};
    struct stat info { };
    std::string problem, contents;
    if (fstat(fd, &info) != 0)
        problem = strerror(errno);
    else if (S_ISDIR(info.st_mode))
        problem = "a directory";
    else if (!S_ISREG(info.st_mode))
        problem = "not a regular file";
    else if (info.st_size > stage_file_limit)
        problem = "larger than " + std::to_string(stage_file_limit >> 20) + " MiB";
    else
        contents.resize(static_cast<size_t>(info.st_size) + 1);   // a byte more: a file grown since is seen
    size_t got = 0;
    while (problem.empty() && got < contents.size()) {
        const ssize_t n = read(fd, &contents[got], contents.size() - got);
        if (n == 0)
            break;
        if (n > 0)
            got += static_cast<size_t>(n);
        else if (errno != EINTR)
            problem = strerror(errno);
    }
    close(fd);
    if (problem.empty() && got != static_cast<size_t>(info.st_size))
        problem = "changed while it was read";
    if (!problem.empty())
        return {"", "cannot read " + path + ": " + problem};
    contents.resize(got);
    return stage_text(file_name, contents, literals);
}
