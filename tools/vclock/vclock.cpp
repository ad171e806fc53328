// vclock: an LD_PRELOAD library that gives an unchanged SDL 1.2 program a controlled clock, scripted
// events, frame grabs of its back buffer and its audio rendered in step with that clock.
//
// How the clock works
//   k is the number of SDL_GL_SwapBuffers calls completed so far. Every SDL_GetTicks returns
//   BASE + T(k) in wrapping 32-bit arithmetic, so time stands still while a frame is drawn and moves
//   only when a frame is presented. T(0) = 0: a program that takes its start time before its first
//   frame gets BASE as start and renders frame j (the one drawn after j swaps) at T(j) milliseconds.
//   A program that checks the clock right after a swap sees the time of the frame it is about to draw.
//     default            T(k) = round(k * STEP)
//     VCLOCK_FIRST set   T(k) = FIRST + round((k - 1) * STEP) for k >= 1 (frame 0 is the throw-away
//                        frame at t = 0; a capture starting at FIRST keeps frames 1, 2, ...)
//     VCLOCK_TIMES set   T(k) = the k-th listed time for k = 1..n, then last + round((k - n) * STEP)
//     VCLOCK_REAL_SKIP   T(k) = SKIP + R(k) for k >= 1, where R(k) is the real SDL timer's milliseconds
//                        from the first SDL_GetTicks call to the end of swap k: the clock follows the
//                        system timer (time while the process is stopped counts), sampled once per swap,
//                        and jumps ahead by SKIP at the first swap. STEP, FIRST and TIMES are ignored.
//
// Environment (all optional; a malformed value stops the program with a message on stderr, status 2)
//   VCLOCK_BASE         clock value at k = 0, 0 .. 4294967295 (default 0); 4294962296 wraps 5 s in
//   VCLOCK_STEP         milliseconds per frame, a decimal number > 0 (default 1000/60)
//   VCLOCK_FIRST        milliseconds, the time of frame 1
//   VCLOCK_TIMES        milliseconds, comma-separated: the times of frames 1, 2, ... (any order)
//   VCLOCK_REAL_SKIP    milliseconds, 0 .. 4294967295: follow the real timer, skipping this much at swap 1
//   VCLOCK_EVENTS       comma-separated SWAP:EVENT items; each EVENT is handed to the program by the
//                       first SDL_PollEvent calls after swap number SWAP, ahead of real events.
//                       EVENT is "escape" (Escape key down), "quit" (SDL_QUIT, a window close) or
//                       "key:SYM" (key down then key up; SYM a decimal SDLKey or one character)
//   VCLOCK_GRAB         where grabbed frames go: a path (created or truncated; a fifo works) or fd:N.
//                       Each frame is read from the back buffer just before the swap is forwarded and
//                       written as binary PPM (P6, rows top-down) whose comment line is
//                       "# vclock frame J t MS" (J = frame index, MS = T(J)); frames are concatenated.
//   VCLOCK_GRAB_FRAMES  which frames to grab: comma-separated indices and ranges "A-B" or "A-"
//                       (default "0-": every frame)
//   VCLOCK_LOG          path of a text log, one line per swap "swap K frame_t MS clock C rss_kb R heap_kb H"
//                       (K = swaps done now, MS = T(K-1) the time of the frame just shown, C = the clock value
//                       from now on, R = the process's resident memory in KiB right after the swap, as VmRSS
//                       in /proc/self/status, H = the KiB allocated with malloc and not yet freed, all arenas
//                       and mapped blocks, from mallinfo2; 0 where malloc is replaced, as under AddressSanitizer
//                       or valgrind) and "exit swaps N" when the program exits normally
//   VCLOCK_GL_ERRORS    path of a text file of GL errors. At the first swap, before it is forwarded, every
//                       pending glGetError code is written as "start glGetError 0xCODE" (errors of start-up
//                       and frame 0). Then, where the context has OpenGL 4.3 or GL_KHR_debug, GL_DEBUG_OUTPUT
//                       is switched on (synchronous, every message enabled) with a callback that writes each
//                       message as "debug frame J TYPE SEVERITY id N: TEXT" (J = the frame being drawn; TYPE
//                       is error, undefined, deprecated, portability, performance, marker, push, pop or
//                       other), and the line "armed debug_output D" follows (D = 1 with debug output, 0 with
//                       glGetError alone; codes raised by switching it on are "arm glGetError 0xCODE").
//                       After every forwarded swap, pending codes are written as "swap K glGetError 0xCODE".
//                       The file ends with "end swaps N" when the program exits normally.
//   VCLOCK_AUDIO        path of a WAV file: the program's SDL_OpenAudio is answered without opening a
//                       device, and its audio callback is run on the main thread after each swap until
//                       the file holds the audio up to T(K) (whole callback buffers, so up to one buffer
//                       more). Sample n of the file plays at n / rate seconds after the clock's start.
//                       Only signed 16-bit little-endian audio is captured; other formats play as usual.
#include <SDL/SDL.h>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Injected {
    unsigned after_swap;
    SDL_Event event;
};

