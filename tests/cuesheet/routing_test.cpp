#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

#include "corvale/cuesheet/routing.h"
#include "tests/console_capture.h"

namespace {

// Runs the routing passes over body for channelCount channels, all active at first.
struct Routed {
    Routing routing;
    std::array<int, kChannelRows> active{};
    std::string console;
};

std::unique_ptr<Routed> Route(const char* body, int channelCount = 8)
{
    auto r = std::make_unique<Routed>();
    for (int ch = 1; ch <= channelCount; ++ch) r->active[ch] = 1;
    ConsoleCapture console;
    ReadRouting(body, channelCount, r->active.data(), r->routing);
    ReadVcaAssignment(body, r->routing);
    r->console = console.Text();
    return r;
}

}  // namespace

TEST(Routing, WithoutSubLinesEveryChannelFeedsTheDirectBusOnly)
{
    const auto r = Route("\ntitle\nt\t0\t0\t0\nv\t1\t0\nend\n");
    for (int row = 0; row < kChannelRows; ++row) {
        EXPECT_EQ(r->routing.route[row][0], 1) << row;
        for (int s = 1; s < kSubmixes; ++s) EXPECT_EQ(r->routing.route[row][s], 0);
    }
    EXPECT_EQ(r->routing.subOn[0], 1);
    for (int s = 1; s < kSubmixes; ++s) EXPECT_EQ(r->routing.subOn[s], 0);
    for (int ch = 1; ch <= 8; ++ch) EXPECT_EQ(r->active[ch], 1);
    EXPECT_EQ(r->console, "");
}

TEST(Routing, SubListMovesChannelsOffTheDirectBus)
{
    const auto r = Route("\nsub\t2\t1,3\n");
    EXPECT_EQ(r->routing.route[1][2], 1);
    EXPECT_EQ(r->routing.route[3][2], 1);
    EXPECT_EQ(r->routing.route[1][0], 0);
    EXPECT_EQ(r->routing.route[3][0], 0);
    EXPECT_EQ(r->routing.route[2][0], 1);
    EXPECT_EQ(r->routing.route[2][2], 0);
    EXPECT_EQ(r->routing.subOn[2], 1);
    EXPECT_EQ(r->routing.subList[2], "1,3");
    EXPECT_EQ(r->active[1], 1);
}

TEST(Routing, LaterSubLineReplacesTheListAndChannelsMayFeedSeveralSubmixes)
{
    const auto r = Route("\nsub\t2\t1,3\nsub\t4\t3,5\nsub\t2\t6\nend\nsub\t2\t7\n");
    EXPECT_EQ(r->routing.route[1][2], 0);   // the first list of 2 was replaced
    EXPECT_EQ(r->routing.route[1][0], 1);
    EXPECT_EQ(r->routing.route[6][2], 1);
    EXPECT_EQ(r->routing.route[7][2], 0);   // after "end"
    EXPECT_EQ(r->routing.route[3][4], 1);
    EXPECT_EQ(r->routing.route[5][4], 1);
    EXPECT_EQ(r->routing.route[3][0], 0);
}

TEST(Routing, OutOfRangeSubmixAndChannelsAreReported)
{
    const auto r = Route("\nsub\t9\t1,2\nsub\t-1\t1\nsub\t3\t0,2,128,abc,,4\n");
    EXPECT_EQ(r->console,
              "Submix number out of range!\nSubmix number out of range!\n"
              "Channel assigned to sub 3 is out of range!\n"
              "Channel assigned to sub 3 is out of range!\n"
              "Channel assigned to sub 3 is out of range!\n");
    EXPECT_EQ(r->routing.route[2][3], 1);
    EXPECT_EQ(r->routing.route[4][3], 1);
    EXPECT_EQ(r->routing.route[1][0], 1);
    for (int s = 1; s < kSubmixes; ++s) {
        if (s != 3) {
            EXPECT_EQ(r->routing.subOn[s], 0) << s;
        }
    }
}

TEST(Routing, ListsLongerThan511CharactersAreRejected)
{
    std::string longList = "7";
    while (longList.size() <= 511) longList += ",7";
    const std::string fits(508, ',');   // with "5,6": 511 characters
    const std::string body = "\nsub\t2\t1\nsub\t2\t" + longList + "\nsub\t3\t" + fits + "5,6\n" +
                             "VCA:\t1\t" + longList + "\n";
    const auto r = Route(body.c_str());
    EXPECT_EQ(r->console,
              "Channel list of submix 2 is longer than 511 characters; line ignored.\n"
              "Slot list of VCA 1 is longer than 511 characters; line ignored.\n");
    EXPECT_EQ(r->routing.route[1][2], 1);   // the earlier list stays
    EXPECT_EQ(r->routing.route[7][2], 0);
    EXPECT_EQ(r->routing.route[6][3], 1);   // 511 characters are kept whole
    EXPECT_EQ(r->routing.vcaInUse[1], 0);
    EXPECT_EQ(r->routing.vcaAssign[7], 0);
}

