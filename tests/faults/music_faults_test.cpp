// The demo with a bad or missing music file, without an audio device, and ended by Escape while its music
// starts: at most one line about the sound, exit status 0, the whole show drawn, no crash.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "program_run.h"

namespace {

const char music_name[] = "Tarnhollow_4.mp3";
const int rate = 44100, channels = 2;   // what the demo asks the audio device for

using MusicFault = DemoRun;

// The run ended normally with status 0 after all 5 frames (34 s steps up to 136 s), and its only line about the
// sound is the expected one.
void expect_whole_show_with_line(const RunResult& result, int swaps, const std::string& line)
{
    EXPECT_TRUE(result.exited && result.status == 0)
        << "expected exit status 0, got " << describe(result) << "; output:\n"
        << result.output;
    EXPECT_TRUE(has_line(result.output, line)) << "expected the line '" << line << "'; output:\n" << result.output;
    EXPECT_EQ(occurrences(result.output, "Mix_"), 1u) << "expected one line about the sound; output:\n"
                                                      << result.output;
    EXPECT_EQ(swaps, 5) << "expected all 5 frames up to 136 s (34 s steps)";
}

// Files the mixer would take as music and play as silence are named with their problem; a missing file is
// the loader's failure. Each time: one line, the whole show (5 frames at 34 s steps), and silence.
TEST_F(MusicFault, BadMusicFilesAreNamedAndTheShowRunsSilently)
{
    ASSERT_TRUE(file_exists(MUSIC_FILE)) << "expected the built track at " MUSIC_FILE;
    const std::string music = dir / music_name;
    std::mt19937 generator(7);
    std::string noise(size_t{200} * 1024, '\0');
    for (char& byte : noise)
        byte = static_cast<char>(generator() & 0xFF);

    struct Case {
        const char* what;
        void (*make)(const std::string& path, const std::string& noise);
        const char* line;
    };
    const Case cases[] = {
        {"missing", [](const std::string&, const std::string&) {}, "Mix_LoadMUS() failed"},
        {"empty", [](const std::string& path, const std::string&) { write_file(path, ""); },
         "Mix_LoadMUS() failed: Tarnhollow_4.mp3 is empty"},
        {"200 KiB of random bytes", [](const std::string& path, const std::string& bytes) { write_file(path, bytes); },
         "Mix_LoadMUS() failed: Tarnhollow_4.mp3 holds no MPEG audio stream"},
        {"a directory", [](const std::string& path, const std::string&) { mkdir(path.c_str(), 0755); },
         "Mix_LoadMUS() failed: Tarnhollow_4.mp3 is a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("music file ") + c.what);
        remove(music.c_str());
        rmdir(music.c_str());
        c.make(music, noise);
        const RunResult result = run_demo({"VCLOCK_STEP=34000", "VCLOCK_AUDIO=" + dir / "sound.wav"});
        expect_whole_show_with_line(result, log().exit_swaps, c.line);
        const std::vector<int> sound = s16_samples(dir / "sound.wav", wav_header_bytes);
        EXPECT_GE(sound.size(), size_t{136} * rate * channels) << "expected 136 s of audio from the open device";
        EXPECT_EQ(peak(sound, 0, sound.size()), 0) << "expected silence";
        // The header's sizes, RIFF's (after its first 8 bytes) and the data chunk's, are the file's.
        const std::string wav = read_file(dir / "sound.wav");
        ASSERT_GE(wav.size(), wav_header_bytes);
        const auto field = [&wav](size_t at) {   // little-endian, as this machine
            uint32_t value = 0;
            memcpy(&value, wav.data() + at, 4);
            return value;
        };
        EXPECT_EQ(field(4), wav.size() - 8) << "RIFF size";
        EXPECT_EQ(field(40), wav.size() - wav_header_bytes) << "data size";
    }
}

// A truncated track (its first 64 KiB, about 2.5 s) is a valid stream: no line, and the device plays what it
// holds, sample for sample the same as the whole track at first, then again from its start, to the end of
// the show. Frames at 0..6 s, then one at 136.001 s ends the run with the audio rendered to there.
TEST_F(MusicFault, TruncatedMusicFilePlaysWhatItHolds)
{
    ASSERT_TRUE(file_exists(MUSIC_FILE)) << "expected the built track at " MUSIC_FILE;
    const std::vector<std::string> settings = {"VCLOCK_TIMES=1000,2000,3000,4000,5000,6000,136001",
                                               "VCLOCK_AUDIO=" + dir / "sound.wav"};
    write_file(dir / music_name, read_file(MUSIC_FILE));
    ASSERT_TRUE(run_demo(settings).exited);
    const std::vector<int> whole = s16_samples(dir / "sound.wav", wav_header_bytes);

    write_file(dir / music_name, read_file(MUSIC_FILE).substr(0, size_t{64} * 1024));
    const RunResult result = run_demo(settings);
    EXPECT_TRUE(result.exited && result.status == 0)
        << "expected exit status 0, got " << describe(result) << "; output:\n"
        << result.output;
    EXPECT_EQ(result.output.find("Mix_"), std::string::npos) << "expected no line about the sound; output:\n"
                                                             << result.output;
    EXPECT_EQ(log().exit_swaps, 7) << "expected frames at 0..6 s and 136.001 s";

    const std::vector<int> truncated = s16_samples(dir / "sound.wav", wav_header_bytes);
    const size_t second = size_t{rate} * channels;
    ASSERT_GE(truncated.size(), 136 * second) << "expected 136 s of audio";
    ASSERT_GE(whole.size(), 2 * second);
    size_t same = 0;
    while (same < 2 * second && truncated[same] == whole[same])
        ++same;
    EXPECT_GE(same, 3 * second / 2) << "expected the first 1.5 s to equal the whole track's, sample for sample; "
                                    << "they differ from " << same / channels << " sample frames on";
    for (size_t s = 0; s < 136; ++s)
        EXPECT_GT(peak(truncated, s * second, (s + 1) * second), 1000)
            << "expected sound (a peak over 1000 of 32767) in second " << s << ": the piece plays in a loop";
}

// A file the process may not read: the loader's line, then the show. Root reads anything, so that run drops
// to the unprivileged user 65534 (with the folder open to it).
TEST_F(MusicFault, UnreadableMusicFileIsReportedAndTheShowRuns)
{
    ASSERT_TRUE(file_exists(MUSIC_FILE)) << "expected the built track at " MUSIC_FILE;
    const std::string music = dir / music_name;
    write_file(music, read_file(MUSIC_FILE));
    ASSERT_EQ(chmod(music.c_str(), 0), 0);
    ASSERT_EQ(chmod(dir.path.c_str(), 0777), 0);

    std::vector<std::string> prefix;
    if (geteuid() == 0) {
        prefix = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        if (!file_exists(prefix[0]))
            GTEST_SKIP() << "running as root without setpriv: cannot make the music file unreadable";
    }
    // The user the demo runs as must exist for the system and really be unable to read the file.
    std::vector<std::string> can_switch_command = prefix;
    can_switch_command.push_back("/bin/true");
    const RunResult can_switch = run_program(can_switch_command, {}, dir.path, 30);
    if (!can_switch.exited || can_switch.status != 0)
        GTEST_SKIP() << "cannot drop privileges here: setpriv gave " << describe(can_switch) << ": "
                     << can_switch.output;
    std::vector<std::string> probe = prefix;
    probe.insert(probe.end(), {"/bin/sh", "-c", "exec cat Tarnhollow_4.mp3 >/dev/null 2>&1"});
    const RunResult can_read = run_program(probe, {}, dir.path, 30);
    if (!can_read.exited || can_read.status == 0)
        GTEST_SKIP() << "cannot drop to a user who is refused the file (" << describe(can_read) << ")";

    std::vector<std::string> command = prefix;
    command.push_back(DEMO_BINARY);
    const RunResult result = run_program(command, demo_environment({"VCLOCK_STEP=34000"}), dir.path, 60);
    expect_whole_show_with_line(result, log().exit_swaps, "Mix_LoadMUS() failed");
}

// No audio device: a driver whose device cannot be opened, one whose device file is missing, one that does
// not exist. The music file is there, so the only line is the device's.
TEST_F(MusicFault, NoAudioDeviceIsReportedAndTheShowRuns)
{
    ASSERT_TRUE(file_exists(MUSIC_FILE)) << "expected the built track at " MUSIC_FILE;
    ASSERT_EQ(symlink(MUSIC_FILE, (dir / music_name).c_str()), 0);
    struct Case {
        std::vector<std::string> environment;
        const char* what;
    };
    const Case cases[] = {
        {{"SDL_AUDIODRIVER=alsa", "AUDIODEV=no_such_pcm"}, "ALSA with a device name it does not know"},
        {{"SDL_AUDIODRIVER=dsp", "AUDIODEV=/nonexistent/dsp"}, "OSS with no device file"},
        {{"SDL_AUDIODRIVER=no_such_driver", "AUDIODEV"}, "a driver SDL does not have"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const RunResult result = run_demo({"VCLOCK_STEP=34000"}, c.environment);
        expect_whole_show_with_line(result, log().exit_swaps, "Mix_OpenAudio() failed");
    }
}

// Escape (or a window close) waiting at the first poll, while the mixer's thread has just started decoding the
// real track on the dummy device: the run ends after its first frame with status 0, quietly, well within the
// time limit. Repeated, since the audio thread's timing varies.
TEST_F(MusicFault, EscapeWhileTheMusicStartsEndsAfterOneFrame)
{
    ASSERT_TRUE(file_exists(MUSIC_FILE)) << "expected the built track at " MUSIC_FILE;
    ASSERT_EQ(symlink(MUSIC_FILE, (dir / music_name).c_str()), 0);
    const char* events[] = {"0:escape", "0:escape", "0:escape", "0:quit"};
    for (const char* event : events) {
        SCOPED_TRACE(std::string("VCLOCK_EVENTS=") + event);
        const RunResult result =
            run_demo({"VCLOCK_STEP=34000", std::string("VCLOCK_EVENTS=") + event}, {}, DEMO_BINARY, 30);
        EXPECT_TRUE(result.exited && result.status == 0)
            << "expected exit status 0 within 30 s, got " << describe(result) << "; output:\n"
            << result.output;
        EXPECT_EQ(result.output.find("Mix_"), std::string::npos) << "expected the music to start quietly; output:\n"
                                                                 << result.output;
        EXPECT_EQ(log().exit_swaps, 1) << "expected the run to end after its first frame";
    }
}

}   // namespace
