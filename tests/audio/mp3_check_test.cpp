// The music file check: what the loader would silently accept as music is told apart from real MPEG audio.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "mp3_encode.h"
#include "soundtrack.h"
#include "temp_dir.h"

namespace {

// MPEG-1 layer III, 128 kbit/s, 44.1 kHz, no padding: 144 * 128000 / 44100 = 417 bytes per frame.
const uint8_t frame_header[4] = {0xFF, 0xFB, 0x90, 0x00};
const size_t frame_bytes = 417;

std::vector<uint8_t> frames(int count)
{
    std::vector<uint8_t> bytes;
    for (int i = 0; i < count; i++) {
        bytes.insert(bytes.end(), frame_header, frame_header + 4);
        bytes.resize(bytes.size() + frame_bytes - 4, 0x55);
    }
    return bytes;
}

class Mp3Check : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir.path.empty()) << "expected a temporary folder"; }
    void write(const std::vector<uint8_t>& bytes)
    {
        FILE* file = fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        if (!bytes.empty())
            fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
    }
    TempDir dir;
    const std::string path = dir / "track.mp3";
};

TEST_F(Mp3Check, FilesTheLoaderWouldPlayAsSilenceAreNamed)
{
    write({});
    EXPECT_EQ(mp3_file_problem(path.c_str(), 44100, 2), "is empty");

    std::remove(path.c_str());
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    EXPECT_EQ(mp3_file_problem(path.c_str(), 44100, 2), "is a directory");
    rmdir(path.c_str());

    std::mt19937 noise(1234);
    std::vector<uint8_t> random_bytes(200000);
    for (auto& byte : random_bytes)
        byte = static_cast<uint8_t>(noise());
    write(random_bytes);
    EXPECT_EQ(mp3_file_problem(path.c_str(), 44100, 2), "holds no MPEG audio stream") << "200 kB of noise";

    // One lone frame header inside text is not a stream either.
    std::vector<uint8_t> text(5000, 'a');
    std::copy(frame_header, frame_header + 4, text.begin() + 100);
    write(text);
    EXPECT_EQ(mp3_file_problem(path.c_str(), 44100, 2), "holds no MPEG audio stream")
        << "a single sync pattern in text";

    // The loader plays one lone frame as silence, even one cut from a real track: the decoder must see the
    // next frame's header to trust the first.
    write(frames(1));
    EXPECT_EQ(mp3_file_problem(path.c_str(), 44100, 2), "holds no MPEG audio stream") << "a single whole frame";
}

TEST_F(Mp3Check, RealStreamsPassWholeTaggedOrTruncated)
{
    write(frames(20));
    EXPECT_EQ(mp3_file_problem(path.c_str(), 44100, 2), "") << "20 consecutive frames";

    auto truncated = frames(3);
    truncated.resize(1000);   // two whole frames and part of a third
    write(truncated);
    EXPECT_EQ(mp3_file_problem(path.c_str(), 44100, 2), "") << "a truncated stream still plays what it holds";

    // An ID3v2 tag of 300 bytes (size in 7-bit bytes: 2 * 128 + 44) whose contents look like a header.
    std::vector<uint8_t> tagged = {'I', 'D', '3', 4, 0, 0, 0, 0, 2, 44};
    tagged.resize(10 + 300, 0xFF);
    auto body = frames(4);
    tagged.insert(tagged.end(), body.begin(), body.end());
    write(tagged);
    EXPECT_EQ(mp3_file_problem(path.c_str(), 44100, 2), "") << "frames after an ID3v2 tag";
}

// A fifo would block the loader: opened without waiting for a writer and refused from its type.
TEST_F(Mp3Check, FifoIsRefusedWithoutWaiting)
{
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    EXPECT_EQ(mp3_file_problem(path.c_str(), 44100, 2), "is not a regular file");
}

