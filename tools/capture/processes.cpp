// capture's processes: the children it starts (the demo, ffmpeg, a private Xvfb), and stopping them all on every
// way out.
#include <X11/Xlib.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "capture.h"

// Children that must not outlive this tool.
Child demo_child, ffmpeg_child;

namespace {

const char xvfb_screen[] = "1920x1200x24";   // large enough for every display configuration
const double stop_grace = 3;                 // seconds a child has to end after SIGTERM, before SIGKILL

Child xvfb_child;
std::string partial_file;   // empty: none being written

// An Xauthority file with one cookie for any address of the display: Xvfb takes it with -auth, and clients
// find it through XAUTHORITY. Its display number is not known before Xvfb has chosen one, so the entry has none.
std::string write_cookie()
{
    unsigned char cookie[16];   // MIT-MAGIC-COOKIE-1 is 128 bits
    if (getrandom(cookie, sizeof cookie, 0) != static_cast<ssize_t>(sizeof cookie))
        fail(1, "cannot make a cookie for the private Xvfb: %s", strerror(errno));
    const auto field = [](const std::string& bytes) {
        return std::string{static_cast<char>(bytes.size() >> 8), static_cast<char>(bytes.size() & 0xff)} + bytes;
    };
    const std::string entry = std::string("\xff\xff") /* any address */ + field("") + field("") +
                              field("MIT-MAGIC-COOKIE-1") +
                              field(std::string(reinterpret_cast<const char*>(cookie), sizeof cookie));
    std::string path = temp_folder() + "/xauthority";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const bool written = fd >= 0 && write(fd, entry.data(), entry.size()) == static_cast<ssize_t>(entry.size());
    if (fd >= 0)
        close(fd);
    if (!written)
        fail(1, "cannot write %s: %s", path.c_str(), strerror(errno));
    return path;
}

}   // namespace

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
    remove_temp_folder();
}

void spawn(Child& child, const std::vector<std::string>& argv, const std::vector<std::string>& environment_changes,
           const std::string& directory, const ChildFiles& files)
{
    if (interrupted())
        fail(130, "interrupted");
    if (!start_child(child, argv, environment_changes, directory, files))
        fail(1, "cannot start %s: %s", argv[0].c_str(), strerror(errno));
}

bool wait_for(Child& child, int& status, double limit_seconds)
{
    const bool ended = wait_child(child, status, limit_seconds, interrupt_flag());
    if (interrupted())
        fail(130, "interrupted");
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
            fail(1,
                 "cannot open X display '%s': is its server running? (leave DISPLAY unset and capture starts its "
                 "own Xvfb)",
                 display.c_str());
        XCloseDisplay(connection);
        return display;
    }

    const std::string xvfb_path = find_program("Xvfb");
    if (xvfb_path.empty())
        fail(1, "no X display: DISPLAY is unset and Xvfb is not installed (apt-get install xvfb), so the demo has "
                "nowhere to draw");
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        fail(1, "pipe: %s", strerror(errno));
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
        fail(1, "the private Xvfb did not start (%s)", xvfb_path.c_str());
    display = ":" + number;
    Display* connection = XOpenDisplay(display.c_str());
    if (!connection)
        fail(1, "the private Xvfb on %s does not answer", display.c_str());
    XCloseDisplay(connection);
    return display;
}
