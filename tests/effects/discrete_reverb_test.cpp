#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>

#include "corvale/effects/reverb.h"
#include "tests/effects/reverb_fixture.h"

using namespace reverb_test;

namespace {

int Tap(DiscreteReverbState& s, Buffers& b, int64_t n, float size, int& taps, float x = 37.0f,
        float y = 39.0f, float z = 43.0f)
{
    return DiscreteReverb(s, kCap, n, 48000.0, b.sendL.data(), b.sendR.data(), size, b.carryL.data(),
                          b.carryR.data(), b.retL.data(), b.retR.data(), taps, x, y, z);
}

int64_t LongestLastTap(const DiscreteReverbState& s)
{
    int64_t longest = 0;
    for (const int64_t* t : {s.Rleft, s.Rright, s.Rfrntwall, s.Rrearwall, s.Rceil, s.Rfloor})
        longest = std::max(longest, t[s.taps - 1]);
    return longest;
}

}  // namespace

TEST(DiscreteReverb, RoomOfSeventyFiveFeetHasTheExpectedDistancesAndTaps)
{
    const RoomDistances d = ComputeRoom(48000.0, 75.0f, 37.0f, 39.0f, 43.0f);
    EXPECT_EQ(d.front, 2007);
    EXPECT_EQ(d.rear, 1178);
    EXPECT_EQ(d.left, 1138);
    EXPECT_EQ(d.right, 1509);
    EXPECT_EQ(d.floor, 806);
    EXPECT_EQ(d.ceiling, 1261);

    DiscreteReverbState s;
    Buffers b;
    int taps = 11;
    ASSERT_EQ(Tap(s, b, 1000, 75.0f, taps), 0);
    EXPECT_EQ(s.firstFlag, 0);
    EXPECT_EQ(s.Rfrntwall[0], 4014);
    // Front wall tap 1 from the rear wall: 2356 + 2007 + sqrt(1178^2 + 2007^2) = 6690.17.
    EXPECT_EQ(s.Rfrntwall[1], 6690);
    // Left wall tap 1 from the right wall: 3018 + 1138 + sqrt(1509^2 + 1138^2) = 6046.007.
    EXPECT_EQ(s.Rleft[1], 6046);
    // Floor tap 2 follows the right wall's tap 1 across their diagonal (1710.8).
    EXPECT_NEAR(static_cast<double>(s.Rfloor[2]), static_cast<double>(s.Rright[1] + 806 + 1710), 1.0);
    for (int k = 0; k < 11; ++k) EXPECT_EQ(s.atten[k], std::ldexp(1.0, -(k + 1)));
}

TEST(DiscreteReverb, SideWallsFeedOneSideAndTheOtherSurfacesBoth)
{
    DiscreteReverbState s;
    Buffers b;
    int taps = 1;
    b.sendL[0] = 1000.0;
    b.sendR[0] = 3000.0;
    ASSERT_EQ(Tap(s, b, 8192, 75.0f, taps), 0);
    // Half level at twice each distance: floor 1612, ceiling 2522, front 4014, rear 2356
    // on both sides, left wall 2276 on the left, right wall 3018 on the right.
    std::vector<int64_t> wantL(kCap, 0), wantR(kCap, 0);
    for (int64_t p : {1612, 2522, 4014, 2356}) {
        wantL[p] = 500;
        wantR[p] = 1500;
    }
    wantL[2276] = 500;
    wantR[3018] = 1500;
    EXPECT_EQ(b.retL, wantL);
    EXPECT_EQ(b.retR, wantR);
}

TEST(DiscreteReverb, ListenerAtTheFrontWallHearsItWithoutDelay)
{
    const RoomDistances d = ComputeRoom(48000.0, 75.0f, 100.0f, 39.0f, 43.0f);
    EXPECT_EQ(d.front, 0);
    EXPECT_EQ(d.rear, 3185);   // the whole length, 3185.84

    DiscreteReverbState s;
    Buffers b;
    int taps = 1;
    b.sendL[7] = 64.0;
    b.sendR[7] = -64.0;
    ASSERT_EQ(Tap(s, b, 1000, 75.0f, taps, 100.0f), 0);
    EXPECT_EQ(b.retL[7], 32);
    EXPECT_EQ(b.retR[7], -32);
}

TEST(DiscreteReverb, EmptyRoomAddsEveryTapAtTheInputSampleTruncatingEachOne)
{
    DiscreteReverbState s;
    Buffers b;
    int taps = 11;
    b.sendL[3] = 1024.0;
    b.sendR[3] = -1024.0;
    b.retL[3] = 100;   // added into, not overwritten
    ASSERT_EQ(Tap(s, b, 100, 0.0f, taps), 0);
    // Five surfaces per side, each 512 + 256 + ... + 1 = 1023; the eleventh tap (0.5) is lost.
    EXPECT_EQ(b.retL[3], 100 + 5115);
    EXPECT_EQ(b.retR[3], -5115);
}

TEST(DiscreteReverb, TapCountIsClampedIntoOneToElevenAndWrittenBack)
{
    for (auto [given, used] : {std::pair{20, 11}, {0, 1}, {-7, 1}, {5, 5}}) {
        DiscreteReverbState s;
        Buffers b;
        int taps = given;
        b.sendL[0] = 1024.0;
        ASSERT_EQ(Tap(s, b, 100, 0.0f, taps), 0);
        EXPECT_EQ(taps, used);
        // Five surfaces of `used` halvings of 1024; a last tap of 0.5 (the eleventh) is lost.
        EXPECT_EQ(b.retL[0], 5 * (1024 - (1024 >> std::min(used, 10))));
    }
}

