// synth.cpp: oscillators, filters, envelopes and effects of the soundtrack's synthesizer, and its instruments.
// Every note is rendered on its own from its start sample, with noise seeded from that sample: no state
// is carried between notes, so the same score always gives the same samples.
#include "synth.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <utility>

namespace music {

long beat_sample(double beat)
{
    return std::lround(beat * beat_seconds * sample_rate);
}

Mix make_mix()
{
    Mix m;
    for (Bus* b : {&m.drums, &m.music, &m.reverb, &m.echo}) {
        b->l.assign(track_frames, 0.0f);
        b->r.assign(track_frames, 0.0f);
    }
    return m;
}

namespace {

// Fixed-seed noise (xorshift32) in [-1, 1).
struct Noise {
    uint32_t s;
    Noise(long start, uint32_t salt) : s(uint32_t(start) * 2654435761u ^ salt)
    {
        if (!s)
            s = 1;
    }
    float next()
    {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return float(s) * (2.0f / 4294967296.0f) - 1.0f;
    }
};

// State-variable filter with trapezoidal integration: low-, band- and high-pass outputs of one input.
// The cutoff's coefficient is recomputed only when the cutoff has moved by more than 0.2 %.
struct Svf {
    float ic1 = 0, ic2 = 0, low = 0, band = 0, high = 0, hz_now = -1, g = 0;
    void run(float x, float hz, float q)
    {
        if (std::fabs(hz - hz_now) > 0.002f * hz_now) {
            hz_now = hz;
            g = std::tan(float(pi) * std::min(hz, 0.45f * sample_rate) / sample_rate);
        }
        float k = 1.0f / q;
        float v1 = (ic1 + g * (x - ic2)) / (1.0f + g * (g + k)), v2 = ic2 + g * v1;
        ic1 = 2 * v1 - ic1;
        ic2 = 2 * v2 - ic2;
        low = v2;
        band = v1;
        high = x - k * v1 - v2;
    }
};

// Band-limited sawtooth (polyBLEP) at phase p in [0, 1) advancing dt per sample.
float saw(double p, double dt)
{
    double v = 2 * p - 1;
    if (p < dt) {
        double t = p / dt;
        v -= t + t - t * t - 1;
    } else if (p > 1 - dt) {
        double t = (p - 1) / dt;
        v -= t * t + t + t + 1;
    }
    return float(v);
}

double note_hz(double note)
{
    return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}
float env_exp(float t, float tau)
{
    return std::exp(-t / tau);
}
float ramp(float t, float len)
{
    return std::min(1.0f, t / len);
}   // linear attack over len seconds
float tail(long i, long len)
{
    return std::min(1.0f, float(len - i) / (0.02f * sample_rate));
}   // 20 ms fade at a note's end

void put(Bus& b, long i, float l, float r)
{
    if (i >= 0 && i < long(b.l.size())) {
        b.l[i] += l;
        b.r[i] += r;
    }
}
struct Pan {   // equal-power pan law
    float l, r;
    explicit Pan(float pan) : l(std::cos((pan + 1) * float(pi) / 4)), r(std::sin((pan + 1) * float(pi) / 4)) { }
};

}   // namespace

void kick(Mix& m, double beat, float level, float decay_s)
{
    long s0 = beat_sample(beat);
    m.kicks.push_back({s0, level});
    Noise n(s0, 0x6b1c);
    double phase = 0;
    for (long i = 0, len = long(decay_s * 5 * sample_rate); i < len; ++i) {
        float t = float(i) / sample_rate;
        phase += 2 * pi * (45 + 120 * env_exp(t, 0.028f)) / sample_rate;   // 165 Hz falling to 45 Hz
        float body = float(std::sin(phase)) * ramp(t, 0.001f) * env_exp(t, decay_s);
        float click = n.next() * env_exp(t, 0.002f) * 0.4f;
        float v = std::tanh(1.6f * (body + click)) * tail(i, len) * level;
        put(m.drums, s0 + i, v, v);
    }
}

void snare(Mix& m, double beat, float level)
{
    long s0 = beat_sample(beat);
    Noise n(s0, 0x5a17);
    Svf hp, lp;
    double phase = 0;
    for (long i = 0, len = long(0.45 * sample_rate); i < len; ++i) {
        float t = float(i) / sample_rate;
        phase += 2 * pi * 185 * (1 + 0.3 * env_exp(t, 0.01f)) / sample_rate;
        hp.run(n.next(), 1200, 0.7f);
        lp.run(hp.high, 7000, 0.7f);
        float v = (float(std::sin(phase)) * 0.6f * env_exp(t, 0.05f) + lp.low * 1.3f * env_exp(t, 0.11f)) *
                  ramp(t, 0.0005f) * level;
        put(m.drums, s0 + i, v, v);
        put(m.reverb, s0 + i, 0.3f * v, 0.3f * v);
    }
}

void hat(Mix& m, double beat, float level, bool open)
{
    long s0 = beat_sample(beat);
    Noise n(s0, open ? 0x0be7 : 0x4a75);
    Svf hp;
    float tau = open ? 0.16f : 0.03f;   // seconds of decay
    Pan pan(0.25f);
    for (long i = 0, len = long(6 * tau * sample_rate); i < len; ++i) {
        float t = float(i) / sample_rate;
        hp.run(n.next(), 7500, 1.0f);
        float v = hp.high * env_exp(t, tau) * ramp(t, 0.0005f) * level;
        put(m.drums, s0 + i, v * pan.l, v * pan.r);
        put(m.reverb, s0 + i, 0.1f * v, 0.1f * v);
    }
}

void crash(Mix& m, double beat, float level)
{
    long s0 = beat_sample(beat);
    Noise nl(s0, 0xc1a5), nr(s0, 0xc1a6);
    Svf hl, hr;
    for (long i = 0, len = long(4.5 * sample_rate); i < len; ++i) {
        float t = float(i) / sample_rate;
        hl.run(nl.next(), 4500, 0.7f);
        hr.run(nr.next(), 4500, 0.7f);
        float a = (env_exp(t, 1.1f) + env_exp(t, 0.05f)) * 0.5f * ramp(t, 0.0005f) * tail(i, len) * level;
        put(m.drums, s0 + i, hl.high * a, hr.high * a);
        put(m.reverb, s0 + i, 0.35f * hl.high * a, 0.35f * hr.high * a);
    }
}

void sweep(Mix& m, double from, double to, float from_hz, float to_hz, float level)
{
    long s0 = beat_sample(from), len = beat_sample(to) - s0;
    Noise nl(s0, 0x5eeb), nr(s0, 0x5eec);
    Svf bl, br;
    for (long i = 0; i < len; ++i) {
        float u = float(i) / float(len), t = float(i) / sample_rate;
        float hz = from_hz * std::pow(to_hz / from_hz, u);
        float shape = to_hz > from_hz ? u * u : (1 - u);   // a riser swells, a fall fades
        float a = shape * ramp(t, 0.01f) * std::min(1.0f, float(len - i) / 441) * level;
        bl.run(nl.next(), hz, 2.0f);
        br.run(nr.next(), hz, 2.0f);
        put(m.drums, s0 + i, bl.band * a, br.band * a);
        put(m.reverb, s0 + i, 0.3f * bl.band * a, 0.3f * br.band * a);
    }
}

void bass(Mix& m, double beat, double length, int note, float level, float cutoff_hz)
{
    long s0 = beat_sample(beat), held = beat_sample(beat + length) - s0, rel = long(0.02 * sample_rate);
    double f = note_hz(note), dt = f / sample_rate, p = 0;
    Svf lp;
    for (long i = 0; i < held + rel; ++i) {
        float t = float(i) / sample_rate;
        float a = ramp(t, 0.003f) * (i < held ? 1.0f : 1.0f - float(i - held) / float(rel));
        lp.run(saw(p, dt), cutoff_hz * (1 + 4 * env_exp(t, 0.06f)), 2.5f);
        float v = std::tanh(1.3f * (0.7f * lp.low + 0.6f * float(std::sin(2 * pi * p)))) * a * level;
        put(m.music, s0 + i, v, v);
        p += dt;
        if (p >= 1)
            p -= 1;
    }
}

void pad(Mix& m, double beat, double length, const std::vector<int>& notes, float level, float cutoff_from_hz,
         float cutoff_to_hz)
{
    static const float cents[4] = {-13, -4, 5, 12}, pans[4] = {-0.9f, -0.3f, 0.3f, 0.9f};
    long s0 = beat_sample(beat), held = beat_sample(beat + length) - s0, rel = long(0.9 * sample_rate);
    std::vector<float> l(held + rel), r(held + rel);
    Noise n(s0, 0x9ad0);
    for (int note : notes)
        for (int j = 0; j < 4; ++j) {
            double dt = note_hz(double(note) + cents[j] / 100) / sample_rate, p = (n.next() + 1) / 2;
            Pan pan(pans[j]);
            for (long i = 0; i < held + rel; ++i) {
                float v = saw(p, dt);
                l[i] += v * pan.l;
                r[i] += v * pan.r;
                p += dt;
                if (p >= 1)
                    p -= 1;
            }
        }
    Svf fl, fr;
    float norm = level / float(notes.size() * 2);
    for (long i = 0; i < held + rel; ++i) {
        float t = float(i) / sample_rate, u = std::min(1.0f, float(i) / float(held));
        float hz = cutoff_from_hz * std::pow(cutoff_to_hz / cutoff_from_hz, u) * (1 + 0.15f * std::sin(1.2f * t));
        fl.run(l[i], hz, 0.9f);
        fr.run(r[i], hz, 0.9f);
        float a = ramp(t, 0.3f) * (i < held ? 1.0f : env_exp(float(i - held) / sample_rate, 0.25f)) *
                  tail(i, held + rel) * norm;
        put(m.music, s0 + i, fl.low * a, fr.low * a);
        put(m.reverb, s0 + i, 0.3f * fl.low * a, 0.3f * fr.low * a);
    }
}

void pluck(Mix& m, double beat, int note, float level, float pan_pos, float echo)
{
    long s0 = beat_sample(beat);
    Pan pan(pan_pos);
    double dt = note_hz(note) / sample_rate, p = 0;
    Svf lp;
    for (long i = 0, len = long(0.9 * sample_rate); i < len; ++i) {
        float t = float(i) / sample_rate;
        double q = p + 0.3;
        if (q >= 1)
            q -= 1;
        lp.run(saw(p, dt) - saw(q, dt), 300 + 5000 * env_exp(t, 0.06f), 1.2f);   // pulse, width 30 %
        float v = lp.low * env_exp(t, 0.22f) * ramp(t, 0.002f) * tail(i, len) * level;
        put(m.music, s0 + i, v * pan.l, v * pan.r);
        put(m.echo, s0 + i, echo * v, echo * v);
        put(m.reverb, s0 + i, 0.15f * v, 0.15f * v);
        p += dt;
        if (p >= 1)
            p -= 1;
    }
}

void bell(Mix& m, double beat, int note, float level, float pan_pos)
{
    long s0 = beat_sample(beat);
    Pan pan(pan_pos);
    double f = note_hz(note);
    for (long i = 0, len = long(2.5 * sample_rate); i < len; ++i) {
        float t = float(i) / sample_rate;
        double w = 2 * pi * f * double(i) / sample_rate;
        float v = (float(std::sin(w)) * env_exp(t, 0.9f) + 0.35f * float(std::sin(2.756 * w)) * env_exp(t, 0.25f) +
                   0.15f * float(std::sin(5.404 * w)) * env_exp(t, 0.08f)) *
                  ramp(t, 0.002f) * tail(i, len) * level;
        put(m.music, s0 + i, v * pan.l, v * pan.r);
        put(m.echo, s0 + i, 0.35f * v, 0.35f * v);
        put(m.reverb, s0 + i, 0.4f * v, 0.4f * v);
    }
}

void lead(Mix& m, double beat, double length, int note, float level)
{
    long s0 = beat_sample(beat), held = beat_sample(beat + length) - s0, rel = long(0.15 * sample_rate);
    double f = note_hz(note), p1 = 0, p2 = 0.5;
    Svf fl, fr;
    for (long i = 0; i < held + rel; ++i) {
        float t = float(i) / sample_rate;
        double vib = 1 + 0.004 * std::sin(2 * pi * 5.5 * t) * ramp(t, 0.3f);
        double d1 = f * 0.9965 * vib / sample_rate, d2 = f * 1.0035 * vib / sample_rate;
        float hz = 900 + 3500 * env_exp(t, 0.15f);
        fl.run(saw(p1, d1), hz, 1.4f);
        fr.run(saw(p2, d2), hz, 1.4f);
        float a = ramp(t, 0.008f) * (0.75f + 0.25f * env_exp(t, 0.15f)) *
                  (i < held ? 1.0f : 1.0f - float(i - held) / float(rel)) * level;
        put(m.music, s0 + i, fl.low * a, fr.low * a);
        put(m.echo, s0 + i, 0.25f * fl.low * a, 0.25f * fr.low * a);
        put(m.reverb, s0 + i, 0.2f * fl.low * a, 0.2f * fr.low * a);
        p1 += d1;
        if (p1 >= 1)
            p1 -= 1;
        p2 += d2;
        if (p2 >= 1)
            p2 -= 1;
    }
}

namespace {

// Sidechain: the music bus dips under every kick and recovers in about 0.1 s.
void duck(Mix& m)
{
    for (auto [s0, level] : m.kicks)
        for (long i = 0; i < long(0.4 * sample_rate) && s0 + i < track_frames; ++i) {
            float t = float(i) / sample_rate, g = 1 - 0.55f * level * ramp(t, 0.004f) * env_exp(t, 0.09f);
            m.music.l[s0 + i] *= g;
            m.music.r[s0 + i] *= g;
        }
}

// A delay line of fixed length: push() stores a sample and returns the one stored `length` pushes ago.
struct Delay {
    std::vector<float> buf;
    long k = 0;
    explicit Delay(long length) : buf(length, 0.0f) { }
    float push(float x)
    {
        float y = buf[k];
        buf[k] = x;
        if (++k == long(buf.size()))
            k = 0;
        return y;
    }
};

// Ping-pong delay of a dotted eighth, in place on the send bus: the first echo comes from the left,
// the next from the right, each darker than the one before.
void echo(Bus& send)
{
    Delay left(beat_sample(0.75)), right(beat_sample(0.75));
    float from_right = 0, dark = 0;
    for (long i = 0; i < track_frames; ++i) {
        dark += 0.35f * (from_right - dark);
        float from_left = left.push(0.5f * (send.l[i] + send.r[i]) + 0.45f * dark);
        from_right = right.push(from_left);
        send.l[i] = from_left;
        send.r[i] = from_right;
    }
}

// One channel of reverb: six damped feedback combs in parallel, then two allpasses in series.
struct Reverb {
    std::vector<Delay> combs, allpasses;
    float damped[6] = {};
    explicit Reverb(int spread)   // delay lengths in samples
        : combs{Delay(1116 + spread), Delay(1188 + spread), Delay(1277 + spread),
                Delay(1356 + spread), Delay(1422 + spread), Delay(1491 + spread)},
          allpasses{Delay(556 + spread), Delay(441 + spread)}
    {
    }
    float run(float x)
    {
        float out = 0;
        for (int c = 0; c < 6; ++c) {
            float y = combs[c].buf[combs[c].k];
            damped[c] = y * 0.75f + damped[c] * 0.25f;
            combs[c].push(0.05f * x + 0.84f * damped[c]);
            out += y;
        }
        for (Delay& a : allpasses) {
            float y = a.buf[a.k];
            a.push(out + 0.5f * y);
            out = y - out;
        }
        return out;
    }
};

// Reverb in place on the send bus; the right channel's delays are 23 samples longer, for width.
void reverb(Bus& send)
{
    Reverb left(0), right(23);
    for (long i = 0; i < track_frames; ++i) {
        float x = 0.5f * (send.l[i] + send.r[i]);
        send.l[i] = left.run(x);
        send.r[i] = right.run(x);
    }
}

// Look-ahead peak limiter. The gain each sample needs is taken as the minimum over the next 2 ms,
// released towards 1 in about 80 ms, then averaged over 2 ms; each average only covers minima that
// include the sample itself, so no output sample exceeds the ceiling.
void limit(Bus& b)
{
    const long look = long(0.002 * sample_rate);
    const float release = 1 - std::exp(-1.0f / (0.08f * sample_rate));
    auto need = [&](long j) {
        return std::min(1.0f, ceiling / std::max({std::fabs(b.l[j]), std::fabs(b.r[j]), 1e-9f}));
    };
    std::deque<std::pair<long, float>> ahead;   // (index, need) over [i, i + look), need increasing
    Delay recent(look);                         // the gains of the last `look` samples
    for (int j = 0; j < look; ++j)
        recent.push(1.0f);
    float g = 1;
    double sum = look;   // sum of the last `look` gains
    for (long i = 0, j = 0; i < track_frames; ++i) {
        for (; j < std::min(track_frames, i + look); ++j) {
            float n = need(j);
            while (!ahead.empty() && ahead.back().second >= n)
                ahead.pop_back();
            ahead.push_back({j, n});
        }
        while (ahead.front().first < i)
            ahead.pop_front();
        g = std::min(ahead.front().second, g + (1 - g) * release);
        sum += g - recent.push(g);
        float s = std::min(float(sum / look), need(i));   // the min only absorbs rounding of the running sum
        b.l[i] *= s;
        b.r[i] *= s;
    }
}

}   // namespace

Bus master(Mix& m, const Faders& f)
{
    duck(m);
    echo(m.echo);
    reverb(m.reverb);
    Bus out = std::move(m.drums);                // the drums' buffers take the sum
    const long fade = long(1.5 * sample_rate);   // samples of fade-out at the very end
    for (long i = 0; i < track_frames; ++i) {
        float g = f.master * std::min(1.0f, float(track_frames - i) / fade);
        out.l[i] = (f.drums * out.l[i] + f.music * m.music.l[i] + f.echo * m.echo.l[i] + f.reverb * m.reverb.l[i]) * g;
        out.r[i] = (f.drums * out.r[i] + f.music * m.music.r[i] + f.echo * m.echo.r[i] + f.reverb * m.reverb.r[i]) * g;
    }
    limit(out);
    return out;
}

}   // namespace music
