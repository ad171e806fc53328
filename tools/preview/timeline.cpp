// The preview's timeline: position, pause, seeks, steps, landmarks, loop and end, the keys, the caption.
#include "timeline.h"

#include <algorithm>
#include <cstdio>

#include "show.h"

static Uint32 clamp_to_show(int64_t ms)
{
    return static_cast<Uint32>(std::clamp<int64_t>(ms, 0, run_length));
}

Timeline start_timeline(int64_t at_ms, bool paused, Uint32 ticks)
{
    Timeline timeline;
    timeline.anchor_ms = clamp_to_show(at_ms);
    timeline.anchor_ticks = ticks;
    timeline.paused = paused;
    return timeline;
}

Uint32 show_position(const Timeline& timeline, Uint32 ticks)
{
    if (timeline.paused)
        return timeline.anchor_ms;
    // Wrapping unsigned arithmetic, as the demo's clock: a counter passing 2^32 changes nothing.
    const Uint32 played = ticks - timeline.anchor_ticks;
    return clamp_to_show(int64_t{timeline.anchor_ms} + played);
}

bool loop_is_active(const Timeline& timeline)
{
    return timeline.has_loop_start && timeline.has_loop_end && timeline.loop_start_ms < timeline.loop_end_ms;
}

void advance(Timeline& timeline, Uint32 ticks)
{
    if (timeline.paused)
        return;
    const Uint32 position = show_position(timeline, ticks);
    if (loop_is_active(timeline) && timeline.anchor_ms < timeline.loop_end_ms && position >= timeline.loop_end_ms) {
        timeline.anchor_ms = timeline.loop_start_ms;
        timeline.anchor_ticks = ticks;
        ++timeline.jumps;
    } else if (position >= run_length) {
        timeline.anchor_ms = run_length;
        timeline.paused = true;
    }
}

void seek(Timeline& timeline, Uint32 ticks, int64_t to_ms)
{
    timeline.anchor_ms = clamp_to_show(to_ms);
    timeline.anchor_ticks = ticks;
    ++timeline.jumps;
}

void step_frames(Timeline& timeline, Uint32 ticks, int frames)
{
    const int64_t position = show_position(timeline, ticks);
    const int64_t nearest = (position * 3 + 25) / 50;   // round(position * 60 / 1000)
    const int64_t frame = std::max<int64_t>(nearest + frames, 0);
    timeline.paused = true;
    seek(timeline, ticks, (frame * 100 + 3) / 6);   // round(frame * 1000 / 60)
    ++timeline.steps;
}

void toggle_pause(Timeline& timeline, Uint32 ticks)
{
    timeline.anchor_ms = show_position(timeline, ticks);
    timeline.anchor_ticks = ticks;
    timeline.paused = !timeline.paused;
}

KeyAction apply_key(Timeline& timeline, Uint32 ticks, SDLKey key)
{
    const int64_t position = show_position(timeline, ticks);
    switch (key) {
    case SDLK_ESCAPE:
        return KeyAction::quit;
    case SDLK_r:
        return KeyAction::reload_shaders;
    case SDLK_SPACE:
        toggle_pause(timeline, ticks);
        break;
    case SDLK_LEFT:
        seek(timeline, ticks, position - 1000);
        break;
    case SDLK_RIGHT:
        seek(timeline, ticks, position + 1000);
        break;
    case SDLK_PAGEUP:
        seek(timeline, ticks, position - 10000);
        break;
    case SDLK_PAGEDOWN:
        seek(timeline, ticks, position + 10000);
        break;
    case SDLK_COMMA:
        step_frames(timeline, ticks, -1);
        break;
    case SDLK_PERIOD:
        step_frames(timeline, ticks, 1);
        break;
    case SDLK_HOME:
        seek(timeline, ticks, 0);
        break;
    case SDLK_LEFTBRACKET:
        timeline.has_loop_start = true;
        timeline.loop_start_ms = static_cast<Uint32>(position);
        break;
    case SDLK_RIGHTBRACKET:
        timeline.has_loop_end = true;
        timeline.loop_end_ms = static_cast<Uint32>(position);
        break;
    case SDLK_BACKSPACE:
        timeline.has_loop_start = timeline.has_loop_end = false;
        break;
    default:
        if (key >= SDLK_1 && key <= SDLK_6)
            seek(timeline, ticks, landmarks_ms[key - SDLK_1]);
        break;
    }
    return KeyAction::none;
}

// Seconds to the millisecond: "20.106".
static std::string seconds_text(Uint32 ms)
{
    char text[32];
    snprintf(text, sizeof text, "%u.%03u", ms / 1000, ms % 1000);
    return text;
}

std::string caption(const Timeline& timeline, Uint32 ticks, Uint32 frame_ms)
{
    std::string text = "velquorin preview - " + seconds_text(show_position(timeline, ticks)) + " s - " +
                       std::to_string(frame_ms) + " ms";
    if (timeline.paused)
        text += " - paused";
    if (timeline.has_loop_start || timeline.has_loop_end) {
        text += " - loop ";
        if (timeline.has_loop_start)
            text += seconds_text(timeline.loop_start_ms);
        text += "-";
        if (timeline.has_loop_end)
            text += seconds_text(timeline.loop_end_ms);
    }
    return text;
}
