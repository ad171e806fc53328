// The analyser's input: any video decoded by ffmpeg into 8-bit RGB frames, and the show recorded frame by frame under
// the controlled clock by capture. Its temporary folder, and the children it starts (through the one supervisor
// that capture and the tests use), stopped on every way out.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "children.h"
#include "flash.h"

namespace {

Child child;   // the one child running at a time
std::string temp_folder;
volatile sig_atomic_t interrupt_caught = 0;

void on_signal(int)
{
    interrupt_caught = 1;
}

// Starts argv with its stdout on out_fd (-1: ours), stdin from /dev/null.
void start(const std::vector<std::string>& argv, int out_fd)
{
    ChildFiles files;
    files.in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    files.out = out_fd;
    const bool started = start_child(child, argv, {}, "", files);
    const int error = errno;
    close(files.in);
    if (!started)
        fail(1, "cannot start %s: %s", argv[0].c_str(), strerror(error));
}

// Waits for the child to end; a signal to this process ends the wait, and fail's clean-up stops the child.
int finish()
{
    int status = 0;
    if (!wait_child(child, status, -1, &interrupt_caught))
        fail(130, "interrupted");
    return status;
}

bool read_exactly(int fd, unsigned char* data, size_t size)
{
    while (size > 0) {
        const ssize_t got = read(fd, data, size);
        if (got < 0 && errno == EINTR && !interrupted())
            continue;
        if (got <= 0)
            return false;
        data += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

// A program's whole stdout.
std::string output_of(const std::vector<std::string>& argv)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        fail(1, "pipe: %s", strerror(errno));
    start(argv, out[1]);
    close(out[1]);
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = read(out[0], buffer, sizeof buffer)) != 0) {
        if (got > 0)
            text.append(buffer, static_cast<size_t>(got));
        else if (errno != EINTR || interrupted())
            break;
    }
    close(out[0]);
    finish();
    return text;
}

}   // namespace

void fail(int status, const char* format, ...)
{
    char message[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);   // NOLINT(clang-analyzer-valist.Uninitialized): a false alarm
    va_end(args);
    clean_up();
    printf("flash: %s\n", message);
    exit(status);
}

void catch_signals()
{
    struct sigaction action = {};
    action.sa_handler = on_signal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool interrupted()
{
    return interrupt_caught != 0;
}

std::string find_program(const std::string& name)
{
    if (name.find('/') != std::string::npos)
        return access(name.c_str(), X_OK) == 0 ? name : "";
    const char* path = getenv("PATH");
    std::string directories = path ? path : "/usr/bin:/bin";
    size_t begin = 0;
    for (;;) {
        const size_t end = directories.find(':', begin);
        const std::string directory = directories.substr(begin, end == std::string::npos ? end : end - begin);
        std::string candidate = (directory.empty() ? "." : directory) + "/" + name;
        struct stat info;
        if (access(candidate.c_str(), X_OK) == 0 && stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode))
            return candidate;
        if (end == std::string::npos)
            return "";
        begin = end + 1;
    }
}

std::string make_temp_dir()
{
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/flash-XXXXXX";
    if (!mkdtemp(pattern.data()))
        fail(1, "cannot create a temporary folder %s: %s", pattern.c_str(), strerror(errno));
    temp_folder = pattern;
    return temp_folder;
}

void clean_up()
{
    stop_child(child, 5);
    if (!temp_folder.empty()) {
        std::error_code error;
        std::filesystem::remove_all(temp_folder, error);
        temp_folder.clear();
    }
}

std::string record_show(const std::string& capture, double from, double to, bool quiet)
{
    std::string video = make_temp_dir() + "/show.mp4";
    std::vector<std::string> argv = {capture, "--lossless",       "--fps", "60", "--from", std::to_string(from),
                                     "--to",  std::to_string(to), "-o",    video};
    if (quiet)
        argv.push_back("--quiet");
    if (!quiet)
        fprintf(stderr, "flash: recording the show from %g to %g s with %s\n", from, to, capture.c_str());
    // capture's own messages go to our stderr; its one line of success to nowhere.
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    start(argv, null_fd);
    close(null_fd);
    const int status = finish();
    if (interrupted())
        fail(130, "interrupted");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail(1, "capture could not record the show (exit status %d)", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return video;
}

VideoInfo probe_video(const std::string& ffprobe, const std::string& path)
{
    const std::string text = output_of({ffprobe, "-v", "error", "-select_streams", "v:0", "-show_entries",
                                        "stream=width,height,r_frame_rate", "-of", "csv=p=0", path});
    VideoInfo info;
    unsigned numerator = 0, denominator = 0;
    if (sscanf(text.c_str(), "%d,%d,%u/%u", &info.width, &info.height, &numerator, &denominator) != 4 ||
        info.width <= 0 || info.height <= 0 || numerator == 0 || denominator == 0)
        fail(1, "%s holds no video stream that ffprobe can read", path.c_str());
    info.fps = static_cast<double>(numerator) / denominator;
    return info;
}

int decode_video(const std::string& ffmpeg, const std::string& path, const VideoInfo& info, Analyser& analyser,
                 bool quiet)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        fail(1, "pipe: %s", strerror(errno));
    // Every frame at the stream's own rate: the analysis counts time in frames.
    start({ffmpeg, "-nostdin", "-v", "error", "-i", path, "-map", "0:v:0", "-fps_mode", "passthrough", "-f", "rawvideo",
           "-pix_fmt", "rgb24", "-"},
          out[1]);
    close(out[1]);
    std::vector<unsigned char> frame(static_cast<size_t>(info.width) * info.height * 3);
    int frames = 0;
    while (!interrupted() && read_exactly(out[0], frame.data(), frame.size())) {
        analyser.add_frame(frame.data());
        frames = analyser.frames();
        if (!quiet && frames % 600 == 0)
            fprintf(stderr, "flash: %d frames\n", frames);
    }
    close(out[0]);
    const int status = finish();
    if (interrupted())
        fail(130, "interrupted");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail(1, "ffmpeg could not decode %s (exit status %d)", path.c_str(),
             WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    if (frames == 0)
        fail(1, "%s holds no frames", path.c_str());
    return frames;
}
