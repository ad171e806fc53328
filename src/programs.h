// Building the GL programs from the embedded stage sources, rebuilding them from new stage texts, and printing
// compiler and linker logs.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "gl.h"
#include "stage_text.h"

extern GLuint filter_prog;    // reduction passes 1 and 2
extern GLuint display_prog;   // display pass 3
extern GLuint sample_prog;    // buffer particles on the turntable
extern GLuint effect1;        // ring
extern GLuint effect2;        // helix
extern GLuint effect3;        // cloud
extern GLuint g1;             // title

// One program of the show: where its name is kept and its stages by name (stage_names; no geometry stage: null).
struct ProgramRecipe {
    GLuint* program;
    const char* vertex;
    const char* geometry;
    const char* fragment;
};
constexpr size_t program_count = 7;
// Every program, in start-up order.
extern const ProgramRecipe program_recipes[program_count];

// Prints the info log of a shader or program object; an empty log prints nothing.
void printLog(GLuint object);

// Compiles each stage as common_source followed by its own text, in the order vertex, fragment, geometry
// (geometry may be null), and links. The name is stored before anything is compiled; failures are only printed.
void init_shader(const char* vertex, const char* geometry, const char* fragment, GLuint* program);

// Builds every program of the demo from the embedded stages, in the order of program_recipes.
void build_programs();

// The embedded text of stage_names[index].
const char* embedded_stage(size_t index);

// Builds every program again from these stage texts (the GL's texts, in the order of stage_names; each program's
// stages prefixed by the "common" text), printing the logs as build_programs does. Only when every program links do
// the new programs replace the old ones (deleted), and the draw list is made again for them; otherwise the new ones
// are deleted and the old ones stay in use. Returns whether the new programs are in use.
bool rebuild_programs(const std::vector<std::string>& stage_texts);
