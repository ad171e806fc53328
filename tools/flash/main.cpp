// flash: measures a video's flashes against the published photosensitivity thresholds (the general and red flash
// rules, in any 10-degree field and over the whole screen) and reports the worst second of each with a verdict.
//
// It reads any video through ffmpeg, or records the show itself at 60 fps under the controlled clock with capture.
//   thresholds.h   the published limits, cited, in one place
//   analysis.cpp   cells, fields and the count of flashes per second
//   report.cpp     the verdicts, the CSV, the JSON and the plot
//   input.cpp      ffmpeg, capture, the children and the temporary folder
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "thresholds.h"

#include "command_line.h"
#include "fail.h"
#include "flash.h"
#include "paths.h"
#include "signals.h"
#include "writable.h"

namespace {

const double show_length = 136;   // seconds: where capture's show ends

const char usage[] =
    "usage: flash [options] VIDEO\n"
    "       flash [options] --show [--gentle] [--config WxH] [--from SECONDS] [--to SECONDS]\n"
    "Counts the flashes of a video against the photosensitivity thresholds of WCAG 2.2 (success criterion\n"
    "2.3.1), ITU-R BT.1702 and Ofcom's guidance: more than 6 opposing changes (3 flashes) of the general or the\n"
    "red rule in any second fail, unless no more than 25 % of any 10-degree field flashes; 4 or more changes a\n"
    "second on frames covering 4 s of some 5-s window fail as extended flashing. The area is also judged\n"
    "against the whole screen. Time is the frames' presentation time stamps. Prints the worst second of each\n"
    "rule with a verdict.\n"
    "  VIDEO                  any file ffmpeg reads, at least one second long\n"
    "      --show             record the show at 60 fps under the controlled clock (with capture) and judge it\n"
    "      --gentle           with --show: record the gentle version of the show (demo-gentle, or\n"
    "                         demo-WxH-gentle with --config)\n"
    "      --config WxH       with --show: the display configuration, 960x600 (default), 1920x1200 or\n"
    "                         1280x720\n"
    "      --from SECONDS     with --show: start of the recorded interval (default 0)\n"
    "      --to SECONDS       with --show: end of the interval (default 136, the end of the show)\n"
    "      --csv FILE         one row per frame: the changes of each rule in the second ending there, and the\n"
    "                         worst field\n"
    "      --json FILE        the verdicts, worst seconds, extended windows, thresholds and the clip, as JSON\n"
    "                         ('-': on standard output, the report then on standard error)\n"
    "      --plot FILE        flashes per second over the clip: PNG, or SVG when FILE ends in .svg\n"
    "      --diagonal LENGTH  screen diagonal, with --distance: the 10-degree field follows from them (a\n"
    "                         number with in or cm; without, the field is 341 x 256 of 1024 x 768, scaled)\n"
    "      --distance LENGTH  viewing distance (in or cm)\n"
    "      --capture PATH     the capture tool (default: capture next to this tool)\n"
    "      --ffmpeg PATH      ffmpeg to use (default: ffmpeg from PATH; ffprobe is looked for beside it)\n"
    "  -q, --quiet            no progress lines\n"
    "  -h, --help             this text\n"
    "      --version          the version of flash\n"
    "Exit status: 0 when every rule passes under both readings, 3 when any fails, 1 on an error, 2 on a bad\n"
    "argument, 130 when interrupted.\n";

// A length in centimetres from "24in", "60cm" or a bare number of inches.
double parse_length(const std::string& text, const char* what)
{
    std::string number = text;
    double scale = 2.54;   // centimetres per inch
    if (number.size() > 2 && number.compare(number.size() - 2, 2, "cm") == 0) {
        scale = 1;
        number.resize(number.size() - 2);
    } else if (number.size() > 2 && number.compare(number.size() - 2, 2, "in") == 0) {
        number.resize(number.size() - 2);
    }
    return scale * parse_number(number, what, 0.1, 100000);
}

}   // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    set_tool("flash", clean_up);
    std::string video, csv, plot, json, capture, config, ffmpeg = "ffmpeg";
    bool show = false, gentle = false, quiet = false, to_given = false, from_given = false;
    double from = 0, to = show_length, diagonal = 0, distance = 0;
    enum {
        show_option = 256,
        gentle_option,
        config_option,
        from_option,
        to_option,
        csv_option,
        plot_option,
        json_option,
        diagonal_option,
        distance_option,
        capture_option,
        ffmpeg_option
    };
    static const option options[] = {{"show", no_argument, nullptr, show_option},
                                     {"gentle", no_argument, nullptr, gentle_option},
                                     {"config", required_argument, nullptr, config_option},
                                     {"from", required_argument, nullptr, from_option},
                                     {"to", required_argument, nullptr, to_option},
                                     {"csv", required_argument, nullptr, csv_option},
                                     {"plot", required_argument, nullptr, plot_option},
                                     {"json", required_argument, nullptr, json_option},
                                     {"diagonal", required_argument, nullptr, diagonal_option},
                                     {"distance", required_argument, nullptr, distance_option},
                                     {"capture", required_argument, nullptr, capture_option},
                                     {"ffmpeg", required_argument, nullptr, ffmpeg_option},
                                     {"quiet", no_argument, nullptr, 'q'},
                                     {"help", no_argument, nullptr, 'h'},
                                     {"version", no_argument, nullptr, version_option},
                                     {nullptr, 0, nullptr, 0}};
    set_usage(usage);
    for (int option; (option = next_option(argc, argv, "qh", options)) != -1;) {
        const std::string value = optarg ? optarg : "";
        switch (option) {
        case 'q':
            quiet = true;
            break;
        case show_option:
            show = true;
            break;
        case gentle_option:
            gentle = true;
            break;
        case config_option:
            if (value != "960x600" && value != "1920x1200" && value != "1280x720")
                bad_argument("--config must be 960x600, 1920x1200 or 1280x720, not '%s'", value.c_str());
            config = value;
            break;
        case from_option:
            from = parse_number(value, "--from", 0, show_length);
            from_given = true;
            break;
        case to_option:
            to = parse_number(value, "--to", 0, show_length);
            to_given = true;
            break;
        case csv_option:
        case plot_option:
        case json_option:
            if (value.empty())
                bad_argument("--%s needs a file name", option == csv_option    ? "csv"
                                                       : option == plot_option ? "plot"
                                                                               : "json");
            (option == csv_option ? csv : option == plot_option ? plot : json) = value;
            break;
        case diagonal_option:
            diagonal = parse_length(value, "--diagonal");
            break;
        case distance_option:
            distance = parse_length(value, "--distance");
            break;
        case capture_option:
            capture = value;
            break;
        case ffmpeg_option:
            ffmpeg = value;
            break;
        default:
            bad_argument("unknown option '%s'", argv[optind - 1]);
        }
    }
    for (int i = optind; i < argc; i++) {
        if (!video.empty())
            bad_argument("one video at a time ('%s' and '%s')", video.c_str(), argv[i]);
        video = argv[i];
    }
    if (show == !video.empty())
        bad_argument(show ? "give a video or --show, not both" : "name a video, or --show");
    if ((from_given || to_given) && !show)
        bad_argument("--from and --to go with --show");
    if ((gentle || !config.empty()) && !show)
        bad_argument("--gentle and --config go with --show");
    if (show && !(to - from >= thresholds::window))
        bad_argument("--to (%g) must come at least %g s after --from (%g)", to, thresholds::window, from);
    const bool json_out = json == "-";
    if ((diagonal > 0) != (distance > 0))
        bad_argument("--diagonal and --distance go together");

    // Everything that can be missing is looked for before anything starts.
    const std::string ffmpeg_path = find_program(ffmpeg);
    if (ffmpeg_path.empty())
        fail(1, "ffmpeg not found ('%s'): install it (apt-get install ffmpeg) or name it with --ffmpeg PATH",
             ffmpeg.c_str());
    const std::string ffprobe = find_program(ffmpeg_path.substr(0, ffmpeg_path.rfind('/') + 1) + "ffprobe");
    if (ffprobe.empty())
        fail(1, "no ffprobe beside %s", ffmpeg_path.c_str());
    if (show) {
        if (capture.empty())
            capture = own_directory() + "/capture";
        if (!is_program(capture))
            fail(1, "no capture tool at '%s' (build it, or name it with --capture PATH)", capture.c_str());
        // capture records the program beside itself.
        const std::string program = capture.substr(0, capture.rfind('/') + 1) + "demo" +
                                    (config.empty() || config == "960x600" ? "" : "-" + config) + "-gentle";
        if (gentle && !is_program(program))
            fail(1, "no gentle program at '%s' (build the %s target)", program.c_str(),
                 program.substr(program.rfind('/') + 1).c_str());
    } else {
        struct stat info;
        if (stat(video.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || access(video.c_str(), R_OK) != 0)
            fail(1, "cannot read the video %s: %s", video.c_str(),
                 stat(video.c_str(), &info) != 0 ? strerror(errno) : "not a readable file");
    }
    if (!csv.empty())
        check_writable(csv, "the CSV " + csv);
    if (!plot.empty())
        check_writable(plot, "the plot " + plot);
    if (!json.empty() && !json_out)
        check_writable(json, "the JSON " + json);

    catch_signals();
    Clip clip;
    clip.name = video;
    if (show) {
        video = record_show(capture, config, gentle, from, to, quiet);
        clip.start = from;
        char name[96];
        snprintf(name, sizeof name, "the %sshow%s%s from %g to %g s", gentle ? "gentle " : "",
                 config.empty() ? "" : " at ", config.c_str(), from, to);
        clip.name = name;
    }
    const VideoInfo info = probe_video(ffprobe, video);
    clip.declared_fps = info.fps;
    clip.timing = info.timing;
    clip.shortest = info.shortest;
    clip.longest = info.longest;
    const double rounding = 0.002;   // seconds: containers that keep milliseconds shorten the last frame by one
    if (info.end < thresholds::window - rounding)
        fail(1, "%s lasts %.3f s: flash judges whole seconds and needs at least %g s", video.c_str(), info.end,
             thresholds::window);
    Geometry geometry = standard_geometry(info.width, info.height);
    if (diagonal > 0 && !viewing_geometry(info.width, info.height, diagonal, distance, &geometry))
        fail(1, "a %g cm diagonal seen from %g cm makes no 10-degree field on %dx%d pixels", diagonal, distance,
             info.width, info.height);
    Analyser analyser(geometry);
    decode_video(ffmpeg_path, video, info, analyser, quiet);
    clean_up();

    fputs(report_text(analyser, clip).c_str(), json_out ? stderr : stdout);
    std::string error;
    if (!csv.empty() && !write_csv(analyser, clip, csv, &error))
        fail(1, "cannot write the CSV %s: %s", csv.c_str(), error.c_str());
    if (!plot.empty() && !write_plot(analyser, clip, plot, &error))
        fail(1, "cannot write the plot %s: %s", plot.c_str(), error.c_str());
    if (json_out)
        fputs(report_json(analyser, clip).c_str(), stdout);
    else if (!json.empty() && !write_whole(json, report_json(analyser, clip), &error))
        fail(1, "cannot write the JSON %s: %s", json.c_str(), error.c_str());
    return analyser.passes() ? 0 : 3;
}
