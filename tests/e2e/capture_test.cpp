// End-to-end tests of the capture tool: frames at exact times, the MP4's frames, length and soundtrack,
// deterministic stills, what the stills show, and clear refusals. Needs DISPLAY, ffmpeg and ffprobe.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "frame8.h"
#include "program_run.h"
#include "track_audio.h"

namespace {

const double capture_limit = 240;      // seconds of wall time for one capture
const int width = 960, height = 600;   // the default display configuration

// Every video frame (or the single image) of a file, decoded by ffmpeg into RGB frames.
std::vector<Frame8> decode_with_ffmpeg(const std::string& path)
{
    const TempDir scratch;
    const std::string frames = scratch / "frames.ppm";
    const RunResult decoded = run_program({"/usr/bin/ffmpeg", "-nostdin", "-loglevel", "error", "-i", path, "-f",
                                           "image2pipe", "-c:v", "ppm", "-pix_fmt", "rgb24", frames},
                                          {}, "", 300);
    return decoded.exited && decoded.status == 0 ? read_frames(frames) : std::vector<Frame8>();
}

// One value of ffprobe's output for a stream ("v:0", "a:0") or the format (empty stream), e.g. "duration";
// "" when absent.
std::string probe(const std::string& path, const std::string& stream, const std::string& entry)
{
    std::vector<std::string> argv = {"/usr/bin/ffprobe", "-v", "error"};
    if (stream.empty())
        argv.insert(argv.end(), {"-show_entries", "format=" + entry});
    else
        argv.insert(argv.end(), {"-count_frames", "-select_streams", stream, "-show_entries", "stream=" + entry});
    argv.insert(argv.end(), {"-of", "default=noprint_wrappers=1:nokey=1", path});
    const RunResult probed = run_program(argv, {}, "", 120);
    std::string value = probed.exited && probed.status == 0 ? probed.output.substr(0, probed.output.find('\n')) : "";
    while (!value.empty() && value.back() == '\r')
        value.pop_back();
    return value;
}

// The tool, with the demo running in the temporary folder (no music unless a test links it in).
class CaptureTool : public DemoRun {
protected:
    RunResult capture(std::vector<std::string> arguments, const std::vector<std::string>& environment = {})
    {
        arguments.insert(arguments.begin(), {CAPTURE_BINARY, "--workdir", dir.path, "--quiet"});
        return run_program(arguments, environment, dir.path, capture_limit);
    }

