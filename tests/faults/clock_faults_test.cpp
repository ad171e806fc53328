// The demo stopped with SIGSTOP for 3 s and continued: the show's clock is the system timer, so the pause is
// show time and the run still ends 136 s after its start, not 3 s later.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>
#include <tuple>

#include "program_run.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_between(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

// State letter of a process from /proc/PID/stat ('T' when stopped), or '?'.
char process_state(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t paren = text.rfind(')');
    return paren != std::string::npos && paren + 2 < text.size() ? text[paren + 2] : '?';
}

using PausedProcess = DemoRun;

// vclock's real-timer mode: the clock follows SDL's own timer, jumping 128 s ahead at the first swap, so the
// show's last 8 s play in real time. Once the second frame is shown, the test waits 1 s, stops the process
// for 3 s and continues it. Expected: exit status 0; the wall time from the first swap to the exit equals
// the show time still left then (136 s - T(1)) within -0.2 / +1.5 s (the last frame and the exit), where
// a pause that is not counted would add 3 s; a gap of at least 3 s between two frames' times, with frames
// after it; the last frame drawn at t <= 136 s and the reading after it > 136 s.
TEST_F(PausedProcess, StoppedAndContinuedTheShowEndsOnTime)
{
    const int64_t skip = 128000, show = 136000, pause_ms = 3000;
    std::atomic<bool> done{false};
    Clock::time_point first_swap_seen{}, stopped_at{}, continued_at{};
    bool saw_first_swap = false, was_stopped = false, stopped_in_time = false;
    std::thread pauser;

    auto swaps_logged = [&] { return log().swaps.size(); };
    auto on_start = [&](pid_t pid) {
        pauser = std::thread([&, pid] {
            const auto wait_until = [&](size_t swaps) {
                while (!done && swaps_logged() < swaps)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                return !done.load();
            };
            if (!wait_until(1))
                return;
            saw_first_swap = true;
            first_swap_seen = Clock::now();
            if (!wait_until(2))
                return;
            std::this_thread::sleep_for(std::chrono::seconds(1));
            if (done)
                return;
            stopped_in_time = true;
            stopped_at = Clock::now();
            kill(pid, SIGSTOP);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            was_stopped = process_state(pid) == 'T';
            std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms - 100));
            continued_at = Clock::now();
            kill(pid, SIGCONT);
        });
    };

    const RunResult result = run_program({DEMO_BINARY}, demo_environment({"VCLOCK_REAL_SKIP=" + std::to_string(skip)}),
                                         dir.path, 60, on_start);
    const Clock::time_point exited_at = Clock::now();
    done = true;
    if (pauser.joinable())
        pauser.join();

    EXPECT_TRUE(result.exited && result.status == 0)
        << "expected exit status 0, got " << describe(result) << "; output:\n"
        << result.output;
    ASSERT_TRUE(saw_first_swap && stopped_in_time) << "expected the run to last past 1 s after its second frame";
    EXPECT_TRUE(was_stopped) << "expected the process to be in state T after SIGSTOP";

    const ClockLog clock = log();
    ASSERT_GE(clock.swaps.size(), 3u);
    EXPECT_EQ(clock.exit_swaps, static_cast<long>(clock.swaps.size())) << "expected a normal exit after the last swap";
    const int64_t first = static_cast<int64_t>(clock.swaps[0].clock);   // T(1): the skip plus frame 0's time
    const double left = static_cast<double>(show - first) / 1000.0;
    const double wall = seconds_between(first_swap_seen, exited_at);
    printf("first swap at show time %lld ms; %.2f s of show left; exit %.2f s after the first swap; %zu frames\n",
           static_cast<long long>(first), left, wall, clock.swaps.size());
    EXPECT_GE(wall, left - 0.2) << "expected the run to last the " << left << " s of show left after frame 0";
    EXPECT_LE(wall, left + 1.5) << "expected the run to end " << left << " s after the first swap (+1.5 s for the "
                                << "last frame and the exit): the " << pause_ms / 1000.0
                                << " s pause is show time; it took " << wall << " s";
    EXPECT_NEAR(seconds_between(stopped_at, continued_at), pause_ms / 1000.0, 0.05) << "the pause itself";

    int64_t largest_gap = 0;
    size_t after_gap = 0;
    for (size_t i = 1; i < clock.swaps.size(); ++i) {
        const int64_t gap = static_cast<int64_t>(clock.swaps[i].clock) - static_cast<int64_t>(clock.swaps[i - 1].clock);
        if (gap > largest_gap) {
            largest_gap = gap;
            after_gap = clock.swaps.size() - 1 - i;
        }
    }
    EXPECT_GE(largest_gap, pause_ms) << "expected the pause to show as a gap of at least 3000 ms between frames";
    EXPECT_GE(after_gap, 1u) << "expected frames drawn after the pause";

    const vclock::SwapLine& last = clock.swaps.back();
    EXPECT_LE(last.frame_ms, show) << "expected the last frame drawn at t <= 136 s";
    EXPECT_GT(static_cast<int64_t>(last.clock), show) << "expected the reading after the last frame > 136 s";
    EXPECT_LE(static_cast<int64_t>(clock.swaps[clock.swaps.size() - 2].clock), show)
        << "expected the reading after the frame before the last <= 136 s (else the run went on too long)";
}

