// The one error line and exit: "TOOL: MESSAGE" on stderr, the tool's clean-up, then the status; after SIGINT or
// SIGTERM, whatever went wrong then, "TOOL: interrupted" and status 130.
#pragma once

// Exit statuses, the same in every tool.
enum ExitStatus { exit_done = 0, exit_failed = 1, exit_usage = 2, exit_verdict_fails = 3, exit_interrupted = 130 };

// The name every message starts with, and what fail does before it exits (stopping children; may be null).
void set_tool(const char* name, void (*clean_up)() = nullptr);
const char* tool_name();

[[noreturn]] void fail(int status, const char* format, ...) __attribute__((format(printf, 2, 3)));
// "TOOL: MESSAGE" on stderr, and the run goes on.
void warn(const char* format, ...) __attribute__((format(printf, 1, 2)));
