// vclock's audio: the program's audio callback run in step with the clock, into a WAV file instead of a device.
//
// Setting (optional)
//   VCLOCK_AUDIO        path of a WAV file: the program's SDL_OpenAudio is answered without opening a
//                       device, and its audio callback is run on the main thread after each swap until
//                       the file holds the audio up to T(K) (whole callback buffers, so up to one buffer
//                       more). Sample n of the file plays at n / rate seconds after the clock's start.
//                       Only signed 16-bit little-endian audio is captured; other formats play as usual.
//                       A WAV counts its size in 32 bits, so it holds at most 4 GiB (6.7 hours at 44100 Hz
//                       stereo): a setting that would make one swap write more is refused when the program
//                       opens its audio, and the audio stops with one line where the run gets there.
//                       SDL_MixAudio mixes in the captured format: SDL, which opened no device, would mix
//                       nothing (a music loader's WAV player mixes that way).
#include <SDL/SDL.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "vclock.h"
#include "vclock_protocol.h"

namespace vclock {

namespace {

std::string audio_path;   // empty: audio plays as usual
bool audio_captured = false;
SDL_AudioSpec audio_spec;
int audio_fd = -1;
uint64_t audio_bytes = 0;   // PCM bytes written after the header
std::vector<Uint8> audio_buffer;
bool audio_full = false;   // the WAV holds all it can

constexpr uint64_t wav_data_most = UINT32_MAX - 36;   // bytes: the RIFF size field counts 36 more

[[noreturn]] void fail_to_write()
{
    fprintf(stderr, "vclock: cannot write %s '%s': %s\n", audio_variable, audio_path.c_str(), strerror(errno));
    _exit(3);
}

void put_le(unsigned char* at, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<unsigned char>(value >> (8 * i));
}

void put_tag(unsigned char* at, const char* tag)
{
    std::copy(tag, tag + strlen(tag), at);
}

// Rewrites the WAV header for the data written so far, so the file is complete after every swap.
void write_wav_header()
{
    unsigned char header[44];
    const uint32_t rate = static_cast<uint32_t>(audio_spec.freq);
    const uint32_t channels = audio_spec.channels;
    put_tag(header, "RIFF");
    put_le(header + 4, static_cast<uint32_t>(36 + audio_bytes), 4);
    put_tag(header + 8, "WAVEfmt ");
    put_le(header + 16, 16, 4);   // fmt chunk size
    put_le(header + 20, 1, 2);    // PCM
    put_le(header + 22, channels, 2);
    put_le(header + 24, rate, 4);
    put_le(header + 28, rate * channels * 2, 4);
    put_le(header + 32, channels * 2, 2);   // bytes per sample frame
    put_le(header + 34, 16, 2);             // bits per sample
    put_tag(header + 36, "data");
    put_le(header + 40, static_cast<uint32_t>(audio_bytes), 4);
    if (pwrite(audio_fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header))
        fail_to_write();
}

uint64_t bytes_per_second()
{
    return static_cast<uint64_t>(audio_spec.freq) * audio_spec.channels * 2u;
}

// The longest time, in milliseconds, whose audio fits the WAV in whole callback buffers.
int64_t most_audio_ms()
{
    return static_cast<int64_t>((wav_data_most - audio_spec.size) * 1000u / bytes_per_second());
}

// Runs the program's audio callback until the file covers the clock's time since the start.
void render_audio_until(int64_t ms)
{
    const uint64_t bytes_per_sample_frame = static_cast<uint64_t>(audio_spec.channels) * 2u;
    // Beyond twice what fits it only matters that the time is beyond it (and ms × rate could overflow).
    const auto capped_ms = static_cast<uint64_t>(std::min(ms, 2 * most_audio_ms()));
    const uint64_t wanted = capped_ms * static_cast<uint64_t>(audio_spec.freq) / 1000u * bytes_per_sample_frame;
    if (audio_bytes >= wanted)
        return;
    while (audio_bytes < wanted) {
        if (audio_bytes + audio_buffer.size() > wav_data_most) {
            fprintf(stderr, "vclock: %s '%s' is full at %lld s of audio (a WAV holds 4 GiB); the rest is not written\n",
                    audio_variable, audio_path.c_str(), static_cast<long long>(audio_bytes / bytes_per_second()));
            audio_full = true;
            break;
        }
        memset(audio_buffer.data(), audio_spec.silence, audio_buffer.size());
        audio_spec.callback(audio_spec.userdata, audio_buffer.data(), static_cast<int>(audio_buffer.size()));
        if (pwrite(audio_fd, audio_buffer.data(), audio_buffer.size(), static_cast<off_t>(44 + audio_bytes)) !=
            static_cast<ssize_t>(audio_buffer.size()))
            fail_to_write();
        audio_bytes += audio_buffer.size();
    }
    write_wav_header();
}

}   // namespace

void read_audio_settings()
{
    if (const char* text = getenv(audio_variable))
        audio_path = text;
}

void render_audio_after_swap(unsigned swaps)
{
    if (audio_captured && !audio_full)
        render_audio_until(time_at(swaps));
}

}   // namespace vclock

