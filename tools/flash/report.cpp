// The analyser's results: the verdicts with the worst second and the extended windows of each rule under each
// reading, one CSV row per frame, the same as JSON for programs, and a plot of the flashes per second over the clip
// drawn with cairo.
#include <cairo-svg.h>
#include <cairo.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "flash.h"
#include "thresholds.h"

namespace {

double time_of(const Analyser& analyser, const Clip& clip, int frame)
{
    const std::vector<Row>& rows = analyser.rows();
    return clip.start +
           (frame < static_cast<int>(rows.size()) ? rows[static_cast<size_t>(frame)].time : analyser.end());
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

// "the worst second A to B s": the second ending at the frame, cut at the clip's start.
double second_from(const Analyser& analyser, const Clip& clip, int frame)
{
    return std::max(time_of(analyser, clip, 0), time_of(analyser, clip, frame) - thresholds::window);
}

std::string verdict_line(const Analyser& analyser, const Clip& clip, Rule rule, Reading reading)
{
    const Worst& worst = analyser.worst(rule, reading);
    std::string line = format("%s %s: %s: ", rule_name(rule), reading_name(reading), exceeds(worst) ? "FAIL" : "pass");
    if (worst.last_frame < 0)
        return line + "no change counts";
    line += format("worst second %.3f to %.3f s: %d opposing changes (%g flashes)",
                   second_from(analyser, clip, worst.last_frame), time_of(analyser, clip, worst.last_frame),
                   worst.transitions, flashes_of(worst.transitions));
    if (reading == field_reading)
        line += format(" in the field x %d-%d, y %d-%d", worst.x, worst.x + worst.width - 1, worst.y,
                       worst.y + worst.height - 1);
    line += format(", up to %.0f %% of %s changing together", 100 * worst.area,
                   reading == field_reading ? "it" : "the screen");
    if (worst.frames_over > 0)
        line += format("; over the limit for %.2f s (%d frames)", worst.seconds_over, worst.frames_over);
    return line;
}

std::string extended_line(const Analyser& analyser, const Clip& clip, Rule rule, Reading reading)
{
    const Extended& extended = analyser.extended(rule, reading);
    std::string line = format("%s %s, extended flashing: %s: ", rule_name(rule), reading_name(reading),
                              exceeds(extended) ? "FAIL" : "pass");
    line += format("at most %.2f s of any %g s with %d or more changes in the second", extended.longest,
                   thresholds::extended_window, thresholds::extended_transitions);
    if (extended.longest > 0)
        line += format(" (the %g s from %.3f s)", thresholds::extended_window, clip.start + extended.longest_from);
    for (size_t i = 0; i < extended.spans.size(); i++)
        line += format("%s%.3f to %.3f s", i == 0 ? "; failing windows " : ", ", clip.start + extended.spans[i].from,
                       clip.start + extended.spans[i].to);
    return line;
}

std::string rate_text(const Analyser& analyser, const Clip& clip)
{
    if (clip.timing == Timing::declared_rate)
        return format("no time stamps in the stream: timed at its declared %g fps", clip.declared_fps);
    if (variable_rate(clip))
        return format("variable frame rate (frames %.1f to %.1f ms apart; the header says %g fps), timed by the "
                      "frames' time stamps",
                      1000 * clip.shortest, 1000 * clip.longest, clip.declared_fps);
    const int frames = analyser.frames();
    const double fps =
        frames > 1 ? (frames - 1) / (analyser.rows().back().time - analyser.rows().front().time) : clip.declared_fps;
    // Within 0.1 % of the header's rate (a container's rounding of the times), the header's figure is the rate.
    if (clip.declared_fps > 0 && std::fabs(fps - clip.declared_fps) < 0.001 * clip.declared_fps)
        return format("%g fps, timed by the frames' time stamps", clip.declared_fps);
    return format("%.4g fps (the header says %g fps), timed by the frames' time stamps", fps, clip.declared_fps);
}

// JSON string: quotes, backslashes and control characters escaped.
std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += std::string("\\") + c;
        else if (static_cast<unsigned char>(c) < 0x20)
            out += format("\\u%04x", c);
        else
            out += c;
    }
    return out + "\"";
}

const char* verdict(bool fails)
{
    return fails ? "fail" : "pass";
}

}   // namespace