    Frame8 still(const std::string& name)
    {
        const std::vector<Frame8> frames = decode_with_ffmpeg(dir / name);
        EXPECT_TRUE(frames.size() == 1 && frames[0].width == width && frames[0].height == height)
            << "expected " << name << " to decode to one " << width << "x" << height << " image";
        return frames.empty() ? Frame8() : frames[0];
    }
};

// 0.5 s at 10 fps from 3.9 s: frames drawn at exactly 3.9, 4.0, 4.1, 4.2, 4.3 s; a lossless video of those five
// frames, 0.5 s long, with an audio stream; its frames equal stills taken in another run at their times, the first,
// the second, and the last (written as the demo quits, after its readback was started).
TEST_F(CaptureTool, ShortClipHasTheExpectedFramesTimesAndStreams)
{
    const RunResult result = capture({"--from", "3.9", "--duration", "0.5", "--fps", "10", "--lossless", "-o",
                                      dir / "clip.mp4", "--log", dir / "clock.log", "--still", "3.9=" + dir / "s0.png",
                                      "--still", "4.0=" + dir / "s1.png", "--still", "4.3=" + dir / "s4.png"});
    ASSERT_TRUE(result.exited && result.status == 0)
        << "expected exit status 0, got " << describe(result) << "; output:\n"
        << result.output;

    // The clock log of the video run: frame 0 at t = 0 (thrown away), then the five wanted frames.
    const ClockLog clock = read_clock_log(dir / "clock.log");
    const int64_t expected_ms[] = {0, 3900, 4000, 4100, 4200, 4300};
    ASSERT_EQ(clock.swaps.size(), 6u) << "expected frame 0 and five frames";
    for (size_t j = 0; j < clock.swaps.size(); ++j)
        EXPECT_EQ(clock.swaps[j].frame_ms, expected_ms[j]) << "frame " << j << " drawn at the wrong time";
    EXPECT_EQ(clock.exit_swaps, 6) << "expected the demo to end right after the last wanted frame";

    const std::string video = dir / "clip.mp4";
    EXPECT_EQ(probe(video, "v:0", "codec_name"), "h264") << "expected an H.264 video stream";
    EXPECT_EQ(probe(video, "v:0", "nb_read_frames"), "5") << "expected exactly 5 video frames";
    EXPECT_NEAR(atof(probe(video, "", "duration").c_str()), 0.5, 0.03) << "expected a 0.5 s file";
    EXPECT_EQ(probe(video, "a:0", "codec_name"), "aac") << "expected an AAC audio stream";
    EXPECT_NEAR(atof(probe(video, "a:0", "duration").c_str()), 0.5, 0.05) << "expected 0.5 s of audio";

    const std::vector<Frame8> frames = decode_with_ffmpeg(video);
    ASSERT_EQ(frames.size(), 5u) << "expected 5 decoded frames of " << width << "x" << height;
    for (size_t k : {0, 1, 4})
        EXPECT_EQ(first_difference(still("s" + std::to_string(k) + ".png"), frames[k]), "")
            << "expected the lossless video's frame " << k << " to equal the still at its time";
    EXPECT_NE(first_difference(frames[0], frames[1]), "") << "expected frames 3.9 s and 4.0 s to differ";
}

// The soundtrack starts at the interval's start: a capture from 3.9 s carries the track's audio from 3.9 s
// (correlation near 1), not from 10 ms earlier or later. Also exercises the default lossy video.
TEST_F(CaptureTool, SoundtrackIsInStepWithThePicture)
{
    if (!file_exists(MUSIC_FILE))
        GTEST_SKIP() << "no " MUSIC_FILE " in this build";
    ASSERT_EQ(symlink(MUSIC_FILE, (dir / "Tarnhollow_4.mp3").c_str()), 0);
    const RunResult result = capture({"--from", "3.9", "--duration", "0.5", "--fps", "10", "-o", dir / "clip.mp4"});
    ASSERT_TRUE(result.exited && result.status == 0)
        << "expected exit status 0, got " << describe(result) << "; output:\n"
        << result.output;
    EXPECT_EQ(probe(dir / "clip.mp4", "v:0", "nb_read_frames"), "5") << "expected exactly 5 video frames";

    const std::vector<int16_t> recorded = decode_audio(dir / "clip.mp4", 0, 0.5);
    ASSERT_GT(recorded.size(), 20000u) << "expected about 0.5 s of audio at 44100 Hz";
    const double in_step = correlation(recorded, decode_audio(MUSIC_FILE, 3.9, 0.5));
    EXPECT_GT(in_step, 0.8) << "expected the recorded sound to match the track from 3.9 s";
    for (const double off : {3.89, 3.91}) {
        const double shifted = correlation(recorded, decode_audio(MUSIC_FILE, off, 0.5));
        EXPECT_LT(shifted, in_step - 0.2) << "expected a worse match with the track from " << off << " s";
    }
}

// The same still from two separate captures is the same picture, pixel for pixel. 4.4 s is the middle of
// the flash, where most of the random sampling is on screen.
TEST_F(CaptureTool, StillsAreIdenticalAcrossCaptures)
{
    for (const char* name : {"first.png", "second.png"}) {
        const RunResult result = capture({"--still", "4.4=" + dir / name});
        ASSERT_TRUE(result.exited && result.status == 0)
            << "expected exit status 0, got " << describe(result) << "; output:\n"
            << result.output;
    }
    EXPECT_EQ(first_difference(still("first.png"), still("second.png")), "")
        << "expected two captures of t = 4.4 s to be equal";
}

// rand3(-pi) of the shader library, on the CPU in single precision: the colour of the cloud's resting spot.
void spot_colour(float rgb[3])
{
    auto rand = [](float x, float y) {
        const float dot = x * 12.9898f + y * 78.233f;
        const float value = std::sin(dot) * 43758.5453f;
        return value - std::floor(value);
    };
    const float p = -3.14159265f;
    rgb[0] = rand(p, 0);
    rgb[1] = rand(0, p);
    rgb[2] = rand(p, p);
}

// What the timeline shows: the title at 0.5 s, the flash over the view at 4.4 s, and at 3 s the grey
// background (white filtered to 238) with the ring, the helix and the cloud resting as one spot at the centre.
TEST_F(CaptureTool, StillsShowTheTitleTheFlashAndTheRestingScene)
{
    const RunResult result = capture({"--still", "0.5=" + dir / "title.png", "--still", "4.4=" + dir / "flash.png",
                                      "--still", "3=" + dir / "rest.png"});
    ASSERT_TRUE(result.exited && result.status == 0)
        << "expected exit status 0, got " << describe(result) << "; output:\n"
        << result.output;
    const Frame8 title = still("title.png"), flash = still("flash.png"), rest = still("rest.png");
    ASSERT_FALSE(title.rgb.empty() || flash.rgb.empty() || rest.rgb.empty());

    // 0.5 s: black particles of the title in the middle band, centred horizontally.
    EXPECT_GT(title_band_dark_share(title), 0.02)
        << "expected over 2% dark pixels (the title) in the middle band, 45% to 60% of the height";
    EXPECT_GT(title_band_dark_share(title, 0, width / 2), 0.01) << "expected title left of centre";
    EXPECT_GT(title_band_dark_share(title, width / 2), 0.01) << "expected title right of centre";

    // 3 s: grey, ring red (0.6, 0, 0) * 238, helix green (0.3, 0.7, 0.3) * 238, no title, the spot in the middle.
    EXPECT_GT(share_near(rest, 238, 238, 238, 4), 0.8) << "expected over 80% background grey (238 +- 4) at 3 s";
    EXPECT_GT(share_near(rest, 143, 0, 0, 8), 0.002) << "expected ring pixels near (143, 0, 0) at 3 s";
    EXPECT_GT(share_near(rest, 71, 167, 71, 8), 0.02) << "expected helix pixels near (71, 167, 71) at 3 s";
    EXPECT_LT(title_band_dark_share(rest), 0.0005) << "expected the title gone at 3 s";
    float spot[3];
    spot_colour(spot);
    const unsigned char* centre = rest.at(width / 2, height / 2);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(centre[c], spot[c] * 238, 8)
            << "centre channel " << c << ": expected the spot's colour rand3(-pi)"
            << " * 238 = (" << spot[0] * 238 << ", " << spot[1] * 238 << ", " << spot[2] * 238 << ")";

    // 4.4 s: the flash's particles cover the view; far less background, many colours that are neither ring nor helix.
    EXPECT_LT(share_near(flash, 238, 238, 238, 4), 0.6) << "expected under 60% background grey at 4.4 s";
    const double flash_colours = share_where(flash, 0, 0, width, height, [](const unsigned char* p) {
        const bool grey = std::abs(p[0] - 238) <= 12 && std::abs(p[1] - 238) <= 12 && std::abs(p[2] - 238) <= 12;
        const bool helix = p[1] > p[0] + 50 && p[1] > p[2] + 50;
        return !grey && !helix;
    });
    EXPECT_GT(flash_colours, 0.3) << "expected over 30% of the view in the flash's colours at 4.4 s";
    for (const int quarter : {0, 1, 2, 3}) {
        const int x0 = quarter % 2 * width / 2, y0 = quarter / 2 * height / 2;
        EXPECT_LT(share_where(flash, x0, y0, x0 + width / 2, y0 + height / 2,
                              [](const unsigned char* p) { return p[0] >= 234 && p[1] >= 234 && p[2] >= 234; }),
                  0.75)
            << "expected the flash to reach the quarter at (" << x0 << ", " << y0 << ")";
    }
}

// The gentle version of each configuration draws the design's frames where nothing flashes (the title at 0.5 s, the
// ribbon at 60 s) and a calmer cube at 20 s.
TEST_F(CaptureTool, GentleProgramsDifferFromTheDesignOnlyWhereItFlashes)
{
    const struct {
        const char* config;
        int width, height;
    } configurations[] = {{"960x600", 960, 600}, {"1920x1200", 1920, 1200}, {"1280x720", 1280, 720}};
    for (const auto& configuration : configurations) {
        SCOPED_TRACE(configuration.config);
        std::map<std::string, Frame8> frames;   // by version and time
        for (const std::string version : {"design", "gentle"}) {
            std::vector<std::string> arguments = {"--config", configuration.config};
            if (version == "gentle")
                arguments.push_back("--gentle");
            for (const char* at : {"0.5", "20", "60"})
                arguments.insert(arguments.end(), {"--still", std::string(at) + "=" + dir / (version + at + ".png")});
            const RunResult result = capture(arguments);
            ASSERT_TRUE(result.exited && result.status == 0)
                << "expected exit status 0, got " << describe(result) << "; output:\n"
                << result.output;
            for (const char* at : {"0.5", "20", "60"}) {
                const auto decoded = decode_with_ffmpeg(dir / (version + at + ".png"));
                ASSERT_TRUE(decoded.size() == 1 && decoded[0].width == configuration.width &&
                            decoded[0].height == configuration.height)
                    << "expected one " << configuration.config << " image at " << at << " s";
                frames[version + at] = decoded[0];
            }
        }
        EXPECT_EQ(first_difference(frames["design0.5"], frames["gentle0.5"]), "") << "expected equal frames at 0.5 s";
        EXPECT_EQ(first_difference(frames["design60"], frames["gentle60"]), "") << "expected equal frames at 60 s";
        EXPECT_NE(first_difference(frames["design20"], frames["gentle20"]), "")
            << "expected the cubes to differ at 20 s";
    }
}

// A missing demo binary, ffmpeg or display: status 1 and a message that says what is missing.
TEST_F(CaptureTool, MissingBinaryFfmpegOrDisplayIsReported)
{
    TempDir empty;   // a PATH with no ffmpeg in it
    struct Case {
        std::vector<std::string> arguments, environment;
        const char* message;
    };
    const std::string out = dir / "out.mp4";
    const Case cases[] = {
        {{"--demo", dir / "no-such-demo", "-o", out}, {}, "no demo binary at"},
        {{"-o", out}, {"PATH=" + empty.path}, "ffmpeg not found"},
        {{"--ffmpeg", dir / "no-ffmpeg", "-o", out}, {}, "ffmpeg not found"},
        {{"-o", out}, {"DISPLAY=" + dead_display()}, "cannot open X display"},
        {{"--display", dead_display(), "--still", "1"}, {}, "cannot open X display"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const RunResult result = capture(c.arguments, c.environment);
        EXPECT_TRUE(result.exited && result.status == 1) << "expected exit status 1, got " << describe(result);
        EXPECT_NE(result.output.find(c.message), std::string::npos)
            << "expected the message '" << c.message << "'; output:\n"
            << result.output;
        EXPECT_FALSE(file_exists(out)) << "expected no video file";
    }
}

// With DISPLAY unset the tool starts a private Xvfb and stops it again.
TEST_F(CaptureTool, WorksHeadlessWithItsOwnXvfb)
{
    if (access("/usr/bin/Xvfb", X_OK) != 0)
        GTEST_SKIP() << "Xvfb is not installed";
    const RunResult result = capture({"--still", "3=" + dir / "rest.png"}, {"DISPLAY"});
    ASSERT_TRUE(result.exited && result.status == 0)
        << "expected exit status 0, got " << describe(result) << "; output:\n"
        << result.output;
    const Frame8 rest = still("rest.png");
    EXPECT_GT(share_near(rest, 238, 238, 238, 4), 0.8) << "expected a normal frame: over 80% background grey";
}

}   // namespace

// What can go wrong around a capture, a row each: the run ends with its status and lines, and leaves no partial
// file, no process and nothing in its temporary folder. Each row runs in a folder of its own, "@" in a row; its
// scripts are made there (fake ffmpegs run the real one unless they match), and its links. A folder whose name
// holds a space gets copies of capture, the demo and the clock library, and the copy of capture runs.
TEST_F(CaptureTool, FailuresAndOddPlacesEndCleanly)
{
    const auto ffmpeg_that = [&](const std::string& when, const std::string& then) {
        return "#!/bin/sh\ncase \"$*\" in *" + when + "*) " + then + ";; esac\nexec ffmpeg \"$@\"\n";
    };
    const std::string interrupt = "kill -INT $PPID; ";
    using Files = std::vector<std::pair<std::string, std::string>>;
    struct Case {
        const char* folder;
        std::vector<std::string> arguments;
        int status;
        std::vector<std::string> lines;   // each somewhere in the output
        Files scripts = {}, links = {};   // name and text; name and target
        std::vector<std::string> environment = {};
    };
    const std::string clip_with_fake = "--from 20 --duration 0.2 --fps 10 -o @/x.mp4 --ffmpeg @/ffmpeg";
    const std::string fake_demo = "#!/bin/sh\nunset LD_PRELOAD\necho \"on display $DISPLAY.\"\n"
                                  "xdpyinfo >/dev/null 2>&1 && echo 'with the cookie: let in'\n"
                                  "XAUTHORITY=/dev/null xdpyinfo >/dev/null 2>&1 || echo 'without it: refused'\n";
    const std::string full_disk = "#!/bin/sh\nhead -c 5000000 >/dev/null\necho 'No space left on device' >&2\nexit 1\n";
    // A row a line, or two.
    // clang-format off
    const Case cases[] = {
        // An encoder on a full disk: it reads some frames, says so and ends.
        {"full-disk-encoder", words("--from 20 --duration 3 --fps 10 -o @/x.mp4 --ffmpeg @/ffmpeg"), 1,
            {"capture: ffmpeg stopped taking frames; it said:", "No space left on device"}, {{"ffmpeg", full_disk}}},
        // capture, demo and libvclock.so in a folder whose name LD_PRELOAD would split.
        {"My Apps: 'quoted' \"too\"", {"--still", "3=@/s.png"}, 0, {"still @/s.png: t = 3.000 s"}},
        // --config runs the demo of that name next to capture: the build's, and none beside a copy.
        {"config-1280x720", words("--config 1280x720 --from 20 --duration 0.1 --fps 10 -o @/x.mp4"), 0,
            {"video @/x.mp4: 1 frames at 10 fps from 20.000 s to 20.100 s, 1280x720"}},
        {"copied without demo-1920x1200", words("--config 1920x1200 --still 3"), 1,
            {"no demo binary at '@/demo-1920x1200'"}},
        {"copied without demo-gentle", words("--gentle --still 3"), 1, {"no gentle program at '@/demo-gentle'"}},
        // access() lets root write in /proc; the probe file that cannot be made there tells the truth.
        {"unwritable-output", words("--from 20 --duration 0.2 --fps 10 -o /proc/x.mp4"), 1,
            {"capture: cannot write --output /proc/x.mp4: no file can be made in the folder /proc"}},
        {"still-on-a-full-disk", {"--still", "3=@/s.png"}, 1,
            {"capture: cannot write @/s.png.partial: No space left on device"}, {}, {{"s.png.partial", "/dev/full"}}},
        {"SIGINT-as-the-encoder-starts", words(clip_with_fake), 130, {"capture: interrupted"},
            {{"ffmpeg", ffmpeg_that("rawvideo", interrupt + "exec sleep 60")}}},
        {"SIGINT-while-the-sound-is-added", words(clip_with_fake), 130, {"capture: interrupted"},
            {{"ffmpeg", ffmpeg_that("1:a", interrupt + "exec sleep 60")}}},
        // The signal interrupts capture's wait for an ffmpeg that then ends well.
        {"SIGINT-then-the-sound-added", words(clip_with_fake), 130, {"capture: interrupted"},
            {{"ffmpeg", ffmpeg_that("1:a", interrupt + "eval \"out=\\${$#}\"; : >\"$out\"; exit 0")}}},
        // The private Xvfb lets in the demo, which has the cookie, and no other client.
        {"private-Xvfb", words("--demo @/demo --still 3"), 1, {"with the cookie: let in", "without it: refused", "on display :"},
            {{"demo", fake_demo}}, {}, {"DISPLAY"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        const std::string folder = dir / c.folder;
        const auto here = [&](std::string text) {
            for (size_t at; (at = text.find('@')) != std::string::npos;)
                text.replace(at, 1, folder);
            return text;
        };
        const std::filesystem::path place = folder, temp = place / "tmp";
        ASSERT_TRUE(std::filesystem::create_directories(temp));
        std::string capture = CAPTURE_BINARY;
        if (std::string(c.folder).find(' ') != std::string::npos) {
            for (const char* name : {"capture", "demo", "libvclock.so"})
                std::filesystem::copy_file(std::filesystem::path(CAPTURE_BINARY).parent_path() / name, place / name);
            capture = place / "capture";
        }
        for (const auto& [name, text] : c.scripts) {
            write_file(place / name, text);
            std::filesystem::permissions(place / name, std::filesystem::perms::owner_exec,
                                         std::filesystem::perm_options::add);
        }
        for (const auto& [name, target] : c.links)
            std::filesystem::create_symlink(target, place / name);

        std::vector<std::string> argv = {capture, "--workdir", folder, "--quiet"}, environment = c.environment;
        for (const std::string& argument : c.arguments)
            argv.push_back(here(argument));
        environment.push_back("TMPDIR=" + temp.string());
        const RunResult result = run_program(argv, environment, folder, 60);
        EXPECT_TRUE(result.exited && result.status == c.status)
            << "expected exit status " << c.status << ", got " << describe(result) << "; output:\n"
            << result.output;
        for (const std::string& line : c.lines)
            EXPECT_NE(result.output.find(here(line)), std::string::npos) << "expected '" << here(line) << "'; output:\n"
                                                                         << result.output;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            EXPECT_NE(entry.path().extension(), ".partial") << "expected no partial file";
        EXPECT_TRUE(std::filesystem::is_empty(temp)) << "expected the temporary folder removed";
        const size_t shown = result.output.find("on display :");
        if (shown != std::string::npos) {   // the private Xvfb's socket and lock go with it
            const std::string number = result.output.substr(shown + 12, result.output.find('.', shown) - shown - 12);
            EXPECT_FALSE(file_exists("/tmp/.X11-unix/X" + number)) << "expected no socket of display :" << number;
            EXPECT_FALSE(file_exists("/tmp/.X" + number + "-lock")) << "expected no lock of display :" << number;
        }
        EXPECT_EQ(processes_in(folder).size(), 0u) << "expected no process left";
    }
}
