// Loudness of the output words of a mix: integrated loudness, loudness range,
// the largest momentary and short-term loudness, sample peak and (on request)
// true peak, measured by libebur128 in histogram mode, so that its memory does
// not grow with the length of the render. The meter remembers the library's
// filter and gating state, the frames of the current 100 ms step and the
// largest momentary and short-term values so far.
#pragma once
#include <ebur128.h>

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

// What a finished measurement gives. -inf stands for "below every gate" or
// "nothing measured" (a render shorter than the window, a silent render).
struct LoudnessFigures {
    static constexpr double kNone = -std::numeric_limits<double>::infinity();
    bool measured = false;        // a meter ran over the whole render
    double integrated = kNone;    // LUFS
    double range = 0.0;           // LU
    double maxMomentary = kNone;  // LUFS, 400 ms windows every 100 ms
    double maxShortTerm = kNone;  // LUFS, 3 s windows every 100 ms
    double samplePeak = kNone;    // dBFS
    bool truePeakMeasured = false;
    double truePeak = kNone;      // dBTP (4x oversampled)
};

// One measurement over the words of one render, fed in order.
class LoudnessMeter {
public:
    // channels 1 (mono, measured as one channel) or 2; bits 16 or 24, the width
    // of the packed words Feed receives. ok() is false when the library refuses
    // the format (a sample rate below 16 Hz, for one); Feed and Finish then do
    // nothing and the figures stay unmeasured.
    LoudnessMeter(double sampleRate, int channels, int bits, bool truePeak);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    bool ok() const { return state_ != nullptr; }
    int bytesPerFrame() const { return channels_ * bytes_; }

    // Measures `frames` frames of little-endian packed words as written to the
    // file's data chunk (interleaved left, right for stereo).
    void Feed(const unsigned char* packed, int64_t frames);

    // The figures of everything fed so far.
    LoudnessFigures Finish();

private:
    static constexpr unsigned long kStepMs = 100;
    static constexpr int kMomentarySteps = 4, kShortTermSteps = 30;   // 400 ms and 3 s

    void EndOfStep();  // the momentary and short-term windows ending here
    double WindowLoudness(int steps) const;   // of the last `steps` whole steps

    ebur128_state* state_ = nullptr;
    int channels_ = 2, bytes_ = 3;
    bool truePeak_ = false;
    int64_t step_ = 4800;              // frames of 100 ms, as the library counts them
    int64_t inStep_ = 0;               // frames fed in the current step
    int64_t fed_ = 0;                  // frames fed in all
    int64_t peak_ = 0;                 // largest absolute word so far, 32-bit scale
    std::vector<int> words_;           // one step of words at 32-bit scale, interleaved
    std::array<double, kShortTermSteps> stepPower_{};   // mean squares of the last steps
    int64_t steps_ = 0;                                  // whole steps so far
    double maxMomentary_ = LoudnessFigures::kNone, maxShortTerm_ = LoudnessFigures::kNone;
};
