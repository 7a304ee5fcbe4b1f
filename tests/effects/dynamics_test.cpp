#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "corvale/effects/dynamics.h"

namespace {

using Vec = std::vector<double>;
const double kHalfPi = 6.283185307179586 / 2 / 2;

// Square wave with half-cycles of two samples (+ + - -), loud before loudUntil.
Vec Square(int n, double loud, int loudUntil, double quiet)
{
    Vec v(n);
    for (int i = 0; i < n; ++i) v[i] = (i % 4 < 2 ? 1 : -1) * (i < loudUntil ? loud : quiet);
    return v;
}

// Loud and quiet stretches of a sine with short half-cycles.
Vec Bursts(int n, double phase)
{
    Vec v(n);
    for (int i = 0; i < n; ++i) v[i] = ((i / 150) % 2 ? 200.0 : 3000.0) * std::sin(0.55 * i + phase);
    return v;
}

double Attack(double a, double ratio, int k, int len) { return a - (a - a / ratio) * std::sin(k * kHalfPi / len); }
double Release(double a, double ratio, int k, int len) { return (a - a / ratio) * std::sin(k * kHalfPi / len) + a / ratio; }

bool Same(const Vec& a, const Vec& b) { return !std::memcmp(a.data(), b.data(), a.size() * 8); }

// One slot's RMS compressor (threshold 1000, ratio 2) with fresh state.
struct Rms {
    std::unique_ptr<RmsCompHistory> h = std::make_unique<RmsCompHistory>();
    int state = 1, init = 0;
    void Run(Vec& l, Vec& r, int64_t attack, int64_t release, int block = 1 << 20)
    {
        for (size_t p = 0; p < l.size(); p += block)
            RMSCOMPRESSOR(*h, 9, &state, std::min<int64_t>(block, l.size() - p), l.data() + p,
                          r.data() + p, attack, release, 2.0, 1000, &init);
    }
};

}  // namespace

TEST(Limiter, SoftensAboveTheKneeAndFloorsEverySample)
{
    double l[] = {8388608.0, 1000.0, 0.0, -0.00001}, r[] = {-8388608.0, -7476346.0, -0.0, 5e6};
    LIMITER(3, 4, l, r, 8388608);
    const double knee = 8388608.0 * 0.89125;
    EXPECT_EQ(l[0], knee + (8388608.0 - knee) * 0.125);
    EXPECT_NEAR(l[0], 7590379.52, 1e-6);
    EXPECT_EQ(r[0], -l[0]);
    EXPECT_TRUE(l[1] == 1000.0 && r[1] == -7476346.0);
    EXPECT_TRUE(l[2] == 0.0001 && r[2] == 0.0001 && l[3] == -0.0001);
}

TEST(RmsCompressor, LeavesASignalBelowTheThresholdUntouched)
{
    Vec l(600), r(600);
    for (int i = 0; i < 600; ++i) l[i] = r[i] = 990.0 * std::sin(0.3 * i);
    l[7] = r[9] = 0.0;
    l[8] = 0.00002;
    const auto l0 = l, r0 = r;
    Rms c;
    c.Run(l, r, 10, 100);
    EXPECT_TRUE(c.state == 1 && c.init == 1 && Same(l, l0) && Same(r, r0));
}

TEST(RmsCompressor, AttackOfOneReachesTheRatioOnTheFirstSampleAndZerosComeOutFloored)
{
    Vec l = {1500, 100, 100}, r = {10, 10, 10};   // the first sample closes a window by itself
    Rms c;
    c.Run(l, r, 1, 100);
    EXPECT_TRUE(l[0] == 750.0 && r[0] == 5.0 && l[1] == 50.0 && c.state == 3);
    Vec zl(4), zr(4);
    c.Run(zl, zr, 1, 100);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(zl[i] == 0.0001 / 2.0 && zr[i] == 0.0001 / 2.0);
}

TEST(RmsCompressor, HoldsUntilFourQuietHalfCyclesOnEachSideThenReleases)
{
    // Left turns quiet at sample 8, right at 16; quiet closes on the right
    // fall at 18, 20, 22 and 24, so the release starts at sample 25.
    auto l = Square(40, 4000, 8, 100), r = Square(40, 4000, 16, 100), l0 = l, r0 = r;
    Rms c;
    c.Run(l, r, 2, 4);
    EXPECT_EQ(l[0], Attack(4000, 2, 1, 2));
    EXPECT_EQ(l[1], 2000.0);
    EXPECT_TRUE(l[23] == -50.0 && l[24] == 50.0 && r[24] == 50.0);
    EXPECT_EQ(l[25], Release(100, 2, 1, 4));
    EXPECT_EQ(l[27], -Release(100, 2, 3, 4));
    EXPECT_EQ(l[28], 100.0);
    EXPECT_TRUE(Same(Vec(l.begin() + 29, l.end()), Vec(l0.begin() + 29, l0.end())));
    EXPECT_EQ(c.state, 1);

    Rms d;   // the same in blocks of seven
    d.Run(l0, r0, 2, 4, 7);
    EXPECT_TRUE(Same(l0, l) && Same(r0, r));
}

TEST(RmsCompressor, BurstDuringReleaseRunsTheCounterBackwards)
{
    auto l = Square(23, 4000, 8, 100);
    l[20] = 4000;   // closes {100, 4000} at sample 20, RMS about 2829
    auto r = l;
    Rms c;
    c.Run(l, r, 2, 8);   // release starts at 17
    EXPECT_EQ(l[17], Release(100, 2, 1, 8));
    EXPECT_EQ(l[20], Release(4000, 2, 4, 8));
    EXPECT_EQ(l[21], Release(100, 2, 3, 8));
    EXPECT_EQ(l[22], -Release(100, 2, 2, 8));
    EXPECT_EQ(c.state, 4);
}

