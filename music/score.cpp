// score.cpp: the piece "Tarnhollow", in A minor at 143.24 beats per minute (one beat every 2π/15 s), written
// as a score: chords, one-bar patterns, tunes and a section table locked to the picture's timeline.
#include "score.h"

#include <cmath>

namespace music {
namespace {

// ---- Harmony: A minor. MIDI note numbers (A4 = 69); `bass` is the bass note, `pad` the pad's voicing.
struct Chord {
    int bass;
    std::vector<int> pad;
};
const Chord Am{33, {57, 60, 64}};            // A minor          A C E
const Chord F{29, {57, 60, 65}};             // F major          A C F
const Chord C{36, {55, 60, 64}};             // C major          G C E
const Chord G{31, {55, 59, 62}};             // G major          G B D
const Chord E{28, {56, 59, 64}};             // E major          G# B E (the dominant)
const Chord Fmaj7{29, {53, 57, 60, 64}};     // F major seventh  F A C E
const Chord G6{31, {55, 59, 62, 64}};        // G sixth          G B D E
const Chord Em7{28, {52, 55, 59, 62}};       // E minor seventh  E G B D
const Chord Am9{33, {57, 60, 64, 67, 71}};   // A minor ninth    A C E G B

// ---- Section table, in beats (seconds = beats × 2π/15). Bars of four beats start on beats 2, 6, 10, ...
// so that the groove's first downbeat (beat 22, 9.22 s) meets the ring's first waves (9.2 s). The flash
// (4.4 s) and the cube (9.0 s) fall on off-beat eighths; the return (95 s) on the sixteenth before beat 227.
//   0      –  10.5    0    –   4.40 s  intro under the title: A minor pad, heartbeat kick, bells
constexpr double impact_at = 10.5;   //  4.40 s  impact on the flash, then the build-up over F, G, E
constexpr double drop_at = 21.5;     //  9.01 s  drop: the cube appears
constexpr double groove_at = 22;     //  9.22 s  main groove, 16 bars of Am F C G; arpeggio from bar 5, lead from bar 9
constexpr double turn_at = 86;       // 36.03 s  turn: the drums stop, a falling sweep over Fmaj7
constexpr double calm_at = 90;       // 37.70 s  calm, 33 bars of Fmaj7 G6 Em7 Am9: pad, plucks, bells; no kick
constexpr double rise_at = 222;      // 92.99 s  rise on E: snare roll and riser
constexpr double push_at = 226.75;   // 94.98 s  the push into the return
constexpr double return_at = 227;    // 95.09 s  full return, 24 bars: Am F C G five times, then Am F G E
constexpr double final_at = 323;     // 135.30 s final A minor ninth, ringing on past the picture's end (136 s)

// ---- The mix: drums, music (bass, pad, plucks, lead, bells), echo and reverb returns, master.
const Faders faders{0.55f, 1.6f, 0.9f, 1.5f, 0.5f};

// ---- One-bar patterns of sixteen sixteenths: 'X' accent, 'x' soft, '.' rest; bass: 'r' root, 'o' octave up.
const char* const four_floor = "X...X...X...X...";
const char* const backbeat = "....X.......X...";
const char* const hats_groove = "x.X.x.X.x.X.x.X.";
const char* const hats_return = "xxXxxxXxxxXxxxXx";
const char* const bass_roll = ".ror.ror.ror.ror";

template <class Hit> void steps(const char* pattern, double bar, Hit hit)
{
    for (int i = 0; i < 16; ++i)
        if (pattern[i] != '.')
            hit(bar + i / 4.0, pattern[i]);
}

// ---- The lead's tune, one bar per chord: {sixteenth, length in sixteenths, note}.
struct Note {
    int step, steps, pitch;
};
using Phrase = std::vector<Note>;
const Phrase over_am = {{0, 3, 76}, {3, 3, 74}, {6, 2, 72}, {8, 4, 69}, {12, 4, 72}};   // E D C A C
const Phrase over_f = {{0, 3, 77}, {3, 3, 76}, {6, 2, 72}, {8, 8, 69}};                 // F E C A
const Phrase over_c = {{0, 3, 79}, {3, 3, 76}, {6, 2, 72}, {8, 4, 76}, {12, 4, 74}};    // G E C E D
const Phrase over_g = {{0, 6, 74}, {6, 2, 71}, {8, 8, 67}};                             // D B G
const Phrase over_e = {{0, 6, 71}, {6, 2, 68}, {8, 8, 64}};                             // B G# E

// The calm section's bell tune over its eight-bar cycle: {beat in the cycle, note}.
const std::vector<std::pair<double, int>> bell_tune = {{0, 76},  {2, 72},  {4, 69},  {7, 72},    // Fmaj7: E C A C
                                                       {8, 74},  {10, 71}, {12, 67},             // G6:    D B G
                                                       {16, 71}, {18, 67}, {20, 64}, {23, 67},   // Em7:   B G E G
                                                       {24, 72}, {26, 71}, {28, 69}};            // Am9:   C B A

// Snare roll with `per_beat` hits per beat, its level rising from a to b.
void roll(Mix& m, double from, double to, int per_beat, float a, float b)
{
    long n = std::lround((to - from) * per_beat);
    for (long i = 0; i < n; ++i)
        snare(m, from + double(i) / per_beat, a + (b - a) * float(i) / float(n));
}

// One bar of the groove, layer by layer; `full` is the return's louder, busier version.
void groove_bar(Mix& m, double at, const Chord& c, bool arpeggio, const Phrase* tune, bool full)
{
    steps(four_floor, at, [&](double b, char) { kick(m, b, 0.95f); });
    steps(backbeat, at, [&](double b, char) { snare(m, b, full ? 0.8f : 0.7f); });
    steps(full ? hats_return : hats_groove, at, [&](double b, char s) { hat(m, b, s == 'X' ? 0.4f : 0.16f, false); });
    if (full)
        hat(m, at + 3.5, 0.3f, true);
    steps(bass_roll, at,
          [&](double b, char s) { bass(m, b, 0.22, c.bass + (s == 'o' ? 12 : 0), full ? 0.65f : 0.5f, 180); });
    pad(m, at, 4, c.pad, full ? 0.26f : 0.15f, full ? 2200 : 1500, full ? 3000 : 2000);
    if (arpeggio) {
        int n = int(c.pad.size());
        for (int i = 0; i < 16; ++i)
            pluck(m, at + i / 4.0, c.pad[i % n] + 12 + 12 * ((i / n) % 2), (i % 4 ? 0.12f : 0.18f) * (full ? 1.3f : 1),
                  i % 2 ? 0.45f : -0.45f, 0.3f);
    }
    if (tune)
        for (const Note& n : *tune)
            lead(m, at + n.step / 4.0, n.steps / 4.0 - 0.05, n.pitch, full ? 0.26f : 0.22f);
}

void intro(Mix& m)
{   // 0 – 4.4 s, under the title
    pad(m, 0, impact_at, Am.pad, 0.16f, 300, 1400);
    for (int b = 1; b <= 10; ++b)
        kick(m, b, 0.35f);                          // a heartbeat under the ring's ripple
    const int tune[6] = {76, 72, 69, 74, 71, 68};   // E C A, D B G#
    for (int i = 0; i < 6; ++i)
        bell(m, 2 + 1.5 * i, tune[i], 0.12f, i % 2 ? 0.3f : -0.3f);
    sweep(m, 2.39, 3.58, 800, 5000, 0.08f);   // a breath as the title leaves (1.0 – 1.5 s)
}

void impact_and_build(Mix& m)
{   // 4.4 – 9.0 s
    kick(m, impact_at, 1.0f, 0.9f);
    crash(m, impact_at, 0.9f);
    snare(m, impact_at, 0.8f);
    bass(m, impact_at, 3.5, F.bass, 0.5f, 250);
    pad(m, impact_at, 3.5, F.pad, 0.16f, 500, 1000);
    pad(m, 14, 4, G.pad, 0.16f, 1000, 2000);
    pad(m, 18, 3, E.pad, 0.18f, 2000, 4500);
    for (int b = 11; b <= 20; ++b)
        kick(m, b, 0.7f);
    roll(m, 11, 15, 1, 0.25f, 0.4f);
    roll(m, 15, 18, 2, 0.4f, 0.55f);
    roll(m, 18, 20, 4, 0.5f, 0.7f);
    roll(m, 20, 21, 8, 0.6f, 0.85f);   // then a breath before the drop: no kick after beat 20, nothing new after 21
    sweep(m, 11, 21, 300, 9000, 0.22f);
    for (int i = 0; i < 28; ++i) {   // arpeggio climbing from beat 14
        const Chord& c = i < 16 ? G : E;
        pluck(m, 14 + i / 4.0, c.pad[i % 3] + 12 * (i / 10), 0.06f + 0.005f * float(i), i % 2 ? 0.4f : -0.4f, 0.2f);
    }
    kick(m, drop_at, 1.0f, 0.6f);
    crash(m, drop_at, 1.0f);
    snare(m, drop_at, 0.9f);
    bass(m, drop_at, 0.45, Am.bass, 0.8f, 400);
}

void groove(Mix& m)
{   // 9.2 – 36 s
    const Chord* chords[4] = {&Am, &F, &C, &G};
    const Phrase* tune[4] = {&over_am, &over_f, &over_c, &over_g};
    for (int bar = 0; bar < 16; ++bar)
        groove_bar(m, groove_at + 4 * bar, *chords[bar % 4], bar >= 4, bar >= 8 ? tune[bar % 4] : nullptr, false);
}

void turn(Mix& m)
{   // 36 – 37.7 s: the drums stop and everything falls into the calm
    kick(m, turn_at, 0.9f, 0.7f);
    crash(m, turn_at, 0.8f);
    pad(m, turn_at, 4, Fmaj7.pad, 0.16f, 3000, 500);
    bass(m, turn_at, 3.5, Fmaj7.bass, 0.45f, 250);
    sweep(m, turn_at, calm_at, 6000, 300, 0.18f);
}

void calm(Mix& m)
{   // 37.7 – 93 s: two bars per chord; soft off-beat hats and a bass in the second half
    const Chord* cycle[4] = {&Fmaj7, &G6, &Em7, &Am9};
    for (int bar = 0; bar < 33; bar += 2) {
        double at = calm_at + 4 * bar;
        const Chord& c = *cycle[(bar / 2) % 4];
        int beats = bar == 32 ? 4 : 8;
        pad(m, at, beats, c.pad, 0.2f, 800, 1300);
        for (int i = 0; i < beats; ++i)
            pluck(m, at + i, c.pad[i % c.pad.size()] + 12, 0.1f, i % 2 ? 0.5f : -0.5f, 0.5f);
        if (bar >= 16) {
            bass(m, at, beats - 0.1, c.bass, 0.18f, 150);
            for (int i = 0; i < beats; ++i)
                hat(m, at + i + 0.5, 0.08f, false);
        }
    }
    for (int cycle_bar = 8; cycle_bar < 32; cycle_bar += 8)
        for (auto [beat, note] : bell_tune)
            bell(m, calm_at + 4 * cycle_bar + beat, note, 0.15f, note % 2 ? 0.3f : -0.3f);
}

void rise(Mix& m)
{   // 93 – 95 s: back up on the dominant
    pad(m, rise_at, 4.75, E.pad, 0.16f, 600, 5000);
    for (int b = 222; b <= 226; ++b)
        kick(m, b, 0.5f + 0.1f * float(b - 222));
    roll(m, 222, 224, 2, 0.3f, 0.5f);
    roll(m, 224, 225.5, 4, 0.5f, 0.7f);
    roll(m, 225.5, 226.5, 8, 0.6f, 0.85f);
    sweep(m, rise_at, push_at, 400, 10000, 0.25f);
    kick(m, push_at, 1.0f, 0.6f);
    crash(m, push_at, 1.0f);
    snare(m, push_at, 0.9f);
}

void full_return(Mix& m)
{   // 95 – 135.3 s
    for (int bar = 0; bar < 24; ++bar) {
        bool last = bar >= 20;   // the last four bars turn to the dominant: Am F G E
        const Chord* chords[4] = {&Am, &F, last ? &G : &C, last ? &E : &G};
        const Phrase* tune[4] = {&over_am, &over_f, last ? &over_g : &over_c, last ? &over_e : &over_g};
        groove_bar(m, return_at + 4 * bar, *chords[bar % 4], true, tune[bar % 4], true);
    }
}

void ending(Mix& m)
{   // 135.3 s to the end of the file
    kick(m, final_at, 1.0f, 0.9f);
    crash(m, final_at, 1.0f);
    snare(m, final_at, 0.8f);
    bass(m, final_at, 6, Am.bass, 0.6f, 300);
    pad(m, final_at, 10, Am9.pad, 0.2f, 3000, 600);
    bell(m, final_at, 81, 0.2f, 0);
}

}   // namespace

Bus render_piece()
{
    Mix m = make_mix();
    intro(m);
    impact_and_build(m);
    groove(m);
    turn(m);
    calm(m);
    rise(m);
    full_return(m);
    ending(m);
    return master(m, faders);
}

}   // namespace music
