// The streak stages (geometry bound_source, fragment sample_source) in the real sample buffer, fed by a test
// vertex stage that passes buffer values through as image position and depth value: discs, streaks, depth order.
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "display_config.h"
#include "drawables.h"
#include "gl_harness.h"
#include "render.h"
#include "shaders.h"

namespace {

// Image positions straight from the buffer: pos1/pos2 are (image x, image y, depth value).
const char pass_through_stage[] = R"glsl(
in vec3 pos1;
in vec3 pos2;
in vec3 color;
in float size;
out Vertex {
    vec3 pos1;
    vec3 pos2;
    vec3 color;
    float size;
} vertex;
void main()
{
    vertex.pos1 = pos1;
    vertex.pos2 = pos2;
    vertex.color = color;
    vertex.size = size;
}
)glsl";

constexpr double samples_per_unit = 1200.0;   // samples per screen unit along both axes
constexpr double rim_margin = 1e-5;           // screen units (0.012 samples) of float rounding kept out of probes
constexpr float frame_time = 12.25f;          // any time: it only seeds the sampling pattern

GLuint streak_program()
{
    static const GLuint program = link_test_program(pass_through_stage, bound_source, sample_source);
    return program;
}

ParticleVertex particle(double x1, double y1, double x2, double y2, double depth, double size, const Rgb& colour)
{
    const auto f = [](double v) { return static_cast<float>(v); };
    return ParticleVertex{
        {f(x1), f(y1), f(depth)}, {f(x2), f(y2), f(depth)}, {f(colour.r), f(colour.g), f(colour.b)}, f(size)};
}

ParticleVertex still(double x, double y, double depth, double size, const Rgb& colour)
{
    return particle(x, y, x, y, depth, size, colour);
}

// A batch of the given particles, made like the demo's batches and filled through its buffer.
Drawable batch_of(const std::vector<ParticleVertex>& particles)
{
    const Drawable batch = dummy_vbo(particles.size(), streak_program());
    glBindBuffer(GL_ARRAY_BUFFER, batch.buffer);
    glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(particles.size() * sizeof(ParticleVertex)),
                    particles.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    return batch;
}

// The sample pass of a frame, as the frame runs it, with the given batches as its draw list.
// A query, if given, counts fragment-stage invocations of the last batch.
void draw_samples(const std::vector<Drawable>& batches, GLuint invocation_query = 0)
{
    std::vector<std::function<void(float)>> list;
    for (size_t n = 0; n < batches.size(); n++) {
        const bool counted = invocation_query && n + 1 == batches.size();
        list.push_back([&batches, n, counted, invocation_query](float t) {
            if (counted)
                glBeginQuery(GL_FRAGMENT_SHADER_INVOCATIONS_ARB, invocation_query);
            draw_batch(batches[n], t);
            if (counted)
                glEndQuery(GL_FRAGMENT_SHADER_INVOCATIONS_ARB);
        });
    }
    with_draw_list(std::move(list), [] {
        clear_sample_buffer();
        draw_particles(frame_time);
    });
}

// Centre of sample (i, j) in screen units, and of image position (x, y).
double sample_x(int i)
{
    return ((i + 0.5) / sample_width * 2.0 - 1.0) * 1.6;
}
double sample_y(int j)
{
    return (j + 0.5) / sample_height * 2.0 - 1.0;
}
// The sample whose area holds image position x (or y); positions on a sample corner give the upper sample.
int sample_column(double image_x)
{
    return static_cast<int>(std::floor((image_x + 1.0) * 0.5 * sample_width + 1e-6));
}
int sample_row(double image_y)
{
    return static_cast<int>(std::floor((image_y + 1.0) * 0.5 * sample_height + 1e-6));
}

struct Region {
    int x, y, width, height;
};

Region around(double image_x, double image_y, int half)
{
    return Region{sample_column(image_x) - half, sample_row(image_y) - half, 2 * half + 1, 2 * half + 1};
}

std::string at(int i, int j)
{
    return "sample (" + std::to_string(i) + ", " + std::to_string(j) + ")";
}

const Rgb white{1, 1, 1};
const Rgb red{0.9, 0.1, 0.1};
const Rgb green{0.1, 0.8, 0.2};
const Rgb blue{0.2, 0.4, 0.8};

// Compares every sample of a region with what a rule expects; samples within rim_margin of an edge are skipped.
// expect(i, j, &colour) returns false for samples it leaves out.
template <typename Rule> void expect_region(const FloatRegion& image, const std::string& what, Rule expect)
{
    size_t wrong = 0, checked = 0;
    std::string first;
    for (int j = image.y0; j < image.y0 + image.height; j++)
        for (int i = image.x0; i < image.x0 + image.width; i++) {
            Rgb expected{};
            if (!expect(i, j, &expected))
                continue;
            checked++;
            const auto result = probe_near(at(i, j), image.at(i, j), expected, 1e-3);
            if (!result && wrong++ == 0)
                first = result.message();
        }
    EXPECT_GT(checked, 0u) << what;
    EXPECT_EQ(wrong, 0u) << what << ": " << wrong << " of " << checked << " samples wrong; first " << first;
}

