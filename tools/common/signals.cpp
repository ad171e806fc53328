// Signals that end a run cleanly: SIGINT and SIGTERM set a flag, SIGPIPE is ignored.
#include "signals.h"

namespace {

volatile sig_atomic_t interrupt_caught = 0;

void on_signal(int)
{
    interrupt_caught = 1;
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

const volatile sig_atomic_t* interrupt_flag()
{
    return &interrupt_caught;
}
