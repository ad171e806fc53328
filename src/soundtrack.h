// The music: opening the audio device, checking and loading the track, playing it in a loop.
#pragma once

#include <SDL/SDL_mixer.h>

#include <cstdint>
#include <string>
#include <vector>

// The track, read from the working directory.
constexpr char music_file[] = "Tarnhollow_4.mp3";

// The music file opened once, judged through that descriptor and loaded from it, so that the file judged is the
// file played.
struct MusicFile {
    int fd = -1;                    // open when the file may be loaded
    Mix_MusicType type = MUS_MP3;   // what the loader decodes it as: MP3, or WAV for a RIFF/WAVE file
    std::string problem;            // why it is refused, or "" (then fd -1 means it could not be opened)
};

// Opens path and judges it for a device of this rate and channel count. Refused: "is empty", "is a directory",
// "is not a regular file" (opened without waiting and never read: a fifo would block the loader), "is an Ogg
// file, not MPEG audio" (FLAC, MIDI and AIFF alike: the loader would play them as silence), "holds no MPEG audio
// stream", "is sampled at R Hz, too low for the D Hz audio device" or "changes from ... at frame N, which the
// loader cannot convert" (the loader would overrun its buffer). A RIFF/WAVE file is loaded as WAV.
MusicFile open_music_file(const char* path, int device_rate, int device_channels);

// The loader run on the judged descriptor, which it takes over; null when it fails.
Mix_Music* load_music_file(MusicFile& file);

// open_music_file's verdict alone, the file closed again.
std::string mp3_file_problem(const char* path, int device_rate, int device_channels);

// Whether the loader's decoder overruns its buffer converting one decoded frame (samples per channel, channels)
// with the conversion it set up from the stream's first frame (channels, rate) to the device's rate and channels.
bool frame_overruns_decoder(long samples_per_frame, int frame_channels, int first_channels, long first_rate,
                            long device_rate, int device_channels);
// The same for the first frame itself (samples per channel, channels, rate).
bool frame_overruns_decoder(long samples_per_frame, int frame_channels, long frame_rate, long device_rate,
                            int device_channels);

// Checks the track for the open audio device as load_music does and decodes it whole, on the judged descriptor, to
// interleaved 16-bit samples at the device's rate and channels; any failure prints the same line and gives none.
std::vector<int16_t> decode_music();

// Checks and loads the track for the open audio device; any failure prints one line and gives null.
Mix_Music* load_music();

// Opens the audio device and checks and loads the track without playing it; any failure prints one line and
// gives null.
Mix_Music* open_music();

// Opens the audio device and starts "Tarnhollow_4.mp3" looping; any failure prints one line and the show goes
// on in silence.
void start_music();
