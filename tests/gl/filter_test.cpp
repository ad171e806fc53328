// The reduction and display passes on llvmpipe: the filter's effective texel weights along each axis, inside and
// at the edges, the grey of an empty frame, what a wrong pass order does, and the display copy at scale 1 and 0.5.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "display_config.h"
#include "gl_harness.h"
#include "programs.h"
#include "render.h"
#include "shaders.h"

namespace {

// Weight of a source texel whose centre lies `offset` texels from the destination pixel's centre along the
// reduced axis: half the sum of the two tap weights next to it (every tap sits between two texels).
struct TexelWeight {
    double offset;
    double weight;
};
const TexelWeight texel_weights[] = {
    {0.5, 0.194370}, {1.5, 0.105853}, {2.5, 0.078197}, {3.5, 0.051172},
    {4.5, 0.029660}, {5.5, 0.015226}, {6.5, 0.006921}, {7.5, 0.002036},
};
constexpr double pass_gain = 0.96687;   // sum of the 16 weights
constexpr double weight_tol = 1e-4;     // half-float targets keep 11 significant bits: < 6.2e-5 below 0.25

double weight_at(double offset)
{
    for (const TexelWeight& w : texel_weights)
        if (std::abs(std::abs(offset) - w.offset) < 1e-9)
            return w.weight;
    return 0.0;   // beyond 7.5 texels, or not a texel centre
}

// Runs one of the frame's passes with a stand-in for one of the GL names it reads, then puts the name back.
void with_stand_in(GLuint* name, GLuint stand_in, void (*pass)())
{
    const GLuint kept = *name;
    *name = stand_in;
    pass();
    *name = kept;
}

void clear_target(GLuint framebuffer, float value)
{
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glClearColor(value, value, value, value);
    glClear(GL_COLOR_BUFFER_BIT);
}

void set_texel(GLuint texture, int x, int y, float value)
{
    const float rgb[3] = {value, value, value};
    glBindTexture(GL_TEXTURE_RECTANGLE, texture);
    glTexSubImage2D(GL_TEXTURE_RECTANGLE, 0, x, y, 1, 1, GL_RGB, GL_FLOAT, rgb);
    glBindTexture(GL_TEXTURE_RECTANGLE, 0);
}

// A lit texel at each of the four positions within a run of four, so that together they meet all 16 weights.
struct LitTexel {
    int along;   // position along the reduced axis
    double value;
};
const LitTexel lit_along_x[] = {{400, 1.0}, {1201, 1.0}, {2002, 1.0}, {2803, 1.0}};   // sample buffer: 3840 wide
const LitTexel lit_along_y[] = {{300, 1.0}, {901, 1.0}, {1502, 1.0}, {2103, 1.0}};    // X target: 2400 high

TEST(Filter, PassOneSpreadsALitTexelAlongXOnly)
{
    ASSERT_EQ(sample_width, 3840) << "the tests are written for the default configuration";
    const int row = 1000;
    clear_target(fbo_sample, 0.0f);
    for (const LitTexel& lit : lit_along_x)
        set_texel(sample_tex, lit.along, row, static_cast<float>(lit.value));
    reduce_along_x();

    const FloatRegion x = read_rgb(fbo_x, 0, row - 1, filtered_width, 3);
    double total = 0;
    for (const LitTexel& lit : lit_along_x) {
        for (int i = lit.along / 4 - 4; i <= lit.along / 4 + 4; i++) {
            const double offset = (lit.along + 0.5) - (4 * i + 2);   // texel centre minus destination centre
            const double expected = lit.value * weight_at(offset);
            const Rgb got = x.at(i, row);
            total += got.r;
            EXPECT_TRUE(probe_near("X target (" + std::to_string(i) + ", " + std::to_string(row) + "), texel offset " +
                                       std::to_string(offset),
                                   got, Rgb{expected, expected, expected}, weight_tol));
            for (int other : {row - 1, row + 1})
                EXPECT_TRUE(probe_near("X target (" + std::to_string(i) + ", " + std::to_string(other) +
                                           "), a row without lit texels",
                                       x.at(i, other), Rgb{0, 0, 0}, 0.0));
        }
    }
    EXPECT_NEAR(total, pass_gain, 4e-4) << "the 16 weights of one pass sum to 0.96687";
}

TEST(Filter, PassTwoSpreadsALitTexelAlongYOnly)
{
    const int column = 500;
    clear_target(fbo_x, 0.0f);
    for (const LitTexel& lit : lit_along_y)
        set_texel(fbo_xtex, column, lit.along, static_cast<float>(lit.value));
    set_texel(fbo_xtex, 700, 1201, 5.0f);   // values above 1 pass unclamped
    reduce_along_y();

    const FloatRegion y = read_rgb(fbo_y, column - 1, 0, 3, filtered_height);
    for (const LitTexel& lit : lit_along_y) {
        for (int j = lit.along / 4 - 4; j <= lit.along / 4 + 4; j++) {
            const double offset = (lit.along + 0.5) - (4 * j + 2);
            const double expected = lit.value * weight_at(offset);
            EXPECT_TRUE(probe_near("Y target (" + std::to_string(column) + ", " + std::to_string(j) +
                                       "), texel offset " + std::to_string(offset),
                                   y.at(column, j), Rgb{expected, expected, expected}, weight_tol));
            for (int other : {column - 1, column + 1})
                EXPECT_TRUE(probe_near("Y target (" + std::to_string(other) + ", " + std::to_string(j) +
                                           "), a column without lit texels",
                                       y.at(other, j), Rgb{0, 0, 0}, 0.0));
        }
    }
    const FloatRegion bright = read_rgb(fbo_y, 700, 300, 1, 1);
    EXPECT_TRUE(probe_near("Y target (700, 300) under a texel of 5.0 at offset -0.5", bright.at(700, 300),
                           Rgb{5 * 0.194370, 5 * 0.194370, 5 * 0.194370}, 5 * weight_tol));
}

TEST(Filter, EmptyFrameReachesTheWindowAsUniformGrey)
{
    with_empty_draw_list([] { render_frame(0.0f); });

    const FloatRegion y = read_rgb(fbo_y, 0, 0, filtered_width, filtered_height);
    size_t off = 0;
    std::string first;
    for (int j = 0; j < filtered_height; j++)
        for (int i = 0; i < filtered_width; i++) {
            const auto result = probe_near("Y target (" + std::to_string(i) + ", " + std::to_string(j) + ")",
                                           y.at(i, j), Rgb{0.93484, 0.93484, 0.93484}, 0.002);
            if (!result && off++ == 0)
                first = result.message();
        }
    EXPECT_EQ(off, 0u) << "white through two passes, 0.96687^2 everywhere, borders included; first: " << first;

    const std::vector<unsigned char> window = read_rgb8(0, 0, 0, window_width, window_height);
    size_t not_238 = 0;
    for (unsigned char v : window)
        not_238 += v != 238;
    EXPECT_EQ(not_238, 0u) << "every channel of every window pixel should be 238; pixel (0, 0) is " << int(window[0])
                           << ", " << int(window[1]) << ", " << int(window[2]);
}

TEST(Filter, WrongPassOrderLeavesTheSampleBufferUnreducedAlongY)
{
    // A lit texel at (2001, 101): the correct order spreads it over x and y around Y pixel (500, 25).
    clear_target(fbo_sample, 0.0f);
    set_texel(sample_tex, 2001, 101, 1.0f);
    reduce_along_x();
    reduce_along_y();
    const FloatRegion right = read_rgb(fbo_y, 500, 0, 1, filtered_height);
    const double both = 0.194370 * 0.194370;   // offsets -0.5 along x and -0.5 along y
    EXPECT_TRUE(probe_near("Y target (500, 25) in pass order", right.at(500, 25), Rgb{both, both, both}, weight_tol));
    EXPECT_TRUE(probe_near("Y target (500, 101) in pass order", right.at(500, 101), Rgb{0, 0, 0}, 0.0));

    // The sample buffer fed to the y pass instead: the filter sees its width, reduces along x again, and
    // the Y target shows the sample rows 0..599 unreduced along y.
    clear_target(fbo_y, 0.0f);
    with_stand_in(&fbo_xtex, sample_tex, reduce_along_y);
    const FloatRegion wrong = read_rgb(fbo_y, 500, 0, 1, filtered_height);
    EXPECT_TRUE(probe_near("Y target (500, 25) fed the sample buffer", wrong.at(500, 25), Rgb{0, 0, 0}, weight_tol));
    EXPECT_TRUE(probe_near("Y target (500, 101) fed the sample buffer", wrong.at(500, 101),
                           Rgb{0.194370, 0.194370, 0.194370}, weight_tol));
}

// What one pass makes of a line of its source (a row of the sample buffer, or a column of the X target) by the
// texel weights above, indices beyond the ends clamped to them.
std::vector<double> reduce_line(const std::vector<double>& line)
{
    const int size = static_cast<int>(line.size());
    std::vector<double> reduced(line.size() / 4);
    for (int i = 0; i < static_cast<int>(reduced.size()); i++)
        for (int n = 4 * i - 6; n <= 4 * i + 9; n++)
            reduced[static_cast<size_t>(i)] += weight_at(n + 0.5 - (4 * i + 2)) * line[std::clamp(n, 0, size - 1)];
    return reduced;
}

// Whole lines through one pass, every destination pixel of the line compared: the middle and both ends, where
// the clamped texels count more than once, and with the source's filters nearest as well as linear, which
// the stage must not depend on.
TEST(Filter, LinesReduceByTheTexelWeightsToTheEdges)
{
    const struct {
        const char* name;
        bool along_x;       // pass 1 over a row of the sample buffer, else pass 2 over a column of the X target
        int lit;            // a one-texel impulse at this index; -1: a chequer of 0 and 1 starting with 1
        GLint min_filter;   // the source's minification filter during the pass
    } table[] = {
        {"chequer along x", true, -1, GL_LINEAR},
        {"chequer along y", false, -1, GL_LINEAR},
        {"first texel of a row", true, 0, GL_LINEAR},
        {"second texel of a row", true, 1, GL_LINEAR},
        {"last texel of a row", true, 3839, GL_LINEAR},
        {"first texel of a column", false, 0, GL_LINEAR},
        {"last texel of a column", false, 2399, GL_LINEAR},
        {"inner texel, nearest filter", true, 2001, GL_NEAREST},
        {"chequer along y, nearest filter", false, -1, GL_NEAREST},
    };
    const int row = 700, column = 300;   // the line read in the sample buffer or the X target, and written
    for (const auto& c : table) {
        SCOPED_TRACE(c.name);
        const GLuint source = c.along_x ? sample_tex : fbo_xtex;
        const int length = c.along_x ? sample_width : sample_height;
        std::vector<double> line(static_cast<size_t>(length));
        std::vector<float> texels(3 * line.size());
        for (int n = 0; n < length; n++) {
            line[static_cast<size_t>(n)] = c.lit < 0 ? (n + 1) % 2 : n == c.lit;
            std::fill_n(&texels[3 * static_cast<size_t>(n)], 3, static_cast<float>(line[static_cast<size_t>(n)]));
        }
        clear_target(c.along_x ? fbo_sample : fbo_x, 0.0f);
        glBindTexture(GL_TEXTURE_RECTANGLE, source);
        glTexParameteri(GL_TEXTURE_RECTANGLE, GL_TEXTURE_MIN_FILTER, c.min_filter);
        if (c.along_x)
            glTexSubImage2D(GL_TEXTURE_RECTANGLE, 0, 0, row, length, 1, GL_RGB, GL_FLOAT, texels.data());
        else
            glTexSubImage2D(GL_TEXTURE_RECTANGLE, 0, column, 0, 1, length, GL_RGB, GL_FLOAT, texels.data());
        c.along_x ? reduce_along_x() : reduce_along_y();
        glBindTexture(GL_TEXTURE_RECTANGLE, source);
        glTexParameteri(GL_TEXTURE_RECTANGLE, GL_TEXTURE_MIN_FILTER, GL_LINEAR);

        const std::vector<double> expected = reduce_line(line);
        const int count = static_cast<int>(expected.size());
        const FloatRegion got = c.along_x ? read_rgb(fbo_x, 0, row, count, 1) : read_rgb(fbo_y, column, 0, 1, count);
        for (int i = 0; i < count; i++) {
            const double e = expected[static_cast<size_t>(i)];
            // A half float keeps 11 significant bits: its rounding grows with the value.
            EXPECT_TRUE(probe_near("destination pixel " + std::to_string(i),
                                   c.along_x ? got.at(i, row) : got.at(column, i), Rgb{e, e, e},
                                   weight_tol + e / 2048));
        }
    }
}

// A test card in the Y target: values k / 255, which survive half floats and 8-bit windows exactly.
std::vector<float> fill_test_card()
{
    std::vector<float> card(3 * static_cast<size_t>(filtered_width) * static_cast<size_t>(filtered_height));
    for (int j = 0; j < filtered_height; j++)
        for (int i = 0; i < filtered_width; i++)
            for (int c = 0; c < 3; c++)
                card[3 * (static_cast<size_t>(j) * filtered_width + i) + c] =
                    static_cast<float>((i * 7 + j * 13 + c * 101) % 256) / 255.0f;
    glBindTexture(GL_TEXTURE_RECTANGLE, fbo_ytex);
    glTexSubImage2D(GL_TEXTURE_RECTANGLE, 0, 0, 0, filtered_width, filtered_height, GL_RGB, GL_FLOAT, card.data());
    glBindTexture(GL_TEXTURE_RECTANGLE, 0);
    return card;
}

// Counts window pixels that differ from the card texel the given mapping names; reports the first.
size_t compare_window_with_card(const std::vector<float>& card, int (*texel)(int), std::string* first)
{
    const std::vector<unsigned char> window = read_rgb8(0, 0, 0, window_width, window_height);
    size_t wrong = 0;
    for (int j = 0; j < window_height; j++)
        for (int i = 0; i < window_width; i++)
            for (int c = 0; c < 3; c++) {
                const size_t w = 3 * (static_cast<size_t>(j) * window_width + i) + c;
                const size_t t = 3 * (static_cast<size_t>(texel(j)) * filtered_width + texel(i)) + c;
                const int expected = static_cast<int>(std::lround(card[t] * 255.0f));
                if (window[w] != expected && wrong++ == 0)
                    *first = "window (" + std::to_string(i) + ", " + std::to_string(j) + ") channel " +
                             std::to_string(c) + ": expected " + std::to_string(expected) + ", got " +
                             std::to_string(window[w]);
            }
    return wrong;
}

TEST(Display, ScaleOneIsAnExactCopy)
{
    ASSERT_EQ(window_width, filtered_width) << "the default configuration shows the Y target 1:1";
    const std::vector<float> card = fill_test_card();
    display_filtered_image();
    std::string first;
    EXPECT_EQ(compare_window_with_card(
                  card, [](int i) { return i; }, &first),
              0u)
        << "first difference: " << first;
}

TEST(Display, ScaleHalfShowsTwoByTwoBlocks)
{
    // The doubled configurations' display stage, made from this build's source by swapping the scale literal:
    // window pixel (i, j) must show Y texel (i / 2, j / 2), each texel as a 2 x 2 block.
    std::string source = display_source;
    const std::string one = "vec2(1.000000,1.000000)";
    const size_t at = source.find(one);
    ASSERT_NE(at, std::string::npos) << "display stage should scale by " << one << ":\n" << source;
    source.replace(at, one.size(), "vec2(0.500000,0.500000)");
    const GLuint doubled = link_test_program(vertex_source, nullptr, source.c_str());
    ASSERT_EQ(glGetAttribLocation(doubled, "vertex"), 0);

    // llvmpipe filters this twofold magnification with the texture's minification filter, so the Y target
    // must be nearest both ways for the blocks to come out sharp.
    const std::vector<float> card = fill_test_card();
    with_stand_in(&display_prog, doubled, display_filtered_image);
    std::string first;
    EXPECT_EQ(compare_window_with_card(
                  card, [](int i) { return i / 2; }, &first),
              0u)
        << "each Y texel should fill a 2 x 2 block of window pixels; first difference: " << first;
    glDeleteProgram(doubled);
}

}   // namespace
