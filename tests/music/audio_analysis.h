// audio_analysis.h: decoding the soundtrack (with ffmpeg, and with SDL_mixer as the demo does) and the
// measurements the music tests make on it: levels, silences, onset strength, autocorrelation, alignment.
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace audio {

constexpr int rate = 44100;   // samples per second

struct Stereo {
    std::vector<float> l, r;
    double seconds() const { return double(l.size()) / rate; }
};

Stereo from_interleaved(const std::vector<float>& samples);
Stereo decode_with_ffmpeg(const std::string& ffmpeg, const std::string& mp3);   // float, unclamped
Stereo decode_with_sdl_mixer(const std::string& mp3);                           // 16-bit, as the demo hears it
std::vector<float> read_floats(const std::string& path);
std::vector<char> read_bytes(const std::string& path);

std::vector<float> mono(const Stereo& s);
float peak(const Stereo& s);                                           // largest |sample|, linear
double rms(const std::vector<float>& x, double from_s, double to_s);   // linear
double to_db(double linear);
// Longest stretch, in seconds, of consecutive 10 ms blocks quieter than `floor_db` dBFS within [0, until_s).
double longest_silence(const std::vector<float>& x, double until_s, double floor_db);

// Onset strength: spectral flux of log-compressed magnitudes, one value every `hop` samples; value i
// describes the change that ends in the frame centred on `time(i)`.
struct Onsets {
    static constexpr int frame = 512, hop = 128;   // samples
    std::vector<float> strength;
    double time(double i) const { return (i * hop + frame / 2.0) / rate; }
    double index(double t) const { return (t * rate - frame / 2.0) / hop; }
};
Onsets onset_strength(const std::vector<float>& x);

// Lag, in seconds, of the highest autocorrelation of the mean-free onset strength between the two lags.
double autocorrelation_peak(const Onsets& o, double min_lag_s, double max_lag_s);
// Time (seconds, refined between frames) and strength of the largest onset within t ± window_s.
std::pair<double, float> strongest_onset(const Onsets& o, double t, double window_s);
float max_strength(const Onsets& o, double from_s, double to_s);

// Lag (samples) in [-max_lag, max_lag] at which b[i + lag] best matches a[i] over [from, from + len).
long best_lag(const std::vector<float>& a, const std::vector<float>& b, long from, long len, long max_lag);

}   // namespace audio
