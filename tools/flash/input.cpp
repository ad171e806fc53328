// The analyser's input: any video decoded by ffmpeg into 8-bit RGB frames, and the show recorded frame by frame under
// the controlled clock by capture. Its temporary folder, and the children it starts (through the one supervisor
// that capture and the tests use), stopped on every way out.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "children.h"
#include "fail.h"
#include "flash.h"
#include "frames.h"
#include "signals.h"
#include "temp_folder.h"

namespace {

Child child;   // the one child running at a time

// Starts argv with its stdout on out_fd (-1: ours), stdin from /dev/null.
void start(const std::vector<std::string>& argv, int out_fd)
{
    ChildFiles files;
    files.in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    files.out = out_fd;
    const bool started = start_child(child, argv, {}, "", files);
    const int error = errno;
    close(files.in);
    if (!started)
        fail(1, "cannot start %s: %s", argv[0].c_str(), strerror(error));
}

// Waits for the child to end; a signal to this process ends the wait, and fail's clean-up stops the child.
int finish()
{
    int status = 0;
    if (!wait_child(child, status, -1, interrupt_flag()))
        fail(130, "interrupted");
    return status;
}

// A program's whole stdout, and its wait status.
std::string output_of(const std::vector<std::string>& argv, int* status)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        fail(1, "pipe: %s", strerror(errno));
    start(argv, out[1]);
    close(out[1]);
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = read(out[0], buffer, sizeof buffer)) != 0) {
        if (got > 0)
            text.append(buffer, static_cast<size_t>(got));
        else if (errno != EINTR || interrupted())
            break;
    }
    close(out[0]);
    *status = finish();
    if (interrupted())
        fail(130, "interrupted");
    return text;
}

// "key=value|key=value" of ffprobe's compact output: the value of key, "" when missing.
std::string field(const std::string& line, const std::string& key)
{
    size_t at = 0;
    while (at < line.size()) {
        const size_t end = std::min(line.find('|', at), line.size());
        if (line.compare(at, key.size() + 1, key + "=") == 0)
            return line.substr(at + key.size() + 1, end - at - key.size() - 1);
        at = end + 1;
    }
    return "";
}

bool whole_number(const std::string& text, long long* value)
{
    char* end = nullptr;
    errno = 0;
    *value = strtoll(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && errno == 0;
}

}   // namespace

void clean_up()
{
    stop_child(child, 5);
    remove_temp_folder();
}

