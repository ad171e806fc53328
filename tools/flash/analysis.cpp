// The analyser: each frame's relative luminance and red value averaged over 0.1-degree cells, each cell's opposing
// changes, the area of every 10-degree field (and of the whole screen) that changes together, and the flashes of
// each rule counted in the second that ends at every frame, all on the frames' presentation times; then the 5-s
// windows of extended flashing.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "flash.h"
#include "thresholds.h"

namespace {

// 8-bit sRGB to linear components, per "relative luminance".
struct LinearTable {
    float value[256];
    LinearTable()
    {
        using namespace thresholds;
        for (int i = 0; i < 256; i++) {
            const double c = i / 255.0;
            value[i] = static_cast<float>(c <= srgb_knee ? c / srgb_linear_slope
                                                         : std::pow((c + srgb_offset) / srgb_scale, srgb_gamma));
        }
    }
};

// A cell's signal for one rule in one frame: its value, the mean over its surround, and (red) its saturation.
struct Sample {
    float value = 0, surround = 0;
    bool saturated = false;
};

// One cell's signal for one rule: the extremes since its last change and its last counted change.
struct Track {
    Sample low, high;            // the lowest and highest since the last change (before the first: since the start)
    signed char direction = 0;   // +1 after a rise, -1 after a fall, 0 before the first change
    bool started = false;
    signed char counted = 0;      // direction of the last change that counts as half a flash
    double counted_time = -1e9;   // and its time
};

bool big_enough(Rule rule, double change)
{
    return rule == general_rule ? change >= thresholds::general_change - 1e-6 : change > thresholds::red_change;
}

// Whether a change from one state to the next counts: large enough in the cell and its surround, the darker
// state dark enough (general) or one of the states a saturated red (red).
bool counts(Rule rule, const Sample& from, const Sample& to, int direction)
{
    if (!big_enough(rule, static_cast<double>(direction) * (to.surround - from.surround)))
        return false;
    if (rule == general_rule)
        return std::min(from.value, to.value) < thresholds::general_darker_below;
    return from.saturated || to.saturated;
}

// Advances a cell by one frame; returns the direction of a change that counts, or 0.
int step(Track& track, const Sample& now, Rule rule)
{
    if (!track.started) {
        track.low = track.high = now;
        track.started = true;
        return 0;
    }
    if (track.direction >= 0 && now.value > track.high.value)
        track.high = now;
    if (track.direction <= 0 && now.value < track.low.value)
        track.low = now;
    if (track.direction <= 0 && big_enough(rule, now.value - track.low.value)) {
        const bool counted = counts(rule, track.low, now, +1);
        track.direction = +1;
        track.high = now;
        return counted ? +1 : 0;
    }
    if (track.direction >= 0 && big_enough(rule, track.high.value - now.value)) {
        const bool counted = counts(rule, track.high, now, -1);
        track.direction = -1;
        track.low = now;
        return counted ? -1 : 0;
    }
    return 0;
}

// Sums over any rectangle of a grid in four look-ups.
template <typename T> struct SummedArea {
    int width = 0, height = 0;
    std::vector<T> sums;   // (width + 1) x (height + 1), a zero row and column first

    void build(const std::vector<T>& grid, int grid_width, int grid_height)
    {
        width = grid_width;
        height = grid_height;
        sums.assign(static_cast<size_t>(width + 1) * (height + 1), T(0));
        for (int y = 0; y < height; y++) {
            T row = 0;
            for (int x = 0; x < width; x++) {
                row += grid[static_cast<size_t>(y) * width + x];
                sums[static_cast<size_t>(y + 1) * (width + 1) + x + 1] =
                    sums[static_cast<size_t>(y) * (width + 1) + x + 1] + row;
            }
        }
    }
    T box(int x, int y, int w, int h) const
    {
        const auto at = [&](int i, int j) { return sums[static_cast<size_t>(j) * (width + 1) + i]; };
        return at(x + w, y + h) - at(x, y + h) - at(x + w, y) + at(x, y);
    }
};

// A counted change of a field.
struct Event {
    double time;   // cppcheck-suppress unusedStructMember ; read when the event leaves the window
    int position;
    float area;   // fraction of the field
};

// Every position of a field of one size, for one rule: the direction of each position's last change, its changes
// in the current window, and the worst window so far.
struct FieldSet {
    int width = 0, height = 0;   // cells
    int positions_x = 0, positions_y = 0;
    std::vector<signed char> last;
    std::vector<int> count;
    std::deque<Event> events;
    Worst worst;
};

}   // namespace

