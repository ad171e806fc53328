// The controlled clock's protocol: the variables that set vclock up and the lines it writes, in one place for
// vclock itself, the tools that drive it and the tests that read what it wrote.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace vclock {

// Settings, read from the environment of the preloaded program (each is described in the file of its part).
constexpr const char base_variable[] = "VCLOCK_BASE";
constexpr const char step_variable[] = "VCLOCK_STEP";
constexpr const char first_variable[] = "VCLOCK_FIRST";
constexpr const char times_variable[] = "VCLOCK_TIMES";
constexpr const char real_skip_variable[] = "VCLOCK_REAL_SKIP";
constexpr const char events_variable[] = "VCLOCK_EVENTS";
constexpr const char grab_variable[] = "VCLOCK_GRAB";
constexpr const char grab_frames_variable[] = "VCLOCK_GRAB_FRAMES";
constexpr const char log_variable[] = "VCLOCK_LOG";
constexpr const char gl_errors_variable[] = "VCLOCK_GL_ERRORS";
constexpr const char audio_variable[] = "VCLOCK_AUDIO";
// Set by vclock itself: the process id of the program that owns the settings (settings.cpp).
constexpr const char owner_variable[] = "VCLOCK_OWNER";

// Every setting, for a driver that must start its program with none inherited.
constexpr const char* const all_variables[] = {
    base_variable, step_variable,        first_variable, times_variable,     real_skip_variable, events_variable,
    grab_variable, grab_frames_variable, log_variable,   gl_errors_variable, audio_variable,     owner_variable};

// "NAME=value", the form the drivers hand to their child's environment.
inline std::string setting(const char* variable, const std::string& value)
{
    return std::string(variable) + "=" + value;
}

// The comment line of each grabbed PPM frame: frame index J and its time MS in milliseconds.
constexpr const char frame_comment_format[] = "# vclock frame %u t %lld";

// Reads a frame's comment line; false for any other line.
inline bool parse_frame_comment(const char* line, unsigned& frame, int64_t& ms)
{
    long long read_ms = 0;
    if (sscanf(line, frame_comment_format, &frame, &read_ms) != 2)
        return false;
    ms = read_ms;
    return true;
}

// The log (VCLOCK_LOG): one line per swap, then one when the program exits normally. Named fields, so that
// scripts can find a value by the word before it: swap K frame_t MS clock C rss_kb R heap_kb H.
constexpr const char log_swap_format[] = "swap %u frame_t %lld clock %u rss_kb %ld heap_kb %ld";
constexpr const char log_exit_format[] = "exit swaps %u";

// The GL error file (VCLOCK_GL_ERRORS), line by line:
//   WHEN glGetError 0xCODE                  a pending error code; WHEN is "start" (start-up and frame 0, read at
//                                           the first swap), "arm" (raised by switching debug output on) or
//                                           "swap K" (after swap K)
//   debug frame J TYPE SEVERITY id N: TEXT  a debug message while frame J was drawn
//   armed debug_output D                    after the first swap's checks: 1 with debug output, 0 without
//   end swaps N                             when the program exits normally
constexpr const char gl_errors_code_format[] = "%s glGetError 0x%04X";
constexpr const char gl_errors_start[] = "start";
constexpr const char gl_errors_arm[] = "arm";
constexpr const char gl_errors_swap_format[] = "swap %u";
constexpr const char gl_errors_debug_format[] = "debug frame %u %s %s id %u: %s";
constexpr const char gl_errors_armed_format[] = "armed debug_output %d";
constexpr const char gl_errors_end_format[] = "end swaps %u";

// Whether a line of the GL error file reports an error: a glGetError code, or a debug message of type error
// or undefined behaviour.
inline bool gl_errors_line_reports_error(const std::string& line)
{
    if (line.find(" glGetError ") != std::string::npos)
        return true;
    unsigned frame = 0;
    char type[16] = "";
    return sscanf(line.c_str(), "debug frame %u %15s ", &frame, type) == 2 &&
           (std::string(type) == "error" || std::string(type) == "undefined");
}

// One parsed swap line of the log.
struct SwapLine {
    unsigned swap = 0;      // swaps done after this one
    int64_t frame_ms = 0;   // the time the shown frame was drawn at
    uint32_t clock = 0;     // what SDL_GetTicks returns from then on
    long rss_kb = -1;       // resident memory right after the swap, KiB
    long heap_kb = -1;      // malloc'd and not freed right after the swap, KiB
};

// Reads one log line as a swap line; false for any other line.
inline bool parse_swap_line(const char* line, SwapLine& parsed)
{
    long long frame_ms = 0;
    unsigned clock = 0;
    if (sscanf(line, log_swap_format, &parsed.swap, &frame_ms, &clock, &parsed.rss_kb, &parsed.heap_kb) < 3)
        return false;
    parsed.frame_ms = frame_ms;
    parsed.clock = clock;
    return true;
}

// Reads one log line as the exit line; false for any other line.
inline bool parse_exit_line(const char* line, unsigned& swaps)
{
    return sscanf(line, log_exit_format, &swaps) == 1;
}

}   // namespace vclock