bool variable_rate(const Clip& clip)
{
    // Containers that keep milliseconds alternate 16 and 17 ms at 60 fps: that is no change of rate.
    return clip.timing == Timing::stamps && clip.longest - clip.shortest > 0.002;
}

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

std::string report_text(const Analyser& analyser, const Clip& clip)
{
    const Geometry& g = analyser.geometry();
    const int frames = analyser.frames();
    std::string text =
        format("%s: %dx%d, %d frames from %.3f to %.3f s, %s\n", clip.name.c_str(), g.width, g.height, frames,
               time_of(analyser, clip, 0), time_of(analyser, clip, frames), rate_text(analyser, clip).c_str());
    text += format("10-degree field %dx%d pixels (%s), cells of 0.1 degree %dx%d pixels\n", g.field_x * g.cell_width,
                   g.field_y * g.cell_height, g.origin.c_str(), g.cell_width, g.cell_height);
    text += format("limits: more than %d opposing changes (%g flashes) of a rule in any %g s fail, and %d or more in "
                   "the second ending at frames that cover %g s of some %g s (extended flashing); a change counts "
                   "where more than %.0f %% of a 10-degree field (or of the screen) changes together (WCAG 2.2 SC "
                   "2.3.1, ITU-R BT.1702, Ofcom)\n",
                   thresholds::transitions_allowed, flashes_of(thresholds::transitions_allowed), thresholds::window,
                   thresholds::extended_transitions, thresholds::extended_allowed, thresholds::extended_window,
                   100 * thresholds::area_allowed);
    for (int reading = 0; reading < reading_count; reading++)
        for (int rule = 0; rule < rule_count; rule++) {
            text += verdict_line(analyser, clip, static_cast<Rule>(rule), static_cast<Reading>(reading)) + "\n";
            text += extended_line(analyser, clip, static_cast<Rule>(rule), static_cast<Reading>(reading)) + "\n";
        }
    return text;
}

std::string report_json(const Analyser& analyser, const Clip& clip)
{
    using namespace thresholds;
    const Geometry& g = analyser.geometry();
    const int frames = analyser.frames();
    std::string text = "{\n";
    text += format("  \"verdict\": \"%s\",\n", verdict(!analyser.passes()));
    text += "  \"clip\": {\"name\": " + quoted(clip.name) +
            format(", \"width\": %d, \"height\": %d, \"frames\": %d, \"start_s\": %.6f, \"end_s\": %.6f, "
                   "\"timing\": \"%s\", \"variable_rate\": %s, \"declared_fps\": %.6g, \"shortest_interval_s\": %.6f, "
                   "\"longest_interval_s\": %.6f},\n",
                   g.width, g.height, frames, time_of(analyser, clip, 0), time_of(analyser, clip, frames),
                   clip.timing == Timing::stamps ? "time stamps" : "declared rate",
                   variable_rate(clip) ? "true" : "false", clip.declared_fps, clip.shortest, clip.longest);
    text += format("  \"field\": {\"width\": %d, \"height\": %d, \"cell_width\": %d, \"cell_height\": %d, \"origin\": ",
                   g.field_x * g.cell_width, g.field_y * g.cell_height, g.cell_width, g.cell_height) +
            quoted(g.origin) + "},\n";
    text += format("  \"thresholds\": {\"transitions_allowed\": %d, \"window_s\": %g, \"area_allowed\": %g, "
                   "\"general_change\": %g, \"general_darker_below\": %g, \"red_saturation\": %g, \"red_scale\": %g, "
                   "\"red_change\": %g, \"extended_transitions\": %d, \"extended_window_s\": %g, "
                   "\"extended_allowed_s\": %g, \"together_s\": %g},\n",
                   transitions_allowed, window, area_allowed, general_change, general_darker_below, red_saturation,
                   red_scale, red_change, extended_transitions, extended_window, extended_allowed, together);
    text += "  \"results\": [\n";
    for (int reading = 0; reading < reading_count; reading++)
        for (int r = 0; r < rule_count; r++) {
            const Rule rule = static_cast<Rule>(r);
            const Worst& worst = analyser.worst(rule, static_cast<Reading>(reading));
            const Extended& extended = analyser.extended(rule, static_cast<Reading>(reading));
            text += format("    {\"rule\": \"%s\", \"reading\": \"%s\",\n", rule == general_rule ? "general" : "red",
                           reading == field_reading ? "field" : "screen");
            text += format("     \"count\": {\"verdict\": \"%s\", \"transitions\": %d, \"flashes\": %g",
                           verdict(exceeds(worst)), worst.transitions, flashes_of(worst.transitions));
            if (worst.last_frame >= 0)
                text += format(", \"from_s\": %.6f, \"to_s\": %.6f", second_from(analyser, clip, worst.last_frame),
                               time_of(analyser, clip, worst.last_frame));
            else
                text += ", \"from_s\": null, \"to_s\": null";
            if (reading == field_reading && worst.last_frame >= 0)
                text += format(", \"field\": {\"x\": %d, \"y\": %d, \"width\": %d, \"height\": %d}", worst.x, worst.y,
                               worst.width, worst.height);
            else
                text += ", \"field\": null";
            text += format(", \"area\": %.4f, \"frames_over\": %d, \"seconds_over\": %.6f},\n", worst.area,
                           worst.frames_over, worst.seconds_over);
            text += format("     \"extended\": {\"verdict\": \"%s\", \"longest_s\": %.6f, \"longest_from_s\": %.6f, "
                           "\"windows\": [",
                           verdict(exceeds(extended)), extended.longest, clip.start + extended.longest_from);
            for (size_t i = 0; i < extended.spans.size(); i++)
                text += format("%s{\"from_s\": %.6f, \"to_s\": %.6f, \"longest_s\": %.6f}", i ? ", " : "",
                               clip.start + extended.spans[i].from, clip.start + extended.spans[i].to,
                               extended.spans[i].longest);
            text += format("]}}%s\n", reading == reading_count - 1 && r == rule_count - 1 ? "" : ",");
        }
    text += "  ]\n}\n";
    return text;
}

