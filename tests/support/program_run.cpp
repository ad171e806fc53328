// Running the real programs for the tests: processes with a changed environment and a time limit, vclock's
// environment and log, and the sound it writes.
#include "program_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "children.h"

namespace {

const double stop_grace = 5;   // seconds a program past its limit has to end after SIGTERM

}   // namespace

RunResult run_program(const std::vector<std::string>& argv, const std::vector<std::string>& environment_changes,
                      const std::string& directory, double limit_seconds, const std::function<void(pid_t)>& started,
                      bool errors_apart)
{
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0)
        return {};
    const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    FILE* errors = errors_apart ? tmpfile() : nullptr;   // read once the program has ended
    Child child;
    child.pipes = {output[0]};
    const bool running = start_child(child, argv, environment_changes, directory,
                                     {null_fd, output[1], errors ? fileno(errors) : output[1], -1});
    close(null_fd);
    close(output[1]);
    if (!running) {
        close_pipes(child);
        if (errors)
            fclose(errors);
        return {};
    }
    if (started)
        started(child.pid);

    RunResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(limit_seconds);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timed_out = true;
            break;
        }
        pollfd waiting = {output[0], POLLIN, 0};
        if (poll(&waiting, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buffer[4096];
        const ssize_t got = read(output[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        result.output.append(buffer, static_cast<size_t>(got));
    }
    // Past the limit the program gets what capture gives its children: SIGTERM, then SIGKILL.
    int status = 0;
    if (result.timed_out)
        status = stop_child(child, stop_grace);
    else
        wait_child(child, status);
    result.exited = !result.timed_out && WIFEXITED(status);
    result.status = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    if (errors) {
        rewind(errors);
        for (int c; (c = fgetc(errors)) != EOF;)
            result.errors += static_cast<char>(c);
        fclose(errors);
    }
    return result;
}

std::string describe(const RunResult& result)
{
    if (result.timed_out)
        return "timed out";
    if (result.exited)
        return "exit status " + std::to_string(result.status);
    return "killed by signal " + std::to_string(result.signal) + " (" + strsignal(result.signal) + ")";
}

std::vector<std::string> words(const std::string& text)
{
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

bool has_line(const std::string& output, const std::string& line)
{
    return ("\n" + output).find("\n" + line + "\n") != std::string::npos;
}

size_t occurrences(const std::string& output, const std::string& text)
{
    size_t count = 0;
    for (size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + 1))
        ++count;
    return count;
}

std::vector<pid_t> processes_in(const std::string& folder)
{
    std::vector<pid_t> found;
    std::error_code error;
    const std::string canonical = std::filesystem::canonical(folder, error).string();
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string cwd = std::filesystem::read_symlink(entry.path() / "cwd", error).string();
        if (!error && (cwd == canonical || cwd.rfind(canonical + "/", 0) == 0))
            found.push_back(atoi(entry.path().filename().c_str()));
    }
    return found;
}

std::string dead_display()
{
    for (int number = 731; number < 800; ++number) {
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        const std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
        if (!file_exists(socket) && !file_exists(lock))
            return ":" + std::to_string(number);
    }
    return ":799";
}

std::vector<std::string> vclock_environment(const std::vector<std::string>& settings)
{
    return clock_environment(VCLOCK_LIBRARY, settings);
}

ClockLog read_clock_log(const std::string& path)
{
    ClockLog log;
    std::ifstream file(path);
    std::string line;
    vclock::SwapLine swap;
    unsigned exit_swaps = 0;
    while (std::getline(file, line))
        if (vclock::parse_swap_line(line.c_str(), swap))
            log.swaps.push_back(swap);
        else if (vclock::parse_exit_line(line.c_str(), exit_swaps))
            log.exit_swaps = exit_swaps;
    return log;
}

std::vector<int> s16_samples(const std::string& path, size_t header_bytes)
{
    const std::string bytes = read_file(path);
    std::vector<int> samples;
    for (size_t i = header_bytes; i + 1 < bytes.size(); i += 2) {
        const auto low = static_cast<unsigned char>(bytes[i]), high = static_cast<unsigned char>(bytes[i + 1]);
        samples.push_back(static_cast<int16_t>(low | high << 8));
    }
    return samples;
}

int peak(const std::vector<int>& samples, size_t from, size_t to)
{
    int largest = 0;
    for (size_t i = from; i < to && i < samples.size(); ++i)
        largest = std::max(largest, std::abs(samples[i]));
    return largest;
}

void DemoRun::SetUp()
{
    const char* display = getenv("DISPLAY");
    ASSERT_TRUE(display && *display) << "expected DISPLAY to name an X server (scripts/test.sh starts Xvfb)";
    ASSERT_FALSE(dir.path.empty()) << "expected a temporary folder";
}

std::vector<std::string> DemoRun::demo_environment(std::vector<std::string> settings,
                                                   const std::vector<std::string>& more) const
{
    settings.push_back(vclock::setting(vclock::log_variable, dir / "clock.log"));
    std::vector<std::string> environment = vclock_environment(settings);
    environment.insert(environment.end(), more.begin(), more.end());
    return environment;
}

RunResult DemoRun::run_demo(const std::vector<std::string>& settings, const std::vector<std::string>& more,
                            const std::string& binary, double limit_seconds) const
{
    return run_program({binary}, demo_environment(settings, more), dir.path, limit_seconds);
}

RunResult DemoRun::run_preview(const std::vector<std::string>& arguments, const std::vector<std::string>& settings,
                               const std::vector<std::string>& more, double limit_seconds) const
{
    std::vector<std::string> argv = {PREVIEW_BINARY};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return run_program(argv, demo_environment(settings, more), dir.path, limit_seconds);
}
