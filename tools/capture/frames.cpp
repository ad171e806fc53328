// capture's frames written on to the encoder's pipe by a thread of their own.
#include <fcntl.h>
#include <pthread.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "capture.h"
#include "exact_io.h"

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
