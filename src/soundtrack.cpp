// The music: opening the audio device, checking and loading the track, playing it in a loop.
#include "soundtrack.h"

#include <SDL/SDL.h>
#include <SDL/SDL_mixer.h>
#include <fcntl.h>
#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

// The loader's MP3 decoder keeps one decoded frame in a buffer of this many bytes and converts it there, in
// place, to the device's format (16-bit samples), channels and rate. The bound was found with valgrind on a
// program that only opens the device, loads and plays a file: MPEG-1, MPEG-2 and MPEG-2.5 streams (layers II
// and III, mono and stereo) on mono and stereo devices at rates either side of each doubling step; it writes
// past its buffer exactly where the converted frame needs more than these bytes.
static const long decoder_buffer_bytes = 8192;

// How many times SDL doubles a frame's samples to bring its rate up to the device's. SDL only ever doubles
// (a rate near enough is left as it is), and lowering a rate only shrinks the buffer.
static int rate_doublings(long frame_rate, long device_rate)
{
    int doublings = 0;
    for (long rate = frame_rate; rate < device_rate && (rate * 2) / 100 <= device_rate / 100; rate *= 2)
        ++doublings;
    return doublings;
}

bool frame_overruns_decoder(long samples_per_frame, int frame_channels, long frame_rate, long device_rate,
                            int device_channels)
{
    const long decoded_bytes = samples_per_frame * frame_channels * 2;   // 16-bit samples
    // The channels are converted first, then the rate is doubled as often as needed.
    const long converted_bytes = (samples_per_frame * device_channels * 2) << rate_doublings(frame_rate, device_rate);
    return std::max(decoded_bytes, converted_bytes) > decoder_buffer_bytes;
}

// Reads the first frame of an MPEG audio stream from fd (tags of any size skipped, free format and every MPEG
// version and layer understood) and returns its rate, channels and samples per frame; false when the file
// holds no frame that decodes.
static bool first_mpeg_frame(int fd, long& rate, int& channels, long& samples_per_frame)
{
    static const bool initialised = mpg123_init() == MPG123_OK;
    if (!initialised)
        return false;
    mpg123_handle* decoder = mpg123_new(nullptr, nullptr);
    if (!decoder)
        return false;
    mpg123_param(decoder, MPG123_ADD_FLAGS, MPG123_QUIET, 0);   // the check's verdict is its only output
    int encoding = 0;
    off_t frame_number = 0;
    unsigned char* audio = nullptr;
    size_t bytes = 0;
    bool found = mpg123_open_fd(decoder, fd) == MPG123_OK &&
                 mpg123_getformat(decoder, &rate, &channels, &encoding) == MPG123_OK &&
                 mpg123_decode_frame(decoder, &frame_number, &audio, &bytes) == MPG123_OK;
    if (found)
        samples_per_frame = mpg123_spf(decoder);
    found = found && samples_per_frame > 0;
    mpg123_close(decoder);
    mpg123_delete(decoder);
    return found;
}

std::string mp3_file_problem(const char* path, int device_rate, int device_channels)
{
    struct stat info { };
    if (stat(path, &info) != 0)
        return "";   // missing or unreadable: the loader says so
    if (S_ISDIR(info.st_mode))
        return "is a directory";
    if (!S_ISREG(info.st_mode))
        return "is not a regular file";   // a fifo or a device would block the loader
    if (info.st_size == 0)
        return "is empty";
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "";
    long rate = 0, samples_per_frame = 0;
    int channels = 0;
    const bool found = first_mpeg_frame(fd, rate, channels, samples_per_frame);
    close(fd);
    if (!found)
        return "holds no MPEG audio stream";
    if (frame_overruns_decoder(samples_per_frame, channels, rate, device_rate, device_channels))
        return "is sampled at " + std::to_string(rate) + " Hz, too low for the " + std::to_string(device_rate) +
               " Hz audio device";
    return "";
}

Mix_Music* open_music()
{
    if (Mix_OpenAudio(44100, AUDIO_S16LSB, 2, 4096) != 0) {
        printf("Mix_OpenAudio() failed\n");
        return nullptr;
    }
    // The loader plays an empty file, a directory, noise or another format under this name as silence without
    // a word, and overruns a buffer on a stream of too low a rate: such files are refused here.
    int device_rate = 0, device_channels = 0;
    Uint16 device_format = 0;
    Mix_QuerySpec(&device_rate, &device_format, &device_channels);
    const std::string problem = mp3_file_problem(music_file, device_rate, device_channels);
    if (!problem.empty()) {
        printf("Mix_LoadMUS() failed: %s %s\n", music_file, problem.c_str());
        return nullptr;
    }
    Mix_Music* music = Mix_LoadMUS(music_file);
    if (!music)
        printf("Mix_LoadMUS() failed\n");
    return music;
}

void start_music()
{
    Mix_Music* music = open_music();
    if (music && Mix_PlayMusic(music, -1) == -1)   // loops; the show's own clock ends the run
        printf("Mix_PlayMusic: %s\n", SDL_GetError());
}
