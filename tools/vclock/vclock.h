// What the parts of vclock offer each other: the settings helpers, the clock and each part's swap steps.
#pragma once

#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vclock {

// settings.cpp: every part's settings, read once on first use, and the helpers to read and write with.
void configure();
// Whether this process read the settings as their owner (the program that started SDL with them).
bool owns_settings();
// Stops the program: status 2 and "vclock: bad WHAT: 'VALUE'" on stderr.
[[noreturn]] void fail(const char* what, const char* value);
std::vector<std::string> split(const std::string& text, char separator);
// A decimal integer from low to high, or fail(what).
int64_t parse_integer(const std::string& text, const char* what, int64_t low, int64_t high);
// The text file the variable names, created and line-buffered; nullptr when the variable is unset.
FILE* open_text_file(const char* variable);
// One line of a log: the protocol's format, then the line's end.
void write_line(FILE* file, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The function this library stands in for, as the program's own libraries define it.
template <typename T> T next_symbol(const char* name)
{
    void* symbol = dlsym(RTLD_NEXT, name);
    if (!symbol) {
        fprintf(stderr, "vclock: %s not found in the program's libraries\n", name);
        _exit(2);
    }
    return reinterpret_cast<T>(symbol);
}

// clock.cpp: the controlled clock and the count of swaps it follows.
void read_clock_settings();
unsigned swaps_done();
// Counts the swap just forwarded, and samples the real timer for it where the clock follows that.
void count_swap();
// T(k): milliseconds since the clock's start at swap count k.
int64_t time_at(unsigned k);
// What SDL_GetTicks returns at swap count k.
uint32_t clock_at(unsigned k);
// Stops the program (fail, naming the setting and why) where a setting moves the clock by more than most_ms in
// one swap: the first frame's time (VCLOCK_FIRST, any of VCLOCK_TIMES, VCLOCK_REAL_SKIP) or a step.
void refuse_jumps_over(int64_t most_ms, const char* why);

// events.cpp: scripted events (SDL_PollEvent).
void read_event_settings();

// frame_grab.cpp: the back buffer of chosen frames, just before their swap.
void read_grab_settings();
void grab_if_chosen(unsigned frame);
// Writes the grabs whose readback has started; at SDL_Quit, while the GL context is still there.
void write_started_grabs();

// memory_log.cpp: one line per swap with the process's memory, and one at exit.
void read_log_settings();
void log_swap(unsigned swaps);
void log_exit(unsigned swaps);

// audio.cpp: the program's audio rendered in step with the clock (SDL_OpenAudio).
void read_audio_settings();
void render_audio_after_swap(unsigned swaps);

// gl_errors.cpp: GL errors at the first swap, after every swap and from debug output.
void read_gl_error_settings();
void check_gl_errors_before_swap(unsigned frame);
void check_gl_errors_after_swap(unsigned swaps);
void end_gl_errors(unsigned swaps);

}   // namespace vclock

// The functions the program calls, in place of SDL's.
#define VCLOCK_EXPORT extern "C" __attribute__((visibility("default")))