struct Analyser::State {
    Geometry geometry;
    int frame = 0;
    double now = 0, end = 0;   // the current frame's time; where the last one stops
    LinearTable linear;
    std::vector<float> red, green, blue;   // per cell, linear means
    std::vector<Sample> samples[rule_count];
    std::vector<Track> tracks[rule_count];
    std::vector<int> rising, falling;
    SummedArea<double> surround_sums;
    SummedArea<int> rising_sums, falling_sums;
    FieldSet fields[reading_count][rule_count];
    Extended extended[reading_count][rule_count];
    std::vector<Row> rows;

    void average_cells(const unsigned char* rgb);
    void surround(Rule rule);
    void count_fields(Rule rule, Reading reading, Row& row);
    int fullest_field(const FieldSet& set, int transitions) const;
    Extended extended_windows(Rule rule, Reading reading) const;
};

const char* rule_name(Rule rule)
{
    return rule == general_rule ? "general flash" : "red flash";
}

const char* reading_name(Reading reading)
{
    return reading == field_reading ? "in any 10-degree field" : "over the whole screen";
}

double flashes_of(int transitions)
{
    return transitions / 2.0;
}

bool exceeds(const Worst& worst)
{
    return worst.transitions > thresholds::transitions_allowed;
}

bool exceeds(const Extended& extended)
{
    return extended.longest >= thresholds::extended_allowed - thresholds::same_time;
}

namespace {

Geometry cells_for_field(int width, int height, double field_width, double field_height)
{
    Geometry g;
    g.width = width;
    g.height = height;
    const double per_cell = thresholds::cell_degrees / thresholds::field_degrees;
    g.cell_width = std::max(1, static_cast<int>(std::lround(field_width * per_cell)));
    g.cell_height = std::max(1, static_cast<int>(std::lround(field_height * per_cell)));
    g.cells_x = std::max(1, width / g.cell_width);
    g.cells_y = std::max(1, height / g.cell_height);
    g.cell_width = std::min(g.cell_width, width);
    g.cell_height = std::min(g.cell_height, height);
    g.field_x = std::clamp(static_cast<int>(std::lround(field_width / g.cell_width)), 1, g.cells_x);
    g.field_y = std::clamp(static_cast<int>(std::lround(field_height / g.cell_height)), 1, g.cells_y);
    const double per_surround = thresholds::surround_degrees / thresholds::field_degrees;
    g.surround_x = std::max(1, static_cast<int>(std::lround(g.field_x * per_surround)));
    g.surround_y = std::max(1, static_cast<int>(std::lround(g.field_y * per_surround)));
    return g;
}

}   // namespace

Geometry standard_geometry(int width, int height)
{
    using namespace thresholds;
    Geometry g = cells_for_field(width, height, static_cast<double>(field_width) * width / reference_width,
                                 static_cast<double>(field_height) * height / reference_height);
    g.origin = "341 x 256 of 1024 x 768, scaled to the picture";
    return g;
}

bool viewing_geometry(int width, int height, double diagonal, double distance, Geometry* geometry)
{
    if (!(diagonal > 0) || !(distance > 0) || width <= 0 || height <= 0)
        return false;
    const double pixel = diagonal / std::hypot(width, height);   // square pixels
    const double pi = 3.14159265358979323846;
    const double side = 2 * distance * std::tan(thresholds::field_degrees / 2 * pi / 180) / pixel;
    if (!(side >= 1) || !std::isfinite(side))
        return false;
    *geometry = cells_for_field(width, height, side, side);
    char origin[128];
    snprintf(origin, sizeof origin, "%.0f x %.0f pixels from the screen's diagonal and the viewing distance", side,
             side);
    geometry->origin = origin;
    return true;
}

