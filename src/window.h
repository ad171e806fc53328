// The window: SDL's video and audio, the GL attributes, the video mode of this build, and a check of the context.
#pragma once

// Brings up SDL and opens the window (or the full screen) of the display configuration with a double-buffered
// GL context that has a depth buffer, hides the cursor and checks that the context can run the show's stages.
// On failure prints one line, shuts SDL down again and returns false.
bool open_window();
