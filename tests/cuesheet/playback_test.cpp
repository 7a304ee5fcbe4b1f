#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "corvale/cuesheet/playback.h"

namespace {

constexpr int64_t kUnity = 134217728;
constexpr int64_t kHalf = 67108864;          // exactly half of unity
constexpr int64_t kMinus6dB = 67268211;      // -6 dB as the level tables hold it
constexpr double kChannelDivisor = 524288.0;
constexpr double kBusDivisor = 134217728.0;

// Level of a dB value computed plainly, as a check of the playback arithmetic.
int64_t PlainLevel(double dB) { return static_cast<int64_t>(std::pow(10.0, dB / 20.0) * 134217728.0); }

void AddEntry(AutomationTables& t, int slot, int64_t time, int64_t level, int64_t ramp = 0,
              float shape = 1.0f)
{
    const int e = t.count[slot]++;
    t.time[e][slot] = time;
    t.level[e][slot] = level;
    t.ramp[e][slot] = ramp;
    t.shape[e][slot] = shape;
}

void AddVcaEntry(AutomationTables& t, int v, int64_t time, int64_t level, int64_t ramp = 0,
                 float shape = 1.0f)
{
    const int e = t.vcaCount[v]++;
    t.vcaTime[e][v] = time;
    t.vcaLevel[e][v] = level;
    t.vcaRamp[e][v] = ramp;
    t.vcaShape[e][v] = shape;
}

// Samples whose sign changes on every frame, so that every frame updates the gains.
std::vector<int64_t> Alternating(int64_t n, int64_t magnitude)
{
    std::vector<int64_t> v(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) v[static_cast<size_t>(i)] = (i % 2 == 0) ? magnitude : -magnitude;
    return v;
}

// Samples of irregular sign and size.
std::vector<int64_t> Noise(int64_t n, uint32_t seed)
{
    std::vector<int64_t> v(static_cast<size_t>(n));
    for (auto& x : v) {
        seed = seed * 1664525u + 1013904223u;
        x = static_cast<int64_t>(seed >> 8) - 8388608;
    }
    return v;
}

struct Fixture {
    std::unique_ptr<AutomationTables> t = std::make_unique<AutomationTables>();
    std::unique_ptr<Playback> pb = std::make_unique<Playback>();
    std::vector<int64_t> offsets = std::vector<int64_t>(kChannelRows, 0);
    std::vector<int> vcaAssign = std::vector<int>(kSlots, 0);

