// The music file check: what the loader would silently accept as music is told apart from real MPEG audio.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

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
    EXPECT_EQ(mp3_file_problem(path.c_str(), 44100, 2), "holds no MPEG audio stream") << "a single sync pattern in text";

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

TEST_F(Mp3Check, MissingFileIsLeftToTheLoader)
{
    EXPECT_EQ(mp3_file_problem(path.c_str(), 44100, 2), "") << "the loader reports a missing file with its own message";
}

}  // namespace