bool write_csv(const Analyser& analyser, const Clip& clip, const std::string& path, std::string* error)
{
    std::string text = "time_s,general_changes,general_field_x,general_field_y,red_changes,red_field_x,red_field_y,"
                       "general_changes_screen,red_changes_screen\n";
    const std::vector<Row>& rows = analyser.rows();
    for (size_t frame = 0; frame < rows.size(); frame++) {
        const Row& row = rows[frame];
        text +=
            format("%.6f,%d,%d,%d,%d,%d,%d,%d,%d\n", time_of(analyser, clip, static_cast<int>(frame)),
                   row.transitions[field_reading][general_rule], row.field_x[general_rule], row.field_y[general_rule],
                   row.transitions[field_reading][red_rule], row.field_x[red_rule], row.field_y[red_rule],
                   row.transitions[screen_reading][general_rule], row.transitions[screen_reading][red_rule]);
    }
    return write_whole(path, text, error);
}

namespace {

struct Colour {
    double r, g, b;
};

void set_colour(cairo_t* cr, Colour c, double alpha = 1)
{
    cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha);
}

// Text with its left end (align 0), centre (0.5) or right end (1) at x, its baseline at y.
void text_at(cairo_t* cr, double x, double y, const std::string& text, double align = 0)
{
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    cairo_move_to(cr, x - align * extents.x_advance, y);
    cairo_show_text(cr, text.c_str());
}

// A step for ticks: 1, 2 or 5 times a power of ten (from 0.1), giving at most about `most` ticks over span.
double tick_step(double span, int most)
{
    double step = 0.1;
    for (int k = 0; span / step > most; k++)
        step = (k % 3 == 0 ? 0.2 : k % 3 == 1 ? 0.5 : 1) * std::pow(10, k / 3);
    return step;
}

