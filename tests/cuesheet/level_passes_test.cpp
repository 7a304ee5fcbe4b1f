#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "corvale/cuesheet/levels.h"
#include "corvale/run/console.h"
#include "corvale/run/run.h"

namespace {

// Points the console at a temporary file for the life of the object.
class ConsoleCapture {
public:
    ConsoleCapture() : file_(std::tmpfile()), saved_(g_console) { g_console = file_; }
    ~ConsoleCapture()
    {
        g_console = saved_;
        std::fclose(file_);
    }
    std::string Text()
    {
        std::fflush(file_);
        std::rewind(file_);
        std::string out;
        for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_)) out.push_back(static_cast<char>(c));
        return out;
    }

private:
    std::FILE* file_;
    std::FILE* saved_;
};

constexpr int64_t kUnity = 134217728;

// Level of a dB value the way a fader level is built: truncation of ratio x 2^27.
int64_t LevelOf(double dB) { return static_cast<int64_t>(std::pow(10.0, dB / 20.0) * 134217728.0); }

std::unique_ptr<::Run> RunWithCue(const char* cue)
{
    auto run = std::make_unique<::Run>();
    run->cue.body = cue;
    return run;
}

void AddEntry(AutomationTables& t, int slot, int64_t time, int64_t level)
{
    const int e = t.count[slot]++;
    t.time[e][slot] = time;
    t.level[e][slot] = level;
}

void AddVcaEntry(AutomationTables& t, int vca, int64_t time, int64_t level)
{
    const int e = t.vcaCount[vca]++;
    t.vcaTime[e][vca] = time;
    t.vcaLevel[e][vca] = level;
}

}  // namespace

TEST(TrimPass, SixDecibelsMultipliesEveryEntryOfTheSlotByTheRatio)
{
    auto run = RunWithCue("title\ntrim\t2\t6\nend\n");
    AddEntry(run->automation, 2, 0, kUnity);
    AddEntry(run->automation, 2, 100, 67268211);
    AddEntry(run->automation, 3, 0, kUnity);
    ConsoleCapture console;
    TrimPass(*run);

    const double ratio = std::pow(10.0, 6.0 / 20.0);
    EXPECT_EQ(run->automation.level[0][2], static_cast<int64_t>(134217728.0 * ratio));
    EXPECT_EQ(run->automation.level[1][2], static_cast<int64_t>(67268211.0 * ratio));
    EXPECT_EQ(run->automation.level[0][2], 267799574);
    EXPECT_EQ(run->automation.level[0][3], kUnity);
    EXPECT_EQ(console.Text(), "");
}

TEST(TrimPass, AboveTwentyFourDecibelsIsBypassedWithItsMessage)
{
    auto run = RunWithCue("trim\t2\t30\ntrim\t4\t24\n");
    AddEntry(run->automation, 2, 0, kUnity);
    AddEntry(run->automation, 4, 0, kUnity);
    ConsoleCapture console;
    TrimPass(*run);

    EXPECT_EQ(console.Text(), "Channel 2 volume trim set above 24 dB. Trim bypassed.\n");
    EXPECT_EQ(run->automation.level[0][2], kUnity);
    // exactly +24 dB is allowed
    EXPECT_EQ(run->automation.level[0][4], static_cast<int64_t>(134217728.0 * std::pow(10.0, 1.2)));
}

TEST(TrimPass, PercentModeTakesTheTrimAsAPercentage)
{
    auto run = RunWithCue("trim\t1\t50\ntrim\t2\t2000\ntrim\t3\t-50\n");
    run->prefs.percent = true;
    AddEntry(run->automation, 1, 0, kUnity);
    AddEntry(run->automation, 2, 0, kUnity);
    AddEntry(run->automation, 3, 0, 1001);
    ConsoleCapture console;
    TrimPass(*run);

    EXPECT_EQ(run->automation.level[0][1], kUnity / 2);
    // 20 x is above the +24 dB ratio of about 15.85
    EXPECT_EQ(run->automation.level[0][2], kUnity);
    EXPECT_EQ(console.Text(), "Channel 2 volume trim set above 24 dB. Trim bypassed.\n");
    // a negative trim gives a negative level, truncated toward zero
    EXPECT_EQ(run->automation.level[0][3], -500);
}

