// The loudness meter against signals with known answers: sines of the EBU
// loudness test cases, level steps with a known loudness range, a sine whose
// samples miss its crest, silence, mono and 16-bit words.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "corvale/audio/loudness.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Packed little-endian words of a sine at `dBFS` peak level (0 dBFS is the
// word's full scale), appended to out for every channel alike.
void AppendSine(std::vector<unsigned char>& out, double dBFS, double hz, double rate, int64_t frames, int channels,
                int bits, double phase = 0.0)
{
    const double full = bits == 16 ? 32768.0 : 8388608.0;
    const double top = full - 1.0;
    const double amp = full * std::pow(10.0, dBFS / 20.0);
    for (int64_t i = 0; i < frames; ++i) {
        double v = std::round(amp * std::sin(2.0 * kPi * hz * static_cast<double>(i) / rate + phase));
        if (v > top) v = top;
        const auto w = static_cast<uint32_t>(static_cast<int32_t>(v));
        for (int c = 0; c < channels; ++c)
            for (int b = 0; b < bits / 8; ++b) out.push_back(static_cast<unsigned char>((w >> (8 * b)) & 0xFF));
    }
}

LoudnessFigures Measure(const std::vector<unsigned char>& packed, double rate, int channels, int bits,
                        bool truePeak = false)
{
    LoudnessMeter meter(rate, channels, bits, truePeak);
    EXPECT_TRUE(meter.ok());
    meter.Feed(packed.data(), static_cast<int64_t>(packed.size()) / meter.bytesPerFrame());
    return meter.Finish();
}

}  // namespace

TEST(Loudness, StereoSineAtMinus23dBFSReadsMinus23LUFS)
{
    std::vector<unsigned char> p;
    AppendSine(p, -23.0, 1000.0, 48000.0, 48000 * 20, 2, 24);
    const LoudnessFigures f = Measure(p, 48000.0, 2, 24);
    ASSERT_TRUE(f.measured);
    EXPECT_NEAR(f.integrated, -23.0, 0.1);
    EXPECT_NEAR(f.maxMomentary, -23.0, 0.1);
    EXPECT_NEAR(f.maxShortTerm, -23.0, 0.1);
    EXPECT_NEAR(f.range, 0.0, 0.1);
    EXPECT_NEAR(f.samplePeak, -23.0, 0.01);
    EXPECT_FALSE(f.truePeakMeasured);
}

TEST(Loudness, StereoSineAtMinus33dBFSReadsMinus33LUFS)
{
    std::vector<unsigned char> p;
    AppendSine(p, -33.0, 1000.0, 48000.0, 48000 * 20, 2, 24);
    EXPECT_NEAR(Measure(p, 48000.0, 2, 24).integrated, -33.0, 0.1);
}

TEST(Loudness, SixteenBitWordsAreMeasuredAgainstTheirOwnFullScale)
{
    std::vector<unsigned char> p;
    AppendSine(p, -23.0, 1000.0, 44100.0, 44100 * 10, 2, 16);
    const LoudnessFigures f = Measure(p, 44100.0, 2, 16);
    EXPECT_NEAR(f.integrated, -23.0, 0.1);
    EXPECT_NEAR(f.samplePeak, -23.0, 0.01);
}

TEST(Loudness, MonoIsOneChannelWithoutDualMonoWeighting)
{
    std::vector<unsigned char> p;
    AppendSine(p, -23.0, 1000.0, 48000.0, 48000 * 10, 1, 24);
    // Half the power of the same sine on two channels.
    EXPECT_NEAR(Measure(p, 48000.0, 1, 24).integrated, -26.01, 0.1);
}

TEST(Loudness, LevelStepsGiveTheirLoudnessRange)
{
    // Stereo 1 kHz: 20 s at the first level, then 20 s at the second.
    const struct {
        double first, second, range;
    } cases[] = {{-20.0, -30.0, 10.0}, {-20.0, -15.0, 5.0}, {-40.0, -20.0, 20.0}};
    for (const auto& c : cases) {
        std::vector<unsigned char> p;
        AppendSine(p, c.first, 1000.0, 48000.0, 48000 * 20, 2, 24);
        AppendSine(p, c.second, 1000.0, 48000.0, 48000 * 20, 2, 24);
        const LoudnessFigures f = Measure(p, 48000.0, 2, 24);
        EXPECT_NEAR(f.range, c.range, 0.1) << c.first << " then " << c.second;
        EXPECT_NEAR(f.maxShortTerm, std::max(c.first, c.second), 0.1);
    }
    // Five steps of 10 s: -50, -35, -20, -35, -50 dBFS.
    std::vector<unsigned char> p;
    for (double level : {-50.0, -35.0, -20.0, -35.0, -50.0}) AppendSine(p, level, 1000.0, 48000.0, 48000 * 20, 2, 24);
    EXPECT_NEAR(Measure(p, 48000.0, 2, 24).range, 15.0, 0.1);
}

