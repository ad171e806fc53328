// compare_frames on small generated PNG pairs with known differences: the figures it prints, the difference
// image it writes, and the one line it prints for a pair it cannot compare.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "png_file.h"
#include "program_run.h"
#include "temp_dir.h"

namespace {

constexpr int width = 4, height = 2;   // pixels
constexpr size_t pixel_bytes = size_t{width} * height * 3;

struct Change {
    int pixel, channel, delta;   // pixel index, 0..2 for red, green, blue, 8-bit steps added
};

std::vector<unsigned char> base_pixels()
{
    return std::vector<unsigned char>(pixel_bytes, 100);
}

std::vector<unsigned char> changed(const std::vector<Change>& changes)
{
    std::vector<unsigned char> pixels = base_pixels();
    for (const Change& change : changes)
        pixels[change.pixel * 3 + change.channel] = static_cast<unsigned char>(100 + change.delta);
    return pixels;
}

class CompareFrames : public ::testing::Test {
protected:
    // Writes the base image and the changed one, and compares them (with more arguments after the two).
    RunResult compare(const std::vector<Change>& changes, const std::vector<std::string>& more = {})
    {
        const std::vector<unsigned char> a = base_pixels(), b = changed(changes);
        EXPECT_TRUE(write_png(dir / "a.png", width, height, a.data(), RowOrder::top_down));
        EXPECT_TRUE(write_png(dir / "b.png", width, height, b.data(), RowOrder::top_down));
        std::vector<std::string> argv = {COMPARE_FRAMES_BINARY, dir / "a.png", dir / "b.png"};
        argv.insert(argv.end(), more.begin(), more.end());
        return run_program(argv, {}, dir.path, 30);
    }
    TempDir dir;
};

TEST_F(CompareFrames, ReportsEachChannelAndTheShareBeyondThreeSteps)
{
    const struct {
        const char* what;
        std::vector<Change> changes;
        std::vector<std::string> lines;
    } cases[] = {
        {"identical", {}, {"red: max 0, mean 0.000", "differing by more than 3/255: 0.000% of pixels (0 of 8)"}},
        {"three steps, within the tolerance",
         {{5, 1, -3}},
         {"green: max 3, mean 0.375", "differing by more than 3/255: 0.000% of pixels (0 of 8)"}},
        {"four steps, beyond it",
         {{2, 0, 4}},
         {"red: max 4, mean 0.500", "differing by more than 3/255: 12.500% of pixels (1 of 8)"}},
        {"two channels of one pixel and one of another",
         {{0, 0, 4}, {0, 1, 9}, {7, 2, -5}},
         {"red: max 4, mean 0.500", "green: max 9, mean 1.125", "blue: max 5, mean 0.625",
          "differing by more than 3/255: 25.000% of pixels (2 of 8)"}},
    };
    for (const auto& c : cases) {
        const RunResult result = compare(c.changes);
        ASSERT_TRUE(result.exited && result.status == 0) << c.what << ": " << describe(result) << "\n" << result.output;
        for (const std::string& line : c.lines)
            EXPECT_TRUE(has_line(result.output, line)) << c.what << ": expected the line '" << line << "' in\n"
                                                       << result.output;
    }
}

// The difference image holds |A - B| per channel times the gain, clamped to 255, where the pixels are.
TEST_F(CompareFrames, WritesTheScaledDifferenceImage)
{
    const RunResult result = compare({{1, 0, 4}, {6, 2, -30}}, {"--gain", "10", dir / "diff.png"});
    ASSERT_TRUE(result.exited && result.status == 0) << describe(result) << "\n" << result.output;
    int w = 0, h = 0;
    std::vector<unsigned char> diff;
    std::string error;
    ASSERT_TRUE(read_png(dir / "diff.png", &w, &h, &diff, &error)) << error;
    ASSERT_EQ(w * 100 + h, width * 100 + height);
    std::vector<unsigned char> expected(diff.size(), 0);
    expected[1 * 3 + 0] = 40;
    expected[6 * 3 + 2] = 255;
    EXPECT_EQ(diff, expected);
}

// A pair that cannot be compared: one line naming the problem, exit status 1.
TEST_F(CompareFrames, RefusesAPairOfOtherSizesOrAFileThatIsNoPng)
{
    const std::vector<unsigned char> pixels(12, 0);   // 2 x 2 pixels
    ASSERT_TRUE(write_png(dir / "small.png", 2, 2, pixels.data(), RowOrder::top_down));
    ASSERT_TRUE(write_png(dir / "a.png", width, height, base_pixels().data(), RowOrder::top_down));
    const struct {
        const char* second;
        std::string line;
    } cases[] = {
        {"small.png", "compare_frames: sizes differ: a.png is 4x2, small.png is 2x2"},
        {"notes.txt", "compare_frames: cannot read notes.txt: Not a PNG file"},
        {"missing.png", "compare_frames: cannot read missing.png: No such file or directory"},
    };
    FILE* text = fopen((dir / "notes.txt").c_str(), "w");
    ASSERT_NE(text, nullptr);
    fputs("not a picture\n", text);
    fclose(text);
    for (const auto& c : cases) {
        const RunResult result = run_program({COMPARE_FRAMES_BINARY, "a.png", c.second}, {}, dir.path, 30);
        EXPECT_TRUE(result.exited && result.status == 1) << c.second << ": " << describe(result);
        EXPECT_EQ(result.output, c.line + "\n") << c.second;
    }
}

}   // namespace
