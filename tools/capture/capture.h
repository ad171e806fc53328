// What the parts of the capture tool offer each other, in the order a capture uses them.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "children.h"
#include "fail.h"
#include "frames.h"
#include "paths.h"
#include "signals.h"
#include "temp_folder.h"

// options.cpp: the command line.
constexpr double show_length = 136.0;               // seconds: the demo ends itself after this
constexpr char music_file[] = "Tarnhollow_4.mp3";   // what the demo loads from its working directory

struct Still {
    int64_t ms;         // time of the still
    std::string path;   // where the PNG goes
};

struct Options {
    std::string output;                  // MP4 path; empty: no video
    double from = 0, to = show_length;   // seconds
    bool to_given = false, duration_given = false;
    double duration = 0;
    double fps = 60;
    bool lossless = false;
    int crf = 18;
    std::string preset;   // x264's preset; empty: the one that keeps up with the demo for lossless or --crf
    std::vector<Still> stills;
    std::string stills_dir = ".";
    std::string demo_program =
        "demo";   // the demo next to this tool, by --config and --gentle, unless --demo names one
    bool gentle = false;
    std::string demo, vclock, ffmpeg = "ffmpeg", workdir, display, log;
    bool quiet = false;
};

// Exits with status 2 and a message on a wrong argument, with status 0 after --help.
Options parse_arguments(int argc, char** argv);
// Seconds rounded to the demo clock's whole milliseconds.
int64_t to_ms(double seconds);

// processes.cpp: the children (demo, ffmpeg, a private Xvfb), and stopping them on any exit.
extern Child demo_child, ffmpeg_child;
// A file written under a temporary name that goes on any way out until it is renamed; "" when there is none.
void set_partial(const std::string& path);
// Stops the children, removes the partial file and the temporary folder: what fail does before it exits.
void clean_up();
// Starts a program (see start_child) or dies.
void spawn(Child& child, const std::vector<std::string>& argv, const std::vector<std::string>& environment_changes,
           const std::string& directory, const ChildFiles& files);
// Waits for a child to end, up to limit_seconds when that is not negative: true with its wait status. Dies when
// an interrupt comes first.
bool wait_for(Child& child, int& status, double limit_seconds = -1);
// The display the demo will use: the given one if it answers, else a private Xvfb that lets in only the
// clients given its cookie.
std::string open_display(const Options& options);

// frames.cpp: frames on to the encoder.

// Frames on their way to the encoder: the reader hands each one over and goes on reading while a thread of the
// feed's own writes them to the encoder's pipe in order, up to `capacity` frames behind.
class EncoderFeed {
public:
    EncoderFeed(int fd, size_t capacity);
    EncoderFeed(const EncoderFeed&) = delete;
    EncoderFeed& operator=(const EncoderFeed&) = delete;
    ~EncoderFeed();
    // Queues the pixels, leaving a spare buffer in their place; waits while the queue is full. False once a
    // write has failed (the encoder is gone).
    bool push(std::vector<unsigned char>& pixels);
    // Waits until every frame queued is written and ends the thread; false when a write failed, or when SIGINT
    // or SIGTERM came first (the thread is then left to end with the process).
    bool finish();

private:
    void write_queued();
    // Waits until ready() holds; false when an interrupt comes first.
    bool wait_until(std::unique_lock<std::mutex>& lock, const std::function<bool()>& ready);

    int fd_;
    size_t capacity_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<unsigned char>> queued_;
    std::vector<std::vector<unsigned char>> spare_;
    bool closed_ = false, failed_ = false, done_ = false;
    std::thread thread_;
};

// stills.cpp: one frame as a PNG file, there only once complete.
void write_still(const Frame8& frame, const std::string& path);

// progress.cpp: frames done, frames per second and time left of a run, on stderr.
struct Progress {
    const char* label;
    unsigned total;
    bool quiet;
    bool terminal = isatty(2);
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    unsigned last_tenth = 0;

    void update(unsigned done);
};

// runs.cpp: the demo's runs under vclock, one for the stills and one for the video.
void take_stills(const Options& options, const std::string& display);
void record_video(const Options& options, const std::string& display);