std::string record_show(const std::string& capture, const std::string& config, bool gentle, double from, double to,
                        bool quiet)
{
    std::string video = temp_folder() + "/show.mp4";
    std::vector<std::string> argv = {capture, "--lossless",       "--fps", "60", "--from", std::to_string(from),
                                     "--to",  std::to_string(to), "-o",    video};
    if (!config.empty())
        argv.insert(argv.end(), {"--config", config});
    if (gentle)
        argv.push_back("--gentle");
    if (quiet)
        argv.push_back("--quiet");
    if (!quiet)
        fprintf(stderr, "flash: recording the %sshow from %g to %g s with %s\n", gentle ? "gentle " : "", from, to,
                capture.c_str());
    // capture's own messages go to our stderr; its one line of success to nowhere.
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    start(argv, null_fd);
    close(null_fd);
    const int status = finish();
    if (interrupted())
        fail(130, "interrupted");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail(1, "capture could not record the show (exit status %d)", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return video;
}

// The frames' times come from a first pass of ffprobe over the decoded frames (best_effort_timestamp: the
// presentation time stamp, or the decoder's guess where a frame lacks one), in the order ffmpeg then hands the frames
// over with -fps_mode passthrough, which neither drops nor repeats any. Integers in the stream's time base keep the
// times exact. A separate pass is simpler and sturdier than reading ffmpeg's log (showinfo) beside its picture
// output, and it refuses a file with no frames or times going backwards before any picture is decoded for analysis.
VideoInfo probe_video(const std::string& ffprobe, const std::string& path)
{
    int status = 0;
    const std::string stream = output_of({ffprobe, "-v", "quiet", "-select_streams", "v:0", "-show_entries",
                                          "stream=width,height,r_frame_rate,time_base", "-of", "compact=p=0", path},
                                         &status);
    VideoInfo info;
    unsigned numerator = 0, denominator = 0, base_numerator = 0, base_denominator = 0;
    info.width = atoi(field(stream, "width").c_str());
    info.height = atoi(field(stream, "height").c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || info.width <= 0 || info.height <= 0 ||
        sscanf(field(stream, "r_frame_rate").c_str(), "%u/%u", &numerator, &denominator) != 2 ||
        sscanf(field(stream, "time_base").c_str(), "%u/%u", &base_numerator, &base_denominator) != 2)
        fail(1, "%s holds no video stream that ffprobe can read", path.c_str());
    info.fps = numerator > 0 && denominator > 0 ? static_cast<double>(numerator) / denominator : 0;

    const std::string frames = output_of({ffprobe, "-v", "quiet", "-select_streams", "v:0", "-show_entries",
                                          "frame=pts,best_effort_timestamp", "-of", "compact=p=0", path},
                                         &status);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail(1, "ffprobe could not read the frames of %s (exit status %d)", path.c_str(),
             WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    std::vector<long long> stamps;
    bool all_stamped = true, any_pts = false;
    for (size_t at = 0; at < frames.size();) {
        const size_t end = std::min(frames.find('\n', at), frames.size());
        const std::string line = frames.substr(at, end - at);
        at = end + 1;
        if (line.compare(0, 4, "pts=") != 0)
            continue;   // an empty line or a side-data section
        long long pts = 0, best = 0;
        any_pts = any_pts || whole_number(field(line, "pts"), &pts);
        all_stamped = all_stamped && whole_number(field(line, "best_effort_timestamp"), &best);
        stamps.push_back(best);
    }
    if (stamps.empty())
        fail(1, "%s holds no frames", path.c_str());
    if (!any_pts || !all_stamped || base_numerator == 0 || base_denominator == 0) {
        if (!(info.fps > 0))
            fail(1, "%s has no time stamps and no declared frame rate", path.c_str());
        info.timing = Timing::declared_rate;
        for (size_t k = 0; k < stamps.size(); k++)
            info.times.push_back(static_cast<double>(k) / info.fps);
    } else {
        const double unit = static_cast<double>(base_numerator) / base_denominator;
        for (size_t k = 0; k < stamps.size(); k++) {
            if (k > 0 && stamps[k] < stamps[k - 1])
                fail(1, "the time stamps of %s go backwards at frame %zu (%.3f s after %.3f s)", path.c_str(), k,
                     static_cast<double>(stamps[k] - stamps[0]) * unit,
                     static_cast<double>(stamps[k - 1] - stamps[0]) * unit);
            info.times.push_back(static_cast<double>(stamps[k] - stamps[0]) * unit);
        }
    }
    const size_t n = info.times.size();
    for (size_t k = 1; k < n; k++) {
        const double interval = info.times[k] - info.times[k - 1];
        info.shortest = k == 1 ? interval : std::min(info.shortest, interval);
        info.longest = std::max(info.longest, interval);
    }
    // The last frame shows for the mean interval at a steady rate, else as long as the one before it (a frame at
    // the declared rate when it is the only one). The mean undoes a container's rounding of the times.
    const double mean = n > 1 ? (info.times[n - 1] - info.times[0]) / static_cast<double>(n - 1) : 0;
    const double last = n == 1                                  ? (info.fps > 0 ? 1 / info.fps : 0)
                        : info.longest - info.shortest <= 0.002 ? mean
                                                                : info.times[n - 1] - info.times[n - 2];
    info.end = info.times[n - 1] + last;
    return info;
}

int decode_video(const std::string& ffmpeg, const std::string& path, const VideoInfo& info, Analyser& analyser,
                 bool quiet)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        fail(1, "pipe: %s", strerror(errno));
    // Every decoded frame once, in the order ffprobe listed their times.
    start({ffmpeg, "-nostdin", "-v", "error", "-i", path, "-map", "0:v:0", "-fps_mode", "passthrough", "-f",
           "image2pipe", "-c:v", "ppm", "-pix_fmt", "rgb24", "-"},
          out[1]);
    close(out[1]);
    Frame8 frame;
    int frames = 0;
    while (!interrupted() && read_frame(out[0], frame) == FrameRead::frame) {
        if (static_cast<size_t>(analyser.frames()) >= info.times.size())
            fail(1, "ffmpeg decoded more frames of %s than ffprobe listed (%zu)", path.c_str(), info.times.size());
        if (frame.width != info.width || frame.height != info.height)
            fail(1, "ffmpeg decoded a %dx%d frame of %s, ffprobe said %dx%d", frame.width, frame.height, path.c_str(),
                 info.width, info.height);
        analyser.add_frame(frame.rgb.data(), info.times[static_cast<size_t>(analyser.frames())]);
        frames = analyser.frames();
        if (!quiet && frames % 600 == 0)
            fprintf(stderr, "flash: %d frames\n", frames);
    }
    close(out[0]);
    const int status = finish();
    if (interrupted())
        fail(130, "interrupted");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail(1, "ffmpeg could not decode %s (exit status %d)", path.c_str(),
             WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    if (static_cast<size_t>(frames) != info.times.size())
        fail(1, "ffmpeg decoded %d frames of %s, ffprobe listed %zu", frames, path.c_str(), info.times.size());
    analyser.finish(info.end);
    return frames;
}