TEST(Streak, StillParticleIsASharpDisc)
{
    // Image (0.1, -0.2), depth value 0.5, size 0.1: radius 0.1 * (1 - 0.5) = 0.05 screen units, 60 samples,
    // centred on the sample corner (2112, 960).
    const double cx = 0.1 * 1.6, cy = -0.2, radius = 0.05;
    const Drawable disc = batch_of({still(0.1, -0.2, 0.5, 0.1, blue)});
    draw_samples({disc});

    // Just inside and just outside the rim, half a sample either way, along both axes.
    struct Probe {
        int i, j;
        bool hit;
    };
    const Probe rim[] = {
        {2171, 960, true},  {2172, 960, false},  {2052, 960, true}, {2051, 960, false},
        {2112, 1019, true}, {2112, 1020, false}, {2112, 900, true}, {2112, 899, false},
    };
    for (const Probe& p : rim) {
        const FloatRegion one = read_rgb(fbo_sample, p.i, p.j, 1, 1);
        EXPECT_TRUE(probe_near(at(p.i, p.j) + (p.hit ? " just inside the rim" : " just outside the rim"),
                               one.at(p.i, p.j), p.hit ? blue : white, 1e-3));
    }

    const Region r = around(0.1, -0.2, 70);
    const FloatRegion image = read_rgb(fbo_sample, r.x, r.y, r.width, r.height);
    expect_region(image, "disc of radius 60 samples", [&](int i, int j, Rgb* colour) {
        const double d = std::hypot(sample_x(i) - cx, sample_y(j) - cy);
        if (std::abs(d - radius) < rim_margin)
            return false;
        *colour = d < radius ? blue : white;
        return true;
    });

    // Hits store their depth value; everything else keeps the cleared 1.0.
    const std::vector<float> depth = read_depth(fbo_sample, r.x, r.y, r.width, r.height);
    EXPECT_NEAR(depth[static_cast<size_t>(70 * r.width + 70)], 0.5, 1e-4) << "depth at the disc's centre";
    EXPECT_EQ(depth[0], 1.0f) << "depth at the region's corner, outside the disc";
}

TEST(Streak, MovingParticleLeavesAStreakAsDenseAsItsDwellTime)
{
    // From image (-0.3, 0.3) to (0.3, 0.3) in a sixtieth of a second, radius 0.05 screen units: a sample on the
    // path is covered for 2 * 0.05 / 0.96 of the interval, so about a tenth of the samples there are hit.
    const double x1 = -0.3 * 1.6, x2 = 0.3 * 1.6, y = 0.3, radius = 0.05, length = x2 - x1;
    const Drawable streak = batch_of({particle(-0.3, 0.3, 0.3, 0.3, 0.5, 0.1, green)});
    draw_samples({streak});

    const Region r{sample_column(-0.36), sample_row(0.3) - 75, sample_column(0.36) - sample_column(-0.36), 151};
    const FloatRegion image = read_rgb(fbo_sample, r.x, r.y, r.width, r.height);

    // The chance that a sample is hit: the share of the interval during which the disc covers its centre.
    auto coverage = [&](int i, int j, double r) {
        const double dy = sample_y(j) - y;
        if (std::abs(dy) >= r)
            return 0.0;
        const double half_chord = std::sqrt(r * r - dy * dy);
        const double from = std::max(0.0, (sample_x(i) - half_chord - x1) / length);
        const double to = std::min(1.0, (sample_x(i) + half_chord - x1) / length);
        return std::max(0.0, to - from);
    };

    double expected[4] = {0, 0, 0, 0}, variance[4] = {0, 0, 0, 0}, observed[4] = {0, 0, 0, 0};
    size_t stray = 0, off_colour = 0;
    for (int j = r.y; j < r.y + r.height; j++)
        for (int i = r.x; i < r.x + r.width; i++) {
            const Rgb c = image.at(i, j);
            const bool hit = c.r < 0.99 || c.g < 0.99 || c.b < 0.99;
            const double p = coverage(i, j, radius);
            const int quarter = std::min(3, std::max(0, static_cast<int>((sample_x(i) - x1) / length * 4)));
            expected[quarter] += p;
            variance[quarter] += p * (1 - p);
            observed[quarter] += hit;
            if (hit && coverage(i, j, radius + rim_margin) == 0.0)
                stray++;
            if (hit && !probe_near("", c, green, 1e-3))
                off_colour++;
        }
    EXPECT_EQ(stray, 0u) << "no sample outside the swept area is hit";
    EXPECT_EQ(off_colour, 0u) << "every hit has the particle's colour";
    for (int q = 0; q < 4; q++) {
        // Each sample draws its own instant: the hit count is a sum of independent trials.
        const double sigma = std::sqrt(variance[q]);
        EXPECT_GT(expected[q], 2000) << "quarter " << q << " of the path has room for a streak";
        EXPECT_NEAR(observed[q], expected[q], 4 * sigma)
            << "hit samples in quarter " << q << " of the path (tolerance: 4 standard deviations)";
    }
}