Analyser::Analyser(const Geometry& geometry) : state(new State)
{
    State& s = *state;
    s.geometry = geometry;
    const size_t cells = static_cast<size_t>(geometry.cells_x) * geometry.cells_y;
    s.red.resize(cells);
    s.green.resize(cells);
    s.blue.resize(cells);
    s.rising.resize(cells);
    s.falling.resize(cells);
    for (int rule = 0; rule < rule_count; rule++) {
        s.samples[rule].resize(cells);
        s.tracks[rule].resize(cells);
        for (int reading = 0; reading < reading_count; reading++) {
            FieldSet& set = s.fields[reading][rule];
            set.width = reading == field_reading ? geometry.field_x : geometry.cells_x;
            set.height = reading == field_reading ? geometry.field_y : geometry.cells_y;
            set.positions_x = geometry.cells_x - set.width + 1;
            set.positions_y = geometry.cells_y - set.height + 1;
            set.last.assign(static_cast<size_t>(set.positions_x) * set.positions_y, 0);
            set.count.assign(set.last.size(), 0);
        }
    }
}

Analyser::~Analyser() = default;

// Linear R, G and B averaged over each cell, then each rule's value per cell.
void Analyser::State::average_cells(const unsigned char* rgb)
{
    const Geometry& g = geometry;
    std::fill(red.begin(), red.end(), 0.f);
    std::fill(green.begin(), green.end(), 0.f);
    std::fill(blue.begin(), blue.end(), 0.f);
    for (int y = 0; y < g.cells_y * g.cell_height; y++) {
        const unsigned char* pixel = rgb + static_cast<size_t>(y) * g.width * 3;
        const size_t row = static_cast<size_t>(y / g.cell_height) * g.cells_x;
        for (int x = 0; x < g.cells_x * g.cell_width; x++, pixel += 3) {
            const size_t cell = row + x / g.cell_width;
            red[cell] += linear.value[pixel[0]];
            green[cell] += linear.value[pixel[1]];
            blue[cell] += linear.value[pixel[2]];
        }
    }
    const float per_cell = 1.f / static_cast<float>(g.cell_width * g.cell_height);
    for (size_t cell = 0; cell < red.size(); cell++) {
        const float r = red[cell] * per_cell, gr = green[cell] * per_cell, b = blue[cell] * per_cell;
        Sample& luminance = samples[general_rule][cell];
        luminance.value = static_cast<float>(thresholds::luminance_r * r + thresholds::luminance_g * gr +
                                             thresholds::luminance_b * b);
        Sample& reds = samples[red_rule][cell];
        reds.value = static_cast<float>(std::max(0.0, (r - gr - b) * thresholds::red_scale));
        reds.saturated = r + gr + b > 0 && r >= thresholds::red_saturation * (r + gr + b);
    }
}

// Each cell's mean over the 1-degree square about it (cut at the picture's edges).
void Analyser::State::surround(Rule rule)
{
    const Geometry& g = geometry;
    std::vector<Sample>& cells = samples[rule];
    std::vector<double> values(cells.size());
    for (size_t cell = 0; cell < cells.size(); cell++)
        values[cell] = cells[cell].value;
    surround_sums.build(values, g.cells_x, g.cells_y);
    for (int y = 0; y < g.cells_y; y++) {
        const int top = std::max(0, y - g.surround_y / 2),
                  bottom = std::min(g.cells_y, y - g.surround_y / 2 + g.surround_y);
        for (int x = 0; x < g.cells_x; x++) {
            const int left = std::max(0, x - g.surround_x / 2),
                      right = std::min(g.cells_x, x - g.surround_x / 2 + g.surround_x);
            cells[static_cast<size_t>(y) * g.cells_x + x].surround = static_cast<float>(
                surround_sums.box(left, top, right - left, bottom - top) / ((right - left) * (bottom - top)));
        }
    }
}

