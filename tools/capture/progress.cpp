// capture's progress: frames done, frames per second and time left of a run, on stderr.
#include <cmath>
#include <cstdio>

#include "capture.h"

namespace {

std::string clock_text(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        return "--:--";
    const long total = lround(seconds);
    char text[32];
    if (total >= 3600)
        snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        snprintf(text, sizeof text, "%02ld:%02ld", total / 60, total % 60);
    return text;
}

}   // namespace

// Redrawn in place on a terminal, every tenth of the frames otherwise.
void Progress::update(unsigned done)
{
    if (quiet)
        return;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double fps = elapsed > 0 ? done / elapsed : 0;
    const double left = fps > 0 ? (total - done) / fps : NAN;
    const int width = 30;
    const int filled = static_cast<int>(static_cast<double>(width) * done / total);
    const unsigned tenth = 10 * done / total;
    if (terminal) {
        fprintf(stderr, "\r%s [%s%s] %u/%u frames  %.2f fps  %s left ", label, std::string(filled, '#').c_str(),
                std::string(width - filled, '.').c_str(), done, total, fps, clock_text(left).c_str());
        if (done == total)
            fputc('\n', stderr);
    } else if (tenth > last_tenth || done == total) {
        fprintf(stderr, "%s: %u/%u frames  %.2f fps  %s left\n", label, done, total, fps, clock_text(left).c_str());
    }
    last_tenth = tenth;
}
