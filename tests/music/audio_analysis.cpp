// audio_analysis.cpp: decoders and measurements for the music tests (see audio_analysis.h).
#include "audio_analysis.h"

#include "program_run.h"
#include "temp_dir.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace audio {

Stereo from_interleaved(const std::vector<float>& samples)
{
    Stereo s;
    for (size_t i = 0; i + 1 < samples.size(); i += 2) {
        s.l.push_back(samples[i]);
        s.r.push_back(samples[i + 1]);
    }
    return s;
}

Stereo decode_with_ffmpeg(const std::string& ffmpeg, const std::string& mp3)
{
    const TempDir dir;
    const std::string raw = dir / "decoded.f32";
    const RunResult decoded = run_program({ffmpeg, "-nostdin", "-v", "error", "-i", mp3, "-f", "f32le", "-acodec",
                                           "pcm_f32le", "-ac", "2", "-ar", "44100", raw},
                                          {}, "", 120);
    std::vector<float> samples;
    if (decoded.exited && decoded.status == 0) {
        const std::vector<char> bytes = read_bytes(raw);
        samples.resize(bytes.size() / sizeof(float));
        std::copy(bytes.begin(), bytes.begin() + static_cast<long>(samples.size() * sizeof(float)),
                  reinterpret_cast<char*>(samples.data()));
    }
    return from_interleaved(samples);
}

namespace {
std::vector<Sint16> captured;   // what SDL_mixer mixed while the music played
bool capturing = false;
void capture(void*, Uint8* stream, int bytes)
{
    if (capturing)
        captured.insert(captured.end(), reinterpret_cast<Sint16*>(stream), reinterpret_cast<Sint16*>(stream + bytes));
}
}   // namespace

// Plays the file once through SDL_mixer, opened exactly as the demo opens it, with SDL's disk audio
// driver writing nowhere and without waiting between buffers; the post-mix hook records every buffer
// from the first one that contains music, so sample 0 is the moment the demo's clock starts.
Stereo decode_with_sdl_mixer(const std::string& mp3)
{
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    setenv("SDL_DISKAUDIODELAY", "0", 1);
    captured.clear();
    Stereo s;
    if (SDL_Init(SDL_INIT_AUDIO) != 0)
        return s;
    if (Mix_OpenAudio(44100, AUDIO_S16LSB, 2, 4096) == 0) {
        if (Mix_Music* music = Mix_LoadMUS(mp3.c_str())) {
            Mix_SetPostMix(capture, nullptr);
            SDL_LockAudio();
            bool playing = Mix_PlayMusic(music, 0) == 0;
            capturing = playing;
            SDL_UnlockAudio();
            while (playing && Mix_PlayingMusic())
                SDL_Delay(5);
            SDL_LockAudio();
            capturing = false;
            SDL_UnlockAudio();
            Mix_FreeMusic(music);
        }
        Mix_CloseAudio();
    }
    SDL_Quit();
    for (size_t i = 0; i + 1 < captured.size(); i += 2) {
        s.l.push_back(captured[i] / 32768.0f);
        s.r.push_back(captured[i + 1] / 32768.0f);
    }
    return s;
}

std::vector<char> read_bytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::vector<float> read_floats(const std::string& path)
{
    std::vector<char> bytes = read_bytes(path);
    std::vector<float> x(bytes.size() / sizeof(float));
    std::copy(bytes.begin(), bytes.begin() + x.size() * sizeof(float), reinterpret_cast<char*>(x.data()));
    return x;
}

std::vector<float> mono(const Stereo& s)
{
    std::vector<float> m(s.l.size());
    for (size_t i = 0; i < m.size(); ++i)
        m[i] = 0.5f * (s.l[i] + s.r[i]);
    return m;
}

float peak(const Stereo& s)
{
    float p = 0;
    for (size_t i = 0; i < s.l.size(); ++i)
        p = std::max({p, std::fabs(s.l[i]), std::fabs(s.r[i])});
    return p;
}

double rms(const std::vector<float>& x, double from_s, double to_s)
{
    size_t a = size_t(from_s * rate), b = std::min(x.size(), size_t(to_s * rate));
    double sum = 0;
    for (size_t i = a; i < b; ++i)
        sum += double(x[i]) * x[i];
    return b > a ? std::sqrt(sum / double(b - a)) : 0.0;
}

double to_db(double linear)
{
    return 20 * std::log10(std::max(linear, 1e-12));
}