struct GrabRange {
    unsigned first, last;   // frame indices, inclusive
};

// Configuration, read once from the environment.
uint32_t base_ms = 0;
double step_ms = 1000.0 / 60.0;
bool have_first = false;
int64_t first_ms = 0;
std::vector<int64_t> listed_ms;
bool real_mode = false;
int64_t real_skip_ms = 0;
std::vector<Injected> injected;
size_t next_injected = 0;
std::vector<GrabRange> grab_ranges;
int grab_fd = -1;
std::string grab_target;
FILE* log_file = nullptr;
std::string audio_path;

std::atomic<unsigned> swaps{0};

// The real timer's clock (VCLOCK_REAL_SKIP): T(swaps) for any thread, and T(k) of every swap for the main thread.
std::atomic<int64_t> real_now_ms{0};
std::vector<int64_t> real_ms;   // real_ms[k - 1] = T(k)
std::once_flag real_origin_once;
uint32_t real_origin = 0;       // the real timer at the first SDL_GetTicks call
Uint32 (*real_get_ticks)(void) = nullptr;

// GL error checks.
FILE* gl_errors_file = nullptr;
bool gl_debug_output = false;

// Audio captured in step with the clock.
bool audio_captured = false;
SDL_AudioSpec audio_spec;
int audio_fd = -1;
uint64_t audio_bytes = 0;   // PCM bytes written after the header
std::vector<Uint8> audio_buffer;

[[noreturn]] void fail(const char* what, const char* value)
{
    fprintf(stderr, "vclock: bad %s: '%s'\n", what, value);
    fflush(stderr);
    _exit(2);
}

template <typename T>
T next_symbol(const char* name)
{
    void* symbol = dlsym(RTLD_NEXT, name);
    if (!symbol) {
        fprintf(stderr, "vclock: %s not found in the program's libraries\n", name);
        _exit(2);
    }
    return reinterpret_cast<T>(symbol);
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

int64_t parse_integer(const std::string& text, const char* what, int64_t low, int64_t high)
{
    char* end = nullptr;
    errno = 0;
    const long long value = strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high)
        fail(what, text.c_str());
    return value;
}

SDL_Event key_event(Uint8 type, SDLKey sym)
{
    SDL_Event event;
    memset(&event, 0, sizeof event);
    event.key.type = type;
    event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.sym = sym;
    return event;
}

void parse_events(const char* text)
{
    for (const std::string& item : split(text, ',')) {
        const size_t colon = item.find(':');
        if (colon == std::string::npos)
            fail("VCLOCK_EVENTS item", item.c_str());
        const unsigned after = static_cast<unsigned>(
            parse_integer(item.substr(0, colon), "VCLOCK_EVENTS swap number", 0, UINT32_MAX));
        const std::string name = item.substr(colon + 1);
        if (name == "escape") {
            injected.push_back({after, key_event(SDL_KEYDOWN, SDLK_ESCAPE)});
        } else if (name == "quit") {
            SDL_Event event;
            memset(&event, 0, sizeof event);
            event.type = SDL_QUIT;
            injected.push_back({after, event});
        } else if (name.compare(0, 4, "key:") == 0 && name.size() > 4) {
            const std::string sym_text = name.substr(4);
            const SDLKey sym = sym_text.size() == 1 && !isdigit(static_cast<unsigned char>(sym_text[0]))
                ? static_cast<SDLKey>(static_cast<unsigned char>(sym_text[0]))
                : static_cast<SDLKey>(parse_integer(sym_text, "VCLOCK_EVENTS key", 1, SDLK_LAST - 1));
            injected.push_back({after, key_event(SDL_KEYDOWN, sym)});
            injected.push_back({after, key_event(SDL_KEYUP, sym)});
        } else {
            fail("VCLOCK_EVENTS event (escape, quit or key:SYM)", name.c_str());
        }
    }
    // Delivered in order of their swap number; items with the same number keep their listed order.
    for (size_t i = 1; i < injected.size(); ++i)
        for (size_t j = i; j > 0 && injected[j - 1].after_swap > injected[j].after_swap; --j)
            std::swap(injected[j - 1], injected[j]);
}

