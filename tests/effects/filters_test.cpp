#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "corvale/effects/filters.h"

namespace {

std::vector<double> Wave(int n, double amp, double step)
{
    std::vector<double> v(n);
    for (int i = 0; i < n; ++i) v[i] = amp * std::sin(step * i + 0.5) + 0.25 * i;   // never inside the floor
    return v;
}

// Plain biquad whose first two outputs are its first two inputs.
std::vector<double> ReferenceBiquad(const std::vector<double>& x, const double c[5])
{
    std::vector<double> y(x);
    for (size_t i = 2; i < x.size(); ++i)
        y[i] = c[0] * x[i] + c[1] * x[i - 1] + c[2] * x[i - 2] - c[3] * y[i - 1] - c[4] * y[i - 2];
    return y;
}

const double kC[5] = {0.9, -1.7, 0.8, -1.6, 0.7};

}  // namespace

TEST(Denormal, ReplacesTinyValuesAndZeroByTheFloorWithTheirSign)
{
    double l[] = {0.0, -0.0, 0.00005, -0.00005, 0.0001, -0.0001, 2.5};
    double r[] = {-2.5, 0.0, 0.0, 0.0, 0.0, 0.0, 1e-300};
    const double wantL[] = {0.0001, 0.0001, 0.0001, -0.0001, 0.0001, -0.0001, 2.5};
    Denormal(l, r, 7);
    EXPECT_EQ(0, std::memcmp(l, wantL, sizeof l));
    EXPECT_EQ(r[0], -2.5);
    EXPECT_EQ(r[6], 0.0001);
    Denormal(l, r, 0);
}

TEST(HPF, FirstSamplePassesAndAConstantDecaysByTheFeedbackCoefficient)
{
    auto h = std::make_unique<HpfHistory>();
    int init[kSlots] = {};
    double l[6] = {1000, 1000, 1000, 1000, 1000, 1000};
    double r[6] = {1000, 3000, 0, 0, 0, 0};
    HPF(*h, 6, 7, l, r, 0.5, 0.25, init);
    EXPECT_EQ(init[7], 1);
    double y = 1000;
    for (int i = 1; i < 6; ++i) EXPECT_EQ(l[i], y *= 0.5);
    EXPECT_EQ(l[0], 1000.0);
    EXPECT_EQ(r[1], 0.25 * 2000 + 0.5 * 1000);   // c2 on the input step, c1 on the output
    EXPECT_EQ(r[2], 0.25 * (0.0001 - 3000) + 0.5 * r[1]);   // zero floored first
}

TEST(HPF, BlockOfZerosStartsAtTheFloor)
{
    auto h = std::make_unique<HpfHistory>();
    int init[kSlots] = {};
    double l[3] = {}, r[3] = {};
    HPF(*h, 3, 1, l, r, 0.9, 0.95, init);
    EXPECT_EQ(l[0], 0.0001);
    EXPECT_EQ(l[1], 0.9 * 0.0001);
    EXPECT_EQ(r[2], 0.9 * (0.9 * 0.0001));
}

TEST(HPF, SplitBlocksGiveTheSameBitsAsOneBlock)
{
    auto a = std::make_unique<HpfHistory>(), b = std::make_unique<HpfHistory>();
    int ia[kSlots] = {}, ib[kSlots] = {};
    auto l1 = Wave(500, 3e5, 0.3), r1 = Wave(500, 1e5, 0.7), l2 = l1, r2 = r1;
    HPF(*a, 500, 135, l1.data(), r1.data(), 0.97, 0.98, ia);
    HPF(*b, 1, 135, l2.data(), r2.data(), 0.97, 0.98, ib);
    HPF(*b, 200, 135, l2.data() + 1, r2.data() + 1, 0.97, 0.98, ib);
    HPF(*b, 299, 135, l2.data() + 201, r2.data() + 201, 0.97, 0.98, ib);
    EXPECT_EQ(0, std::memcmp(l1.data(), l2.data(), 500 * sizeof(double)));
    EXPECT_EQ(0, std::memcmp(r1.data(), r2.data(), 500 * sizeof(double)));
}

TEST(EQ, MatchesAPlainBiquadThatPassesItsFirstTwoSamples)
{
    auto h = std::make_unique<EqHistory>();
    std::vector<int> init(8 * kSlots);
    auto l = Wave(300, 5e5, 0.2), r = Wave(300, 2e4, 1.1);
    const auto wantL = ReferenceBiquad(l, kC), wantR = ReferenceBiquad(r, kC);
    EQ(*h, 300, 12, 3, l.data(), r.data(), kC[0], kC[1], kC[2], kC[3], kC[4], init.data());
    EXPECT_EQ(init[3 * kSlots + 12], 2);
    EXPECT_EQ(0, std::memcmp(l.data(), wantL.data(), 300 * sizeof(double)));
    EXPECT_EQ(0, std::memcmp(r.data(), wantR.data(), 300 * sizeof(double)));
}