VCLOCK_EXPORT int SDL_OpenAudio(SDL_AudioSpec* desired, SDL_AudioSpec* obtained)
{
    using namespace vclock;
    configure();
    static const auto real_open = next_symbol<int (*)(SDL_AudioSpec*, SDL_AudioSpec*)>("SDL_OpenAudio");
    if (audio_path.empty() || audio_captured || !desired || desired->format != AUDIO_S16LSB || desired->freq <= 0 ||
        desired->channels < 1 || desired->samples == 0 || !desired->callback) {
        if (!audio_path.empty())
            fprintf(stderr, "vclock: audio not captured (only one signed 16-bit little-endian device)\n");
        return real_open(desired, obtained);
    }
    audio_spec = *desired;
    audio_spec.silence = 0;
    audio_spec.size = static_cast<Uint32>(audio_spec.samples) * audio_spec.channels * 2u;
    char why[96];
    snprintf(why, sizeof why, "its audio passes the 4 GiB a WAV holds, %lld s at %d Hz, %d channels",
             static_cast<long long>(most_audio_ms() / 1000), audio_spec.freq, audio_spec.channels);
    refuse_jumps_over(most_audio_ms(), why);
    audio_fd = open(audio_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (audio_fd < 0) {
        fprintf(stderr, "vclock: cannot open %s '%s': %s\n", audio_variable, audio_path.c_str(), strerror(errno));
        _exit(3);
    }
    audio_buffer.assign(audio_spec.size, 0);
    if (obtained)
        *obtained = audio_spec;
    else
        *desired = audio_spec;
    write_wav_header();
    audio_captured = true;
    return 0;
}

VCLOCK_EXPORT void SDL_CloseAudio(void)
{
    static const auto real_close = vclock::next_symbol<void (*)(void)>("SDL_CloseAudio");
    vclock::audio_captured = false;
    real_close();
}

VCLOCK_EXPORT void SDL_MixAudio(Uint8* dst, const Uint8* src, Uint32 len, int volume)
{
    static const auto real_mix = vclock::next_symbol<void (*)(Uint8*, const Uint8*, Uint32, int)>("SDL_MixAudio");
    if (!vclock::audio_captured) {
        real_mix(dst, src, len, volume);
        return;
    }
    // Signed 16-bit little-endian, scaled and clipped as SDL mixes it.
    for (Uint32 i = 0; i + 1 < len; i += 2) {
        const int added = static_cast<Sint16>(src[i] | src[i + 1] << 8) * volume / SDL_MIX_MAXVOLUME;
        const int mixed = std::clamp(static_cast<Sint16>(dst[i] | dst[i + 1] << 8) + added, -32768, 32767);
        dst[i] = static_cast<Uint8>(mixed & 0xff);
        dst[i + 1] = static_cast<Uint8>((mixed >> 8) & 0xff);
    }
}
