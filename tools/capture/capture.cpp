// capture: records the unchanged demo under vclock's controlled clock, frame by frame at exact times,
// into an H.264 MP4 with the soundtrack (through ffmpeg) and into PNG stills.
//
// The demo runs with libvclock.so preloaded: every frame is drawn at a chosen time, read back from the back
// buffer and sent to this tool through a pipe; the demo's own mixer output is rendered in step with the same
// clock into a WAV file. Output files appear only when the run succeeded.
#include <X11/Xlib.h>
#include <zlib.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdarg>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>


namespace {

const double show_length = 136.0;                       // seconds: the demo ends itself after this
const char music_file[] = "Tarnhollow_4.mp3";            // what the demo loads from its working directory
const char xvfb_screen[] = "1920x1200x24";               // large enough for every display configuration

struct Still {
    int64_t ms;          // time of the still
    std::string path;    // where the PNG goes
};

struct Options {
    std::string output;                 // MP4 path; empty: no video
    double from = 0, to = show_length;  // seconds
    bool to_given = false, duration_given = false;
    double duration = 0;
    double fps = 60;
    bool lossless = false;
    int crf = 18;
    std::vector<Still> stills;
    std::string stills_dir = ".";
    std::string demo, vclock, ffmpeg = "ffmpeg", workdir, display, log;
    bool quiet = false;
};

// Children that must not outlive this tool.
pid_t demo_pid = -1, ffmpeg_pid = -1, xvfb_pid = -1;
volatile sig_atomic_t interrupted = 0;
std::string temp_dir;

void on_signal(int)
{
    interrupted = 1;
}

void stop_child(pid_t& pid)
{
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
}

void remove_temp_dir()
{
    if (temp_dir.empty())
        return;
    const std::string command = "rm -rf '" + temp_dir + "'";
    if (system(command.c_str()) != 0)
        fprintf(stderr, "capture: could not remove %s\n", temp_dir.c_str());
    temp_dir.clear();
}

void clean_up()
{
    stop_child(demo_pid);
    stop_child(ffmpeg_pid);
    stop_child(xvfb_pid);
    remove_temp_dir();
}

__attribute__((format(printf, 2, 3), noreturn)) void die(int status, const char* format, ...)
{
    fputs("capture: ", stderr);
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);   // NOLINT(clang-analyzer-valist.Uninitialized): a false alarm
    va_end(args);
    fputc('\n', stderr);
    clean_up();
    exit(status);
}

void usage(FILE* to)
{
    fputs(
        "usage: capture [options]\n"
        "Records the demo at exact times under a controlled clock: an MP4 video and/or PNG stills.\n"
        "  -o, --output FILE.mp4   write the video (H.264 and the soundtrack as AAC)\n"
        "      --from SECONDS      start of the recorded interval (default 0)\n"
        "      --to SECONDS        end of the interval (default 136, the end of the show)\n"
        "      --duration SECONDS  length of the interval, instead of --to\n"
        "      --fps N             frames per second of the video (default 60)\n"
        "      --lossless          lossless RGB H.264 (libx264rgb, qp 0) instead of --crf\n"
        "      --crf N             x264 quality of the normal video, 0-51 (default 18)\n"
        "      --still SECONDS[=FILE.png]\n"
        "                          a PNG still of the frame at that time (repeatable; without a file name\n"
        "                          it is DIR/still-SSS.mmm.png)\n"
        "      --stills-dir DIR    where unnamed stills go (default: the current directory)\n"
        "      --demo PATH         the demo binary, of any display configuration (default: the demo next to\n"
        "                          this tool)\n"
        "      --workdir DIR       the demo's working directory, where it finds Tarnhollow_4.mp3 (default:\n"
        "                          the directory of the demo binary)\n"
        "      --display NAME      X display (default: $DISPLAY; when none is set a private Xvfb is started)\n"
        "      --ffmpeg PATH       ffmpeg to use (default: ffmpeg from PATH)\n"
        "      --vclock PATH       the preloaded clock library (default: libvclock.so next to this tool)\n"
        "      --log FILE          keep the clock's log of the video run (of the stills run when there is no\n"
        "                          video): one line per frame shown, with its time\n"
        "  -q, --quiet             no progress bar\n"
        "  -h, --help              this text\n"
        "Times are in seconds from the start of the show, 0 to 136, and are rounded to whole milliseconds\n"
        "(the demo's clock counts milliseconds). Video frame i is drawn at FROM + i / FPS.\n",
        to);
}