TEST(Streak, ParticlesAtDepthOneOrOfSizeZeroDrawNothing)
{
    const Drawable invisible = batch_of({
        still(-0.5, -0.5, 1.0, 0.1, red),               // radius 0.1 * (1 - 1) = 0
        still(0.0, -0.5, 1.3, 0.1, red),                // beyond depth 1: negative radius, clipped
        still(0.5, -0.5, 0.5, 0.0, red),                // size 0
        particle(-0.5, 0.5, 0.5, 0.5, 0.5, 0.0, red),   // size 0, moving
    });
    GLuint query = 0;
    glGenQueries(1, &query);
    glBeginQuery(GL_SAMPLES_PASSED, query);
    draw_samples({invisible});
    glEndQuery(GL_SAMPLES_PASSED);
    GLuint passed = 99;
    glGetQueryObjectuiv(query, GL_QUERY_RESULT, &passed);
    glDeleteQueries(1, &query);
    EXPECT_EQ(passed, 0u) << "no sample of the whole buffer passes the depth test";

    const Region r = around(-0.5, -0.5, 100);
    expect_region(read_rgb(fbo_sample, r.x, r.y, r.width, r.height), "around the depth-1 particle",
                  [](int, int, Rgb* colour) {
                      *colour = white;
                      return true;
                  });
}

TEST(Streak, NearerParticleWinsWhateverTheOrder)
{
    // Red: image (-0.5, 0.5), depth 0.4, radius 0.06. Blue: 0.02 to the right, depth 0.6, radius 0.08.
    const ParticleVertex near_red = still(-0.5, 0.5, 0.4, 0.1, red);
    const ParticleVertex far_blue = still(-0.48, 0.5, 0.6, 0.2, blue);
    const Region r = around(-0.49, 0.5, 110);
    auto rule = [](int i, int j, Rgb* colour) {
        const double dr = std::hypot(sample_x(i) - (-0.5 * 1.6), sample_y(j) - 0.5);
        const double db = std::hypot(sample_x(i) - (-0.48 * 1.6), sample_y(j) - 0.5);
        if (std::abs(dr - 0.06) < rim_margin || std::abs(db - 0.08) < rim_margin)
            return false;
        *colour = dr < 0.06 ? red : db < 0.08 ? blue : white;
        return true;
    };
    draw_samples({batch_of({near_red, far_blue})});
    expect_region(read_rgb(fbo_sample, r.x, r.y, r.width, r.height), "red drawn first", rule);
    draw_samples({batch_of({far_blue, near_red})});
    expect_region(read_rgb(fbo_sample, r.x, r.y, r.width, r.height), "blue drawn first", rule);

    // On equal depth the one drawn first keeps the sample.
    const ParticleVertex a = still(0.5, 0.5, 0.5, 0.1, green);
    const ParticleVertex b = still(0.52, 0.5, 0.5, 0.1, blue);
    const int overlap_i = sample_column(0.51), overlap_j = sample_row(0.5);
    draw_samples({batch_of({a, b})});
    EXPECT_TRUE(probe_near(at(overlap_i, overlap_j) + " green drawn first, equal depth",
                           read_rgb(fbo_sample, overlap_i, overlap_j, 1, 1).at(overlap_i, overlap_j), green, 1e-3));
    draw_samples({batch_of({b, a})});
    EXPECT_TRUE(probe_near(at(overlap_i, overlap_j) + " blue drawn first, equal depth",
                           read_rgb(fbo_sample, overlap_i, overlap_j, 1, 1).at(overlap_i, overlap_j), blue, 1e-3));
}

