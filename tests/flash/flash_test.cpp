// The flash analyser on synthetic clips that sit over and under each threshold (rate, time, area, colour, noise,
// extended flashing), the tool on clips ffmpeg makes (frame rates, time stamps, bad input, JSON, plot), and on the
// show's own flood at 4.3 s recorded under the controlled clock.
#include <cairo.h>
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "flash.h"
#include "program_run.h"

namespace {

const int width = 960, height = 600;    // the default display configuration
const int small_w = 64, small_h = 40;   // the same picture at 1/15 where the pattern scales: 21 x 13 cells a field

struct Colour {
    unsigned char r, g, b;
};
const Colour black{0, 0, 0}, white{255, 255, 255}, red{255, 0, 0}, pink{255, 120, 120};
const Colour grey{127, 127, 127};    // the luminance of pure red (0.2126), in grey
const Colour light{237, 237, 237};   // luminance 0.85: above the darker state's 0.80
// Each on one side of a threshold, against black or white: luminance 0.1022 / 0.0999 (a change of 0.10), 0.7835 /
// 0.8069 (darker state below 0.80), red value 20.2 / 19.6 (more than 20), R / (R + G + B) 0.8003 / 0.7969 (0.8).
const Colour grey_over{90, 90, 90}, grey_under{89, 89, 89}, dark_over{229, 229, 229}, dark_under{232, 232, 232},
    red_over{71, 0, 0}, red_under{70, 0, 0}, saturated_over{255, 99, 99}, saturated_under{255, 100, 100};

// whole: the picture; stripes: thin stripes over cover of it; block: one block of cover of it; patch: a square of
// cover pixels a side in the middle; fade, noise; edges: 7 changes, the first at frame 10, the last hz frames on.
enum Pattern { whole, stripes, block, patch, fade, noise, edges };

// A clip: two colours alternating at hz over the pattern, on black.
struct ClipCase {   // NOLINT(clang-analyzer-optin.performance.Padding): laid out as the table reads
    const char* name;
    Pattern pattern;
    double cover, hz, seconds;
    Colour on, off;
    int changes;             // most general changes in a second, in the worst field
    bool fails[2][2];        // [reading][rule], the count: any 10-degree field, whole screen; general, red
    bool extended = false;   // the general rule fails as extended flashing
    double fps = 60;
    int w = small_w, h = small_h;
    int field_x = -1, field_y = -1;   // where the worst field is, when checked
};

// A row a line:
// clang-format off
const ClipCase clip_cases[] = {
    {"5 Hz black and white, whole picture", whole, 1, 5, 2, white, black, 10, {{true, false}, {true, false}}},
    {"3.5 Hz: 7 changes in a second", whole, 1, 3.5, 2, white, black, 7, {{true, false}, {true, false}}},
    {"3 Hz: 6 changes in a second", whole, 1, 3, 2, white, black, 6, {{false, false}, {false, false}}},
    {"7 changes, first to last one second apart", edges, 1, 60, 2, white, black, 6, {{false, false}, {false, false}}},
    {"7 changes, one frame less", edges, 1, 59, 2, white, black, 7, {{true, false}, {true, false}}},
    {"3.5 Hz at 29.97 fps", whole, 1, 3.5, 2, white, black, 7, {{true, false}, {true, false}}, false, 30000 / 1001.},
    {"3 Hz at 29.97 fps", whole, 1, 3, 2, white, black, 6, {{false, false}, {false, false}}, false, 30000 / 1001.},
    {"3 Hz at 25 fps", whole, 1, 3, 2, white, black, 6, {{false, false}, {false, false}}, false, 25},
    {"3.5 Hz at 25 fps", whole, 1, 3.5, 2, white, black, 7, {{true, false}, {true, false}}, false, 25},
    {"2 Hz for 6 s: extended", whole, 1, 2, 6, white, black, 4, {{false, false}, {false, false}}, true},
    {"2 Hz for 3 s", whole, 1, 2, 3, white, black, 4, {{false, false}, {false, false}}},
    {"2 Hz for 5 s: 4 s of it", whole, 1, 2, 5, white, black, 4, {{false, false}, {false, false}}, true},
    {"2 Hz for 4.95 s: 3.95 s of it", whole, 1, 2, 4.95, white, black, 4, {{false, false}, {false, false}}},
    {"1.5 Hz for 6 s: 3 changes a second", whole, 1, 1.5, 6, white, black, 3, {{false, false}, {false, false}}},
    {"5 Hz over 10 % in thin stripes", stripes, 0.1, 5, 2, white, black, 0, {{false, false}, {false, false}}, false,
     60, width, height},
    {"5 Hz over 30 % in thin stripes", stripes, 0.3, 5, 2, white, black, 10, {{true, false}, {true, false}}, false,
     60, width, height},
    {"5 Hz over 10 % in one block", block, 0.1, 5, 2, white, black, 10, {{true, false}, {false, false}}},
    {"5 Hz over 30 % of a field", patch, 9, 5, 2, white, black, 10, {{true, false}, {false, false}}},
    {"5 Hz over 23 % of a field", patch, 8, 5, 2, white, black, 0, {{false, false}, {false, false}}},
    // 200 x 200 of 960 x 600: of the fields that see it change, those holding all of it; of those, the centred one.
    {"a centred patch", patch, 40, 5, 2, white, black, 10, {{true, false}, {false, false}}, false, 60, 192, 120,
     64, 40},
    {"saturated red 4 Hz", whole, 1, 4, 2, red, black, 8, {{true, true}, {true, true}}},
    {"grey of red's luminance 4 Hz", whole, 1, 4, 2, grey, black, 8, {{true, false}, {true, false}}},
    {"unsaturated red 4 Hz", whole, 1, 4, 2, pink, black, 8, {{true, false}, {true, false}}},
    {"red just saturated 4 Hz", whole, 1, 4, 2, saturated_over, black, 8, {{true, true}, {true, true}}},
    {"red just unsaturated 4 Hz", whole, 1, 4, 2, saturated_under, black, 8, {{true, false}, {true, false}}},
    {"dark red of value over 20, 4 Hz", whole, 1, 4, 2, red_over, black, 0, {{false, true}, {false, true}}},
    {"dark red of value under 20, 4 Hz", whole, 1, 4, 2, red_under, black, 0, {{false, false}, {false, false}}},
    {"grey of luminance over 0.10, 4 Hz", whole, 1, 4, 2, grey_over, black, 8, {{true, false}, {true, false}}},
    {"grey of luminance under 0.10, 4 Hz", whole, 1, 4, 2, grey_under, black, 0, {{false, false}, {false, false}}},
    {"white and a grey under 0.80, 5 Hz", whole, 1, 5, 2, white, dark_over, 10, {{true, false}, {true, false}}},
    {"white and a grey over 0.80, 5 Hz", whole, 1, 5, 2, white, dark_under, 0, {{false, false}, {false, false}}},
    {"5 Hz between white and light grey", whole, 1, 5, 2, white, light, 0, {{false, false}, {false, false}}},
    {"slow fade black to white", fade, 1, 0, 2, white, black, 1, {{false, false}, {false, false}}},
    {"one-pixel noise, every frame", noise, 1, 0, 2, white, black, 0, {{false, false}, {false, false}}, false, 60,
     width, height},
};
// clang-format on

// Frame i of a clip.
void draw(const ClipCase& clip, int i, std::mt19937& random, std::vector<unsigned char>& rgb)
{
    const double t = i / clip.fps;
    bool on = static_cast<int>(t * 2 * clip.hz) % 2 == 1;
    if (clip.pattern == edges) {   // hz: the frames from the first change to the seventh
        on = false;
        for (int k = 0; k < 7; k++)
            on = on != (i >= 10 + static_cast<int>(std::lround(k * clip.hz / 6)));
    }
    const int stripe_period = 40;   // pixels: stripes of 4 to 12 pixels, finer than a 1-degree surround
    const int block_w = static_cast<int>(clip.pattern == patch ? clip.cover : clip.w * std::sqrt(clip.cover)),
              block_h = static_cast<int>(clip.pattern == patch ? clip.cover : clip.h * std::sqrt(clip.cover));
    for (int y = 0; y < clip.h; y++)
        for (int x = 0; x < clip.w; x++) {
            bool lit = on;
            Colour colour{};
            switch (clip.pattern) {
            case stripes:
                lit = on && x % stripe_period < clip.cover * stripe_period;
                break;
            case block:
            case patch:
                lit = on && x >= (clip.w - block_w) / 2 && x < (clip.w + block_w) / 2 && y >= (clip.h - block_h) / 2 &&
                      y < (clip.h + block_h) / 2;
                break;
            case fade: {
                const auto level = static_cast<unsigned char>(255 * t / clip.seconds);
                colour = {level, level, level};
                break;
            }
            case noise:
                lit = random() & 1;
                break;
            default:
                break;
            }
            if (clip.pattern != fade)
                colour = lit ? clip.on : clip.off;
            unsigned char* pixel = rgb.data() + (static_cast<size_t>(y) * clip.w + x) * 3;
            pixel[0] = colour.r;
            pixel[1] = colour.g;
            pixel[2] = colour.b;
        }
}

// The clip through the analyser, each frame at its own time.
void analyse(const ClipCase& clip, Analyser& analyser)
{
    std::mt19937 random(1);
    std::vector<unsigned char> rgb(static_cast<size_t>(clip.w) * clip.h * 3);
    const int frames = static_cast<int>(std::lround(clip.seconds * clip.fps));
    for (int i = 0; i < frames; i++) {
        draw(clip, i, random, rgb);
        analyser.add_frame(rgb.data(), i / clip.fps);
    }
    analyser.finish(frames / clip.fps);
}

TEST(FlashClips, VerdictsFollowRateTimeAreaColourAndNoise)
{
    for (const ClipCase& clip : clip_cases) {
        SCOPED_TRACE(clip.name);
        Analyser analyser(standard_geometry(clip.w, clip.h));
        analyse(clip, analyser);
        const std::string report = report_text(analyser, {clip.name});
        EXPECT_EQ(analyser.worst(general_rule, field_reading).transitions, clip.changes) << report;
        for (int reading = 0; reading < reading_count; reading++)
            for (int rule = 0; rule < rule_count; rule++)
                EXPECT_EQ(exceeds(analyser.worst(static_cast<Rule>(rule), static_cast<Reading>(reading))),
                          clip.fails[reading][rule])
                    << rule_name(static_cast<Rule>(rule)) << " " << reading_name(static_cast<Reading>(reading)) << "\n"
                    << report;
        for (int reading = 0; reading < reading_count; reading++)
            EXPECT_EQ(exceeds(analyser.extended(general_rule, static_cast<Reading>(reading))), clip.extended) << report;
        if (clip.field_x >= 0) {
            EXPECT_EQ(analyser.worst(general_rule, field_reading).x * 1000 +
                          analyser.worst(general_rule, field_reading).y,
                      clip.field_x * 1000 + clip.field_y)
                << report;
        }
    }
}

// Clips made by ffmpeg in the test's folder: parts of "FPS SECONDS HZ ..." flashing black and white, joined without
// re-encoding into clip.mkv; or ffmpeg's own arguments.
RunResult ffmpeg(const TempDir& dir, const std::string& arguments)
{
    std::vector<std::string> argv = {"/usr/bin/ffmpeg", "-nostdin", "-v", "error", "-y"};
    for (const std::string& word : words(arguments))
        argv.push_back(word);
    return run_program(argv, {}, dir.path, 60);
}

std::string make_clip(const TempDir& dir, const std::string& parts)
{
    std::istringstream in(parts);
    std::string list;
    double fps, seconds, hz, offset = 0;
    for (int i = 0; in >> fps >> seconds >> hz; i++, offset += seconds) {
        const std::string v = "255*mod(floor((T+" + std::to_string(offset) + ")*" + std::to_string(2 * hz) + "),2)";
        std::string filter = "format=gbrp,geq=r='" + v + "':g='";
        filter += v + "':b='";
        filter += v + "'";
        const RunResult made =
            run_program({"/usr/bin/ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                         "color=black:s=64x40:r=" + std::to_string(fps) + ":d=" + std::to_string(seconds), "-vf",
                         filter, "-c:v", "ffv1", "part" + std::to_string(i) + ".mkv"},
                        {}, dir.path, 60);
        EXPECT_TRUE(made.exited && made.status == 0) << made.output;
        list += "file part" + std::to_string(i) + ".mkv\n";
    }
    write_file(dir / "parts.txt", list);
    const RunResult joined = ffmpeg(dir, "-f concat -i parts.txt -c copy clip.mkv");
    EXPECT_TRUE(joined.exited && joined.status == 0) << joined.output;
    return dir / "clip.mkv";
}

struct ToolCase {   // NOLINT(clang-analyzer-optin.performance.Padding): laid out as the table reads
    const char* name;
    const char* clip;        // parts for make_clip, "RAW" and more of ffmpeg's arguments, or none
    const char* arguments;   // flash's
    int status;
    const char* line;     // in the output
    bool twice = false;   // clip.ts is then written twice over, byte for byte: its times start again
};

const char* const raw = "-f lavfi -i color=black:s=64x40:r=25:d=1.5 -c:v mpeg2video";
const ToolCase tool_cases[] = {
    {"60 and 20 fps parts at 2 Hz", "60 1.5 2 20 1.5 2", "clip.mkv", 0,
     "clip.mkv: 64x40, 120 frames from 0.000 to 3.000 s, variable frame rate (frames 16.0 to 50.0 ms apart; the "
     "header says 60 fps), timed by the frames' time stamps"},
    {"60 and 20 fps parts at 5 Hz", "60 1.5 5 20 1.5 5", "clip.mkv", 3,
     "general flash over the whole screen: FAIL: worst second 0.000 to 1.000 s: 10 opposing changes (5 flashes), "
     "up to 100 % of the screen changing together; over the limit for 2.30 s (78 frames)"},
    {"a raw stream: the declared rate", "RAW -f mpeg2video clip.m2v", "clip.m2v", 0,
     "clip.m2v: 64x40, 38 frames from 0.000 to 1.520 s, no time stamps in the stream: timed at its declared 25 fps"},
    {"not a video", "", "flash_test.txt", 1, "flash: flash_test.txt holds no video stream that ffprobe can read"},
    {"no such file", "", "missing.mkv", 1, "flash: cannot read the video missing.mkv: No such file or directory"},
    {"no frames", "RAW -frames:v 0 clip.avi", "clip.avi", 1, "flash: clip.avi holds no frames"},
    {"shorter than a second", "60 0.5 5", "clip.mkv", 1,
     "flash: clip.mkv lasts 0.500 s: flash judges whole seconds and needs at least 1 s"},
    {"time stamps going backwards", "RAW clip.ts", "clip.ts", 1,
     "flash: the time stamps of clip.ts go backwards at frame 38 (0.000 s after 1.480 s)", true},
};

TEST(FlashTool, TimeStampsRatesAndBadInput)
{
    for (const ToolCase& tool : tool_cases) {
        SCOPED_TRACE(tool.name);
        TempDir dir;
        write_file(dir / "flash_test.txt", "not a video\n");
        const std::string clip = tool.clip;
        if (clip.compare(0, 4, "RAW ") == 0) {
            const RunResult made = ffmpeg(dir, std::string(raw) + clip.substr(3));
            ASSERT_TRUE(made.exited && made.status == 0) << made.output;
        } else if (!clip.empty()) {
            make_clip(dir, clip);
        }
        if (tool.twice)
            write_file(dir / "clip.ts", read_file(dir / "clip.ts") + read_file(dir / "clip.ts"));
        std::vector<std::string> argv = {FLASH_BINARY, "--quiet"};
        for (const std::string& argument : words(tool.arguments))
            argv.push_back(argument);
        const RunResult run = run_program(argv, {}, dir.path, 60);
        EXPECT_TRUE(run.exited && run.status == tool.status) << describe(run) << "\n" << run.output;
        EXPECT_NE(run.output.find(tool.line), std::string::npos) << "expected: " << tool.line << "\ngot:\n"
                                                                 << run.output;
        if (tool.status == 1) {   // an error is one line
            EXPECT_EQ(occurrences(run.output, "\n"), 1u) << run.output;
        }
    }
}

// --json holds every verdict; the plot is a PNG of its size with the title drawn; no partial files are left.
TEST(FlashTool, JsonAndPlot)
{
    TempDir dir;
    const std::string clip = make_clip(dir, "60 2 2 30 4 2");
    const RunResult run =
        run_program({FLASH_BINARY, "--quiet", clip, "--json", "out.json", "--plot", "out.png", "--csv", "out.csv"}, {},
                    dir.path, 60);
    ASSERT_TRUE(run.exited && run.status == 3) << describe(run) << "\n" << run.output;
    const RunResult jq = run_program({"/usr/bin/jq", "-r",
                                      "[.verdict, .clip.frames, .clip.variable_rate, .thresholds.transitions_allowed, "
                                      "(.results[] | .rule, .reading, .count.verdict, .count.transitions, "
                                      ".extended.verdict, (.extended.windows | length))] | join(\" \")",
                                      "out.json"},
                                     {}, dir.path, 60);
    EXPECT_EQ(jq.output, "fail 240 true 6 general field pass 4 fail 1 red field pass 0 pass 0 general screen pass 4 "
                         "fail 1 red screen pass 0 pass 0\n");
    cairo_surface_t* png = cairo_image_surface_create_from_png((dir / "out.png").c_str());
    ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(png), 1200);
    EXPECT_EQ(cairo_image_surface_get_height(png), 420);
    int inked = 0;   // pixels not white in the title band
    cairo_surface_flush(png);
    const unsigned char* data = cairo_image_surface_get_data(png);
    for (int y = 0; y < 50; y++)
        for (int x = 0; x < 1200; x++)
            inked += (reinterpret_cast<const uint32_t*>(data + static_cast<ptrdiff_t>(y) *
                                                                   cairo_image_surface_get_stride(png))[x] &
                      0xffffff) != 0xffffff;
    cairo_surface_destroy(png);
    EXPECT_GT(inked, 200);
    EXPECT_EQ(occurrences(read_file(dir / "out.csv"), "\n"), 241u);
    EXPECT_FALSE(file_exists(dir / "out.json.partial") || file_exists(dir / "out.png.partial"));
}

