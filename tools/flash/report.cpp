// The analyser's results: the verdicts with the worst second of each rule under each reading, one CSV row per frame,
// and a plot of the flashes per second over the clip with the allowed count as a line.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "flash.h"
#include "png_file.h"
#include "thresholds.h"

namespace {

double time_of(const Analyser& analyser, const Clip& clip, int frame)
{
    return clip.start + frame / analyser.fps();
}

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...)
{
    char text[1024];
    va_list args;
    va_start(args, pattern);
    vsnprintf(text, sizeof text, pattern, args);   // NOLINT(clang-analyzer-valist.Uninitialized): a false alarm
    va_end(args);
    return text;
}

std::string verdict_line(const Analyser& analyser, const Clip& clip, Rule rule, Reading reading)
{
    const Worst& worst = analyser.worst(rule, reading);
    std::string line = format("%s %s: %s: ", rule_name(rule), reading_name(reading), exceeds(worst) ? "FAIL" : "pass");
    if (worst.last_frame < 0)
        return line + "no change counts";
    const int first = std::max(0, worst.last_frame - analyser.window_frames() + 1);
    const double from = time_of(analyser, clip, first);
    line += format("worst second %.3f to %.3f s: %d flashes (%d opposing changes)", from, from + thresholds::window,
                   flashes_of(worst.transitions), worst.transitions);
    if (reading == field_reading)
        line += format(" in the field x %d-%d, y %d-%d", worst.x, worst.x + worst.width - 1, worst.y,
                       worst.y + worst.height - 1);
    line += format(", up to %.0f %% of %s changing together", 100 * worst.area,
                   reading == field_reading ? "it" : "the screen");
    if (worst.frames_over > 0)
        line += format("; over the limit at %d frames (%.2f s)", worst.frames_over, worst.frames_over / analyser.fps());
    return line;
}

// Writes text to a temporary name beside path, then renames it.
bool write_whole(const std::string& path, const std::string& text, std::string* error)
{
    const std::string partial = path + ".partial";
    FILE* file = fopen(partial.c_str(), "wb");
    bool ok = file && fwrite(text.data(), 1, text.size(), file) == text.size();
    if (file && fclose(file) != 0)
        ok = false;
    if (ok && rename(partial.c_str(), path.c_str()) == 0)
        return true;
    *error = strerror(errno);
    unlink(partial.c_str());
    return false;
}

}   // namespace

std::string report_text(const Analyser& analyser, const Clip& clip)
{
    const Geometry& g = analyser.geometry();
    const int frames = analyser.frames();
    std::string text =
        format("%s: %dx%d, %g fps, %d frames from %.3f to %.3f s\n", clip.name.c_str(), g.width, g.height,
               analyser.fps(), frames, time_of(analyser, clip, 0), time_of(analyser, clip, frames));
    text += format("10-degree field %dx%d pixels (%s), cells of 0.1 degree %dx%d pixels\n", g.field_x * g.cell_width,
                   g.field_y * g.cell_height, g.origin.c_str(), g.cell_width, g.cell_height);
    text += format("limits: at most %d flashes of each rule in any %g s; a flash counts where more than %.0f %% of "
                   "a 10-degree field (or of the screen) changes together (WCAG 2.2 SC 2.3.1, ITU-R BT.1702)\n",
                   thresholds::flashes_allowed, thresholds::window, 100 * thresholds::area_allowed);
    if (frames < analyser.window_frames())
        text += format("the clip is shorter than %g s: judged on its %d frames\n", thresholds::window, frames);
    for (int reading = 0; reading < reading_count; reading++)
        for (int rule = 0; rule < rule_count; rule++)
            text += verdict_line(analyser, clip, static_cast<Rule>(rule), static_cast<Reading>(reading)) + "\n";
    return text;
}

bool write_csv(const Analyser& analyser, const Clip& clip, const std::string& path, std::string* error)
{
    std::string text = "time_s,general_flashes,general_field_x,general_field_y,red_flashes,red_field_x,red_field_y,"
                       "general_flashes_screen,red_flashes_screen\n";
    const std::vector<Row>& rows = analyser.rows();
    for (size_t frame = 0; frame < rows.size(); frame++) {
        const Row& row = rows[frame];
        text += format("%.3f,%d,%d,%d,%d,%d,%d,%d,%d\n", time_of(analyser, clip, static_cast<int>(frame)),
                       row.flashes[field_reading][general_rule], row.field_x[general_rule], row.field_y[general_rule],
                       row.flashes[field_reading][red_rule], row.field_x[red_rule], row.field_y[red_rule],
                       row.flashes[screen_reading][general_rule], row.flashes[screen_reading][red_rule]);
    }
    return write_whole(path, text, error);
}

namespace {

// The plot's canvas: white, with lines, rectangles and digits of a 3 x 5 font.
struct Canvas {
    int width, height;
    std::vector<unsigned char> rgb;

    Canvas(int w, int h) : width(w), height(h), rgb(static_cast<size_t>(w) * h * 3, 255) { }

