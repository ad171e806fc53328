// vclock's swap: the program's SDL_GL_SwapBuffers, where every part of the library takes its turn, and the exit.
//
// vclock is an LD_PRELOAD library that gives an unchanged SDL 1.2 program a controlled clock, scripted
// events, frame grabs of its back buffer and its audio rendered in step with that clock. Its parts, each in
// its own file with the settings it reads (VCLOCK_*, all optional; vclock_protocol.h names them):
//   clock.cpp        SDL_GetTicks, moved on only by swaps
//   events.cpp       SDL_PollEvent, with scripted events after chosen swaps
//   frame_grab.cpp   the back buffer of chosen frames, as PPM images
//   audio.cpp        SDL_OpenAudio answered with a WAV file filled in step with the clock
//   gl_errors.cpp    GL errors and debug messages
//   memory_log.cpp   a line per swap with its times and the process's memory
//   settings.cpp     reading the settings once, on first use, by the process that owns them
#include <SDL/SDL.h>

#include "vclock.h"

// The program's first SDL call: the process that starts SDL owns the settings.
VCLOCK_EXPORT int SDL_Init(Uint32 flags)
{
    vclock::configure();
    static const auto real_init = vclock::next_symbol<int (*)(Uint32)>("SDL_Init");
    return real_init(flags);
}

VCLOCK_EXPORT void SDL_GL_SwapBuffers(void)
{
    using namespace vclock;
    configure();
    static const auto real_swap = next_symbol<void (*)(void)>("SDL_GL_SwapBuffers");
    const unsigned frame = swaps_done();
    check_gl_errors_before_swap(frame);
    grab_if_chosen(frame);
    real_swap();
    count_swap();
    const unsigned now = frame + 1;
    check_gl_errors_after_swap(now);
    log_swap(now);
    render_audio_after_swap(now);
}

// The program's last SDL call: the last grabbed frames are written while their GL context exists.
VCLOCK_EXPORT void SDL_Quit(void)
{
    static const auto real_quit = vclock::next_symbol<void (*)(void)>("SDL_Quit");
    vclock::write_started_grabs();
    real_quit();
}

namespace {

// Only the owner writes at its exit: a shell command or other child that inherited the preload leaves the files alone.
__attribute__((destructor)) void report_exit()
{
    if (!vclock::owns_settings())
        return;
    vclock::log_exit(vclock::swaps_done());
    vclock::end_gl_errors(vclock::swaps_done());
}

}   // namespace
