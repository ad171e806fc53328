// music_tests.cpp: experiments on the built soundtrack: its length, level and silences, the beat grid, the
// sections, where the decoded samples land in time, and that the renderer gives the same bytes twice.
//
// Decoder path: ffmpeg on the built file. The file carries no info tag, so ffmpeg trims nothing and yields
// the same samples at the same positions as SDL_mixer's libmad decoder, which the demo plays it with (a
// tagged file would put SDL_mixer 1152 samples behind ffmpeg). Alignment.* checks this against SDL_mixer.
// Demo.* runs the real program and needs a display.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio_analysis.h"
#include "program_run.h"
#include "temp_dir.h"

using namespace audio;

namespace {

constexpr double beat_s = 2 * M_PI / 15;   // seconds per beat: the picture's pulse bcos(0.1, 15 t)

const Stereo& track()
{
    static const Stereo s = decode_with_ffmpeg(FFMPEG, SOUNDTRACK_MP3);
    return s;
}
const std::vector<float>& track_mono()
{
    static const std::vector<float> m = mono(track());
    return m;
}
const Onsets& onsets()
{
    static const Onsets o = onset_strength(track_mono());
    return o;
}

// The stretches in which the kick plays on every beat: main groove and return.
bool in_groove(double t)
{
    return (t > 10 && t < 36) || (t > 96 && t < 135);
}

// The onset found for every beat 2πk/15 of the groove: the strongest within ±60 ms of it, which stays
// clear of the neighbouring sixteenths (105 ms away).
std::vector<std::pair<double, float>> beat_onsets()
{
    std::vector<std::pair<double, float>> found;   // (offset from the grid in seconds, strength)
    for (int k = 0; k * beat_s < 136; ++k)
        if (in_groove(k * beat_s)) {
            auto [t, strength] = strongest_onset(onsets(), k * beat_s, 0.06);
            found.push_back({t - k * beat_s, strength});
        }
    return found;
}

// Energy of a over [from_s, to_s), and of the difference a - b there.
double energy(const std::vector<float>& a, double from_s, double to_s)
{
    double sum = 0;
    for (long i = long(from_s * rate); i < long(to_s * rate); ++i)
        sum += double(a[i]) * a[i];
    return sum;
}
double difference_energy(const std::vector<float>& a, const std::vector<float>& b, double from_s, double to_s)
{
    double sum = 0;
    for (long i = long(from_s * rate); i < long(to_s * rate); ++i)
        sum += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    return sum;
}

float median(std::vector<float> v)
{
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

// A scratch folder for fresh renders, removed when the test program ends.
const TempDir& scratch()
{
    static const TempDir s;
    return s;
}

// Runs the renderer with these arguments; returns its exit status (-1 where it did not exit), and its output in
// `said`.
int render(const std::vector<std::string>& arguments, std::string& said)
{
    std::vector<std::string> argv = {RENDER_TRACK};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const RunResult result = run_program(argv, {}, "", 240);
    said += result.output;
    return result.exited ? result.status : -1;
}

// One fresh render with the music-time PCM beside it, shared by the alignment and determinism tests.
struct FreshRender {
    std::string mp3, raw, said;
    int status;
};
const FreshRender& fresh_render()
{
    static FreshRender r = [] {
        FreshRender f{scratch() / "first.mp3", scratch() / "first.f32", "", 0};
        f.status = render({f.mp3, "--raw", f.raw}, f.said);
        return f;
    }();
    return r;
}

}   // namespace

TEST(Track, LastsFrom136To150Seconds)
{
    ASSERT_FALSE(track().l.empty()) << "ffmpeg decoded nothing from " << SOUNDTRACK_MP3;
    EXPECT_GE(track().seconds(), 136.0) << "decoded length " << track().seconds()
                                        << " s; expected at least the demo's 136 s";
    EXPECT_LT(track().seconds(), 150.0) << "decoded length " << track().seconds() << " s; expected under 150 s";
}

TEST(Track, PeaksAtOrBelowMinus0_3dBFS)
{
    double p = to_db(peak(track()));
    EXPECT_LE(p, -0.3) << "decoded peak " << p << " dBFS; expected at most -0.3 dBFS (no clipping)";
    EXPECT_GE(p, -6.0) << "decoded peak " << p << " dBFS; expected a track mastered to within 6 dB of full scale";
}

TEST(Track, NeverSilentForHalfASecondBefore136s)
{
    double longest = longest_silence(track_mono(), 136.0, -60.0);
    EXPECT_LE(longest, 0.5) << "longest run of 10 ms blocks below -60 dBFS before 136 s: " << longest
                            << " s; expected at most 0.5 s";
}

TEST(Beat, OnsetAutocorrelationPeaksAtTheBeatPeriod)
{
    // Lags from 0.15 s to 1 s hold the beat (0.4189 s), its half (0.2094 s) and its double (0.8378 s).
    double lag = autocorrelation_peak(onsets(), 0.15, 1.0);
    bool near_beat = false;
    for (double multiple : {0.5, 1.0, 2.0})
        near_beat |= std::fabs(lag - multiple * beat_s) <= 0.01 * multiple * beat_s;
    EXPECT_TRUE(near_beat) << "onset autocorrelation peaks at " << lag
                           << " s; expected 0.4189 s ±1 %, or 0.2094 s or 0.8378 s ±1 %";
    // Between a third and two thirds of a second only the beat itself qualifies.
    double beat_lag = autocorrelation_peak(onsets(), 0.3, 0.6);
    EXPECT_NEAR(beat_lag, beat_s, 0.01 * beat_s) << "expected the beat period 2π/15 s";
}

TEST(Beat, OnsetsSitOnTheGrid)
{
    std::vector<std::pair<double, float>> found = beat_onsets();
    ASSERT_GT(found.size(), 150u) << "expected about 155 beats between 10-36 s and 96-135 s";
    double sum_abs = 0, sum = 0;
    std::vector<float> strengths;
    for (auto [offset, strength] : found) {
        sum_abs += std::fabs(offset);
        sum += offset;
        strengths.push_back(strength);
    }
    EXPECT_LE(sum_abs / found.size(), 0.020)
        << "mean |onset - 2πk/15| = " << 1000 * sum_abs / found.size() << " ms (mean signed "
        << 1000 * sum / found.size() << " ms); expected at most 20 ms";
    // The onsets found on the beats are hits, not the background: their median strength is well above
    // the median strength of all frames of the groove.
    std::vector<float> all;
    for (size_t i = 0; i < onsets().strength.size(); ++i)
        if (in_groove(onsets().time(i)))
            all.push_back(onsets().strength[i]);
    EXPECT_GE(median(strengths), 3 * median(all))
        << "median on-beat onset strength " << median(strengths) << ", median of all groove frames " << median(all);
}

TEST(Sections, CalmSectionIsClearlyQuieter)
{
    double groove = to_db(rms(track_mono(), 10, 36)), calm = to_db(rms(track_mono(), 37, 95)),
           back = to_db(rms(track_mono(), 96, 135));
    EXPECT_LE(calm, groove - 6) << "RMS 37-95 s: " << calm << " dB, 10-36 s: " << groove << " dB; expected 6 dB lower";
    EXPECT_LE(calm, back - 6) << "RMS 37-95 s: " << calm << " dB, 96-135 s: " << back << " dB; expected 6 dB lower";
    EXPECT_GE(back, groove + 0.5) << "RMS 96-135 s: " << back << " dB, 10-36 s: " << groove
                                  << " dB; expected the return at least 0.5 dB louder than the first groove";
}

TEST(Sections, StrongOnsetsOnTheFlashAndTheDrop)
{
    const struct {
        double t;
        const char* cue;
    } cues[] = {{4.4, "the flash"}, {9.0, "the cube appearing"}};
    float typical_beat = 0;
    {
        std::vector<float> strengths;
        for (auto [offset, strength] : beat_onsets())
            strengths.push_back(strength);
        typical_beat = median(strengths);
    }
    for (const auto& c : cues) {
        auto [t, strength] = strongest_onset(onsets(), c.t, 0.03);
        float around = max_strength(onsets(), c.t - 1, c.t + 1);
        EXPECT_GE(strength, around) << c.cue << ": onset within ±30 ms of " << c.t << " s has strength " << strength
                                    << " at " << t << " s; the strongest within ±1 s is " << around;
        EXPECT_GE(strength, typical_beat) << c.cue << ": onset at " << t << " s has strength " << strength
                                          << "; expected at least the median beat of the groove, " << typical_beat;
    }
}

TEST(Alignment, DecodedSamplesSitAtTheirMusicTime)
{
    const FreshRender& r = fresh_render();
    ASSERT_EQ(r.status, 0) << r.said;
    std::vector<float> rendered = mono(from_interleaved(read_floats(r.raw)));
    ASSERT_GE(rendered.size(), size_t(136 * rate)) << "the render holds " << rendered.size() << " samples";
    for (double at : {9.5, 60.0, 120.0}) {
        long lag = best_lag(rendered, track_mono(), long(at * rate), rate / 2, 2500);
        EXPECT_EQ(lag, 0) << "decoded audio at " << at << " s lies " << lag << " samples from the render";
    }
    // Sample for sample, what is left is the encoder's coding noise.
    double error = to_db(std::sqrt(difference_energy(rendered, track_mono(), 10, 30) / energy(rendered, 10, 30)));
    EXPECT_LT(error, -20) << "decoded minus rendered over 10-30 s: " << error << " dB of the render; expected "
                          << "below -20 dB (about -27 dB of coding noise when the samples line up)";
}

TEST(Alignment, SdlMixerPlaysTheSameSamplesAsFfmpeg)
{
    Stereo sdl = decode_with_sdl_mixer(SOUNDTRACK_MP3);
    ASSERT_GE(sdl.seconds(), 136.0) << "SDL_mixer played " << sdl.seconds() << " s";
    std::vector<float> sdl_mono = mono(sdl);
    for (double at : {4.4, 60.0, 120.0}) {
        long lag = best_lag(track_mono(), sdl_mono, long(at * rate), rate / 2, 2500);
        EXPECT_EQ(lag, 0) << "SDL_mixer's audio at " << at << " s lies " << lag << " samples from ffmpeg's";
    }
    double error = to_db(std::sqrt(difference_energy(sdl_mono, track_mono(), 10, 30) / energy(track_mono(), 10, 30)));
    EXPECT_LT(error, -60) << "SDL_mixer minus ffmpeg over 10-30 s: " << error << " dB of the track; expected the "
                          << "same samples up to 16-bit rounding (about -90 dB)";
}

TEST(Render, SameSourceGivesTheSameBytes)
{
    const FreshRender& first = fresh_render();
    ASSERT_EQ(first.status, 0) << first.said;
    std::string second_said, second = scratch() / "second.mp3";
    ASSERT_EQ(render({second}, second_said), 0) << second_said;
    std::vector<char> a = read_bytes(first.mp3), b = read_bytes(second), built = read_bytes(SOUNDTRACK_MP3);
    ASSERT_GT(a.size(), 1000000u) << "first render wrote " << a.size() << " bytes";
    EXPECT_TRUE(a == b) << "two renders differ: " << a.size() << " and " << b.size() << " bytes";
    EXPECT_TRUE(a == built) << "a fresh render differs from the built " << SOUNDTRACK_MP3;
    std::printf("%s", second_said.c_str());   // the renderer's timing line, for the record
}

// The real demo, started in the build folder (where the track is) with SDL's disk audio driver and
// stopped after 8 s (SIGTERM, which SDL turns into a quit event): what it wrote is the music, not silence.
TEST(Demo, PlaysTheSoundtrack)
{
    const std::string capture = scratch() / "demo_audio.s16";
    const RunResult result =
        run_program({DEMO_BINARY}, {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + capture}, BUILD_DIR, 8);
    const std::vector<char> bytes = read_bytes(capture);
    const std::string& said = result.output;
    const std::string status = describe(result);
    ASSERT_GE(bytes.size(), size_t(rate) * 4)
        << "the demo (" << status << ", DISPLAY " << (getenv("DISPLAY") ? getenv("DISPLAY") : "unset")
        << ") wrote under a second of audio; it said:\n"
        << said;
    std::vector<float> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(uint16_t(uint8_t(bytes[2 * i])) | uint16_t(uint8_t(bytes[2 * i + 1])) << 8) / 32768.0f;
    Stereo heard = from_interleaved(samples);
    double level = to_db(rms(mono(heard), 0, heard.seconds()));
    EXPECT_GT(level, -50) << "the demo's audio over " << heard.seconds() << " s has RMS " << level
                          << " dBFS; expected the track's intro (about -23 dBFS), not silence. It said:\n"
                          << said;
    EXPECT_EQ(said.find("Mix_"), std::string::npos) << "the demo reported an audio failure:\n" << said;
}
