// Reading and writing exactly n bytes through a pipe, giving up when SIGINT or SIGTERM has come (see signals.h).
#pragma once

#include <cstddef>

// False at the end of the stream, on an error or after an interrupt.
bool read_exactly(int fd, void* data, size_t size);
// False when the reader is gone, on an error or after an interrupt.
bool write_exactly(int fd, const void* data, size_t size);
