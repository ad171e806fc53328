// A corpus of files under the music's name, generated here: for each, the real demo draws the whole show and
// exits with status 0, and either plays the file (no line, sound) or refuses it (one line, silence).
#include <sys/stat.h>

#include <random>
#include <sstream>

#include "mp3_encode.h"
#include "program_run.h"

namespace {

const char music_name[] = "Tarnhollow_4.mp3";
const int rate = 44100, channels = 2;   // what the demo asks the audio device for
const std::string refused = "Mix_LoadMUS() failed: Tarnhollow_4.mp3 ";
const std::string plays;                       // no line, and sound
const std::string loader_decides = "either";   // damaged files: played, or refused with a line and silence
const std::string plays_quietly = "quietly";   // no line, and whatever sound the file holds, silence too

std::string too_low(int file_rate)
{
    return refused + "is sampled at " + std::to_string(file_rate) + " Hz, too low for the 44100 Hz audio device";
}

// No run here waits on the wall clock, so its limit only ends one that hangs; it is far above what a run takes on a
// loaded machine, where a run's time varies fourfold and more, so that load never decides a case.
const double hang_limit_seconds = 300;

// How a case's file is made: its bytes as given, by ffmpeg from its tone source with the given options, or
// something that is no file.
enum class Made { bytes, ffmpeg, directory, fifo };

struct Case {
    std::string what;
    Made made;
    std::string content;    // the bytes, or ffmpeg's options separated by spaces
    std::string expected;   // plays, loader_decides, or the line
};

Case file(const std::string& what, const std::string& content, const std::string& expected)
{
    return {what, Made::bytes, content, expected};
}

void make(const Case& c, const std::string& path)
{
    switch (c.made) {
    case Made::bytes:
        write_file(path, c.content);
        break;
    case Made::directory:
        mkdir(path.c_str(), 0755);
        break;
    case Made::fifo:
        mkfifo(path.c_str(), 0644);
        break;
    case Made::ffmpeg: {
        std::vector<std::string> command = {
            "/usr/bin/ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=2"};
        // The same bytes every run: the Ogg muxer would otherwise draw a random stream serial.
        std::istringstream options(c.content + " -fflags +bitexact");
        for (std::string option; options >> option;)
            command.push_back(option);
        command.push_back(path);
        const RunResult made = run_program(command, {}, "", hang_limit_seconds);
        EXPECT_TRUE(made.exited && made.status == 0) << "ffmpeg: " << describe(made) << ": " << made.output;
        break;
    }
    }
}

std::string flipped(std::string content, double density, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_int_distribution<size_t> where(0, content.size() - 1);
    std::uniform_int_distribution<int> mask(1, 255);
    for (size_t n = 0; n < static_cast<size_t>(density * static_cast<double>(content.size())); ++n)
        content[where(generator)] ^= static_cast<char>(mask(generator));
    return content;
}

// The run's line about the sound, or "" for none.
std::string sound_line(const std::string& output)
{
    const size_t at = output.find("Mix_");
    return at == std::string::npos ? "" : output.substr(at, output.find('\n', at) - at);
}

class MusicCorpus : public DemoRun {
protected:
    void SetUp() override
    {
        DemoRun::SetUp();
        track = encode_mp3({44100, 2, Mp3Bitrate::constant, 128, 10});
        tagged = encode_mp3({44100, 2, Mp3Bitrate::constant, 64, 2, true, true, size_t{300} * 1024});
        ASSERT_FALSE(track.empty() || tagged.empty()) << "expected the encoder to make the base files";
    }

    // Puts each case's file under the music's name and runs the whole show at 68 s steps (3 frames).
    void expect_each_plays_or_is_refused(const std::vector<Case>& cases) const
    {
        const std::string music = dir / music_name;
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            remove(music.c_str());
            rmdir(music.c_str());
            make(c, music);
            const RunResult result = run_demo({"VCLOCK_STEP=68000", "VCLOCK_AUDIO=" + dir / "sound.wav"}, {},
                                              DEMO_BINARY, hang_limit_seconds);
            EXPECT_TRUE(result.exited && result.status == 0)
                << "expected exit status 0, got " << describe(result) << "; output:\n"
                << result.output;
            EXPECT_EQ(log().exit_swaps, 3) << "expected all 3 frames up to 136 s";

            const std::vector<int> sound = s16_samples(dir / "sound.wav", wav_header_bytes);
            const size_t second = size_t{rate} * channels;
            if (sound.size() < 136 * second) {
                ADD_FAILURE() << "expected 136 s of audio from the open device, got " << sound.size() / second << " s";
                continue;
            }
            const std::string line = sound_line(result.output);
            EXPECT_LE(occurrences(result.output, "Mix_"), 1u) << "expected one line at most; output:\n"
                                                              << result.output;
            if (c.expected == loader_decides)
                EXPECT_TRUE(line.empty() || line.rfind(refused, 0) == 0)
                    << "expected no line or a refusal, got '" << line << "'";
            else
                EXPECT_EQ(line, c.expected == plays_quietly ? plays : c.expected);
            if (c.expected == plays_quietly) {
                // The sound is whatever the file holds.
            } else if (line.empty()) {
                EXPECT_GT(peak(sound), 1000) << "expected sound (a peak over 1000 of 32767) with no line";
                EXPECT_GT(peak(sound, 102 * second), 1000) << "expected sound still in the last 34 s";
            } else {
                EXPECT_EQ(peak(sound), 0) << "expected silence with the line";
            }
        }
    }

    std::string track;    // 10 s, 128 kbit/s
    std::string tagged;   // 2 s with a 300 KiB picture in its ID3v2 tag and an ID3v1 tag
};

