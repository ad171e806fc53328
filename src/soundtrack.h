// The music: opening the audio device, checking and loading the track, playing it in a loop.
#pragma once

#include <SDL/SDL_mixer.h>

#include <string>

// The track, read from the working directory.
constexpr char music_file[] = "Tarnhollow_4.mp3";

// Why the file at path cannot be played by the loader on a device of this rate and channel count, or an empty
// string when it can: "is empty", "is a directory", "is not a regular file", "holds no MPEG audio stream",
// or "is sampled at R Hz, too low for the D Hz audio device" (the loader would overrun its buffer).
// A file that cannot be opened is left to the loader to report.
std::string mp3_file_problem(const char* path, int device_rate, int device_channels);

// Whether the loader's decoder overruns its buffer converting one decoded frame (samples per channel, channels,
// rate) to the device's rate and channels.
bool frame_overruns_decoder(long samples_per_frame, int frame_channels, long frame_rate, long device_rate,
                            int device_channels);

// Opens the audio device and checks and loads the track without playing it; any failure prints one line and
// gives null.
Mix_Music* open_music();

// Opens the audio device and starts "Tarnhollow_4.mp3" looping; any failure prints one line and the show goes
// on in silence.
void start_music();