TEST(DiscreteReverb, TablesAreBuiltOnceAndLaterSettingsAreIgnored)
{
    DiscreteReverbState s;
    Buffers b;
    int taps = 1;
    ASSERT_EQ(Tap(s, b, 100, 0.0f, taps), 0);
    int later = 11;
    b.sendL[0] = 1024.0;
    ASSERT_EQ(Tap(s, b, 100, -75.0f, later, -1.0f), 0);
    EXPECT_EQ(later, 11);
    EXPECT_EQ(b.retL[0], 5 * 512);
}

TEST(DiscreteReverb, RoomTooLongForTheBlockSuggestsFewerTapsOrASmallerRoom)
{
    Console con;
    DiscreteReverbState s;
    Buffers b;
    b.sendL[0] = 1000.0;
    int taps = 11;
    EXPECT_EQ(Tap(s, b, kCap, 400.0f, taps), 1);
    EXPECT_EQ(con.Text(), ">>> Error:  Please decrease reverb tap number to 6 or room length to 254 feet\n");
    EXPECT_EQ(s.firstFlag, 1);
    EXPECT_EQ(s.Rfrntwall[0], 0);
    EXPECT_TRUE(b.Silent());

    DiscreteReverbState ok;
    EXPECT_EQ(Tap(ok, b, kCap, 250.0f, taps), 0);
    EXPECT_GT(LongestLastTap(ok), 120000);
    EXPECT_LT(LongestLastTap(ok), kCap);
}

TEST(DiscreteReverb, RejectedSettingsPrintTheirMessageAndKeepTheStateUnbuilt)
{
    const char* position = ">>> Error:  Illegal value for reverb position parameter\n";
    const char* size = ">>> Error:  Illegal value for tap reverb room size\n";
    const char* dimension = ">>> Error: A tap reverb dimension has exceeded the limit\n";
    struct Case {
        float size, x, y, z;
        const char* message;
    } cases[] = {
        {75.0f, -1.0f, 39.0f, 43.0f, position}, {75.0f, 37.0f, 39.0f, -0.5f, position},
        {75.0f, 37.0f, 139.0f, 43.0f, position}, {75.0f, NAN, 39.0f, 43.0f, position},
        {-1.0f, 37.0f, 39.0f, 43.0f, size},      {NAN, 37.0f, 39.0f, 43.0f, size},
        // The front wall of 1300 feet lies 0.63 x 1300 x 42.48 = 34789 samples away.
        {1300.0f, 37.0f, 39.0f, 43.0f, dimension}, {INFINITY, 37.0f, 39.0f, 43.0f, dimension},
    };
    for (const Case& c : cases) {
        Console con;
        DiscreteReverbState s;
        Buffers b;
        b.sendL[0] = 1000.0;
        int taps = 30;
        EXPECT_EQ(Tap(s, b, 1000, c.size, taps, c.x, c.y, c.z), 1);
        EXPECT_EQ(con.Text(), c.message);
        EXPECT_EQ(taps, 11);   // the clamp comes first
        EXPECT_EQ(s.firstFlag, 1);
        EXPECT_EQ(s.Rleft[0], 0);
        EXPECT_TRUE(b.Silent());
    }
}

TEST(DiscreteReverb, TwoBlocksWithCarryGiveTheSameOutputAsOneLongBlock)
{
    const int64_t N = 40000;
    std::vector<double> inL(2 * N), inR(2 * N);
    for (int64_t i = 0; i < 2 * N; ++i) {
        inL[i] = 3000.0 * std::sin(0.01 * static_cast<double>(i)) + 0.3;
        inR[i] = static_cast<double>(i % 97) * -41.7;
    }
    inL[N - 1] = 1.0e6;   // its reflections all fall into the next block

    DiscreteReverbState whole;
    Buffers w;
    w.NextBlock(inL, inR, 0, 2 * N);
    int taps = 11;
    ASSERT_EQ(Tap(whole, w, 2 * N, 50.0f, taps), 0);
    ASSERT_LT(LongestLastTap(whole), N);   // one block of carry holds the whole reach
    std::vector<int64_t> wantL(w.retL.begin(), w.retL.begin() + 2 * N), wantR(w.retR.begin(), w.retR.begin() + 2 * N);
    wantL.insert(wantL.end(), w.carryL.begin(), w.carryL.begin() + N);
    wantR.insert(wantR.end(), w.carryR.begin(), w.carryR.begin() + N);

    DiscreteReverbState split;
    Buffers h;
    std::vector<int64_t> gotL, gotR;
    for (int64_t from : {int64_t{0}, N}) {
        h.NextBlock(inL, inR, from, N);
        ASSERT_EQ(Tap(split, h, N, 50.0f, taps), 0);
        gotL.insert(gotL.end(), h.retL.begin(), h.retL.begin() + N);
        gotR.insert(gotR.end(), h.retR.begin(), h.retR.begin() + N);
        // The left wall lies 0.43 x 0.83116 x 42.48 x 50 = 759 samples away.
        if (from == 0) {
            EXPECT_GT(h.carryL[2 * 759 - 1], 400000);
        }
    }
    gotL.insert(gotL.end(), h.carryL.begin(), h.carryL.begin() + N);
    gotR.insert(gotR.end(), h.carryR.begin(), h.carryR.begin() + N);
    EXPECT_EQ(gotL, wantL);
    EXPECT_EQ(gotR, wantR);
}
