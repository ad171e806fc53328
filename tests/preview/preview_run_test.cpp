// The real preview under vclock, keys injected, against the real demo: its frames at any time, pause, seeks, steps,
// landmarks, the loop and the end are the demo's frames at the times they show, byte for byte; the music follows the
// picture; the programs are rebuilt from edited stage files. Needs DISPLAY; the music test needs ffmpeg.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "frame8.h"
#include "program_run.h"
#include "track_audio.h"

namespace {

// Comma-separated, for vclock's lists.
std::string joined(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ",") + item;
    return text;
}

class PreviewRun : public DemoRun {
protected:
    // The demo's frames drawn at these show times (milliseconds), in order.
    std::vector<Frame8> demo_frames(const std::vector<int>& times_ms)
    {
        std::vector<std::string> times;
        for (const int ms : times_ms)
            times.push_back(std::to_string(ms));
        const std::string last = std::to_string(times.size());
        const RunResult result = run_demo({"VCLOCK_TIMES=" + joined(times), "VCLOCK_GRAB=" + dir / "demo.ppm",
                                           "VCLOCK_GRAB_FRAMES=1-" + last, 
                                           "VCLOCK_EVENTS=" + std::to_string(times.size() + 1) + ":escape"});
        EXPECT_TRUE(result.exited && result.status == 0) << "demo: " << describe(result) << "\n" << result.output;
        return read_grabbed_frames(dir / "demo.ppm");
    }

    // Every frame of a preview run with these arguments, clock step and events; it must quit with status 0.
    std::vector<Frame8> preview_frames(const std::vector<std::string>& arguments, const std::string& step_ms,
                                       const std::vector<std::string>& events, RunResult* ran = nullptr)
    {
        const RunResult result = run_preview(
            arguments, {"VCLOCK_STEP=" + step_ms, "VCLOCK_EVENTS=" + joined(events), "VCLOCK_GRAB=" + dir / "p.ppm"});
        EXPECT_TRUE(result.exited && result.status == 0) << "preview: " << describe(result) << "\n" << result.output;
        if (ran)
            *ran = result;
        return read_grabbed_frames(dir / "p.ppm");
    }

    // Expects frame i of the preview to be the demo's frame at expected_ms[i] for every i.
    void expect_demo_frames(const std::vector<Frame8>& frames, const std::vector<int>& expected_ms)
    {
        const std::vector<Frame8> demo = demo_frames(expected_ms);
        ASSERT_EQ(demo.size(), expected_ms.size());
        ASSERT_GE(frames.size(), expected_ms.size()) << "the preview showed too few frames";
        for (size_t i = 0; i < expected_ms.size(); ++i)
            EXPECT_EQ(first_difference(demo[i], frames[i]), "")
                << "preview frame " << i << " should be the demo's frame at " << expected_ms[i] << " ms";
    }
};

TEST_F(PreviewRun, AtGivesTheDemosFrameAtThatTime)
{
    const std::vector<int> times = {500, 4400, 20000, 110000};
    const std::vector<Frame8> demo = demo_frames(times);
    ASSERT_EQ(demo.size(), times.size());
    for (size_t i = 0; i < times.size(); ++i) {
        const std::vector<Frame8> shown = preview_frames({"--at", std::to_string(times[i] / 1000.0)}, "1000",
                                                         {"1:escape"});
        ASSERT_EQ(shown.size(), 1u) << "expected one frame before Escape";
        EXPECT_EQ(first_difference(demo[i], shown[0]), "") << "--at " << times[i] << " ms";
    }
}

// Paused after frame 0 (20 s) at 21 s for three frames, resumed after frame 3: 21 s, then 22 s.
TEST_F(PreviewRun, PauseHoldsTheFrameAndResumeGoesOnFromThere)
{
    const std::vector<Frame8> frames =
        preview_frames({"--at", "20"}, "1000", {"1:key:32", "4:key:32", "6:escape"});
    ASSERT_EQ(frames.size(), 6u);
    expect_demo_frames(frames, {20000, 21000, 21000, 21000, 21000, 22000});
}

// Paused at 20 s, one key after each frame; each frame shows the time the key moved to.
TEST_F(PreviewRun, SeeksStepsAndLandmarksShowTheDemosFramesAtTheirTimes)
{
    struct Move {
        const char* key;   // vclock's key:SYM
        int to_ms;
    };
    // Right, period, comma, Page Down, Page Up, Left, the digits 2 to 6, Home (decimal key symbols).
    const Move moves[] = {{"275", 21000}, {"46", 21017}, {"44", 21000}, {"281", 31000},  {"280", 21000},
                          {"276", 20000}, {"50", 4300}, {"51", 9000}, {"52", 36000},   {"53", 95000},
                          {"54", 130000}, {"278", 0}};
    std::vector<std::string> events;
    std::vector<int> expected = {20000};
    for (const Move& move : moves) {
        events.push_back(std::to_string(expected.size()) + ":key:" + move.key);
        expected.push_back(move.to_ms);
    }
    events.push_back(std::to_string(expected.size()) + ":escape");
    expect_demo_frames(preview_frames({"--at", "20", "--paused"}, "1000", events), expected);
}

// Playing from 9 s, 500 ms a frame: [ at 9.5 s, ] at 10.5 s, then 9.5 s and 10 s again, until Backspace.
TEST_F(PreviewRun, LoopPlaysFromItsStartAgainAfterItsEnd)
{
    const std::vector<Frame8> frames =
        preview_frames({"--at", "9"}, "500", {"1:key:[", "3:key:]", "7:key:8", "9:escape"});
    ASSERT_EQ(frames.size(), 9u);
    expect_demo_frames(frames, {9000, 9500, 10000, 9500, 10000, 9500, 10000, 10500, 11000});
}

// From 135 s at 500 ms a frame: 135.5 s, then 136 s for every later frame; Escape still quits with status 0.
TEST_F(PreviewRun, PausesOnTheLastFrameAtTheEndAndEscapeQuits)
{
    const std::vector<Frame8> frames = preview_frames({"--at", "135"}, "500", {"6:escape"});
    ASSERT_EQ(frames.size(), 6u);
    expect_demo_frames(frames, {135000, 135500, 136000, 136000, 136000, 136000});
}

TEST_F(PreviewRun, BadArgumentsAreOneLineAndTheUsageWithStatus2)
{
    const std::string usage = "usage: preview [--at SECONDS] [--paused] [--shaders DIR]";
    struct Case {
        std::vector<std::string> arguments;
        std::string line;
    };
    const Case cases[] = {
        {{"--at", "137"}, "preview: --at takes seconds from 0 to 136, not '137'"},
        {{"--at", "-1"}, "preview: --at takes seconds from 0 to 136, not '-1'"},
        {{"--at", "4s"}, "preview: --at takes seconds from 0 to 136, not '4s'"},
        {{"--at"}, "preview: --at needs a value"},
        {{"--shaders", dir / "none"}, "preview: --shaders: no folder '" + dir / "none" + "'"},
        {{"--loop"}, "preview: unknown argument '--loop'"},
    };
    for (const Case& c : cases) {
        const RunResult result = run_preview(c.arguments, {});
        EXPECT_TRUE(result.exited && result.status == 2) << c.line << ": " << describe(result);
        EXPECT_EQ(result.output, std::string(c.line) + "\n" + usage + "\n");
    }
}

}  // namespace