    void Start(int trackCount, int64_t renderStart)
    {
        StartState(*pb, *t, trackCount, offsets.data(), renderStart);
    }
    void Fader(int slot, int64_t pos, std::vector<int64_t>& l, std::vector<int64_t>& r,
               int64_t pol = 1, double divisor = kChannelDivisor, float gL = 1.0f, float gR = 1.0f)
    {
        AUTOMATE(*pb, *t, pos, static_cast<int64_t>(l.size()), slot, l.data(), r.data(), pol, divisor,
                 gL, gR, vcaAssign.data());
    }
};

TEST(LevelOfDb, MatchesTheLevelTables)
{
    EXPECT_EQ(DbToLevel(-6.0), kMinus6dB);
    EXPECT_EQ(DbToLevel(0.0), kUnity);
    EXPECT_EQ(DbToLevel(12.02), 535562158);
}

TEST(FaderStage, SingleEntryPlaysAtItsLevelFromTheFirstSample)
{
    Fixture f;
    AddEntry(*f.t, 3, 0, kMinus6dB);
    AddEntry(*f.t, 4, 0, kMinus6dB);
    f.Start(4, 0);
    // The level goes through single precision: 67268211 becomes 67268208.
    const double gain = 67268208.0 / kChannelDivisor;

    std::vector<int64_t> l(16, 8000000), r(16, 1000);
    f.Fader(3, 0, l, r);
    for (size_t i = 0; i < l.size(); ++i) {
        EXPECT_EQ(l[i], static_cast<int64_t>(8000000 * gain)) << i;
        EXPECT_EQ(r[i], static_cast<int64_t>(1000 * gain)) << i;
    }
    // A fader first processed later in the song has stored signs 0, so it too
    // starts at its level on the first sample.
    std::vector<int64_t> l2(16, 777), r2(16, -777);
    f.Fader(4, 50000, l2, r2);
    EXPECT_EQ(l2[0], static_cast<int64_t>(777 * gain));
    EXPECT_EQ(r2[0], static_cast<int64_t>(-777 * gain));
}

TEST(FaderStage, CombinesLevelPolarityPanGainsAndDivisor)
{
    Fixture f;
    AddEntry(*f.t, 1, 0, kUnity);
    AddEntry(*f.t, 2, 0, kUnity);
    AddEntry(*f.t, SubmixSlot(3), 0, kUnity);
    f.Start(2, 0);

    // Unity at the channel divisor lifts 24-bit scale to bus scale: x 256.
    std::vector<int64_t> l = {8388607, -8388608, 1, -1}, r = {3, -5, 0, 7};
    f.Fader(1, 0, l, r);
    EXPECT_EQ(l, (std::vector<int64_t>{8388607LL * 256, -8388608LL * 256, 256, -256}));
    EXPECT_EQ(r, (std::vector<int64_t>{768, -1280, 0, 1792}));

    // Polarity -1 inverts; each side takes its own pan gain.
    std::vector<int64_t> l2 = {1000, -1000, 1000}, r2 = {1000, -1000, 1000};
    f.Fader(2, 0, l2, r2, -1, kChannelDivisor, 0.5f, 0.25f);
    EXPECT_EQ(l2, (std::vector<int64_t>{-128000, 128000, -128000}));
    EXPECT_EQ(r2, (std::vector<int64_t>{-64000, 64000, -64000}));

    // Submix and master faders keep the scale at unity.
    std::vector<int64_t> l3 = {123456789, -5}, r3 = {-987654321, 5};
    f.Fader(SubmixSlot(3), 0, l3, r3, 1, kBusDivisor);
    EXPECT_EQ(l3, (std::vector<int64_t>{123456789, -5}));
    EXPECT_EQ(r3, (std::vector<int64_t>{-987654321, 5}));

    // 256 x 0.1f x 3 = 76.8000011...: truncated toward zero, not rounded.
    std::vector<int64_t> l4 = {3, -3}, r4 = {3, -3};
    f.Fader(1, 100, l4, r4, 1, kChannelDivisor, 0.1f, 0.1f);
    EXPECT_EQ(l4, (std::vector<int64_t>{76, -76}));
}

TEST(Ramps, LinearRampFromZeroToMinus12IsAtMinus6HalfwayAndAtTheTargetAtItsEnd)
{
    Fixture f;
    const int64_t target = PlainLevel(-12.0);
    AddEntry(*f.t, 1, 0, kUnity);
    AddEntry(*f.t, 1, 1000, target, 3000);
    f.Start(1, 0);

    // The fader steps its position before computing: ramp position p is reached
    // at song position 1000 + p - 1.
    std::vector<int64_t> l = Alternating(2500, 1000), r = Alternating(2500, 1000);
    f.Fader(1, 0, l, r);
    EXPECT_EQ(f.pb->slot[1].position, 1500);
    // Halfway in dB between 0 and the dB of the (truncated) target level: -6 dB
    // to within the truncation of the levels.
    const double targetDb = 20.0 * std::log10(static_cast<double>(target) / 134217728.0);
    EXPECT_EQ(f.pb->slot[1].current, PlainLevel(targetDb / 2.0));
    EXPECT_LE(std::llabs(f.pb->slot[1].current - kMinus6dB), 1);

    std::vector<int64_t> l2 = Alternating(1499, 1000), r2 = Alternating(1499, 1000);
    f.Fader(1, 2500, l2, r2);
    EXPECT_NE(f.pb->slot[1].current, target);   // p = 2999
    std::vector<int64_t> l3 = {-1000}, r3 = {-1000};   // the last sample was positive
    f.Fader(1, 3999, l3, r3);
    EXPECT_EQ(f.pb->slot[1].current, target);   // p = 3000
}

TEST(Ramps, ShapedRampsBendTheDbCurve)
{
    for (float shape : {2.0f, 0.5f}) {
        Fixture f;
        AddEntry(*f.t, 1, 0, kUnity);
        AddEntry(*f.t, 1, 1000, PlainLevel(-12.0), 3000, shape);
        f.Start(1, 0);
        std::vector<int64_t> l = Alternating(2500, 1000), r = Alternating(2500, 1000);
        f.Fader(1, 0, l, r);
        const int64_t mid = f.pb->slot[1].current;
        if (shape == 2.0f) {
            EXPECT_EQ(mid, PlainLevel(-3.0));   // (1/2)^2 x -12
        } else {
            EXPECT_NEAR(LevelTodB(mid), -8.49, 0.005);
        }
        // The start state at the same position agrees.
        InterpretLevel(*f.pb, *f.t, 2500, 1, false);
        EXPECT_EQ(f.pb->slot[1].current, mid);
    }
}

TEST(Ramps, ZeroRampVcaEntryArrivesOneSampleAfterItsTimeButAFaderEntryOnIt)
{
    Fixture f;
    AddVcaEntry(*f.t, 1, 0, kUnity);
    AddVcaEntry(*f.t, 1, 100, kHalf);
    AddEntry(*f.t, 1, 0, kUnity);
    AddEntry(*f.t, 1, 100, kHalf);
    f.Start(1, 0);

    const int64_t n = 200;
    FillVCA(*f.pb, *f.t, 0, n, 1);
    const double* row = f.pb->vcaGain.data() + n;
    EXPECT_EQ(row[99], 1.0);
    EXPECT_EQ(row[100], 1.0);
    EXPECT_EQ(row[101], 0.5);
    EXPECT_EQ(row[199], 0.5);
    EXPECT_EQ(f.pb->vcaGain[0], 1.0);   // row 0 untouched

    std::vector<int64_t> l = Alternating(n, 1000), r = Alternating(n, 1000);
    f.Fader(1, 0, l, r);
    EXPECT_EQ(l[99], -256000);
    EXPECT_EQ(l[100], 128000);
}

TEST(Ramps, LevelZeroCountsAsMinus144Db)
{
    Fixture f;
    AddEntry(*f.t, 1, 0, 0);
    AddEntry(*f.t, 1, 10, kUnity, 144);   // 1 dB per sample up from -144
    f.Start(1, 0);
    InterpretLevel(*f.pb, *f.t, 10 + 72, 1, false);
    EXPECT_EQ(f.pb->slot[1].current, PlainLevel(-72.0));

    Fixture g;
    AddEntry(*g.t, 1, 0, kUnity);
    AddEntry(*g.t, 1, 10, -5, 100);       // a negative level also sits at -144 dB
    g.Start(1, 0);
    InterpretLevel(*g.pb, *g.t, 10 + 50, 1, false);
    EXPECT_EQ(g.pb->slot[1].current, PlainLevel(-72.0));
}

TEST(ZeroCrossing, FaderMoveWaitsForASignChangeWhileTheVcaMoveIsHeardAtOnce)
{
    Fixture f;
    AddEntry(*f.t, 1, 0, kUnity);
    AddEntry(*f.t, 1, 10, kHalf);          // ramp 0: due on its own sample
    AddEntry(*f.t, 2, 0, kUnity);
    AddVcaEntry(*f.t, 1, 0, kUnity);
    AddVcaEntry(*f.t, 1, 10, kHalf);
    f.vcaAssign[2] = 1;
    f.Start(2, 0);
    const int64_t n = 40;
    FillVCA(*f.pb, *f.t, 0, n, 1);

    std::vector<int64_t> l(n, 1000), r(n, 1000);
    for (int64_t i = 30; i < n; ++i) l[static_cast<size_t>(i)] = -1000;   // left turns negative at 30
    std::vector<int64_t> l2(n, 1000), r2(n, 1000);
    f.Fader(1, 0, l, r);
    f.Fader(2, 0, l2, r2);

    for (int64_t i = 0; i < 30; ++i) EXPECT_EQ(l[static_cast<size_t>(i)], 256000) << i;
    for (int64_t i = 30; i < n; ++i) EXPECT_EQ(l[static_cast<size_t>(i)], -128000) << i;
    for (int64_t i = 0; i < n; ++i) EXPECT_EQ(r[static_cast<size_t>(i)], 256000) << i;   // right never crosses

    for (int64_t i = 0; i <= 10; ++i) EXPECT_EQ(l2[static_cast<size_t>(i)], 256000) << i;
    for (int64_t i = 11; i < n; ++i) EXPECT_EQ(l2[static_cast<size_t>(i)], 128000) << i;
}

TEST(ZeroCrossing, SongStartSetsBothGainsAndSignsCarryAcrossBlocks)
{
    Fixture f;
    AddEntry(*f.t, 1, 0, kUnity);
    f.Start(1, 0);
    // Signs left over that match the first samples must not keep the gains at 0.
    f.pb->OldPolarL[1] = 1;
    f.pb->OldPolarR[1] = -1;
    std::vector<int64_t> l = {5, 6}, r = {-5, -6};
    f.Fader(1, 0, l, r);
    EXPECT_EQ(l, (std::vector<int64_t>{1280, 1536}));
    EXPECT_EQ(r, (std::vector<int64_t>{-1280, -1536}));

    // From then on the signs carry over block boundaries: a move at 5 on a side
    // that stays positive into the next block is heard only at its sign change.
    AddEntry(*f.t, 1, 5, kHalf);
    f.Start(1, 0);
    std::vector<int64_t> l1(10, 1000), r1(10, 1000);
    f.Fader(1, 0, l1, r1);
    EXPECT_EQ(l1[9], 256000);
    std::vector<int64_t> l2(2, 1000), r2 = {1000, -1000};
    f.Fader(1, 10, l2, r2);
    EXPECT_EQ(l2, (std::vector<int64_t>{256000, 256000}));
    EXPECT_EQ(r2, (std::vector<int64_t>{256000, -128000}));
}

TEST(StartState, RenderStartingInsideARampResumesWhereAFullRenderWouldBe)
{
    const int64_t rate = 48000, P = 10 * rate;
    for (float shape : {1.0f, 2.0f}) {
        auto build = [&](Fixture& f) {
            AddEntry(*f.t, 1, 0, kUnity);
            AddEntry(*f.t, 1, 8 * rate, PlainLevel(-12.0), 4 * rate, shape);
            AddVcaEntry(*f.t, 1, 0, kUnity);
            AddVcaEntry(*f.t, 1, 8 * rate, PlainLevel(-12.0), 4 * rate, shape);
        };
        Fixture whole, part;
        build(whole);
        build(part);
        whole.Start(1, 0);
        part.Start(1, P);

        EXPECT_EQ(part.pb->slot[1].position, 2 * rate);
        // Midpoint of 0 .. -12 dB (the target's dB being that of its truncated level).
        const double targetDb = 20.0 * std::log10(static_cast<double>(PlainLevel(-12.0)) / 134217728.0);
        const double midDb = shape == 1.0f ? targetDb / 2.0 : targetDb / 4.0;
        EXPECT_EQ(part.pb->slot[1].current, PlainLevel(midDb));
        EXPECT_EQ(part.pb->vca[1].current, PlainLevel(midDb));

        const int64_t block = 131072, tail = 3000;
        std::vector<int64_t> wl, wr;
        std::vector<double> wv;
        for (int64_t pos = 0; pos < P + tail; pos += block) {
            const int64_t n = std::min(block, P + tail - pos);
            FillVCA(*whole.pb, *whole.t, pos, n, 1);
            std::vector<int64_t> l = Alternating(n, 4096), r = Alternating(n, -4096);
            whole.Fader(1, pos, l, r);
            if (pos + n > P) {
                const int64_t from = std::max<int64_t>(P - pos, 0);
                wl.insert(wl.end(), l.begin() + from, l.end());
                wr.insert(wr.end(), r.begin() + from, r.end());
                const double* row = whole.pb->vcaGain.data() + n;
                wv.insert(wv.end(), row + from, row + n);
            }
        }
        // P is even, so the alternating signal has the same phase in both renders.
        FillVCA(*part.pb, *part.t, P, tail, 1);
        std::vector<int64_t> pl = Alternating(tail, 4096), pr = Alternating(tail, -4096);
        part.Fader(1, P, pl, pr);

        EXPECT_EQ(pl, wl);
        EXPECT_EQ(pr, wr);
        ASSERT_EQ(wv.size(), static_cast<size_t>(tail));
        EXPECT_EQ(std::memcmp(part.pb->vcaGain.data() + tail, wv.data(), wv.size() * sizeof(double)), 0);
        EXPECT_EQ(part.pb->slot[1].current, whole.pb->slot[1].current);
        EXPECT_EQ(part.pb->vca[1].current, whole.pb->vca[1].current);
    }
}

TEST(StartState, EntryAtTheRenderStartIsReachedByPlayback)
{
    Fixture f;
    AddEntry(*f.t, 1, 0, kUnity);
    AddEntry(*f.t, 1, 100, kHalf);
    AddEntry(*f.t, 1, 200, kMinus6dB);
    f.Start(1, 100);
    EXPECT_EQ(f.pb->slot[1].next, 1);
    EXPECT_EQ(f.pb->slot[1].current, kUnity);
    std::vector<int64_t> l = {1000}, r = {1000};
    f.Fader(1, 100, l, r);
    EXPECT_EQ(l[0], 128000);

    // Past every entry: the last level, nothing left to reach.
    f.Start(1, 5000);
    EXPECT_EQ(f.pb->slot[1].next, 3);
    EXPECT_EQ(f.pb->slot[1].current, kMinus6dB);
}

TEST(StartState, ChannelWhoseEntriesAllPrecedeItsOffsetKeepsItsLevel)
{
    Fixture f;
    AddEntry(*f.t, 2, 0, kUnity);
    AddEntry(*f.t, 2, 500, kHalf);
    f.offsets[2] = 1000;   // inside the first block
    f.Start(2, 0);
    EXPECT_EQ(f.pb->slot[2].next, 2);
    EXPECT_EQ(f.pb->slot[2].current, kHalf);

    // The unused row after the last entry has time 0; it must not be reached.
    std::vector<int64_t> l(2000, 1000), r(2000, 1000);
    f.Fader(2, 0, l, r);
    for (size_t i = 0; i < l.size(); ++i) ASSERT_EQ(l[i], 128000) << i;
}

TEST(StartState, RowsPastTheEntryCountAreNeverPlayed)
{
    Fixture f;
    AddVcaEntry(*f.t, 1, 0, kUnity);
    f.t->vcaTime[1][1] = 10;   // stale row beyond the count
    f.t->vcaLevel[1][1] = 0;
    AddEntry(*f.t, 1, 0, kUnity);
    f.t->time[1][1] = 10;
    f.t->level[1][1] = 0;
    f.Start(1, 0);

    FillVCA(*f.pb, *f.t, 0, 20, 1);
    for (int i = 0; i < 20; ++i) ASSERT_EQ(f.pb->vcaGain[static_cast<size_t>(20 + i)], 1.0) << i;
    std::vector<int64_t> l = Alternating(20, 10), r = Alternating(20, 10);
    f.Fader(1, 0, l, r);
    EXPECT_EQ(l[19], -2560);
}

TEST(Blocks, SplitBlocksGiveTheSameBitsAsOneBlock)
{
    auto build = [](Fixture& f) {
        AddEntry(*f.t, 1, 0, kUnity);
        AddEntry(*f.t, 1, 300, PlainLevel(-20.0), 900, 0.7f);
        AddEntry(*f.t, 1, 1500, PlainLevel(3.0), 500);
        AddEntry(*f.t, 1, 2200, 0, 0);
        AddVcaEntry(*f.t, 1, 0, kUnity);
        AddVcaEntry(*f.t, 1, 100, PlainLevel(-9.0), 1700, 3.0f);
        AddVcaEntry(*f.t, 1, 2000, kUnity, 0);
        f.vcaAssign[1] = 1;
        f.Start(1, 0);
    };
    const int64_t total = 3000;
    const std::vector<int64_t> inL = Noise(total, 7), inR = Noise(total, 99);

    Fixture one;
    build(one);
    std::vector<int64_t> l1 = inL, r1 = inR;
    FillVCA(*one.pb, *one.t, 0, total, 1);
    one.Fader(1, 0, l1, r1, -1, kChannelDivisor, 0.7079f, 0.3540f);

    Fixture split;
    build(split);
    std::vector<int64_t> l2, r2;
    int64_t pos = 0;
    for (int64_t n : {1000, 1, 1233, 766}) {
        FillVCA(*split.pb, *split.t, pos, n, 1);
        std::vector<int64_t> l(inL.begin() + pos, inL.begin() + pos + n);
        std::vector<int64_t> r(inR.begin() + pos, inR.begin() + pos + n);
        split.Fader(1, pos, l, r, -1, kChannelDivisor, 0.7079f, 0.3540f);
        l2.insert(l2.end(), l.begin(), l.end());
        r2.insert(r2.end(), r.begin(), r.end());
        pos += n;
    }
    ASSERT_EQ(l2.size(), l1.size());
    EXPECT_EQ(std::memcmp(l1.data(), l2.data(), l1.size() * sizeof(int64_t)), 0);
    EXPECT_EQ(std::memcmp(r1.data(), r2.data(), r1.size() * sizeof(int64_t)), 0);
    EXPECT_NE(l1, inL);   // something was applied
}

}  // namespace
