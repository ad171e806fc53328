// embed_shaders: writes the C++ file of the GLSL stages as string constants, with this build's literals.
// Usage: embed_shaders SHADER_DIR OUTPUT. Run by the build before anything that includes the stages is compiled.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "stage_text.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        printf("usage: embed_shaders SHADER_DIR OUTPUT\n");
        return 2;
    }
    const std::string directory = argv[1], output = argv[2];

    std::string out = "// Generated from shaders/*.glsl at build time; edit those files instead.\n";
    out += "#include \"shaders.h\"\n\n";
    const std::vector<StageLiteral> literals = configuration_literals();
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
