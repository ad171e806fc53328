// The real preview under vclock, keys injected, against the real demo: its frames at any time, pause, seeks, steps,
// landmarks, the loop and the end are the demo's frames at the times they show, byte for byte; the music follows the
// picture; the programs are rebuilt from edited stage files. Needs DISPLAY; the music test needs ffmpeg.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "frame8.h"
#include "mp3_encode.h"
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
        std::vector<std::string> times(times_ms.size());
        std::transform(times_ms.begin(), times_ms.end(), times.begin(), [](int ms) { return std::to_string(ms); });
        const std::string last = std::to_string(times.size());
        const RunResult result =
            run_demo({"VCLOCK_TIMES=" + joined(times), "VCLOCK_GRAB=" + dir / "demo.ppm",
                      "VCLOCK_GRAB_FRAMES=1-" + last, "VCLOCK_EVENTS=" + std::to_string(times.size() + 1) + ":escape"});
        EXPECT_TRUE(result.exited && result.status == 0) << "demo: " << describe(result) << "\n" << result.output;
        return read_frames(dir / "demo.ppm");
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
        return read_frames(dir / "p.ppm");
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
        const std::vector<Frame8> shown =
            preview_frames({"--at", std::to_string(times[i] / 1000.0)}, "1000", {"1:escape"});
        ASSERT_EQ(shown.size(), 1u) << "expected one frame before Escape";
        EXPECT_EQ(first_difference(demo[i], shown[0]), "") << "--at " << times[i] << " ms";
    }
}

