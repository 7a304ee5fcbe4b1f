#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "corvale/effects/reverb.h"
#include "tests/effects/reverb_fixture.h"

using namespace reverb_test;

namespace {

int Room(RecursiveReverbState& s, Buffers& b, int64_t n, float size, float width = 50.0f,
         float x = 37.0f, float y = 39.0f, float z = 43.0f)
{
    return RecurseReverb(s, n, 48000.0, b.sendL.data(), b.sendR.data(), size, b.carryL.data(),
                         b.carryR.data(), b.retL.data(), b.retR.data(), x, y, z, width);
}

// A plain model of the room over one long timeline: every surface value is
// final when its sample is reached, hands a sixth (truncated) to each other
// surface after the pair distance, and is heard a quarter loud after its own
// distance. Valid for integer-valued sends (then the block's load adds no
// fraction), and exact division by 6 equals the product with 1/6 below 2^53.
struct Timeline {
    std::vector<int64_t> outL, outR;
};

Timeline Model(const std::vector<double>& inL, const std::vector<double>& inR, const int64_t d[6],
               float widthFactor)
{
    const int64_t T = static_cast<int64_t>(inL.size());
    int64_t longest = 0;
    for (int k = 0; k < 6; ++k) longest = std::max(longest, d[k]);
    std::vector<int64_t> surf[6];
    for (auto& v : surf) v.assign(T, 0);
    Timeline t;
    t.outL.assign(T + longest + 1, 0);
    t.outR.assign(T + longest + 1, 0);
    const bool fedLeft[6] = {true, true, false, false, true, false};
    for (int64_t i = 0; i < T; ++i)
        for (int k = 0; k < 6; ++k) surf[k][i] += static_cast<int64_t>(fedLeft[k] ? inL[i] : inR[i]);
    for (int64_t i = 0; i < T; ++i) {
        int64_t part[6];
        for (int k = 0; k < 6; ++k) part[k] = surf[k][i] / 6;
        for (int a = 0; a < 6; ++a)
            for (int c = 0; c < 6; ++c) {
                if (a == c) continue;
                const int64_t pair = static_cast<int64_t>(std::sqrt(static_cast<double>(d[a] * d[a] + d[c] * d[c])));
                if (i + pair < T) surf[c][i + pair] += part[a];
            }
    }
    auto add = [](std::vector<int64_t>& out, int64_t p, double v) {
        out[p] = static_cast<int64_t>(static_cast<double>(out[p]) + v);
    };
    const double w = widthFactor;
    for (int64_t i = 0; i < T; ++i) {
        // Heard in the order front, rear, floor, ceiling, left wall, right wall.
        double v = surf[0][i] * 0.25;
        add(t.outL, d[0] + i, v * w);
        add(t.outR, d[0] + i, v);
        v = surf[3][i] * 0.25;
        add(t.outL, d[3] + i, v);
        add(t.outR, d[3] + i, v * w);
        v = surf[4][i] * 0.25;
        add(t.outL, d[4] + i, v * w);
        add(t.outR, d[4] + i, v);
        v = surf[5][i] * 0.25;
        add(t.outL, d[5] + i, v);
        add(t.outR, d[5] + i, v * w);
        add(t.outL, d[1] + i, surf[1][i] * 0.25);
        add(t.outR, d[2] + i, surf[2][i] * 0.25);
    }
    return t;
}

}  // namespace

TEST(RecurseReverb, RoomOfSeventyFiveFeetHasTheExpectedSurfaceAndPairDistances)
{
    RecursiveReverbState s;
    Buffers b;
    ASSERT_EQ(Room(s, b, kCap, 75.0f), 0);
    EXPECT_EQ(s.firstFlag, 0);
    EXPECT_EQ(s.d1, 2007);
    EXPECT_EQ(s.d2, 1138);
    EXPECT_EQ(s.d3, 1509);
    EXPECT_EQ(s.d4, 1178);
    EXPECT_EQ(s.d5, 806);
    EXPECT_EQ(s.d6, 1261);
    EXPECT_EQ(s.d12, 2307);
    EXPECT_EQ(s.d13, 2511);
    EXPECT_EQ(s.d56, 1496);
    EXPECT_EQ(s.d45, static_cast<int64_t>(std::sqrt(1178.0 * 1178 + 806.0 * 806)));
    EXPECT_EQ(s.Width, 0.5f);
}

