// Hostile input to the cue-sheet adjuster: values that are not finite in the
// cue sheet and in the answers, and times beyond the range of an integer.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "tests/quenby/quenby_testing.h"

using qtest::Parse;

TEST(QuenbyHardening, TimesLevelsAndRampsThatAreNotFiniteAreSkippedWithAMessage)
{
    auto e = Parse("mix\nt\t0\t2\t0\nv\t1\t-6\nt\tnan\t0\t0\nv\t1\t-3\nrmp\tinf\nv\t2\t-inf\nv\t3\t1e999\n"
                   "t\t0\t1e999\t0\nv\t4\t0\ninc\t3e38\ninc\t3e38\nv\t5\t0\nofs\tinf\nofs\t-inf\n",
                   3);
    // The bad time leaves the current time at 2 s; the entries after it land there.
    ASSERT_EQ(e->counts[1], 2);
    EXPECT_EQ(e->times[1][1], 2.0f);
    EXPECT_EQ(e->levels[1][1], -3.0f);
    EXPECT_EQ(e->ramps[1][1], 0.0f);
    EXPECT_EQ(e->counts[2], 0);
    EXPECT_EQ(e->counts[3], 0);
    ASSERT_EQ(e->counts[4], 1);
    EXPECT_EQ(e->times[4][0], 2.0f);
    // The second "inc" would pass the float range: the time stays at 3e38 s.
    ASSERT_EQ(e->counts[5], 1);
    EXPECT_EQ(e->times[5][0], 2.0f + 3e38f);
    EXPECT_EQ(e.said,
              ">> Warning: Skipping a time line that is not a finite number of seconds.\n"
              ">> Warning: Skipping a ramp that is not a finite number of seconds.\n"
              ">> Warning: Skipping a level line whose level is not a finite number.\n"
              ">> Warning: Skipping an inc line that is not a finite number of seconds.\n"
              ">> Warning: Skipping an offset that is not a finite number of seconds.\n");
    EXPECT_EQ(qtest::Summary(e, 3),
              ">> Warning: 2 time lines that are not a finite number of seconds were skipped in all.\n"
              ">> Warning: 2 level lines whose level is not a finite number were skipped in all.\n"
              ">> Warning: 2 offsets that are not a finite number of seconds were skipped in all.\n");
}

// Whole seconds are cut toward zero in single precision, also beyond the range
// of a 64-bit integer, and a negative time below one second writes 0 seconds.
TEST(QuenbyHardening, ThreeFieldTimeLinesOfExtremeTimesAreWritten)
{
    auto e = Parse("mix\nt\t0\t1e30\t0\nv\t1\t0\nt\t0\t-0.5\t0\nv\t2\t0\n", 3);
    const std::string byChannel = quenby::Format1(*e, 3);
    // 1e30 in single precision is a whole number: the fraction field is 0.
    char line[128];
    std::snprintf(line, sizeof line, "\nt\t0\t%.0f\t0\n", static_cast<double>(1e30f));
    EXPECT_NE(byChannel.find(line), std::string::npos) << byChannel;
    EXPECT_NE(byChannel.find("\nt\t0\t0\t-500\n"), std::string::npos) << byChannel;
}

TEST(QuenbyHardening, AnswersThatAreNotFiniteOrWouldOverflowChangeNothing)
{
    testutil::TempDir dir;
    testutil::WriteText(dir / "faders.txt", "mix\nt\t0\t3\t0\nv\t1\t-6\nrmp\t2\n");
    const std::string answers = "nt\nnan\nnt\ninf\nav\n-inf\nav\n1e999\nnt\n3e38\nnt\n3e38\nst\n1000\nps\nx\n";
    const auto r = testutil::RunIn(dir.path(), std::string(QUENBY_BIN) + " faders.txt 1", answers);
    EXPECT_EQ(r.status, 0);
    const std::string& out = r.out;
    const size_t notFinite = qtest::Count(out, ">> Warning: Not a finite number: nothing changed.\n");
    const size_t overflow =
        qtest::Count(out, ">> Warning: The result would not be a finite number: nothing changed.\n");
    EXPECT_EQ(notFinite, 4u);
    // 3 + 3e38 is kept, a second 3e38 would pass the float range, and so would
    // scaling 3e38 by 1000.
    EXPECT_EQ(overflow, 2u);
    // 3 s + 3e38 s rounds to the float nearest 3e38.
    char line[128];
    std::snprintf(line, sizeof line, "\nt\t%.3f\nv\t1\t-6.00\nrmp\t2.000\n", static_cast<double>(3e38f));
    EXPECT_NE(out.find(line), std::string::npos) << out;
}

// The entry table is full at 128 channels x 512 entries; the file and the text
// written from it are far beyond 65,535 bytes and are kept whole.
TEST(QuenbyHardening, AFullEntryTableLoadsAndFormatsWhole)
{
    std::string text = "mix\n";
    for (int k = 0; k < 513; ++k) {
        text += "t\t" + std::to_string(k) + "\n";
        for (int c = 0; c < 128; ++c) text += "v\t" + std::to_string(c) + "\t-" + std::to_string(k % 90) + "\n";
    }
    ASSERT_GT(text.size(), 65535u * 8);
    auto e = Parse(text, 1);
    for (int c = 0; c < 128; ++c) ASSERT_EQ(e->counts[c], 512) << c;
    EXPECT_EQ(e->times[127][511], 511.0f);
    // Entry 513 of every channel is refused: the first with a line of its own,
    // then one count per channel.
    EXPECT_EQ(e.said, ">> Warning: Skipping entry 513 of channel 0: a channel holds 512 entries.\n");
    const std::string summary = qtest::Summary(e, 1);
    EXPECT_EQ(summary.rfind(">> Warning: 128 level lines past the 512 entries of a channel were skipped in all:\n"
                            "  channel 0: 1\n  channel 1: 1\n", 0), 0u) << summary;
    EXPECT_EQ(qtest::Count(summary, "\n  channel "), 128u);

    const std::string byChannel = quenby::Format1(*e, 1);
    const std::string byTime = quenby::Format2(*e, 1);
    // Channel order ends with channel 127's last entry, time order with the
    // last time line followed by all 128 channels.
    const auto endsWith = [](const std::string& s, const std::string& end) {
        return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
    };
    EXPECT_TRUE(endsWith(byChannel, "\nt\t511.000\nv\t127\t-61.00\n\n"));
    EXPECT_NE(byTime.find("\nt\t511.000\nv\t0\t-61.00\n"), std::string::npos);
    EXPECT_TRUE(endsWith(byTime, "\nv\t126\t-61.00\nv\t127\t-61.00\n"));
    EXPECT_GT(byChannel.size(), 65535u);
    EXPECT_LT(byTime.size(), byChannel.size());   // one time line per time, not per entry
}
