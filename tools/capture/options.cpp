// capture's command line: the options, their checks and the help text.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "capture.h"
#include "command_line.h"

namespace {

const char usage[] =
    "usage: capture [options]\n"
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
    "                          superfast with --crf)\n"
    "      --still SECONDS[=FILE.png]\n"
    "                          a PNG still of the frame at that time (repeatable; without a file name\n"
    "                          it is DIR/still-SSS.mmm.png)\n"
    "      --stills-dir DIR    where unnamed stills go (default: the current directory)\n"
    "      --config WxH        the display configuration: 960x600 (default), 1920x1200 or 1280x720; its demo\n"
    "                          next to this tool (demo, demo-1920x1200, demo-1280x720) is recorded\n"
    "      --gentle            the gentle version of the show, with its flashing reduced below the\n"
    "                          thresholds: demo-gentle (or demo-WxH-gentle with --config) next to this tool\n"
    "      --demo PATH         another demo binary, instead of --config and --gentle\n"
    "      --workdir DIR       the demo's working directory, where it finds Tarnhollow_4.mp3 (default:\n"
    "                          the directory of the demo binary)\n"
    "      --display NAME      X display (default: $DISPLAY; when none is set a private Xvfb is started)\n"
    "      --ffmpeg PATH       ffmpeg to use (default: ffmpeg from PATH)\n"
    "      --vclock PATH       the preloaded clock library (default: libvclock.so next to this tool)\n"
    "      --log FILE          keep the clock's log of the video run (of the stills run when there is no\n"
    "                          video): one line per frame shown, with its time\n"
    "  -q, --quiet             no progress bar\n"
    "  -h, --help              this text\n"
    "      --version           the version of capture\n"
    "Times are in seconds from the start of the show, 0 to 136, and are rounded to whole milliseconds\n"
    "(the demo's clock counts milliseconds). Video frame i is drawn at FROM + i / FPS.\n";

double parse_seconds(const std::string& text, const char* what)
{
    return parse_number(text, what, 0, show_length);
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
    enum {
        from_option = 256,
        to_option,
        duration_option,
        fps_option,
        lossless_option,
        crf_option,
        preset_option,
        still_option,
        stills_dir_option,
        config_option,
        gentle_option,
        demo_option,
        workdir_option,
        display_option,
        ffmpeg_option,
        vclock_option,
        log_option
    };
    static const option table[] = {{"output", required_argument, nullptr, 'o'},
                                   {"from", required_argument, nullptr, from_option},
                                   {"to", required_argument, nullptr, to_option},
                                   {"duration", required_argument, nullptr, duration_option},
                                   {"fps", required_argument, nullptr, fps_option},
                                   {"lossless", no_argument, nullptr, lossless_option},
                                   {"crf", required_argument, nullptr, crf_option},
                                   {"preset", required_argument, nullptr, preset_option},
                                   {"still", required_argument, nullptr, still_option},
                                   {"stills-dir", required_argument, nullptr, stills_dir_option},
                                   {"config", required_argument, nullptr, config_option},
                                   {"gentle", no_argument, nullptr, gentle_option},
                                   {"demo", required_argument, nullptr, demo_option},
                                   {"workdir", required_argument, nullptr, workdir_option},
                                   {"display", required_argument, nullptr, display_option},
                                   {"ffmpeg", required_argument, nullptr, ffmpeg_option},
                                   {"vclock", required_argument, nullptr, vclock_option},
                                   {"log", required_argument, nullptr, log_option},
                                   {"quiet", no_argument, nullptr, 'q'},
                                   {"help", no_argument, nullptr, 'h'},
                                   {"version", no_argument, nullptr, version_option},
                                   {nullptr, 0, nullptr, 0}};
    set_usage(usage);
    for (int found; (found = next_option(argc, argv, "o:qh", table)) != -1;) {
        const std::string value = optarg ? optarg : "";
        switch (found) {
        case 'o':
            options.output = value;
            break;
        case from_option:
            options.from = parse_seconds(value, "--from");
            break;
        case to_option:
            options.to = parse_seconds(value, "--to");
            options.to_given = true;
            break;
        case duration_option:
            options.duration = parse_number(value, "--duration", 0.001, show_length);
            options.duration_given = true;
            break;
        case fps_option:
            options.fps = parse_number(value, "--fps", 1, 1000);
            break;
        case lossless_option:
            options.lossless = true;
            break;
        case crf_option:
            options.crf = static_cast<int>(parse_whole(value, "--crf", 0, 51));
            break;
        case preset_option: {
            options.preset = value;
            const char* const presets[] = {"ultrafast", "superfast", "veryfast", "faster",  "fast",
                                           "medium",    "slow",      "slower",   "veryslow"};
            if (std::find(std::begin(presets), std::end(presets), options.preset) == std::end(presets))
                bad_argument("--preset must be one of ultrafast, superfast, veryfast, faster, fast, medium, slow, "
                             "slower and veryslow, not '%s'",
                             options.preset.c_str());
            break;
        }
        case still_option:
            still_texts.push_back(value);
            break;
        case stills_dir_option:
            options.stills_dir = value;
            break;
        case config_option:
            options.demo_program = demo_program_of(value);
            if (options.demo_program.empty())
                bad_argument("--config must be 960x600, 1920x1200 or 1280x720, not '%s'", value.c_str());
            config_given = true;
            break;
        case gentle_option:
            options.gentle = true;
            break;
        case demo_option:
            options.demo = value;
            break;
        case workdir_option:
            options.workdir = value;
            break;
        case display_option:
            options.display = value;
            break;
        case ffmpeg_option:
            options.ffmpeg = value;
            break;
        case vclock_option:
            options.vclock = value;
            break;
        case log_option:
            options.log = value;
            break;
        case 'q':
            options.quiet = true;
            break;
        default:
            bad_argument("unknown option '%s'", argv[optind - 1]);
        }
    }
    if (optind < argc)
        bad_argument("unexpected operand '%s'", argv[optind]);

    if (config_given && !options.demo.empty())
        bad_argument("give --config or --demo, not both");
    if (options.gentle && !options.demo.empty())
        bad_argument("give --gentle or --demo, not both");
    if (options.gentle)
        options.demo_program += "-gentle";
    if (options.to_given && options.duration_given)
        bad_argument("give --to or --duration, not both");
    if (options.duration_given) {
        options.to = options.from + options.duration;
        if (options.to > show_length + 1e-9)
            bad_argument("the interval %g s to %g s runs past the end of the show at %g s", options.from, options.to,
                         show_length);
    }
    if (!(options.to > options.from))
        bad_argument("the interval must end after it starts (from %g s to %g s)", options.from, options.to);
    if (options.output.empty() && still_texts.empty())
        bad_argument("nothing to do: give --output FILE.mp4 and/or --still SECONDS");
    for (const std::string& text : still_texts) {
        const size_t equals = text.find('=');
        Still still;
        still.ms = to_ms(parse_seconds(text.substr(0, equals), "--still"));
        if (equals != std::string::npos) {
            still.path = text.substr(equals + 1);
            if (still.path.empty())
                bad_argument("--still %s names no file", text.c_str());
        } else {
            still.path = options.stills_dir + "/" + still_name(still.ms);
        }
        options.stills.push_back(still);
    }
    return options;
}