TEST(RecurseReverb, EveryDistanceMustFitInTheFirstBlock)
{
    {
        Console con;
        RecursiveReverbState s;
        Buffers b;
        EXPECT_EQ(Room(s, b, kCap, 3950.0f), 1);
        EXPECT_EQ(con.Text(), "Please reduce room size in reverb!\n");
        EXPECT_EQ(s.firstFlag, 1);
    }
    {
        RecursiveReverbState s;
        Buffers b;
        EXPECT_EQ(Room(s, b, kCap, 3900.0f), 0);
        EXPECT_LT(s.d13, kCap);
    }
    // A render shorter than a block: the largest pair distance, d13 = 2511, decides.
    {
        Console con;
        RecursiveReverbState s;
        Buffers b;
        EXPECT_EQ(Room(s, b, 2511, 75.0f), 1);
        EXPECT_EQ(con.Text(), "Please reduce room size in reverb!\n");
    }
    {
        RecursiveReverbState s;
        Buffers b;
        EXPECT_EQ(Room(s, b, 2512, 75.0f), 0);
    }
}

TEST(RecurseReverb, RejectedSettingsPrintTheirMessageAndLeaveTheStateAsItWas)
{
    struct Case {
        float size, x, y, z;
        const char* message;
    };
    const Case cases[] = {
        {75.0f, -1.0f, 39.0f, 43.0f, "Illegal value for reverb position parameter\n"},
        {75.0f, 37.0f, -3.0f, 43.0f, "Illegal value for reverb position parameter\n"},
        {75.0f, 37.0f, 39.0f, 101.0f, "Illegal value for reverb position parameter\n"},
        {75.0f, 37.0f, NAN, 43.0f, "Illegal value for reverb position parameter\n"},
        {-75.0f, 37.0f, 39.0f, 43.0f, "Illegal value for reverb room size\n"},
        {NAN, 37.0f, 39.0f, 43.0f, "Illegal value for reverb room size\n"},
        {INFINITY, 37.0f, 39.0f, 43.0f, "Please reduce room size in reverb!\n"},
    };
    for (const Case& c : cases) {
        Console con;
        RecursiveReverbState s;
        Buffers b;
        b.sendL[0] = 6000.0;
        EXPECT_EQ(Room(s, b, kCap, c.size, 50.0f, c.x, c.y, c.z), 1);
        EXPECT_EQ(con.Text(), c.message);
        EXPECT_EQ(s.firstFlag, 1);
        EXPECT_EQ(s.d1, 0);
        EXPECT_EQ(s.d13, 0);
        EXPECT_TRUE(s.surf[0].empty());
        EXPECT_TRUE(s.spill[0].empty());
        EXPECT_TRUE(std::all_of(b.retL.begin(), b.retL.end(), [](int64_t v) { return v == 0; }));
    }
}

TEST(RecurseReverb, SingleImpulseIsHeardAtEachFedSurfaceThenPassedOnBySixths)
{
    RecursiveReverbState s;
    Buffers b;
    b.sendL[0] = 6000.0;
    ASSERT_EQ(Room(s, b, kCap, 75.0f), 0);
    // First arrivals: floor at 806, left wall at 1138, front wall at 2007; a quarter of
    // 6000 on the full side, half of that (width 50) on the other.
    for (int64_t p = 0; p < 806; ++p) {
        ASSERT_EQ(b.retL[p], 0);
        ASSERT_EQ(b.retR[p], 0);
    }
    EXPECT_EQ(b.retR[806], 1500);
    EXPECT_EQ(b.retL[806], 750);
    EXPECT_EQ(b.retL[1138], 1500);
    EXPECT_EQ(b.retR[1138], 0);
    EXPECT_EQ(b.retR[2007], 1500);
    EXPECT_EQ(b.retL[2007], 750);
    // One hop: each of the three fed surfaces hands 1000 to every other surface.
    // The right wall (3), rear wall (4) and ceiling (6) get it from 1, 2 and 5.
    EXPECT_EQ(s.surf[2][s.d13], 1000);
    EXPECT_EQ(s.surf[2][s.d23], 1000);
    EXPECT_EQ(s.surf[2][s.d35], 1000);
    EXPECT_EQ(s.surf[3][s.d14], 1000);
    EXPECT_EQ(s.surf[3][s.d24], 1000);
    EXPECT_EQ(s.surf[3][s.d45], 1000);
    EXPECT_EQ(s.surf[5][s.d16], 1000);
    EXPECT_EQ(s.surf[5][s.d26], 1000);
    EXPECT_EQ(s.surf[5][s.d56], 1000);
    // ... and is heard a quarter loud after its own distance: right wall, right side only.
    EXPECT_EQ(b.retR[s.d35 + s.d3], 250);
}

