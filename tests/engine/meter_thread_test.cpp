// The meter's thread gives the figures of the meter fed directly, and ends
// cleanly when the mix stops part-way.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "corvale/engine/meter_thread.h"
#include "corvale/run/limits.h"

namespace {

// Packed 24-bit stereo words of a tone whose level rises in steps.
std::vector<unsigned char> Steps(int64_t frames)
{
    std::vector<unsigned char> p;
    for (int64_t i = 0; i < frames; ++i) {
        const double level = std::pow(10.0, (-40.0 + 5.0 * static_cast<double>(i / 96000)) / 20.0);
        const auto w = static_cast<uint32_t>(static_cast<int32_t>(
            std::lround(8388608.0 * level * std::sin(2.0 * 3.14159265358979 * 997.0 * static_cast<double>(i) / 48000.0))));
        for (int side = 0; side < 2; ++side)
            for (int b = 0; b < 3; ++b) p.push_back(static_cast<unsigned char>((w >> (8 * b)) & 0xFF));
    }
    return p;
}

}  // namespace

TEST(MeterThread, GivesTheFiguresOfTheMeterFedDirectly)
{
    const int64_t frames = 5 * kBlockFrames + 1234;   // more blocks than buffers, the last one short
    const std::vector<unsigned char> p = Steps(frames);
    LoudnessMeter direct(48000.0, 2, 24, true);
    direct.Feed(p.data(), frames);
    const LoudnessFigures want = direct.Finish();

    MeterThread thread(48000.0, 2, 24, true);
    for (int64_t at = 0; at < frames; at += kBlockFrames)
        thread.Submit(p.data() + at * 6, std::min(kBlockFrames, frames - at));
    const LoudnessFigures got = thread.Finish();
    ASSERT_TRUE(got.measured);
    EXPECT_EQ(got.integrated, want.integrated);
    EXPECT_EQ(got.range, want.range);
    EXPECT_GT(got.range, 5.0);
    EXPECT_EQ(got.maxMomentary, want.maxMomentary);
    EXPECT_EQ(got.maxShortTerm, want.maxShortTerm);
    EXPECT_EQ(got.samplePeak, want.samplePeak);
    EXPECT_EQ(got.truePeak, want.truePeak);
}

TEST(MeterThread, EndsWithoutFinishWhenTheMixStops)
{
    const std::vector<unsigned char> p = Steps(kBlockFrames);
    {
        MeterThread thread(48000.0, 2, 24, true);
        for (int i = 0; i < 6; ++i) thread.Submit(p.data(), kBlockFrames);
    }   // the destructor drops what is queued and joins
    MeterThread none(8.0, 2, 24, false);   // a rate the library refuses: nothing runs
    none.Submit(p.data(), kBlockFrames);
    EXPECT_FALSE(none.Finish().measured);
}