// Paused after frame 0 (20 s) at 21 s for three frames, resumed after frame 3: 21 s, then 22 s.
TEST_F(PreviewRun, PauseHoldsTheFrameAndResumeGoesOnFromThere)
{
    const std::vector<Frame8> frames = preview_frames({"--at", "20"}, "1000", {"1:key:32", "4:key:32", "6:escape"});
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
    const Move moves[] = {{"275", 21000}, {"46", 21017}, {"44", 21000}, {"281", 31000}, {"280", 21000}, {"276", 20000},
                          {"50", 4300},   {"51", 9000},  {"52", 36000}, {"53", 95000},  {"54", 130000}, {"278", 0}};
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

// vclock's captured sound (stereo 16-bit at 44100 Hz) as mono samples.
std::vector<int16_t> captured_mono(const std::string& path)
{
    const std::vector<int> stereo = s16_samples(path, wav_header_bytes);
    std::vector<int16_t> mono(stereo.size() / 2);
    for (size_t i = 0; i < mono.size(); ++i)
        mono[i] = static_cast<int16_t>((stereo[2 * i] + stereo[2 * i + 1]) / 2);
    return mono;
}

constexpr int rate = 44100;   // samples per second

// How many samples heard is ahead of the track where it should be, skip samples after the picture's sample at
// show_ms: the best correlation within 40 ms either way, every sample tried.
long ahead_of_track(const std::vector<int16_t>& heard, int show_ms, long skip, double& best)
{
    const int from_ms = show_ms / 10 * 10 - 500;   // whole samples, and past the frames ffmpeg's seek decodes wrong
    const long search = 40L * rate / 1000,
               at = static_cast<long>(show_ms) * rate / 1000 - from_ms * long{rate} / 1000 + skip;
    const std::vector<int16_t> track =
        decode_audio(MUSIC_FILE, from_ms / 1000.0, static_cast<double>(heard.size() + at + search) / rate + 0.1);
    best = -1;
    if (track.size() < heard.size() + at + search)
        return 0;
    long best_lag = 0;
    for (long lag = -search; lag <= search; ++lag) {
        const auto start = track.begin() + at + lag;
        const double alike = correlation(heard, std::vector<int16_t>(start, start + static_cast<long>(heard.size())));
        if (alike > best) {
            best = alike;
            best_lag = lag;
        }
    }
    return best_lag;
}

// The music follows the picture (100 ms a frame, from 20 s): Right at 0.3 s, Left at 1 s, Space at 1.7 s, a step at
// 2 s, landmark 5 at 2.4 s, Space at 2.5 s, the loop 95.2-95.4 s set by 2.9 s. After each jump the sound is the
// track from the picture's sample, late by the part of the 1024-sample buffer already mixed (printed, in samples);
// while paused, silence but for the step's sixtieth of a second (735 samples), the track at the picture's sample.
TEST_F(PreviewRun, MusicFollowsEverySeekAndIsSilentWhilePaused)
{
    if (!file_exists(MUSIC_FILE))
        GTEST_SKIP() << "no " MUSIC_FILE " in this build";
    ASSERT_EQ(symlink(MUSIC_FILE, (dir / "Tarnhollow_4.mp3").c_str()), 0);
    const RunResult result =
        run_preview({"--at", "20"},
                    {"VCLOCK_STEP=100",
                     "VCLOCK_EVENTS=3:key:275,10:key:276,17:key:32,20:key:46,24:key:53,25:key:32,27:key:91,29:key:93,"
                     "32:escape",
                     "VCLOCK_AUDIO=" + dir / "sound.wav"});
    ASSERT_TRUE(result.exited && result.status == 0) << describe(result) << "\n" << result.output;
    const std::vector<int16_t> sound = captured_mono(dir / "sound.wav");
    constexpr long buffer = 1024;   // the preview's mixing buffer, sample frames

    struct Jump {
        int clock_ms;   // when the picture jumped
        int show_ms;    // to where
        const char* what;
    };
    const Jump jumps[] = {
        {300, 21300, "Right"}, {1000, 21000, "Left"}, {2500, 95000, "landmark 5, resumed"}, {2900, 95200, "the loop"}};
    for (const Jump& jump : jumps) {
        const long moved = static_cast<long>(jump.clock_ms) * rate / 1000, from = moved + buffer;   // new sound only
        ASSERT_LE(static_cast<size_t>(from + rate / 10), sound.size()) << "the capture ends before " << jump.what;
        const std::vector<int16_t> heard(sound.begin() + from, sound.begin() + from + rate / 10);
        double best = 0;
        const long ahead = ahead_of_track(heard, jump.show_ms, buffer, best);
        const long mixed = (moved + buffer - 1) / buffer * buffer - moved;   // already mixed when it jumped
        printf("after %s the sound is %ld samples ahead of the picture (correlation %.3f)\n", jump.what, ahead, best);
        EXPECT_TRUE(best > 0.99 && ahead == -mixed)
            << "expected the track from " << jump.show_ms << " after " << jump.what;
    }
    // The step (period) from 21.7 s, to the frame 1303 at 21717 ms, heard alone while paused.
    const auto paused = sound.begin() + 1700L * rate / 1000 + buffer, resumed = sound.begin() + 2500L * rate / 1000;
    const auto sounds = [](int16_t sample) { return sample != 0; };
    const auto first = std::find_if(paused, resumed, sounds);
    const long heard =
        std::find_if(std::make_reverse_iterator(resumed), std::make_reverse_iterator(first), sounds).base() - first;
    double best = 0;
    const long ahead = ahead_of_track(std::vector<int16_t>(first, first + rate / 60), 21717, 0, best);
    printf("the step plays %ld samples, %ld ahead of the picture (correlation %.3f)\n", heard, ahead, best);
    EXPECT_EQ(heard, rate / 60) << "expected a sixtieth of a second of sound while paused";
    EXPECT_TRUE(ahead == 0 && best > 0.99) << "expected the step to be the track from the picture's sample";
}

// Replaces a file's contents at once (a new file renamed over it), as editors save.
void replace_file(const std::string& path, const std::string& contents)
{
    const std::string fresh = path + ".new";
    std::ofstream(fresh, std::ios::binary) << contents;
    ASSERT_EQ(rename(fresh.c_str(), path.c_str()), 0) << path;
}

// Paused at 20 s on a copy of the stage files, edited while it runs, 4 frames after each edit is grabbed: the ring
// made blue changes the frame; a syntax error added to it prints the compiler's log and keeps the blue ring; the
// original text brings the first frame back.
TEST_F(PreviewRun, EditedStagesRebuildTheProgramsAndABrokenOneKeepsTheLastGood)
{
    const std::string shaders = dir / "shaders";
    ASSERT_EQ(mkdir(shaders.c_str(), 0755), 0);
    for (const auto& stage : std::filesystem::directory_iterator(SHADER_SOURCE_DIR))
        replace_file(shaders + "/" + stage.path().filename().string(), read_file(stage.path()));
    const std::string ring = shaders + "/effect1.glsl", original = read_file(ring), red = "vec3(0.6, 0.0, 0.0)";
    std::string blue = original;
    ASSERT_NE(blue.find(red), std::string::npos) << "the ring's colour should be " << red;
    blue.replace(blue.find(red), red.size(), "vec3(0.0, 0.0, 0.6)");

    struct Edit {
        unsigned after_swap;
        std::string text;
    };
    const Edit edits[] = {{2, blue}, {7, blue + "\nthis line is not GLSL\n"}, {12, original}};
    std::thread editor;
    const auto edit_while_running = [&](pid_t) {
        editor = std::thread([&] {
            const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            for (const Edit& edit : edits) {
                while (log().swaps.size() < edit.after_swap && std::chrono::steady_clock::now() < give_up)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                replace_file(ring, edit.text);
            }
        });
    };
    const RunResult result = run_program(
        {PREVIEW_BINARY, "--at", "20", "--paused", "--shaders", shaders},
        demo_environment({"VCLOCK_EVENTS=17:escape", "VCLOCK_GRAB=" + dir / "p.ppm", "VCLOCK_GRAB_FRAMES=1,6,11,16"}),
        dir.path, 60, edit_while_running);
    if (editor.joinable())
        editor.join();
    ASSERT_TRUE(result.exited && result.status == 0) << describe(result) << "\n" << result.output;

    const std::vector<Frame8> frames = read_frames(dir / "p.ppm");
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_NE(first_difference(frames[0], frames[1]), "") << "the blue ring should change the frame";
    EXPECT_EQ(first_difference(frames[1], frames[2]), "") << "a broken stage should leave the blue ring shown";
    EXPECT_EQ(first_difference(frames[0], frames[3]), "") << "the original text should bring the first frame back";
    EXPECT_NE(result.output.find("error: syntax error"), std::string::npos) << "the compiler's log:\n" << result.output;
    EXPECT_TRUE(has_line(result.output,
                         "preview: a program of " + shaders + " does not link; the last good programs stay in use"))
        << result.output;
    EXPECT_EQ(occurrences(result.output, "preview: programs rebuilt from " + shaders), 2u) << result.output;
}

// Stage files it cannot use, there when it starts, an installed copy given no folder, and music of no MPEG audio: one
// line each (a fifo in the music's place after the start is not read, even on a seek), the embedded programs stay
// (the demo's frame at 20 s), it runs on. A file in /proc, longer than its size says, stands for one that grows.
TEST_F(PreviewRun, UnusableFilesAreOneLineAndItRunsOn)
{
    const std::vector<Frame8> demo = demo_frames({20000});
    const std::string shaders = dir / "shaders", greet = shaders + "/greet.glsl", music = dir / "Tarnhollow_4.mp3";
    const std::string cannot = "preview: cannot read " + greet + ": ", stay = "; the last good programs stay in use";
    const std::string stage = read_file(SHADER_SOURCE_DIR "/greet.glsl"),
                      big = std::string(1 << 20, '/') + "\n" + stage;
    struct Case {
        const char* what;
        std::function<void()> make, after_first_frame;
        std::string line, events = "2:escape";
    };
    const Case cases[] = {
        {"a directory", [&] { mkdir(greet.c_str(), 0755); }, {}, cannot + "a directory" + stay},
        {"a fifo", [&] { mkfifo(greet.c_str(), 0644); }, {}, cannot + "not a regular file" + stay},
        {"removed", [] {}, {}, cannot + "No such file or directory" + stay},
        {"a valid stage over 1 MiB", [&] { write_file(greet, big); }, {}, cannot + "larger than 1 MiB" + stay},
        {"longer than its size",
         [&] { symlink("/proc/self/status", greet.c_str()); },
         {},
         cannot + "changed while it was read" + stay},
        {"music replaced by a fifo after the start, then a seek", [&] { write_file(greet, stage); },
         [&] {
             std::filesystem::remove(music);
             mkfifo(music.c_str(), 0644);
         },
         "", "2:key:275,10:key:32,12:escape"},
        {"music that is no MPEG audio",
         [&] { write_file(greet, stage), write_file(music, std::string(4096, 'x')); },
         {},
         "Mix_LoadMUS() failed: Tarnhollow_4.mp3 holds no MPEG audio stream"},
        {"installed, no --shaders",
         [&] { std::filesystem::copy_file(PREVIEW_BINARY, dir / "preview"); },
         {},
         "preview: the embedded stages are shown; --shaders DIR watches a folder of stage files"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(shaders);
        std::filesystem::copy(SHADER_SOURCE_DIR, shaders);
        std::filesystem::remove(greet);
        remove(music.c_str());
        write_file(music, encode_mp3({}));
        c.make();
        for (const char* old : {"p.ppm", "clock.log"})
            remove((dir / old).c_str());
        const bool installed = file_exists(dir / "preview");
        std::vector<std::string> argv = {installed ? dir / "preview" : PREVIEW_BINARY, "--at", "20", "--paused"};
        if (!installed)
            argv.insert(argv.end(), {"--shaders", shaders});
        std::thread changer;   // as the edit test's editor: waits for the first frame in the clock's log
        const RunResult result = run_program(
            argv,
            demo_environment({"VCLOCK_EVENTS=" + c.events, "VCLOCK_GRAB=" + dir / "p.ppm", "VCLOCK_GRAB_FRAMES=1"}),
            dir.path, 30, [&](pid_t) {
                changer = std::thread([&] {
                    for (int tries = 0; c.after_first_frame && log().swaps.empty() && tries < 6000; ++tries)
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    if (c.after_first_frame)
                        c.after_first_frame();
                });
            });
        if (changer.joinable())
            changer.join();
        EXPECT_TRUE(result.exited && result.status == 0) << describe(result) << "\n" << result.output;
        EXPECT_EQ(result.output, c.line.empty() ? "" : c.line + "\n");
        const std::vector<Frame8> frames = read_frames(dir / "p.ppm");
        EXPECT_EQ(frames.empty() ? "no frame shown" : first_difference(demo.at(0), frames[0]), "")
            << "expected the embedded programs' frame";
    }
}

}   // namespace