__attribute__((format(printf, 1, 2), noreturn)) void bad_arguments(const char* format, ...)
{
    fputs("capture: ", stderr);
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);   // NOLINT(clang-analyzer-valist.Uninitialized): a false alarm
    va_end(args);
    fputs("\n(capture --help lists the options)\n", stderr);
    exit(2);
}

double parse_seconds(const std::string& text, const char* what)
{
    char* end = nullptr;
    const double value = strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value))
        bad_arguments("%s must be a number of seconds, not '%s'", what, text.c_str());
    if (value < 0)
        bad_arguments("%s must not be negative (got %s)", what, text.c_str());
    if (value > show_length)
        bad_arguments("%s must be at most %g s, the length of the show (got %s)", what, show_length, text.c_str());
    return value;
}

int64_t to_ms(double seconds)
{
    return llround(seconds * 1000.0);
}

std::string still_name(int64_t ms)
{
    char name[64];
    snprintf(name, sizeof name, "still-%03lld.%03lld.png", static_cast<long long>(ms / 1000),
             static_cast<long long>(ms % 1000));
    return name;
}

std::string directory_of(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool is_directory(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string own_directory()
{
    char path[4096];
    const ssize_t size = readlink("/proc/self/exe", path, sizeof path - 1);
    if (size <= 0)
        return ".";
    path[size] = '\0';
    return directory_of(path);
}

std::string absolute(const std::string& path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

// A program name as execvp would find it, or "" when there is none.
std::string find_program(const std::string& name)
{
    if (name.find('/') != std::string::npos)
        return access(name.c_str(), X_OK) == 0 && !is_directory(name) ? name : "";
    const char* path = getenv("PATH");
    std::string directories = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        const size_t end = directories.find(':', start);
        const std::string directory = directories.substr(start, end == std::string::npos ? end : end - start);
        std::string candidate = (directory.empty() ? "." : directory) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0 && !is_directory(candidate))
            return candidate;
        if (end == std::string::npos)
            return "";
        start = end + 1;
    }
}

Options parse_arguments(int argc, char** argv)
{
    Options options;
    std::vector<std::string> still_texts;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                bad_arguments("%s needs a value", argument.c_str());
            return argv[++i];
        };
        if (argument == "-h" || argument == "--help") {
            usage(stdout);
            exit(0);
        } else if (argument == "-o" || argument == "--output") {
            options.output = value();
        } else if (argument == "--from") {
            options.from = parse_seconds(value(), "--from");
        } else if (argument == "--to") {
            options.to = parse_seconds(value(), "--to");
            options.to_given = true;
        } else if (argument == "--duration") {
            const std::string text = value();
            char* end = nullptr;
            options.duration = strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !(options.duration > 0))
                bad_arguments("--duration must be a positive number of seconds, not '%s'", text.c_str());
            options.duration_given = true;
        } else if (argument == "--fps") {
            const std::string text = value();
            char* end = nullptr;
            options.fps = strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !(options.fps >= 1 && options.fps <= 1000))
                bad_arguments("--fps must be a number from 1 to 1000, not '%s'", text.c_str());
        } else if (argument == "--lossless") {
            options.lossless = true;
        } else if (argument == "--crf") {
            const std::string text = value();
            char* end = nullptr;
            const long crf = strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || crf < 0 || crf > 51)
                bad_arguments("--crf must be a whole number from 0 to 51, not '%s'", text.c_str());
            options.crf = static_cast<int>(crf);
        } else if (argument == "--still") {
            still_texts.push_back(value());
        } else if (argument == "--stills-dir") {
            options.stills_dir = value();
        } else if (argument == "--demo") {
            options.demo = value();
        } else if (argument == "--workdir") {
            options.workdir = value();
        } else if (argument == "--display") {
            options.display = value();
        } else if (argument == "--ffmpeg") {
            options.ffmpeg = value();
        } else if (argument == "--vclock") {
            options.vclock = value();
        } else if (argument == "--log") {
            options.log = value();
        } else if (argument == "-q" || argument == "--quiet") {
            options.quiet = true;
        } else {
            bad_arguments("unknown option '%s'", argument.c_str());
        }
    }

    if (options.to_given && options.duration_given)
        bad_arguments("give --to or --duration, not both");
    if (options.duration_given) {
        options.to = options.from + options.duration;
        if (options.to > show_length + 1e-9)
            bad_arguments("the interval %g s to %g s runs past the end of the show at %g s", options.from,
                          options.to, show_length);
    }
    if (!(options.to > options.from))
        bad_arguments("the interval must end after it starts (from %g s to %g s)", options.from, options.to);
    if (options.output.empty() && still_texts.empty())
        bad_arguments("nothing to do: give --output FILE.mp4 and/or --still SECONDS");
    if (!options.output.empty() && !is_directory(directory_of(options.output)))
        bad_arguments("the folder of --output '%s' does not exist", options.output.c_str());
    for (const std::string& text : still_texts) {
        const size_t equals = text.find('=');
        Still still;
        still.ms = to_ms(parse_seconds(text.substr(0, equals), "--still"));
        if (equals != std::string::npos) {
            still.path = text.substr(equals + 1);
            if (still.path.empty())
                bad_arguments("--still %s names no file", text.c_str());
        } else {
            still.path = options.stills_dir + "/" + still_name(still.ms);
        }
        if (!is_directory(directory_of(still.path)))
            bad_arguments("the folder of still '%s' does not exist", still.path.c_str());
        options.stills.push_back(still);
    }
    return options;
}

