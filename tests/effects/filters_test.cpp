#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "corvale/effects/filters.h"

namespace {

using Vec = std::vector<double>;

Vec Wave(int n, double amp, double step)
{
    Vec v(n);
    for (int i = 0; i < n; ++i) v[i] = amp * std::sin(step * i + 0.5) + 0.25 * i;   // never inside the floor
    return v;
}

// Plain biquad whose first two outputs are its first two inputs.
Vec ReferenceBiquad(const Vec& x, const double c[5])
{
    Vec y(x);
    for (size_t i = 2; i < x.size(); ++i)
        y[i] = c[0] * x[i] + c[1] * x[i - 1] + c[2] * x[i - 2] - c[3] * y[i - 1] - c[4] * y[i - 2];
    return y;
}

bool Same(const Vec& a, const Vec& b) { return a.size() == b.size() && !std::memcmp(a.data(), b.data(), a.size() * 8); }

const double kC[5] = {0.9, -1.7, 0.8, -1.6, 0.7};

struct Eq {
    std::unique_ptr<EqHistory> h = std::make_unique<EqHistory>();
    std::vector<int> init = std::vector<int>(8 * kSlots);
    void Run(int n, int slot, int section, double* l, double* r, const double c[5] = kC)
    {
        EQ(*h, n, slot, section, l, r, c[0], c[1], c[2], c[3], c[4], init.data());
    }
};

}  // namespace

TEST(Denormal, ReplacesTinyValuesAndZeroByTheFloorWithTheirSign)
{
    double l[] = {0.0, -0.0, 0.00005, -0.00005, 0.0001, -0.0001, 2.5}, r[7] = {-2.5};
    const double wantL[] = {0.0001, 0.0001, 0.0001, -0.0001, 0.0001, -0.0001, 2.5};
    Denormal(l, r, 7);
    EXPECT_EQ(0, std::memcmp(l, wantL, sizeof l));
    EXPECT_TRUE(r[0] == -2.5 && r[6] == 0.0001);
}

TEST(HPF, FirstSamplePassesThenEachCoefficientTakesItsOwnPlace)
{
    auto h = std::make_unique<HpfHistory>();
    int init[kSlots] = {};
    double l[6] = {1000, 1000, 1000, 1000, 1000, 1000}, r[6] = {1000, 3000, 0, 0, 0, 0};
    HPF(*h, 6, 7, l, r, 0.5, 0.25, init);
    double y = 1000;
    for (int i = 0; i < 6; ++i, y *= 0.5) EXPECT_EQ(l[i], y);   // a constant decays by c1
    EXPECT_EQ(r[1], 0.25 * 2000 + 0.5 * 1000);                   // c2 on the input step
    EXPECT_EQ(r[2], 0.25 * (0.0001 - 3000) + 0.5 * r[1]);        // zero floored first
    double z[2] = {}, zr[2] = {};
    HPF(*h, 2, 8, z, zr, 0.9, 0.95, init);
    EXPECT_TRUE(z[0] == 0.0001 && z[1] == 0.9 * 0.0001);
}

TEST(HPF, SplitBlocksGiveTheSameBitsAsOneBlock)
{
    auto a = std::make_unique<HpfHistory>(), b = std::make_unique<HpfHistory>();
    int ia[kSlots] = {}, ib[kSlots] = {};
    auto l1 = Wave(500, 3e5, 0.3), r1 = Wave(500, 1e5, 0.7), l2 = l1, r2 = r1;
    HPF(*a, 500, 135, l1.data(), r1.data(), 0.97, 0.98, ia);
    for (int off : {0, 1, 201})
        HPF(*b, off == 0 ? 1 : off == 1 ? 200 : 299, 135, l2.data() + off, r2.data() + off, 0.97, 0.98, ib);
    EXPECT_TRUE(Same(l1, l2) && Same(r1, r2));
}

