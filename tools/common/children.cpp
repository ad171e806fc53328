// Child processes: started with an argv and no shell, waited for without taking an interrupted wait for an
// exit, stopped with SIGTERM and then, after a bounded wait, SIGKILL.
#include "children.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <thread>

#include "vclock_protocol.h"

namespace {

const auto poll_interval = std::chrono::milliseconds(5);   // how often a wait looks at the child

// execve takes null-terminated arrays of C strings; they are made before fork, as the child may only make
// system calls.
std::vector<char*> c_strings(const std::vector<std::string>& strings)
{
    std::vector<char*> pointers(strings.size() + 1, nullptr);
    std::transform(strings.begin(), strings.end(), pointers.begin(),
                   [](const std::string& text) { return const_cast<char*>(text.c_str()); });
    return pointers;
}

// The child's side of start_child, between fork and exec.
[[noreturn]] void become(const char* const* argv, char* const* envp, const char* directory, const ChildFiles& files,
                         pid_t parent)
{
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)   // the parent died before the line above
        _exit(126);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (files.in >= 0)
        dup2(files.in, 0);
    if (files.out >= 0)
        dup2(files.out, 1);
    if (files.err >= 0)
        dup2(files.err, 2);
    if (files.fd3 >= 0 && files.fd3 != 3)
        dup2(files.fd3, 3);
    if (files.fd3 == 3)
        fcntl(3, F_SETFD, 0);
    if (*directory && chdir(directory) != 0)
        _exit(126);
    execve(argv[0], const_cast<char* const*>(argv), envp);
    _exit(127);
}

}   // namespace

std::vector<std::string> changed_environment(const std::vector<std::string>& changes)
{
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry)
        environment.emplace_back(*entry);
    for (const std::string& change : changes) {
        const std::string prefix = change.substr(0, change.find('=')) + "=";
        environment.erase(
            std::remove_if(environment.begin(), environment.end(),
                           [&](const std::string& entry) { return entry.compare(0, prefix.size(), prefix) == 0; }),
            environment.end());
        if (change.find('=') != std::string::npos)
            environment.push_back(change);
    }
    return environment;
}

bool start_child(Child& child, const std::vector<std::string>& argv,
                 const std::vector<std::string>& environment_changes, const std::string& directory,
                 const ChildFiles& files)
{
    const std::vector<std::string> environment = changed_environment(environment_changes);
    const std::vector<char*> args = c_strings(argv), envp = c_strings(environment);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0)
        become(args.data(), envp.data(), directory.c_str(), files, parent);
    setpgid(pid, pid);   // as the child does: whichever runs first, the group exists before it is signalled
    child.pid = pid;
    return true;
}

void close_pipes(Child& child)
{
    for (const int fd : child.pipes)
        close(fd);
    child.pipes.clear();
}

bool wait_child(Child& child, int& status, double limit_seconds, const volatile sig_atomic_t* give_up)
{
    close_pipes(child);
    if (child.pid <= 0) {
        status = 0;
        return true;
    }
    // A look every few milliseconds rather than a blocking wait: a signal that came just before the wait began
    // would not interrupt it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(limit_seconds);
    for (;;) {
        const pid_t ended = waitpid(child.pid, &status, WNOHANG);
        if (ended == child.pid) {
            child.pid = -1;
            return true;
        }
        if (ended < 0 && errno != EINTR) {   // not ours to wait for any more: nothing more to learn
            status = -1;
            child.pid = -1;
            return true;
        }
        if ((give_up && *give_up) || (limit_seconds >= 0 && std::chrono::steady_clock::now() >= deadline))
            return false;
        std::this_thread::sleep_for(poll_interval);
    }
}

int stop_child(Child& child, double grace_seconds)
{
    close_pipes(child);
    if (child.pid <= 0)
        return 0;
    // The whole group, so that what a wrapper script started goes too.
    const pid_t pid = child.pid;
    if (kill(-pid, SIGTERM) != 0)
        kill(pid, SIGTERM);
    int status = 0;
    if (wait_child(child, status, grace_seconds))
        return status;
    if (kill(-pid, SIGKILL) != 0)
        kill(pid, SIGKILL);
    wait_child(child, status);
    return status;
}

std::string describe_status(int status)
{
    char text[64];
    if (status == -1)
        snprintf(text, sizeof text, "no status: it was waited for elsewhere");
    else if (WIFEXITED(status))
        snprintf(text, sizeof text, "exit status %d", WEXITSTATUS(status));
    else if (WIFSIGNALED(status))
        snprintf(text, sizeof text, "killed by signal %d (%s)", WTERMSIG(status), strsignal(WTERMSIG(status)));
    else
        snprintf(text, sizeof text, "status %d", status);
    return text;
}

std::vector<std::string> clock_environment(const std::string& library, const std::vector<std::string>& settings)
{
    // One descriptor per library for the life of this process, above the ones children are given (0 to 3), and
    // inherited by them.
    static std::map<std::string, std::string> names;
    auto name = names.find(library);
    if (name == names.end()) {
        std::string as_preloaded = library;   // the loader reports it when it cannot be opened
        const int fd = open(library.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            const int kept = fcntl(fd, F_DUPFD, 10);
            close(fd);
            if (kept >= 0)
                as_preloaded = "/proc/self/fd/" + std::to_string(kept);
        }
        name = names.emplace(library, as_preloaded).first;
    }
    const char* preload = getenv("LD_PRELOAD");
    std::vector<std::string> environment(std::begin(vclock::all_variables), std::end(vclock::all_variables));
    environment.push_back("LD_PRELOAD=" + (preload && *preload ? std::string(preload) + ":" : "") + name->second);
    environment.emplace_back("SDL_AUDIODRIVER=dummy");
    environment.insert(environment.end(), settings.begin(), settings.end());
    return environment;
}
