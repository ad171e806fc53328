// The render targets and the passes of one frame: particles into the sample buffer, two reductions, display.
#pragma once

#include "gl.h"

extern GLuint fbo_sample;   // the sample buffer: 4 x 4 samples per filtered pixel
extern GLuint sample_tex;
extern GLuint depth_sample;
extern GLuint fbo_x;   // reduced 4:1 along x
extern GLuint fbo_xtex;
extern GLuint fbo_y;   // reduced 4:1 along y as well: the filtered image
extern GLuint fbo_ytex;

// Creates the X target, the Y target and the sample buffer with its depth, in that order.
void create_render_targets();

// Lets colours and filter sums stay unclamped floating-point values until the window.
void disable_colour_clamping();

// The passes of one frame, in the order render_frame runs them. Each binds its own target and viewport.
// The sample pass: the sample buffer bound with the depth test on, cleared to white and depth 1.
void clear_sample_buffer();
// Every draw operation of draw_ops at time t (seconds), in list order; ends the sample pass with the depth test
// off, as the filter passes need it.
void draw_particles(float t);
// Pass 1: sample_tex through filter_prog into fbo_x, 4:1 along x.
void reduce_along_x();
// Pass 2: fbo_xtex through filter_prog into fbo_y, 4:1 along y.
void reduce_along_y();
// Pass 3: fbo_ytex through display_prog into the window; both stay bound until the next frame.
void display_filtered_image();

// Draws every batch of the draw list at time t (seconds) and filters the result into the window.
void render_frame(float t);
