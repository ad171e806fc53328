// capture's frames: vclock's PPM frame stream read from its pipe, and frames written on to the encoder's pipe.
#include <fcntl.h>
#include <pthread.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "capture.h"
#include "exact_io.h"
#include "vclock_protocol.h"

namespace {

std::string read_line(int fd)
{
    std::string line;
    char c;
    while (read_exactly(fd, &c, 1) && c != '\n')
        line += c;
    return line;
}

}   // namespace

// One frame of vclock's stream: "P6", "# vclock frame J t MS", "W H", "255", then the pixels.
bool read_frame(int fd, Frame& frame)
{
    const std::string magic = read_line(fd);
    if (magic.empty())
        return false;
    const std::string comment = read_line(fd);
    const std::string size = read_line(fd);
    const std::string depth = read_line(fd);
    if (magic != "P6" || !vclock::parse_frame_comment(comment.c_str(), frame.index, frame.ms) ||
        sscanf(size.c_str(), "%d %d", &frame.width, &frame.height) != 2 || depth != "255" || frame.width <= 0 ||
        frame.height <= 0)
        fail(1, "unexpected frame header from vclock: '%s' '%s' '%s' '%s'", magic.c_str(), comment.c_str(),
             size.c_str(), depth.c_str());
    frame.rgb.resize(static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height) * 3);
    return read_exactly(fd, frame.rgb.data(), frame.rgb.size());
}

EncoderFeed::EncoderFeed(int fd, size_t capacity) : fd_(fd), capacity_(capacity)
{
    // A larger pipe (1 MiB, the most an unprivileged process may ask for) saves the writer a wake-up per 64 KiB.
    fcntl(fd, F_SETPIPE_SZ, 1 << 20);
    // SIGINT and SIGTERM stay with the reading thread, which looks at the flag between frames.
    sigset_t signals, kept;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, &kept);
    thread_ = std::thread(&EncoderFeed::write_queued, this);
    pthread_sigmask(SIG_SETMASK, &kept, nullptr);
}

EncoderFeed::~EncoderFeed()
{
    finish();
}

bool EncoderFeed::push(std::vector<unsigned char>& pixels)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!wait_until(lock, [this] { return failed_ || queued_.size() < capacity_; }) || failed_)
        return false;
    std::vector<unsigned char> spare;
    if (!spare_.empty()) {
        spare.swap(spare_.back());
        spare_.pop_back();
    }
    spare.resize(pixels.size());
    pixels.swap(spare);   // the frame is now in spare, and pixels holds the spare buffer
    queued_.push_back(std::move(spare));
    changed_.notify_all();
    return true;
}

bool EncoderFeed::finish()
{
    std::unique_lock<std::mutex> lock(mutex_);
    closed_ = true;
    changed_.notify_all();
    if (!wait_until(lock, [this] { return done_; })) {
        if (thread_.joinable())
            thread_.detach();   // it may be stuck in a write to an encoder that takes nothing
        return false;
    }
    lock.unlock();
    if (thread_.joinable())
        thread_.join();
    return !failed_;
}

bool EncoderFeed::wait_until(std::unique_lock<std::mutex>& lock, const std::function<bool()>& ready)
{
    // A condition wait goes on through a signal, so the interrupt flag is looked at every few milliseconds.
    while (!changed_.wait_for(lock, std::chrono::milliseconds(20), ready))
        if (interrupted())
            return false;
    return true;
}

void EncoderFeed::write_queued()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return closed_ || !queued_.empty(); });
        if (queued_.empty()) {
            done_ = true;
            changed_.notify_all();
            return;
        }
        std::vector<unsigned char> pixels = std::move(queued_.front());
        queued_.pop_front();
        lock.unlock();
        const bool written = write_exactly(fd_, pixels.data(), pixels.size());
        lock.lock();
        spare_.push_back(std::move(pixels));
        if (!written) {
            failed_ = true;
            queued_.clear();
        }
        done_ = !written;
        changed_.notify_all();
        if (!written)
            return;
    }
}
