// Particle batches: their vertex layout, buffers and attribute bindings, and the list of per-frame draw operations.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "gl.h"

// One particle as the vertex stages read it: interleaved, tightly packed floats.
struct ParticleVertex {
    float pos1[3];    // scene position at the frame's start
    float pos2[3];    // scene position a sixtieth of a second later
    float color[3];   // RGB
    float size;       // disc radius in screen units before depth attenuation
};
static_assert(sizeof(ParticleVertex) == 40, "ParticleVertex must be 40 bytes");

// A batch of points drawn with one program. Its vertex array keeps the attribute bindings made for it.
struct Drawable {
    uint64_t count;   // points drawn per frame
    GLuint buffer;    // count ParticleVertex records
    GLuint program;
    GLint time_uniform;     // location of "time"
    GLint window_uniform;   // location of "window", -1 where the program has none
    GLuint vertex_array;    // this batch's attribute bindings
};

// Draw operations in drawing order, each called once per frame with the elapsed seconds.
extern std::vector<std::function<void(float)>> draw_ops;

// A batch whose buffer holds count uninitialised records: for programs that compute particles from the vertex index.
Drawable dummy_vbo(uint64_t count, GLuint program);

// A batch of 1000 points on a six-turn spiral, for sample_prog.
Drawable generate_sphere(GLuint program);

// The title: one black particle per lit glyph cell of text.
Drawable generate_greet(const char* text, GLuint program);

// The text the title batch spells.
extern const char title_text[];

// Fills draw_ops with the show's four batches in drawing order: ring, helix, cloud and the title, made with
// effect1, effect2, effect3 and g1 as they are now. The batches live until the program ends (or the next call);
// each draw operation refers to its own. Call after the programs are built; calling again replaces the list and
// the batches, for programs rebuilt under the same or new names.
void create_draw_list();

// Makes the batch's program and bindings current, sets "time" to t and draws its points; leaves nothing bound.
void draw_batch(const Drawable& batch, float t);

// Random numbers from rand(): frand in [0, 1], hrand in [-1, 1].
float frand();
float hrand();
