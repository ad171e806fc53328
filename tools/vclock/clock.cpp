// vclock's clock: what SDL_GetTicks returns, moved on only when the program presents a frame.
//
//   k is the number of SDL_GL_SwapBuffers calls completed so far. Every SDL_GetTicks returns
//   BASE + T(k) in wrapping 32-bit arithmetic, so time stands still while a frame is drawn and moves
//   only when a frame is presented. T(0) = 0: a program that takes its start time before its first
//   frame gets BASE as start and renders frame j (the one drawn after j swaps) at T(j) milliseconds.
//   A program that checks the clock right after a swap sees the time of the frame it is about to draw.
//     default            T(k) = round(k * STEP)
//     VCLOCK_FIRST set   T(k) = FIRST + round((k - 1) * STEP) for k >= 1 (frame 0 is the throw-away
//                        frame at t = 0; a capture starting at FIRST keeps frames 1, 2, ...)
//     VCLOCK_TIMES set   T(k) = the k-th listed time for k = 1..n, then last + round((k - n) * STEP)
//     VCLOCK_REAL_SKIP   T(k) = SKIP + R(k) for k >= 1, where R(k) is the real SDL timer's milliseconds
//                        from the first SDL_GetTicks call to the end of swap k: the clock follows the
//                        system timer (time while the process is stopped counts), sampled once per swap,
//                        and jumps ahead by SKIP at the first swap. STEP, FIRST and TIMES are ignored.
//
// Settings (all optional)
//   VCLOCK_BASE         clock value at k = 0, 0 .. 4294967295 (default 0); 4294962296 wraps 5 s in
//   VCLOCK_STEP         milliseconds per frame, a decimal number > 0 (default 1000/60)
//   VCLOCK_FIRST        milliseconds, the time of frame 1
//   VCLOCK_TIMES        milliseconds, comma-separated: the times of frames 1, 2, ... (any order)
//   VCLOCK_REAL_SKIP    milliseconds, 0 .. 4294967295: follow the real timer, skipping this much at swap 1
#include <SDL/SDL.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>

#include "vclock.h"
#include "vclock_protocol.h"

namespace vclock {

namespace {

uint32_t base_ms = 0;
double step_ms = 1000.0 / 60.0;
bool have_first = false;
int64_t first_ms = 0;
std::vector<int64_t> listed_ms;
bool real_mode = false;
int64_t real_skip_ms = 0;

std::atomic<unsigned> swaps{0};

// The real timer's clock (VCLOCK_REAL_SKIP): T(swaps) for any thread, and T(k) of every swap for the main thread.
std::atomic<int64_t> real_now_ms{0};
std::vector<int64_t> real_ms;   // real_ms[k - 1] = T(k)
std::once_flag real_origin_once;
uint32_t real_origin = 0;   // the real timer at the first SDL_GetTicks call
Uint32 (*real_get_ticks)(void) = nullptr;

// The real SDL timer, and the moment the clock started on it (the first SDL_GetTicks call).
void start_real_clock()
{
    std::call_once(real_origin_once, [] {
        real_get_ticks = next_symbol<Uint32 (*)(void)>("SDL_GetTicks");
        real_origin = real_get_ticks();
    });
}

// T(k) of the swap just completed: the skip plus the real milliseconds since the origin.
void sample_real_clock()
{
    start_real_clock();
    const int64_t t = real_skip_ms + static_cast<uint32_t>(real_get_ticks() - real_origin);
    real_ms.push_back(t);
    real_now_ms.store(t);
}

}   // namespace

void read_clock_settings()
{
    if (const char* text = getenv(base_variable))
        base_ms = static_cast<uint32_t>(parse_integer(text, base_variable, 0, UINT32_MAX));
    if (const char* text = getenv(step_variable)) {
        char* end = nullptr;
        step_ms = strtod(text, &end);
        if (*text == '\0' || *end != '\0' || !(step_ms > 0) || step_ms > 1e9)
            fail(step_variable, text);
    }
    if (const char* text = getenv(first_variable)) {
        have_first = true;
        first_ms = parse_integer(text, first_variable, 0, UINT32_MAX);
    }
    if (const char* text = getenv(times_variable)) {
        const std::vector<std::string> items = split(text, ',');
        listed_ms.resize(items.size());
        std::transform(items.begin(), items.end(), listed_ms.begin(),
                       [](const std::string& item) { return parse_integer(item, times_variable, 0, UINT32_MAX); });
    }
    if (const char* text = getenv(real_skip_variable)) {
        real_mode = true;
        real_skip_ms = parse_integer(text, real_skip_variable, 0, UINT32_MAX);
    }
}

void refuse_jumps_over(int64_t most_ms, const char* why)
{
    const auto refuse = [why](const char* variable) {
        const char* value = getenv(variable);
        fail((std::string(variable) + " (" + why + ")").c_str(), value ? value : "");
    };
    if (have_first && first_ms > most_ms)
        refuse(first_variable);
    if (!listed_ms.empty() && *std::max_element(listed_ms.begin(), listed_ms.end()) > most_ms)
        refuse(times_variable);
    if (real_mode && real_skip_ms > most_ms)
        refuse(real_skip_variable);
    if (!real_mode && step_ms > static_cast<double>(most_ms))
        refuse(step_variable);
}

unsigned swaps_done()
{
    return swaps.load();
}

void count_swap()
{
    if (real_mode)
        sample_real_clock();
    swaps.store(swaps.load() + 1);
}

int64_t time_at(unsigned k)
{
    if (k == 0)
        return 0;
    if (real_mode)
        return k <= real_ms.size() ? real_ms[k - 1] : real_now_ms.load();
    if (!listed_ms.empty()) {
        if (k <= listed_ms.size())
            return listed_ms[k - 1];
        return listed_ms.back() + llround(static_cast<double>(k - listed_ms.size()) * step_ms);
    }
    if (have_first)
        return first_ms + llround((k - 1) * step_ms);
    return llround(k * step_ms);
}

uint32_t clock_at(unsigned k)
{
    return static_cast<uint32_t>(base_ms + static_cast<uint64_t>(time_at(k)));
}

}   // namespace vclock

VCLOCK_EXPORT Uint32 SDL_GetTicks(void)
{
    using namespace vclock;
    configure();
    if (real_mode) {
        start_real_clock();
        return static_cast<uint32_t>(base_ms + static_cast<uint64_t>(real_now_ms.load()));
    }
    return clock_at(swaps.load());
}
