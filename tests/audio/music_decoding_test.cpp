// The track decoded by the demo itself and handed to the mixer as a WAV: the mixer plays what its own MP3
// decoder played from the file, and no file is decoded past the show's need.
#include <SDL/SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "mixer_without_device.h"
#include "soundtrack.h"
#include "temp_dir.h"

namespace {

const int rate = 44100, channels = 2;   // what the demo asks the audio device for

class MusicDecoding : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Mix_OpenAudio(rate, AUDIO_S16LSB, channels, 4096), 0) << Mix_GetError(); }
    void TearDown() override { Mix_CloseAudio(); }

    // What the mixer plays of music over the show's 136 s.
    static std::vector<int16_t> played(Mix_Music* music)
    {
        EXPECT_NE(music, nullptr) << Mix_GetError();
        if (!music || Mix_PlayMusic(music, -1) != 0)
            return {};
        std::vector<int16_t> out = mixed_output(size_t{136} * rate);
        Mix_HaltMusic();
        Mix_FreeMusic(music);
        return out;
    }
};

// The mixer's own decoder, on the project's own track, is the reference: the samples the demo plays now are the
// ones it played when the mixer read the file, to within one step of rounding.
TEST_F(MusicDecoding, TheTrackPlaysAsTheMixersOwnDecoderPlayedIt)
{
    const std::vector<int16_t> before = played(Mix_LoadMUS(MUSIC_FILE));
    const std::string folder = std::string(MUSIC_FILE).substr(0, std::string(MUSIC_FILE).rfind('/'));
    ASSERT_EQ(chdir(folder.c_str()), 0);
    const std::vector<int16_t> now = played(load_music());
    ASSERT_EQ(now.size(), before.size()) << "expected 136 s from both";
    size_t same = 0, apart = 0;
    std::string first_apart;
    for (size_t i = 0; i < now.size(); ++i) {
        same += now[i] == before[i];
        if (std::abs(now[i] - before[i]) > 1 && apart++ == 0)
            first_apart =
                "sample " + std::to_string(i) + " is " + std::to_string(now[i]) + ", was " + std::to_string(before[i]);
    }
    EXPECT_EQ(apart, 0u) << "expected every sample within 1 of the mixer's own decoding; " << first_apart;
    EXPECT_GT(same, now.size() * 99 / 100) << "expected at least 99 % of the samples to be the same";
}

// However long a file, only the first decoded_seconds_limit seconds are decoded (a WAV of 8000 Hz mono made here,
// one second longer, decoded for the device).
TEST_F(MusicDecoding, NoFileIsDecodedPastTheLimit)
{
    TempDir dir;
    const int file_rate = 8000;
    const std::vector<int16_t> tone(static_cast<size_t>((decoded_seconds_limit + 1) * file_rate), 1000);
    const auto header = wav_header(tone.size(), file_rate, 1);
    write_file(dir / "long.wav", std::string(header.begin(), header.end()) +
                                     std::string(reinterpret_cast<const char*>(tone.data()), tone.size() * 2));
    MusicFile file = open_music_file((dir / "long.wav").c_str(), rate, channels);
    ASSERT_EQ(file.problem, "");
    const std::vector<int16_t> samples = decode_music_file(file, rate, channels);
    EXPECT_EQ(file.problem, "");
    const double seconds = static_cast<double>(samples.size()) / (rate * channels);
    EXPECT_LE(seconds, decoded_seconds_limit + 0.01) << "expected no more than the limit";
    EXPECT_GE(seconds, decoded_seconds_limit - 1) << "expected the file decoded up to the limit";
}

}   // namespace
