// Particle batches: the spiral buffer of generate_sphere, per-batch attribute bindings, and index-driven batches
// that draw their count of points with vertex indices 0 .. count - 1, and the show's draw list.
#include <cmath>
#include <string>
#include <vector>

#include "drawables.h"
#include "gl_harness.h"
#include "letters.h"
#include "programs.h"
#include "scene_model.h"
#include "shaders.h"

namespace {

std::vector<ParticleVertex> read_records(const Drawable& batch)
{
    std::vector<ParticleVertex> records(batch.count);
    glBindBuffer(GL_ARRAY_BUFFER, batch.buffer);
    glGetBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(records.size() * sizeof(ParticleVertex)),
                       records.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    return records;
}

// The spiral point i, written from its formula: s accumulated in float steps of 1/1000.
model::Vec3 spiral_point(float s)
{
    const double rho = std::sin(static_cast<double>(6.2831855f * s));
    const float turns = 6.0f * s;
    const double theta = static_cast<double>(6.2831855f * (turns - std::floor(turns)));
    return model::Vec3{std::sin(theta) * rho, std::cos(theta) * rho, s};
}

TEST(Sphere, ThousandSpiralPointsWithPos2EqualToPos1)
{
    const Drawable sphere = generate_sphere(sample_prog);
    ASSERT_EQ(sphere.count, 1000u);
    EXPECT_EQ(sphere.program, sample_prog);
    const std::vector<ParticleVertex> records = read_records(sphere);

    EXPECT_EQ(records[0].pos1[0], 0.0f) << "the first point lies at the origin of the xy plane";
    EXPECT_EQ(records[0].pos1[1], 0.0f);
    EXPECT_EQ(records[0].pos1[2], 0.0f);

    float s = 0.0f;
    int differs_from_quotient = 0;
    for (int i = 0; i < 1000; i++) {
        const ParticleVertex& r = records[static_cast<size_t>(i)];
        const model::Vec3 expected = spiral_point(s);
        const std::string where = "point " + std::to_string(i);
        // z is s itself, accumulated bit for bit; x and y from float sin/cos within 2e-6.
        ASSERT_EQ(r.pos1[2], s) << where << ": z is the accumulated s, not i / 1000 = " << i / 1000.0f;
        ASSERT_NEAR(r.pos1[0], expected.x, 2e-6) << where;
        ASSERT_NEAR(r.pos1[1], expected.y, 2e-6) << where;
        for (int c = 0; c < 3; c++) {
            ASSERT_EQ(r.pos2[c], r.pos1[c]) << where << " component " << c;
            ASSERT_EQ(r.color[c], 0.0f) << where;
        }
        ASSERT_EQ(r.size, 0.05f) << where;
        differs_from_quotient += s != static_cast<float>(i) / 1000.0f;
        s += 1.0f / 1000.0f;
    }
    EXPECT_GT(differs_from_quotient, 100) << "accumulating s differs from i / 1000 for many points, so the check above "
                                             "tells the two apart";
}

TEST(Batches, EachBatchDrawsFromItsOwnBuffer)
{
    // Two batches of the buffer vertex stage: the spiral first, then the title. Drawing the spiral afterwards must
    // still read the spiral's 1000 records, not the 89 of the batch created last.
    const GLuint program = vertex_block_program(transform_source);
    const Drawable spiral = generate_sphere(program);
    const Drawable title = generate_greet("velquorin", program);
    ASSERT_EQ(title.count, 89u);

    const std::vector<model::Particle> drawn = capture_vertex_block(program, spiral.vertex_array, 1000, 0.0f);
    float s = 0.0f;
    for (int i = 0; i < 1000; i++) {
        const model::Vec3 point = spiral_point(s);
        s += 1.0f / 1000.0f;
        const model::Vec3 expected = model::project(0.0, point);   // turntable(0) at time 0
        ASSERT_TRUE(position_matches(drawn[static_cast<size_t>(i)].pos1, expected))
            << "spiral point " << i << " drawn at (" << drawn[static_cast<size_t>(i)].pos1.x << ", "
            << drawn[static_cast<size_t>(i)].pos1.y << ", " << drawn[static_cast<size_t>(i)].pos1.z << "), expected ("
            << expected.x << ", " << expected.y << ", " << expected.z << ")";
        ASSERT_EQ(drawn[static_cast<size_t>(i)].size, 0.05f) << "spiral point " << i;
    }

    const std::vector<model::Particle> title_drawn = capture_vertex_block(program, title.vertex_array, 89, 0.0f);
    const auto cells = numerify("velquorin");
    for (size_t n = 0; n < 89; n++) {
        const model::Vec3 base{0.03f * cells[n](0, 0), 0.03f * cells[n](1, 0), 0.0};
        ASSERT_TRUE(position_matches(title_drawn[n].pos1, model::project(0.0, base))) << "title cell " << n;
    }
}

TEST(Batches, RingDrawnAfterTheTitleWasCreatedIsStillTheRing)
{
    // The demo's order: the ring's batch exists before the title's; drawing it afterwards gives the ring.
    const GLuint ring_program = vertex_block_program(effect1_source);
    const Drawable ring = dummy_vbo(500, ring_program);
    const Drawable title = generate_greet("velquorin", g1);
    (void)title;
    const std::vector<model::Particle> drawn = capture_vertex_block(ring_program, ring.vertex_array, 500, 2.0f);
    for (int k = 0; k < 500; k++)
        ASSERT_TRUE(position_matches(drawn[static_cast<size_t>(k)].pos1, model::ring(k, 2.0f).pos1))
            << "ring particle " << k;
}

TEST(Batches, IndexDrivenBatchDrawsItsCountOfIndices)
{
    // A stage that reads no attribute and reports its vertex index.
    const char* stage = "out float index;\nvoid main() { index = float(gl_VertexID); }\n";
    const GLuint program = link_test_program(stage, nullptr, nullptr, {"index"});
    const Drawable batch = dummy_vbo(500, program);
    EXPECT_EQ(batch.count, 500u);

    const GLuint points = count_primitives([&] { draw_batch(batch, 0.0f); });
    EXPECT_EQ(points, 500u) << "the draw operation draws count points";

    const std::vector<float> indices = capture_points(program, batch.vertex_array, 500, 0.0f, 1);
    for (int k = 0; k < 500; k++)
        ASSERT_EQ(indices[static_cast<size_t>(k)], static_cast<float>(k)) << "point " << k << " has index " << k;

    // The ring's own program: one quad per particle out of the geometry stage, cut down to at most 8 corners (two
    // to six triangles).
    const Drawable ring = dummy_vbo(500, effect1);
    const GLuint triangles = count_primitives([&] { draw_batch(ring, 0.0f); });
    EXPECT_TRUE(triangles >= 1000u && triangles <= 3000u) << "500 quads of two to six triangles, not " << triangles;
    GLint current = -1;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(current, 0) << "a draw operation leaves no program current";
    GLint bound = -1;
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &bound);
    EXPECT_EQ(bound, 0) << "a draw operation leaves no buffer bound";
}

}   // namespace

// The show's draw list: ring, helix, cloud and title, each operation drawing one quad (two to six triangles) per
// particle of its batch.
// Made again (as after programs are rebuilt), the list is replaced, not extended, and draws the same.
TEST(Batches, ShowDrawListDrawsEachBatchAndCanBeMadeAgain)
{
    const GLuint title_cells = static_cast<GLuint>(numerify(title_text).size());
    const GLuint quads[] = {500, 500, 200, title_cells};
    for (int round = 0; round < 2; round++) {
        SCOPED_TRACE(round == 0 ? "the list of the start-up" : "the list made again");
        ASSERT_EQ(draw_ops.size(), 4u);
        for (size_t n = 0; n < 4; n++) {
            const GLuint triangles = count_primitives([n] { draw_ops[n](0.5f); });
            EXPECT_TRUE(triangles >= 2 * quads[n] && triangles <= 6 * quads[n])
                << "draw operation " << n << ": " << quads[n] << " quads of two to six triangles, not " << triangles;
        }
        create_draw_list();
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
