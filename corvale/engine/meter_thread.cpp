#include "corvale/engine/meter_thread.h"

#include <pthread.h>

#include <csignal>
#include <cstring>
#include <system_error>

#include "corvale/run/limits.h"

MeterThread::MeterThread(double sampleRate, int channels, int bits, bool truePeak)
    : meter_(sampleRate, channels, bits, truePeak)
{
    if (!meter_.ok()) return;   // nothing to measure: Submit and Finish do nothing
    for (auto& b : buffers_) b.resize(static_cast<size_t>(kBlockFrames * meter_.bytesPerFrame()));
    // Stop signals and the file-size signal stay with the mix's thread, which
    // acts on them between blocks: the meter's thread starts with all blocked.
    sigset_t all, old;
    sigfillset(&all);
    const bool masked = pthread_sigmask(SIG_BLOCK, &all, &old) == 0;
    try {
        thread_ = std::thread([this] { Work(); });
    } catch (const std::system_error&) {
        // No second thread: Submit measures in place.
    }
    if (masked) pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

MeterThread::~MeterThread()
{
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> hold(lock_);
        closing_ = true;
        dropping_ = true;
    }
    ready_.notify_one();
    thread_.join();
}

void MeterThread::Submit(const unsigned char* packed, int64_t frames)
{
    if (!meter_.ok() || frames <= 0) return;
    if (frames > kBlockFrames) frames = kBlockFrames;
    if (!thread_.joinable()) {
        meter_.Feed(packed, frames);
        return;
    }
    int slot;
    {
        std::unique_lock<std::mutex> hold(lock_);
        freed_.wait(hold, [this] { return queued_ < kBuffers; });
        slot = head_;
    }
    // The buffer is the mix's until it is queued: the meter does not touch it.
    std::memcpy(buffers_[static_cast<size_t>(slot)].data(), packed,
                static_cast<size_t>(frames * meter_.bytesPerFrame()));
    {
        std::lock_guard<std::mutex> hold(lock_);
        frames_[static_cast<size_t>(slot)] = frames;
        head_ = (head_ + 1) % kBuffers;
        ++queued_;
    }
    ready_.notify_one();
}

void MeterThread::Work()
{
    for (;;) {
        int slot;
        {
            std::unique_lock<std::mutex> hold(lock_);
            ready_.wait(hold, [this] { return queued_ > 0 || closing_; });
            if (dropping_ || queued_ == 0) return;
            slot = (head_ - queued_ + kBuffers) % kBuffers;   // the oldest queued buffer
        }
        meter_.Feed(buffers_[static_cast<size_t>(slot)].data(), frames_[static_cast<size_t>(slot)]);
        {
            std::lock_guard<std::mutex> hold(lock_);
            --queued_;
        }
        freed_.notify_one();
    }
}

LoudnessFigures MeterThread::Finish()
{
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            closing_ = true;   // the thread empties the queue, then ends
        }
        ready_.notify_one();
        thread_.join();
    }
    return meter_.Finish();
}