// Encoded files are judged by every frame against the conversion the loader sets up from the first and the device,
// whatever their bit rate scheme or tags (two files one after the other: what `cat` makes).
TEST_F(Mp3Check, EncodedFilesAreJudgedFrameByFrameAgainstTheDevice)
{
    const std::string too_low_8000 = "is sampled at 8000 Hz, too low for the 44100 Hz audio device";
    struct Case {
        const char* what;
        Mp3Recipe recipe;
        int device_rate, device_channels;
        std::string problem;
        Mp3Recipe then{0};   // a second file appended, when its rate is not 0
    };
    const Case cases[] = {
        {"8000 Hz stereo", {8000, 2}, 44100, 2, too_low_8000},
        {"8000 Hz mono", {8000, 1}, 44100, 2, too_low_8000},
        {"11025 Hz stereo", {11025, 2}, 44100, 2, "is sampled at 11025 Hz, too low for the 44100 Hz audio device"},
        {"12000 Hz stereo", {12000, 2}, 44100, 2, ""},
        {"8000 Hz on a mono device", {8000, 2}, 44100, 1, ""},
        {"8000 Hz on a 31900 Hz device", {8000, 2}, 31900, 2, ""},
        {"8000 Hz on a 32100 Hz device",
         {8000, 2},
         32100,
         2,
         "is sampled at 8000 Hz, too low for the 32100 Hz audio device"},
        {"free format, 400 kbit/s", {44100, 2, Mp3Bitrate::free_format, 400}, 44100, 2, ""},
        {"variable bit rate", {44100, 2, Mp3Bitrate::variable}, 44100, 2, ""},
        {"ID3v2 tag with a 300 KiB picture, ID3v1 tag",
         {44100, 2, Mp3Bitrate::constant, 64, 2, true, true, size_t{300} * 1024},
         44100,
         2,
         ""},
        // Valgrind on the loader: no overrun for the first two (the later frames are not converted up), overruns
        // for the last two.
        {"44100 Hz, then 11025 Hz", {44100, 2}, 44100, 2, "", {11025, 2}},
        {"44100 Hz stereo, then mono", {44100, 2}, 44100, 2, "", {44100, 1}},
        {"22050 Hz, then 44100 Hz",
         {22050, 2},
         44100,
         2,
         "changes from 22050 Hz stereo to 44100 Hz stereo at frame 80, which the loader cannot convert",
         {44100, 2}},
        {"44100 Hz mono, then stereo",
         {44100, 1},
         44100,
         2,
         "changes from 44100 Hz mono to 44100 Hz stereo at frame 79, which the loader cannot convert",
         {44100, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string bytes = encode_mp3(c.recipe) + (c.then.rate ? encode_mp3(c.then) : "");
        ASSERT_FALSE(bytes.empty()) << "expected the encoder to take the recipe";
        write_file(path, bytes);
        EXPECT_EQ(mp3_file_problem(path.c_str(), c.device_rate, c.device_channels), c.problem);
    }
}

// Other formats are told by their first bytes, whatever follows: WAV (here PCM that holds no frame sync) is loaded
// as WAV; those the loader would play as silence are refused by name, even with a whole MP3 stream after them.
TEST_F(Mp3Check, OtherFormatsAreJudgedByTheirHeader)
{
    // 44.1 kHz, 16-bit stereo PCM: 4096 bytes of data.
    const char pcm_header[] = "RIFF\x24\x10\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xAC\0\0\x10\xB1\x02\0"
                              "\x04\0\x10\0data\0\x10\0\0";
    const std::string stream = encode_mp3({}), not_mpeg = ", not MPEG audio";
    const std::pair<std::string, std::string> cases[] = {
        {std::string(pcm_header, sizeof pcm_header - 1) + std::string(4096, '\x40'), ""},
        {std::string("OggS\0\x02\0\0\0\0\0\0", 12) + stream, "is an Ogg file" + not_mpeg},
        {std::string("fLaC\x80\0\0\x22\x10\0\x10\0", 12) + stream, "is a FLAC file" + not_mpeg},
        {std::string("MThd\0\0\0\x06\0\0\0\x01", 12) + stream, "is a MIDI file" + not_mpeg},
        {std::string("FORM\0\0\x10\0AIFF", 12) + stream, "is an AIFF file" + not_mpeg},
    };
    for (const auto& [bytes, problem] : cases) {
        SCOPED_TRACE(bytes.substr(0, 4));
        write_file(path, bytes);
        EXPECT_EQ(mp3_file_problem(path.c_str(), 44100, 2), problem);
    }
}

// The overrun as measured with valgrind on the loader alone (Invalid write in SDL_ConvertAudio, or none), for
// frames of 576 (MPEG-2 and 2.5 layer III) and 1152 samples (MPEG-1, and MPEG-2 layer II) at the bound's edges.
TEST(DecoderBuffer, OverrunsWhereTheLoaderWasSeenToOverrun)
{
    struct Case {
        long samples;
        int channels;
        long rate, device_rate;
        int device_channels;
        bool overruns;
    };
    const Case cases[] = {
        {576, 2, 8000, 44100, 2, true},    {576, 1, 8000, 44100, 2, true},    {576, 2, 11025, 44100, 2, true},
        {576, 1, 11025, 44100, 2, true},   {576, 2, 12000, 44100, 2, false},  {576, 1, 12000, 44100, 2, false},
        {576, 2, 16000, 44100, 2, false},  {576, 2, 8000, 44100, 1, false},   {576, 1, 8000, 44100, 1, false},
        {576, 2, 8000, 31900, 2, false},   {576, 2, 8000, 32100, 2, true},    {576, 1, 8000, 32100, 2, true},
        {576, 2, 8000, 63900, 1, false},   {576, 2, 8000, 64100, 1, true},    {576, 1, 8000, 64100, 1, true},
        {576, 2, 16000, 63900, 2, false},  {576, 2, 16000, 64100, 2, true},   {1152, 2, 32000, 63900, 2, false},
        {1152, 2, 32000, 64100, 2, true},  {1152, 1, 32000, 64100, 2, true},  {1152, 2, 32000, 127900, 1, false},
        {1152, 2, 32000, 128100, 1, true}, {1152, 2, 16000, 44100, 2, true},  {1152, 2, 22050, 44100, 2, true},
        {1152, 2, 24000, 44100, 2, false}, {1152, 1, 16000, 44100, 1, false}, {1152, 1, 16000, 44100, 2, true},
        {1152, 2, 44100, 44100, 2, false}, {1152, 2, 48000, 44100, 2, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(frame_overruns_decoder(c.samples, c.channels, c.rate, c.device_rate, c.device_channels), c.overruns)
            << c.samples << " samples x " << c.channels << " channels at " << c.rate << " Hz, device " << c.device_rate
            << " Hz x " << c.device_channels;
}

TEST_F(Mp3Check, MissingFileIsLeftToTheLoader)
{
    EXPECT_EQ(mp3_file_problem(path.c_str(), 44100, 2), "") << "the loader reports a missing file with its own message";
}

}   // namespace
