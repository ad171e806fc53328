// demo: brings up the window, the GL objects and the music, then plays the 136-second show from one clock.
#include <SDL/SDL.h>

#include <cstdio>
#include <cstdlib>

#include "display_config.h"
#include "drawables.h"
#include "gl.h"
#include "programs.h"
#include "render.h"
#include "soundtrack.h"

static const char title_text[] = "velquorin";
static const Uint32 run_length = 136000;   // milliseconds

// Every stage is GLSL 1.50 with a geometry stage, so anything older than OpenGL 3.2 cannot draw the show.
static bool context_is_recent_enough()
{
    const char* gl_version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    const char* glsl_version = reinterpret_cast<const char*>(glGetString(GL_SHADING_LANGUAGE_VERSION));
    int gl_major = 0, gl_minor = 0, glsl_major = 0, glsl_minor = 0;
    if (gl_version)
        sscanf(gl_version, "%d.%d", &gl_major, &gl_minor);
    if (glsl_version)
        sscanf(glsl_version, "%d.%d", &glsl_major, &glsl_minor);
    if (gl_major * 100 + gl_minor >= 302 && glsl_major * 100 + glsl_minor >= 150)
        return true;
    printf("OpenGL 3.2 with GLSL 1.50 is needed, but this context has OpenGL %s and GLSL %s\n",
           gl_version ? gl_version : "(none)", glsl_version ? glsl_version : "(none)");
    return false;
}

int main(int, char**)
{
    // Messages should reach a pipe as they happen, not at exit.
    setvbuf(stdout, nullptr, _IOLBF, 0);

    // The show needs an X11 OpenGL window. Left to itself, SDL falls back to a text-console driver when no X
    // server answers, which scribbles on the terminal (or ends the process) instead of failing cleanly.
    setenv("SDL_VIDEODRIVER", "x11", 0);

    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_AUDIO) != 0) {
        printf("SDL_Init() failed: %s\n", SDL_GetError());
        return 1;
    }
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    const Uint32 video_flags = full_screen ? SDL_OPENGL | SDL_FULLSCREEN : SDL_OPENGL;
    if (!SDL_SetVideoMode(window_width, window_height, 24, video_flags)) {
        printf("SDL_SetVideoMode() failed: %s\n", SDL_GetError());
        SDL_Quit();
        return 1;
    }
    SDL_ShowCursor(0);
    if (!context_is_recent_enough()) {
        SDL_Quit();
        return 1;
    }

    create_render_targets();
    build_programs();

    // The batches live here for the whole run; the draw operations refer to them.
    const Drawable ring = dummy_vbo(500, effect1);
    draw_ops.push_back([&ring](float t) { draw_batch(ring, t); });
    const Drawable helix = dummy_vbo(500, effect2);
    draw_ops.push_back([&helix](float t) { draw_batch(helix, t); });
    const Drawable cloud = dummy_vbo(200, effect3);
    draw_ops.push_back([&cloud](float t) { draw_batch(cloud, t); });
    const Drawable title = generate_greet(title_text, g1);
    draw_ops.push_back([&title](float t) { draw_batch(title, t); });

    disable_colour_clamping();
    start_music();

    // The show's clock: milliseconds since the music started, in wrapping unsigned arithmetic.
    const Uint32 start_time = SDL_GetTicks();
    SDL_Event event;
    for (;;) {
        const float t = 0.001f * static_cast<float>(static_cast<Uint32>(SDL_GetTicks() - start_time));
        render_frame(t);
        SDL_GL_SwapBuffers();

        if (static_cast<Uint32>(SDL_GetTicks() - start_time) > run_length) {
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
