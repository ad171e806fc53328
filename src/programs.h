// Building the GL programs from the embedded stage sources, and printing compiler and linker logs.
#pragma once

#include "gl.h"

extern GLuint filter_prog;    // reduction passes 1 and 2
extern GLuint display_prog;   // display pass 3
extern GLuint sample_prog;    // buffer particles on the turntable
extern GLuint effect1;        // ring
extern GLuint effect2;        // helix
extern GLuint effect3;        // cloud
extern GLuint g1;             // title

// Prints the info log of a shader or program object; an empty log prints nothing.
void printLog(GLuint object);

// Compiles each stage as common_source followed by its own text, in the order vertex, fragment, geometry
// (geometry may be null), and links. The name is stored before anything is compiled; failures are only printed.
void init_shader(const char* vertex, const char* geometry, const char* fragment, GLuint* program);

// Builds every program of the demo, in drawing-independent start-up order.
void build_programs();
