// The loudness meter on a thread of its own beside the mix. The mix hands it
// every block's packed output words through a small ring of buffers taken once
// before the first block; the meter works through them while the mix renders
// the next blocks. The mix waits only when every buffer is still queued (a
// meter slower than the mix, as with true peak on) and at the end.
#pragma once
#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "corvale/audio/loudness.h"
#include "corvale/audio/wav_out.h"

class MeterThread {
public:
    // A meter for the format (see LoudnessMeter) and its thread. Without a
    // thread (the system refused one) the words are measured in Submit itself.
    MeterThread(double sampleRate, int channels, int bits, bool truePeak);
    // Ends the thread; blocks still queued are dropped.
    ~MeterThread();
    MeterThread(const MeterThread&) = delete;
    MeterThread& operator=(const MeterThread&) = delete;

    // Queues a copy of `frames` frames (at most one mix block) of packed words.
    void Submit(const unsigned char* packed, int64_t frames);

    // Waits until every queued block is measured and returns the figures.
    LoudnessFigures Finish();

private:
    static constexpr int kBuffers = 3;
    void Work();   // the thread: measures queued blocks in order

    LoudnessMeter meter_;
    std::array<BlockVec<unsigned char>, kBuffers> buffers_;
    std::array<int64_t, kBuffers> frames_{};
    int head_ = 0, queued_ = 0;   // next buffer to fill, buffers waiting to be measured
    bool closing_ = false, dropping_ = false;
    std::mutex lock_;
    std::condition_variable ready_, freed_;
    std::thread thread_;
};
