// capture's command line: the options, their checks and the help text.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "capture.h"

namespace {

void usage(FILE* to)
{
    fputs("usage: capture [options]\n"
          "Records the demo at exact times under a controlled clock: an MP4 video and/or PNG stills.\n"
          "  -o, --output FILE.mp4   write the video (H.264 and the soundtrack as AAC)\n"
          "      --from SECONDS      start of the recorded interval (default 0)\n"
          "      --to SECONDS        end of the interval (default 136, the end of the show)\n"
          "      --duration SECONDS  length of the interval, instead of --to\n"
          "      --fps N             frames per second of the video (default 60)\n"
          "      --lossless          lossless RGB H.264 (libx264rgb, qp 0) instead of --crf\n"
          "      --crf N             x264 quality of the normal video, 0-51 (default 18)\n"
          "      --preset NAME       x264's speed against size: ultrafast, superfast, veryfast, faster, fast,\n"
          "                          medium, slow, slower or veryslow (default: ultrafast with --lossless,\n"
          "                          veryfast with --crf)\n"
          "      --still SECONDS[=FILE.png]\n"
          "                          a PNG still of the frame at that time (repeatable; without a file name\n"
          "                          it is DIR/still-SSS.mmm.png)\n"
          "      --stills-dir DIR    where unnamed stills go (default: the current directory)\n"
          "      --config WxH        the display configuration: 960x600 (default), 1920x1200 or 1280x720; its demo\n"
          "                          next to this tool (demo, demo-1920x1200, demo-1280x720) is recorded\n"
          "      --demo PATH         another demo binary, instead of --config\n"
          "      --workdir DIR       the demo's working directory, where it finds Tarnhollow_4.mp3 (default:\n"
          "                          the directory of the demo binary)\n"
          "      --display NAME      X display (default: $DISPLAY; when none is set a private Xvfb is started)\n"
          "      --ffmpeg PATH       ffmpeg to use (default: ffmpeg from PATH)\n"
          "      --vclock PATH       the preloaded clock library (default: libvclock.so next to this tool)\n"
          "      --log FILE          keep the clock's log of the video run (of the stills run when there is no\n"
          "                          video): one line per frame shown, with its time\n"
          "  -q, --quiet             no progress bar\n"
          "  -h, --help              this text\n"
          "Times are in seconds from the start of the show, 0 to 136, and are rounded to whole milliseconds\n"
          "(the demo's clock counts milliseconds). Video frame i is drawn at FROM + i / FPS.\n",
          to);
}

__attribute__((format(printf, 1, 2), noreturn)) void bad_arguments(const char* format, ...)
{
    fputs("capture: ", stderr);
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);   // NOLINT(clang-analyzer-valist.Uninitialized): a false alarm
    va_end(args);
    fputs("\n(capture --help lists the options)\n", stderr);
    exit(2);
}

double parse_seconds(const std::string& text, const char* what)
{
    char* end = nullptr;
    const double value = strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value))
        bad_arguments("%s must be a number of seconds, not '%s'", what, text.c_str());
    if (value < 0)
        bad_arguments("%s must not be negative (got %s)", what, text.c_str());
    if (value > show_length)
        bad_arguments("%s must be at most %g s, the length of the show (got %s)", what, show_length, text.c_str());
    return value;
}

// The demo program of a display configuration, the name it has next to this tool; "" for no configuration.
std::string demo_program_of(const std::string& config)
{
    if (config == "960x600")
        return "demo";
    if (config == "1920x1200" || config == "1280x720")
        return "demo-" + config;
    return "";
}

std::string still_name(int64_t ms)
{
    char name[64];
    snprintf(name, sizeof name, "still-%03lld.%03lld.png", static_cast<long long>(ms / 1000),
             static_cast<long long>(ms % 1000));
    return name;
}

}   // namespace

int64_t to_ms(double seconds)
{
    return llround(seconds * 1000.0);
}

