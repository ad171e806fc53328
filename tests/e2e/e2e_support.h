// Helpers for the end-to-end tests: run a program with a changed environment and a time limit, read the
// clock log and frames that vclock writes, decode PNG and MP4 files through ffmpeg, probe pixels.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct RunResult {
    bool exited = false;      // ended through exit(); otherwise killed by a signal or the time limit
    int status = -1;          // exit status when exited
    int signal = 0;           // the signal that ended it, when not exited
    bool timed_out = false;
    std::string output;       // stdout and stderr together
};

// Runs argv[0] (a path) in directory with the test's environment plus changes, applied in order:
// "NAME=value" sets NAME, "NAME" alone removes it. Output is collected; after limit_seconds the program is killed.
// started, when given, is called with the child's process id as soon as it runs (before its output is read).
RunResult run_program(const std::vector<std::string>& argv, const std::vector<std::string>& environment_changes,
                      const std::string& directory, double limit_seconds,
                      const std::function<void(pid_t)>& started = {});

// "exit status 0" / "killed by signal 11" / "timed out", for assertion messages.
std::string describe(const RunResult& result);

// A fresh folder under TMPDIR, removed with its contents when the object goes.
struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

// The environment that makes the demo run under vclock (LD_PRELOAD, dummy audio) plus the given VCLOCK_* items.
std::vector<std::string> vclock_environment(const std::vector<std::string>& settings);

// vclock's log: one entry per swap, and the swap count it reported at exit (-1 if the line is missing).
struct SwapLine {
    unsigned swap;       // swaps done after this one
    int64_t frame_ms;    // the time the shown frame was drawn at
    uint32_t clock;      // what SDL_GetTicks returns from then on
    long rss_kb = -1;    // resident memory right after the swap, KiB
    long heap_kb = -1;   // malloc'd and not freed right after the swap, KiB
};
struct ClockLog {
    std::vector<SwapLine> swaps;
    long exit_swaps = -1;
};
ClockLog read_clock_log(const std::string& path);

struct Image {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;   // top-down rows, 3 bytes per pixel
    unsigned frame = 0;               // vclock's frame index and time, for grabbed frames
    int64_t ms = -1;
    const unsigned char* at(int x, int y) const { return rgb.data() + (static_cast<size_t>(y) * width + x) * 3; }
};

// Every frame in a vclock grab file (concatenated PPM images with vclock's comment line).
std::vector<Image> read_grabbed_frames(const std::string& path);

// Decodes every video frame (or the single image) of a file with ffmpeg into RGB images of the given size.
std::vector<Image> decode_with_ffmpeg(const std::string& path, int width, int height);

// One value of ffprobe's output for a stream ("v:0", "a:0") or the format (empty stream), e.g. "duration";
// "" when absent.
std::string probe(const std::string& path, const std::string& stream, const std::string& entry);

// Share of pixels (0..1) whose channels are all within tolerance of the colour.
double share_near(const Image& image, int r, int g, int b, int tolerance);

// Share of pixels in the rectangle [x0, x1) x [y0, y1) for which the predicate holds.
template <typename Predicate>
double share_where(const Image& image, int x0, int y0, int x1, int y1, Predicate predicate)
{
    long hits = 0, total = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x, ++total)
            if (predicate(image.at(x, y)))
                ++hits;
    return total ? static_cast<double>(hits) / total : 0.0;
}

// Describes the first pixel where two images differ ("" when they are equal).
std::string first_difference(const Image& expected, const Image& observed);

// A display number with no X server behind it.
std::string dead_display();

bool file_exists(const std::string& path);
std::string read_text(const std::string& path);