TEST(RecurseReverb, WidthFactorMovesTheEndAndFloorSurfacesToOneSide)
{
    // Width 100 (and anything above): front wall and floor right only, rear wall and ceiling left only.
    for (float width : {100.0f, 250.0f}) {
        RecursiveReverbState s;
        Buffers b;
        b.sendL[0] = 6000.0;
        b.sendR[0] = 6000.0;
        ASSERT_EQ(Room(s, b, kCap, 75.0f, width), 0);
        EXPECT_EQ(s.Width, 0.0f);
        EXPECT_EQ(b.retL[806], 0);    // floor
        EXPECT_EQ(b.retR[806], 1500);
        EXPECT_EQ(b.retL[2007], 0);   // front wall
        EXPECT_EQ(b.retR[2007], 1500);
        EXPECT_EQ(b.retL[1178], 1500);   // rear wall
        EXPECT_EQ(b.retR[1178], 0);
        EXPECT_EQ(b.retL[1261], 1500);   // ceiling
        EXPECT_EQ(b.retR[1261], 0);
        EXPECT_EQ(b.retR[1509], 1500);   // right wall
    }
    // Width 0 (and below): both sides equal.
    for (float width : {0.0f, -40.0f, NAN}) {
        RecursiveReverbState s;
        Buffers b;
        b.sendL[0] = 6000.0;
        ASSERT_EQ(Room(s, b, kCap, 75.0f, width), 0);
        EXPECT_EQ(s.Width, 1.0f);
        EXPECT_EQ(b.retL[2007], 1500);
        EXPECT_EQ(b.retR[2007], 1500);
    }
}

TEST(RecurseReverb, SendAndTransfersAreTruncatedTowardZero)
{
    RecursiveReverbState s;
    Buffers b;
    b.sendL[0] = 7.9;    // loads as 7: heard as 1 (1.75), passes 1 per hop
    b.sendR[0] = -5.5;   // loads as -5: heard as -1 (-1.25), passes nothing
    ASSERT_EQ(Room(s, b, kCap, 75.0f), 0);
    EXPECT_EQ(s.surf[0][0], 7);
    EXPECT_EQ(s.surf[2][0], -5);
    EXPECT_EQ(b.retR[s.d1], 1);
    EXPECT_EQ(b.retR[s.d3], -1);
    EXPECT_EQ(s.surf[2][s.d13], 1);
    EXPECT_EQ(s.surf[0][s.d13], 0);
    EXPECT_EQ(b.retR[s.d13 + s.d3], 0);   // a quarter of 1 is lost
}

TEST(RecurseReverb, HugeOrInvalidSendsStayWithinRange)
{
    RecursiveReverbState s;
    Buffers b;
    b.sendL[0] = 1.0e300;
    b.sendR[0] = -INFINITY;
    b.sendL[1] = NAN;
    for (int blk = 0; blk < 3; ++blk) ASSERT_EQ(Room(s, b, 200, 2.0f), 0);
    EXPECT_EQ(s.surf[0][0], int64_t{1} << 59);
    EXPECT_EQ(s.surf[2][0], -(int64_t{1} << 59));
    EXPECT_EQ(s.surf[1][1], 0);
}

TEST(RecurseReverb, TailCrossesBlocksThroughSpillAndCarryLikeOneLongTimeline)
{
    // A small room (distances 21..53, pairs up to 66) rendered in blocks of 100.
    const int64_t N = 100, blocks = 12;
    std::vector<double> inL(N * blocks, 0.0), inR(N * blocks, 0.0);
    inL[0] = 600000.0;
    inL[95] = -360000.0;   // near the block end: its hops spill over
    inR[150] = 900000.0;
    inR[399] = 77777.0;
    for (int64_t i = 500; i < 520; ++i) inL[i] = static_cast<double>((i * 7919) % 20000 - 10000);

    RecursiveReverbState s;
    Buffers b;
    std::vector<int64_t> gotL, gotR;
    for (int64_t blk = 0; blk < blocks; ++blk) {
        b.NextBlock(inL, inR, blk * N, N);
        ASSERT_EQ(Room(s, b, N, 2.0f, 30.0f), 0);
        gotL.insert(gotL.end(), b.retL.begin(), b.retL.begin() + N);
        gotR.insert(gotR.end(), b.retR.begin(), b.retR.begin() + N);
    }
    gotL.insert(gotL.end(), b.carryL.begin(), b.carryL.begin() + N);
    gotR.insert(gotR.end(), b.carryR.begin(), b.carryR.begin() + N);

    const int64_t d[6] = {s.d1, s.d2, s.d3, s.d4, s.d5, s.d6};
    ASSERT_LT(s.d13, N);
    const Timeline t = Model(inL, inR, d, (100.0f - 30.0f) / 100.0f);
    gotL.resize(t.outL.size());
    gotR.resize(t.outR.size());
    EXPECT_EQ(gotL, t.outL);
    EXPECT_EQ(gotR, t.outR);
    // The later blocks, with silent sends between the impulses, still play the tail.
    EXPECT_NE(gotL[N * 4 + 10], 0);
}
