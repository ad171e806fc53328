// What every tool shares: the command line's convention (the strict numbers, --help, --version and bad arguments of
// each tool) and the supervisor's handling of children. No display is needed: every run here ends before a window
// would open.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <thread>

#include "children.h"
#include "command_line.h"
#include "program_run.h"

namespace {

const char* const tools[][2] = {{CAPTURE_BINARY, "capture"},  {FLASH_BINARY, "flash"},
                                {PREVIEW_BINARY, "preview"},  {PREVIEW_1920X1200_BINARY, "preview"},
                                {BENCH_BINARY, "demo_bench"}, {COMPARE_FRAMES_BINARY, "compare_frames"}};

std::string first_line(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

}   // namespace

TEST(StrictNumbers, TheWholeArgumentWithinItsRange)
{
    struct Row {
        const char* text;
        bool number, whole;   // taken as a number from 0 to 100, as a whole number from 0 to 100
    };
    // clang-format off
    const Row rows[] = {{"3", true, true}, {"2.5", true, false}, {"100", true, true}, {"0", true, true},
                        {"3x", false, false}, {"", false, false}, {"1e999", false, false}, {"nan", false, false},
                        {"inf", false, false}, {" 3", false, false}, {"-1", false, false}, {"100.5", false, false},
                        {"0x10", true, false}, {"99999999999999999999", false, false}};
    // clang-format on
    for (const Row& row : rows) {
        double number = 0;
        long whole = 0;
        EXPECT_EQ(strict_number(row.text, 0, 100, &number), row.number) << "'" << row.text << "'";
        EXPECT_EQ(strict_whole(row.text, 0, 100, &whole), row.whole) << "'" << row.text << "'";
    }
}

// A bad argument: status 2, nothing on stdout, one line naming the tool and the problem on stderr, then the usage.
TEST(ToolCommandLines, BadArgumentsAreOneLineAndTheUsage)
{
    const std::vector<std::vector<std::string>> rows = {
        {CAPTURE_BINARY, "--fps", "3x", "capture: --fps must be a number from 1 to 1000, not '3x'"},
        {CAPTURE_BINARY, "--crf", "", "capture: --crf must be a whole number from 0 to 51, not ''"},
        {CAPTURE_BINARY, "--still", "1e999", "capture: --still must be a number from 0 to 136, not '1e999'"},
        {CAPTURE_BINARY, "--speed", "2", "capture: unknown option '--speed'"},
        {CAPTURE_BINARY, "-o", "capture: -o needs a value"},
        {CAPTURE_BINARY, "--still", "1", "extra", "capture: unexpected operand 'extra'"},
        {CAPTURE_BINARY, "--from", "130", "--duration", "10", "--still", "1",
         "capture: the interval 130 s to 140 s runs past the end of the show at 136 s"},
        {CAPTURE_BINARY, "--from", "5", "--to", "4", "--still", "1",
         "capture: the interval must end after it starts (from 5 s to 4 s)"},
        {CAPTURE_BINARY, "--preset", "quick", "-o", "x.mp4",
         // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): the message is one string
         "capture: --preset must be one of ultrafast, superfast, veryfast, faster, fast, medium, slow, slower and "
         "veryslow, not 'quick'"},
        {CAPTURE_BINARY, "--config", "800x600", "--still", "1",
         "capture: --config must be 960x600, 1920x1200 or 1280x720, not '800x600'"},
        {CAPTURE_BINARY, "--config", "1280x720", "--demo", "d", "--still", "1",
         "capture: give --config or --demo, not both"},
        {CAPTURE_BINARY, "--gentle", "--demo", "d", "--still", "1", "capture: give --gentle or --demo, not both"},
        {CAPTURE_BINARY, "capture: nothing to do: give --output FILE.mp4 and/or --still SECONDS"},
        {FLASH_BINARY, "--show", "--to", "3x", "flash: --to must be a number from 0 to 136, not '3x'"},
        {FLASH_BINARY, "--json=", "v.mkv", "flash: --json needs a file name"},
        {FLASH_BINARY, "v.mkv", "--diagonal", "24in", "--distance", "60cmx",
         "flash: --distance must be a number from 0.1 to 100000, not '60cmx'"},
        {FLASH_BINARY, "-x", "v.mkv", "flash: unknown option '-x'"},
        {PREVIEW_BINARY, "--at", "137", "preview: --at must be a number from 0 to 136, not '137'"},
        {PREVIEW_BINARY, "--at", "preview: --at needs a value"},
        {PREVIEW_BINARY, "--shaders", "/no/such/folder", "preview: --shaders: no folder '/no/such/folder'"},
        {PREVIEW_1920X1200_BINARY, "--loop", "preview: unknown option '--loop'"},
        {BENCH_BINARY, "3x", "demo_bench: FRAMES must be a whole number from 1 to 10000, not '3x'"},
        {BENCH_BINARY, "--csv", "demo_bench: --csv needs a value"},
        {COMPARE_FRAMES_BINARY, "--gain", "1e999", "a.png", "b.png",
         "compare_frames: --gain must be a whole number from 1 to 255, not '1e999'"},
        {COMPARE_FRAMES_BINARY, "a.png",
         "compare_frames: two frames to compare and at most a difference image, not 1 files"},
    };
    for (const std::vector<std::string>& row : rows) {
        const std::vector<std::string> argv(row.begin(), row.end() - 1);
        SCOPED_TRACE(row.back());
        const RunResult result = run_program(argv, {"DISPLAY"}, "", 30, {}, true);
        EXPECT_TRUE(result.exited && result.status == 2) << describe(result);
        EXPECT_EQ(result.output, "");
        EXPECT_EQ(first_line(result.errors), row.back());
        EXPECT_EQ(result.errors.find("\nusage: "), first_line(result.errors).size()) << result.errors;
    }
}

// --help: the usage on stdout; --version: the tool's name and the project's version; status 0 and no stderr.
TEST(ToolCommandLines, HelpAndVersion)
{
    for (const auto& [binary, name] : tools) {
        SCOPED_TRACE(binary);
        for (const char* option : {"-h", "--help", "--version"}) {
            const RunResult result = run_program({binary, option}, {"DISPLAY"}, "", 30, {}, true);
            EXPECT_TRUE(result.exited && result.status == 0) << option << ": " << describe(result);
            EXPECT_EQ(result.errors, "") << option;
            const std::string expected = std::string(option) == "--version" ? std::string(name) + " " + PROJECT_VERSION
                                                                            : std::string("usage: ") + name;
            EXPECT_EQ(result.output.compare(0, expected.size(), expected), 0) << option << ": " << result.output;
        }
    }
}

// Stopping a child: SIGTERM, the grace to end (a child that traps it leaves its mark and exits), then SIGKILL for
// one that ignores it, once the grace is over; a child that dies by a signal is reported with that signal.
TEST(Children, StoppingGivesGraceAfterTermThenKills)
{
    const TempDir dir;
    const std::string mark = dir / "mark";
    struct Row {
        std::string script;
        std::string status;
        bool marked;
    };
    const Row rows[] = {
        {"trap 'echo termed >\"" + mark + "\"; exit 0' TERM; : >\"" + mark + "\"; while :; do sleep 0.05; done",
         "exit status 0", true},
        {"trap '' TERM; : >\"" + mark + "\"; while :; do sleep 0.05; done",
         "killed by signal 9 (" + std::string(strsignal(SIGKILL)) + ")", false},
    };
    const double grace = 1;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.script);
        std::filesystem::remove(mark);
        Child child;
        ASSERT_TRUE(start_child(child, {"/bin/sh", "-c", row.script}, {}, "", {}));
        while (!file_exists(mark))   // the trap is set
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const auto started = std::chrono::steady_clock::now();
        const int status = stop_child(child, grace);
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_EQ(describe_status(status), row.status);
        EXPECT_EQ(read_file(mark) == "termed\n", row.marked);
        if (!row.marked) {
            EXPECT_GE(took, grace) << "expected SIGKILL only after the grace";
        }
    }
}
