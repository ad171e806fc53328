// The title batch: its buffer as generate_greet fills it, an all-space text, and the title stage's motion through
// transform feedback at the moments where it stands, slides and parks.
#include <string>
#include <vector>

#include "drawables.h"
#include "gl_harness.h"
#include "letters.h"
#include "programs.h"
#include "scene_model.h"
#include "shaders.h"

namespace {

TEST(Title, BufferHoldsScaledGlyphCellsInBlack)
{
    const Drawable title = generate_greet("velquorin", g1);
    ASSERT_EQ(title.count, 89u) << "lit cells of v e l q u o r i n";
    EXPECT_EQ(title.program, g1);
    EXPECT_EQ(title.time_uniform, glGetUniformLocation(g1, "time"));

    std::vector<ParticleVertex> records(89);
    glBindBuffer(GL_ARRAY_BUFFER, title.buffer);
    GLint bytes = 0;
    glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &bytes);
    EXPECT_EQ(bytes, 89 * 40) << "40 bytes per particle";
    glGetBufferSubData(GL_ARRAY_BUFFER, 0, GLsizeiptr{89} * 40, records.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);

    const auto cells = numerify("velquorin");
    for (size_t n = 0; n < 89; n++) {
        const ParticleVertex& r = records[n];
        for (int c = 0; c < 3; c++) {
            const float expected = 0.03f * cells[n](c, 0);
            ASSERT_EQ(r.pos1[c], expected) << "cell " << n << " component " << c << " is 0.03 x its glyph point";
            ASSERT_EQ(r.pos2[c], expected) << "cell " << n << " component " << c;
            ASSERT_EQ(r.color[c], 0.0f) << "cell " << n << " is black";
        }
        ASSERT_EQ(r.size, 0.05f) << "cell " << n;
    }
    EXPECT_FLOAT_EQ(records.front().pos1[0], 0.03f * -22.5f) << "the v's top-left cell";
    EXPECT_FLOAT_EQ(records.back().pos1[0], 0.03f * 20.5f) << "the n's bottom-right cell";
}

TEST(Title, TextOfSpacesMakesAnEmptyBatchThatDrawsNothing)
{
    Drawable empty{};
    // Mapping an empty buffer may fail and print its message; nothing else may happen.
    const std::string printed = capture_stdout([&] { empty = generate_greet("     ", g1); });
    EXPECT_EQ(empty.count, 0u);
    EXPECT_TRUE(printed.empty() || printed == "Error: glMapBuffer() failed\n") << "printed: " << printed;
    while (glGetError() != GL_NO_ERROR) { }
    EXPECT_EQ(count_primitives([&] { draw_batch(empty, 0.5f); }), 0u) << "no points, so no quads";
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << "drawing an empty batch is no error";
}

TEST(Title, StandsThenLeavesLeftThenParksRight)
{
    // off at time and at time + 1/60: 0 in place, -smoothstep(1, 1.5, t) leaving, 1 parked (4 scene units right).
    // smoothstep(1, 1.5, t) = u^2 (3 - 2u) with u = 2 (t - 1).
    const struct {
        float time;
        double off1, off2;
    } table[] = {
        {0.0f, 0, 0},
        {0.5f, 0, 0},
        {1.0f, 0, -0.0032593},       // u = 1/30 a sixtieth later
        {1.25f, -0.5, -0.5499259},   // u = 1/2, then 8/15
        {1.4999f, -0.9999999, 1},    // almost gone left; a sixtieth later parked right: the streak spans the jump
        {1.5f, 1, 1},
        {2.0f, 1, 1},
        {100.0f, 1, 1},
    };
    const GLuint program = vertex_block_program(greet_source);
    const Drawable title = generate_greet("velquorin", program);
    const auto cells = numerify("velquorin");

    for (const auto& row : table) {
        EXPECT_NEAR(model::title_offset(row.time), row.off1, 1e-6) << "the model's offset at " << row.time;
        const std::vector<model::Particle> gpu = capture_vertex_block(program, title.vertex_array, 89, row.time);
        for (size_t n = 0; n < 89; n++) {
            const double x = 0.03f * cells[n](0, 0), y = 0.03f * cells[n](1, 0);
            const model::Vec3 at1 = model::project(0.0, model::Vec3{x + 4 * row.off1, y, 0});
            const model::Vec3 at2 = model::project(0.0, model::Vec3{x + 4 * row.off2, y, 0});
            ASSERT_TRUE(position_matches(gpu[n].pos1, at1))
                << "time " << row.time << " cell " << n << " pos1 (" << gpu[n].pos1.x << ", " << gpu[n].pos1.y << ", "
                << gpu[n].pos1.z << "), expected (" << at1.x << ", " << at1.y << ", " << at1.z << ")";
            ASSERT_TRUE(position_matches(gpu[n].pos2, at2))
                << "time " << row.time << " cell " << n << " pos2 (" << gpu[n].pos2.x << ", " << gpu[n].pos2.y << ", "
                << gpu[n].pos2.z << "), expected (" << at2.x << ", " << at2.y << ", " << at2.z << ")";
            ASSERT_EQ(gpu[n].size, 0.05f);
            ASSERT_EQ(gpu[n].color.x, 0.0);
        }
    }

    // In place the title is centred on x = -1 glyph unit: its cells span the image around the centre.
    const std::vector<model::Particle> standing = capture_vertex_block(program, title.vertex_array, 89, 0.5f);
    EXPECT_LT(standing.front().pos1.x, -0.4) << "the v's left edge";
    EXPECT_GT(standing.back().pos1.x, 0.4) << "the n's right edge";
}

}   // namespace