double longest_silence(const std::vector<float>& x, double until_s, double floor_db)
{
    const size_t block = rate / 100;   // 10 ms
    size_t run = 0, longest = 0, end = std::min(x.size(), size_t(until_s * rate));
    for (size_t i = 0; i + block <= end; i += block) {
        double sum = 0;
        for (size_t k = i; k < i + block; ++k)
            sum += double(x[k]) * x[k];
        run = to_db(std::sqrt(sum / block)) < floor_db ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest * 0.01;
}

namespace {
void fft(std::vector<std::complex<float>>& a)
{   // in place, radix 2, size a power of two
    size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        std::complex<float> w = std::polar(1.0f, float(-2 * M_PI / len));
        for (size_t i = 0; i < n; i += len) {
            std::complex<float> wk = 1;
            for (size_t k = 0; k < len / 2; ++k, wk *= w) {
                std::complex<float> u = a[i + k], v = a[i + k + len / 2] * wk;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
}

// Parabola through three neighbouring values: offset of its vertex from the middle one, in [-0.5, 0.5].
double vertex(double left, double mid, double right)
{
    double d = left - 2 * mid + right;
    return d < 0 ? std::clamp(0.5 * (left - right) / d, -0.5, 0.5) : 0.0;
}
}   // namespace

Onsets onset_strength(const std::vector<float>& x)
{
    const int n = Onsets::frame;
    std::vector<float> window(n), previous(n / 2 + 1, 0.0f), current(n / 2 + 1);
    for (int i = 0; i < n; ++i)
        window[i] = float(0.5 - 0.5 * std::cos(2 * M_PI * i / n));
    Onsets o;
    std::vector<std::complex<float>> spectrum(n);
    for (size_t start = 0; start + n <= x.size(); start += Onsets::hop) {
        for (int i = 0; i < n; ++i)
            spectrum[i] = x[start + i] * window[i];
        fft(spectrum);
        float flux = 0;
        for (int k = 0; k <= n / 2; ++k) {
            current[k] = std::log1p(10 * std::abs(spectrum[k]));
            flux += std::max(0.0f, current[k] - previous[k]);
        }
        o.strength.push_back(start ? flux : 0.0f);
        std::swap(current, previous);
    }
    return o;
}

double autocorrelation_peak(const Onsets& o, double min_lag_s, double max_lag_s)
{
    const std::vector<float>& s = o.strength;
    double mean = 0;
    for (float v : s)
        mean += v;
    mean /= double(s.size());
    auto corr = [&](long lag) {
        double sum = 0;
        for (size_t i = 0; i + lag < s.size(); ++i)
            sum += (s[i] - mean) * (s[i + lag] - mean);
        return sum / double(s.size() - lag);
    };
    double frames_per_s = double(rate) / Onsets::hop;
    long lo = long(min_lag_s * frames_per_s), hi = long(max_lag_s * frames_per_s);
    long best = lo;
    std::vector<double> c(hi + 2);
    for (long lag = lo - 1; lag <= hi + 1; ++lag)
        c[lag] = corr(lag);
    for (long lag = lo; lag <= hi; ++lag)
        if (c[lag] > c[best])
            best = lag;
    return (best + vertex(c[best - 1], c[best], c[best + 1])) / frames_per_s;
}

std::pair<double, float> strongest_onset(const Onsets& o, double t, double window_s)
{
    long a = std::max(1L, long(std::ceil(o.index(t - window_s))));
    long b = std::min(long(o.strength.size()) - 2, long(std::floor(o.index(t + window_s))));
    long best = a;
    for (long i = a; i <= b; ++i)
        if (o.strength[i] > o.strength[best])
            best = i;
    const std::vector<float>& s = o.strength;
    return {o.time(best + vertex(s[best - 1], s[best], s[best + 1])), s[best]};
}

float max_strength(const Onsets& o, double from_s, double to_s)
{
    float m = 0;
    for (size_t i = 0; i < o.strength.size(); ++i)
        if (o.time(i) >= from_s && o.time(i) <= to_s)
            m = std::max(m, o.strength[i]);
    return m;
}

long best_lag(const std::vector<float>& a, const std::vector<float>& b, long from, long len, long max_lag)
{
    long best = 0;
    double best_sum = -1e300;
    for (long lag = -max_lag; lag <= max_lag; ++lag) {
        if (from + lag < 0 || from + lag + len > long(b.size()) || from + len > long(a.size()))
            continue;
        double sum = 0;
        for (long i = from; i < from + len; ++i)
            sum += double(a[i]) * b[i + lag];
        if (sum > best_sum) {
            best_sum = sum;
            best = lag;
        }
    }
    return best;
}

}   // namespace audio
