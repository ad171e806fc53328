// A stage file's text made into the text the GL compiles: the file's opening comment lines dropped and the display
// configuration's literals filled in. The build embeds the stages with it; the preview rebuilds them with it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The stages, by file name without ".glsl", in the order they are embedded (each becomes NAME_source).
constexpr const char* const stage_names[] = {"common",  "transform", "bound",  "sample", "effect1", "effect2",
                                             "effect3", "greet",     "vertex", "filter", "display"};
constexpr size_t stage_count = sizeof stage_names / sizeof stage_names[0];

// Where a stage name stands in stage_names, or stage_count for a name that is none.
size_t stage_index(const char* name);

// A placeholder @NAME@ of the stage files and the text it stands for.
struct StageLiteral {
    std::string name;
    std::string value;
};

// A display configuration's literals: SAMPLE_SIZE and FILTER_DIRECTION_TEST from its sample buffer's size,
// DISPLAY_SCALE from its display scale, and the cloud's CLOUD_FLASH_SIZE, CUBE_SWING and CUBE_PULSE from its
// version of the show: the design's, or the gentle one that stays below the flash thresholds.
std::vector<StageLiteral> configuration_literals(int sample_width, int sample_height, float display_scale, bool gentle);

// A stage as the GL gets it, or why it cannot be made.
struct StageText {
    std::string text;      // the GL's text, when problem is empty
    std::string problem;   // "effect1.glsl: unknown placeholder @X@", "cannot read DIR/effect1.glsl", ...
};

// The GL's text of one stage file's contents: leading lines that start with "//" removed, every @NAME@ of literals
// replaced by its value; any other @NAME@ (capitals and underscores) is reported as unknown.
StageText stage_text(const std::string& file_name, const std::string& contents,
                     const std::vector<StageLiteral>& literals);

// No stage comes near this size; a larger file is refused rather than read.
constexpr long stage_file_limit = 1L << 20;

// The same for the file DIR/NAME.glsl, read from disk: "cannot read PATH: WHY" for a file that is missing, a
// directory, a fifo or a device (never waited on), larger than stage_file_limit, or changed while it was read.
StageText load_stage(const std::string& directory, const char* name, const std::vector<StageLiteral>& literals);
