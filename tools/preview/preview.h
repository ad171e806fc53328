// The preview's parts beside its timeline: the command line, the music that follows the picture and the stage
// files it watches.
#pragma once

#include <SDL/SDL.h>

#include <cstdint>
#include <string>

#include "timeline.h"

struct PreviewOptions {
    int64_t at_ms = 0;     // --at, milliseconds of show
    bool paused = false;   // --paused
    std::string shaders;   // --shaders, or the source tree's shaders/ folder for the build's own preview, or empty
    bool shaders_given = false;
};

// Reads the command line into options; exits with status 0 after --help or --version, with status 2 after a bad
// argument (one line saying what is wrong and the usage, on stderr).
void parse_options(int argc, char** argv, PreviewOptions& options);

// Opens the audio device (1024-sample buffer), decodes the checked track whole and plays it from the sample of the
// timeline's position, silent if the timeline is paused; without a device or the track it prints one line, as the
// demo does, and everything else goes on in silence.
void start_music_at(const Timeline& timeline, Uint32 ticks);

// Brings the music in step with the timeline after it moved: silent while paused but for a step's sixtieth of a
// second, and played from the picture's sample after every jump and on resuming.
void follow_music(const Timeline& timeline, Uint32 ticks);

// Starts watching the stage files in directory; when they differ from the embedded stages the programs are built
// from them at once. No directory (empty), or one that does not exist, is said once, and the embedded stages stay
// in use.
void watch_shaders(const std::string& directory);

// Rebuilds the programs when a stage file changed since the last look (called once per frame).
void poll_shaders();

// Rebuilds the programs from the stage files now, changed or not.
void reload_shaders();
