// Running the real programs for the tests: any command with a changed environment and a time limit, the demo
// under vclock in a fresh folder (the DemoRun fixture), and reading what they printed, logged and played.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "temp_dir.h"
#include "vclock_protocol.h"

struct RunResult {
    bool exited = false;   // ended through exit(); otherwise killed by a signal or the time limit
    int status = -1;       // exit status when exited
    int signal = 0;        // the signal that ended it, when not exited
    bool timed_out = false;
    std::string output;   // stdout and stderr together, or stdout alone when errors are kept apart
    std::string errors;   // stderr, when kept apart
};

// Runs argv[0] (a path) in directory with the test's environment plus changes, applied in order:
// "NAME=value" sets NAME, "NAME" alone removes it. Output is collected; after limit_seconds the program is stopped
// as capture stops its children (see children.h).
// started, when given, is called with the child's process id as soon as it runs (before its output is read).
// errors_apart: stderr goes to errors instead of output.
RunResult run_program(const std::vector<std::string>& argv, const std::vector<std::string>& environment_changes,
                      const std::string& directory, double limit_seconds,
                      const std::function<void(pid_t)>& started = {}, bool errors_apart = false);

// "exit status 0" / "killed by signal 11" / "timed out", for assertion messages.
std::string describe(const RunResult& result);

// The words of a text split at white space: a row's arguments.
std::vector<std::string> words(const std::string& text);

// Whether output holds this line, exactly; how many times it holds text.
bool has_line(const std::string& output, const std::string& line);
size_t occurrences(const std::string& output, const std::string& text);

// The processes whose working folder is folder or lies inside it: what a run there left behind.
std::vector<pid_t> processes_in(const std::string& folder);

// A display number with no X server behind it.
std::string dead_display();

// The environment that makes a program run under vclock (LD_PRELOAD, after any preload already set; dummy audio;
// none of vclock's settings inherited) plus the given settings ("VCLOCK_STEP=34000", ...).
std::vector<std::string> vclock_environment(const std::vector<std::string>& settings);

// vclock's log: one entry per swap, and the swap count it reported at exit (-1 if the line is missing).
struct ClockLog {
    std::vector<vclock::SwapLine> swaps;
    long exit_swaps = -1;
};
ClockLog read_clock_log(const std::string& path);

// Signed 16-bit little-endian samples of a sound file after its first header_bytes.
std::vector<int> s16_samples(const std::string& path, size_t header_bytes = 0);
constexpr size_t wav_header_bytes = 44;   // vclock's sound files (VCLOCK_AUDIO): a plain WAV header, then PCM
// Largest magnitude among samples [from, to).
int peak(const std::vector<int>& samples, size_t from = 0, size_t to = SIZE_MAX);

// A test that runs the real demo (or a variant of it, or a tool that drives it) in a fresh temporary folder,
// so without its music unless the test puts it there. Needs an X display in DISPLAY.
class DemoRun : public ::testing::Test {
protected:
    void SetUp() override;

    // vclock_environment(settings) with the log in clock.log, then the other changes.
    std::vector<std::string> demo_environment(std::vector<std::string> settings,
                                              const std::vector<std::string>& more = {}) const;
    // binary in the temporary folder with that environment.
    RunResult run_demo(const std::vector<std::string>& settings, const std::vector<std::string>& more = {},
                       const std::string& binary = DEMO_BINARY, double limit_seconds = 60) const;
    // The preview with these arguments in the temporary folder, in the environment of run_demo.
    RunResult run_preview(const std::vector<std::string>& arguments, const std::vector<std::string>& settings,
                          const std::vector<std::string>& more = {}, double limit_seconds = 60) const;
    ClockLog log() const { return read_clock_log(dir / "clock.log"); }

    TempDir dir;
};
