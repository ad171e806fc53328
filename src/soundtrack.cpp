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
#include <cstring>

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

bool frame_overruns_decoder(long samples_per_frame, int frame_channels, int first_channels, long first_rate,
                            long device_rate, int device_channels)
{
    const long decoded_bytes = samples_per_frame * frame_channels * 2;   // 16-bit samples
    // The channels are converted first (as if the frame had the first frame's), then the rate is doubled as often
    // as the first frame's rate needed.
    long converted_bytes = decoded_bytes;
    if (first_channels == 1 && device_channels == 2)
        converted_bytes *= 2;
    else if (first_channels == 2 && device_channels == 1)
        converted_bytes /= 2;
    converted_bytes <<= rate_doublings(first_rate, device_rate);
    return std::max(decoded_bytes, converted_bytes) > decoder_buffer_bytes;
}

bool frame_overruns_decoder(long samples_per_frame, int frame_channels, long frame_rate, long device_rate,
                            int device_channels)
{
    return frame_overruns_decoder(samples_per_frame, frame_channels, frame_channels, frame_rate, device_rate,
                                  device_channels);
}

// Why the MPEG audio stream in fd cannot be played, or "". Its first frame must decode (tags of any size skipped,
// free format and every MPEG version and layer understood); the loader sets up its conversion from that frame and
// applies it to every later one, so each frame of the whole stream is judged against it.
static std::string mpeg_stream_problem(int fd, int device_rate, int device_channels)
{
    static const bool initialised = mpg123_init() == MPG123_OK;
    mpg123_handle* decoder = initialised ? mpg123_new(nullptr, nullptr) : nullptr;
    if (!decoder)
        return "holds no MPEG audio stream";
    // Quiet: the verdict is the only output. The loader's decoder knows no info frame: its first frame is audio.
    mpg123_param(decoder, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_IGNORE_INFOFRAME, 0);
    long first_rate = 0;
    int first_channels = 0, encoding = 0;
    off_t frame_number = 0;
    unsigned char* audio = nullptr;
    size_t bytes = 0;
    std::string problem;
    if (mpg123_open_fd(decoder, fd) != MPG123_OK ||
        mpg123_getformat(decoder, &first_rate, &first_channels, &encoding) != MPG123_OK ||
        mpg123_decode_frame(decoder, &frame_number, &audio, &bytes) != MPG123_OK || mpg123_spf(decoder) <= 0)
        problem = "holds no MPEG audio stream";
    else if (frame_overruns_decoder(mpg123_spf(decoder), first_channels, first_rate, device_rate, device_channels))
        problem = "is sampled at " + std::to_string(first_rate) + " Hz, too low for the " +
                  std::to_string(device_rate) + " Hz audio device";
    // The rest is only parsed, not decoded: a whole track takes milliseconds. Past junk of any length, as the
    // loader's decoder finds its frames.
    mpg123_param(decoder, MPG123_RESYNC_LIMIT, -1, 0);
    for (long frame = 1; problem.empty(); ++frame) {
        const int status = mpg123_framebyframe_next(decoder);
        mpg123_frameinfo info{};
        if ((status != MPG123_OK && status != MPG123_NEW_FORMAT) || mpg123_info(decoder, &info) != MPG123_OK)
            break;
        const int channels = info.mode == MPG123_M_MONO ? 1 : 2;
        if (frame_overruns_decoder(mpg123_spf(decoder), channels, first_channels, first_rate, device_rate,
                                   device_channels))
            problem = "changes from " + std::to_string(first_rate) + " Hz " +
                      (first_channels == 1 ? "mono" : "stereo") + " to " + std::to_string(info.rate) + " Hz " +
                      (channels == 1 ? "mono" : "stereo") + " at frame " + std::to_string(frame) +
                      ", which the loader cannot convert";
    }
    mpg123_close(decoder);
    mpg123_delete(decoder);
    return problem;
}

