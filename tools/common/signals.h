// SIGINT and SIGTERM end a run cleanly: they set a flag that the tool looks at between steps; a closed pipe is an
// error of the write, not a signal.
#pragma once

#include <csignal>

void catch_signals();
bool interrupted();
// The flag itself, for waits that look at it (wait_child).
const volatile sig_atomic_t* interrupt_flag();
