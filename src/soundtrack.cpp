// The music: opening the audio device, checking and decoding the track, playing it in a loop.
#include "soundtrack.h"

#include <SDL/SDL.h>
#include <SDL/SDL_mixer.h>
#include <fcntl.h>
#include <mpg123.h>
#include <samplerate.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
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

// A decoder of the MPEG stream in fd told the output format: it resamples and mixes channels itself, frame by
// frame, so a stream that changes format midway still comes out at the device's. As the mixer's own MP3 player
// did, it plays the info frame's and the encoder's padding as they are. Null when it cannot be opened.
static mpg123_handle* mpeg_decoder(int fd, long device_rate, int device_channels)
{
    mpg123_handle* decoder = mpg123_new(nullptr, nullptr);
    if (!decoder)
        return nullptr;
    mpg123_param(decoder, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_IGNORE_INFOFRAME, 0);
    mpg123_param(decoder, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
    mpg123_param(decoder, MPG123_RESYNC_LIMIT, -1, 0);
    mpg123_format_none(decoder);
    if (mpg123_format(decoder, device_rate, device_channels == 1 ? MPG123_MONO : MPG123_STEREO, MPG123_ENC_SIGNED_16) !=
            MPG123_OK ||
        mpg123_open_fd(decoder, fd) != MPG123_OK) {
        mpg123_delete(decoder);
        return nullptr;
    }
    return decoder;
}

// Up to bytes of decoded samples into out; how many came (fewer only at the stream's end).
static size_t read_mpeg(mpg123_handle* decoder, uint8_t* out, size_t bytes)
{
    size_t done = 0;
    while (done < bytes) {
        size_t got = 0;
        const int status = mpg123_read(decoder, out + done, bytes - done, &got);
        done += got;
        if (got == 0 && status != MPG123_NEW_FORMAT)
            break;   // the end, or a stream that gives nothing more
    }
    return done;
}

// The first decoded_seconds_limit seconds of the MPEG stream in fd, decoded whole.
static std::vector<int16_t> decode_mpeg(int fd, long device_rate, int device_channels)
{
    std::vector<int16_t> samples;
    mpg123_handle* decoder = mpeg_decoder(fd, device_rate, device_channels);
    if (!decoder)
        return samples;
    const size_t limit = static_cast<size_t>(decoded_seconds_limit * static_cast<double>(device_rate)) *
                         static_cast<size_t>(device_channels);
    std::vector<int16_t> block(size_t{1} << 15);
    while (samples.size() < limit) {
        const size_t got = read_mpeg(decoder, reinterpret_cast<uint8_t*>(block.data()), block.size() * 2) / 2;
        samples.insert(samples.end(), block.begin(),
                       block.begin() + static_cast<long>(std::min(got, limit - samples.size())));
        if (got < block.size())
            break;
    }
    mpg123_close(decoder);
    mpg123_delete(decoder);
    return samples;
}

// Interleaved samples of one or two channels made the device's: a mono sample on both sides, or the mean of the
// two sides.
static std::vector<int16_t> to_channels(std::vector<int16_t> samples, int channels, int device_channels)
{
    if (channels == device_channels)
        return samples;
    std::vector<int16_t> converted;
    if (channels == 1) {
        converted.reserve(samples.size() * 2);
        for (const int16_t sample : samples)
            converted.insert(converted.end(), {sample, sample});
    } else {
        converted.reserve(samples.size() / 2);
        for (size_t i = 0; i + 1 < samples.size(); i += 2)
            converted.push_back(static_cast<int16_t>((samples[i] + samples[i + 1]) / 2));
    }
    return converted;
}

// Interleaved samples resampled from rate to the device's by libsamplerate; empty where the ratio is beyond it.
static std::vector<int16_t> to_rate(const std::vector<int16_t>& samples, int channels, int rate, int device_rate)
{
    if (rate == device_rate)
        return samples;
    const double ratio = static_cast<double>(device_rate) / rate;
    if (src_is_valid_ratio(ratio) == 0)
        return {};
    std::vector<float> in(samples.size()),
        out(static_cast<size_t>(std::ceil(static_cast<double>(samples.size()) * ratio)) + 64);
    src_short_to_float_array(samples.data(), in.data(), static_cast<int>(in.size()));
    SRC_DATA data{};
    data.data_in = in.data();
    data.input_frames = static_cast<long>(in.size()) / channels;
    data.data_out = out.data();
    data.output_frames = static_cast<long>(out.size()) / channels;
    data.src_ratio = ratio;
    if (src_simple(&data, SRC_SINC_FASTEST, channels) != 0)
        return {};
    std::vector<int16_t> resampled(static_cast<size_t>(data.output_frames_gen * channels));
    src_float_to_short_array(out.data(), resampled.data(), static_cast<int>(resampled.size()));
    return resampled;
}

// A RIFF/WAVE file read by a decoder made for untrusted files, then brought to the device's channels and rate;
// takes over fd. "" and the samples, or why it cannot be played.
static std::string decode_wav(int fd, int device_rate, int device_channels, std::vector<int16_t>& samples)
{
    SF_INFO format{};
    SNDFILE* wav = sf_open_fd(fd, SFM_READ, &format, SF_TRUE);
    if (!wav) {
        std::string why = sf_strerror(nullptr);
        while (!why.empty() && (why.back() == '.' || why.back() == '\n'))
            why.pop_back();
        return "is a WAV file that cannot be decoded (" + why + ")";
    }
    // Floating-point samples are read at full scale, not cast to integers (which makes them all but silent).
    sf_command(wav, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
    std::string problem;
    std::vector<int16_t> read;
    if (format.channels < 1 || format.channels > 2) {
        problem = "is a WAV file of " + std::to_string(format.channels) + " channels, not mono or stereo";
    } else if (format.samplerate <= 0) {
        problem = "is a WAV file sampled at " + std::to_string(format.samplerate) + " Hz";
    } else {
        // Bounded by the limit and by what the file holds, whatever its header claims.
        const auto limit = static_cast<sf_count_t>(decoded_seconds_limit * format.samplerate);
        std::vector<int16_t> block(size_t{4096} * static_cast<size_t>(format.channels));
        for (sf_count_t frames = 0; frames < limit;) {
            const sf_count_t got = sf_readf_short(wav, block.data(), std::min<sf_count_t>(4096, limit - frames));
            if (got <= 0)
                break;
            read.insert(read.end(), block.begin(), block.begin() + got * format.channels);
            frames += got;
        }
        if (read.empty())
            problem = "is a WAV file that holds no samples";
    }
    sf_close(wav);
    if (!problem.empty())
        return problem;
    samples = to_rate(to_channels(std::move(read), format.channels, device_channels), device_channels,
                      format.samplerate, device_rate);
    if (samples.empty())
        return "is a WAV file sampled at " + std::to_string(format.samplerate) + " Hz, which cannot be converted to " +
               std::to_string(device_rate) + " Hz";
    return "";
}

std::vector<int16_t> decode_music_file(MusicFile& file, int device_rate, int device_channels)
{
    std::vector<int16_t> samples;
    const int fd = file.fd;
    file.fd = -1;
    if (fd < 0)
        return samples;
    if (file.type == MUS_WAV) {
        file.problem = decode_wav(fd, device_rate, device_channels, samples);
    } else {
        samples = decode_mpeg(fd, device_rate, device_channels);
        close(fd);
    }
    return samples;
}

// The device's rate and channels, as the mixer opened it.
static void device_format(int& rate, int& channels)
{
    Uint16 format = 0;
    Mix_QuerySpec(&rate, &format, &channels);
}

// The demo's line for a file that is refused, or that could not be opened or holds nothing that decodes.
static void print_music_failure(const MusicFile& file)
{
    if (!file.problem.empty())
        printf("Mix_LoadMUS() failed: %s %s\n", music_file, file.problem.c_str());
    else
        printf("Mix_LoadMUS() failed\n");
}

std::vector<int16_t> decode_music()
{
    int device_rate = 0, device_channels = 0;
    device_format(device_rate, device_channels);
    MusicFile file = open_music_file(music_file, device_rate, device_channels);
    std::vector<int16_t> samples;
    if (file.problem.empty())
        samples = decode_music_file(file, device_rate, device_channels);
    if (samples.empty())
        print_music_failure(file);
    return samples;
}

std::array<uint8_t, wav_header_size> wav_header(size_t samples, int rate, int channels)
{
    const auto data_bytes = static_cast<uint32_t>(samples * 2);
    std::array<uint8_t, wav_header_size> header{};
    uint8_t* at = header.data();
    const auto text = [&](const char* four) {
        std::memcpy(at, four, 4);
        at += 4;
    };
    const auto little_endian = [&](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            *at++ = static_cast<uint8_t>(value >> (8 * i));
    };
    text("RIFF");
    little_endian(36 + data_bytes, 4);   // what follows this field
    text("WAVE");
    text("fmt ");
    little_endian(16, 4);   // the chunk's size
    little_endian(1, 2);    // PCM
    little_endian(static_cast<uint32_t>(channels), 2);
    little_endian(static_cast<uint32_t>(rate), 4);
    little_endian(static_cast<uint32_t>(rate * channels * 2), 4);   // bytes per second
    little_endian(static_cast<uint32_t>(channels * 2), 2);          // bytes per sample frame
    little_endian(16, 2);                                           // bits per sample
    text("data");
    little_endian(data_bytes, 4);
    return header;
}

// What the mixer reads as its WAV file: the header made here, then the track's samples at the device's rate and
// channels, pulled from the MPEG decoder as the mixer plays (a WAV is decoded whole first). Nothing but this
// reaches the mixer, and the track is never held in memory whole. The mixer's source owns it, and the mixer
// closes its source when the music is freed (in the demo: never; the process ends first).
struct TrackStream {
    std::array<uint8_t, wav_header_size> header{};
    size_t size = 0;                    // header and samples, in bytes
    size_t at = 0;                      // the mixer's read position, in bytes
    mpg123_handle* decoder = nullptr;   // MPEG audio: decoded as it is read, from fd
    int fd = -1;
    size_t decoded_at = 0;          // where the decoder's next sample lies, in bytes of the file the mixer reads
    size_t frame_bytes = 4;         // one sample frame: 16-bit samples of every channel
    std::vector<int16_t> samples;   // a WAV: decoded whole
};

// The samples from track.at on, into out.
static void read_samples(TrackStream& track, uint8_t* out, size_t bytes)
{
    const size_t from = track.at - wav_header_size;
    if (!track.decoder) {
        std::memcpy(out, reinterpret_cast<const uint8_t*>(track.samples.data()) + from, bytes);
        return;
    }
    if (track.decoded_at != track.at) {
        // The mixer went back (to loop) or on: the decoder follows, to the sample frame, then to the byte.
        const auto frame = static_cast<off_t>(from / track.frame_bytes);
        track.decoded_at = mpg123_seek(track.decoder, frame, SEEK_SET) == frame
                               ? wav_header_size + static_cast<size_t>(frame) * track.frame_bytes
                               : track.size;   // lost: silence to the end of this pass
        if (track.decoded_at < track.at) {
            uint8_t skipped[8];
            track.decoded_at += read_mpeg(track.decoder, skipped, track.at - track.decoded_at);
        }
    }
    const size_t got = track.decoded_at == track.at ? read_mpeg(track.decoder, out, bytes) : 0;
    // A stream that ends before the length it announced ends in silence.
    std::memset(out + got, 0, bytes - got);
    track.decoded_at = track.at + bytes;
}

static int track_seek(SDL_RWops* source, int offset, int whence)
{
    auto* track = static_cast<TrackStream*>(source->hidden.unknown.data1);
    const long long base = whence == RW_SEEK_SET   ? 0
                           : whence == RW_SEEK_CUR ? static_cast<long long>(track->at)
                                                   : static_cast<long long>(track->size);
    const long long to = base + offset;
    if (to < 0 || to > static_cast<long long>(track->size))
        return -1;
    track->at = static_cast<size_t>(to);
    return static_cast<int>(to);
}

static int track_read(SDL_RWops* source, void* destination, int size, int count)
{
    auto* track = static_cast<TrackStream*>(source->hidden.unknown.data1);
    if (size <= 0 || count <= 0)
        return 0;
    const size_t whole = std::min(static_cast<size_t>(count), (track->size - track->at) / static_cast<size_t>(size));
    auto* out = static_cast<uint8_t*>(destination);
    size_t left = whole * static_cast<size_t>(size);
    if (left > 0 && track->at < wav_header_size) {
        const size_t piece = std::min(left, wav_header_size - track->at);
        std::memcpy(out, track->header.data() + track->at, piece);
        out += piece;
        track->at += piece;
        left -= piece;
    }
    if (left > 0) {
        read_samples(*track, out, left);
        track->at += left;
    }
    return static_cast<int>(whole);
}

static int track_write(SDL_RWops*, const void*, int, int)
{
    return -1;
}

static void close_track(TrackStream* track)
{
    if (track->decoder) {
        mpg123_close(track->decoder);
        mpg123_delete(track->decoder);
    }
    if (track->fd >= 0)
        close(track->fd);
    delete track;
}

static int track_close(SDL_RWops* source)
{
    close_track(static_cast<TrackStream*>(source->hidden.unknown.data1));
    SDL_FreeRW(source);
    return 0;
}

// The judged file made a stream of samples for the device; false where nothing plays (file.problem may say why).
static bool open_track_stream(MusicFile& file, int device_rate, int device_channels, TrackStream& track)
{
    size_t samples = 0;
    if (file.type == MUS_WAV) {
        track.samples = decode_music_file(file, device_rate, device_channels);
        samples = track.samples.size();
    } else if (file.fd >= 0) {
        track.decoder = mpeg_decoder(file.fd, device_rate, device_channels);
        // The length is known before the first sample is played: the stream is parsed through, not decoded.
        const off_t frames =
            track.decoder && mpg123_scan(track.decoder) == MPG123_OK ? mpg123_length(track.decoder) : 0;
        const auto limit = static_cast<off_t>(decoded_seconds_limit * device_rate);
        samples = static_cast<size_t>(std::clamp<off_t>(frames, 0, limit)) * static_cast<size_t>(device_channels);
        track.fd = file.fd;   // the decoder's as long as the track lives
        file.fd = -1;
        if (samples > 0 && mpg123_seek(track.decoder, 0, SEEK_SET) != 0)
            samples = 0;
    }
    if (samples == 0)
        return false;
    track.frame_bytes = static_cast<size_t>(device_channels) * 2;
    track.header = wav_header(samples, device_rate, device_channels);
    track.size = wav_header_size + samples * 2;
    track.at = 0;
    track.decoded_at = wav_header_size;
    return true;
}

Mix_Music* load_music()
{
    // The mixer's own decoders never see the file: it plays the samples decoded here, as a WAV.
    int device_rate = 0, device_channels = 0;
    device_format(device_rate, device_channels);
    MusicFile file = open_music_file(music_file, device_rate, device_channels);
    auto* track = new TrackStream;
    if (!file.problem.empty() || !open_track_stream(file, device_rate, device_channels, *track)) {
        close_track(track);
        print_music_failure(file);
        return nullptr;
    }
    SDL_RWops* source = SDL_AllocRW();
    if (!source) {
        close_track(track);
        printf("Mix_LoadMUS() failed\n");
        return nullptr;
    }
    source->seek = track_seek;
    source->read = track_read;
    source->write = track_write;
    source->close = track_close;
    source->hidden.unknown.data1 = track;
    // The source is the mixer's from here on, whether it loads or not.
    Mix_Music* music = Mix_LoadMUSType_RW(source, MUS_WAV, SDL_TRUE);
    if (!music)
        printf("Mix_LoadMUS() failed\n");
    return music;
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
