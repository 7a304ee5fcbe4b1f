#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "corvale/cuesheet/levels.h"
#include "corvale/run/console.h"
#include "corvale/run/run.h"
#include "tests/console_capture.h"

namespace {

// Runs f with the console captured and returns what it printed.
template <class F>
std::string Printed(F&& f)
{
    ConsoleCapture console;
    f();
    return console.Text();
}

constexpr int64_t kUnity = 134217728;

// A fader level built the plain way: truncation of 10^(dB/20) x 2^27.
int64_t LevelOf(double dB) { return static_cast<int64_t>(std::pow(10.0, dB / 20.0) * 134217728.0); }
int64_t Times(int64_t level, double dB) { return static_cast<int64_t>(double(level) * std::pow(10.0, dB / 20.0)); }

std::unique_ptr<::Run> RunWithCue(const char* cue, bool percent = false)
{
    auto run = std::make_unique<::Run>();
    run->cue.body = cue;
    run->prefs.percent = percent;
    return run;
}

void AddEntry(AutomationTables& t, int slot, int64_t time, int64_t level)
{
    const int e = t.count[slot]++;
    t.time[e][slot] = time;
    t.level[e][slot] = level;
}

void AddVcaEntry(AutomationTables& t, int vca, int64_t time)
{
    t.vcaTime[t.vcaCount[vca]++][vca] = time;
}

}  // namespace

TEST(TrimPass, DecibelTrimsMultiplyEveryEntryAndAboveTwentyFourAreBypassed)
{
    auto run = RunWithCue("title\ntrim\t2\t6\ntrim\t4\t24\ntrim\t3\t30\ntrim\t5\t-20\ntrim\t5\t-6\ntrim\t5\t40\n"
                          "end\ntrim\t4\t-6\n");
    AutomationTables& t = run->automation;
    AddEntry(t, 2, 0, kUnity);
    AddEntry(t, 2, 100, 67268211);
    for (int slot : {3, 4, 5, 6}) AddEntry(t, slot, 0, kUnity);
    const std::string out = Printed([&] { TrimPass(*run); });

    EXPECT_EQ(t.level[0][2], 267799574);  // 2^27 x 1.99526231...
    EXPECT_EQ(t.level[1][2], Times(67268211, 6));
    EXPECT_EQ(t.level[0][4], Times(kUnity, 24));  // exactly +24 dB passes; the line after "end" is unread
    EXPECT_EQ(t.level[0][3], kUnity);
    // -6 replaces -20 and the bypassed +40 leaves it in force
    EXPECT_EQ(t.level[0][5], Times(kUnity, -6));
    EXPECT_EQ(t.level[0][6], kUnity);
    EXPECT_EQ(out, "Channel 3 volume trim set above 24 dB. Trim bypassed.\n"
                   "Channel 5 volume trim set above 24 dB. Trim bypassed.\n");
}

TEST(TrimPass, PercentTrimsAreRatiosOverOneHundred)
{
    auto run = RunWithCue("trim\t1\t50\ntrim\t2\t2000\ntrim\t3\t-50\n", true);
    AutomationTables& t = run->automation;
    AddEntry(t, 1, 0, kUnity);
    AddEntry(t, 2, 0, kUnity);
    AddEntry(t, 3, 0, 1001);
    const std::string out = Printed([&] { TrimPass(*run); });

    EXPECT_EQ(t.level[0][1], kUnity / 2);
    EXPECT_EQ(t.level[0][2], kUnity);  // 20 is above the +24 dB ratio of about 15.85
    EXPECT_EQ(t.level[0][3], -500);    // negative, truncated toward zero
    EXPECT_EQ(out, "Channel 2 volume trim set above 24 dB. Trim bypassed.\n");
}

TEST(TrimPass, SlotFieldsNameSubmixesTheMasterAndSlot135WhenOutOfRange)
{
    auto run = RunWithCue("trim\tG\t2\t-6\ntrim\tM\t6\ntrim\t300\t-6\n");
    AutomationTables& t = run->automation;
    for (int slot : {129, 0, 135, 2}) AddEntry(t, slot, 0, kUnity);
    const std::string out = Printed([&] { TrimPass(*run); });

    EXPECT_EQ(t.level[0][129], Times(kUnity, -6));
    EXPECT_EQ(t.level[0][0], Times(kUnity, 6));
    EXPECT_EQ(t.level[0][135], Times(kUnity, -6));
    EXPECT_EQ(t.level[0][2], kUnity);
    EXPECT_EQ(out, ">>Channel number out of range or not specified!\n");
}