TEST(TrimPass, SlotFieldsReachSubmixesTheMasterAndTheSpareColumnForBadNumbers)
{
    auto run = RunWithCue("trim\tG\t2\t-6\ntrim\tM\t6\ntrim\t300\t-6\n");
    AddEntry(run->automation, 129, 0, kUnity);
    AddEntry(run->automation, 0, 0, kUnity);
    AddEntry(run->automation, 135, 0, kUnity);
    AddEntry(run->automation, 2, 0, kUnity);
    ConsoleCapture console;
    TrimPass(*run);

    EXPECT_EQ(run->automation.level[0][129], static_cast<int64_t>(134217728.0 * std::pow(10.0, -0.3)));
    EXPECT_EQ(run->automation.level[0][0], static_cast<int64_t>(134217728.0 * std::pow(10.0, 0.3)));
    EXPECT_EQ(run->automation.level[0][135], static_cast<int64_t>(134217728.0 * std::pow(10.0, -0.3)));
    EXPECT_EQ(run->automation.level[0][2], kUnity);
    EXPECT_EQ(console.Text(), ">>Channel number out of range or not specified!\n");
}

TEST(TrimPass, TheLastAcceptedLineOfASlotWinsAndTrimsApplyOnce)
{
    auto run = RunWithCue("trim\t5\t-20\ntrim\t5\t-6\ntrim\t5\t40\nend\ntrim\t5\t-40\n");
    AddEntry(run->automation, 5, 0, kUnity);
    ConsoleCapture console;
    TrimPass(*run);

    // -6 dB replaces -20 dB, the bypassed +40 dB does not undo it, and the line
    // after "end" is never read
    EXPECT_EQ(run->automation.level[0][5], static_cast<int64_t>(134217728.0 * std::pow(10.0, -0.3)));
    EXPECT_EQ(console.Text(), "Channel 5 volume trim set above 24 dB. Trim bypassed.\n");
}

TEST(ScalePass, HalvesEveryChannelRowButNotTheMasterOrSubmixes)
{
    auto run = RunWithCue("scale\t0.5\n");
    AddEntry(run->automation, 1, 0, kUnity);
    AddEntry(run->automation, 0, 0, kUnity);
    AddEntry(run->automation, 128, 0, kUnity);
    AddEntry(run->automation, 135, 0, kUnity);
    run->automation.level[511][127] = 1001;  // every row, not only counted entries
    ConsoleCapture console;
    ScalePass(*run);

    EXPECT_EQ(run->automation.level[0][1], kUnity / 2);
    EXPECT_EQ(run->automation.level[511][127], 500);
    EXPECT_EQ(run->automation.level[0][0], kUnity);
    EXPECT_EQ(run->automation.level[0][128], kUnity);
    EXPECT_EQ(run->automation.level[0][135], kUnity);
    EXPECT_EQ(console.Text(), "");
}

TEST(ScalePass, AFactorAboveEightIsBypassedAndNeverReplacesAnAcceptedOne)
{
    {
        auto run = RunWithCue("scale\t10\n");
        AddEntry(run->automation, 1, 0, kUnity);
        ConsoleCapture console;
        ScalePass(*run);
        EXPECT_EQ(run->automation.level[0][1], kUnity);
        EXPECT_EQ(console.Text(), "Scale function value is set above 8.  Scale bypassed\n");
    }
    {
        auto run = RunWithCue("scale\t0.5\nscale\t10\n");
        AddEntry(run->automation, 1, 0, kUnity);
        ConsoleCapture console;
        ScalePass(*run);
        EXPECT_EQ(run->automation.level[0][1], kUnity / 2);
        EXPECT_EQ(console.Text(), "Scale function value is set above 8.  Scale bypassed\n");
    }
    {
        auto run = RunWithCue("scale\t0.5\nscale\t8\n");
        AddEntry(run->automation, 1, 0, 1000);
        ConsoleCapture console;
        ScalePass(*run);
        EXPECT_EQ(run->automation.level[0][1], 8000);  // the last accepted factor, applied once
    }
}

