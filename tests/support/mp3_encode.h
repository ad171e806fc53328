// Short MP3 files made with the soundtrack's encoder, for tests of what the demo does with its music file.
#pragma once

#include <cstddef>
#include <string>

enum class Mp3Bitrate { constant, average, variable, free_format };

// A 440 Hz tone at a third of full scale, encoded at its own rate (no resampling).
struct Mp3Recipe {
    int rate = 44100;   // Hz
    int channels = 2;   // 1: mono, 2: joint stereo
    Mp3Bitrate bitrate = Mp3Bitrate::constant;
    int kbps = 64;   // constant, average and free-format rate; every MPEG version has 64
    double seconds = 2;
    bool id3v1 = false;
    bool id3v2 = false;
    size_t picture_bytes = 0;   // a JPEG-marked cover picture of this size in the ID3v2 tag
};

// The file's bytes: ID3v2 tag, the encoder's info frame and the stream, ID3v1 tag. Empty if the encoder
// refuses the recipe.
std::string encode_mp3(const Mp3Recipe& recipe);
