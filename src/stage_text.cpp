// A stage file's text made into the text the GL compiles: opening comments dropped, configuration literals filled in.
#include "stage_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "display_config.h"

size_t stage_index(const char* name)
{
    size_t index = 0;
    while (index < stage_count && std::strcmp(stage_names[index], name) != 0)
        ++index;
    return index;
}

std::vector<StageLiteral> configuration_literals()
{
    char scale[64];
    snprintf(scale, sizeof scale, "vec2(%f,%f)", static_cast<double>(display_scale),
             static_cast<double>(display_scale));
    const std::string width = std::to_string(sample_width);
    return {{"SAMPLE_SIZE", "vec2(" + width + "," + std::to_string(sample_height) + ")"},
            {"FILTER_DIRECTION_TEST", "textureSize(tex).x == " + width},
            {"DISPLAY_SCALE", scale}};
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
    std::ifstream file(path, std::ios::binary);
    const std::string contents{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (!file.is_open() || file.bad())
        return {"", "cannot read " + path};
    return stage_text(file_name, contents, literals);
}
