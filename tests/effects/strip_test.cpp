#include <gtest/gtest.h>

#include <memory>

#include "corvale/effects/strip.h"

namespace {

struct Strip {
    std::unique_ptr<EffectSettings> fx = std::make_unique<EffectSettings>();
    std::unique_ptr<DspState> dsp = std::make_unique<DspState>();

    // High-pass as a plain difference (c1 0, c2 1) and band 2 as a gain of 2.
    void DifferenceAndDouble(int slot)
    {
        fx->hpFlag[slot] = 1;
        fx->hpC1[slot] = 0.0;
        fx->hpC2[slot] = 1.0;
        fx->eqFlag[2][slot] = 1;
        fx->eq[2][slot] = Biquad{2.0, 0.0, 0.0, 0.0, 0.0};
    }
    void HalvingCompressor(CompressorSettings& c, int slot)
    {
        c.flag[slot] = 1;
        c.threshold[slot] = 1000;
        c.attack[slot] = 1;
        c.release[slot] = 100;
        c.ratio[slot] = 2.0;
    }
    void Run(int slot, bool master, double (&l)[4])
    {
        double r[4] = {l[0], l[1], l[2], l[3]};
        EffectsStrip(*fx, *dsp, slot, master, 0, 4, l, r);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(r[i], l[i]);
    }
};

void ExpectSamples(const double (&got)[4], double a, double b, double c, double d)
{
    EXPECT_EQ(got[0], a);
    EXPECT_EQ(got[1], b);
    EXPECT_EQ(got[2], c);
    EXPECT_EQ(got[3], d);
}

}  // namespace

TEST(EffectsStrip, EachEffectRunsAtItsOwnOrderNumberInTheFixedSequence)
{
    // All at 11: the high-pass runs before band 2.
    Strip a;
    a.DifferenceAndDouble(3);
    double x[4] = {10, 20, 40, 80};
    a.Run(3, false, x);
    ExpectSamples(x, 10, 10, 2 * (40 - 20), 2 * (80 - 40));

    // Band 2 moved to position 1 runs first.
    Strip b;
    b.DifferenceAndDouble(3);
    b.fx->order[kBand2][3] = 1;
    double y[4] = {10, 20, 40, 80};
    b.Run(3, false, y);
    ExpectSamples(y, 10, 10, 2 * 40 - 20, 2 * 80 - 2 * 40);
}

TEST(EffectsStrip, AnOrderNumberMovesTheRmsCompressorFirst)
{
    Strip a;
    a.DifferenceAndDouble(5);
    a.fx->eqFlag[2][5] = 0;
    a.HalvingCompressor(a.fx->rms, 5);
    a.fx->order[kRms][5] = 1;
    double x[4] = {4000, 4000, -4000, -4000};
    a.Run(5, false, x);
    ExpectSamples(x, 2000, 0, -4000, 0);
    EXPECT_EQ(a.fx->rms.flag[5], 3);

    // Default order: the difference first, then the compressor floors its zeros.
    Strip b;
    b.DifferenceAndDouble(5);
    b.fx->eqFlag[2][5] = 0;
    b.HalvingCompressor(b.fx->rms, 5);
    double y[4] = {4000, 4000, -4000, -4000};
    b.Run(5, false, y);
    ExpectSamples(y, 2000, 0.0001 / 2, -4000, 0.0001 / 2);
}

TEST(EffectsStrip, OrderNumbersOutsideOneToElevenAndUnknownSlotsNeverRun)
{
    Strip s;
    s.fx->limFlag[7] = 1;
    s.fx->order[kLim][7] = 12;
    s.HalvingCompressor(s.fx->comp, 7);
    s.fx->order[kComp][7] = 0;
    double x[4] = {9e6, 0.0, -9e6, 5000};
    s.Run(7, false, x);
    ExpectSamples(x, 9e6, 0.0, -9e6, 5000);
    EXPECT_EQ(s.fx->comp.flag[7], 1);

    s.fx->limFlag[136] = 1;
    s.Run(136, false, x);
    ExpectSamples(x, 9e6, 0.0, -9e6, 5000);
}

TEST(EffectsStrip, MasterFollowsTheMasterRowFlagsAndHasNoLimiter)
{
    Strip s;
    s.fx->hpFlag[0] = 1;          // slot 0 set without a master row: not the master's
    s.fx->limFlag[0] = 1;
    s.fx->masterRow[kLim] = 1;    // the master limiter runs later, outside the strip
    s.HalvingCompressor(s.fx->comp, 0);
    s.fx->masterRow[kComp] = 1;
    double x[4] = {4000, 4e9, -4e9, 3};
    s.Run(0, true, x);
    ExpectSamples(x, 2000, 2e9, -2e9, 1.5);
    EXPECT_EQ(s.fx->comp.flag[0], 3);
}