// Formats told by their first bytes, as the loader tells them when it has no name to go by. WAV is loaded as WAV;
// the others, loaded as MP3 (the music's name), would play as silence.
static std::string named_format_problem(const char (&head)[12], Mix_MusicType& type)
{
    const auto starts = [&](const char* magic, size_t at = 0) { return std::memcmp(head + at, magic, 4) == 0; };
    if (starts("RIFF") && starts("WAVE", 8))
        type = MUS_WAV;
    else if (starts("OggS"))
        return "is an Ogg file, not MPEG audio";
    else if (starts("fLaC"))
        return "is a FLAC file, not MPEG audio";
    else if (starts("MThd"))
        return "is a MIDI file, not MPEG audio";
    else if (starts("FORM"))
        return "is an AIFF file, not MPEG audio";
    return "";
}

MusicFile open_music_file(const char* path, int device_rate, int device_channels)
{
    MusicFile file;
    // O_NONBLOCK: opening a fifo would otherwise wait for a writer; it is refused from the descriptor below.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return file;   // missing or unreadable: "Mix_LoadMUS() failed", as the loader says
    struct stat info { };
    char head[12] = {};
    if (fstat(fd, &info) != 0)
        file.problem = "cannot be examined";
    else if (S_ISDIR(info.st_mode))
        file.problem = "is a directory";
    else if (!S_ISREG(info.st_mode))
        file.problem = "is not a regular file";   // a fifo or a device would block the loader
    else if (info.st_size == 0)
        file.problem = "is empty";
    else if (pread(fd, head, sizeof head, 0) < 0)
        file.problem = "cannot be read";
    else
        file.problem = named_format_problem(head, file.type);
    if (file.problem.empty() && file.type == MUS_MP3)
        file.problem = mpeg_stream_problem(fd, device_rate, device_channels);
    if (!file.problem.empty() || lseek(fd, 0, SEEK_SET) != 0) {
        close(fd);
        return file;
    }
    file.fd = fd;
    return file;
}

std::string mp3_file_problem(const char* path, int device_rate, int device_channels)
{
    MusicFile file = open_music_file(path, device_rate, device_channels);
    if (file.fd >= 0)
        close(file.fd);
    return file.problem;
}

Mix_Music* load_music_file(MusicFile& file)
{
    const int fd = file.fd;
    file.fd = -1;
    FILE* stream = fd < 0 ? nullptr : fdopen(fd, "rb");
    if (!stream) {
        if (fd >= 0)
            close(fd);
        return nullptr;
    }
    // The loader as Mix_LoadMUS runs it for a name ending in .mp3 (or .wav), on the descriptor that was judged.
    SDL_RWops* source = SDL_RWFromFP(stream, SDL_TRUE);
    if (!source) {
        fclose(stream);
        return nullptr;
    }
    return Mix_LoadMUSType_RW(source, file.type, SDL_TRUE);
}

// Opens the judged file for the open audio device; a refusal prints the demo's line and gives fd -1.
static MusicFile judged_music_file()
{
    int device_rate = 0, device_channels = 0;
    Uint16 device_format = 0;
    Mix_QuerySpec(&device_rate, &device_format, &device_channels);
    MusicFile file = open_music_file(music_file, device_rate, device_channels);
    if (!file.problem.empty())
        printf("Mix_LoadMUS() failed: %s %s\n", music_file, file.problem.c_str());
    return file;
}

Mix_Music* load_music()
{
    // The loader plays an empty file, a directory, noise or another format under this name as silence without
    // a word, and overruns a buffer on a stream of too low a rate: such files are refused here.
    MusicFile file = judged_music_file();
    if (!file.problem.empty())
        return nullptr;
    Mix_Music* music = load_music_file(file);
    if (!music)
        printf("Mix_LoadMUS() failed\n");
    return music;
}