void parse_grab_frames(const char* text)
{
    for (const std::string& item : split(text, ',')) {
        const size_t dash = item.find('-');
        GrabRange range;
        if (dash == std::string::npos) {
            range.first = range.last = static_cast<unsigned>(
                parse_integer(item, "VCLOCK_GRAB_FRAMES", 0, UINT32_MAX));
        } else {
            range.first = static_cast<unsigned>(
                parse_integer(item.substr(0, dash), "VCLOCK_GRAB_FRAMES", 0, UINT32_MAX));
            const std::string last = item.substr(dash + 1);
            range.last = last.empty() ? UINT32_MAX : static_cast<unsigned>(
                parse_integer(last, "VCLOCK_GRAB_FRAMES", range.first, UINT32_MAX));
        }
        grab_ranges.push_back(range);
    }
}

void read_configuration()
{
    if (const char* text = getenv("VCLOCK_BASE"))
        base_ms = static_cast<uint32_t>(parse_integer(text, "VCLOCK_BASE", 0, UINT32_MAX));
    if (const char* text = getenv("VCLOCK_STEP")) {
        char* end = nullptr;
        step_ms = strtod(text, &end);
        if (*text == '\0' || *end != '\0' || !(step_ms > 0) || step_ms > 1e9)
            fail("VCLOCK_STEP", text);
    }
    if (const char* text = getenv("VCLOCK_FIRST")) {
        have_first = true;
        first_ms = parse_integer(text, "VCLOCK_FIRST", 0, UINT32_MAX);
    }
    if (const char* text = getenv("VCLOCK_TIMES")) {
        const std::vector<std::string> items = split(text, ',');
        listed_ms.resize(items.size());
        std::transform(items.begin(), items.end(), listed_ms.begin(),
                       [](const std::string& item) { return parse_integer(item, "VCLOCK_TIMES", 0, UINT32_MAX); });
    }
    if (const char* text = getenv("VCLOCK_REAL_SKIP")) {
        real_mode = true;
        real_skip_ms = parse_integer(text, "VCLOCK_REAL_SKIP", 0, UINT32_MAX);
    }
    if (const char* text = getenv("VCLOCK_EVENTS"))
        parse_events(text);
    if (const char* text = getenv("VCLOCK_GRAB")) {
        grab_target = text;
        if (grab_target.compare(0, 3, "fd:") == 0)
            grab_fd = static_cast<int>(parse_integer(grab_target.substr(3), "VCLOCK_GRAB", 0, 1 << 20));
        const char* frames = getenv("VCLOCK_GRAB_FRAMES");
        parse_grab_frames(frames ? frames : "0-");
    }
    if (const char* text = getenv("VCLOCK_LOG")) {
        log_file = fopen(text, "w");
        if (!log_file)
            fail("VCLOCK_LOG (cannot create)", text);
        setvbuf(log_file, nullptr, _IOLBF, 0);
    }
    if (const char* text = getenv("VCLOCK_AUDIO"))
        audio_path = text;
    if (const char* text = getenv("VCLOCK_GL_ERRORS")) {
        gl_errors_file = fopen(text, "w");
        if (!gl_errors_file)
            fail("VCLOCK_GL_ERRORS (cannot create)", text);
        setvbuf(gl_errors_file, nullptr, _IOLBF, 0);
    }
}