// The flood that covers the picture between 4.3 and 4.5 s, recorded at 60 fps under the controlled clock.
TEST(FlashShow, FloodAtFourPointThreeSeconds)
{
    TempDir dir;
    const RunResult run =
        run_program({FLASH_BINARY, "--show", "--from", "4", "--to", "5", "--quiet"}, {}, dir.path, 300);
    ASSERT_TRUE(run.exited && run.status == 3) << describe(run) << "\n" << run.output;
    const char* const lines[] = {
        "general flash in any 10-degree field: FAIL: worst second 4.000 to 4.467 s: 8 opposing changes (4 flashes) in "
        "the field x 129-449, y 104-303, up to 72 % of it changing together; over the limit for 0.55 s (33 frames)",
        "red flash in any 10-degree field: pass: no change counts",
        "general flash over the whole screen: pass: worst second 4.000 to 4.417 s: 4 opposing changes (2 flashes), up "
        "to 30 % of the screen changing together",
        "general flash over the whole screen, extended flashing: pass: at most 0.58 s of any 5 s with 4 or more "
        "changes in the second (the 5 s from 4.000 s)",
        "red flash over the whole screen: pass: no change counts"};
    for (const char* line : lines)
        EXPECT_TRUE(has_line(run.output, line)) << "expected: " << line << "\ngot:\n" << run.output;
}

// The gentle version where the design flashes: its flood, and two seconds of each section of the pulsing cube. Every
// rule passes (status 0).
TEST(FlashShow, GentleVersionPassesWhereTheDesignFlashes)
{
    const struct {
        const char *from, *to;
    } moments[] = {{"4", "5"}, {"20", "22"}, {"100", "102"}};
    for (const auto& moment : moments) {
        TempDir dir;
        const RunResult run =
            run_program({FLASH_BINARY, "--show", "--gentle", "--from", moment.from, "--to", moment.to, "--quiet"}, {},
                        dir.path, 300);
        EXPECT_TRUE(run.exited && run.status == 0) << "expected every rule to pass from " << moment.from << " to "
                                                   << moment.to << " s, got " << describe(run) << "\n"
                                                   << run.output;
    }
}

}   // namespace
