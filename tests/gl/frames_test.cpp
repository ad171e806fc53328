// Whole frames of the show, rendered by render_frame() with the demo's four batches and read back from the window,
// probed where the CPU model puts the particles; optionally saved as PNG stills.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "display_config.h"
#include "drawables.h"
#include "gl_harness.h"
#include "letters.h"
#include "png_file.h"
#include "previous_stages.h"
#include "programs.h"
#include "render.h"
#include "scene_model.h"
#include "shaders.h"
#include "stage_text.h"

namespace {

constexpr double filter_gain = 0.93484;   // both reduction passes: a fully covered pixel shows 0.93484 x its colour
constexpr double pixels_per_unit = 300;   // window pixels per screen unit (1200 samples / 4)
// The reductions read samples up to 2 pixels from a pixel's centre along each axis: a square of that half-width.
const double footprint = 2.0 * std::sqrt(2.0);   // pixels, centre to the square's corner
constexpr double position_slack = 0.5;           // pixels: GPU against model position (< 0.2 measured) and rounding
constexpr double colour_tol = 0.012;             // 8-bit window (0.5 / 255), half-float targets, filter weights
const double background = filter_gain;           // cleared white through both passes
constexpr size_t title_cells = 89;               // lit glyph cells of the title these probes were written for

// A frame of the show, as the window shows it. With DEMO_FRAMES_DIR set, the frames at 0.5, 4.4, 20, 60 and
// 110 s are also written there as PNG files (the build's `frames` target does that, into frames/ in the build
// folder).
const FloatRegion& frame_at(float t)
{
    static std::map<float, FloatRegion> frames;
    const auto found = frames.find(t);
    if (found != frames.end())
        return found->second;
    render_frame(t);
    FloatRegion& image = frames[t] = read_rgb(0, 0, 0, window_width, window_height);

    const char* dir = std::getenv("DEMO_FRAMES_DIR");
    const float stills[] = {0.5f, 4.4f, 20.0f, 60.0f, 110.0f};
    if (dir && std::find(std::begin(stills), std::end(stills), t) != std::end(stills)) {
        char name[64];
        snprintf(name, sizeof name, "/frame_%gs.png", static_cast<double>(t));
        const std::string path = std::string(dir) + name;
        const std::vector<unsigned char> pixels = read_rgb8(0, 0, 0, window_width, window_height);
        std::string error;
        EXPECT_TRUE(write_png(path, window_width, window_height, pixels.data(), RowOrder::bottom_up, &error))
            << "could not write " << path << ": " << error;
    }
    return image;
}

// One particle of the frame as the model places it, with its drawing order across all batches.
struct Drawn {
    model::Particle p;
    std::string name;
    int order;
};

double to_pixel_x(double image_x)
{
    return model::pixel_x(image_x, window_width);
}
double to_pixel_y(double image_y)
{
    return model::pixel_y(image_y, window_height);
}

// Every particle of the show at time t in drawing order: ring, helix, cloud, title. Positions from the model;
// the helix's and cloud's colours (and the cloud's seed) as the GPU computed them, since the hash is checked
// against the model elsewhere with its own tolerance.
std::vector<Drawn> model_frame(float t)
{
    std::vector<Drawn> all;
    all.reserve(1300);   // ring, helix, cloud and title
    int order = 0;
    for (int k = 0; k < 500; k++)
        all.push_back(Drawn{model::ring(k, t), "ring " + std::to_string(k), order++});
    const std::vector<model::Particle> helix_gpu = capture_scene(effect2_source, 500, t);
    for (int k = 0; k < 500; k++) {
        model::Particle p = model::helix(k, t);
        p.color = helix_gpu[static_cast<size_t>(k)].color;
        all.push_back(Drawn{p, "helix " + std::to_string(k), order++});
    }
    const std::vector<model::Particle> cloud_gpu = capture_scene(effect3_source, 200, t);
    for (int k = 0; k < 200; k++)
        all.push_back(
            Drawn{model::cloud(k, t, &cloud_gpu[static_cast<size_t>(k)].color), "cloud " + std::to_string(k), order++});
    const auto cells = numerify(title_text);
    for (size_t n = 0; n < cells.size(); n++) {
        const model::Vec3 base{0.03f * cells[n](0, 0), 0.03f * cells[n](1, 0), 0.0};
        all.push_back(Drawn{model::title(base, t), "title cell " + std::to_string(n), order++});
    }
    return all;
}

// The particles of one scene ("ring", "helix", "cloud" or "title"), in drawing order.
std::vector<const Drawn*> scene_of(const std::vector<Drawn>& all, const std::string& scene)
{
    std::vector<const Drawn*> particles;
    for (const Drawn& d : all)
        if (d.name.compare(0, scene.size() + 1, scene + " ") == 0)
            particles.push_back(&d);
    return particles;
}

double radius_px(const Drawn& d, const model::Vec3& end)
{
    return d.p.size * (1.0 - end.z) * pixels_per_unit;
}

// Distance in pixels from (x, y) to the particle's path from pos1 to pos2.
double distance_to_path(const Drawn& d, double x, double y)
{
    const double ax = to_pixel_x(d.p.pos1.x), ay = to_pixel_y(d.p.pos1.y);
    const double bx = to_pixel_x(d.p.pos2.x), by = to_pixel_y(d.p.pos2.y);
    const double lx = bx - ax, ly = by - ay, length2 = lx * lx + ly * ly;
    const double u = length2 > 0 ? std::clamp(((x - ax) * lx + (y - ay) * ly) / length2, 0.0, 1.0) : 0.0;
    return std::hypot(x - (ax + u * lx), y - (ay + u * ly));
}

bool may_touch(const Drawn& d, double x, double y)
{
    const double reach = std::max(radius_px(d, d.p.pos1), radius_px(d, d.p.pos2));
    return reach > 0 && distance_to_path(d, x, y) < reach + footprint + position_slack;
}

// The particle covers every sample the pixel's value is made of, at every instant of its streak.
bool covers_pixel(const Drawn& d, double x, double y)
{
    const double far_end = std::max(std::hypot(x - to_pixel_x(d.p.pos1.x), y - to_pixel_y(d.p.pos1.y)),
                                    std::hypot(x - to_pixel_x(d.p.pos2.x), y - to_pixel_y(d.p.pos2.y)));
    return far_end + footprint + position_slack < std::min(radius_px(d, d.p.pos1), radius_px(d, d.p.pos2));
}

double stored_depth(double z)
{
    return std::clamp(z, 0.0, 0.99);
}

// q may hide p somewhere: nearer at some instant, or as near and drawn earlier.
bool may_hide(const Drawn& q, const Drawn& p)
{
    const double q_near = stored_depth(std::min(q.p.pos1.z, q.p.pos2.z));
    const double p_far = stored_depth(std::max(p.p.pos1.z, p.p.pos2.z));
    if (std::abs(q_near - p_far) <= 1e-6)
        return q.order < p.order;
    return q_near < p_far;
}

// The window pixel (GL, bottom-up) under the middle of a particle's streak.
void pixel_of(const Drawn& d, int* i, int* j)
{
    *i = static_cast<int>(std::floor(to_pixel_x(0.5 * (d.p.pos1.x + d.p.pos2.x))));
    *j = static_cast<int>(std::floor(to_pixel_y(0.5 * (d.p.pos1.y + d.p.pos2.y))));
}

// The first particle besides `self` that may show in pixel (i, j) in front of self (or at all, when self is null).
const Drawn* first_intruder(const std::vector<Drawn>& all, int i, int j, const Drawn* self)
{
    for (const Drawn& q : all)
        if (&q != self && may_touch(q, i + 0.5, j + 0.5) && (!self || may_hide(q, *self)))
            return &q;
    return nullptr;
}

std::string pixel_name(int i, int j)
{
    return "window (" + std::to_string(i) + ", " + std::to_string(j) + ")";
}

Rgb scaled(const model::Vec3& c, double gain)
{
    return Rgb{gain * c.x, gain * c.y, gain * c.z};
}

// Probes every particle of one scene whose streak fully covers the pixel at its middle with nothing in front:
// that pixel must show the particle's colour times the filter gain. Returns the particles probed.
std::vector<const Drawn*> probe_covered(const FloatRegion& frame, const std::vector<Drawn>& all,
                                        const std::string& scene)
{
    std::vector<const Drawn*> probed;
    for (const Drawn* d : scene_of(all, scene)) {
        int i, j;
        pixel_of(*d, &i, &j);
        if (i < 0 || j < 0 || i >= window_width || j >= window_height || !covers_pixel(*d, i + 0.5, j + 0.5) ||
            first_intruder(all, i, j, d))
            continue;
        probed.push_back(d);
        EXPECT_TRUE(probe_near(pixel_name(i, j) + " under " + d->name, frame.at(i, j), scaled(d->p.color, filter_gain),
                               colour_tol));
    }
    return probed;
}

// Probes a pixel the model keeps clear of every particle: it shows the background.
void probe_background(const FloatRegion& frame, const std::vector<Drawn>& all, int i, int j)
{
    const Drawn* intruder = first_intruder(all, i, j, nullptr);
    if (intruder) {
        FAIL() << pixel_name(i, j) << " is no background probe: " << intruder->name << " is near";
    }
    EXPECT_TRUE(
        probe_near(pixel_name(i, j) + ", background", frame.at(i, j), Rgb{background, background, background}, 0.006));
}

bool is_background(const Rgb& c)
{
    return std::abs(c.r - background) < 0.03 && std::abs(c.g - background) < 0.03 && std::abs(c.b - background) < 0.03;
}

TEST(ShowFrames, BackgroundIsGreyFarFromTheParticles)
{
    const struct {
        float time;
        int i, j;
    } table[] = {
        {0.5f, 20, 20},    {0.5f, 940, 580}, {0.5f, 480, 590},  {3.0f, 20, 580},  {3.0f, 940, 20},   {20.0f, 20, 20},
        {20.0f, 940, 300}, {60.0f, 20, 300}, {60.0f, 940, 580}, {110.0f, 20, 20}, {110.0f, 940, 20},
    };
    for (const auto& row : table) {
        SCOPED_TRACE("time " + std::to_string(row.time));
        probe_background(frame_at(row.time), model_frame(row.time), row.i, row.j);
    }
}

TEST(ShowFrames, DarkRedRingAndGreenHelixWhereTheModelPutsThem)
{
    const float t = 0.5f;
    const FloatRegion& frame = frame_at(t);
    const std::vector<Drawn> all = model_frame(t);

    // The ring's discs (2.4 pixels) are too small to cover a pixel's whole footprint, but the ring is a closed
    // line of them: where no other scene comes near, the pixel under a ring particle is dark red.
    int ring_probes = 0;
    const std::vector<const Drawn*> ring = scene_of(all, "ring");
    for (size_t k = 0; k < ring.size(); k += 25) {
        const Drawn& d = *ring[k];
        int i, j;
        pixel_of(d, &i, &j);
        bool isolated = i >= 0 && j >= 0 && i < window_width && j < window_height;   // on screen
        for (const Drawn& q : all)
            if (q.name.compare(0, 5, "ring ") != 0 && may_touch(q, i + 0.5, j + 0.5))
                isolated = false;
        if (!isolated)
            continue;
        ring_probes++;
        const Rgb c = frame.at(i, j);
        EXPECT_TRUE(c.r - c.g > 0.3 && c.g < 0.35 && c.b < 0.35)
            << pixel_name(i, j) << " under " << d.name << ": expected dark red (0.6, 0, 0) partly filtered with "
            << "the grey, got (" << c.r << ", " << c.g << ", " << c.b << ")";
    }
    EXPECT_GE(ring_probes, 10) << "ring particles clear of the other scenes";

    const std::vector<const Drawn*> helix = probe_covered(frame, all, "helix");
    EXPECT_GE(helix.size(), 50u) << "helix particles fully covering a pixel";
    for (const Drawn* d : helix)
        EXPECT_EQ(d->p.color.y, 0.7f) << d->name << " is green";
}

TEST(ShowFrames, SingleSpotAtTheCentreAtThreeSeconds)
{
    const float t = 3.0f;
    const FloatRegion& frame = frame_at(t);
    const std::vector<Drawn> all = model_frame(t);
    const std::vector<const Drawn*> cloud = scene_of(all, "cloud");
    ASSERT_EQ(cloud.size(), 200u);
    const Drawn& first = *cloud.front();   // drawn first of the 200 on the same spot
    ASSERT_EQ(first.name, "cloud 0");
    ASSERT_TRUE(covers_pixel(first, 480.5, 300.5)) << "the spot covers the centre pixel";
    ASSERT_EQ(first_intruder(all, 480, 300, &first), nullptr) << "nothing hides the spot in the model";
    EXPECT_TRUE(probe_near(pixel_name(480, 300) + ", the spot in particle 0's colour", frame.at(480, 300),
                           scaled(first.p.color, filter_gain), colour_tol));

    // Radius 0.1 (1 - 0.6687) = 0.033 screen units, 9.9 pixels: 16 pixels out is clear of it.
    const int around[][2] = {{496, 300}, {464, 300}, {480, 316}, {480, 284}};
    for (const auto& p : around) {
        bool spot_only = true;
        for (const Drawn& q : all)
            if (q.name.compare(0, 6, "cloud ") != 0 && may_touch(q, p[0] + 0.5, p[1] + 0.5))
                spot_only = false;
        if (spot_only) {
            EXPECT_TRUE(probe_near(pixel_name(p[0], p[1]) + ", just outside the spot", frame.at(p[0], p[1]),
                                   Rgb{background, background, background}, 0.006));
        }
    }
}

TEST(ShowFrames, FlashCoversTheWholeImageAtFourPointFour)
{
    const float t = 4.4f;
    const FloatRegion& frame = frame_at(t);
    // Every ninth of the image holds flash particles: pixels far from the grey.
    for (int cy = 0; cy < 3; cy++)
        for (int cx = 0; cx < 3; cx++) {
            int marked = 0;
            for (int j = cy * 200; j < (cy + 1) * 200; j++)
                for (int i = cx * 320; i < (cx + 1) * 320; i++)
                    marked += !is_background(frame.at(i, j));
            EXPECT_GT(marked, 2000) << "particles in the ninth of the image from " << pixel_name(cx * 320, cy * 200);
        }
    const std::vector<Drawn> all = model_frame(t);
    const std::vector<const Drawn*> flash = probe_covered(frame, all, "cloud");
    EXPECT_GE(flash.size(), 5u) << "flash particles fully covering a pixel";
}

TEST(ShowFrames, CubeOnABeatAfterNinePointFive)
{
    // On a beat (15 t = 2 pi k, here k = 48) the pulse bcos(0.1, 15 t) is flat at 1: the cube has its largest
    // size, 2 x 0.2, and short streaks. (At 20 s exactly it is mid-swing, all streaks.)
    const float t = 20.106f;
    const std::vector<Drawn> all = model_frame(t);
    const std::vector<const Drawn*> cube = probe_covered(frame_at(t), all, "cloud");
    EXPECT_GE(cube.size(), 20u) << "cube particles fully covering a pixel";
    for (const Drawn* d : cube)
        EXPECT_LT(std::hypot(d->p.pos1.x, d->p.pos1.y), 0.6) << d->name << " is in the cube about the centre";
    // The frame at 20 s (a still for the README) shows the cube about the centre as well.
    EXPECT_FALSE(is_background(frame_at(20.0f).at(480, 300))) << "the cube is at the centre at 20 s";
}

TEST(ShowFrames, RibbonAtSixtySeconds)
{
    const float t = 60.0f;
    const std::vector<Drawn> all = model_frame(t);
    const std::vector<const Drawn*> ribbon = probe_covered(frame_at(t), all, "cloud");
    EXPECT_GE(ribbon.size(), 15u) << "ribbon particles fully covering a pixel";
    double left = 0, right = 0;
    for (const Drawn* d : ribbon) {
        left = std::min(left, d->p.pos1.x);
        right = std::max(right, d->p.pos1.x);
    }
    EXPECT_LT(left, -0.1) << "the ribbon stretches to the left";
    EXPECT_GT(right, 0.1) << "and to the right";
}

TEST(ShowFrames, RandomColouredHelixAfterNinetyFive)
{
    const float t = 110.0f;
    const std::vector<Drawn> all = model_frame(t);
    const std::vector<const Drawn*> helix_model = scene_of(all, "helix");
    ASSERT_FALSE(helix_model.empty());
    const model::Vec3 colour = helix_model.front()->p.color;
    EXPECT_GT(std::abs(colour.x - 0.3) + std::abs(colour.y - 0.7) + std::abs(colour.z - 0.3), 0.2)
        << "the helix is no longer green";
    const std::vector<const Drawn*> helix = probe_covered(frame_at(t), all, "helix");
    EXPECT_GE(helix.size(), 15u) << "helix particles fully covering a pixel";
}

// The window after render_frame(t) with the previous stages: the reduction passes' stage that took its taps through
// the linear filter of the sample buffer and the X target, and the particles' stages that drew the whole quad
// around each path and interpolated its values. The frames as they were before.
std::vector<unsigned char> previous_frame(float t)
{
    const auto rebuild_with = [](const char* bound, const char* sample) {
        std::vector<std::string> texts;
        for (size_t i = 0; i < stage_count; ++i)
            texts.emplace_back(i == stage_index("bound")    ? bound
                               : i == stage_index("sample") ? sample
                                                            : embedded_stage(i));
        EXPECT_TRUE(rebuild_programs(texts)) << "expected the programs to link";
    };
    std::string interpolated_sample = sample_source;   // the fragment stage as it was: its values interpolated
    for (size_t at; (at = interpolated_sample.find("flat ")) != std::string::npos;)
        interpolated_sample.erase(at, 5);
    rebuild_with(previous_bound_source, interpolated_sample.c_str());
    static const GLuint previous = link_test_program(vertex_source, nullptr, previous_filter_source);
    const GLuint current = filter_prog;
    for (GLuint texture : {sample_tex, fbo_xtex}) {
        glBindTexture(GL_TEXTURE_RECTANGLE, texture);
        glTexParameteri(GL_TEXTURE_RECTANGLE, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    }
    filter_prog = previous;
    render_frame(t);
    filter_prog = current;
    for (GLuint texture : {sample_tex, fbo_xtex}) {
        glBindTexture(GL_TEXTURE_RECTANGLE, texture);
        glTexParameteri(GL_TEXTURE_RECTANGLE, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    }
    std::vector<unsigned char> frame = read_rgb8(0, 0, 0, window_width, window_height);
    rebuild_with(bound_source, sample_source);
    return frame;
}

TEST(ShowFrames, SameAsThePreviousStagesFrames)
{
    for (float t : {0.0f, 0.5f, 4.4f, 20.0f, 60.0f, 110.0f}) {
        SCOPED_TRACE("time " + std::to_string(t));
        const std::vector<unsigned char> before = previous_frame(t);
        render_frame(t);
        const std::vector<unsigned char> now = read_rgb8(0, 0, 0, window_width, window_height);
        size_t off = 0;
        int largest = 0;
        for (size_t p = 0; p < now.size(); p += 3) {
            int difference = 0;
            for (size_t c = p; c < p + 3; c++)
                difference = std::max(difference, std::abs(now[c] - before[c]));
            largest = std::max(largest, difference);
            off += difference > 2;
        }
        EXPECT_LE(off, now.size() / 3 / 2000) << "pixels more than 2/255 off the previous stage's frame (largest "
                                              << largest << "/255); at most 0.05 % may be";
    }
}

// The particle that shows in pixel (i, j) by the model: one that covers the pixel's whole footprint with nothing
// in front of it; null when the model cannot tell.
const Drawn* front_cover(const std::vector<Drawn>& all, int i, int j)
{
    for (const Drawn& d : all)
        if (covers_pixel(d, i + 0.5, j + 0.5) && !first_intruder(all, i, j, &d))
            return &d;
    return nullptr;
}

// The title's cells at 0.5 s: every lit glyph cell is a black dot at its projected pixel, unless the model puts
// a nearer particle there (the cloud's spot at the centre is nearer than the title's plane).
TEST(TitleFrames, EveryLitCellIsADarkDotAtHalfASecond)
{
    const float t = 0.5f;
    const FloatRegion& frame = frame_at(t);
    const std::vector<Drawn> all = model_frame(t);
    const std::vector<const Drawn*> title = scene_of(all, "title");
    ASSERT_EQ(title.size(), title_cells) << "lit cells of \"" << title_text << "\" in the font";
    int dots = 0, covered = 0, mixed = 0;
    for (const Drawn* lit : title) {
        const Drawn& cell = *lit;
        int i, j;
        pixel_of(cell, &i, &j);
        ASSERT_TRUE(covers_pixel(cell, i + 0.5, j + 0.5)) << cell.name << ": a dot of 5 pixels covers its pixel";
        const Drawn* front = front_cover(all, i, j);
        if (!front) {   // on the rim of a nearer particle: part of each shows
            mixed++;
            continue;
        }
        if (front == &cell)
            dots++;
        else
            covered++;
        EXPECT_TRUE(probe_near(pixel_name(i, j) + " under " + cell.name + ", showing " + front->name, frame.at(i, j),
                               scaled(front->p.color, filter_gain), colour_tol));
    }
    EXPECT_GE(dots, static_cast<int>(title_cells) - 4)
        << "black dots; " << covered << " cells lie under a nearer particle, " << mixed << " on the rim of one";
}

TEST(TitleFrames, GapsBetweenLettersStayBackground)
{
    const float t = 0.5f;
    const FloatRegion& frame = frame_at(t);
    const std::vector<Drawn> all = model_frame(t);
    // The dark column after letter i (all but the last) of the title of L letters: x = 5i + 4 - 2.5 L glyph units.
    const int letters = static_cast<int>(std::strlen(title_text));
    int probed = 0;
    for (int letter = 0; letter + 1 < letters; letter++)
        for (int row = 0; row < 5; row++) {
            const model::Vec3 gap =
                model::project(0.0, model::Vec3{0.03f * (5 * letter + 4 - 2.5f * letters), 0.03f * row, 0});
            const int i = static_cast<int>(std::floor(to_pixel_x(gap.x)));
            const int j = static_cast<int>(std::floor(to_pixel_y(gap.y)));
            if (first_intruder(all, i, j, nullptr))
                continue;   // another scene's particle passes there

            probed++;
            EXPECT_TRUE(probe_near(pixel_name(i, j) + ", gap after letter " + std::to_string(letter) + " row " +
                                       std::to_string(row),
                                   frame.at(i, j), Rgb{background, background, background}, 0.006));
        }
    EXPECT_GE(probed, 5 * (letters - 1) * 3 / 4)
        << "of the " << 5 * (letters - 1) << " gap cells, those no particle of another scene comes near";
}

// Dark pixels (every channel below 0.15) in the middle of the image, where the title stands at first.
int dark_pixels_in_the_middle(const FloatRegion& frame)
{
    int dark = 0;
    for (int j = 150; j < 450; j++)
        for (int i = 200; i < 760; i++) {
            const Rgb c = frame.at(i, j);
            dark += c.r < 0.15 && c.g < 0.15 && c.b < 0.15;
        }
    return dark;
}

TEST(TitleFrames, NoTitlePixelInTheMiddleAtTwoSeconds)
{
    // Only the title is black: the ring is red, the helix green, the spot particle 0's colour.
    const std::vector<Drawn> all = model_frame(2.0f);
    const std::vector<const Drawn*> cloud = scene_of(all, "cloud"), title = scene_of(all, "title");
    ASSERT_FALSE(cloud.empty());
    const model::Vec3 spot = cloud.front()->p.color;
    ASSERT_GT(std::max({spot.x, spot.y, spot.z}), 0.2) << "the spot's colour is not dark";

    EXPECT_GT(dark_pixels_in_the_middle(frame_at(0.5f)), static_cast<int>(9 * title.size()))
        << "at 0.5 s the title's dots are dark";
    EXPECT_EQ(dark_pixels_in_the_middle(frame_at(2.0f)), 0) << "at 2 s the title is parked off to the right";
}

}   // namespace