// Read on first use rather than in a load-time constructor, which could run before this file's own globals
// are initialised.
void configure()
{
    static std::once_flag once;
    std::call_once(once, read_configuration);
}

__attribute__((destructor)) void report_exit()
{
    configure();
    if (log_file)
        fprintf(log_file, "exit swaps %u\n", swaps.load());
    if (gl_errors_file)
        fprintf(gl_errors_file, "end swaps %u\n", swaps.load());
}

// T(k): milliseconds since the clock's start at swap count k.
int64_t time_at(unsigned k)
{
    if (k == 0)
        return 0;
    if (real_mode)
        return k <= real_ms.size() ? real_ms[k - 1] : real_now_ms.load();
    if (!listed_ms.empty()) {
        if (k <= listed_ms.size())
            return listed_ms[k - 1];
        return listed_ms.back() + llround(static_cast<double>(k - listed_ms.size()) * step_ms);
    }
    if (have_first)
        return first_ms + llround((k - 1) * step_ms);
    return llround(k * step_ms);
}

uint32_t clock_at(unsigned k)
{
    return static_cast<uint32_t>(base_ms + static_cast<uint64_t>(time_at(k)));
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

bool frame_selected(unsigned frame)
{
    return std::any_of(grab_ranges.begin(), grab_ranges.end(),
                       [frame](const GrabRange& range) { return frame >= range.first && frame <= range.last; });
}

// Reads the back buffer of the window as it is about to be shown and writes it as one PPM image.
void grab_frame(unsigned frame)
{
    if (grab_fd < 0) {
        grab_fd = open(grab_target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (grab_fd < 0) {
            fprintf(stderr, "vclock: cannot open VCLOCK_GRAB '%s': %s\n", grab_target.c_str(), strerror(errno));
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

    char header[96];
    const int header_size = snprintf(header, sizeof header, "P6\n# vclock frame %u t %lld\n%d %d\n255\n",
                                     frame, static_cast<long long>(time_at(frame)), width, height);
    std::vector<unsigned char> image(static_cast<size_t>(header_size) + bottom_up.size());
    memcpy(image.data(), header, static_cast<size_t>(header_size));
    for (int y = 0; y < height; ++y)
        memcpy(image.data() + header_size + row * static_cast<size_t>(y),
               bottom_up.data() + row * static_cast<size_t>(height - 1 - y), row);
    write_all(grab_fd, image.data(), image.size(), "a grabbed frame");
}

void put_le(unsigned char* at, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<unsigned char>(value >> (8 * i));
}

void put_tag(unsigned char* at, const char* tag)
{
    std::copy(tag, tag + strlen(tag), at);
}

// Rewrites the WAV header for the data written so far, so the file is complete after every swap.
void write_wav_header()
{
    unsigned char header[44];
    const uint32_t rate = static_cast<uint32_t>(audio_spec.freq);
    const uint32_t channels = audio_spec.channels;
    put_tag(header, "RIFF");
    put_le(header + 4, static_cast<uint32_t>(36 + audio_bytes), 4);
    put_tag(header + 8, "WAVEfmt ");
    put_le(header + 16, 16, 4);             // fmt chunk size
    put_le(header + 20, 1, 2);              // PCM
    put_le(header + 22, channels, 2);
    put_le(header + 24, rate, 4);
    put_le(header + 28, rate * channels * 2, 4);
    put_le(header + 32, channels * 2, 2);   // bytes per sample frame
    put_le(header + 34, 16, 2);             // bits per sample
    put_tag(header + 36, "data");
    put_le(header + 40, static_cast<uint32_t>(audio_bytes), 4);
    if (pwrite(audio_fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) {
        fprintf(stderr, "vclock: cannot write VCLOCK_AUDIO '%s': %s\n", audio_path.c_str(), strerror(errno));
        _exit(3);
    }
}

// Runs the program's audio callback until the file covers the clock's time since the start.
void render_audio_until(int64_t ms)
{
    const uint64_t bytes_per_sample_frame = static_cast<uint64_t>(audio_spec.channels) * 2u;
    const uint64_t wanted = static_cast<uint64_t>(ms) * static_cast<uint64_t>(audio_spec.freq) / 1000u
        * bytes_per_sample_frame;
    if (audio_bytes >= wanted)
        return;
    while (audio_bytes < wanted) {
        memset(audio_buffer.data(), audio_spec.silence, audio_buffer.size());
        audio_spec.callback(audio_spec.userdata, audio_buffer.data(), static_cast<int>(audio_buffer.size()));
        if (pwrite(audio_fd, audio_buffer.data(), audio_buffer.size(), static_cast<off_t>(44 + audio_bytes))
            != static_cast<ssize_t>(audio_buffer.size())) {
            fprintf(stderr, "vclock: cannot write VCLOCK_AUDIO '%s': %s\n", audio_path.c_str(), strerror(errno));
            _exit(3);
        }
        audio_bytes += audio_buffer.size();
    }
    write_wav_header();
}

// Resident memory of this process in KiB (VmRSS), or -1 when /proc cannot tell.
long resident_kb()
{
    const int fd = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char text[128];
    const ssize_t got = read(fd, text, sizeof text - 1);
    close(fd);
    if (got <= 0)
        return -1;
    text[got] = '\0';
    unsigned long size = 0, resident = 0;
    if (sscanf(text, "%lu %lu", &size, &resident) != 2)
        return -1;
    return static_cast<long>(resident * static_cast<unsigned long>(sysconf(_SC_PAGESIZE)) / 1024);
}

// Bytes allocated with malloc and not freed, in KiB.
long heap_in_use_kb()
{
    const struct mallinfo2 heap = mallinfo2();
    return static_cast<long>((heap.uordblks + heap.hblkhd) / 1024);
}

// The real SDL timer, and the moment the clock started on it (the first SDL_GetTicks call).
void start_real_clock()
{
    std::call_once(real_origin_once, [] {
        real_get_ticks = next_symbol<Uint32 (*)(void)>("SDL_GetTicks");
        real_origin = real_get_ticks();
    });
}

// T(k) of the swap just completed: the skip plus the real milliseconds since the origin.
void sample_real_clock()
{
    start_real_clock();
    const int64_t t = real_skip_ms + static_cast<uint32_t>(real_get_ticks() - real_origin);
    real_ms.push_back(t);
    real_now_ms.store(t);
}

void write_pending_gl_errors(const char* when)
{
    for (int i = 0; i < 32; ++i) {   // a lost context can report an error forever
        const GLenum error = glGetError();
        if (error == GL_NO_ERROR)
            return;
        fprintf(gl_errors_file, "%s glGetError 0x%04X\n", when, error);
    }
}

const char* debug_type_name(GLenum type)
{
    switch (type) {
    case GL_DEBUG_TYPE_ERROR: return "error";
    case GL_DEBUG_TYPE_UNDEFINED_BEHAVIOR: return "undefined";
    case GL_DEBUG_TYPE_DEPRECATED_BEHAVIOR: return "deprecated";
    case GL_DEBUG_TYPE_PORTABILITY: return "portability";
    case GL_DEBUG_TYPE_PERFORMANCE: return "performance";
    case GL_DEBUG_TYPE_MARKER: return "marker";
    case GL_DEBUG_TYPE_PUSH_GROUP: return "push";
    case GL_DEBUG_TYPE_POP_GROUP: return "pop";
    default: return "other";
    }
}

const char* debug_severity_name(GLenum severity)
{
    switch (severity) {
    case GL_DEBUG_SEVERITY_HIGH: return "high";
    case GL_DEBUG_SEVERITY_MEDIUM: return "medium";
    case GL_DEBUG_SEVERITY_LOW: return "low";
    default: return "notification";
    }
}

void GLAPIENTRY on_debug_message(GLenum, GLenum type, GLuint id, GLenum severity, GLsizei length,
                                 const GLchar* message, const void*)
{
    std::string text = length >= 0 ? std::string(message, static_cast<size_t>(length)) : std::string(message);
    std::replace(text.begin(), text.end(), '\n', ' ');
    fprintf(gl_errors_file, "debug frame %u %s %s id %u: %s\n", swaps.load(), debug_type_name(type),
            debug_severity_name(severity), id, text.c_str());
}

bool context_has_debug_output()
{
    int major = 0, minor = 0;
    if (const GLubyte* version = glGetString(GL_VERSION))
        sscanf(reinterpret_cast<const char*>(version), "%d.%d", &major, &minor);
    if (major * 100 + minor >= 403)
        return true;
    GLint count = 0;
    glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    for (GLint i = 0; i < count; ++i) {
        const GLubyte* name = glGetStringi(GL_EXTENSIONS, static_cast<GLuint>(i));
        if (name && strcmp(reinterpret_cast<const char*>(name), "GL_KHR_debug") == 0)
            return true;
    }
    return false;
}

// At the first swap: what start-up left pending, then debug output for the rest of the run.
void arm_gl_error_checks()
{
    write_pending_gl_errors("start");
    gl_debug_output = context_has_debug_output();
    if (gl_debug_output) {
        glEnable(GL_DEBUG_OUTPUT);
        glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
        glDebugMessageControl(GL_DONT_CARE, GL_DONT_CARE, GL_DONT_CARE, 0, nullptr, GL_TRUE);
        glDebugMessageCallback(on_debug_message, nullptr);
    }
    write_pending_gl_errors("arm");
    fprintf(gl_errors_file, "armed debug_output %d\n", gl_debug_output ? 1 : 0);
}

}  // namespace

extern "C" {

Uint32 SDL_GetTicks(void)
{
    configure();
    if (real_mode) {
        start_real_clock();
        return static_cast<uint32_t>(base_ms + static_cast<uint64_t>(real_now_ms.load()));
    }
    return clock_at(swaps.load());
}

void SDL_GL_SwapBuffers(void)
{
    configure();
    static const auto real_swap = next_symbol<void (*)(void)>("SDL_GL_SwapBuffers");
    const unsigned frame = swaps.load();
    if (gl_errors_file && frame == 0)
        arm_gl_error_checks();
    if (!grab_target.empty() && frame_selected(frame))
        grab_frame(frame);
    real_swap();
    const unsigned now = frame + 1;
    if (real_mode)
        sample_real_clock();
    swaps.store(now);
    if (gl_errors_file) {
        const std::string when = "swap " + std::to_string(now);
        write_pending_gl_errors(when.c_str());
    }
    if (log_file)
        fprintf(log_file, "swap %u frame_t %lld clock %u rss_kb %ld heap_kb %ld\n", now,
                static_cast<long long>(time_at(frame)), clock_at(now), resident_kb(), heap_in_use_kb());
    if (audio_captured)
        render_audio_until(time_at(now));
}

int SDL_PollEvent(SDL_Event* event)
{
    configure();
    static const auto real_poll = next_symbol<int (*)(SDL_Event*)>("SDL_PollEvent");
    if (next_injected < injected.size() && injected[next_injected].after_swap <= swaps.load()) {
        if (event)
            *event = injected[next_injected++].event;
        return 1;
    }
    return real_poll(event);
}

int SDL_OpenAudio(SDL_AudioSpec* desired, SDL_AudioSpec* obtained)
{
    configure();
    static const auto real_open = next_symbol<int (*)(SDL_AudioSpec*, SDL_AudioSpec*)>("SDL_OpenAudio");
    if (audio_path.empty() || audio_captured || !desired || desired->format != AUDIO_S16LSB
        || desired->channels < 1 || desired->samples == 0 || !desired->callback) {
        if (!audio_path.empty())
            fprintf(stderr, "vclock: audio not captured (only one signed 16-bit little-endian device)\n");
        return real_open(desired, obtained);
    }
    audio_fd = open(audio_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (audio_fd < 0) {
        fprintf(stderr, "vclock: cannot open VCLOCK_AUDIO '%s': %s\n", audio_path.c_str(), strerror(errno));
        _exit(3);
    }
    audio_spec = *desired;
    audio_spec.silence = 0;
    audio_spec.size = static_cast<Uint32>(audio_spec.samples) * audio_spec.channels * 2u;
    audio_buffer.assign(audio_spec.size, 0);
    if (obtained)
        *obtained = audio_spec;
    else
        *desired = audio_spec;
    write_wav_header();
    audio_captured = true;
    return 0;
}

void SDL_CloseAudio(void)
{
    static const auto real_close = next_symbol<void (*)(void)>("SDL_CloseAudio");
    audio_captured = false;
    real_close();
}

}  // extern "C"