// A field changes when more than the allowed share of it changed the same way within a short time; only a change
// opposite to its last one counts.
void Analyser::State::count_fields(Rule rule, Reading reading, Row& row)
{
    FieldSet& set = fields[reading][rule];
    // The second ending at this frame: (now - 1 s, now], so that changes exactly one second apart fall in two.
    while (!set.events.empty() && now - set.events.front().time >= thresholds::window - thresholds::same_time) {
        set.count[set.events.front().position]--;
        set.events.pop_front();
    }
    const int area = set.width * set.height;
    const double limit = thresholds::area_allowed * area;
    int best = -1, best_count = -1;
    for (int py = 0; py < set.positions_y; py++) {
        for (int px = 0; px < set.positions_x; px++) {
            const int position = py * set.positions_x + px;
            const int up = rising_sums.box(px, py, set.width, set.height);
            const int down = falling_sums.box(px, py, set.width, set.height);
            const bool rise = up > limit && set.last[position] != +1;
            const bool fall = down > limit && set.last[position] != -1;
            if (rise || fall) {
                const int direction = rise && fall ? (up >= down ? +1 : -1) : (rise ? +1 : -1);
                set.last[position] = static_cast<signed char>(direction);
                set.count[position]++;
                set.events.push_back(
                    {now, position, static_cast<float>(direction > 0 ? up : down) / static_cast<float>(area)});
            }
            if (set.count[position] > best_count) {
                best_count = set.count[position];
                best = position;
            }
        }
    }
    row.transitions[reading][rule] = best_count;
    const int best_x = best % set.positions_x, best_y = best / set.positions_x;
    if (reading == field_reading) {
        row.field_x[rule] = best_x * geometry.cell_width;
        row.field_y[rule] = best_y * geometry.cell_height;
    }
    if (best_count > thresholds::transitions_allowed)
        set.worst.frames_over++;
    if (best_count > set.worst.transitions) {
        Worst& worst = set.worst;
        best = fullest_field(set, best_count);
        worst.transitions = best_count;
        worst.last_frame = frame;
        worst.x = best % set.positions_x * geometry.cell_width;
        worst.y = best / set.positions_x * geometry.cell_height;
        worst.width = set.width * geometry.cell_width;
        worst.height = set.height * geometry.cell_height;
        worst.area = 0;
        for (const Event& event : set.events)
            if (event.position == best)
                worst.area = std::max(worst.area, static_cast<double>(event.area));
    }
}

// Of the positions with this many changes in the window, the one whose changes held the most area; of equals, the
// one whose centre lies nearest the centre of the area changing now (the change that made the count).
int Analyser::State::fullest_field(const FieldSet& set, int transitions) const
{
    std::vector<float> area(set.count.size(), 0.f);
    for (const Event& event : set.events)
        area[event.position] = std::max(area[event.position], event.area);
    double cx = 0, cy = 0, cells = 0;
    for (int y = 0; y < geometry.cells_y; y++)
        for (int x = 0; x < geometry.cells_x; x++)
            if (rising[static_cast<size_t>(y) * geometry.cells_x + x] ||
                falling[static_cast<size_t>(y) * geometry.cells_x + x]) {
                cx += x + 0.5;
                cy += y + 0.5;
                cells++;
            }
    cx = cells > 0 ? cx / cells : geometry.cells_x / 2.0;
    cy = cells > 0 ? cy / cells : geometry.cells_y / 2.0;
    int best = -1;
    double best_area = -1, best_distance = 0;
    for (size_t position = 0; position < set.count.size(); position++) {
        if (set.count[position] != transitions)
            continue;
        const auto px = static_cast<int>(position) % set.positions_x, py = static_cast<int>(position) / set.positions_x;
        const double dx = px + set.width / 2.0 - cx, dy = py + set.height / 2.0 - cy;
        const double distance = dx * dx + dy * dy;
        if (area[position] > best_area + 1e-6 || (area[position] > best_area - 1e-6 && distance < best_distance)) {
            best = static_cast<int>(position);
            best_area = area[position];
            best_distance = distance;
        }
    }
    return best;
}

