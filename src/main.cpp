// demo: brings up the window, the GL objects and the music, then plays the 136-second show from one clock.
#include <SDL/SDL.h>

#include <cstdio>

#include "render.h"
#include "show.h"
#include "soundtrack.h"
#include "window.h"

int main(int, char**)
{
    // Messages should reach a pipe as they happen, not at exit.
    setvbuf(stdout, nullptr, _IOLBF, 0);

    if (!open_window())   // SDL, the window and its GL context
        return 1;
    create_show();   // render targets, programs, the four batches in draw_ops, colour clamping off
    start_music();

    // The show's clock: milliseconds since the music started.
    const Uint32 start_time = SDL_GetTicks();
    SDL_Event event;
    for (;;) {
        render_frame(show_time(SDL_GetTicks(), start_time));
        SDL_GL_SwapBuffers();

        if (show_is_over(SDL_GetTicks(), start_time)) {
            SDL_Quit();
            return 0;
        }
        while (SDL_PollEvent(&event)) {
            const bool escape = event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE;
            if (escape || event.type == SDL_QUIT) {
                SDL_Quit();
                return 0;
            }
        }
    }
}
