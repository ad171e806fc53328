// The ring, helix and cloud vertex stages against the independent CPU model, through transform feedback of their
// Vertex block on llvmpipe: worked values, every timeline threshold, ordinary times, and the hash.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "drawables.h"
#include "gl_harness.h"
#include "scene_model.h"
#include "shaders.h"

// Tolerances: positions as position_matches() in gl_harness.h states them; colours from rand3 see hash_close().
namespace {

constexpr double spot_radius = 0.001;   // points on the viewing axis land within this of the centre
// One float ulp of sin (6e-8) times 43758.5453, rounded up to the product's ulp.
constexpr double hash_tol = 1.0 / 256;

struct Scene {
    const char* name;
    const char* source;
    int count;
};
const Scene ring{"ring", effect1_source, 500};
const Scene helix{"helix", effect2_source, 500};
const Scene cloud{"cloud", effect3_source, 200};

std::string vec(const model::Vec3& v)
{
    char text[96];
    snprintf(text, sizeof text, "(%.6f, %.6f, %.6f)", v.x, v.y, v.z);
    return text;
}

bool in_flash(float t)
{
    return t > 4.3f && t < 4.5f;
}

// rand(x, x) as llvmpipe evaluates it: the compiler folds x * 12.9898 + x * 78.233 into x * 91.2228, which rounds
// differently, and the hash turns that rounding into a different value.
double folded_rand_diagonal(float x)
{
    const float s = static_cast<float>(std::sin(static_cast<double>(x * (12.9898f + 78.233f))));
    const float v = s * 43758.5453f;
    return v - std::floor(v);
}

double cyclic_distance(double a, double b)
{
    const double d = std::abs(a - b);
    return std::min(d, 1.0 - d);   // 0.999 and 0.001 are neighbours for fract()
}

// A colour the model computes as rand3(x): the first two components within hash_tol of the model's; the third
// within hash_tol of either the model's or the folded form.
bool hash_close(const model::Vec3& gpu, const model::Vec3& cpu, float x)
{
    return cyclic_distance(gpu.x, cpu.x) <= hash_tol && cyclic_distance(gpu.y, cpu.y) <= hash_tol &&
           (cyclic_distance(gpu.z, cpu.z) <= hash_tol || cyclic_distance(gpu.z, folded_rand_diagonal(x)) <= hash_tol);
}

bool hash_matches(const model::Vec3& gpu, float x)
{
    return hash_close(gpu, model::rand3(x), x);
}

float helix_colour_seed(float time)
{
    const float t = time + model::sixtieth;   // the second call decides
    const float v = 3.0f * t;
    return v - std::floor(v);
}

// Every particle of a scene at one time: GPU against model; reports the first mismatch and counts the rest.
void expect_scene_matches_model(const Scene& scene, float time)
{
    const std::vector<model::Particle> gpu = capture_scene(scene.source, scene.count, time);
    size_t wrong = 0;
    std::string first;
    for (int k = 0; k < scene.count; k++) {
        const model::Particle& g = gpu[static_cast<size_t>(k)];
        model::Particle m;
        bool colour_ok = true;
        if (&scene == &ring) {
            m = model::ring(k, time);
        } else if (&scene == &helix) {
            m = model::helix(k, time);
            if (std::abs(m.color.y - 0.7) > 1e-6) {   // the model's random colour: compared as a hash
                colour_ok = hash_close(g.color, m.color, helix_colour_seed(time));
                m.color = g.color;
            }
        } else {
            // The cloud is placed by the same triple that colours it: the GPU's own colour seeds the model's
            // positions, and the colour itself is checked as a hash.
            colour_ok = hash_matches(g.color, model::parameter(k));
            m = model::cloud(k, time, &g.color);
        }
        const bool flash1 = &scene == &cloud && in_flash(time);
        const bool flash2 = &scene == &cloud && in_flash(time + model::sixtieth);
        const bool ok = colour_ok && position_matches(g.pos1, m.pos1, flash1) &&
                        position_matches(g.pos2, m.pos2, flash2) && g.color.x == static_cast<float>(m.color.x) &&
                        g.color.y == static_cast<float>(m.color.y) && g.color.z == static_cast<float>(m.color.z) &&
                        g.size == static_cast<float>(m.size);
        if (!ok && wrong++ == 0)
            first = "particle " + std::to_string(k) + ": GPU pos1 " + vec(g.pos1) + " pos2 " + vec(g.pos2) +
                    " colour " + vec(g.color) + " size " + std::to_string(g.size) + "; model pos1 " + vec(m.pos1) +
                    " pos2 " + vec(m.pos2) + " colour " + vec(m.color) + " size " + std::to_string(m.size);
    }
    EXPECT_EQ(wrong, 0u) << scene.name << " at time " << time << ": " << wrong << " of " << scene.count
                         << " particles differ from the model; first " << first;
}

// Times that straddle every threshold of the timeline: both ends before, only time + 1/60 past it, exactly at it,
// and just after; then ordinary moments up to the end of the run.
struct Moment {
    float time;
    const char* what;
};
const Moment timeline[] = {
    {4.28f, "both ends before the flash"},
    {4.29f, "only the second end in the flash"},
    {4.3f, "at the flash's start"},
    {4.305f, "in the flash"},
    {4.38f, "flash rising"},
    {4.39f, "second end past the flash's peak"},
    {4.4f, "flash at full width"},
    {4.405f, "flash falling"},
    {4.48f, "both ends in the flash"},
    {4.49f, "only the first end in the flash"},
    {4.5f, "at the flash's end"},
    {4.505f, "after the flash"},
    {8.98f, "both ends before the cube"},
    {8.99f, "only the second end in the cube"},
    {9.0f, "at the cube's start"},
    {9.005f, "cube growing"},
    {9.18f, "both ends before the waves"},
    {9.19f, "only the second end with waves"},
    {9.2f, "at the waves' start"},
    {9.205f, "waves"},
    {9.48f, "cube still growing"},
    {9.49f, "only the second end at full width"},
    {9.5f, "at full width"},
    {9.505f, "full width"},
    {35.48f, "full width"},
    {35.49f, "only the second end shrinking"},
    {35.5f, "at the shrink's start"},
    {35.505f, "cube shrinking"},
    {35.98f, "cube nearly gone"},
    {35.99f, "second end at the ribbon's gap"},
    {36.0f, "at 36: spot, then ribbon"},
    {36.005f, "ribbon"},
    {36.98f, "both ends before the slow part"},
    {36.99f, "only the second end slow"},
    {37.0f, "at the slow part's start"},
    {37.005f, "slow part"},
    {94.98f, "both ends before the return"},
    {94.99f, "only the second end returned"},
    {95.0f, "at the return"},
    {95.005f, "returned"},
    {0.0f, "start"},
    {0.5f, "title in place"},
    {2.0f, "before the flash"},
    {3.0f, "spot"},
    {7.0f, "spot"},
    {20.0f, "cube"},
    {50.0f, "ribbon"},
    {60.0f, "ribbon"},
    {80.0f, "ribbon"},
    {100.0f, "late cube"},
    {110.0f, "late cube"},
    {120.0f, "late cube"},
    {130.0f, "late cube"},
    {135.99f, "last frame"},
    {136.0f, "end of the run"},
};

TEST(Scenes, MatchTheModelAcrossTheTimeline)
{
    for (const Moment& m : timeline) {
        SCOPED_TRACE(std::string("time ") + std::to_string(m.time) + ": " + m.what);
        expect_scene_matches_model(ring, m.time);
        expect_scene_matches_model(helix, m.time);
        expect_scene_matches_model(cloud, m.time);
    }
}

TEST(Scenes, RingParticle250AtTheStart)
{
    // The scene point (0, 0.6, 1): image (0, -0.3580), depth value 0.8162; a sixtieth later (0.0062, -0.3579).
    // Values given to four places (5e-5) plus the GPU's image error (1.3e-4).
    const model::Particle g = capture_scene(ring.source, ring.count, 0.0f)[250];
    EXPECT_NEAR(g.pos1.x, 0.0, 2e-4);
    EXPECT_NEAR(g.pos1.y, -0.3580, 2e-4);
    EXPECT_NEAR(g.pos1.z, 0.8162, 5e-5);
    EXPECT_NEAR(g.pos2.x, 0.0062, 2e-4);
    EXPECT_NEAR(g.pos2.y, -0.3579, 2e-4);
    EXPECT_EQ(g.color.x, 0.6f);
    EXPECT_EQ(g.size, 0.04f);
}

TEST(Scenes, CloudIsOneSpotAtTheCentreBeforeTheFlash)
{
    const std::vector<model::Particle> gpu = capture_scene(cloud.source, cloud.count, 3.0f);
    for (int k = 0; k < cloud.count; k++) {
        const model::Particle& g = gpu[static_cast<size_t>(k)];
        ASSERT_LE(std::hypot(g.pos1.x, g.pos1.y), spot_radius) << "particle " << k << " pos1 " << vec(g.pos1);
        ASSERT_LE(std::hypot(g.pos2.x, g.pos2.y), spot_radius) << "particle " << k << " pos2 " << vec(g.pos2);
        ASSERT_NEAR(g.pos1.z, 0.6687, 5e-5) << "particle " << k;
        ASSERT_EQ(g.size, 0.1f) << "particle " << k;
    }
    EXPECT_TRUE(hash_matches(gpu[0].color, -model::pi))
        << "particle 0 is coloured rand3(-pi): GPU " << vec(gpu[0].color) << ", model "
        << vec(model::rand3(-model::pi));
}

TEST(Scenes, CloudSizeIsHalvedExactlyWhileEitherEndIsInTheFlash)
{
    // time + 1/60 enters the flash after 4.3 - 1/60 = 4.28333; time leaves it at 4.5.
    const struct {
        float time;
        float size;
    } table[] = {
        {4.282f, 0.1f}, {4.2834f, 0.05f}, {4.3f, 0.05f}, {4.4f, 0.05f}, {4.4999f, 0.05f}, {4.5f, 0.1f}, {4.6f, 0.1f},
    };
    for (const auto& row : table) {
        const std::vector<model::Particle> gpu = capture_scene(cloud.source, cloud.count, row.time);
        for (int k = 0; k < cloud.count; k++)
            ASSERT_EQ(gpu[static_cast<size_t>(k)].size, row.size) << "particle " << k << " at time " << row.time;
    }
    // When only the second end is in the flash, pos1 is the projected spot and pos2 the unprojected flash point.
    const model::Particle straddle = capture_scene(cloud.source, cloud.count, 4.2834f)[7];
    EXPECT_LE(std::hypot(straddle.pos1.x, straddle.pos1.y), spot_radius) << vec(straddle.pos1);
    EXPECT_NEAR(straddle.pos1.z, 0.6687, 5e-5);
    const float scale = 1.0f - std::fabs(4.2834f + model::sixtieth - 4.4f) * 10.0f;
    EXPECT_NEAR(straddle.pos2.x, scale * (straddle.color.x * 2 - 1), 1e-6) << "pos2 " << vec(straddle.pos2);
    EXPECT_NEAR(straddle.pos2.z, scale * (straddle.color.z * 2 - 1), 1e-6) << "unprojected: z is the depth value";
}

TEST(Scenes, HelixTurnsRandomColouredASixtiethBeforeItsJump)
{
    const model::Vec3 green{0.3f, 0.7f, 0.3f};
    const std::vector<model::Particle> before = capture_scene(helix.source, helix.count, 95.0f - 1.0f / 30);
    EXPECT_EQ(vec(before[0].color), vec(green)) << "both ends before 95 s: green";

    const float time = 95.0f - 1.0f / 120;   // time + 1/60 is past 95 s
    const std::vector<model::Particle> gpu = capture_scene(helix.source, helix.count, time);
    EXPECT_NE(vec(gpu[0].color), vec(green));
    EXPECT_TRUE(hash_matches(gpu[0].color, helix_colour_seed(time)))
        << "GPU " << vec(gpu[0].color) << ", model rand3(fract(3 (t + 1/60))) "
        << vec(model::rand3(helix_colour_seed(time)));
    for (int k = 1; k < helix.count; k++)
        ASSERT_EQ(vec(gpu[static_cast<size_t>(k)].color), vec(gpu[0].color)) << "one colour for all, particle " << k;
    // Its shape still follows the slow clock at pos1 and has jumped at pos2.
    const model::Particle m = model::helix(100, time);
    EXPECT_TRUE(position_matches(gpu[100].pos1, m.pos1)) << vec(gpu[100].pos1) << " vs " << vec(m.pos1);
    EXPECT_TRUE(position_matches(gpu[100].pos2, m.pos2)) << vec(gpu[100].pos2) << " vs " << vec(m.pos2);
    EXPECT_GT(std::hypot(m.pos2.x - m.pos1.x, m.pos2.y - m.pos1.y), 0.05) << "the jump shows in one streak";
}

TEST(Hash, ParameterIsExactAndRand3AgreesWithinItsTolerance)
{
    // The particle parameter is exact: float(k) / 1000 * 2pi * 2 - pi as the model rounds it.
    const char* stage = "out float p;\nvoid main() { p = float(gl_VertexID) / 1000.0 * pi2 * 2.0 - pi; }\n";
    const GLuint program = link_test_program(stage, nullptr, nullptr, {"p"});
    const std::vector<float> p = capture_points(program, dummy_vbo(500, program).vertex_array, 500, 0.0f, 1);
    for (int k = 0; k < 500; k++)
        ASSERT_EQ(p[static_cast<size_t>(k)], model::parameter(k)) << "parameter of vertex " << k;

    // The cloud's colours are rand3(p) for p from -pi: within hash_tol, spread over [0, 1).
    const std::vector<model::Particle> gpu = capture_scene(cloud.source, cloud.count, 0.0f);
    double low[3] = {1, 1, 1}, high[3] = {0, 0, 0}, sum[3] = {0, 0, 0};
    size_t exact = 0;
    for (int k = 0; k < cloud.count; k++) {
        const model::Vec3 c = gpu[static_cast<size_t>(k)].color;
        EXPECT_TRUE(hash_matches(c, model::parameter(k)))
            << "particle " << k << ": GPU " << vec(c) << ", model " << vec(model::rand3(model::parameter(k)));
        const double v[3] = {c.x, c.y, c.z};
        for (int i = 0; i < 3; i++) {
            EXPECT_GE(v[i], 0.0);
            EXPECT_LT(v[i], 1.0);
            low[i] = std::min(low[i], v[i]);
            high[i] = std::max(high[i], v[i]);
            sum[i] += v[i];
        }
        exact += c.x == static_cast<float>(model::rand3(model::parameter(k)).x);
    }
    for (int i = 0; i < 3; i++) {
        EXPECT_LT(low[i], 0.05) << "component " << i << " reaches near 0";
        EXPECT_GT(high[i], 0.95) << "component " << i << " reaches near 1";
        EXPECT_NEAR(sum[i] / cloud.count, 0.5, 0.06) << "component " << i << " averages one half (3 sigma: 0.06)";
    }
    // Most first components are bit-exact; the rest differ by a sin ulp times 43758.5453.
    EXPECT_GT(exact, 100u) << "first components equal to the model bit for bit";

    // rand((0, 0)) = 0, so rand3(0) = (0, 0, 0) on the GPU as in the model.
    const char* zero_stage = "out vec3 h;\nvoid main() { h = rand3(0.0); }\n";
    const GLuint zero = link_test_program(zero_stage, nullptr, nullptr, {"h"});
    const std::vector<float> h = capture_points(zero, dummy_vbo(1, zero).vertex_array, 1, 0.0f, 3);
    EXPECT_EQ(vec(model::Vec3{h[0], h[1], h[2]}), vec(model::Vec3{0, 0, 0}));
    EXPECT_EQ(vec(model::rand3(0.0f)), vec(model::Vec3{0, 0, 0}));
}

}   // namespace