    void dot(int x, int y, const unsigned char* colour)
    {
        if (x < 0 || y < 0 || x >= width || y >= height)
            return;
        std::copy(colour, colour + 3, rgb.data() + (static_cast<size_t>(y) * width + x) * 3);
    }
    void rectangle(int x, int y, int w, int h, const unsigned char* colour)
    {
        for (int j = y; j < y + h; j++)
            for (int i = x; i < x + w; i++)
                dot(i, j, colour);
    }
    // A straight line two pixels thick.
    void line(int x0, int y0, int x1, int y1, const unsigned char* colour)
    {
        const int steps = std::max({std::abs(x1 - x0), std::abs(y1 - y0), 1});
        for (int k = 0; k <= steps; k++)
            rectangle(x0 + (x1 - x0) * k / steps, y0 + (y1 - y0) * k / steps, 2, 2, colour);
    }
    // Digits and '.', each 3 x 5 cells of scale pixels, the text's right end at x.
    void number(int right, int y, const std::string& text, int scale, const unsigned char* colour)
    {
        // clang-format off
        static const char* const glyphs[] = {
            "xxxx xx xx xxxx", " x xx  x  x xxx", "xx   xxxxx  xxx", "xx   x xx   xxx", "x xx xxxx  x  x",
            "xxxx  xx   xxx ", "xxxx  xxxx xxxx", "xxx  x  x x  x ", "xxxx xxxxx xxxx", "xxxx xxxx  xxx ",
            "             x "};
        // clang-format on
        int x = right - static_cast<int>(text.size()) * 4 * scale;
        for (const char c : text) {
            const char* glyph = c == '.' ? glyphs[10] : glyphs[c - '0'];
            for (int cell = 0; cell < 15; cell++)
                if (glyph[cell] == 'x')
                    rectangle(x + cell % 3 * scale, y + cell / 3 * scale, scale, scale, colour);
            x += 4 * scale;
        }
    }
};

}   // namespace

bool write_plot(const Analyser& analyser, const Clip& clip, const std::string& path, std::string* error)
{
    const unsigned char black[3] = {0, 0, 0}, grey[3] = {170, 170, 170}, light[3] = {225, 225, 225},
                        red[3] = {210, 30, 30}, blue[3] = {40, 90, 200}, limit[3] = {240, 150, 0};
    const int width = 1200, height = 360;   // pixels
    const int left = 50, right = 20, top = 20, bottom = 40;
    Canvas canvas(width, height);
    const std::vector<Row>& rows = analyser.rows();
    int most = thresholds::flashes_allowed + 1;
    for (const Row& row : rows)
        for (int reading = 0; reading < reading_count; reading++)
            for (int rule = 0; rule < rule_count; rule++)
                most = std::max(most, row.flashes[reading][rule]);
    const double start = time_of(analyser, clip, 0),
                 end = time_of(analyser, clip, std::max<int>(1, static_cast<int>(rows.size())));
    const int plot_w = width - left - right, plot_h = height - top - bottom;
    const auto x_of = [&](double t) { return left + static_cast<int>((t - start) / (end - start) * plot_w); };
    const auto y_of = [&](double flashes) { return top + plot_h - static_cast<int>(flashes / most * plot_h); };

    // Grid: a line for every flash per second, a tick for every 10 s (every second in a short clip).
    for (int f = 0; f <= most; f++) {
        canvas.rectangle(left, y_of(f), plot_w, 1, light);
        if (most <= 12 || f % 5 == 0)
            canvas.number(left - 8, y_of(f) - 5, std::to_string(f), 2, black);
    }
    const int tick = end - start > 20 ? 10 : 1;   // seconds
    for (int t = static_cast<int>(std::ceil(start / tick)) * tick; t <= end + 1e-9; t += tick) {
        canvas.rectangle(x_of(t), top, 1, plot_h, light);
        canvas.number(x_of(t) + static_cast<int>(std::to_string(t).size()) * 4, top + plot_h + 12, std::to_string(t), 2,
                      black);
    }
    canvas.rectangle(left, top + plot_h, plot_w, 1, black);
    canvas.rectangle(left, top, 1, plot_h, black);
    // The allowed count, then the series: general flashes over the whole screen (grey), red flashes and general
    // flashes in the worst 10-degree field (red, blue).
    canvas.rectangle(left, y_of(thresholds::flashes_allowed) - 1, plot_w, 3, limit);
    const struct {
        Reading reading;
        Rule rule;
        const unsigned char* colour;
    } series[] = {
        {screen_reading, general_rule, grey}, {field_reading, red_rule, red}, {field_reading, general_rule, blue}};
    for (const auto& s : series)
        for (size_t frame = 1; frame < rows.size(); frame++)
            canvas.line(x_of(time_of(analyser, clip, static_cast<int>(frame) - 1)),
                        y_of(rows[frame - 1].flashes[s.reading][s.rule]),
                        x_of(time_of(analyser, clip, static_cast<int>(frame))),
                        y_of(rows[frame].flashes[s.reading][s.rule]), s.colour);

    const std::string partial = path + ".partial";
    if (!write_png(partial, width, height, canvas.rgb.data(), RowOrder::top_down, error)) {
        unlink(partial.c_str());
        return false;
    }
    if (rename(partial.c_str(), path.c_str()) != 0) {
        *error = strerror(errno);
        unlink(partial.c_str());
        return false;
    }
    return true;
}