// A frame flashes on where its second holds extended_transitions or more; a 5-s window fails where such frames
// cover extended_allowed of it. The covered time is piecewise linear in the window's start, so its extremes lie
// where a window starts or ends at a frame's time (or at the end).
Extended Analyser::State::extended_windows(Rule rule, Reading reading) const
{
    using namespace thresholds;
    const size_t n = rows.size();
    std::vector<double> covered(n + 1, 0);   // seconds of flashing frames before frame k
    for (size_t k = 0; k < n; k++) {
        const double next = k + 1 < n ? rows[k + 1].time : end;
        covered[k + 1] =
            covered[k] + (rows[k].transitions[reading][rule] >= extended_transitions ? next - rows[k].time : 0);
    }
    // Flashing time in [first frame, t).
    const auto before = [&](double t) {
        const size_t k =
            static_cast<size_t>(std::upper_bound(rows.begin(), rows.end(), t,
                                                 [](double value, const Row& row) { return value < row.time; }) -
                                rows.begin());
        if (k == 0)
            return 0.0;
        if (k == n && t >= end)
            return covered[n];
        const bool on = rows[k - 1].transitions[reading][rule] >= extended_transitions;
        return covered[k - 1] + (on ? t - rows[k - 1].time : 0);
    };
    Extended result;
    std::vector<double> starts;
    for (const Row& row : rows) {
        starts.push_back(row.time);
        starts.push_back(row.time - extended_window);
    }
    starts.push_back(end - extended_window);
    std::sort(starts.begin(), starts.end());
    for (const double from : starts) {
        const double flashing = before(from + extended_window) - before(from);
        if (flashing > result.longest + 1e-9) {
            result.longest = flashing;
            result.longest_from = std::max(0.0, from);
        }
        if (flashing < extended_allowed - same_time)
            continue;
        const double a = std::max(0.0, from), b = std::min(end, from + extended_window);
        if (!result.spans.empty() && a <= result.spans.back().to + same_time) {
            result.spans.back().to = std::max(result.spans.back().to, b);
            result.spans.back().longest = std::max(result.spans.back().longest, flashing);
        } else {
            result.spans.push_back({a, b, flashing});
        }
    }
    return result;
}

void Analyser::add_frame(const unsigned char* rgb, double time)
{
    State& s = *state;
    const Geometry& g = s.geometry;
    s.now = time;
    s.average_cells(rgb);
    Row row;
    row.time = time;
    for (int r = 0; r < rule_count; r++) {
        const Rule rule = static_cast<Rule>(r);
        s.surround(rule);
        for (size_t cell = 0; cell < s.tracks[rule].size(); cell++) {
            Track& track = s.tracks[rule][cell];
            const int direction = step(track, s.samples[rule][cell], rule);
            if (direction != 0) {
                track.counted = static_cast<signed char>(direction);
                track.counted_time = time;
            }
            const bool recent = time - track.counted_time < thresholds::together - thresholds::same_time;
            s.rising[cell] = recent && track.counted > 0;
            s.falling[cell] = recent && track.counted < 0;
        }
        s.rising_sums.build(s.rising, g.cells_x, g.cells_y);
        s.falling_sums.build(s.falling, g.cells_x, g.cells_y);
        for (int reading = 0; reading < reading_count; reading++)
            s.count_fields(rule, static_cast<Reading>(reading), row);
    }
    s.rows.push_back(row);
    s.frame++;
}

void Analyser::finish(double end)
{
    State& s = *state;
    s.end = end;
    for (int reading = 0; reading < reading_count; reading++)
        for (int rule = 0; rule < rule_count; rule++) {
            Worst& over = s.fields[reading][rule].worst;
            over.seconds_over = 0;
            for (size_t k = 0; k < s.rows.size(); k++)
                if (s.rows[k].transitions[reading][rule] > thresholds::transitions_allowed)
                    over.seconds_over += (k + 1 < s.rows.size() ? s.rows[k + 1].time : end) - s.rows[k].time;
            s.extended[reading][rule] = s.extended_windows(static_cast<Rule>(rule), static_cast<Reading>(reading));
        }
}

const Geometry& Analyser::geometry() const
{
    return state->geometry;
}

double Analyser::end() const
{
    return state->end;
}

int Analyser::frames() const
{
    return state->frame;
}

const std::vector<Row>& Analyser::rows() const
{
    return state->rows;
}

const Worst& Analyser::worst(Rule rule, Reading reading) const
{
    return state->fields[reading][rule].worst;
}

const Extended& Analyser::extended(Rule rule, Reading reading) const
{
    return state->extended[reading][rule];
}

bool Analyser::passes() const
{
    for (int reading = 0; reading < reading_count; reading++)
        for (int rule = 0; rule < rule_count; rule++)
            if (exceeds(worst(static_cast<Rule>(rule), static_cast<Reading>(reading))) ||
                exceeds(extended(static_cast<Rule>(rule), static_cast<Reading>(reading))))
                return false;
    return true;
}
