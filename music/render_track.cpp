// render_track.cpp: renders the soundtrack from its score and encodes it to MP3 with libmp3lame.
// Usage: render_track OUT.mp3 [--raw OUT.f32]   (--raw also writes the track at music time as interleaved float)
#include <lame/lame.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "score.h"
#include "synth.h"

namespace {

// Decoders play an MP3 this many samples late: LAME's encoder delay (576) plus the decoder's synthesis
// delay (529), measured with ffmpeg and with SDL_mixer's libmad decoder on files without an info tag.
// The track is handed to the encoder this much early, so that the decoded beats land on the grid.
constexpr long decoder_delay = 1105;   // samples

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool write_file(const std::string& path, const void* data, size_t bytes)
{
    std::string tmp = path + ".tmp";   // renamed into place only when complete
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(data, 1, bytes, f) == bytes;
    ok = std::fclose(f) == 0 && ok;
    return ok && std::rename(tmp.c_str(), path.c_str()) == 0;
}

}   // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && !(argc == 4 && std::strcmp(argv[2], "--raw") == 0)) {
        std::printf("usage: render_track OUT.mp3 [--raw OUT.f32]\n");
        return 2;
    }
    auto start = std::chrono::steady_clock::now();
    music::Bus track = music::render_piece();
    double render_s = seconds_since(start);
    long frames = long(track.l.size());
    if (argc == 4) {
        std::vector<float> interleaved(2 * frames);
        for (long i = 0; i < frames; ++i) {
            interleaved[2 * i] = track.l[i];
            interleaved[2 * i + 1] = track.r[i];
        }
        if (!write_file(argv[3], interleaved.data(), interleaved.size() * sizeof(float))) {
            std::printf("render_track: cannot write %s\n", argv[3]);
            return 1;
        }
    }

    // 16-bit channels, shifted earlier by the decoder delay; the end is padded with silence.
    auto to16 = [](float x) { return short(std::lround(std::clamp(x, -1.0f, 1.0f) * 32767)); };
    std::vector<short> left(frames, 0), right(frames, 0);
    for (long i = 0; i + decoder_delay < frames; ++i) {
        left[i] = to16(track.l[i + decoder_delay]);
        right[i] = to16(track.r[i + decoder_delay]);
    }

    start = std::chrono::steady_clock::now();
    lame_t lame = lame_init();
    lame_set_in_samplerate(lame, music::sample_rate);
    lame_set_out_samplerate(lame, music::sample_rate);
    lame_set_num_channels(lame, 2);
    lame_set_mode(lame, JOINT_STEREO);
    lame_set_brate(lame, 192);        // kbit/s, constant
    lame_set_quality(lame, 3);        // the LAME command line's default quality
    lame_set_bWriteVbrTag(lame, 0);   // no info frame: SDL_mixer's decoder would play it as 1152 samples of silence
    lame_set_write_id3tag_automatic(lame, 0);
    if (lame_init_params(lame) < 0) {
        std::printf("render_track: lame_init_params failed\n");
        return 1;
    }
    std::vector<unsigned char> mp3(size_t(frames * 5 / 4 + 7200) + 16384);   // LAME's worst case, plus the flush
    int n = lame_encode_buffer(lame, left.data(), right.data(), int(frames), mp3.data(), int(mp3.size()));
    int m = n < 0 ? n : lame_encode_flush(lame, mp3.data() + n, int(mp3.size()) - n);
    lame_close(lame);
    if (n < 0 || m < 0) {
        std::printf("render_track: encoding failed (%d, %d)\n", n, m);
        return 1;
    }
    double encode_s = seconds_since(start);
    if (!write_file(argv[1], mp3.data(), size_t(n) + size_t(m))) {
        std::printf("render_track: cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("render_track: %.1f s of music rendered in %.2f s, encoded in %.2f s: %s (%d bytes)\n",
                double(frames) / music::sample_rate, render_s, encode_s, argv[1], n + m);
    return 0;
}
