// The render targets and the passes of one frame: particles into the sample buffer, two reductions, display.
#include "render.h"

#include <cstdio>

#include "display_config.h"
#include "drawables.h"
#include "programs.h"

GLuint fbo_sample;
GLuint sample_tex;
GLuint depth_sample;
GLuint fbo_x;
GLuint fbo_xtex;
GLuint fbo_y;
GLuint fbo_ytex;

// A half-float RGB rectangle texture as colour attachment 0 of a new framebuffer. Its magnification filter is
// nearest; the minification filter is set too where it is given, and otherwise keeps the default, linear.
static void create_colour_target(GLuint* texture, GLuint* framebuffer, int width, int height, GLint min_filter = 0)
{
    glGenTextures(1, texture);
    glBindTexture(GL_TEXTURE_RECTANGLE, *texture);
    glTexParameteri(GL_TEXTURE_RECTANGLE, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    if (min_filter)
        glTexParameteri(GL_TEXTURE_RECTANGLE, GL_TEXTURE_MIN_FILTER, min_filter);
    glTexImage2D(GL_TEXTURE_RECTANGLE, 0, GL_RGB16F, width, height, 0, GL_RGB, GL_FLOAT, nullptr);
    glBindTexture(GL_TEXTURE_RECTANGLE, 0);

    glGenFramebuffers(1, framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, *framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_RECTANGLE, *texture, 0);

    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
        printf("could not init fb\n");
}

void create_render_targets()
{
    // The reductions fetch their texels unfiltered and average them themselves, so the filters of the sample
    // buffer and the X target do not matter, nor whether the driver judges a read minified or magnified.
    create_colour_target(&fbo_xtex, &fbo_x, filtered_width, sample_height);
    // The display pass reads the Y target 1:1 or doubled through the filter, and must not smooth it. Some
    // drivers (Mesa's llvmpipe) filter a twofold magnification of a rectangle texture with the minification
    // filter: nearest both ways.
    create_colour_target(&fbo_ytex, &fbo_y, filtered_width, filtered_height, GL_NEAREST);
    create_colour_target(&sample_tex, &fbo_sample, sample_width, sample_height);

    // The sample buffer's depth: a fixed-point format, so the misses' depth of 1.95 clamps to 1.
    glGenRenderbuffers(1, &depth_sample);
    glBindRenderbuffer(GL_RENDERBUFFER, depth_sample);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT, sample_width, sample_height);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo_sample);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth_sample);
}

void disable_colour_clamping()
{
    glClampColor(GL_CLAMP_FRAGMENT_COLOR, GL_FALSE);
    glClampColor(GL_CLAMP_VERTEX_COLOR, GL_FALSE);
    glClampColor(GL_CLAMP_READ_COLOR, GL_FALSE);
}

void clear_sample_buffer()
{
    // Particles: nearest hit wins per sample; nothing is blended.
    glEnable(GL_DEPTH_TEST);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo_sample);
    glViewport(0, 0, sample_width, sample_height);
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void draw_particles(float t)
{
    for (const auto& draw : draw_ops)
        draw(t);
    glDisable(GL_DEPTH_TEST);
}

// One full-viewport pass: the source texture on unit 0 (where `tex` reads), the program, one rectangle.
// Each rectangle overwrites its whole target, so none is cleared.
static void full_view_pass(GLuint framebuffer, int width, int height, GLuint source, GLuint program)
{
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glViewport(0, 0, width, height);
    glBindTexture(GL_TEXTURE_RECTANGLE, source);
    glUseProgram(program);
    glRecti(-1, -1, 1, 1);
}

// Pass 1 must read the sample buffer: the filter picks its axis by the width of its source.
void reduce_along_x()
{
    full_view_pass(fbo_x, filtered_width, sample_height, sample_tex, filter_prog);
}

void reduce_along_y()
{
    full_view_pass(fbo_y, filtered_width, filtered_height, fbo_xtex, filter_prog);
}

void display_filtered_image()
{
    full_view_pass(0, window_width, window_height, fbo_ytex, display_prog);
}

void render_frame(float t)
{
    clear_sample_buffer();
    draw_particles(t);
    reduce_along_x();
    reduce_along_y();
    display_filtered_image();
}
