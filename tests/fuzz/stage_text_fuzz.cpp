// Fuzz target: any text as a stage file, made into the GL's text as the build and the preview make it, with the
// literals of a display configuration. The first byte picks the stage's name.
#include <cstdint>
#include <string>
#include <vector>

#include "stage_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size == 0)
        return 0;
    static const std::vector<StageLiteral> literals = configuration_literals(3840, 2400, 1.0f, false);
    const std::string name = std::string(stage_names[bytes[0] % stage_count]) + ".glsl";
    const StageText stage = stage_text(name, std::string(reinterpret_cast<const char*>(bytes) + 1, size - 1), literals);
    // A reason comes without a text; a text has every placeholder filled in.
    if (!stage.problem.empty() && !stage.text.empty())
        __builtin_trap();
    for (const StageLiteral& literal : literals)
        if (stage.problem.empty() && stage.text.find("@" + literal.name + "@") != std::string::npos)
            __builtin_trap();
    return 0;
}
