// synth.h: the soundtrack's small synthesizer: the beat grid, the mix buses, and the instruments
// that write one note each into those buses; master() turns the buses into the final stereo track.
#pragma once
#include <vector>

namespace music {

constexpr int sample_rate = 44100;   // samples per second, per channel
constexpr double pi = 3.14159265358979323846;
constexpr double beat_seconds = 2.0 * pi / 15.0;   // seconds per beat: the picture's pulse bcos(0.1, 15 t)
constexpr double track_seconds = 141.0;            // seconds of audio, the final chord's tail included
constexpr long track_frames = long(track_seconds * sample_rate);   // stereo frames
constexpr float ceiling = 0.7943f;   // limiter ceiling, linear (-2 dBFS: room for the MP3's overshoot)

// First sample of a position on the beat grid: beat k lies at 2πk/15 s, t = 0 at the start of the music.
// Computed from the beat number each time, never by adding rounded beat lengths.
long beat_sample(double beat);

struct Bus {
    std::vector<float> l, r;
};

struct Mix {
    Bus drums;                                   // dry drums and effects, never ducked
    Bus music;                                   // dry bass, pad, arpeggio, lead: ducked under each kick
    Bus reverb;                                  // send to the reverb
    Bus echo;                                    // send to the ping-pong delay
    std::vector<std::pair<long, float>> kicks;   // (first sample, level) of every kick, for the ducking
};
Mix make_mix();

// The instruments. Positions and lengths in beats, pitches as MIDI note numbers (A4 = 69),
// levels linear (1 = full scale before the master gain), pan from -1 (left) to 1 (right).
void kick(Mix&, double beat, float level, float decay_s = 0.30f);   // pitch-swept sine with a click
void snare(Mix&, double beat, float level);                         // band-limited noise plus a 185 Hz tone
void hat(Mix&, double beat, float level, bool open);                // high-passed noise
void crash(Mix&, double beat, float level);                         // long high-passed stereo noise
void sweep(Mix&, double from, double to, float from_hz, float to_hz, float level);     // band-passed noise riser/fall
void bass(Mix&, double beat, double length, int note, float level, float cutoff_hz);   // saw + sub, resonant low-pass
void pad(Mix&, double beat, double length, const std::vector<int>& notes, float level, float cutoff_from_hz,
         float cutoff_to_hz);                                                  // four detuned saws per note, stereo
void pluck(Mix&, double beat, int note, float level, float pan, float echo);   // pulse with a closing filter
void bell(Mix&, double beat, int note, float level, float pan);                // two inharmonic sines
void lead(Mix&, double beat, double length, int note, float level);            // detuned saws with vibrato

// The mixing desk: linear gains of the dry buses, the effect returns and the master.
struct Faders {
    float drums, music, echo, reverb, master;
};

// Ducking, echo and reverb returns, faders, fade-out and the look-ahead limiter; works in place on the
// buses and returns the finished track, every sample within [-ceiling, ceiling].
Bus master(Mix&, const Faders&);

}   // namespace music