TEST(EQ, ZeroGainSectionPassesTheSignalOnceRunning)
{
    const double pi = 6.283185307179586 / 2, w0 = 2 * pi * 1000 / 48000, alpha = std::sin(w0) / 2;
    const double a0 = 1 + alpha;   // A = 1
    const double b0 = (1 + alpha) / a0, b1 = -2 * std::cos(w0) / a0, b2 = (1 - alpha) / a0;
    ASSERT_EQ(b0, 1.0);
    auto h = std::make_unique<EqHistory>();
    std::vector<int> init(8 * kSlots);
    auto l = Wave(400, 8e6, 0.05), r = Wave(400, 1e3, 0.5), l0 = l, r0 = r;
    EQ(*h, 400, 1, 1, l.data(), r.data(), b0, b1, b2, b1, b2, init.data());
    for (int i = 0; i < 400; ++i) {
        EXPECT_NEAR(l[i], l0[i], 1e-6 * (1 + std::fabs(l0[i])));
        EXPECT_NEAR(r[i], r0[i], 1e-6 * (1 + std::fabs(r0[i])));
    }
}

TEST(EQ, SectionStartingInALaterBlockSeedsFromThatBlocksFirstTwoSamples)
{
    auto h = std::make_unique<EqHistory>();
    std::vector<int> init(8 * kSlots);
    auto l = Wave(200, 1e4, 0.4), r = l;
    // Section 2 of the slot runs first; section 5 only from the second block on.
    EQ(*h, 100, 4, 2, l.data(), r.data(), 1, 0, 0, 0, 0, init.data());
    std::vector<double> second(l.begin() + 100, l.end());
    const auto want = ReferenceBiquad(second, kC);
    EQ(*h, 100, 4, 5, l.data() + 100, r.data() + 100, kC[0], kC[1], kC[2], kC[3], kC[4],
       init.data());
    EXPECT_EQ(0, std::memcmp(l.data() + 100, want.data(), 100 * sizeof(double)));
}

TEST(EQ, SplitAfterSeedingGivesTheSameBitsButASplitAfterOneSampleReseeds)
{
    auto a = std::make_unique<EqHistory>(), b = std::make_unique<EqHistory>();
    std::vector<int> ia(8 * kSlots), ib(8 * kSlots);
    auto l1 = Wave(400, 7e5, 0.3), r1 = Wave(400, 3e5, 0.9), l2 = l1, r2 = r1;
    EQ(*a, 400, 130, 6, l1.data(), r1.data(), kC[0], kC[1], kC[2], kC[3], kC[4], ia.data());
    EQ(*b, 2, 130, 6, l2.data(), r2.data(), kC[0], kC[1], kC[2], kC[3], kC[4], ib.data());
    EQ(*b, 398, 130, 6, l2.data() + 2, r2.data() + 2, kC[0], kC[1], kC[2], kC[3], kC[4], ib.data());
    EXPECT_EQ(0, std::memcmp(l1.data(), l2.data(), 400 * sizeof(double)));
    EXPECT_EQ(0, std::memcmp(r1.data(), r2.data(), 400 * sizeof(double)));

    // After a one-frame block the next block passes its sample 0 and filters
    // sample 1 against a history of samples 1 and 0 of that block.
    auto c = std::make_unique<EqHistory>();
    std::vector<int> ic(8 * kSlots);
    double x[4] = {5, 7, 11, 13}, y[4] = {5, 7, 11, 13};
    EQ(*c, 1, 9, 1, x, y, kC[0], kC[1], kC[2], kC[3], kC[4], ic.data());
    EQ(*c, 3, 9, 1, x + 1, y + 1, kC[0], kC[1], kC[2], kC[3], kC[4], ic.data());
    EXPECT_EQ(x[1], 7.0);
    EXPECT_EQ(x[2], kC[0] * 11 + kC[1] * 11 + kC[2] * 7 - kC[3] * 11 - kC[4] * 7);
}

TEST(EQ, SectionStartingInOneFrameBlocksStaysInsideTheBlock)
{
    auto h = std::make_unique<EqHistory>();
    std::vector<int> init(8 * kSlots);
    auto l = std::make_unique<double[]>(1), r = std::make_unique<double[]>(1);
    for (double v : {3.0, 4.0}) {
        l[0] = r[0] = v;
        EQ(*h, 1, 2, 4, l.get(), r.get(), kC[0], kC[1], kC[2], kC[3], kC[4], init.data());
        EXPECT_EQ(l[0], v);
    }
    l[0] = r[0] = 6.0;
    EQ(*h, 1, 2, 4, l.get(), r.get(), kC[0], kC[1], kC[2], kC[3], kC[4], init.data());
    EXPECT_EQ(r[0], kC[0] * 6 + kC[1] * 4 + kC[2] * 4 - kC[3] * 4 - kC[4] * 4);
}

TEST(Rev_EQ, EachFilterKeepsItsOwnHistoryAcrossBlocks)
{
    auto h = std::make_unique<RevEqHistory>();
    int init[4] = {};
    auto a = Wave(300, 1e6, 0.2), b = Wave(300, 2e6, 0.6), ar = a, br = b;
    const auto wantA = ReferenceBiquad(a, kC), wantB = ReferenceBiquad(b, kC);
    for (int off : {0, 120}) {
        const int len = off ? 180 : 120;
        Rev_EQ(*h, len, 0, a.data() + off, ar.data() + off, kC[0], kC[1], kC[2], kC[3], kC[4], init);
        Rev_EQ(*h, len, 3, b.data() + off, br.data() + off, kC[0], kC[1], kC[2], kC[3], kC[4], init);
    }
    EXPECT_EQ(0, std::memcmp(a.data(), wantA.data(), 300 * sizeof(double)));
    EXPECT_EQ(0, std::memcmp(br.data(), wantB.data(), 300 * sizeof(double)));
    EXPECT_EQ(init[1], 0);
}