TEST(Streak, HitsStoreTheirDepthClampedToPointNinetyNine)
{
    // Two discs on one spot, drawn in both orders. Below 0.99 the nearer one wins and its depth is stored; from
    // 0.99 on both store 0.99, so they tie and the one drawn first keeps the sample. Sizes give each disc a radius
    // of at least 0.05 screen units (60 samples).
    struct Case {
        double near_depth, far_depth;
        double stored;   // depth value the winner leaves in the buffer
        bool tie;
    };
    const Case cases[] = {
        {0.92, 0.95, 0.92, false},
        {0.993, 0.996, 0.99, true},
    };
    const double x = -0.2, y = 0.0;
    const int i = sample_column(x), j = sample_row(y);
    for (const Case& c : cases) {
        const double size = 0.05 / (1.0 - c.far_depth);
        const ParticleVertex near_red = still(x, y, c.near_depth, size, red);
        const ParticleVertex far_blue = still(x, y, c.far_depth, size, blue);
        const struct {
            ParticleVertex first, second;
            Rgb expected;
            const char* order;
        } orders[] = {
            {near_red, far_blue, red, "nearer drawn first"},
            {far_blue, near_red, c.tie ? blue : red, "farther drawn first"},
        };
        for (const auto& o : orders) {
            const std::string what = at(i, j) + ", depths " + std::to_string(c.near_depth) + " and " +
                                     std::to_string(c.far_depth) + ", " + o.order;
            draw_samples({batch_of({o.first, o.second})});
            EXPECT_TRUE(probe_near(what, read_rgb(fbo_sample, i, j, 1, 1).at(i, j), o.expected, 1e-3));
            EXPECT_NEAR(read_depth(fbo_sample, i, j, 1, 1)[0], c.stored, 1e-4) << what << ": stored depth";
        }
    }
}

TEST(Streak, MissesNeverChangeASample)
{
    // A far red disc first; then a nearer blue particle whose quad (the square around its disc, half-width 0.035
    // and half a sample in screen units) reaches over the red disc and the white background where its disc does
    // not.
    const Drawable far_red = batch_of({still(0.5, -0.5, 0.8, 0.5, red)});        // radius 0.1
    const Drawable near_blue = batch_of({still(0.56, -0.5, 0.3, 0.05, blue)});   // radius 0.035
    const Region r = around(0.53, -0.5, 150);

    draw_samples({far_red});
    const FloatRegion before = read_rgb(fbo_sample, r.x, r.y, r.width, r.height);
    const std::vector<float> depth_before = read_depth(fbo_sample, r.x, r.y, r.width, r.height);

    GLuint query = 0;
    glGenQueries(1, &query);
    draw_samples({far_red, near_blue}, query);
    GLuint invocations = 0;
    glGetQueryObjectuiv(query, GL_QUERY_RESULT, &invocations);
    glDeleteQueries(1, &query);

    const FloatRegion after = read_rgb(fbo_sample, r.x, r.y, r.width, r.height);
    const std::vector<float> depth_after = read_depth(fbo_sample, r.x, r.y, r.width, r.height);

    const double bx = 0.56 * 1.6, by = -0.5, radius = 0.035;
    const double quad_half_x = 0.0355 / 1.6 * sample_width / 2, quad_half_y = 0.0355 * sample_height / 2;   // samples
    size_t missed = 0, changed = 0, hits = 0;
    std::string first;
    for (int j = r.y; j < r.y + r.height; j++)
        for (int i = r.x; i < r.x + r.width; i++) {
            const double d = std::hypot(sample_x(i) - bx, sample_y(j) - by);
            const size_t n = static_cast<size_t>(j - r.y) * r.width + static_cast<size_t>(i - r.x);
            if (d < radius - rim_margin) {
                hits++;
                EXPECT_TRUE(probe_near(at(i, j) + " inside the blue disc", after.at(i, j), blue, 1e-3));
            } else if (d > radius + rim_margin) {
                const bool in_quad = std::abs(i + 0.5 - 1.56 * 0.5 * sample_width) < quad_half_x &&
                                     std::abs(j + 0.5 - 0.5 * 0.5 * sample_height) < quad_half_y;
                missed += in_quad;
                const Rgb a = after.at(i, j), b = before.at(i, j);
                if ((a.r != b.r || a.g != b.g || a.b != b.b || depth_after[n] != depth_before[n]) && changed++ == 0)
                    first = at(i, j) + ": before (" + std::to_string(b.r) + ", " + std::to_string(b.g) + ", " +
                            std::to_string(b.b) + ") depth " + std::to_string(depth_before[n]) + ", after (" +
                            std::to_string(a.r) + ", " + std::to_string(a.g) + ", " + std::to_string(a.b) + ") depth " +
                            std::to_string(depth_after[n]);
            }
        }
    EXPECT_EQ(changed, 0u) << "samples the blue disc misses keep colour and depth; first change: " << first;
    EXPECT_GT(missed, 1000u) << "the quad's corners leave a thousand samples and more outside the disc";
    EXPECT_GE(invocations, hits + missed - missed / 50)
        << "the fragment stage ran on the missed samples too (" << hits << " hits, " << missed << " misses)";
}

}   // namespace
