#include "corvale/audio/loudness.h"

#include <ebur128.h>

#include <cmath>
#include <cstring>

namespace {

// A little-endian word of `Bytes` bytes moved to the top of a 32-bit int: the
// library reads ints against a full scale of 2^31, the word's own full scale.
// The sample peak is kept here, in the same pass, rather than by the library.
template <int Bytes>
void WordsToInt(const unsigned char* p, int64_t samples, int* out, int64_t& peak)
{
    int64_t hi = 0, lo = 0;
    for (int64_t i = 0; i < samples; ++i, p += Bytes) {
        uint32_t u = 0;
        for (int b = 0; b < Bytes; ++b) u |= uint32_t{p[b]} << (8 * (4 - Bytes + b));
        int32_t s;
        std::memcpy(&s, &u, sizeof s);
        out[i] = s;
        hi = s > hi ? s : hi;
        lo = s < lo ? s : lo;
    }
    if (hi > peak) peak = hi;
    if (-lo > peak) peak = -lo;
}

// dB of a linear level; 0 (and anything not above it) is -inf.
double LevelTodB(double level) { return level > 0.0 ? 20.0 * std::log10(level) : LoudnessFigures::kNone; }

// The library's loudness of a mean square is -0.691 + 10 log10(power).
double LoudnessToPower(double lufs) { return std::isfinite(lufs) ? std::pow(10.0, (lufs + 0.691) / 10.0) : 0.0; }
double PowerToLoudness(double power) { return power > 0.0 ? 10.0 * std::log10(power) - 0.691 : LoudnessFigures::kNone; }

// A figure the library could not give (NaN from a hostile rate) counts as none.
double Finite(double v) { return std::isnan(v) ? LoudnessFigures::kNone : v; }

}  // namespace

LoudnessMeter::LoudnessMeter(double sampleRate, int channels, int bits, bool truePeak)
    : channels_(channels == 1 ? 1 : 2), bytes_(bits == 16 ? 2 : 3), truePeak_(truePeak)
{
    if (!(sampleRate >= 1.0 && sampleRate < 4294967296.0)) return;
    const unsigned long rate = static_cast<unsigned long>(sampleRate);
    int mode = EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_HISTOGRAM;
    if (truePeak_) mode |= EBUR128_MODE_TRUE_PEAK;
    state_ = ebur128_init(static_cast<unsigned>(channels_), rate, mode);
    if (state_ == nullptr) return;
    if (channels_ == 1) ebur128_set_channel(state_, 0, EBUR128_LEFT);   // no dual-mono weighting
    step_ = static_cast<int64_t>(rate * kStepMs / 1000);   // the library's own 100 ms window
    if (step_ < 1) step_ = 1;
    words_.resize(static_cast<size_t>(step_ * channels_));
}

LoudnessMeter::~LoudnessMeter()
{
    if (state_ != nullptr) ebur128_destroy(&state_);
}

void LoudnessMeter::Feed(const unsigned char* packed, int64_t frames)
{
    if (state_ == nullptr) return;
    const int64_t frameBytes = bytesPerFrame();
    while (frames > 0) {
        const int64_t take = frames < step_ - inStep_ ? frames : step_ - inStep_;
        if (bytes_ == 2)
            WordsToInt<2>(packed, take * channels_, words_.data(), peak_);
        else
            WordsToInt<3>(packed, take * channels_, words_.data(), peak_);
        ebur128_add_frames_int(state_, words_.data(), static_cast<size_t>(take));
        packed += take * frameBytes;
        frames -= take;
        inStep_ += take;
        fed_ += take;
        if (inStep_ == step_) {
            EndOfStep();
            inStep_ = 0;
        }
    }
}

void LoudnessMeter::EndOfStep()
{
    // The library's mean square of the step just ended; a momentary window is
    // the mean of the last 4 steps, a short-term one of the last 30. Asking
    // the library for a 3 s window every step would sum 3 s of samples each time.
    double v;
    if (ebur128_loudness_window(state_, kStepMs, &v) != EBUR128_SUCCESS) return;
    stepPower_[static_cast<size_t>(steps_ % kShortTermSteps)] = LoudnessToPower(v);
    ++steps_;
    // Only windows that lie wholly inside the render count.
    if (steps_ >= kMomentarySteps) {
        const double m = WindowLoudness(kMomentarySteps);
        if (m > maxMomentary_) maxMomentary_ = m;
    }
    if (steps_ >= kShortTermSteps) {
        const double s = WindowLoudness(kShortTermSteps);
        if (s > maxShortTerm_) maxShortTerm_ = s;
    }
}

double LoudnessMeter::WindowLoudness(int steps) const
{
    double sum = 0.0;
    for (int64_t k = steps_ - steps; k < steps_; ++k) sum += stepPower_[static_cast<size_t>(k % kShortTermSteps)];
    return PowerToLoudness(sum / steps);
}

LoudnessFigures LoudnessMeter::Finish()
{
    LoudnessFigures f;
    if (state_ == nullptr) return f;
    if (inStep_ > 0) {
        // The windows that end with the render, after a step cut short.
        double v;
        if (fed_ >= 4 * step_ && ebur128_loudness_momentary(state_, &v) == EBUR128_SUCCESS && Finite(v) > maxMomentary_)
            maxMomentary_ = v;
        if (fed_ >= 30 * step_ && ebur128_loudness_shortterm(state_, &v) == EBUR128_SUCCESS && Finite(v) > maxShortTerm_)
            maxShortTerm_ = v;
        inStep_ = 0;
    }
    f.measured = true;
    double v;
    if (ebur128_loudness_global(state_, &v) == EBUR128_SUCCESS) f.integrated = Finite(v);
    if (ebur128_loudness_range(state_, &v) == EBUR128_SUCCESS && std::isfinite(v)) f.range = v;
    f.maxMomentary = maxMomentary_;
    f.maxShortTerm = maxShortTerm_;
    f.samplePeak = LevelTodB(static_cast<double>(peak_) / 2147483648.0);
    if (truePeak_) {
        double peak = 0.0;
        for (int c = 0; c < channels_; ++c)
            if (ebur128_true_peak(state_, static_cast<unsigned>(c), &v) == EBUR128_SUCCESS && v > peak) peak = v;
        f.truePeakMeasured = true;
        f.truePeak = LevelTodB(peak);
    }
    return f;
}
