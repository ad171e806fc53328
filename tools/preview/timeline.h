// The preview's timeline: the show position in whole milliseconds, paused or playing on SDL's clock, with seeks,
// steps of a sixtieth of a second, landmarks, a loop and the pause at the end; the keys that move it; its caption.
// Pure logic on clock readings, without GL or sound.
#pragma once

#include <SDL/SDL.h>

#include <cstdint>
#include <string>

// The show's landmarks, keys 1 to 6: the title, the flash, the cube, the ribbon, the return, the last seconds.
constexpr Uint32 landmarks_ms[] = {0, 4300, 9000, 36000, 95000, 130000};   // milliseconds of show

struct Timeline {
    Uint32 anchor_ms = 0;      // show position at anchor_ticks, milliseconds
    Uint32 anchor_ticks = 0;   // SDL's clock when the position was last set or playing resumed
    bool paused = false;
    bool has_loop_start = false, has_loop_end = false;
    Uint32 loop_start_ms = 0, loop_end_ms = 0;
    unsigned jumps = 0;   // counts the moves that are not plain playing: seeks, steps, returns to the loop start
    unsigned steps = 0;   // counts the steps among them
};

// Playing (or paused) from at_ms, clamped to the show's length, as of clock reading ticks.
Timeline start_timeline(int64_t at_ms, bool paused, Uint32 ticks);

// The show position at this clock reading: the anchor, plus the time since it while playing, at most run_length.
Uint32 show_position(const Timeline& timeline, Uint32 ticks);

// Whether the loop plays: both ends set, the start before the end.
bool loop_is_active(const Timeline& timeline);

// Called once per frame before it is drawn: playing past the loop's end (from before it) returns to its start; reaching
// run_length pauses there, on the last frame.
void advance(Timeline& timeline, Uint32 ticks);

// Moves to a position, clamped to [0, run_length]; paused or playing as before.
void seek(Timeline& timeline, Uint32 ticks, int64_t to_ms);

// Pauses and moves by frames sixtieths of a second on the 60 frames per second grid (frame k at k * 1000 / 60 ms,
// rounded to the millisecond): from the grid frame nearest the position.
void step_frames(Timeline& timeline, Uint32 ticks, int frames);

void toggle_pause(Timeline& timeline, Uint32 ticks);

// What a key asks of the program beyond moving the timeline.
enum class KeyAction { none, quit, reload_shaders };

// Applies one key press: Space, Left / Right, Page Up / Page Down, comma / period, Home, 1 to 6, [ ] and Backspace
// move the timeline; R asks for the shaders, Escape to quit; other keys do nothing.
KeyAction apply_key(Timeline& timeline, Uint32 ticks, SDLKey key);

// "velquorin preview - 20.106 s - 153 ms - paused - loop 9.000-12.000": the position, the last frame's time, and
// "paused" and the loop (an end not set is left out) when they apply.
std::string caption(const Timeline& timeline, Uint32 ticks, Uint32 frame_ms);
