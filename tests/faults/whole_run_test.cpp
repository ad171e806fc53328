// One run of the real demo over the whole show (0 to 136 s at 4 s steps, with its music): no GL error at any
// frame, and memory that does not grow from frame to frame. Also shows that the GL error check
// reports errors where there are some.
#include <algorithm>
#include <cstdio>
#include <sstream>

#include "program_run.h"

namespace {

// Lines of vclock's GL error file that report an error: glGetError codes, debug messages of type error or
// undefined behaviour.
std::vector<std::string> error_lines(const std::string& text)
{
    std::vector<std::string> errors;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const bool code = line.find(" glGetError ") != std::string::npos;
        const bool message = line.compare(0, 6, "debug ") == 0 && (line.find(" error ") != std::string::npos ||
                                                                   line.find(" undefined ") != std::string::npos);
        if (code || message)
            errors.push_back(line);
    }
    return errors;
}

class WholeRun : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new TempDir;
        if (!file_exists(MUSIC_FILE) || symlink(MUSIC_FILE, (*dir / "Tarnhollow_4.mp3").c_str()) != 0)
            return;
        std::vector<std::string> environment = vclock_environment(
            {"VCLOCK_STEP=4000", "VCLOCK_LOG=" + *dir / "clock.log", "VCLOCK_GL_ERRORS=" + *dir / "gl.txt"});
        result = new RunResult(run_program({DEMO_BINARY}, environment, dir->path, 240));
    }
    static void TearDownTestSuite()
    {
        delete result;
        delete dir;
    }
    void SetUp() override
    {
        ASSERT_NE(result, nullptr) << "expected the built track at " MUSIC_FILE " and a run of the demo";
        ASSERT_TRUE(result->exited && result->status == 0)
            << "expected exit status 0, got " << describe(*result) << "; output:\n"
            << result->output;
    }

    static TempDir* dir;
    static RunResult* result;
};
TempDir* WholeRun::dir = nullptr;
RunResult* WholeRun::result = nullptr;

// Expected: the check armed with debug output at the first swap, 35 frames (0..136 s), and no error line:
// neither a glGetError code (start-up or any swap) nor a debug message of type error or undefined.
TEST_F(WholeRun, NoGLErrorAtAnyFrame)
{
    const std::string text = read_file(*dir / "gl.txt");
    EXPECT_NE(text.find("armed debug_output 1\n"), std::string::npos)
        << "expected debug output to be on from the first swap; the check wrote:\n"
        << text;
    EXPECT_NE(text.find("end swaps 35\n"), std::string::npos)
        << "expected the check to cover all 35 frames; the check wrote:\n"
        << text;
    const std::vector<std::string> errors = error_lines(text);
    EXPECT_TRUE(errors.empty()) << "expected no GL error; first: " << (errors.empty() ? "" : errors[0])
                                << "; the check wrote:\n"
                                << text;
}

// Memory after the 3rd swap (the GL driver has compiled what the show needs) and after the last, 32 frames
// later. Expected: the malloc heap in use grows by at most 64 KiB (a leak of 2 KiB a frame would show; the
// resident size alone can hide leaks that reuse memory freed during start-up), and the resident size by at
// most 1 MiB.
TEST_F(WholeRun, MemoryDoesNotGrowFromFrameToFrame)
{
    const ClockLog clock = read_clock_log(*dir / "clock.log");
    ASSERT_EQ(clock.swaps.size(), 35u) << "expected 35 frames";
    const vclock::SwapLine &first = clock.swaps[0], &early = clock.swaps[2], &late = clock.swaps.back();
    ASSERT_GT(early.rss_kb, 0) << "expected vclock to log the resident size";
    ASSERT_GT(early.heap_kb, 0) << "expected vclock to log the heap in use";
    long peak_rss_kb = 0;
    for (const vclock::SwapLine& swap : clock.swaps)
        peak_rss_kb = std::max(peak_rss_kb, swap.rss_kb);
    printf("resident KiB after swaps 1, 3, 35: %ld %ld %ld (peak %ld); heap in use KiB: %ld %ld %ld\n", first.rss_kb,
           early.rss_kb, late.rss_kb, peak_rss_kb, first.heap_kb, early.heap_kb, late.heap_kb);
    EXPECT_LE(late.heap_kb - early.heap_kb, 64)
        << "expected at most 64 KiB more heap in use after swap 35 (" << late.heap_kb << " KiB) than after swap 3 ("
        << early.heap_kb << " KiB)";
    EXPECT_LE(late.rss_kb - early.rss_kb, 1024) << "expected at most 1 MiB more resident after swap 35 (" << late.rss_kb
                                                << " KiB) than after swap 3 (" << early.rss_kb << " KiB)";
}

// The check itself: a program that makes a bad call during start-up (GL_INVALID_ENUM, 0x0500) and one in
// frame 1 (GL_INVALID_VALUE, 0x0501). Expected: the first as a start-up code, the second both as a debug
// message of type error in frame 1 and as a code after swap 2.
TEST(GLErrorCheck, ReportsTheErrorsOfBadCalls)
{
    ASSERT_NE(getenv("DISPLAY"), nullptr) << "expected DISPLAY to name an X server";
    TempDir dir;
    const RunResult result =
        run_program({GL_ERROR_PROBE}, vclock_environment({"VCLOCK_GL_ERRORS=" + dir / "gl.txt"}), dir.path, 60);
    ASSERT_TRUE(result.exited && result.status == 0)
        << "expected the probe to run, got " << describe(result) << "; output:\n"
        << result.output;
    const std::string text = read_file(dir / "gl.txt");
    EXPECT_NE(text.find("start glGetError 0x0500\n"), std::string::npos)
        << "expected the start-up GL_INVALID_ENUM; the check wrote:\n"
        << text;
    EXPECT_NE(text.find("debug frame 1 error "), std::string::npos)
        << "expected a debug message of type error in frame 1; the check wrote:\n"
        << text;
    EXPECT_NE(text.find("swap 2 glGetError 0x0501\n"), std::string::npos)
        << "expected GL_INVALID_VALUE after swap 2; the check wrote:\n"
        << text;
    EXPECT_EQ(error_lines(text).size(), 3u) << "expected exactly those three error lines; the check wrote:\n" << text;
    EXPECT_NE(text.find("end swaps 2\n"), std::string::npos) << "expected the end line; the check wrote:\n" << text;
}

}   // namespace