TEST(ScalePass, ScalesEveryChannelRowByTheLastFactorThatPassed)
{
    auto run = RunWithCue("scale\t0.5\nscale\t10\n");
    AutomationTables& t = run->automation;
    for (int slot : {1, 0, 128, 135}) AddEntry(t, slot, 0, kUnity);
    t.level[511][127] = 1001;  // all rows, not only counted entries
    const std::string out = Printed([&] { ScalePass(*run); });

    EXPECT_EQ(t.level[0][1], kUnity / 2);
    EXPECT_EQ(t.level[511][127], 500);
    EXPECT_EQ(t.level[0][0], kUnity);
    EXPECT_EQ(t.level[0][128], kUnity);
    EXPECT_EQ(t.level[0][135], kUnity);
    EXPECT_EQ(out, "Scale function value is set above 8.  Scale bypassed\n");

    auto bypassed = RunWithCue("scale\t10\n");
    AddEntry(bypassed->automation, 1, 0, kUnity);
    Printed([&] { ScalePass(*bypassed); });
    EXPECT_EQ(bypassed->automation.level[0][1], kUnity);
}

TEST(MasterTrimPass, TrimsChannelsInDecibelsWithTheLastAcceptedLine)
{
    auto run = RunWithCue("mtrim\t-20\nmtrim\t-6\nmtrim\t30\n", true);  // dB even in percent mode
    AutomationTables& t = run->automation;
    for (int slot : {7, 0, 130}) AddEntry(t, slot, 0, kUnity);
    const std::string out = Printed([&] { MasterTrimPass(*run); });

    EXPECT_EQ(t.level[0][7], Times(kUnity, -6));
    EXPECT_EQ(t.level[0][0], kUnity);
    EXPECT_EQ(t.level[0][130], kUnity);
    EXPECT_EQ(out, "Master Trim is set above allowed value of 24 dB\n Master trim bypassed\n");
}

TEST(LevelCheck, LevelsBeyondTwoToTheTwentyNinthAreResetWithAWarning)
{
    auto run = std::make_unique<::Run>();
    AutomationTables& t = run->automation;
    AddEntry(t, 3, 0, LevelOf(12.02));
    AddEntry(t, 3, 10, 536870912);
    AddEntry(t, 3, 20, 536870913);
    AddEntry(t, 0, 0, -536870913);
    t.level[3][3] = 900000000;  // beyond the entry count: not checked
    const std::string out = Printed([&] { LevelCheck(t); });

    EXPECT_EQ(t.level[0][3], 535562158);
    EXPECT_EQ(t.level[1][3], 536870912);
    EXPECT_EQ(t.level[2][3], 0);
    EXPECT_EQ(t.level[0][0], 0);
    EXPECT_EQ(t.level[3][3], 900000000);
    EXPECT_EQ(out, ">> Warning! Volume entry 1 on channel 0 is above +12 dB.  \nEntry reset to -144 dB\n"
                   ">> Warning! Volume entry 3 on channel 3 is above +12 dB.  \nEntry reset to -144 dB\n");
}

TEST(OrderWarnings, NameTheFirstEntryNotLaterThanItsPredecessorOncePerFaderThenPerVca)
{
    auto run = std::make_unique<::Run>();
    AutomationTables& t = run->automation;
    for (int64_t time : {0, 100, 100, 50}) AddEntry(t, 9, time, kUnity);
    for (int64_t time : {0, 10, 5}) AddEntry(t, 2, time, kUnity);
    for (int64_t time : {0, 10}) AddEntry(t, 4, time, kUnity);
    for (int64_t time : {10, 5}) AddVcaEntry(t, 2, time);
    for (int64_t time : {0, 0}) AddVcaEntry(t, 0, time);
    const std::string out = Printed([&] { OrderWarnings(t); });

    EXPECT_EQ(out, ">> Warning: fader 2 (entry 3) is not later than the entry before it; playback may skip it\n"
                   ">> Warning: fader 9 (entry 3) is not later than the entry before it; playback may skip it\n"
                   ">> Warning: vca 0 (entry 2) is not later than the entry before it; playback may skip it\n"
                   ">> Warning: vca 2 (entry 2) is not later than the entry before it; playback may skip it\n");
}

