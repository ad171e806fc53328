// The music: opening the audio device, checking and decoding the track, playing it in a loop.
#pragma once

#include <SDL/SDL_mixer.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The track, read from the working directory.
constexpr char music_file[] = "Tarnhollow_4.mp3";

// The music file opened once, judged through that descriptor and loaded from it, so that the file judged is the
// file played.
struct MusicFile {
    int fd = -1;                    // open when the file may be loaded
    Mix_MusicType type = MUS_MP3;   // how it is decoded: as MPEG audio, or as WAV for a RIFF/WAVE file
    std::string problem;            // why it is refused, or "" (then fd -1 means it could not be opened)
};

// Opens path and judges it for a device of this rate and channel count. Refused: "is empty", "is a directory",
// "is not a regular file" (opened without waiting and never read: a fifo would block the loader), "is an Ogg
// file, not MPEG audio" (FLAC, MIDI and AIFF alike: the loader would play them as silence), "holds no MPEG audio
// stream", "is sampled at R Hz, too low for the D Hz audio device" or "changes from ... at frame N, which the
// loader cannot convert" (the loader would overrun its buffer). A RIFF/WAVE file is loaded as WAV.
MusicFile open_music_file(const char* path, int device_rate, int device_channels);

// open_music_file's verdict alone, the file closed again.
std::string mp3_file_problem(const char* path, int device_rate, int device_channels);

// Whether the loader's decoder overruns its buffer converting one decoded frame (samples per channel, channels)
// with the conversion it set up from the stream's first frame (channels, rate) to the device's rate and channels.
bool frame_overruns_decoder(long samples_per_frame, int frame_channels, int first_channels, long first_rate,
                            long device_rate, int device_channels);
// The same for the first frame itself (samples per channel, channels, rate).
bool frame_overruns_decoder(long samples_per_frame, int frame_channels, long frame_rate, long device_rate,
                            int device_channels);

// The longest stretch of a track that is decoded: the show's 136 s and a margin. Later samples are never heard,
// and no file, however long, takes more memory than this much sound.
constexpr double decoded_seconds_limit = 150;   // seconds

// The judged file decoded, on its descriptor (which it takes over), to interleaved 16-bit samples at the device's
// rate and channels: MPEG audio by libmpg123, a RIFF/WAVE file by libsndfile. Empty when nothing decodes; a WAV
// that the decoder refuses sets file.problem ("is a WAV file that cannot be decoded (WHY)", ...).
std::vector<int16_t> decode_music_file(MusicFile& file, int device_rate, int device_channels);

// Checks the track for the open audio device and decodes it whole (the preview's way); any failure prints the
// line and gives no samples.
std::vector<int16_t> decode_music();

// The header of a WAV file of 16-bit PCM that holds this many interleaved samples: what the mixer is given to
// play is this header, then the decoded samples.
constexpr size_t wav_header_size = 44;
std::array<uint8_t, wav_header_size> wav_header(size_t samples, int rate, int channels);

// Checks the track for the open audio device and hands the mixer its samples as a WAV made here, decoded as the
// mixer plays them, so that the mixer's own decoders never read the file; any failure prints one line and gives
// null.
Mix_Music* load_music();

// Opens the audio device and checks and loads the track without playing it; any failure prints one line and
// gives null.
Mix_Music* open_music();

// Opens the audio device and starts "Tarnhollow_4.mp3" looping; any failure prints one line and the show goes
// on in silence.
void start_music();