// Every rate and channel mode the encoder writes, each bit rate scheme, tags of every kind, MPEG layer II at the
// edge of the overrun, other formats under the name, and what is no music at all.
TEST_F(MusicCorpus, EncodedAndForeignFilesPlayOrAreRefusedAsTheyDeserve)
{
    std::vector<Case> cases;
    for (const int file_rate : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000})
        for (const int file_channels : {1, 2})
            cases.push_back(file(std::to_string(file_rate) + " Hz " + (file_channels == 1 ? "mono" : "joint stereo"),
                                 encode_mp3({file_rate, file_channels}),
                                 file_rate <= 11025 ? too_low(file_rate) : plays));
    std::mt19937 generator(7);
    std::string noise(size_t{200} * 1024, '\0');
    for (char& byte : noise)
        byte = static_cast<char>(generator() & 0xFF);
    const std::vector<Case> more = {
        file("average bit rate", encode_mp3({44100, 2, Mp3Bitrate::average, 96}), plays),
        file("variable bit rate", encode_mp3({44100, 2, Mp3Bitrate::variable}), plays),
        file("free format, 400 kbit/s", encode_mp3({44100, 2, Mp3Bitrate::free_format, 400}), plays),
        file("ID3v1 tag", encode_mp3({44100, 2, Mp3Bitrate::constant, 64, 2, true}), plays),
        file("small ID3v2 tag", encode_mp3({44100, 2, Mp3Bitrate::constant, 64, 2, false, true}), plays),
        file("ID3v2 tag with a 300 KiB picture and ID3v1 tag", tagged, plays),
        {"MPEG-2 layer II, 22050 Hz", Made::ffmpeg, "-ar 22050 -c:a mp2 -f mp2", too_low(22050)},
        {"MPEG-2 layer II, 24000 Hz", Made::ffmpeg, "-ar 24000 -c:a mp2 -f mp2", plays},
        {"Ogg Vorbis", Made::ffmpeg, "-c:a libvorbis -f ogg", refused + "is an Ogg file, not MPEG audio"},
        {"FLAC", Made::ffmpeg, "-c:a flac -f flac", refused + "is a FLAC file, not MPEG audio"},
        {"WAV", Made::ffmpeg, "-c:a pcm_s16le -f wav", plays},
        {"WAV, 8-bit mono at 22050 Hz", Made::ffmpeg, "-ar 22050 -ac 1 -c:a pcm_u8 -f wav", plays},
        {"WAV, 32-bit float at 48000 Hz", Made::ffmpeg, "-ar 48000 -c:a pcm_f32le -f wav", plays},
        {"WAV, 6 channels", Made::ffmpeg, "-ac 6 -c:a pcm_s16le -f wav",
         refused + "is a WAV file of 6 channels, not mono or stereo"},
        {"22050 Hz, then 44100 Hz", Made::bytes, encode_mp3({22050, 2}) + encode_mp3({44100, 2}),
         refused + "changes from 22050 Hz stereo to 44100 Hz stereo at frame 80, which the loader cannot convert"},
        file("empty", "", refused + "is empty"),
        {"a directory", Made::directory, "", refused + "is a directory"},
        {"a fifo", Made::fifo, "", refused + "is not a regular file"},
        file("200 KiB of random bytes", noise, refused + "holds no MPEG audio stream"),
        file("1 KiB of random bytes", noise.substr(0, 1024), refused + "holds no MPEG audio stream"),
    };
    cases.insert(cases.end(), more.begin(), more.end());
    expect_each_plays_or_is_refused(cases);
}

// Files cut short or with bytes changed at random: whatever the damage, the show runs to its end, and the
// file plays or is refused.
TEST_F(MusicCorpus, DamagedFilesPlayOrAreRefusedButNeverStopTheShow)
{
    std::vector<Case> cases = {
        file("cut to 3 bytes", track.substr(0, 3), refused + "holds no MPEG audio stream"),
        file("cut inside the info frame", track.substr(0, 300), refused + "holds no MPEG audio stream"),
        file("cut after a few frames", track.substr(0, 2000), loader_decides),
        file("cut to 20 KiB", track.substr(0, size_t{20} * 1024), plays),
        file("cut to 100 KiB", track.substr(0, size_t{100} * 1024), plays),
        file("cut inside the ID3v2 tag", tagged.substr(0, size_t{100} * 1024), refused + "holds no MPEG audio stream"),
    };
    for (const double density : {1e-4, 1e-3, 1e-2, 1e-1})
        for (const unsigned seed : {1u, 2u})
            cases.push_back(
                file("bytes flipped at density " + std::to_string(density) + ", seed " + std::to_string(seed),
                     flipped(track, density, seed), loader_decides));
    expect_each_plays_or_is_refused(cases);
}

// Files that once broke the mixer's own decoders (a heap overrun, a double free, a loop without end), found by
// fuzzing: the mixer now gets only samples decoded here.
TEST_F(MusicCorpus, FilesThatBrokeTheMixersDecodersPlayOrAreRefused)
{
    const std::string no_data = refused + "is a WAV file that cannot be decoded (Error in WAV file. No 'data' chunk "
                                          "marker)";
    const std::string crashes = MUSIC_CRASHES_DIR "/";
    std::vector<Case> cases;
    for (const auto& [name, expected] : std::vector<std::pair<std::string, std::string>>{
             {"loader-overrun-min.mp3", plays_quietly},
             {"loader-overrun-frames-in-id3v2-tag.mp3", plays_quietly},
             {"loader-overrun-silent-8000-frame-first.mp3", plays_quietly},
             {"wav-double-free-min.wav", no_data},
             {"wav-no-data-chunk.wav", no_data},
             {"wav-huge-chunk-oom.wav", no_data},
         })
        cases.push_back(file(name, read_file(crashes + name), expected));
    expect_each_plays_or_is_refused(cases);
}

}   // namespace
