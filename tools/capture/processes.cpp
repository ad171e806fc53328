// capture's processes: the children it starts (the demo, ffmpeg, a private Xvfb), its temporary folder, and
// stopping them all and removing it on every way out.
#include <X11/Xlib.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "capture.h"

// Children that must not outlive this tool.
Child demo_child, ffmpeg_child;

namespace {

const char xvfb_screen[] = "1920x1200x24";   // large enough for every display configuration
const double stop_grace = 3;                 // seconds a child has to end after SIGTERM, before SIGKILL

Child xvfb_child;
volatile sig_atomic_t interrupt_caught = 0;
std::string temp_folder;    // empty: none made, or removed
std::string partial_file;   // empty: none being written

void on_signal(int)
{
    interrupt_caught = 1;
}

// The standard library removes it without a shell, so any character in TMPDIR is safe.
void remove_temp_dir()
{
    if (temp_folder.empty())
        return;
    std::error_code error;
    std::filesystem::remove_all(temp_folder, error);
    if (error)
        fprintf(stderr, "capture: could not remove %s\n", temp_folder.c_str());
    temp_folder.clear();
}

// An Xauthority file with one cookie for any address of the display: Xvfb takes it with -auth, and clients
// find it through XAUTHORITY. Its display number is not known before Xvfb has chosen one, so the entry has none.
std::string write_cookie()
{
    unsigned char cookie[16];   // MIT-MAGIC-COOKIE-1 is 128 bits
    if (getrandom(cookie, sizeof cookie, 0) != static_cast<ssize_t>(sizeof cookie))
        die(1, "cannot make a cookie for the private Xvfb: %s", strerror(errno));
    const auto field = [](const std::string& bytes) {
        return std::string{static_cast<char>(bytes.size() >> 8), static_cast<char>(bytes.size() & 0xff)} + bytes;
    };
    const std::string entry = std::string("\xff\xff") /* any address */ + field("") + field("") +
                              field("MIT-MAGIC-COOKIE-1") +
                              field(std::string(reinterpret_cast<const char*>(cookie), sizeof cookie));
    std::string path = temp_folder + "/xauthority";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const bool written = fd >= 0 && write(fd, entry.data(), entry.size()) == static_cast<ssize_t>(entry.size());
    if (fd >= 0)
        close(fd);
    if (!written)
        die(1, "cannot write %s: %s", path.c_str(), strerror(errno));
    return path;
}

}   // namespace

void catch_signals()
{
    struct sigaction action = {};
    action.sa_handler = on_signal;   // no SA_RESTART: a blocking call returns, and the caller looks at the flag
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool interrupted()
{
    return interrupt_caught != 0;
}

void make_temp_dir()
{
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/capture-XXXXXX";
    if (!mkdtemp(pattern.data()))
        die(1, "cannot create a temporary folder %s: %s", pattern.c_str(), strerror(errno));
    temp_folder = pattern;
}

const std::string& temp_dir()
{
    return temp_folder;
}

void set_partial(const std::string& path)
{
    partial_file = path;
}

void clean_up()
{
    // The demo first, as it draws on the Xvfb; the writer of the partial file before the file goes.
    stop_child(demo_child, stop_grace);
    stop_child(ffmpeg_child, stop_grace);
    stop_child(xvfb_child, stop_grace);
    if (!partial_file.empty())
        unlink(partial_file.c_str());
    partial_file.clear();
    remove_temp_dir();
}

void die(int status, const char* format, ...)
{
    fputs("capture: ", stderr);
    if (interrupted()) {
        fputs("interrupted", stderr);
        status = 130;
    } else {
        va_list args;
        va_start(args, format);
        vfprintf(stderr, format, args);   // NOLINT(clang-analyzer-valist.Uninitialized): a false alarm
        va_end(args);
    }
    fputc('\n', stderr);
    clean_up();
    exit(status);
}

void spawn(Child& child, const std::vector<std::string>& argv, const std::vector<std::string>& environment_changes,
           const std::string& directory, const ChildFiles& files)
{
    if (interrupted())
        die(130, "interrupted");
    if (!start_child(child, argv, environment_changes, directory, files))
        die(1, "cannot start %s: %s", argv[0].c_str(), strerror(errno));
}

bool wait_for(Child& child, int& status, double limit_seconds)
{
    const bool ended = wait_child(child, status, limit_seconds, &interrupt_caught);
    if (interrupted())
        die(130, "interrupted");
    return ended;
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
            die(1,
                "cannot open X display '%s': is its server running? (leave DISPLAY unset and capture starts its "
                "own Xvfb)",
                display.c_str());
        XCloseDisplay(connection);
        return display;
    }

    const std::string xvfb_path = find_program("Xvfb");
    if (xvfb_path.empty())
        die(1, "no X display: DISPLAY is unset and Xvfb is not installed (apt-get install xvfb), so the demo has "
               "nowhere to draw");
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        die(1, "pipe: %s", strerror(errno));
    // Capture's own connections and the demo's find the cookie here.
    const std::string cookie = write_cookie();
    setenv("XAUTHORITY", cookie.c_str(), 1);
    const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    spawn(xvfb_child,
          {xvfb_path, "-displayfd", "3", "-auth", cookie, "-screen", "0", xvfb_screen, "-noreset", "-nolisten", "tcp"},
          {}, "", {null_fd, null_fd, null_fd, ready[1]});
    close(null_fd);
    close(ready[1]);
    // Xvfb writes its display number once it accepts connections.
    std::string number;
    for (char c;;) {
        const ssize_t got = read(ready[0], &c, 1);
        if (got < 0 && errno == EINTR && !interrupted())
            continue;
        if (got != 1 || c == '\n')
            break;
        number += c;
    }
    close(ready[0]);
    if (number.empty())
        die(1, "the private Xvfb did not start (%s)", xvfb_path.c_str());
    display = ":" + number;
    Display* connection = XOpenDisplay(display.c_str());
    if (!connection)
        die(1, "the private Xvfb on %s does not answer", display.c_str());
    XCloseDisplay(connection);
    return display;
}