TEST(Routing, FieldsMissingAtTheEndOfTheText)
{
    const auto r = Route("\nsub\t2\t1\nsub\t5");
    EXPECT_EQ(r->routing.subOn[5], 1);
    EXPECT_EQ(r->routing.subList[5], "");
    EXPECT_EQ(r->console, "");

    const auto bare = Route("\nVCA:\t3\t4\nsub");
    EXPECT_EQ(bare->routing.subOn[0], 1);
    EXPECT_EQ(bare->routing.vcaAssign[4], 3);

    const auto vca = Route("\nVCA:");
    EXPECT_EQ(vca->console, "VCA fader out of range!\n");
}

TEST(Mutes, MutedSubmixSwitchesOffChannelsThatFeedOnlyIt)
{
    const auto r = Route("\nsub\t2\t1,3,4\nsub\t3\t4\nsubmu\t2\nsubmu\t0\nsubmu\t12\n");
    EXPECT_EQ(r->routing.subOn[2], 0);
    EXPECT_EQ(r->routing.subOn[3], 1);
    EXPECT_EQ(r->routing.subOn[0], 1);
    EXPECT_EQ(r->active[1], 0);
    EXPECT_EQ(r->active[3], 0);
    EXPECT_EQ(r->active[4], 1);   // also feeds submix 3
    EXPECT_EQ(r->active[2], 1);   // direct bus
    EXPECT_EQ(r->console, "");
}

TEST(Solos, SoloSilencesTheDirectBusAndEveryOtherSubmix)
{
    const auto r = Route("\nsub\t2\t1\nsub\t3\t2,5\nsubso\t3\nsubso\t9\n");
    EXPECT_EQ(r->routing.subOn[0], 0);
    EXPECT_EQ(r->routing.subOn[2], 0);
    EXPECT_EQ(r->routing.subOn[3], 1);
    EXPECT_EQ(r->routing.solo[3], 1);
    EXPECT_EQ(r->active[1], 0);
    EXPECT_EQ(r->active[2], 1);
    EXPECT_EQ(r->active[5], 1);
    EXPECT_EQ(r->active[3], 0);   // fed only the direct bus
    EXPECT_EQ(r->active[8], 0);

    const auto none = Route("\nsubso\t0\nsubso\t9\n");
    EXPECT_EQ(none->routing.subOn[0], 1);
    EXPECT_EQ(none->active[1], 1);
}

TEST(Vca, ListedSlotsFollowTheirVca)
{
    const auto r = Route("\nVCA:\t1\t2,5,129\nVCA:\t0\t3\nVCA:\t9\t3\n");
    EXPECT_EQ(r->routing.vcaAssign[2], 1);
    EXPECT_EQ(r->routing.vcaAssign[5], 1);
    EXPECT_EQ(r->routing.vcaAssign[129], 1);
    EXPECT_EQ(r->routing.vcaAssign[3], 0);
    EXPECT_EQ(r->routing.vcaInUse[1], 1);
    EXPECT_TRUE(r->routing.anyVca());
    EXPECT_EQ(r->console, "VCA fader out of range!\nVCA fader out of range!\n");
}

TEST(Vca, SlotUnderTwoVcasFollowsTheHigherOne)
{
    const auto r = Route("\nVCA:\t3\t5,0,136\nVCA:\t1\t5,6,137,-1\nVCA:\t2\t9\nVCA:\t2\t6\n");
    EXPECT_EQ(r->routing.vcaAssign[5], 3);
    EXPECT_EQ(r->routing.vcaAssign[6], 2);
    EXPECT_EQ(r->routing.vcaAssign[9], 0);   // replaced list of VCA 2
    EXPECT_EQ(r->routing.vcaAssign[0], 3);
    EXPECT_EQ(r->routing.vcaAssign[136], 3);
    EXPECT_EQ(r->console,
              "Channel assigned to VCA 1 is out of range!\nChannel assigned to VCA 1 is out of range!\n");

    const auto none = Route("\nv\t1\t0\n");
    EXPECT_FALSE(none->routing.anyVca());
}
