// The render targets and the passes of one frame: particles into the sample buffer, two reductions, display.
#pragma once

#include "gl.h"

extern GLuint fbo_sample;     // the sample buffer: 4 x 4 samples per filtered pixel
extern GLuint sample_tex;
extern GLuint depth_sample;
extern GLuint fbo_x;          // reduced 4:1 along x
extern GLuint fbo_xtex;
extern GLuint fbo_y;          // reduced 4:1 along y as well: the filtered image
extern GLuint fbo_ytex;

// Creates the X target, the Y target and the sample buffer with its depth, in that order.
void create_render_targets();

// Lets colours and filter sums stay unclamped floating-point values until the window.
void disable_colour_clamping();

// Draws every batch of the draw list at time t (seconds) and filters the result into the window.
void render_frame(float t);