// vclock's settings in other hands than their owner's (rows 1, 2) and jumps whose sound passes a WAV's 4 GiB, with
// files limited to 64 MiB meanwhile. Expected: status 0, or 2 and the row's line; the log holds the owner's N frames
// alone (swaps 1..N, rising clocks, "exit swaps N", -1: no exit line); a refused run writes no sound.
TEST_F(DemoRun, VclockSettingsAreWrittenByTheirOwnerAloneAndNoJumpPassesAWav)
{
    const std::string demo = DEMO_BINARY, probe = GL_ERROR_PROBE, wav = dir / "sound.wav";
    const std::string audio = "VCLOCK_AUDIO=" + wav, jump = "VCLOCK_FIRST=4294967295";
    const std::string big = " (its audio passes the 4 GiB a WAV holds, 24347 s at 44100 Hz, 2 channels): '";
    const std::tuple<std::vector<std::string>, std::vector<std::string>, std::string, long> cases[] = {
        {{"/bin/sh", "-c", demo + "; /bin/true"}, {"VCLOCK_STEP=34000"}, "", 5},   // a command after the demo
        {{probe, "VCLOCK_BASE=5000 " + probe}, {}, "", 2},   // an SDL program started between the probe's frames
        {{demo}, {jump, "VCLOCK_STEP=1e9", audio}, "vclock: bad VCLOCK_FIRST" + big + "4294967295'", -1},
        {{demo}, {"VCLOCK_STEP=1e9", audio}, "vclock: bad VCLOCK_STEP" + big + "1e9'", -1},
        {{demo}, {jump, "VCLOCK_STEP=1e9"}, "", 1},
    };
    rlimit files{};
    getrlimit(RLIMIT_FSIZE, &files);
    const rlimit small = {64 << 20, files.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    for (const auto& [argv, settings, line, frames] : cases) {
        SCOPED_TRACE(argv.back() + " " + testing::PrintToString(settings));
        for (const std::string& file : {dir / "clock.log", wav})
            remove(file.c_str());
        const RunResult result = run_program(argv, demo_environment(settings), dir.path, 60);
        EXPECT_EQ(describe(result), line.empty() ? "exit status 0" : "exit status 2") << result.output;
        EXPECT_TRUE(line.empty() || has_line(result.output, line)) << "expected the line " << line;
        const ClockLog clock = log();
        bool owners = clock.exit_swaps == frames && clock.swaps.size() == static_cast<size_t>(std::max(frames, 0L));
        for (size_t i = 0; owners && i < clock.swaps.size(); ++i)
            owners = clock.swaps[i].swap == i + 1 && (i == 0 || clock.swaps[i].clock > clock.swaps[i - 1].clock);
        EXPECT_TRUE(owners) << "expected the owner's frames alone:\n" << read_file(dir / "clock.log");
        EXPECT_FALSE(!line.empty() && file_exists(wav)) << "expected no sound written";
    }
    setrlimit(RLIMIT_FSIZE, &files);
}

}   // namespace
