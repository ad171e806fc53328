// The flash analyser on synthetic clips that sit over and under each threshold (rate, area, colour, noise, length),
// and on the show's own flood at 4.3 s recorded under the controlled clock.
#include <gtest/gtest.h>

#include <random>

#include "flash.h"
#include "program_run.h"

namespace {

const int width = 960, height = 600;   // the default display configuration
const double fps = 60;

struct Colour {
    unsigned char r, g, b;
};
const Colour black{0, 0, 0}, white{255, 255, 255}, red{255, 0, 0}, pink{255, 120, 120};
const Colour grey{127, 127, 127};    // the luminance of pure red (0.2126), in grey
const Colour light{237, 237, 237};   // luminance 0.85: above the darker state's 0.80

enum Pattern { whole, stripes, block, fade, noise };

// A clip: two colours alternating at hz over the pattern, on black; cover is the share of the picture.
struct ClipCase {
    const char* name;
    Pattern pattern;
    double cover, hz, seconds;
    Colour on, off;
    int flashes;        // most general flashes in a second, in the worst field
    bool fails[2][2];   // [reading][rule]: any 10-degree field, whole screen; general, red
};

const ClipCase clip_cases[] = {
    {"5 Hz black and white, whole picture", whole, 1, 5, 2, white, black, 5, {{true, false}, {true, false}}},
    {"3 Hz black and white, whole picture", whole, 1, 3, 2, white, black, 3, {{false, false}, {false, false}}},
    {"5 Hz over 10 % in thin stripes", stripes, 0.1, 5, 2, white, black, 0, {{false, false}, {false, false}}},
    {"5 Hz over 30 % in thin stripes", stripes, 0.3, 5, 2, white, black, 5, {{true, false}, {true, false}}},
    {"5 Hz over 10 % in one block", block, 0.1, 5, 2, white, black, 5, {{true, false}, {false, false}}},
    {"saturated red 4 Hz", whole, 1, 4, 2, red, black, 4, {{true, true}, {true, true}}},
    {"grey of red's luminance 4 Hz", whole, 1, 4, 2, grey, black, 4, {{true, false}, {true, false}}},
    {"unsaturated red 4 Hz", whole, 1, 4, 2, pink, black, 4, {{true, false}, {true, false}}},
    {"5 Hz between white and light grey", whole, 1, 5, 2, white, light, 0, {{false, false}, {false, false}}},
    {"slow fade black to white", fade, 1, 0, 2, white, black, 0, {{false, false}, {false, false}}},
    {"one-pixel noise, every frame", noise, 1, 0, 2, white, black, 0, {{false, false}, {false, false}}},
    {"10 Hz for half a second", whole, 1, 10, 0.5, white, black, 4, {{true, false}, {true, false}}},
};

void paint(std::vector<unsigned char>& rgb, int x, int y, Colour c)
{
    unsigned char* pixel = rgb.data() + (static_cast<size_t>(y) * width + x) * 3;
    pixel[0] = c.r;
    pixel[1] = c.g;
    pixel[2] = c.b;
}

// Frame i of a clip.
void draw(const ClipCase& clip, int i, std::mt19937& random, std::vector<unsigned char>& rgb)
{
    const double t = i / fps;
    const bool on = static_cast<int>(t * 2 * clip.hz) % 2 == 1;
    const int stripe_period = 40;   // pixels: stripes of 4 to 12 pixels, finer than a 1-degree surround
    const int block_w = static_cast<int>(width * std::sqrt(clip.cover)),
              block_h = static_cast<int>(height * std::sqrt(clip.cover));
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            bool lit = false;
            switch (clip.pattern) {
            case whole:
                lit = on;
                break;
            case stripes:
                lit = on && x % stripe_period < clip.cover * stripe_period;
                break;
            case block:
                lit = on && std::abs(x - width / 2) < block_w / 2 && std::abs(y - height / 2) < block_h / 2;
                break;
            case fade: {
                const auto level = static_cast<unsigned char>(255 * t / clip.seconds);
                paint(rgb, x, y, {level, level, level});
                continue;
            }
            case noise:
                lit = random() & 1;
                break;
            }
            paint(rgb, x, y, lit ? clip.on : clip.off);
        }
}

TEST(FlashClips, VerdictsFollowRateAreaColourAndNoise)
{
    for (const ClipCase& clip : clip_cases) {
        SCOPED_TRACE(clip.name);
        Analyser analyser(standard_geometry(width, height), fps);
        std::mt19937 random(1);
        std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
        for (int i = 0; i < static_cast<int>(clip.seconds * fps); i++) {
            draw(clip, i, random, rgb);
            analyser.add_frame(rgb.data());
        }
        EXPECT_EQ(flashes_of(analyser.worst(general_rule, field_reading).transitions), clip.flashes);
        for (int reading = 0; reading < reading_count; reading++)
            for (int rule = 0; rule < rule_count; rule++)
                EXPECT_EQ(exceeds(analyser.worst(static_cast<Rule>(rule), static_cast<Reading>(reading))),
                          clip.fails[reading][rule])
                    << rule_name(static_cast<Rule>(rule)) << " " << reading_name(static_cast<Reading>(reading)) << "\n"
                    << report_text(analyser, {clip.name, 0});
    }
}

// The flood that covers the picture between 4.3 and 4.5 s, recorded at 60 fps under the controlled clock.
TEST(FlashShow, FloodAtFourPointThreeSeconds)
{
    TempDir dir;
    const RunResult run =
        run_program({FLASH_BINARY, "--show", "--from", "4", "--to", "5", "--quiet"}, {}, dir.path, 300);
    ASSERT_TRUE(run.exited && run.status == 3) << describe(run) << "\n" << run.output;
    const char* const lines[] = {
        "general flash in any 10-degree field: FAIL: worst second 4.000 to 5.000 s: 4 flashes (8 opposing changes) in "
        "the field x 231-551, y 58-257, up to 61 % of it changing together; over the limit at 32 frames (0.53 s)",
        "red flash in any 10-degree field: pass: no change counts",
        "general flash over the whole screen: pass: worst second 4.000 to 5.000 s: 2 flashes (4 opposing changes), up "
        "to 30 % of the screen changing together",
        "red flash over the whole screen: pass: no change counts"};
    for (const char* line : lines)
        EXPECT_TRUE(has_line(run.output, line)) << "expected: " << line << "\ngot:\n" << run.output;
}

}   // namespace