TEST(MasterTrimPass, TrimsChannelsInDecibelsEvenInPercentMode)
{
    auto run = RunWithCue("mtrim\t-6\n");
    run->prefs.percent = true;
    AddEntry(run->automation, 7, 0, kUnity);
    AddEntry(run->automation, 0, 0, kUnity);
    AddEntry(run->automation, 130, 0, kUnity);
    ConsoleCapture console;
    MasterTrimPass(*run);

    EXPECT_EQ(run->automation.level[0][7], static_cast<int64_t>(134217728.0 * std::pow(10.0, -0.3)));
    EXPECT_EQ(run->automation.level[0][0], kUnity);
    EXPECT_EQ(run->automation.level[0][130], kUnity);
    EXPECT_EQ(console.Text(), "");
}

TEST(MasterTrimPass, AboveTwentyFourIsBypassedAndTheLastAcceptedLineWins)
{
    auto run = RunWithCue("mtrim\t-20\nmtrim\t-6\nmtrim\t30\n");
    AddEntry(run->automation, 7, 0, kUnity);
    ConsoleCapture console;
    MasterTrimPass(*run);

    EXPECT_EQ(run->automation.level[0][7], static_cast<int64_t>(134217728.0 * std::pow(10.0, -0.3)));
    EXPECT_EQ(console.Text(), "Master Trim is set above allowed value of 24 dB\n Master trim bypassed\n");
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
    ConsoleCapture console;
    LevelCheck(t);

    EXPECT_EQ(LevelOf(12.02), 535562158);
    EXPECT_EQ(t.level[0][3], 535562158);
    EXPECT_EQ(t.level[1][3], 536870912);
    EXPECT_EQ(t.level[2][3], 0);
    EXPECT_EQ(t.level[0][0], 0);
    EXPECT_EQ(t.level[3][3], 900000000);
    EXPECT_EQ(console.Text(),
              ">> Warning! Volume entry 1 on channel 0 is above +12 dB.  \nEntry reset to -144 dB\n"
              ">> Warning! Volume entry 3 on channel 3 is above +12 dB.  \nEntry reset to -144 dB\n");
}

TEST(OrderWarnings, NameTheFirstEntryNotLaterThanItsPredecessorOncePerFader)
{
    auto run = std::make_unique<::Run>();
    AutomationTables& t = run->automation;
    AddEntry(t, 9, 0, kUnity);
    AddEntry(t, 9, 100, kUnity);
    AddEntry(t, 9, 100, kUnity);  // same time: entry 3
    AddEntry(t, 9, 50, kUnity);   // also out of order, but only one line per fader
    AddEntry(t, 2, 0, kUnity);
    AddEntry(t, 2, 10, kUnity);
    AddEntry(t, 2, 5, kUnity);
    AddEntry(t, 4, 0, kUnity);
    AddEntry(t, 4, 10, kUnity);
    AddVcaEntry(t, 2, 10, kUnity);
    AddVcaEntry(t, 2, 5, kUnity);
    AddVcaEntry(t, 0, 0, kUnity);
    AddVcaEntry(t, 0, 0, kUnity);
    ConsoleCapture console;
    OrderWarnings(t);

    EXPECT_EQ(console.Text(),
              ">> Warning: fader 2 (entry 3) is not later than the entry before it; playback may skip it\n"
              ">> Warning: fader 9 (entry 3) is not later than the entry before it; playback may skip it\n"
              ">> Warning: vca 0 (entry 2) is not later than the entry before it; playback may skip it\n"
              ">> Warning: vca 2 (entry 2) is not later than the entry before it; playback may skip it\n");
}

TEST(DefaultRamps, TwelveDecibelsAtTheDefaultRateTake3000SamplesAt48k)
{
    auto run = std::make_unique<::Run>();
    AutomationTables& t = run->automation;
    AddEntry(t, 3, 0, kUnity);
    AddEntry(t, 3, 480000, LevelOf(-12.0));
    DefaultRamps(t, 4, 48000.0, 0.0);
    EXPECT_EQ(t.ramp[0][3], 0);  // entry 0 never gets a ramp
    EXPECT_EQ(t.ramp[1][3], 12 * 250);

    // a negative dbps means the default too; a positive one sets the rate
    auto other = std::make_unique<::Run>();
    AddEntry(other->automation, 3, 0, kUnity);
    AddEntry(other->automation, 3, 480000, LevelOf(-12.0));
    AddEntry(other->automation, 3, 960000, kUnity);
    DefaultRamps(other->automation, 4, 48000.0, 96.0);
    EXPECT_EQ(other->automation.ramp[1][3], 6000);
    EXPECT_EQ(other->automation.ramp[2][3], 6000);  // the way back up takes as long
}