// Starts a program with extra environment entries ("NAME=value" replaces NAME; "NAME" alone removes it),
// stdin/stdout/stderr from the given descriptors (-1: inherit) and one more descriptor as fd 3 (-1: none).
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment_changes,
            const std::string& directory, int stdin_fd, int stdout_fd, int stderr_fd, int fd3)
{
    // Changes apply in order, so a later one wins.
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry)
        environment.emplace_back(*entry);
    for (const std::string& change : environment_changes) {
        const std::string prefix = change.substr(0, change.find('=')) + "=";
        environment.erase(std::remove_if(environment.begin(), environment.end(),
                                         [&](const std::string& entry) {
                                             return entry.compare(0, prefix.size(), prefix) == 0;
                                         }),
                          environment.end());
        if (change.find('=') != std::string::npos)
            environment.push_back(change);
    }

    std::vector<char*> args(argv.size() + 1, nullptr), envp(environment.size() + 1, nullptr);
    std::transform(argv.begin(), argv.end(), args.begin(),
                   [](const std::string& arg) { return const_cast<char*>(arg.c_str()); });
    std::transform(environment.begin(), environment.end(), envp.begin(),
                   [](const std::string& entry) { return const_cast<char*>(entry.c_str()); });

    const pid_t pid = fork();
    if (pid < 0)
        die(1, "cannot start %s: %s", argv[0].c_str(), strerror(errno));
    if (pid == 0) {
        signal(SIGPIPE, SIG_DFL);
        signal(SIGINT, SIG_IGN);   // this tool stops its children itself
        if (stdin_fd >= 0)
            dup2(stdin_fd, 0);
        if (stdout_fd >= 0)
            dup2(stdout_fd, 1);
        if (stderr_fd >= 0)
            dup2(stderr_fd, 2);
        if (fd3 >= 0 && fd3 != 3)
            dup2(fd3, 3);
        if (fd3 == 3)
            fcntl(3, F_SETFD, 0);
        if (!directory.empty() && chdir(directory.c_str()) != 0)
            _exit(126);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    return pid;
}