TEST(Loudness, MaximaComeFromFourHundredMillisecondAndThreeSecondWindows)
{
    // 5 s at -40, 1 s at -10, 5 s at -40 dBFS (stereo 1 kHz reads its dBFS in LUFS).
    std::vector<unsigned char> p;
    AppendSine(p, -40.0, 1000.0, 48000.0, 48000 * 5, 2, 24);
    AppendSine(p, -10.0, 1000.0, 48000.0, 48000 * 1, 2, 24);
    AppendSine(p, -40.0, 1000.0, 48000.0, 48000 * 5, 2, 24);
    const LoudnessFigures f = Measure(p, 48000.0, 2, 24);
    EXPECT_NEAR(f.maxMomentary, -10.0, 0.1);
    // The loudest 3 s hold the burst and 2 s of the background.
    const double shortTerm = 10.0 * std::log10((std::pow(10.0, -1.0) + 2.0 * std::pow(10.0, -4.0)) / 3.0);
    EXPECT_NEAR(f.maxShortTerm, shortTerm, 0.1);
}

TEST(Loudness, TruePeakFindsTheCrestBetweenSamples)
{
    // A quarter of the rate at 45 degrees: every sample lands at +-0.707 of the crest.
    std::vector<unsigned char> p;
    AppendSine(p, 0.0, 12000.0, 48000.0, 48000 * 2, 2, 24, kPi / 4.0);
    const LoudnessFigures f = Measure(p, 48000.0, 2, 24, true);
    EXPECT_NEAR(f.samplePeak, -3.01, 0.02);
    ASSERT_TRUE(f.truePeakMeasured);
    EXPECT_NEAR(f.truePeak, 0.0, 0.2);
    EXPECT_GT(f.truePeak, f.samplePeak + 2.5);
}

TEST(Loudness, SilenceHasNoLoudness)
{
    std::vector<unsigned char> p(static_cast<size_t>(48000 * 5 * 6), 0);
    const LoudnessFigures f = Measure(p, 48000.0, 2, 24, true);
    ASSERT_TRUE(f.measured);
    EXPECT_EQ(f.integrated, LoudnessFigures::kNone);
    EXPECT_EQ(f.range, 0.0);
    EXPECT_EQ(f.maxMomentary, LoudnessFigures::kNone);
    EXPECT_EQ(f.samplePeak, LoudnessFigures::kNone);
    EXPECT_EQ(f.truePeak, LoudnessFigures::kNone);
}

TEST(Loudness, WindowsLongerThanTheRenderGiveNoValue)
{
    std::vector<unsigned char> p;
    AppendSine(p, -23.0, 1000.0, 48000.0, 48000 * 2, 2, 24);   // 2 s: momentary yes, short-term no
    const LoudnessFigures f = Measure(p, 48000.0, 2, 24);
    EXPECT_NEAR(f.maxMomentary, -23.0, 0.1);
    EXPECT_EQ(f.maxShortTerm, LoudnessFigures::kNone);
    LoudnessMeter empty(48000.0, 2, 24, false);
    const LoudnessFigures none = empty.Finish();
    EXPECT_TRUE(none.measured);
    EXPECT_EQ(none.integrated, LoudnessFigures::kNone);
    EXPECT_EQ(none.maxMomentary, LoudnessFigures::kNone);
}

TEST(Loudness, SplitFeedsGiveTheSameFiguresAsOneFeed)
{
    std::vector<unsigned char> p;
    AppendSine(p, -30.0, 440.0, 44100.0, 44100 * 4, 2, 24);
    AppendSine(p, -12.0, 440.0, 44100.0, 44100 * 4, 2, 24);
    const LoudnessFigures whole = Measure(p, 44100.0, 2, 24, true);
    LoudnessMeter meter(44100.0, 2, 24, true);
    const int64_t frames = static_cast<int64_t>(p.size()) / 6;
    int64_t at = 0;
    for (int64_t piece : {int64_t{1}, int64_t{4409}, int64_t{131072}, frames}) {
        const int64_t n = std::min(piece, frames - at);
        meter.Feed(p.data() + at * 6, n);
        at += n;
    }
    const LoudnessFigures split = meter.Finish();
    EXPECT_EQ(split.integrated, whole.integrated);
    EXPECT_EQ(split.range, whole.range);
    EXPECT_EQ(split.maxMomentary, whole.maxMomentary);
    EXPECT_EQ(split.maxShortTerm, whole.maxShortTerm);
    EXPECT_EQ(split.truePeak, whole.truePeak);
}

TEST(Loudness, ARateTheLibraryRefusesLeavesTheFiguresUnmeasured)
{
    LoudnessMeter meter(8.0, 2, 24, false);
    EXPECT_FALSE(meter.ok());
    const unsigned char frame[6] = {1, 2, 3, 4, 5, 6};
    meter.Feed(frame, 1);
    EXPECT_FALSE(meter.Finish().measured);
}
