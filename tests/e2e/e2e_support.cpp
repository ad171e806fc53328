// Helpers for the end-to-end tests: processes with a time limit, vclock's log and frames, ffmpeg decoding.
#include "e2e_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

RunResult run_program(const std::vector<std::string>& argv, const std::vector<std::string>& environment_changes,
                      const std::string& directory, double limit_seconds,
                      const std::function<void(pid_t)>& started)
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
    std::vector<char*> args, envp;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    for (const std::string& entry : environment)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);

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

TempDir::TempDir()
{
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/demo-e2e-XXXXXX";
    if (mkdtemp(pattern.data()))
        path = pattern;
}

TempDir::~TempDir()
{
    if (!path.empty() && !getenv("E2E_KEEP_FILES"))
        (void)!system(("rm -rf '" + path + "'").c_str());
}

std::vector<std::string> vclock_environment(const std::vector<std::string>& settings)
{
    std::vector<std::string> environment = {"LD_PRELOAD=" VCLOCK_LIBRARY, "SDL_AUDIODRIVER=dummy"};
    for (const char* name : {"VCLOCK_BASE", "VCLOCK_STEP", "VCLOCK_FIRST", "VCLOCK_TIMES", "VCLOCK_EVENTS",
                             "VCLOCK_GRAB", "VCLOCK_GRAB_FRAMES", "VCLOCK_LOG", "VCLOCK_AUDIO", "VCLOCK_REAL_SKIP",
                             "VCLOCK_GL_ERRORS"})
        environment.push_back(name);   // nothing inherited from the caller
    environment.insert(environment.end(), settings.begin(), settings.end());
    return environment;
}

ClockLog read_clock_log(const std::string& path)
{
    ClockLog log;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        unsigned swap = 0;
        long long frame_ms = 0;
        unsigned long clock = 0;
        long exit_swaps = 0, rss_kb = -1, heap_kb = -1;
        if (sscanf(line.c_str(), "swap %u frame_t %lld clock %lu rss_kb %ld heap_kb %ld", &swap, &frame_ms, &clock,
                   &rss_kb, &heap_kb) >= 3)
            log.swaps.push_back({swap, frame_ms, static_cast<uint32_t>(clock), rss_kb, heap_kb});
        else if (sscanf(line.c_str(), "exit swaps %ld", &exit_swaps) == 1)
            log.exit_swaps = exit_swaps;
    }
    return log;
}

std::vector<Image> read_grabbed_frames(const std::string& path)
{
    std::vector<Image> frames;
    std::ifstream file(path, std::ios::binary);
    std::string magic, comment;
    while (std::getline(file, magic) && magic == "P6" && std::getline(file, comment)) {
        Image image;
        long long ms = 0;
        if (sscanf(comment.c_str(), "# vclock frame %u t %lld", &image.frame, &ms) != 2)
            break;
        image.ms = ms;
        int depth = 0;
        file >> image.width >> image.height >> depth;
        file.get();
        image.rgb.resize(static_cast<size_t>(image.width) * image.height * 3);
        if (!file.read(reinterpret_cast<char*>(image.rgb.data()), static_cast<std::streamsize>(image.rgb.size())))
            break;
        frames.push_back(std::move(image));
    }
    return frames;
}

std::vector<Image> decode_with_ffmpeg(const std::string& path, int width, int height)
{
    std::vector<Image> frames;
    const std::string command = "ffmpeg -nostdin -loglevel error -i '" + path + "' -f rawvideo -pix_fmt rgb24 -";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return frames;
    for (;;) {
        Image image;
        image.width = width;
        image.height = height;
        image.rgb.resize(static_cast<size_t>(width) * height * 3);
        if (fread(image.rgb.data(), 1, image.rgb.size(), pipe) != image.rgb.size())
            break;
        frames.push_back(std::move(image));
    }
    pclose(pipe);
    return frames;
}

std::string probe(const std::string& path, const std::string& stream, const std::string& entry)
{
    std::string command = "ffprobe -v error ";
    if (stream.empty())
        command += "-show_entries format=" + entry;
    else
        command += "-count_frames -select_streams " + stream + " -show_entries stream=" + entry;
    command += " -of default=noprint_wrappers=1:nokey=1 '" + path + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return "";
    char line[256] = "";
    const bool got = fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    std::string value = got ? line : "";
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
        value.pop_back();
    return value;
}

double share_near(const Image& image, int r, int g, int b, int tolerance)
{
    return share_where(image, 0, 0, image.width, image.height, [&](const unsigned char* p) {
        return std::abs(p[0] - r) <= tolerance && std::abs(p[1] - g) <= tolerance && std::abs(p[2] - b) <= tolerance;
    });
}

std::string first_difference(const Image& expected, const Image& observed)
{
    if (expected.width != observed.width || expected.height != observed.height)
        return "size " + std::to_string(observed.width) + "x" + std::to_string(observed.height) + ", expected "
            + std::to_string(expected.width) + "x" + std::to_string(expected.height);
    long different = 0;
    std::string first;
    for (int y = 0; y < expected.height; ++y)
        for (int x = 0; x < expected.width; ++x)
            if (memcmp(expected.at(x, y), observed.at(x, y), 3) != 0) {
                if (different++ == 0) {
                    const unsigned char* e = expected.at(x, y);
                    const unsigned char* o = observed.at(x, y);
                    std::ostringstream text;
                    text << "pixel (" << x << ", " << y << "): expected (" << int(e[0]) << ", " << int(e[1]) << ", "
                         << int(e[2]) << ") got (" << int(o[0]) << ", " << int(o[1]) << ", " << int(o[2]) << ")";
                    first = text.str();
                }
            }
    return different ? first + "; " + std::to_string(different) + " pixels differ" : "";
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

bool file_exists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::string read_text(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}