TEST(DefaultRamps, SilenceCountsAsMinus144AndWrittenRampsStay)
{
    auto run = std::make_unique<::Run>();
    AutomationTables& t = run->automation;
    AddEntry(t, 1, 0, kUnity);
    AddEntry(t, 1, 10, 0);
    AddEntry(t, 1, 20, -5);
    AddEntry(t, 1, 30, kUnity);
    t.ramp[3][1] = 7;
    DefaultRamps(t, 1, 48000.0, -3.0);
    EXPECT_EQ(t.ramp[1][1], 144 * 250);
    EXPECT_EQ(t.ramp[2][1], 0);  // -144 to -144
    EXPECT_EQ(t.ramp[3][1], 7);
}

TEST(DefaultRamps, OnlyPlayedChannelsAndSubmixFadersGetThem)
{
    auto run = std::make_unique<::Run>();
    AutomationTables& t = run->automation;
    for (int slot : {0, 2, 3, 128, 136}) {
        AddEntry(t, slot, 0, kUnity);
        AddEntry(t, slot, 10, LevelOf(-12.0));
    }
    AddVcaEntry(t, 1, 0, kUnity);
    AddVcaEntry(t, 1, 10, LevelOf(-12.0));
    DefaultRamps(t, 2, 48000.0, 0.0);
    EXPECT_EQ(t.ramp[1][0], 3000);
    EXPECT_EQ(t.ramp[1][2], 3000);
    EXPECT_EQ(t.ramp[1][3], 0);  // beyond the track count
    EXPECT_EQ(t.ramp[1][128], 3000);
    EXPECT_EQ(t.ramp[1][136], 3000);
    EXPECT_EQ(t.vcaRamp[1][1], 0);
}

TEST(RampClamp, ARampEndsAtTheNextEntryOfItsFader)
{
    auto run = std::make_unique<::Run>();
    AutomationTables& t = run->automation;
    const int64_t rate = 48000;
    AddEntry(t, 2, 0, kUnity);
    AddEntry(t, 2, 10 * rate, kUnity);
    AddEntry(t, 2, 15 * rate, kUnity);
    t.ramp[1][2] = 20 * rate;
    t.ramp[2][2] = 99 * rate;  // the last entry has no successor
    AddEntry(t, 5, 0, kUnity);
    AddEntry(t, 5, 10, kUnity);
    t.ramp[0][5] = 50;  // slot beyond the track count
    AddVcaEntry(t, 1, 0, kUnity);
    AddVcaEntry(t, 1, 100, kUnity);
    t.vcaRamp[0][1] = 500;
    AddVcaEntry(t, 0, 0, kUnity);
    AddVcaEntry(t, 0, 100, kUnity);
    t.vcaRamp[0][0] = 500;
    RampClamp(t, 3);

    EXPECT_EQ(t.ramp[1][2], 5 * rate);
    EXPECT_EQ(t.ramp[2][2], 99 * rate);
    EXPECT_EQ(t.ramp[0][5], 50);
    EXPECT_EQ(t.vcaRamp[0][1], 100);
    EXPECT_EQ(t.vcaRamp[0][0], 500);  // VCA 0 is not clamped
}

TEST(RampClamp, AHugeDefaultRampIsClampedWithoutOverflow)
{
    auto run = std::make_unique<::Run>();
    AutomationTables& t = run->automation;
    AddEntry(t, 1, 0, kUnity);
    AddEntry(t, 1, 100, 0);
    AddEntry(t, 1, 200, kUnity);
    DefaultRamps(t, 1, 48000.0, 1e-300);
    EXPECT_EQ(t.ramp[1][1], INT64_MAX);
    RampClamp(t, 1);
    EXPECT_EQ(t.ramp[1][1], 100);
}