void draw_plot(cairo_t* cr, const Analyser& analyser, const Clip& clip, int width, int height)
{
    const Colour white{1, 1, 1}, black{0, 0, 0}, grid{0.88, 0.88, 0.88}, shade{1.0, 0.85, 0.6},
        limit_colour{0.85, 0.1, 0.1}, extended_colour{0.8, 0.5, 0.0};
    const struct {
        Reading reading;
        Rule rule;
        Colour colour;
        const char* label;
    } series[] = {{screen_reading, general_rule, {0.6, 0.6, 0.6}, "general flashes over the whole screen"},
                  {screen_reading, red_rule, {0.95, 0.6, 0.7}, "red flashes over the whole screen"},
                  {field_reading, red_rule, {0.8, 0.1, 0.3}, "red flashes in the worst 10-degree field"},
                  {field_reading, general_rule, {0.15, 0.35, 0.8}, "general flashes in the worst 10-degree field"}};
    const double left = 70, right = 20, top = 62, bottom = 52;
    const double plot_w = width - left - right, plot_h = height - top - bottom;
    const std::vector<Row>& rows = analyser.rows();
    double most = flashes_of(thresholds::transitions_allowed) + 1;
    for (const Row& row : rows)
        for (const auto& s : series)
            most = std::max(most, flashes_of(row.transitions[s.reading][s.rule]));
    most = std::ceil(most) + 1;   // room above the highest line
    const double start = time_of(analyser, clip, 0), end = std::max(start + 1e-3, clip.start + analyser.end());
    const auto x_of = [&](double t) { return left + (t - start) / (end - start) * plot_w; };
    const auto y_of = [&](double flashes) { return top + plot_h - flashes / most * plot_h; };

    set_colour(cr, white);
    cairo_paint(cr);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);

    // Title: the clip and the verdict, then what fails.
    const bool passes = analyser.passes();
    cairo_set_font_size(cr, 17);
    set_colour(cr, passes ? black : limit_colour);
    const std::string name = clip.name.substr(clip.name.rfind('/') + 1);   // npos + 1: from the start
    text_at(cr, left, 24, name + ": " + (passes ? "pass" : "FAIL"));
    std::string fails;
    for (int reading = 0; reading < reading_count; reading++)
        for (int rule = 0; rule < rule_count; rule++) {
            const Rule ru = static_cast<Rule>(rule);
            const Reading re = static_cast<Reading>(reading);
            if (exceeds(analyser.worst(ru, re)))
                fails += std::string(fails.empty() ? "" : "; ") + rule_name(ru) + " " + reading_name(re);
            if (exceeds(analyser.extended(ru, re)))
                fails += std::string(fails.empty() ? "" : "; ") + "extended " + rule_name(ru) + " " + reading_name(re);
        }
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 12);
    set_colour(cr, black);
    text_at(cr, left, 44,
            passes ? "every rule passes in any 10-degree field and over the whole screen" : "fails: " + fails);

    // The extended windows, shaded.
    set_colour(cr, shade, 0.7);
    for (int reading = 0; reading < reading_count; reading++)
        for (int rule = 0; rule < rule_count; rule++)
            for (const Extended::Span& span :
                 analyser.extended(static_cast<Rule>(rule), static_cast<Reading>(reading)).spans) {
                cairo_rectangle(cr, x_of(clip.start + span.from), top,
                                x_of(clip.start + span.to) - x_of(clip.start + span.from), plot_h);
                cairo_fill(cr);
            }

    // Grid and ticks.
    cairo_set_line_width(cr, 1);
    cairo_set_font_size(cr, 11);
    const double flash_step = tick_step(most, 10);
    for (int i = 0; i * flash_step <= most + 1e-9; i++) {
        const double f = i * flash_step;
        set_colour(cr, grid);
        cairo_move_to(cr, left, std::round(y_of(f)) + 0.5);
        cairo_line_to(cr, left + plot_w, std::round(y_of(f)) + 0.5);
        cairo_stroke(cr);
        set_colour(cr, black);
        text_at(cr, left - 6, y_of(f) + 4, format("%g", f), 1);
    }
    const double time_step = tick_step(end - start, 14);
    for (auto i = static_cast<long>(std::ceil(start / time_step)); static_cast<double>(i) * time_step <= end + 1e-9;
         i++) {
        const double t = static_cast<double>(i) * time_step;
        set_colour(cr, grid);
        cairo_move_to(cr, std::round(x_of(t)) + 0.5, top);
        cairo_line_to(cr, std::round(x_of(t)) + 0.5, top + plot_h);
        cairo_stroke(cr);
        set_colour(cr, black);
        text_at(cr, x_of(t), top + plot_h + 16, format("%g", t), 0.5);
    }
    set_colour(cr, black);
    cairo_rectangle(cr, left + 0.5, top + 0.5, plot_w - 1, plot_h - 1);
    cairo_stroke(cr);

    // Axis titles.
    cairo_set_font_size(cr, 12);
    text_at(cr, left + plot_w / 2, height - 12, "seconds", 0.5);
    cairo_save(cr);
    cairo_translate(cr, 18, top + plot_h / 2);
    cairo_rotate(cr, -M_PI / 2);
    text_at(cr, 0, 0, "flashes in the second ending here", 0.5);
    cairo_restore(cr);

    // The limits, labelled.
    const double allowed = flashes_of(thresholds::transitions_allowed),
                 extended = flashes_of(thresholds::extended_transitions);
    const double dash[] = {6, 4};
    cairo_set_line_width(cr, 1.5);
    cairo_set_dash(cr, dash, 2, 0);
    set_colour(cr, limit_colour);
    cairo_move_to(cr, left, y_of(allowed));
    cairo_line_to(cr, left + plot_w, y_of(allowed));
    cairo_stroke(cr);
    text_at(cr, left + plot_w - 4, y_of(allowed) - 4,
            format("allowed: %g flashes (%d changes) in any second", allowed, thresholds::transitions_allowed), 1);
    set_colour(cr, extended_colour);
    cairo_move_to(cr, left, y_of(extended));
    cairo_line_to(cr, left + plot_w, y_of(extended));
    cairo_stroke(cr);
    text_at(cr, left + plot_w - 4, y_of(extended) - 4,
            format("extended flashing from %g flashes (%d changes), for %g s of any %g s", extended,
                   thresholds::extended_transitions, thresholds::extended_allowed, thresholds::extended_window),
            1);
    cairo_set_dash(cr, nullptr, 0, 0);

    // The series.
    cairo_set_line_width(cr, 1.5);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    for (const auto& s : series) {
        set_colour(cr, s.colour);
        for (size_t frame = 0; frame < rows.size(); frame++) {
            const double x = x_of(time_of(analyser, clip, static_cast<int>(frame))),
                         y = y_of(flashes_of(rows[frame].transitions[s.reading][s.rule]));
            // Steps: a count holds until the next frame.
            if (frame == 0) {
                cairo_move_to(cr, x, y);
            } else {
                double previous_x, previous_y;
                cairo_get_current_point(cr, &previous_x, &previous_y);
                cairo_line_to(cr, x, previous_y);
                cairo_line_to(cr, x, y);
            }
        }
        cairo_stroke(cr);
    }

    // Legend, top left inside the plot.
    cairo_set_font_size(cr, 11);
    const double line_h = 15, box_w = 290, box_h = line_h * 5 + 8;
    set_colour(cr, white, 0.9);
    cairo_rectangle(cr, left + 8, top + 8, box_w, box_h);
    cairo_fill_preserve(cr);
    set_colour(cr, grid);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    double y = top + 8 + line_h;
    for (int i = 3; i >= 0; i--, y += line_h) {
        set_colour(cr, series[i].colour);
        cairo_set_line_width(cr, 2);
        cairo_move_to(cr, left + 16, y - 4);
        cairo_line_to(cr, left + 40, y - 4);
        cairo_stroke(cr);
        set_colour(cr, black);
        text_at(cr, left + 48, y, series[i].label);
    }
    set_colour(cr, shade, 0.7);
    cairo_rectangle(cr, left + 16, y - 10, 24, 10);
    cairo_fill(cr);
    set_colour(cr, black);
    text_at(cr, left + 48, y, "extended flashing: a 5-s window that fails");
}

bool ends_with(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}   // namespace

bool write_plot(const Analyser& analyser, const Clip& clip, const std::string& path, std::string* error)
{
    const int width = 1200, height = 420;   // pixels (points in SVG)
    const std::string partial = path + ".partial";
    const bool svg = ends_with(path, ".svg");
    cairo_surface_t* surface = svg ? cairo_svg_surface_create(partial.c_str(), width, height)
                                   : cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_t* cr = cairo_create(surface);
    draw_plot(cr, analyser, clip, width, height);
    cairo_status_t status = cairo_status(cr);
    cairo_destroy(cr);
    if (status == CAIRO_STATUS_SUCCESS && !svg)
        status = cairo_surface_write_to_png(surface, partial.c_str());
    cairo_surface_finish(surface);
    if (status == CAIRO_STATUS_SUCCESS)
        status = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        *error = cairo_status_to_string(status);
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