Options parse_arguments(int argc, char** argv)
{
    Options options;
    std::vector<std::string> still_texts;
    bool config_given = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                bad_arguments("%s needs a value", argument.c_str());
            return argv[++i];
        };
        if (argument == "-h" || argument == "--help") {
            usage(stdout);
            exit(0);
        } else if (argument == "-o" || argument == "--output") {
            options.output = value();
        } else if (argument == "--from") {
            options.from = parse_seconds(value(), "--from");
        } else if (argument == "--to") {
            options.to = parse_seconds(value(), "--to");
            options.to_given = true;
        } else if (argument == "--duration") {
            const std::string text = value();
            char* end = nullptr;
            options.duration = strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !(options.duration > 0))
                bad_arguments("--duration must be a positive number of seconds, not '%s'", text.c_str());
            options.duration_given = true;
        } else if (argument == "--fps") {
            const std::string text = value();
            char* end = nullptr;
            options.fps = strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !(options.fps >= 1 && options.fps <= 1000))
                bad_arguments("--fps must be a number from 1 to 1000, not '%s'", text.c_str());
        } else if (argument == "--lossless") {
            options.lossless = true;
        } else if (argument == "--crf") {
            const std::string text = value();
            char* end = nullptr;
            const long crf = strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || crf < 0 || crf > 51)
                bad_arguments("--crf must be a whole number from 0 to 51, not '%s'", text.c_str());
            options.crf = static_cast<int>(crf);
        } else if (argument == "--preset") {
            options.preset = value();
            const char* const presets[] = {"ultrafast", "superfast", "veryfast", "faster",  "fast",
                                           "medium",    "slow",      "slower",   "veryslow"};
            if (std::find(std::begin(presets), std::end(presets), options.preset) == std::end(presets))
                bad_arguments("--preset must be one of ultrafast, superfast, veryfast, faster, fast, medium, slow, "
                              "slower and veryslow, not '%s'",
                              options.preset.c_str());
        } else if (argument == "--still") {
            still_texts.push_back(value());
        } else if (argument == "--stills-dir") {
            options.stills_dir = value();
        } else if (argument == "--config") {
            const std::string config = value();
            options.demo_program = demo_program_of(config);
            if (options.demo_program.empty())
                bad_arguments("--config must be 960x600, 1920x1200 or 1280x720, not '%s'", config.c_str());
            config_given = true;
        } else if (argument == "--demo") {
            options.demo = value();
        } else if (argument == "--workdir") {
            options.workdir = value();
        } else if (argument == "--display") {
            options.display = value();
        } else if (argument == "--ffmpeg") {
            options.ffmpeg = value();
        } else if (argument == "--vclock") {
            options.vclock = value();
        } else if (argument == "--log") {
            options.log = value();
        } else if (argument == "-q" || argument == "--quiet") {
            options.quiet = true;
        } else {
            bad_arguments("unknown option '%s'", argument.c_str());
        }
    }

    if (config_given && !options.demo.empty())
        bad_arguments("give --config or --demo, not both");
    if (options.to_given && options.duration_given)
        bad_arguments("give --to or --duration, not both");
    if (options.duration_given) {
        options.to = options.from + options.duration;
        if (options.to > show_length + 1e-9)
            bad_arguments("the interval %g s to %g s runs past the end of the show at %g s", options.from, options.to,
                          show_length);
    }
    if (!(options.to > options.from))
        bad_arguments("the interval must end after it starts (from %g s to %g s)", options.from, options.to);
    if (options.output.empty() && still_texts.empty())
        bad_arguments("nothing to do: give --output FILE.mp4 and/or --still SECONDS");
    for (const std::string& text : still_texts) {
        const size_t equals = text.find('=');
        Still still;
        still.ms = to_ms(parse_seconds(text.substr(0, equals), "--still"));
        if (equals != std::string::npos) {
            still.path = text.substr(equals + 1);
            if (still.path.empty())
                bad_arguments("--still %s names no file", text.c_str());
        } else {
            still.path = options.stills_dir + "/" + still_name(still.ms);
        }
        options.stills.push_back(still);
    }
    return options;
}
