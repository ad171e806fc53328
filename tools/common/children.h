// Child processes for capture and for the tests that run the real programs: starting one with an argv (no
// shell), waiting for it, stopping it, and the environment that runs a program under the controlled clock.
// Both use this one copy, so the tests exercise what capture ships.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>
#include <vector>

// A started child and this side's ends of the pipes to it.
struct Child {
    pid_t pid = -1;           // -1: none, or already waited for
    std::vector<int> pipes;   // closed before any wait, so that neither side can block the other
};

// Where the child's standard input, output and error come from (-1: inherited), and one more descriptor
// passed on as fd 3 (-1: none).
struct ChildFiles {
    int in = -1, out = -1, err = -1, fd3 = -1;
};

// This process's environment with changes applied in order: "NAME=value" sets NAME, "NAME" alone removes it.
std::vector<std::string> changed_environment(const std::vector<std::string>& changes);

// Starts argv[0] (a path) in directory ("": here) with the changed environment. The child leads its own
// process group (a terminal's Ctrl-C reaches only this process, which stops its children itself) and gets
// SIGTERM should this process die first. False, with errno set, when no process could be made.
bool start_child(Child& child, const std::vector<std::string>& argv,
                 const std::vector<std::string>& environment_changes, const std::string& directory,
                 const ChildFiles& files);

// Closes this side's pipes to the child.
void close_pipes(Child& child);

// Closes the pipes, then waits for the child to end: true with its wait status, and the child forgotten. A signal
// never ends the wait (an interrupted wait is no exit); *give_up set does, and limit_seconds passing when it is not
// negative: false, and the child is still running.
bool wait_child(Child& child, int& status, double limit_seconds = -1, const volatile sig_atomic_t* give_up = nullptr);

// Closes the pipes, sends SIGTERM to the child's process group, waits up to grace_seconds, then SIGKILL.
// Returns the wait status (0 when there was no child).
int stop_child(Child& child, double grace_seconds);

// "exit status 1", "killed by signal 9 (Killed)".
std::string describe_status(int status);

// The environment changes that run a program under the clock library: none of the clock's settings inherited,
// the library preloaded after any preload already set (a sanitizer's runtime must stay first), dummy audio, then
// the given settings ("VCLOCK_STEP=34000", ...). The loader splits LD_PRELOAD at spaces and colons, so the
// library goes in as /proc/self/fd/N, a descriptor kept open (and inherited) for that: its path may hold any
// character, and no folder of the right name has to be made for it.
std::vector<std::string> clock_environment(const std::string& library, const std::vector<std::string>& settings);
