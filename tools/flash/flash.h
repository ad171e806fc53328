// What the parts of the flash analyser offer each other, in the order a run uses them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

// analysis.cpp: the picture's geometry in 0.1-degree cells and 10-degree fields, and the frame-by-frame count.

// Where the 10-degree field and the 0.1-degree cells fall on a picture, in pixels and cells.
struct Geometry {
    int width = 0, height = 0;             // picture, pixels
    int cell_width = 1, cell_height = 1;   // pixels per 0.1-degree cell
    int cells_x = 0, cells_y = 0;          // whole cells over the picture (a remainder under one cell is left out)
    int field_x = 0, field_y = 0;          // cells per 10-degree field, at most the picture
    int surround_x = 1, surround_y = 1;    // cells per 1-degree surround
    std::string origin;                    // how the field was found, for the report
};

// The standard's 341 x 256 of 1024 x 768, scaled to the picture along each axis.
Geometry standard_geometry(int width, int height);
// A square field from the picture's diagonal and the viewing distance (the same unit for both), with square
// pixels; false when the numbers make no field.
bool viewing_geometry(int width, int height, double diagonal, double distance, Geometry* geometry);

enum Rule { general_rule, red_rule, rule_count };
enum Reading { field_reading, screen_reading, reading_count };
const char* rule_name(Rule rule);
const char* reading_name(Reading reading);

// The worst one-second window of one rule under one reading.
struct Worst {
    int transitions = 0;                       // opposing changes in the window (a flash is a pair of them)
    int last_frame = -1;                       // the window's last frame; -1: no change at all
    int x = 0, y = 0, width = 0, height = 0;   // the field, pixels: of those with the most changes, the one that
                                               // holds the most flashing area (ties: nearest the area's centre)
    double area = 0;           // the largest fraction of the field that changed together in one of its changes
    int frames_over = 0;       // frames whose past second holds more changes than allowed
    double seconds_over = 0;   // and the time they cover
};

// Frames with extended flashing (at least extended_transitions in the second ending at them) within 5-s windows.
struct Extended {
    double longest = 0;        // seconds of such frames in the worst 5-s window
    double longest_from = 0;   // where that window starts
    struct Span {
        double from, to;   // seconds: the union of overlapping 5-s windows that reach the limit
        double longest;    // seconds of such frames in the worst window among them
    };
    std::vector<Span> spans;
};

// One frame's count: changes in the second ending at it.
struct Row {
    double time = 0;   // seconds from the first frame
    int transitions[reading_count][rule_count] = {};
    int field_x[rule_count] = {}, field_y[rule_count] = {};   // the field with the most, pixels
};

double flashes_of(int transitions);
bool exceeds(const Worst& worst);
bool exceeds(const Extended& extended);

// Feeds frames of one picture size in order, each with its presentation time; keeps every frame's row and the
// worst second of each rule under each reading, and after finish() the extended windows.
class Analyser {
public:
    explicit Analyser(const Geometry& geometry);
    ~Analyser();
    // 8-bit RGB, top row first; time in seconds from the first frame, never less than the frame before's.
    void add_frame(const unsigned char* rgb, double time);
    // end: where the last frame stops showing, seconds.
    void finish(double end);

    const Geometry& geometry() const;
    int frames() const;
    double end() const;
    const std::vector<Row>& rows() const;
    const Worst& worst(Rule rule, Reading reading) const;
    const Extended& extended(Rule rule, Reading reading) const;
    bool passes() const;   // every rule under both readings, count and extended

    struct State;

private:
    std::unique_ptr<State> state;
};

// report.cpp: the verdicts, the CSV, the JSON and the plot.

// How the frames' times were found.
enum class Timing {
    stamps,         // the stream's presentation time stamps
    declared_rate   // none in the stream: frame numbers over the declared rate
};

struct Clip {
    std::string name;   // what was analysed, for the report
    double start = 0;   // seconds: the time of the first frame
    double declared_fps = 0;
    Timing timing = Timing::stamps;
    double shortest = 0, longest = 0;   // seconds between frames
};
bool variable_rate(const Clip& clip);

std::string report_text(const Analyser& analyser, const Clip& clip);
std::string report_json(const Analyser& analyser, const Clip& clip);
// Writes text to a temporary name beside path and renames it when complete; false and why on failure.
bool write_whole(const std::string& path, const std::string& text, std::string* error);
bool write_csv(const Analyser& analyser, const Clip& clip, const std::string& path, std::string* error);
// PNG, or SVG when the name ends in .svg; written the same way.
bool write_plot(const Analyser& analyser, const Clip& clip, const std::string& path, std::string* error);

// input.cpp: frames from a video through ffmpeg, and the show recorded by capture; the children and signals.

struct VideoInfo {
    int width = 0, height = 0;
    double fps = 0;              // as the header declares it
    std::vector<double> times;   // each frame's, seconds from the first
    double end = 0;              // where the last frame stops showing
    Timing timing = Timing::stamps;
    double shortest = 0, longest = 0;   // seconds between frames
};

// Records [from, to) of the show (in the display configuration config, "" for the default; its gentle version with
// gentle) at 60 fps, lossless, with capture; returns the recording's path.
std::string record_show(const std::string& capture, const std::string& config, bool gentle, double from, double to,
                        bool quiet);
// The picture size and declared rate, and every frame's presentation time (a first pass of ffprobe); fails on a file
// ffprobe cannot read, no frames, time stamps going backwards.
VideoInfo probe_video(const std::string& ffprobe, const std::string& path);
// Decodes every frame of the video as 8-bit RGB and hands it to the analyser with its time; returns the frame count.
int decode_video(const std::string& ffmpeg, const std::string& path, const VideoInfo& info, Analyser& analyser,
                 bool quiet);
// Stops any child and removes the temporary folder: what fail does before it exits.
void clean_up();
