// The frame reader: PPM images from vclock or ffmpeg, through a pipe or from a file, into 8-bit frames.
#include "frames.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "exact_io.h"
#include "vclock_protocol.h"

namespace {

// A header line without its newline; false when the stream ends first.
bool read_line(int fd, std::string& line)
{
    line.clear();
    for (char c; read_exactly(fd, &c, 1);) {
        if (c == '\n')
            return true;
        line += c;
    }
    return false;
}

}   // namespace

FrameRead read_frame(int fd, Frame8& frame, std::string* header)
{
    std::string magic, size, depth;
    if (!read_line(fd, magic) || !read_line(fd, size))
        return FrameRead::end;
    std::string lines = "'" + magic + "' '" + size + "'";
    frame.index = 0;
    frame.ms = -1;
    bool known = true;
    if (!size.empty() && size[0] == '#') {
        known = vclock::parse_frame_comment(size.c_str(), frame.index, frame.ms);
        if (!read_line(fd, size))
            return FrameRead::end;
        lines += " '" + size + "'";
    }
    if (!read_line(fd, depth))
        return FrameRead::end;
    if (header)
        *header = lines + " '" + depth + "'";
    char rest = 0;
    if (magic != "P6" || !known || sscanf(size.c_str(), "%d %d%c", &frame.width, &frame.height, &rest) != 2 ||
        depth != "255" || frame.width <= 0 || frame.height <= 0 || frame.width > 1 << 15 || frame.height > 1 << 15)
        return FrameRead::bad;
    frame.rgb.resize(static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height) * 3);
    return read_exactly(fd, frame.rgb.data(), frame.rgb.size()) ? FrameRead::frame : FrameRead::end;
}

std::vector<Frame8> read_frames(const std::string& path)
{
    std::vector<Frame8> frames;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return frames;
    for (Frame8 frame; read_frame(fd, frame) == FrameRead::frame;)
        frames.push_back(std::move(frame));
    close(fd);
    return frames;
}
