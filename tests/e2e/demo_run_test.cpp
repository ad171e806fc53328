// End-to-end runs of the real demo binary under vclock's controlled clock: when it ends, what it prints,
// what its first frame and its sound look like. Needs an X display in DISPLAY (scripts/test.sh starts Xvfb).
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "drawables.h"
#include "frame8.h"
#include "letters.h"
#include "program_run.h"
#include "scene_model.h"

namespace {

const double run_limit = 60;   // seconds of wall time for one demo run

// The run ends after the first swap whose following clock reading is more than 136000 ms after the start;
// exactly 136000 goes on. Frame j is drawn at j * step, and the reading after it is (j + 1) * step.
TEST_F(DemoRun, EndsOnFirstFrameWhosePostSwapTimeExceeds136Seconds)
{
    struct Case {
        const char* step;   // ms per frame
        unsigned frames;    // frames shown before the run ends
        const char* why;
    };
    const Case cases[] = {
        {"34000", 5, "readings 34000 .. 136000 go on, 170000 ends"},
        {"68000", 3, "readings 68000, 136000 go on, 204000 ends"},
        {"136000", 2, "reading 136000 goes on, 272000 ends"},
        {"136001", 1, "the first reading, 136001, ends"},
        {"45333", 4, "readings 45333, 90666, 135999 go on, 181332 ends"},
        {"45333.5", 3, "readings 45334 and 90667 go on, 136000.5 rounds to 136001 and ends"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("step ") + c.step + " ms: " + c.why);
        const RunResult result = run_demo({std::string("VCLOCK_STEP=") + c.step});
        EXPECT_TRUE(result.exited && result.status == 0)
            << "expected exit status 0, got " << describe(result) << "; output:\n"
            << result.output;
        const ClockLog clock = log();
        EXPECT_EQ(clock.exit_swaps, static_cast<long>(c.frames)) << "expected the run to end after this many frames";
        ASSERT_EQ(clock.swaps.size(), c.frames) << "expected one log line per frame shown";
        const double step = atof(c.step);
        for (unsigned j = 0; j < c.frames; ++j)
            EXPECT_EQ(clock.swaps[j].frame_ms, llround(j * step)) << "frame " << j << " drawn at the wrong time";
    }
}

// A 32-bit millisecond counter that wraps during the run: same frame count, and the same pictures as a run
// whose counter starts at 0, since the demo's elapsed time is an unsigned difference.
TEST_F(DemoRun, ClockThatWrapsAround32BitsGivesTheSameRun)
{
    ASSERT_TRUE(run_demo({"VCLOCK_STEP=34000", "VCLOCK_GRAB=" + dir / "plain.ppm", "VCLOCK_GRAB_FRAMES=1-"}).exited);
    const std::vector<Frame8> plain = read_frames(dir / "plain.ppm");
    ASSERT_EQ(plain.size(), 4u) << "expected frames 1 to 4 (34 s to 136 s) from the run starting at 0";

    struct Case {
        const char* base;
        const char* where;
    };
    const Case cases[] = {
        {"4294962296", "2^32 - 5000: wraps between frame 0 and the first post-swap reading"},
        {"4294897296", "2^32 - 70000: wraps between frames 2 and 3"},
        {"4294967295", "2^32 - 1: wraps 1 ms after the start"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("VCLOCK_BASE ") + c.base + " (" + c.where + ")");
        const RunResult result = run_demo({std::string("VCLOCK_BASE=") + c.base, "VCLOCK_STEP=34000",
                                           "VCLOCK_GRAB=" + dir / "wrapped.ppm", "VCLOCK_GRAB_FRAMES=1-"});
        EXPECT_TRUE(result.exited && result.status == 0) << "expected exit status 0, got " << describe(result);
        const ClockLog clock = log();
        EXPECT_EQ(clock.exit_swaps, 5) << "expected the run to end after 5 frames, as without the wrap";
        ASSERT_FALSE(clock.swaps.empty());
        EXPECT_LT(clock.swaps.back().clock, 4294967295u - 136000u) << "expected the counter to have wrapped";
        const std::vector<Frame8> wrapped = read_frames(dir / "wrapped.ppm");
        ASSERT_EQ(wrapped.size(), plain.size()) << "expected as many frames as the run starting at 0";
        for (size_t i = 0; i < plain.size(); ++i)
            EXPECT_EQ(first_difference(plain[i], wrapped[i]), "")
                << "frame " << plain[i].index << " (t = " << plain[i].ms << " ms) should equal the unwrapped run's";
    }
}

// Escape ends the run at the event poll of the frame in which it arrives: no further frame is shown.
// Other keys do nothing; a window close ends it like Escape.
TEST_F(DemoRun, EscapeAndWindowCloseEndWithinOneFrameOtherKeysDoNot)
{
    struct Case {
        const char* events;
        long frames;
        const char* why;
    };
    const Case cases[] = {
        {"2:escape", 2, "Escape after the 2nd swap: no 3rd frame"},
        {"0:escape", 1, "Escape queued before the first frame: ends at the first poll"},
        {"1:quit", 1, "window close after the 1st swap"},
        {"3:key:a,3:escape", 3, "another key queued ahead of Escape is skipped over"},
        {"1:key:a,1:key:32,2:key:13,3:key:q,3:key:282", 5, "a, space, return, q, F1: the run goes to 136 s"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("events ") + c.events + ": " + c.why);
        const RunResult result = run_demo({"VCLOCK_STEP=34000", std::string("VCLOCK_EVENTS=") + c.events});
        EXPECT_TRUE(result.exited && result.status == 0) << "expected exit status 0, got " << describe(result);
        EXPECT_EQ(log().exit_swaps, c.frames) << "expected the run to end after this many frames";
    }
}

// Without its music file the demo says so once and still plays the whole timeline, silently.
TEST_F(DemoRun, MissingMusicFileIsReportedAndTheRunGoesOn)
{
    ASSERT_FALSE(file_exists(dir / "Tarnhollow_4.mp3"));
    const RunResult result = run_demo({"VCLOCK_STEP=34000"});
    EXPECT_TRUE(result.exited && result.status == 0) << "expected exit status 0, got " << describe(result);
    EXPECT_TRUE(has_line(result.output, "Mix_LoadMUS() failed"))
        << "expected the line 'Mix_LoadMUS() failed'; output:\n"
        << result.output;
    EXPECT_EQ(log().exit_swaps, 5) << "expected all 5 frames up to 136 s";
}

// No usable X server: one line naming the failed call, status 1, no crash. With only the X11 driver allowed,
// SDL_Init finds no video device; with SDL's default driver list SDL falls back to its text-terminal
// driver, which has no OpenGL, so SDL_SetVideoMode fails instead.
TEST_F(DemoRun, NoDisplayGivesOneLineAndStatus1)
{
    struct Case {
        std::vector<std::string> environment;
        const char* line;
        const char* why;
    };
    const std::string dead = dead_display();
    const Case cases[] = {
        {{"DISPLAY", "SDL_VIDEODRIVER=x11"}, "SDL_Init() failed: No available video device", "DISPLAY unset, X11 only"},
        {{"DISPLAY=" + dead, "SDL_VIDEODRIVER=x11"},
         "SDL_Init() failed: No available video device",
         "DISPLAY names a dead server, X11 only"},
        // No driver chosen: the demo asks for X11 rather than a text-console fallback, with or without a terminal.
        {{"DISPLAY", "SDL_VIDEODRIVER", "TERM=xterm"},
         "SDL_Init() failed: No available video device",
         "DISPLAY unset, no driver chosen"},
        {{"DISPLAY=" + dead, "SDL_VIDEODRIVER", "TERM"},
         "SDL_Init() failed: No available video device",
         "DISPLAY names a dead server, no driver chosen, no terminal"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const RunResult result = run_program({DEMO_BINARY}, c.environment, dir.path, run_limit);
        EXPECT_TRUE(result.exited) << "expected a normal exit, got " << describe(result);
        EXPECT_EQ(result.status, 1) << "expected exit status 1";
        EXPECT_NE(result.output.find(std::string(c.line) + "\n"), std::string::npos)
            << "expected the line '" << c.line << "'; output:\n"
            << result.output;
    }
}

// A context older than OpenGL 3.2 / GLSL 1.50 is refused before anything is drawn.
TEST_F(DemoRun, TooOldOpenGLIsRefused)
{
    const RunResult result =
        run_demo({"VCLOCK_STEP=34000"}, {"MESA_GL_VERSION_OVERRIDE=3.1", "MESA_GLSL_VERSION_OVERRIDE=140"});
    EXPECT_TRUE(result.exited && result.status == 1) << "expected exit status 1, got " << describe(result);
    const std::string expected = "OpenGL 3.2 with GLSL 1.50 is needed, but this context has OpenGL 3.1";
    const size_t at = result.output.find(expected);
    ASSERT_NE(at, std::string::npos) << "expected a line starting '" << expected << "'; output:\n" << result.output;
    const std::string line = result.output.substr(at, result.output.find('\n', at) - at);
    EXPECT_NE(line.find(" and GLSL 1.40"), std::string::npos) << "expected the GLSL version 1.40 in: " << line;
    EXPECT_EQ(log().exit_swaps, 0) << "expected no frame to be shown";
}

// Frame 0, drawn at t = 0: mostly the light grey background (white after the filter: 238), with the title in
// black in the middle band, the dark red ring, the green helix and the cloud's spot at the centre.
TEST_F(DemoRun, FirstFrameShowsTheSceneOnGrey)
{
    const RunResult result =
        run_demo({"VCLOCK_STEP=34000", "VCLOCK_EVENTS=1:quit", "VCLOCK_GRAB=" + dir / "f.ppm", "VCLOCK_GRAB_FRAMES=0"});
    ASSERT_TRUE(result.exited && result.status == 0) << "expected exit status 0, got " << describe(result);
    const std::vector<Frame8> frames = read_frames(dir / "f.ppm");
    ASSERT_EQ(frames.size(), 1u) << "expected exactly frame 0";
    const Frame8& frame = frames[0];
    EXPECT_EQ(frame.ms, 0) << "expected frame 0 at t = 0";
    EXPECT_GT(share_near(frame, 238, 238, 238, 4), 0.6) << "expected most pixels grey (238 +- 4)";
    EXPECT_LT(share_near(frame, 0, 0, 0, 40), 0.05) << "expected no black image";
    EXPECT_GT(title_band_dark_share(frame), 0.02) << "expected over 2% black pixels (the title) in the middle band";
    EXPECT_GT(share_near(frame, 143, 0, 0, 8), 0.001) << "expected ring pixels (0.6, 0, 0) * 238";
    EXPECT_GT(share_near(frame, 71, 167, 71, 8), 0.01) << "expected helix pixels (0.3, 0.7, 0.3) * 238";
}

// Every display configuration is a program of its own. Each, under the controlled clock, draws its frame at 0.5 s
// at its own size with the ring where the model puts it. The full-screen ones show each filtered pixel as a 2 x 2
// block, and the 1920 x 1200 one, whose sample buffer is the window's, shows exactly the window's frame doubled.
TEST_F(DemoRun, EveryConfigurationDrawsTheModelsFrameAtItsOwnSize)
{
    const struct {
        const char* binary;
        int width, height, filtered_width;
    } configurations[] = {
        {DEMO_BINARY, 960, 600, 960}, {DEMO_1920X1200_BINARY, 1920, 1200, 960}, {DEMO_1280X720_BINARY, 1280, 720, 640}};
    const float t = 0.5f;
    std::vector<model::Particle> others;   // every particle but the ring's
    others.reserve(800);
    for (int k = 0; k < 500; ++k)
        others.push_back(model::helix(k, t));
    for (int k = 0; k < 200; ++k)
        others.push_back(model::cloud(k, t));
    for (const GlyphPoint& cell : numerify(title_text))
        others.push_back(model::title({0.03 * cell(0, 0), 0.03 * cell(1, 0), 0.0}, t));

    std::vector<Frame8> shown;
    for (const auto& c : configurations) {
        SCOPED_TRACE(c.binary);
        const RunResult result = run_demo(
            {"VCLOCK_TIMES=500", "VCLOCK_GRAB=" + dir / "f.ppm", "VCLOCK_GRAB_FRAMES=1", "VCLOCK_EVENTS=2:escape"}, {},
            c.binary);
        ASSERT_TRUE(result.exited && result.status == 0) << describe(result) << "\n" << result.output;
        const std::vector<Frame8> frames = read_frames(dir / "f.ppm");
        ASSERT_EQ(frames.size(), 1u) << "expected the frame at 500 ms";
        const Frame8& frame = frames[0];
        ASSERT_EQ(frame.width, c.width) << "expected the configuration's video mode";
        ASSERT_EQ(frame.height, c.height);
        shown.push_back(frame);

        const int block = c.width / c.filtered_width;   // window pixels per filtered pixel along each axis
        long off_block = 0;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                off_block += !std::equal(frame.at(x, y), frame.at(x, y) + 3, frame.at(x - x % block, y - y % block));
        EXPECT_EQ(off_block, 0) << "every pixel should equal its " << block << " x " << block << " block's first";

        // Window pixels (top row first) and reach of the model's particles in this window's scale; a ring probe
        // counts only where no other particle, widened by the filter's 2 filtered pixels and one of slack, comes.
        auto window_x = [&](const model::Particle& p) { return model::pixel_x((p.pos1.x + p.pos2.x) / 2, c.width); };
        auto window_y = [&](const model::Particle& p) {
            return c.height - model::pixel_y((p.pos1.y + p.pos2.y) / 2, c.height);
        };
        const double per_unit = std::max(c.width / 3.2, c.height / 2.0);   // screen units: x is stretched by 1.6
        auto reach = [&](const model::Particle& p) {
            return p.size * (1.0 - std::min(p.pos1.z, p.pos2.z)) * per_unit + 3.0 * block;
        };
        auto clear_of_others = [&](double x, double y) {
            return std::none_of(others.begin(), others.end(), [&](const model::Particle& q) {
                return std::hypot(x - window_x(q), y - window_y(q)) < reach(q);
            });
        };
        int ring_probes = 0;
        for (int k = 0; k < 500; k += 10) {
            const model::Particle ring = model::ring(k, t);
            const int x = static_cast<int>(window_x(ring)), y = static_cast<int>(window_y(ring));
            if (x < 0 || y < 0 || x >= c.width || y >= c.height || !clear_of_others(x + 0.5, y + 0.5))
                continue;
            ++ring_probes;
            const unsigned char* p = frame.at(x, y);
            EXPECT_TRUE(p[0] - p[1] > 76 && p[1] < 89 && p[2] < 89)
                << "(" << x << ", " << y << ") under ring particle " << k << ": expected dark red, got " << int(p[0])
                << "," << int(p[1]) << "," << int(p[2]);
        }
        EXPECT_GE(ring_probes, 10) << "ring particles clear of the other scenes";
    }
    ASSERT_EQ(shown.size(), 3u);
    Frame8 halved{960, 600, {}, 0, 0};
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 960; ++x)
            halved.rgb.insert(halved.rgb.end(), shown[1].at(2 * x, 2 * y), shown[1].at(2 * x, 2 * y) + 3);
    EXPECT_EQ(first_difference(shown[0], halved), "") << "1920 x 1200 halved against the window's frame";
}

// With the music file present and the disk audio driver, the sound that SDL writes is not silence; without
// the file, the same run writes only silence (so the sound does come from the track).
TEST_F(DemoRun, MusicIsPlayedWhenTheFileIsPresent)
{
    if (!file_exists(MUSIC_FILE))
        GTEST_SKIP() << "no " MUSIC_FILE " in this build";
    auto peak_of_run = [&](const char* name) {
        const std::string sound = dir / name;
        const RunResult result = run_demo(
            {"VCLOCK_STEP=10000"}, {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + sound, "SDL_DISKAUDIODELAY=5"});
        EXPECT_TRUE(result.exited && result.status == 0) << "expected exit status 0, got " << describe(result);
        const std::vector<int> samples = s16_samples(sound);
        EXPECT_GT(samples.size(), 16384u * 2) << "expected some audio buffers in " << name;
        return peak(samples);
    };
    EXPECT_EQ(peak_of_run("silent.raw"), 0) << "expected silence without the music file";
    ASSERT_EQ(symlink(MUSIC_FILE, (dir / "Tarnhollow_4.mp3").c_str()), 0);
    EXPECT_GT(peak_of_run("music.raw"), 1000) << "expected a peak above 1000 of 32767 with the music file";
}

}   // namespace
