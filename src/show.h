// The show: everything its frames draw with, created once after the window, and its clock.
#pragma once

#include <SDL/SDL.h>

constexpr Uint32 run_length = 136000;   // milliseconds of show

// The render targets, every program, the four batches in the draw list and colour clamping off, in that order.
// Needs the window's context; call once.
void create_show();

// The time a frame is drawn at: seconds since start_time, from SDL's millisecond clock in wrapping unsigned
// arithmetic, so a counter that passes 2^32 during the show changes nothing.
inline float show_time(Uint32 now, Uint32 start_time)
{
    return 0.001f * static_cast<float>(static_cast<Uint32>(now - start_time));
}

// Whether the show is over at this clock reading: strictly more than run_length after start_time.
inline bool show_is_over(Uint32 now, Uint32 start_time)
{
    return static_cast<Uint32>(now - start_time) > run_length;
}
