// 8-bit RGB frames read as PPM images from a pipe or a file: vclock's stream (each image with its frame index and
// time in a comment) or ffmpeg's (-f image2pipe -c:v ppm, no comment).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct Frame8 {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;   // top-down rows, 3 bytes per pixel
    unsigned index = 0;               // vclock's frame index and time; 0 and -1 for a frame without them
    int64_t ms = -1;
    const unsigned char* at(int x, int y) const { return rgb.data() + (static_cast<size_t>(y) * width + x) * 3; }
};

enum class FrameRead { frame, end, bad };

// The next image of a PPM stream: "P6", an optional "# vclock frame J t MS" comment, "W H", "255", the pixels.
// end: the stream ended, before an image or within one; bad: a header that is not such a one (header, when
// given, gets its lines for the message).
FrameRead read_frame(int fd, Frame8& frame, std::string* header = nullptr);
// Every image of a PPM file, up to the first that cannot be read.
std::vector<Frame8> read_frames(const std::string& path);
