// The music: opening the audio device, checking and loading the track, playing it in a loop.
#pragma once

#include <SDL/SDL_mixer.h>

#include <string>

// The track, read from the working directory.
constexpr char music_file[] = "Tarnhollow_4.mp3";

// Why the file at path cannot be an MPEG audio stream (empty, a directory, no two consecutive frames),
// or an empty string when it looks like one. A file that cannot be opened is left to the loader to report.
std::string mp3_file_problem(const char* path);

// Opens the audio device and checks and loads the track without playing it; any failure prints one line and
// gives null.
Mix_Music* open_music();

// Opens the audio device and starts "Tarnhollow_4.mp3" looping; any failure prints one line and the show goes
// on in silence.
void start_music();