TEST(DefaultRamps, MoveAtTheRampRateBetweenEntriesWithoutARamp)
{
    auto run = std::make_unique<::Run>();
    AutomationTables& t = run->automation;
    // 0 dB to -12 dB at the default 192 dB/s and 48000 Hz: 12 x 250 samples
    AddEntry(t, 3, 0, kUnity);
    AddEntry(t, 3, 480000, LevelOf(-12.0));
    // silence (and a negative level) counts as -144 dB; a written ramp stays
    for (int64_t level : {kUnity, int64_t{0}, int64_t{-5}, kUnity}) AddEntry(t, 1, 0, level);
    t.ramp[3][1] = 7;
    DefaultRamps(t, 4, 48000.0, -3.0);
    EXPECT_EQ(t.ramp[0][3], 0);
    EXPECT_EQ(t.ramp[1][3], 3000);
    EXPECT_EQ(t.ramp[1][1], 144 * 250);
    EXPECT_EQ(t.ramp[2][1], 0);
    EXPECT_EQ(t.ramp[3][1], 7);

    auto slow = std::make_unique<::Run>();
    AddEntry(slow->automation, 3, 0, kUnity);
    AddEntry(slow->automation, 3, 480000, LevelOf(-12.0));
    DefaultRamps(slow->automation, 4, 48000.0, 96.0);
    EXPECT_EQ(slow->automation.ramp[1][3], 6000);
}

TEST(DefaultRamps, OnlyPlayedChannelsAndSubmixFadersGetThem)
{
    auto run = std::make_unique<::Run>();
    AutomationTables& t = run->automation;
    for (int slot : {0, 2, 3, 128, 136}) {
        AddEntry(t, slot, 0, kUnity);
        AddEntry(t, slot, 10, LevelOf(-12.0));
    }
    AddVcaEntry(t, 1, 0);
    AddVcaEntry(t, 1, 10);
    t.vcaLevel[1][1] = kUnity;
    DefaultRamps(t, 2, 48000.0, 0.0);
    EXPECT_EQ(t.ramp[1][0], 3000);
    EXPECT_EQ(t.ramp[1][2], 3000);
    EXPECT_EQ(t.ramp[1][3], 0);  // beyond the track count
    EXPECT_EQ(t.ramp[1][128], 3000);
    EXPECT_EQ(t.ramp[1][136], 3000);
    EXPECT_EQ(t.vcaRamp[1][1], 0);
}

TEST(RampClamp, ARampEndsAtTheNextEntryOfItsFaderOrVca)
{
    auto run = std::make_unique<::Run>();
    AutomationTables& t = run->automation;
    const int64_t rate = 48000;
    for (int64_t s : {0, 10, 15}) AddEntry(t, 2, s * rate, kUnity);
    t.ramp[1][2] = 20 * rate;  // 20 s at 10 s, next entry at 15 s
    t.ramp[2][2] = 99 * rate;  // the last entry has no successor
    AddEntry(t, 5, 0, kUnity);
    AddEntry(t, 5, 10, kUnity);
    t.ramp[0][5] = 50;  // beyond the track count
    for (int vca : {0, 1}) {
        AddVcaEntry(t, vca, 0);
        AddVcaEntry(t, vca, 100);
        t.vcaRamp[0][vca] = 500;
    }
    RampClamp(t, 3);
    EXPECT_EQ(t.ramp[1][2], 5 * rate);
    EXPECT_EQ(t.ramp[2][2], 99 * rate);
    EXPECT_EQ(t.ramp[0][5], 50);
    EXPECT_EQ(t.vcaRamp[0][1], 100);
    EXPECT_EQ(t.vcaRamp[0][0], 500);  // VCA 0 is not clamped

    // a default ramp beyond the 64-bit range (tiny dbps) is clamped without overflow
    AddEntry(t, 1, 0, kUnity);
    AddEntry(t, 1, 100, 0);
    AddEntry(t, 1, 200, kUnity);
    DefaultRamps(t, 1, 48000.0, 1e-300);
    EXPECT_EQ(t.ramp[1][1], INT64_MAX);
    RampClamp(t, 1);
    EXPECT_EQ(t.ramp[1][1], 100);
}
