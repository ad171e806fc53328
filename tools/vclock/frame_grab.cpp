// vclock's frame grabs: the back buffer of chosen frames, read just before their swap and written as PPM images.
//
// Settings (optional)
//   VCLOCK_GRAB         where grabbed frames go: a path (created or truncated; a fifo works) or fd:N.
//                       Each frame is read from the back buffer just before the swap is forwarded and
//                       written as binary PPM (P6, rows top-down) whose comment line is
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

// Reads the back buffer of the window as it is about to be shown and writes it as one PPM image.
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
    const int width = screen->w, height = screen->h;

    // Save the read state the program may rely on, read, restore.
    GLint read_framebuffer = 0, pack_buffer = 0, read_buffer = 0, pack_alignment = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read_framebuffer);
    glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &pack_buffer);
    glGetIntegerv(GL_PACK_ALIGNMENT, &pack_alignment);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glGetIntegerv(GL_READ_BUFFER, &read_buffer);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    const size_t row = static_cast<size_t>(width) * 3;
    std::vector<unsigned char> bottom_up(row * static_cast<size_t>(height));
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, bottom_up.data());
    glPixelStorei(GL_PACK_ALIGNMENT, pack_alignment);
    glReadBuffer(static_cast<GLenum>(read_buffer));
    glBindBuffer(GL_PIXEL_PACK_BUFFER, static_cast<GLuint>(pack_buffer));
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(read_framebuffer));

    char comment[64];
    snprintf(comment, sizeof comment, frame_comment_format, frame, static_cast<long long>(time_at(frame)));
    char header[96];
    const int header_size = snprintf(header, sizeof header, "P6\n%s\n%d %d\n255\n", comment, width, height);
    std::vector<unsigned char> image(static_cast<size_t>(header_size) + bottom_up.size());
    memcpy(image.data(), header, static_cast<size_t>(header_size));
    for (int y = 0; y < height; ++y)
        memcpy(image.data() + header_size + row * static_cast<size_t>(y),
               bottom_up.data() + row * static_cast<size_t>(height - 1 - y), row);
    write_all(grab_fd, image.data(), image.size(), "a grabbed frame");
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
    if (!grab_target.empty() && frame_chosen(frame))
        grab_frame(frame);
}

}   // namespace vclock
