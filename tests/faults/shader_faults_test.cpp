// A demo built with a helix vertex stage that does not compile: the compiler's and the linker's logs are
// printed, the show runs to its end with status 0, and the other batches still draw.
#include "frame8.h"
#include "program_run.h"

namespace {

using BrokenStage = DemoRun;

// Frame 0 (t = 0) grabbed from a run at 34 s steps. Expected: the compile error and the link error in the
// output (lines with "error"); exit status 0 after all 5 frames; in the frame, the ring's dark red
// (143, 0, 0) +- 8 on over 0.1% of the pixels and the title's black on over 2% of the middle band, as in the
// intact demo, but next to none of the helix's green (71, 167, 71) +- 8 (under 0.01%; the intact demo shows
// over 1%). The GL error check sees the broken program being made current: GL_INVALID_OPERATION.
TEST_F(BrokenStage, CompilerLogIsPrintedAndTheOtherBatchesDraw)
{
    const RunResult result = run_demo({"VCLOCK_STEP=34000", "VCLOCK_GRAB=" + dir / "f.ppm", "VCLOCK_GRAB_FRAMES=0",
                                       "VCLOCK_GL_ERRORS=" + dir / "gl.txt"},
                                      {}, BROKEN_STAGE_BINARY);
    EXPECT_TRUE(result.exited && result.status == 0)
        << "expected exit status 0, got " << describe(result) << "; output:\n"
        << result.output;
    EXPECT_EQ(log().exit_swaps, 5) << "expected all 5 frames up to 136 s (34 s steps)";

    size_t error_lines = 0, syntax_lines = 0;
    for (size_t start = 0; start < result.output.size();) {
        size_t end = result.output.find('\n', start);
        if (end == std::string::npos)
            end = result.output.size();
        const std::string line = result.output.substr(start, end - start);
        error_lines += line.find("error") != std::string::npos;
        syntax_lines += line.find("syntax error") != std::string::npos;
        start = end + 1;
    }
    EXPECT_GE(syntax_lines, 1u) << "expected the compiler's log with a syntax error; output:\n" << result.output;
    EXPECT_GE(error_lines, 2u) << "expected the compiler's and the linker's errors; output:\n" << result.output;

    const std::vector<Frame8> frames = read_frames(dir / "f.ppm");
    ASSERT_EQ(frames.size(), 1u) << "expected frame 0";
    const Frame8& frame = frames[0];
    EXPECT_GT(share_near(frame, 143, 0, 0, 8), 0.001) << "expected the ring's dark red pixels";
    EXPECT_GT(title_band_dark_share(frame), 0.02) << "expected the title's black pixels in the middle band";
    EXPECT_LT(share_near(frame, 71, 167, 71, 8), 0.0001) << "expected no helix: its program did not link";

    const std::string errors = read_file(dir / "gl.txt");
    EXPECT_NE(errors.find("glGetError 0x0502"), std::string::npos)
        << "expected GL_INVALID_OPERATION from using the unlinked program; the check wrote:\n"
        << errors;
}

}   // namespace