std::string read_file(const std::string& path)
{
    std::string text;
    if (FILE* file = fopen(path.c_str(), "r")) {
        char buffer[4096];
        size_t size;
        while ((size = fread(buffer, 1, sizeof buffer, file)) > 0)
            text.append(buffer, size);
        fclose(file);
    }
    return text;
}

std::string describe_status(int status)
{
    char text[64];
    if (WIFEXITED(status))
        snprintf(text, sizeof text, "exit status %d", WEXITSTATUS(status));
    else if (WIFSIGNALED(status))
        snprintf(text, sizeof text, "killed by signal %d (%s)", WTERMSIG(status), strsignal(WTERMSIG(status)));
    else
        snprintf(text, sizeof text, "status %d", status);
    return text;
}

// The display the demo will use: the given one if it answers, else a private Xvfb.
std::string open_display(const Options& options)
{
    std::string display = options.display;
    const char* inherited = getenv("DISPLAY");
    if (display.empty() && inherited)
        display = inherited;
    if (!display.empty()) {
        Display* connection = XOpenDisplay(display.c_str());
        if (!connection)
            die(1, "cannot open X display '%s': is its server running? (leave DISPLAY unset and capture starts its "
                   "own Xvfb)", display.c_str());
        XCloseDisplay(connection);
        return display;
    }

    const std::string xvfb = find_program("Xvfb");
    if (xvfb.empty())
        die(1, "no X display: DISPLAY is unset and Xvfb is not installed (apt-get install xvfb), so the demo has "
               "nowhere to draw");
    int ready[2];
    if (pipe(ready) != 0)
        die(1, "pipe: %s", strerror(errno));
    const int null_fd = open("/dev/null", O_WRONLY);
    xvfb_pid = spawn({xvfb, "-displayfd", std::to_string(ready[1]), "-screen", "0", xvfb_screen, "-noreset",
                      "-nolisten", "tcp"}, {}, "", -1, null_fd, null_fd, -1);
    close(null_fd);
    close(ready[1]);
    // Xvfb writes its display number once it accepts connections.
    std::string number;
    char c;
    while (read(ready[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(ready[0]);
    if (number.empty())
        die(1, "the private Xvfb did not start (%s)", xvfb.c_str());
    display = ":" + number;
    Display* connection = XOpenDisplay(display.c_str());
    if (!connection)
        die(1, "the private Xvfb on %s does not answer", display.c_str());
    XCloseDisplay(connection);
    return display;
}

// Reads exactly size bytes; false at end of stream or on an error.
bool read_exactly(int fd, void* data, size_t size)
{
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t got = read(fd, bytes, size);
        if (got < 0 && errno == EINTR && !interrupted)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

bool write_exactly(int fd, const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written < 0 && errno == EINTR && !interrupted)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

struct Frame {
    unsigned index = 0;   // vclock's frame index
    int64_t ms = 0;       // the time it was drawn at
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;   // top-down rows
};

std::string read_line(int fd)
{
    std::string line;
    char c;
    while (read_exactly(fd, &c, 1) && c != '\n')
        line += c;
    return line;
}

// One frame of vclock's stream: "P6", "# vclock frame J t MS", "W H", "255", then the pixels.
bool read_frame(int fd, Frame& frame)
{
    const std::string magic = read_line(fd);
    if (magic.empty())
        return false;
    unsigned index = 0;
    long long ms = 0;
    const std::string comment = read_line(fd);
    const std::string size = read_line(fd);
    const std::string depth = read_line(fd);
    if (magic != "P6" || sscanf(comment.c_str(), "# vclock frame %u t %lld", &index, &ms) != 2
        || sscanf(size.c_str(), "%d %d", &frame.width, &frame.height) != 2 || depth != "255"
        || frame.width <= 0 || frame.height <= 0)
        die(1, "unexpected frame header from vclock: '%s' '%s' '%s' '%s'", magic.c_str(), comment.c_str(),
            size.c_str(), depth.c_str());
    frame.index = index;
    frame.ms = ms;
    frame.rgb.resize(static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height) * 3);
    return read_exactly(fd, frame.rgb.data(), frame.rgb.size());
}

void put_be32(std::vector<unsigned char>& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(value >> shift));
}

void put_chunk(std::vector<unsigned char>& out, const char* type, const std::vector<unsigned char>& data)
{
    put_be32(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put_be32(out, static_cast<uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

// An 8-bit RGB PNG; every row uses the "up" filter, which suits the smooth background.
void write_png(const Frame& frame, const std::string& path)
{
    const size_t row = static_cast<size_t>(frame.width) * 3;
    std::vector<unsigned char> filtered((row + 1) * static_cast<size_t>(frame.height));
    for (int y = 0; y < frame.height; ++y) {
        unsigned char* out = filtered.data() + (row + 1) * static_cast<size_t>(y);
        const unsigned char* line = frame.rgb.data() + row * static_cast<size_t>(y);
        out[0] = 2;
        for (size_t x = 0; x < row; ++x)
            out[1 + x] = static_cast<unsigned char>(line[x] - (y > 0 ? line[x - row] : 0));
    }
    uLongf packed_size = compressBound(static_cast<uLong>(filtered.size()));
    std::vector<unsigned char> packed(packed_size);
    if (compress2(packed.data(), &packed_size, filtered.data(), static_cast<uLong>(filtered.size()), 9) != Z_OK)
        die(1, "cannot compress still %s", path.c_str());
    packed.resize(packed_size);

    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<unsigned char> header;
    put_be32(header, static_cast<uint32_t>(frame.width));
    put_be32(header, static_cast<uint32_t>(frame.height));
    header.insert(header.end(), {8, 2, 0, 0, 0});   // 8 bits, RGB, deflate, adaptive filters, no interlace
    put_chunk(png, "IHDR", header);
    put_chunk(png, "IDAT", packed);
    put_chunk(png, "IEND", {});

    const std::string partial = path + ".partial";
    FILE* file = fopen(partial.c_str(), "wb");
    if (!file || fwrite(png.data(), 1, png.size(), file) != png.size() || fclose(file) != 0)
        die(1, "cannot write %s: %s", partial.c_str(), strerror(errno));
    if (rename(partial.c_str(), path.c_str()) != 0)
        die(1, "cannot rename %s to %s: %s", partial.c_str(), path.c_str(), strerror(errno));
}

std::string clock_text(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        return "--:--";
    const long total = lround(seconds);
    char text[32];
    if (total >= 3600)
        snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        snprintf(text, sizeof text, "%02ld:%02ld", total / 60, total % 60);
    return text;
}

// Frames done, frames per second and time left: redrawn in place on a terminal, every tenth otherwise.
struct Progress {
    const char* label;
    unsigned total;
    bool quiet;
    bool terminal = isatty(2);
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    unsigned last_tenth = 0;

    void update(unsigned done)
    {
        if (quiet)
            return;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const double fps = elapsed > 0 ? done / elapsed : 0;
        const double left = fps > 0 ? (total - done) / fps : NAN;
        const int width = 30;
        const int filled = static_cast<int>(static_cast<double>(width) * done / total);
        const unsigned tenth = 10 * done / total;
        if (terminal) {
            fprintf(stderr, "\r%s [%s%s] %u/%u frames  %.2f fps  %s left ", label, std::string(filled, '#').c_str(),
                    std::string(width - filled, '.').c_str(), done, total, fps, clock_text(left).c_str());
            if (done == total)
                fputc('\n', stderr);
        } else if (tenth > last_tenth || done == total) {
            fprintf(stderr, "%s: %u/%u frames  %.2f fps  %s left\n", label, done, total, fps,
                    clock_text(left).c_str());
        }
        last_tenth = tenth;
    }
};

struct Run {
    int frames_fd = -1;         // the read end of vclock's frame pipe
    std::string output_path;    // the demo's stdout and stderr
};

// Starts the demo with vclock preloaded; frames arrive on the returned descriptor.
Run start_demo(const Options& options, const std::string& display, const std::vector<std::string>& clock_settings,
               const std::string& name)
{
    int frames[2];
    if (pipe2(frames, O_CLOEXEC) != 0)
        die(1, "pipe: %s", strerror(errno));
    Run run;
    run.output_path = temp_dir + "/" + name + "-output.txt";
    const int output_fd = open(run.output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (output_fd < 0)
        die(1, "cannot create %s: %s", run.output_path.c_str(), strerror(errno));
    const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);

    // Nothing of vclock's settings is inherited; those of this run come after and win.
    std::vector<std::string> environment = {"VCLOCK_BASE", "VCLOCK_STEP", "VCLOCK_FIRST", "VCLOCK_TIMES",
                                            "VCLOCK_EVENTS", "VCLOCK_GRAB_FRAMES", "VCLOCK_AUDIO",
                                            "VCLOCK_REAL_SKIP", "VCLOCK_GL_ERRORS"};
    environment.insert(environment.end(), clock_settings.begin(), clock_settings.end());
    const char* preload = getenv("LD_PRELOAD");
    environment.push_back("LD_PRELOAD=" + options.vclock + (preload && *preload ? std::string(" ") + preload : ""));
    environment.push_back("DISPLAY=" + display);
    environment.push_back("SDL_AUDIODRIVER=dummy");   // vclock answers the audio device; nothing is played
    environment.push_back("VCLOCK_GRAB=fd:3");
    // The kept log is the video run's, or the stills run's when there is no video.
    const bool keep_log = !options.log.empty() && (name == "video" || options.output.empty());
    environment.push_back("VCLOCK_LOG=" + (keep_log ? options.log : temp_dir + "/" + name + "-clock.log"));
    demo_pid = spawn({options.demo}, environment, options.workdir, null_fd, output_fd, output_fd, frames[1]);
    close(null_fd);
    close(output_fd);
    close(frames[1]);
    run.frames_fd = frames[0];
    return run;
}

// Waits for the demo after its last wanted frame: it must end by itself with status 0.
void finish_demo(const Run& run, unsigned received, unsigned wanted)
{
    close(run.frames_fd);
    int status = 0;
    waitpid(demo_pid, &status, 0);
    demo_pid = -1;
    if (interrupted)
        die(130, "interrupted");
    const std::string output = read_file(run.output_path);
    if (received < wanted || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        die(1, "the demo ended after %u of %u frames (%s); its output:\n%s", received, wanted,
            describe_status(status).c_str(), output.empty() ? "(nothing)\n" : output.c_str());
    if (!output.empty())
        fprintf(stderr, "capture: the demo said:\n%s", output.c_str());
}

void take_stills(const Options& options, const std::string& display)
{
    std::string times;
    for (const Still& still : options.stills)
        times += (times.empty() ? "" : ",") + std::to_string(still.ms);
    const unsigned count = static_cast<unsigned>(options.stills.size());
    Run run = start_demo(options, display,
                         {"VCLOCK_TIMES=" + times, "VCLOCK_GRAB_FRAMES=1-" + std::to_string(count),
                          "VCLOCK_EVENTS=" + std::to_string(count + 1) + ":quit"}, "stills");
    Progress progress{"stills", count, options.quiet};
    Frame frame;
    unsigned received = 0;
    while (received < count && !interrupted && read_frame(run.frames_fd, frame)) {
        const Still& still = options.stills[received];
        if (frame.index != received + 1 || frame.ms != still.ms)
            die(1, "vclock sent frame %u at %lld ms, expected frame %u at %lld ms", frame.index,
                static_cast<long long>(frame.ms), received + 1, static_cast<long long>(still.ms));
        write_png(frame, still.path);
        ++received;
        progress.update(received);
    }
    finish_demo(run, received, count);
    for (const Still& still : options.stills)
        printf("still %s: t = %lld.%03lld s\n", still.path.c_str(), static_cast<long long>(still.ms / 1000),
               static_cast<long long>(still.ms % 1000));
}

// The sample rate of the WAV file vclock wrote.
uint32_t wav_rate(const std::string& path)
{
    unsigned char header[44] = {};
    FILE* file = fopen(path.c_str(), "rb");
    const bool ok = file && fread(header, 1, sizeof header, file) == sizeof header && memcmp(header, "RIFF", 4) == 0;
    if (file)
        fclose(file);
    if (!ok)
        die(1, "the demo opened no audio device, so there is no soundtrack to record (%s)", path.c_str());
    return header[24] | header[25] << 8 | header[26] << 16 | static_cast<uint32_t>(header[27]) << 24;
}

int run_ffmpeg(const std::vector<std::string>& argv, const std::string& log_path, int stdin_fd)
{
    const int log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ffmpeg_pid = spawn(argv, {}, "", stdin_fd, log_fd, log_fd, -1);
    close(log_fd);
    return ffmpeg_pid;
}

void record_video(const Options& options, const std::string& display)
{
    const int64_t from_ms = to_ms(options.from);
    const double step_ms = 1000.0 / options.fps;
    const unsigned count = static_cast<unsigned>(std::ceil((options.to - options.from) * options.fps - 1e-6));
    char step_text[64];
    snprintf(step_text, sizeof step_text, "%.17g", step_ms);
    const std::string audio_path = temp_dir + "/audio.wav";
    const std::string video_path = temp_dir + "/video.mp4";
    const std::string ffmpeg_log = temp_dir + "/ffmpeg.txt";

    Run run = start_demo(options, display,
                         {"VCLOCK_FIRST=" + std::to_string(from_ms), std::string("VCLOCK_STEP=") + step_text,
                          "VCLOCK_GRAB_FRAMES=1-" + std::to_string(count),
                          "VCLOCK_EVENTS=" + std::to_string(count + 1) + ":quit", "VCLOCK_AUDIO=" + audio_path},
                         "video");
    char fps_text[64];
    snprintf(fps_text, sizeof fps_text, "%.17g", options.fps);
    Progress progress{"video", count, options.quiet};
    Frame frame;
    unsigned received = 0;
    int encoder_fd = -1;
    while (received < count && !interrupted && read_frame(run.frames_fd, frame)) {
        const int64_t expected_ms = from_ms + llround(received * step_ms);
        if (frame.index != received + 1 || frame.ms != expected_ms)
            die(1, "vclock sent frame %u at %lld ms, expected frame %u at %lld ms", frame.index,
                static_cast<long long>(frame.ms), received + 1, static_cast<long long>(expected_ms));
        if (encoder_fd < 0) {
            // The encoder starts with the first frame, which tells the picture size.
            int to_encoder[2];
            if (pipe2(to_encoder, O_CLOEXEC) != 0)
                die(1, "pipe: %s", strerror(errno));
            std::vector<std::string> argv = {options.ffmpeg, "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
                                             "-f", "rawvideo", "-pix_fmt", "rgb24", "-video_size",
                                             std::to_string(frame.width) + "x" + std::to_string(frame.height),
                                             "-framerate", fps_text, "-i", "pipe:0"};
            if (options.lossless)
                argv.insert(argv.end(), {"-c:v", "libx264rgb", "-qp", "0", "-pix_fmt", "rgb24"});
            else
                argv.insert(argv.end(), {"-c:v", "libx264", "-crf", std::to_string(options.crf), "-pix_fmt",
                                         "yuv420p"});
            argv.insert(argv.end(), {"-preset", "medium", "-f", "mp4", video_path});
            run_ffmpeg(argv, ffmpeg_log, to_encoder[0]);
            close(to_encoder[0]);
            encoder_fd = to_encoder[1];
        }
        if (!write_exactly(encoder_fd, frame.rgb.data(), frame.rgb.size()) && !interrupted)
            die(1, "ffmpeg stopped taking frames; it said:\n%s", read_file(ffmpeg_log).c_str());
        ++received;
        progress.update(received);
    }
    if (encoder_fd >= 0)
        close(encoder_fd);
    finish_demo(run, received, count);
    int status = 0;
    waitpid(ffmpeg_pid, &status, 0);
    ffmpeg_pid = -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        die(1, "ffmpeg failed to encode the video (%s); it said:\n%s", describe_status(status).c_str(),
            read_file(ffmpeg_log).c_str());

    // The soundtrack from the interval's start, cut to the video's length, then both into the MP4.
    const uint32_t rate = wav_rate(audio_path);
    const long long first_sample = from_ms * rate / 1000;
    const long long end_sample = first_sample + llround(count * static_cast<double>(rate) / options.fps);
    const std::string partial = options.output + ".partial";
    run_ffmpeg({options.ffmpeg, "-hide_banner", "-nostdin", "-loglevel", "error", "-y", "-i", video_path, "-i",
                audio_path, "-map", "0:v", "-map", "1:a", "-c:v", "copy", "-af",
                "atrim=start_sample=" + std::to_string(first_sample) + ":end_sample=" + std::to_string(end_sample)
                    + ",asetpts=PTS-STARTPTS",
                "-c:a", "aac", "-b:a", "192k", "-movflags", "+faststart", "-f", "mp4", partial},
               ffmpeg_log, -1);
    waitpid(ffmpeg_pid, &status, 0);
    ffmpeg_pid = -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        unlink(partial.c_str());
        die(1, "ffmpeg failed to add the soundtrack (%s); it said:\n%s", describe_status(status).c_str(),
            read_file(ffmpeg_log).c_str());
    }
    if (rename(partial.c_str(), options.output.c_str()) != 0) {
        unlink(partial.c_str());
        die(1, "cannot rename %s to %s: %s", partial.c_str(), options.output.c_str(), strerror(errno));
    }
    struct stat info;
    stat(options.output.c_str(), &info);
    printf("video %s: %u frames at %g fps from %.3f s to %.3f s, %dx%d, %s, %.1f MB\n", options.output.c_str(), count,
           options.fps, static_cast<double>(from_ms) / 1000.0,
           static_cast<double>(from_ms + llround(count * step_ms)) / 1000.0, frame.width, frame.height,
           options.lossless ? "lossless" : ("crf " + std::to_string(options.crf)).c_str(),
           static_cast<double>(info.st_size) / 1e6);
}

}  // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options = parse_arguments(argc, argv);

    // Everything that can be missing is looked for before anything starts.
    const std::string here = own_directory();
    if (options.demo.empty())
        options.demo = here + "/demo";
    if (access(options.demo.c_str(), X_OK) != 0 || is_directory(options.demo))
        die(1, "no demo binary at '%s' (build it, or name it with --demo PATH)", options.demo.c_str());
    options.demo = absolute(options.demo);
    if (options.vclock.empty())
        options.vclock = here + "/libvclock.so";
    if (access(options.vclock.c_str(), R_OK) != 0)
        die(1, "no clock library at '%s' (build the vclock target, or name it with --vclock PATH)",
            options.vclock.c_str());
    options.vclock = absolute(options.vclock);
    if (!options.output.empty()) {
        const std::string ffmpeg = find_program(options.ffmpeg);
        if (ffmpeg.empty())
            die(1, "ffmpeg not found ('%s'): install it (apt-get install ffmpeg) or name it with --ffmpeg PATH",
                options.ffmpeg.c_str());
        options.ffmpeg = ffmpeg;
    }
    if (options.workdir.empty())
        options.workdir = directory_of(options.demo);
    if (!is_directory(options.workdir))
        die(1, "the working directory '%s' does not exist", options.workdir.c_str());
    if (!options.output.empty() && access((options.workdir + "/" + music_file).c_str(), R_OK) != 0)
        fprintf(stderr, "capture: warning: no %s in %s: the demo runs without music and the soundtrack is silent\n",
                music_file, options.workdir.c_str());

    struct sigaction action = {};
    action.sa_handler = on_signal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/capture-XXXXXX";
    if (!mkdtemp(pattern.data()))
        die(1, "cannot create a temporary folder %s: %s", pattern.c_str(), strerror(errno));
    temp_dir = pattern;

    const std::string display = open_display(options);
    if (!options.stills.empty())
        take_stills(options, display);
    if (!options.output.empty())
        record_video(options, display);
    clean_up();
    return 0;
}
