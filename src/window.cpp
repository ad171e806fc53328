// The window: SDL's video and audio, the GL attributes, the video mode of this build, and a check of the context.
#include "window.h"

#include <SDL/SDL.h>

#include <cstdio>
#include <cstdlib>

#include "display_config.h"
#include "gl.h"

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

bool open_window()
{
    // The show needs an X11 OpenGL window. Left to itself, SDL falls back to a text-console driver when no X
    // server answers, which scribbles on the terminal (or ends the process) instead of failing cleanly.
    setenv("SDL_VIDEODRIVER", "x11", 0);

    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_AUDIO) != 0) {
        printf("SDL_Init() failed: %s\n", SDL_GetError());
        return false;
    }
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    const Uint32 video_flags = full_screen ? SDL_OPENGL | SDL_FULLSCREEN : SDL_OPENGL;
    if (!SDL_SetVideoMode(window_width, window_height, 24, video_flags)) {
        printf("SDL_SetVideoMode() failed: %s\n", SDL_GetError());
        SDL_Quit();
        return false;
    }
    SDL_ShowCursor(0);
    if (!context_is_recent_enough()) {
        SDL_Quit();
        return false;
    }
    return true;
}
