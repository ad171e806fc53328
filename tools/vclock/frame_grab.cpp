// vclock's frame grabs: the back buffer of chosen frames, read just before their swap and written as PPM images,
// each once the next frame's readback has started (or the next swap shows no chosen frame, or SDL_Quit comes).
//
// Settings (optional)
//   VCLOCK_GRAB         where grabbed frames go: a path (created or truncated; a fifo works) or fd:N.
//                       Each frame is read from the back buffer just before the swap is forwarded and
//                       written, a frame later, as binary PPM (P6, rows top-down) whose comment line is
//                       "# vclock frame J t MS" (J = frame index, MS = T(J)); frames are concatenated.
//   VCLOCK_GRAB_FRAMES  which frames to grab: comma-separated indices and ranges "A-B" or "A-"
//                       (default "0-": every frame)
#include <SDL/SDL.h>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "vclock.h"
#include "vclock_protocol.h"

namespace vclock {

namespace {

struct GrabRange {
    unsigned first, last;   // frame indices, inclusive
};

std::vector<GrabRange> grab_ranges;
int grab_fd = -1;
std::string grab_target;   // empty: no grabs

void parse_grab_frames(const char* text)
{
    for (const std::string& item : split(text, ',')) {
        const size_t dash = item.find('-');
        GrabRange range;
        if (dash == std::string::npos) {
            range.first = range.last = static_cast<unsigned>(parse_integer(item, grab_frames_variable, 0, UINT32_MAX));
        } else {
            range.first =
                static_cast<unsigned>(parse_integer(item.substr(0, dash), grab_frames_variable, 0, UINT32_MAX));
            const std::string last = item.substr(dash + 1);
            range.last =
                last.empty()
                    ? UINT32_MAX
                    : static_cast<unsigned>(parse_integer(last, grab_frames_variable, range.first, UINT32_MAX));
        }
        grab_ranges.push_back(range);
    }
}

bool frame_chosen(unsigned frame)
{
    return std::any_of(grab_ranges.begin(), grab_ranges.end(),
                       [frame](const GrabRange& range) { return frame >= range.first && frame <= range.last; });
}

void write_all(int fd, const void* data, size_t size, const char* what)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            fprintf(stderr, "vclock: cannot write %s: %s\n", what, strerror(errno));
            _exit(3);
        }
        bytes += written;
        size -= static_cast<size_t>(written);
    }
}

// Frames whose readback into a pixel-pack buffer has started, oldest first. The GL copies the back buffer into
// the buffer while the program goes on; the pixels are written out a frame later, when the next grab has
// started, so that nothing waits for a readback to finish. Two buffers take turns.
struct Readback {
    GLuint buffer = 0;
    unsigned frame = 0;
    int width = 0, height = 0;
};
Readback buffers[2];
std::deque<Readback*> started;
std::vector<unsigned char> image;   // the PPM image being written, kept for the next frame

// Writes the oldest started readback as one PPM image, rows top-down.
void write_oldest()
{
    Readback& readback = *started.front();
    started.pop_front();
    GLint pack_buffer = 0;
    glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &pack_buffer);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, readback.buffer);
    const size_t row = static_cast<size_t>(readback.width) * 3;
    const size_t size = row * static_cast<size_t>(readback.height);
    const auto* bottom_up = static_cast<const unsigned char*>(
        glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, static_cast<GLsizeiptr>(size), GL_MAP_READ_BIT));
    if (!bottom_up) {
        fprintf(stderr, "vclock: cannot map the pixels of frame %u (GL error 0x%x)\n", readback.frame, glGetError());
        _exit(3);
    }
    char comment[64];
    snprintf(comment, sizeof comment, frame_comment_format, readback.frame,
             static_cast<long long>(time_at(readback.frame)));
    char header[96];
    const int header_size =
        snprintf(header, sizeof header, "P6\n%s\n%d %d\n255\n", comment, readback.width, readback.height);
    image.resize(static_cast<size_t>(header_size) + size);
    memcpy(image.data(), header, static_cast<size_t>(header_size));
    for (int y = 0; y < readback.height; ++y)
        memcpy(image.data() + header_size + row * static_cast<size_t>(y),
               bottom_up + row * static_cast<size_t>(readback.height - 1 - y), row);
    glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, static_cast<GLuint>(pack_buffer));
    write_all(grab_fd, image.data(), image.size(), "a grabbed frame");
}

// Starts reading the back buffer of the window as it is about to be shown, then writes the frame before it.
void grab_frame(unsigned frame)
{
    if (grab_fd < 0) {
        grab_fd = open(grab_target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (grab_fd < 0) {
            fprintf(stderr, "vclock: cannot open %s '%s': %s\n", grab_variable, grab_target.c_str(), strerror(errno));
            _exit(3);
        }
    }
    const SDL_Surface* screen = SDL_GetVideoSurface();
    if (!screen)
        return;
    Readback& readback = started.empty() || started.back() != &buffers[0] ? buffers[0] : buffers[1];
    readback.frame = frame;
    readback.width = screen->w;
    readback.height = screen->h;

    // Save the read state the program may rely on, start the read, restore.
    GLint read_framebuffer = 0, pack_buffer = 0, read_buffer = 0, pack_alignment = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read_framebuffer);
    glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &pack_buffer);
    glGetIntegerv(GL_PACK_ALIGNMENT, &pack_alignment);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    if (!readback.buffer)
        glGenBuffers(1, &readback.buffer);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, readback.buffer);
    glBufferData(GL_PIXEL_PACK_BUFFER, static_cast<GLsizeiptr>(readback.width) * readback.height * 3, nullptr,
                 GL_STREAM_READ);
    glGetIntegerv(GL_READ_BUFFER, &read_buffer);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, readback.width, readback.height, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
    glPixelStorei(GL_PACK_ALIGNMENT, pack_alignment);
    glReadBuffer(static_cast<GLenum>(read_buffer));
    glBindBuffer(GL_PIXEL_PACK_BUFFER, static_cast<GLuint>(pack_buffer));
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(read_framebuffer));
    started.push_back(&readback);
    while (started.size() > 1)
        write_oldest();
}

}   // namespace

void read_grab_settings()
{
    if (const char* text = getenv(grab_variable)) {
        grab_target = text;
        if (grab_target.compare(0, 3, "fd:") == 0)
            grab_fd = static_cast<int>(parse_integer(grab_target.substr(3), grab_variable, 0, 1 << 20));
        const char* frames = getenv(grab_frames_variable);
        parse_grab_frames(frames ? frames : "0-");
    }
}

void grab_if_chosen(unsigned frame)
{
    if (grab_target.empty())
        return;
    if (frame_chosen(frame))
        grab_frame(frame);
    else
        write_started_grabs();
}

void write_started_grabs()
{
    while (!started.empty())
        write_oldest();
}

}   // namespace vclock