TEST(PeakCompressor, OneSampleTriggersAndTheQuietHalfCyclesRelease)
{
    auto l = Square(16, 100, 0, 100), r = l;
    l[1] = 2000;
    const auto l0 = l;
    auto h = std::make_unique<PeakCompHistory>();
    int state = 1;
    PEAKCOMPRESSOR(*h, 2, &state, 16, l.data(), r.data(), 1, 2, 2.0, 1000);
    EXPECT_TRUE(l[0] == 100.0 && l[1] == 1000.0 && r[1] == 50.0);
    EXPECT_EQ(l[10], -50.0);   // left's fourth quiet close
    EXPECT_EQ(l[11], -Release(100, 2, 1, 2));
    EXPECT_EQ(l[12], 100.0);
    EXPECT_TRUE(Same(Vec(l.begin() + 13, l.end()), Vec(l0.begin() + 13, l0.end())));
    EXPECT_EQ(state, 1);
}

TEST(NonLinCOMP, HugeWindowKeepsUnityGain)
{
    auto h = std::make_unique<NlcHistory>();
    int init = 0;
    auto l = Bursts(900, 0.1), r = Bursts(900, 2.0), l0 = l;
    l[5] = 0.0;
    l0[5] = 0.0001;
    NonLinCOMP(*h, 4, 900, l.data(), r.data(), int64_t(1) << 40, 4.0, 100, &init);
    EXPECT_TRUE(Same(l, l0));
}

TEST(NonLinCOMP, WindowsCloseAfterWindowPlusOneSamplesAndWeighTheLastThree)
{
    auto h = std::make_unique<NlcHistory>();
    int init = 0;
    auto l = Square(13, 4000, 13, 0);
    Vec r(13, 1000.0);   // never changes sign: its gain stays 1
    NonLinCOMP(*h, 7, 13, l.data(), r.data(), 3, 4.0, 1000, &init);
    EXPECT_TRUE(l[2] == -4000.0 && l[3] == -4000.0);
    EXPECT_TRUE(l[4] == 3250.0 && l[7] == -3250.0);   // avg 2000, d 0.5, gamma 0.625, (0.625 + 1) / 2
    const float avg = (0.0f + 2.0f * 4000.0f + 3.0f * 4000.0f) / 6.0f;
    const double d = 1000.0f / avg, g = d + (1.0 - d) / 4.0;
    EXPECT_EQ(l[8], 4000.0 * (0.5 * g + 0.5));
    EXPECT_EQ(l[12], 2875.0);  // avg 4000, d 0.25, gamma 0.4375
    EXPECT_TRUE(Same(r, Vec(13, 1000.0)));
}

TEST(Compressors, SplitBlocksGiveTheSameBitsAsOneBlock)
{
    const int n = 2000;
    struct All {
        std::unique_ptr<RmsCompHistory> rms = std::make_unique<RmsCompHistory>();
        std::unique_ptr<PeakCompHistory> peak = std::make_unique<PeakCompHistory>();
        std::unique_ptr<NlcHistory> nlc = std::make_unique<NlcHistory>();
        int state[2] = {1, 1}, init[2] = {};
        void Run(double* l, double* r, int len)
        {
            RMSCOMPRESSOR(*rms, 130, &state[0], len, l, r, 30, 200, 3.0, 1000, &init[0]);
            NonLinCOMP(*nlc, 130, len, l, r, 20, 3.0, 700, &init[1]);
            PEAKCOMPRESSOR(*peak, 130, &state[1], len, l, r, 5, 60, 2.0, 900);
        }
    } a, b;
    auto l1 = Bursts(n, 0.2), r1 = Bursts(n, 1.3), l2 = l1, r2 = r1;
    a.Run(l1.data(), r1.data(), n);
    for (int off = 0; off < n; off += 293) b.Run(l2.data() + off, r2.data() + off, std::min(293, n - off));
    EXPECT_TRUE(Same(l1, l2) && Same(r1, r2) && a.state[0] == b.state[0] && a.state[1] == b.state[1]);
    EXPECT_FALSE(Same(l1, Bursts(n, 0.2)));
}

TEST(MasterRMS, AveragesWindowsLongerThanTheMinimumThatEndAtASignChange)
{
    // Half-cycles of three samples of 25855 = 100 x 256 + 255; the sign changes
    // at 3 (count 4, too short), 6, 9 (too short), 12, 15 (too short) and 18.
    std::vector<int64_t> x(20);
    for (int i = 0; i < 20; ++i) x[i] = (i / 3) % 2 ? -25855 : 25855;
    MasterRmsState a, b;
    MasterRMS(a, x.data(), x.data(), 4.0f, 256, 20);
    EXPECT_EQ(a.windowsL, 3.0f);
    EXPECT_EQ(a.sumL, 300.0f);   // truncation toward zero: every |v| is 100
    EXPECT_EQ(a.sumR, a.sumL);
    for (int off = 0; off < 20; off += 6)
        MasterRMS(b, x.data() + off, x.data() + off, 4.0f, 256, std::min(6, 20 - off));
    EXPECT_EQ(0, std::memcmp(&a, &b, sizeof a));
}
