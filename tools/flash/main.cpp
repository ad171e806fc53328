// flash: measures a video's flashes against the published photosensitivity thresholds (the general and red flash
// rules, in any 10-degree field and over the whole screen) and reports the worst second of each with a verdict.
//
// It reads any video through ffmpeg, or records the show itself at 60 fps under the controlled clock with capture.
//   thresholds.h   the published limits, cited, in one place
//   analysis.cpp   cells, fields and the count of flashes per second
//   report.cpp     the verdicts, the CSV and the plot
//   input.cpp      ffmpeg, capture, the children and the temporary folder
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "flash.h"

namespace {

const double show_length = 136;   // seconds: where capture's show ends

void usage(FILE* to)
{
    fputs("usage: flash [options] VIDEO\n"
          "       flash [options] --show [--from SECONDS] [--to SECONDS]\n"
          "Counts the flashes of a video against the photosensitivity thresholds of WCAG 2.2 (success criterion\n"
          "2.3.1) and ITU-R BT.1702: at most 3 general and 3 red flashes in any second, unless no more than 25 %\n"
          "of any 10-degree field flashes; the area is also judged against the whole screen. Prints the worst\n"
          "second of each rule with a verdict.\n"
          "  VIDEO                  any file ffmpeg reads; every frame is judged at the stream's frame rate\n"
          "      --show             record the show at 60 fps under the controlled clock (with capture) and judge it\n"
          "      --from SECONDS     with --show: start of the recorded interval (default 0)\n"
          "      --to SECONDS       with --show: end of the interval (default 136, the end of the show)\n"
          "      --csv FILE         one row per frame: the flashes of each rule in the second ending there, and the\n"
          "                         worst field\n"
          "      --plot FILE.png    flashes per second over the clip, with the allowed 3 as a line\n"
          "      --diagonal LENGTH  screen diagonal, with --distance: the 10-degree field follows from them (a\n"
          "                         number with in or cm; without, the field is 341 x 256 of 1024 x 768, scaled)\n"
          "      --distance LENGTH  viewing distance (in or cm)\n"
          "      --capture PATH     the capture tool (default: capture next to this tool)\n"
          "      --ffmpeg PATH      ffmpeg to use (default: ffmpeg from PATH; ffprobe is looked for beside it)\n"
          "  -q, --quiet            no progress lines\n"
          "  -h, --help             this text\n"
          "Exit status: 0 when every rule passes under both readings, 3 when any fails, 1 on an error, 2 on a bad\n"
          "argument.\n",
          to);
}

__attribute__((format(printf, 1, 2), noreturn)) void bad_arguments(const char* format, ...)
{
    char message[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);   // NOLINT(clang-analyzer-valist.Uninitialized): a false alarm
    va_end(args);
    printf("flash: %s (flash --help lists the options)\n", message);
    exit(2);
}

double parse_number(const std::string& text, const char* what, double low, double high)
{
    char* end = nullptr;
    const double value = strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= low && value <= high))
        bad_arguments("%s must be a number from %g to %g, not '%s'", what, low, high, text.c_str());
    return value;
}

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

std::string own_directory()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    path[length] = '\0';
    std::string text = path;
    return text.substr(0, text.rfind('/'));
}

// The folder a file will be written to exists and takes files.
void check_writable(const std::string& path, const char* what)
{
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (access(folder.c_str(), W_OK) != 0)
        fail(1, "cannot write the %s %s: the folder %s is missing or not writable", what, path.c_str(), folder.c_str());
}

}   // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    std::string video, csv, plot, capture, ffmpeg = "ffmpeg";
    bool show = false, quiet = false, to_given = false, from_given = false;
    double from = 0, to = show_length, diagonal = 0, distance = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                bad_arguments("%s needs a value", argument.c_str());
            return argv[++i];
        };
        if (argument == "-h" || argument == "--help") {
            usage(stdout);
            return 0;
        } else if (argument == "--show") {
            show = true;
        } else if (argument == "--from") {
            from = parse_number(value(), "--from", 0, show_length);
            from_given = true;
        } else if (argument == "--to") {
            to = parse_number(value(), "--to", 0, show_length);
            to_given = true;
        } else if (argument == "--csv") {
            csv = value();
        } else if (argument == "--plot") {
            plot = value();
        } else if (argument == "--diagonal") {
            diagonal = parse_length(value(), "--diagonal");
        } else if (argument == "--distance") {
            distance = parse_length(value(), "--distance");
        } else if (argument == "--capture") {
            capture = value();
        } else if (argument == "--ffmpeg") {
            ffmpeg = value();
        } else if (argument == "-q" || argument == "--quiet") {
            quiet = true;
        } else if (argument.size() > 1 && argument[0] == '-') {
            bad_arguments("unknown option '%s'", argument.c_str());
        } else if (video.empty()) {
            video = argument;
        } else {
            bad_arguments("one video at a time ('%s' and '%s')", video.c_str(), argument.c_str());
        }
    }
    if (show == !video.empty())
        bad_arguments(show ? "give a video or --show, not both" : "name a video, or --show");
    if ((from_given || to_given) && !show)
        bad_arguments("--from and --to go with --show");
    if (show && !(to > from))
        bad_arguments("--to (%g) must come after --from (%g)", to, from);
    if ((diagonal > 0) != (distance > 0))
        bad_arguments("--diagonal and --distance go together");

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
        if (access(capture.c_str(), X_OK) != 0)
            fail(1, "no capture tool at '%s' (build it, or name it with --capture PATH)", capture.c_str());
    } else {
        struct stat info;
        if (stat(video.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || access(video.c_str(), R_OK) != 0)
            fail(1, "cannot read the video %s: %s", video.c_str(),
                 stat(video.c_str(), &info) != 0 ? strerror(errno) : "not a readable file");
    }
    if (!csv.empty())
        check_writable(csv, "CSV");
    if (!plot.empty())
        check_writable(plot, "plot");

    catch_signals();
    Clip clip{video, 0};
    if (show) {
        video = record_show(capture, from, to, quiet);
        clip.start = from;
        char name[64];
        snprintf(name, sizeof name, "the show from %g to %g s", from, to);
        clip.name = name;
    }
    const VideoInfo info = probe_video(ffprobe, video);
    Geometry geometry = standard_geometry(info.width, info.height);
    if (diagonal > 0 && !viewing_geometry(info.width, info.height, diagonal, distance, &geometry))
        fail(1, "a %g cm diagonal seen from %g cm makes no 10-degree field on %dx%d pixels", diagonal, distance,
             info.width, info.height);
    Analyser analyser(geometry, info.fps);
    decode_video(ffmpeg_path, video, info, analyser, quiet);
    clean_up();

    fputs(report_text(analyser, clip).c_str(), stdout);
    std::string error;
    if (!csv.empty() && !write_csv(analyser, clip, csv, &error))
        fail(1, "cannot write the CSV %s: %s", csv.c_str(), error.c_str());
    if (!plot.empty() && !write_plot(analyser, clip, plot, &error))
        fail(1, "cannot write the plot %s: %s", plot.c_str(), error.c_str());
    for (int rule = 0; rule < rule_count; rule++)
        for (int reading = 0; reading < reading_count; reading++)
            if (exceeds(analyser.worst(static_cast<Rule>(rule), static_cast<Reading>(reading))))
                return 3;
    return 0;
}
