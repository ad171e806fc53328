// Exactly n bytes through a pipe: short reads and writes continued, an interrupt looked at after each one.
#include "exact_io.h"

#include <unistd.h>

#include <cerrno>

#include "signals.h"

bool read_exactly(int fd, void* data, size_t size)
{
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
        // An interrupted read may return what it got so far, so the flag is looked at after each one.
        const ssize_t got = interrupted() ? -1 : read(fd, bytes, size);
        if (got < 0 && errno == EINTR && !interrupted())
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

bool write_exactly(int fd, const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = interrupted() ? -1 : write(fd, bytes, size);
        if (written < 0 && errno == EINTR && !interrupted())
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}
