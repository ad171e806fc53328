// capture's processes: the children it starts (the demo, ffmpeg, a private Xvfb), its temporary folder, and
// stopping them all and removing it on every way out.
#include <X11/Xlib.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "capture.h"

// Children that must not outlive this tool.
pid_t demo_pid = -1, ffmpeg_pid = -1;

namespace {

const char xvfb_screen[] = "1920x1200x24";   // large enough for every display configuration

pid_t xvfb_pid = -1;
volatile sig_atomic_t interrupt_caught = 0;
std::string temp_folder;   // empty: none made, or removed

void on_signal(int)
{
    interrupt_caught = 1;
}

void stop_child(pid_t& pid)
{
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
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

}   // namespace

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

void clean_up()
{
    stop_child(demo_pid);
    stop_child(ffmpeg_pid);
    stop_child(xvfb_pid);
    remove_temp_dir();
}

void die(int status, const char* format, ...)
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

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment_changes,
            const std::string& directory, int stdin_fd, int stdout_fd, int stderr_fd, int fd3)
{
    // Changes apply in order, so a later one wins.
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry)
        environment.emplace_back(*entry);
    for (const std::string& change : environment_changes) {
        const std::string prefix = change.substr(0, change.find('=')) + "=";
        environment.erase(
            std::remove_if(environment.begin(), environment.end(),
                           [&](const std::string& entry) { return entry.compare(0, prefix.size(), prefix) == 0; }),
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

int wait_for(pid_t& pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    return status;
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
            die(1,
                "cannot open X display '%s': is its server running? (leave DISPLAY unset and capture starts its "
                "own Xvfb)",
                display.c_str());
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
    xvfb_pid = spawn(
        {xvfb, "-displayfd", std::to_string(ready[1]), "-screen", "0", xvfb_screen, "-noreset", "-nolisten", "tcp"}, {},
        "", -1, null_fd, null_fd, -1);
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
