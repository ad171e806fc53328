// vclock's log: one line per swap with the frame's time, the clock and the process's memory, and one at exit.
//
// Setting (optional)
//   VCLOCK_LOG          path of a text log, one line per swap "swap K frame_t MS clock C rss_kb R heap_kb H"
//                       (K = swaps done now, MS = T(K-1) the time of the frame just shown, C = the clock value
//                       from now on, R = the process's resident memory in KiB right after the swap, the
//                       resident pages of /proc/self/statm (what VmRSS in /proc/self/status counts), H = the KiB
//                       allocated with malloc and not yet freed, all arenas and mapped blocks, from mallinfo2; 0 where
//                       malloc is replaced, as under AddressSanitizer or valgrind) and "exit swaps N" when the program
//                       exits normally
#include <fcntl.h>
#include <malloc.h>

#include "vclock.h"
#include "vclock_protocol.h"

namespace vclock {

namespace {

FILE* log_file = nullptr;

// Resident memory of this process in KiB: the resident pages of /proc/self/statm (the VmRSS of /proc/self/status,
// without parsing its text), or -1 when /proc cannot tell.
long resident_kb()
{
    const int fd = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char text[128];
    const ssize_t got = read(fd, text, sizeof text - 1);
    close(fd);
    if (got <= 0)
        return -1;
    text[got] = '\0';
    unsigned long size = 0, resident = 0;
    if (sscanf(text, "%lu %lu", &size, &resident) != 2)
        return -1;
    return static_cast<long>(resident * static_cast<unsigned long>(sysconf(_SC_PAGESIZE)) / 1024);
}

// Bytes allocated with malloc and not freed, in KiB.
long heap_in_use_kb()
{
    const struct mallinfo2 heap = mallinfo2();
    return static_cast<long>((heap.uordblks + heap.hblkhd) / 1024);
}

}   // namespace

void read_log_settings()
{
    log_file = open_text_file(log_variable);
}

void log_swap(unsigned swaps)
{
    if (!log_file)
        return;
    write_line(log_file, log_swap_format, swaps, static_cast<long long>(time_at(swaps - 1)), clock_at(swaps),
               resident_kb(), heap_in_use_kb());
}

void log_exit(unsigned swaps)
{
    if (!log_file)
        return;
    write_line(log_file, log_exit_format, swaps);
}

}   // namespace vclock
