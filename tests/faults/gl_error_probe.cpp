// gl_error_probe: opens a small GL window and makes one bad call before the first swap (GL_INVALID_ENUM) and
// one after it (GL_INVALID_VALUE), so that a GL error check can be seen to report both.
#include <GL/gl.h>
#include <SDL/SDL.h>

int main(int argc, char** argv)
{
    if (SDL_Init(SDL_INIT_VIDEO) != 0 || !SDL_SetVideoMode(64, 64, 24, SDL_OPENGL))
        return 1;
    glEnable(0x7FFF);   // no such capability: GL_INVALID_ENUM during start-up
    glClear(GL_COLOR_BUFFER_BIT);
    SDL_GL_SwapBuffers();
    if (argc > 1 && system(argv[1]) != 0)   // a command between the frames: a child that inherits the preload
        return 1;
    glDrawArrays(GL_POINTS, 0, -1);   // negative count: GL_INVALID_VALUE in frame 1
    SDL_GL_SwapBuffers();
    SDL_Quit();
    return 0;
}
