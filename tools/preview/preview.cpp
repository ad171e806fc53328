// preview: the author's player. Brings the show up as the demo does, then plays it from any time with the music in
// step: pause, seek, step, loop, and the programs rebuilt whenever a stage file changes.
#include <SDL/SDL.h>

#include <cstdio>
#include <string>

#include "preview.h"
#include "render.h"
#include "show.h"
#include "window.h"

int main(int argc, char** argv)
{
    // Messages should reach a pipe as they happen, not at exit.
    setvbuf(stdout, nullptr, _IOLBF, 0);

    PreviewOptions options;
    parse_options(argc, argv, options);

    if (!open_window())   // SDL, the window and its GL context, as the demo's
        return 1;
    create_show();   // render targets, programs, the draw list, colour clamping off, as the demo's
    watch_shaders(options.shaders);

    Timeline timeline = start_timeline(options.at_ms, options.paused, SDL_GetTicks());
    start_music_at(timeline, SDL_GetTicks());
    timeline.anchor_ticks = SDL_GetTicks();   // the show's clock starts once the music plays, as the demo's

    Uint32 previous_frame = timeline.anchor_ticks;
    std::string shown_caption;
    SDL_Event event;
    for (;;) {
        const Uint32 now = SDL_GetTicks();
        advance(timeline, now);
        follow_music(timeline, now);
        poll_shaders();

        // The frame gets the time the demo computes from the same whole milliseconds since its start.
        const Uint32 position = show_position(timeline, now);
        render_frame(show_time(now, now - position));
        SDL_GL_SwapBuffers();

        const std::string text = caption(timeline, now, now - previous_frame);
        previous_frame = now;
        if (text != shown_caption) {
            SDL_WM_SetCaption(text.c_str(), nullptr);
            shown_caption = text;
        }

        while (SDL_PollEvent(&event)) {
            if (event.type == SDL_QUIT) {
                SDL_Quit();
                return 0;
            }
            if (event.type != SDL_KEYDOWN)
                continue;
            const KeyAction action = apply_key(timeline, SDL_GetTicks(), event.key.keysym.sym);
            if (action == KeyAction::quit) {
                SDL_Quit();
                return 0;
            }
            if (action == KeyAction::reload_shaders)
                reload_shaders();
        }
    }
}
