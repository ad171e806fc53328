// Shared support for the GL tests: one SDL window per test binary, readback, probes and transform feedback.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "gl.h"
#include "scene_model.h"

// Everything create_show() printed when the test environment set up the show: the programs' logs above all.
// The environment opens the window with open_window() and leaves the show's four batches in draw_ops.
const std::string& program_build_log();

// Runs f with standard output (file descriptor 1) redirected, and returns what was written there.
std::string capture_stdout(const std::function<void()>& f);

struct Rgb {
    double r, g, b;
};

// A rectangle of RGB floats read back from a framebuffer; pixel (x, y) in GL's bottom-up window coordinates.
struct FloatRegion {
    int x0 = 0, y0 = 0, width = 0, height = 0;
    std::vector<float> rgb;
    Rgb at(int x, int y) const;
};

// Reads a rectangle of colour attachment 0 of framebuffer (0: the window's back buffer) as unclamped floats.
FloatRegion read_rgb(GLuint framebuffer, int x, int y, int width, int height);
// The same as 8-bit values, the way the window stores them.
std::vector<unsigned char> read_rgb8(GLuint framebuffer, int x, int y, int width, int height);
// Depth values of a rectangle of framebuffer's depth attachment.
std::vector<float> read_depth(GLuint framebuffer, int x, int y, int width, int height);

// Compares one probed colour with an expected one: every channel within tol, else a message with both and where.
::testing::AssertionResult probe_near(const std::string& where, const Rgb& got, const Rgb& expected, double tol);

// A program of the given stages, each compiled as common_source followed by the stage's text, like the demo's,
// but with its status checked: the test fails with the logs if it does not link. geometry and fragment may be null.
// feedback: transform-feedback varyings captured interleaved, set before linking.
GLuint link_test_program(const char* vertex, const char* geometry, const char* fragment,
                         const std::vector<const char*>& feedback = {});

// Draws count points of program with the given vertex array at "time" = time with rasterization off, and returns
// the interleaved transform-feedback capture: floats_per_vertex floats for each vertex.
std::vector<float> capture_points(GLuint program, GLuint vertex_array, int count, float time, int floats_per_vertex);

// A program of one particle vertex stage alone (common_source + stage) whose Vertex block is captured.
GLuint vertex_block_program(const char* stage);
// The Vertex block (pos1, pos2, color, size) of count points drawn with vertex_array at the given time.
std::vector<model::Particle> capture_vertex_block(GLuint program, GLuint vertex_array, int count, float time);
// The same for a scene stage that computes its particles from the vertex index (ring, helix, cloud).
std::vector<model::Particle> capture_scene(const char* stage, int count, float time);

// Whether a GPU-computed particle position matches the model's.
// Tolerances, measured on llvmpipe (Mesa 22.3) and explained:
// - image x and y: 2e-4 plus 0.8 eps / D, depth value: 2e-6 plus 0.25 depth eps / D, where D = 5 depth^4 is the
//   point's distance from the viewer. The 2e-4: the GPU's acos is a polynomial approximation, off by up to
//   1.6e-4 radians, which the fisheye scales by 0.8; its sin and cos agree with double precision within 7e-8 even
//   at arguments of 4000 (30 t at 136 s), so late times need no extra allowance. eps = 1e-4 scene units: the
//   compiler may contract or reorder the float arithmetic of clocks and arguments (the helix's clock at
//   time + 1/60 differs from the model's by a few ulps), which moves a point by up to 3e-5 scene units, and a
//   point near the viewer (the helix passes within 0.01 of it) magnifies that by 1 / D.
// - on the viewing axis the direction atan(0, 0) is undefined: there only the distance from the centre is
//   compared, within 0.001.
// - unprojected points (the cloud's flash): 1e-6 in each component.
bool position_matches(const model::Vec3& gpu, const model::Vec3& cpu, bool unprojected = false);

// Number of primitives the vertex (and geometry) stages produce while draw runs.
GLuint count_primitives(const std::function<void()>& draw);

// Runs f with list as the draw list, restoring the show's list afterwards.
void with_draw_list(std::vector<std::function<void(float)>> list, const std::function<void()>& f);
// Runs f with an empty draw list, restoring the list afterwards.
void with_empty_draw_list(const std::function<void()>& f);