TEST(EQ, MatchesAPlainBiquadAcrossBlocksSplitAfterSeeding)
{
    Eq whole, split;
    auto l1 = Wave(400, 7e5, 0.3), r1 = Wave(400, 3e5, 0.9), l2 = l1, r2 = r1;
    const auto wantL = ReferenceBiquad(l1, kC), wantR = ReferenceBiquad(r1, kC);
    whole.Run(400, 130, 6, l1.data(), r1.data());
    split.Run(2, 130, 6, l2.data(), r2.data());
    split.Run(398, 130, 6, l2.data() + 2, r2.data() + 2);
    EXPECT_EQ(whole.init[6 * kSlots + 130], 2);
    EXPECT_TRUE(Same(l1, wantL) && Same(r1, wantR) && Same(l2, wantL) && Same(r2, wantR));

    // The reverb filters: the same biquad, one history per filter number.
    auto h = std::make_unique<RevEqHistory>();
    int init[4] = {};
    auto a = Wave(300, 1e6, 0.2), b = Wave(300, 2e6, 0.6), ar = a, br = b;
    const auto wantA = ReferenceBiquad(a, kC), wantB = ReferenceBiquad(b, kC);
    for (int off : {0, 120}) {
        const int len = off ? 180 : 120;
        Rev_EQ(*h, len, 0, a.data() + off, ar.data() + off, kC[0], kC[1], kC[2], kC[3], kC[4], init);
        Rev_EQ(*h, len, 3, b.data() + off, br.data() + off, kC[0], kC[1], kC[2], kC[3], kC[4], init);
    }
    EXPECT_TRUE(Same(a, wantA) && Same(br, wantB) && init[1] == 0);
}

TEST(EQ, ZeroGainSectionPassesTheSignalOnceRunning)
{
    const double pi = 6.283185307179586 / 2, w0 = 2 * pi * 1000 / 48000, alpha = std::sin(w0) / 2;
    const double a0 = 1 + alpha;   // A = 1
    const double c[5] = {(1 + alpha) / a0, -2 * std::cos(w0) / a0, (1 - alpha) / a0, 0, 0};
    const double z[5] = {c[0], c[1], c[2], c[1], c[2]};
    ASSERT_EQ(c[0], 1.0);
    Eq eq;
    auto l = Wave(400, 8e6, 0.05), r = Wave(400, 1e3, 0.5), l0 = l, r0 = r;
    eq.Run(400, 1, 1, l.data(), r.data(), z);
    for (int i = 0; i < 400; ++i) {
        EXPECT_NEAR(l[i], l0[i], 1e-6 * (1 + std::fabs(l0[i])));
        EXPECT_NEAR(r[i], r0[i], 1e-6 * (1 + std::fabs(r0[i])));
    }
}

TEST(EQ, SectionStartsFromTheFirstTwoSamplesOfTheBlockItFirstRunsIn)
{
    Eq eq;
    auto l = Wave(200, 1e4, 0.4), r = l;
    const double one[5] = {1, 0, 0, 0, 0};
    eq.Run(100, 4, 2, l.data(), r.data(), one);   // another section of the slot runs first
    const auto want = ReferenceBiquad(Vec(l.begin() + 100, l.end()), kC);
    eq.Run(100, 4, 5, l.data() + 100, r.data() + 100);
    EXPECT_TRUE(Same(Vec(l.begin() + 100, l.end()), want));

    // After a one-frame block the next block passes its sample 0 and filters
    // sample 1 against a history of samples 1 and 0 of that block.
    double x[4] = {5, 7, 11, 13}, y[4] = {5, 7, 11, 13};
    eq.Run(1, 9, 1, x, y);
    eq.Run(3, 9, 1, x + 1, y + 1);
    EXPECT_EQ(x[1], 7.0);
    EXPECT_EQ(x[2], kC[0] * 11 + kC[1] * 11 + kC[2] * 7 - kC[3] * 11 - kC[4] * 7);

    // Two one-frame blocks in a row never read past the block.
    auto p = std::make_unique<double[]>(1), q = std::make_unique<double[]>(1);
    for (double v : {3.0, 4.0, 6.0}) {
        p[0] = q[0] = v;
        eq.Run(1, 2, 4, p.get(), q.get());
    }
    EXPECT_EQ(q[0], kC[0] * 6 + kC[1] * 4 + kC[2] * 4 - kC[3] * 4 - kC[4] * 4);
}