// An MPEG stream decoded whole by one decoder told the output format: it resamples and mixes channels itself,
// frame by frame, so a stream that changes format midway still comes out at the device's. As the loader's decoder,
// it plays the info frame's and the encoder's padding as they are.
static std::vector<int16_t> decode_mpeg(int fd, long device_rate, int device_channels)
{
    std::vector<int16_t> samples;
    mpg123_handle* decoder = mpg123_new(nullptr, nullptr);
    if (!decoder)
        return samples;
    mpg123_param(decoder, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_IGNORE_INFOFRAME, 0);
    mpg123_param(decoder, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
    mpg123_param(decoder, MPG123_RESYNC_LIMIT, -1, 0);
    mpg123_format_none(decoder);
    if (mpg123_format(decoder, device_rate, device_channels == 1 ? MPG123_MONO : MPG123_STEREO, MPG123_ENC_SIGNED_16) ==
            MPG123_OK &&
        mpg123_open_fd(decoder, fd) == MPG123_OK) {
        std::vector<unsigned char> block(1 << 16);
        for (;;) {
            size_t bytes = 0;
            const int status = mpg123_read(decoder, block.data(), block.size(), &bytes);
            const auto* decoded = reinterpret_cast<const int16_t*>(block.data());
            samples.insert(samples.end(), decoded, decoded + bytes / 2);
            if (status != MPG123_OK && status != MPG123_NEW_FORMAT)
                break;
        }
        mpg123_close(decoder);
    }
    mpg123_delete(decoder);
    return samples;
}

// A RIFF/WAVE file converted as the loader's WAV player converts it; takes over fd.
static std::vector<int16_t> decode_wav(int fd, int device_rate, int device_channels)
{
    FILE* stream = fdopen(fd, "rb");
    SDL_RWops* source = stream ? SDL_RWFromFP(stream, SDL_TRUE) : nullptr;
    if (!source) {
        if (stream)
            fclose(stream);
        else
            close(fd);
        return {};
    }
    SDL_AudioSpec wav_format{};
    Uint8* wave = nullptr;
    Uint32 bytes = 0;
    SDL_AudioCVT convert{};
    std::vector<int16_t> samples;
    if (SDL_LoadWAV_RW(source, 1, &wav_format, &wave, &bytes) &&
        SDL_BuildAudioCVT(&convert, wav_format.format, wav_format.channels, wav_format.freq, AUDIO_S16SYS,
                          static_cast<Uint8>(device_channels), device_rate) >= 0) {
        std::vector<Uint8> buffer(static_cast<size_t>(bytes) * std::max(convert.len_mult, 1));
        std::copy(wave, wave + bytes, buffer.begin());
        convert.buf = buffer.data();
        convert.len = static_cast<int>(bytes);
        if (SDL_ConvertAudio(&convert) == 0) {
            const auto* converted = reinterpret_cast<const int16_t*>(buffer.data());
            samples.assign(converted, converted + convert.len_cvt / 2);
        }
    }
    SDL_FreeWAV(wave);
    return samples;
}

std::vector<int16_t> decode_music()
{
    MusicFile file = judged_music_file();
    if (!file.problem.empty())
        return {};
    std::vector<int16_t> samples;
    int device_rate = 0, device_channels = 0;
    Uint16 device_format = 0;
    Mix_QuerySpec(&device_rate, &device_format, &device_channels);
    if (file.fd >= 0 && file.type == MUS_WAV)
        samples = decode_wav(file.fd, device_rate, device_channels);
    else if (file.fd >= 0) {
        samples = decode_mpeg(file.fd, device_rate, device_channels);
        close(file.fd);
    }
    if (samples.empty())
        printf("Mix_LoadMUS() failed\n");
    return samples;
}

Mix_Music* open_music()
{
    if (Mix_OpenAudio(44100, AUDIO_S16LSB, 2, 4096) != 0) {
        printf("Mix_OpenAudio() failed\n");
        return nullptr;
    }
    return load_music();
}

void start_music()
{
    Mix_Music* music = open_music();
    if (music && Mix_PlayMusic(music, -1) == -1)   // loops; the show's own clock ends the run
        printf("Mix_PlayMusic: %s\n", SDL_GetError());
}
