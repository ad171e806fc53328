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
#include <cstdlib>
#include <cstring>
#include <fstream>

RunResult run_program(const std::vector<std::string>& argv, const std::vector<std::string>& environment_changes,
                      const std::string& directory, double limit_seconds, const std::function<void(pid_t)>& started)
{
    // Changes apply in order, so a later one wins.
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry)
        environment.push_back(*entry);
    for (const std::string& change : environment_changes) {
        const std::string name = change.substr(0, change.find('='));
        for (size_t i = environment.size(); i-- > 0;)
            if (environment[i].substr(0, environment[i].find('=')) == name)
                environment.erase(environment.begin() + static_cast<long>(i));
        if (change.find('=') != std::string::npos)
            environment.push_back(change);
    }
    // execve takes null-terminated arrays of C strings.
    const auto c_strings = [](const std::vector<std::string>& strings) {
        std::vector<char*> pointers(strings.size() + 1, nullptr);
        std::transform(strings.begin(), strings.end(), pointers.begin(),
                       [](const std::string& text) { return const_cast<char*>(text.c_str()); });
        return pointers;
    };
    std::vector<char*> args = c_strings(argv), envp = c_strings(environment);

    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        const int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, 0);
        dup2(output[1], 1);
        dup2(output[1], 2);
        if (!directory.empty() && chdir(directory.c_str()) != 0)
            _exit(126);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(output[1]);
    if (started && pid > 0)
        started(pid);

    RunResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(limit_seconds);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timed_out = true;
            kill(pid, SIGKILL);
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
    close(output[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exited = !result.timed_out && WIFEXITED(status);
    result.status = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
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
    // A preload the tests were started with (the sanitizer build's keep_modules) stays ahead of vclock.
    const char* preload = getenv("LD_PRELOAD");
    const std::string preloads = preload && *preload ? std::string(preload) + ":" VCLOCK_LIBRARY : VCLOCK_LIBRARY;
    std::vector<std::string> environment = {"LD_PRELOAD=" + preloads, "SDL_AUDIODRIVER=dummy"};
    environment.insert(environment.end(), std::begin(vclock::all_variables), std::end(vclock::all_variables));
    environment.insert(environment.end(), settings.begin(), settings.end());
    return environment;
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
    const std::string bytes = read_text(path);
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
