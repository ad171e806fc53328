// embed_shaders: writes the C++ file of the GLSL stages as string constants, with one display configuration's
// literals. Usage: embed_shaders SHADER_DIR OUTPUT SAMPLE_WIDTH SAMPLE_HEIGHT DISPLAY_SCALE design|gentle. Run by the
// build, once per configuration and version of the show, before anything that includes the stages is compiled.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "stage_text.h"

int main(int argc, char** argv)
{
    const char usage[] =
        "usage: embed_shaders SHADER_DIR OUTPUT SAMPLE_WIDTH SAMPLE_HEIGHT DISPLAY_SCALE design|gentle";
    if (argc != 7) {
        printf("%s\n", usage);
        return 2;
    }
    const std::string directory = argv[1], output = argv[2];
    char *width_end = nullptr, *height_end = nullptr, *scale_end = nullptr;
    const long sample_width = strtol(argv[3], &width_end, 10);
    const long sample_height = strtol(argv[4], &height_end, 10);
    const float display_scale = strtof(argv[5], &scale_end);
    if (*width_end != '\0' || *height_end != '\0' || *scale_end != '\0' || sample_width <= 0 || sample_height <= 0 ||
        sample_width > 65536 || sample_height > 65536 || !(display_scale > 0)) {
        printf("embed_shaders: bad sizes '%s' '%s' '%s'\n%s\n", argv[3], argv[4], argv[5], usage);
        return 2;
    }
    const std::string version = argv[6];
    if (version != "design" && version != "gentle") {
        printf("embed_shaders: the version must be design or gentle, not '%s'\n%s\n", argv[6], usage);
        return 2;
    }

    std::string out = "// Generated from shaders/*.glsl at build time; edit those files instead.\n";
    out += "#include \"shaders.h\"\n\n";
    const std::vector<StageLiteral> literals = configuration_literals(
        static_cast<int>(sample_width), static_cast<int>(sample_height), display_scale, version == "gentle");
    for (const char* name : stage_names) {
        const StageText stage = load_stage(directory, name, literals);
        if (!stage.problem.empty()) {
            printf("embed_shaders: %s\n", stage.problem.c_str());
            return 1;
        }
        if (stage.text.find(")glsl\"") != std::string::npos) {
            printf("embed_shaders: %s.glsl holds the raw string's end )glsl\"\n", name);
            return 1;
        }
        out += std::string("const char ") + name + "_source[] = R\"glsl(" + stage.text + ")glsl\";\n\n";
    }

    // Written only on change, so that unchanged shaders do not recompile the program.
    std::ifstream existing(output, std::ios::binary);
    const std::string old{std::istreambuf_iterator<char>(existing), std::istreambuf_iterator<char>()};
    if (existing.is_open() && old == out)
        return 0;
    std::ofstream file(output, std::ios::binary | std::ios::trunc);
    file << out;
    if (!file.flush()) {
        printf("embed_shaders: cannot write %s\n", output.c_str());
        return 1;
    }
    return 0;
}
