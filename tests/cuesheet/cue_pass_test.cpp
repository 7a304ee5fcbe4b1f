#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <string>

#include "corvale/run/run.h"
#include "tests/console_capture.h"

namespace {

std::unique_ptr<Run> MakeRun(double rate = 48000.0, int64_t songLength = 48000 * 600)
{
    auto run = std::make_unique<::Run>();
    run->tracks.sampleRate = rate;
    run->tracks.songLength = songLength;
    run->prefs.verbo = 1;
    return run;
}

// Runs the cue pass over body; returns its status and keeps what it printed.
int Cue(Run& run, const std::string& body, std::string* printed = nullptr)
{
    run.cue.body = body;
    ConsoleCapture console;
    const int status = CuePass(run);
    if (printed) *printed = console.Text();
    return status;
}

std::string Repeat(const std::string& line, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i) out += line;
    return out;
}

}  // namespace

TEST(FaderLevels, DecibelsConvertWithTheTextsExamples)
{
    auto run = MakeRun();
    std::string out;
    ASSERT_EQ(Cue(*run, "\nt\t0\t0\t0\nv\t1\t-6\nv\t2\t0\nv\t3\t12.02\nv\t4\t-200\nv\t5\t13\n", &out), 0);
    const auto& t = run->automation;
    EXPECT_EQ(t.level[0][1], 67268211);
    EXPECT_EQ(t.level[0][2], 134217728);
    EXPECT_EQ(t.level[0][3], 535562158);
    EXPECT_EQ(t.level[0][4], static_cast<int64_t>(std::pow(10.0, -144.0 / 20.0) * 134217728.0));
    EXPECT_EQ(t.level[0][5], 535562158);
    EXPECT_EQ(out, ">> Warning: fader 5 (entry 1) set above 12.02 dB\n");
}

TEST(FaderLevels, PercentModeIsLinearAndClampedTo0To400)
{
    auto run = MakeRun();
    run->prefs.percent = true;
    std::string out;
    ASSERT_EQ(Cue(*run, "\nv\t1\t50\nv\t2\t100\nv\t3\t450\nv\t1\t-5\nv\t4\t400\n", &out), 0);
    const auto& t = run->automation;
    EXPECT_EQ(t.level[0][1], 67108864);
    EXPECT_EQ(t.level[0][2], 134217728);
    EXPECT_EQ(t.level[0][3], 536870912);
    EXPECT_EQ(t.level[1][1], 0);
    EXPECT_EQ(t.level[0][4], 536870912);
    EXPECT_EQ(out, ">> Warning: fader 3 (entry 1) set above 400 percent\n"
                   ">> Warning: fader 1 (entry 2) set below 0 percent\n");
}

TEST(FaderLevels, CheckFaderClampsAndNamesSlotAndEntry)
{
    ConsoleCapture console;
    EXPECT_EQ(CheckFader(13.0, false, 7, 3), 12.02);
    EXPECT_EQ(CheckFader(-150.0, false, 7, 3), -144.0);
    EXPECT_EQ(CheckFader(NAN, false, 7, 3), -144.0);
    EXPECT_EQ(CheckFader(401.0, true, 130, 1), 400.0);
    EXPECT_EQ(CheckFader(-0.5, true, 130, 2), 0.0);
    EXPECT_EQ(CheckFader(NAN, true, 130, 2), 0.0);
    EXPECT_EQ(console.Text(), ">> Warning: fader 7 (entry 3) set above 12.02 dB\n"
                              ">> Warning: fader 130 (entry 1) set above 400 percent\n"
                              ">> Warning: fader 130 (entry 2) set below 0 percent\n");
    EXPECT_EQ(FaderLevel(NAN, false), 0);
}

TEST(CuePass, EntriesTakeTheCurrentTimeAndAreCounted)
{
    auto run = MakeRun();
    run->prefs.verbo = 2;
    std::string out;
    ASSERT_EQ(Cue(*run, "\ntitle\nt\t0\t0\t0\nv\t3\t0\nt\t0\t10\t0\nv\t3\t-12\ninc\t0.5\nv\t3\t-6\n"
                        "vca\t2\t-3\nend\nv\t3\t0\n",
                  &out),
              0);
    const auto& t = run->automation;
    EXPECT_EQ(t.count[3], 3);
    EXPECT_EQ(t.time[0][3], 0);
    EXPECT_EQ(t.time[1][3], 480000);
    EXPECT_EQ(t.time[2][3], 504000);
    EXPECT_EQ(t.level[1][3], static_cast<int64_t>(std::pow(10.0, -12.0 / 20.0) * 134217728.0));
    EXPECT_EQ(t.vcaCount[2], 1);
    EXPECT_EQ(t.vcaTime[0][2], 504000);
    EXPECT_EQ(t.vcaLevel[0][2], static_cast<int64_t>(std::pow(10.0, -3.0 / 20.0) * 134217728.0));
    EXPECT_EQ(run->timing.entries, 2);
    EXPECT_EQ(out, "Reading volume and pan settings...\nCounted 2 time entries.\n");
}

TEST(CuePass, SlotFieldNamesChannelsSubmixesAndMaster)
{
    auto run = MakeRun();
    std::string out;
    ASSERT_EQ(Cue(*run, "\nv\tG\t2\t-6\nv\tG\t9\t0\nv\tM\t0\nv\t200\t0\nv\tG\t0\t0\n", &out), 0);
    const auto& t = run->automation;
    EXPECT_EQ(t.count[129], 1);
    EXPECT_EQ(t.level[0][129], 67268211);
    EXPECT_EQ(t.count[135], 2);   // G 9 and 200 both land in 135
    EXPECT_EQ(t.count[0], 1);
    EXPECT_EQ(t.count[127], 1);
    EXPECT_EQ(t.masterFaderFlag, 1);
    EXPECT_EQ(t.subFaderFlag[2], 1);
    EXPECT_EQ(t.subFaderFlag[8], 1);
    EXPECT_EQ(t.subFaderFlag[1], 0);
    EXPECT_EQ(out, ">>Channel number out of range or not specified!\n"
                   ">>Channel number out of range or not specified!\n");

    // A field that reads as 0 addresses the master without raising its flag.
    auto plain = MakeRun();
    ASSERT_EQ(Cue(*plain, "\nv\tx\t-6\n"), 0);
    EXPECT_EQ(plain->automation.count[0], 1);
    EXPECT_EQ(plain->automation.masterFaderFlag, 0);
}

TEST(CuePass, RampsAndShapesGoToTheLatestEntry)
{
    auto run = MakeRun();
    std::string out;
    ASSERT_EQ(Cue(*run, "\nt\t0\t0\t0\nv\t3\t0\nvca\t1\t0\nt\t0\t10\t0\nv\t3\t-12\nrmp\t2.5\nshape\t2\n"
                        "vca\t1\t-6\nrmp\t0.7\nshape\t0.5\nshape\t9\nshape\t0.1\nshape\tnan\n"
                        "v\t4\t0\nv\t4\t-3\nshape\t8\nv\t5\t0\nv\t5\t0\nshape\t0.125\n",
                  &out),
              0);
    const auto& t = run->automation;
    EXPECT_EQ(t.ramp[1][3], 120000);
    EXPECT_EQ(t.shape[1][3], 2.0f);
    EXPECT_EQ(t.shape[0][3], 1.0f);
    EXPECT_EQ(t.vcaRamp[1][1], 33600);   // 0.7 s read as a double
    EXPECT_EQ(t.vcaShape[1][1], 0.5f);
    EXPECT_EQ(t.shape[1][4], 8.0f);
    EXPECT_EQ(t.shape[1][5], 0.125f);
    EXPECT_EQ(t.ramp[0][3], 0);
    EXPECT_EQ(out, "");
}

TEST(RampChecks, RampUnderAnInitialEntryIsRemoved)
{
    auto run = MakeRun();
    std::string out;
    ASSERT_EQ(Cue(*run, "\nt\t0\t0\t0\nv\t1\t0\nv\t1\t-6\nrmp\t1\nt\t0\t5\t0\nv\t2\t0\nrmp\t1\n"
                        "vca\t4\t0\nrmp\t2\n",
                  &out),
              0);
    const auto& t = run->automation;
    EXPECT_EQ(t.ramp[1][1], 0);   // second entry, but at time 0
    EXPECT_EQ(t.ramp[0][2], 0);   // first entry of slot 2
    EXPECT_EQ(t.vcaRamp[0][4], 0);
    EXPECT_EQ(out,
              "Error:  A ramp was found under an initial volume entry (channel 1).\nThis is for initial volume only.\n"
              "Error:  A ramp was found under an initial volume entry (channel 2).\nThis is for initial volume only.\n"
              "Error:  A ramp was found under an initial volume entry (channel 4).\nThis is for initial volume only.\n");
}

TEST(RampChecks, RampsPastTheSongEndAreCutAndNegativeOnesReset)
{
    auto run = MakeRun(48000.0, 48000 * 12);
    std::string out;
    ASSERT_EQ(Cue(*run, "\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nv\t3\t0\nvca\t1\t0\n"
                        "t\t0\t10\t0\nv\t1\t-6\nrmp\t5\n"       // 10 s + 5 s > 12 s: cut to 2 s
                        "v\t2\t-6\nofs\t3\nrmp\t0\n"            // shifted past the end: negative
                        "v\t3\t-6\nrmp\t-1\n"                    // negative as written
                        "v\t3\t-6\nrmp\t2\n"                     // exactly at the end: kept
                        "vca\t1\t-6\nrmp\t4\nvca\t1\t-3\nrmp\t-0.5\n",
                  &out),
              0);
    const auto& t = run->automation;
    EXPECT_EQ(t.ramp[1][1], 96000);
    EXPECT_EQ(t.time[1][2], 480000 + 144000);
    EXPECT_EQ(t.ramp[1][2], 0);
    EXPECT_EQ(t.ramp[1][3], 0);
    EXPECT_EQ(t.ramp[2][3], 96000);
    EXPECT_EQ(t.vcaRamp[1][1], 96000);
    EXPECT_EQ(t.vcaRamp[2][1], 0);
    EXPECT_EQ(out,
              "Adjusted volume ramp that exceeded song length (channel 1)\n"
              "Adjusted volume ramp that exceeded song length (channel 2)\n"
              "Error:  Time entry for volume ramp is less than zero. Ramp reset to 0.\n"
              "Error:  Time entry for volume ramp is less than zero. Ramp reset to 0.\n"
              "Adjusted vca ramp that exceeded song length (channel 1)\n"
              "Error:  Time entry for vca ramp is less than zero. Ramp reset to 0.\n");
}

TEST(CuePass, OffsetMovesOnlyTheLatestFaderEntry)
{
    auto run = MakeRun();
    ASSERT_EQ(Cue(*run, "\nrmp\t1\nofs\t1\nshape\t2\n"             // no target yet: ignored
                        "t\t0\t1\t0\nv\t1\t0\nofs\t0.25\nofs\t-0.5\nofs\tnan\n"
                        "vca\t1\t0\nofs\t2\n"),                   // after a vca: ignored
              0);
    const auto& t = run->automation;
    EXPECT_EQ(t.time[0][1], 48000 + 12000 - 24000);
    EXPECT_EQ(t.vcaTime[0][1], 48000);
    EXPECT_EQ(t.ramp[0][1], 0);
    EXPECT_EQ(t.shape[0][1], 1.0f);
    EXPECT_EQ(t.shape[0][0], 1.0f);
}

TEST(CuePass, EntryPastThe512thIsRejected)
{
    auto run = MakeRun();
    std::string out;
    const std::string body = "\nt\t0\t1\t0\n" + Repeat("v\t1\t-6\n", 511) + "v\t1\t-3\n" +
                             "v\t1\t0\nrmp\t1\nshape\t2\n" + Repeat("vca\t3\t0\n", 512) + "vca\t3\t5\n";
    ASSERT_EQ(Cue(*run, body, &out), 0);
    const auto& t = run->automation;
    EXPECT_EQ(t.count[1], 512);
    EXPECT_EQ(t.level[511][1], static_cast<int64_t>(std::pow(10.0, -3.0 / 20.0) * 134217728.0));
    EXPECT_EQ(t.ramp[511][1], 0);      // the rmp after the rejected line has no target
    EXPECT_EQ(t.shape[511][1], 1.0f);
    EXPECT_EQ(t.vcaCount[3], 512);
    EXPECT_EQ(t.vcaLevel[511][3], 134217728);
    EXPECT_EQ(out, ">> Warning: fader 1 (entry 513) is past the 512 entries of a fader; line ignored\n"
                   ">> Warning: vca 3 (entry 513) is past the 512 entries of a vca; line ignored\n");
}

TEST(CuePass, PanAndPolarityAreStoredPerSlot)
{
    auto run = MakeRun();
    ASSERT_EQ(Cue(*run, "\np\t3\t-40\np\tG\t1\t20\np\t3\t-30\np\t4\t99999999999\n"
                        "pol\t2\t-1\npol\t5\t5\npol\tM\t-1\npol\t6\t-1\npol\t6\t1\nvca\t12\t-6\n"),
              0);
    EXPECT_EQ(run->pan.pan[3], -30);
    EXPECT_EQ(run->pan.pan[128], 20);
    EXPECT_EQ(run->pan.pan[4], 2147483647);   // out of range, left for the pan check
    EXPECT_EQ(run->pan.polarity[2], -1);
    EXPECT_EQ(run->pan.polarity[5], 1);
    EXPECT_EQ(run->pan.polarity[0], -1);
    EXPECT_EQ(run->pan.polarity[6], 1);
    EXPECT_EQ(run->automation.masterFaderFlag, 0);
    EXPECT_EQ(run->automation.vcaCount[0], 1);   // VCA 12 becomes 0
}

TEST(CuePass, TimeErrorEndsThePassAtOnce)
{
    auto run = MakeRun(48000.0, 48000 * 60);
    run->prefs.verbo = 2;
    std::string out;
    EXPECT_EQ(Cue(*run, "\nt\t0\t0\t0\nv\t1\t0\nt\t2\t0\t0\nv\t2\t0\n", &out), 2);
    EXPECT_EQ(run->automation.count[2], 0);
    EXPECT_EQ(out, "Reading volume and pan settings...\nError:  Time entry 2 exceeds song length\n"
                   "  the entry is at 120.000000 s (frame 5760000); the song ends at 60.000000 s (frame 2880000)\n");
}

TEST(CuePass, CodesAreWholeTokensAndEndStopsThePass)
{
    auto run = MakeRun();
    ASSERT_EQ(Cue(*run, "\n(v)\t1\t-6\nv 2\t-6\nvv\t3\t0\nv\t4\t-6\nend\nv\t5\t0\n"), 0);
    const auto& t = run->automation;
    EXPECT_EQ(t.count[1], 0);
    EXPECT_EQ(t.count[2], 0);
    EXPECT_EQ(t.count[3], 0);
    EXPECT_EQ(t.count[4], 1);
    EXPECT_EQ(t.count[5], 0);
}

TEST(CuePass, MusicalTimesInTempoMode)
{
    auto run = MakeRun();
    run->prefs.tempo = true;
    {
        ConsoleCapture quiet;
        ASSERT_EQ(ReadTempoMap("tmap\t120\t4\t8\n", CueTimeContext(*run), run->timing), 0);
    }
    ASSERT_EQ(Cue(*run, "\nt\t2\t3\t240\nv\t1\t0\n"), 0);
    EXPECT_EQ(run->automation.time[0][1], 156000);
}

TEST(CuePass, HundredThousandLinesFinishQuickly)
{
    auto run = MakeRun(48000.0, INT64_MAX / 2);
    std::string body = "\ntitle\n";
    for (int i = 0; i < 50000; ++i) {
        body += "t\t0\t0\t" + std::to_string(i) + "\n";
        body += "v\t" + std::to_string(i % 127 + 1) + "\t-3\n";
    }
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Cue(*run, body), 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 5.0);
    EXPECT_EQ(run->timing.entries, 50000);
    int total = 0;
    for (int s = 1; s <= 127; ++s) total += run->automation.count[s];
    EXPECT_EQ(total, 50000);
    // Line pair 49999 is the 394th entry of channel 49999 % 127 + 1 = 89.
    EXPECT_EQ(run->automation.time[393][89], static_cast<int64_t>(49.999 * 48000.0));
}

TEST(CuePass, HostileNumbersAndATruncatedLastLineDoNotBreakThePass)
{
    auto run = MakeRun(48000.0, 48000 * 60);
    std::string out;
    ASSERT_EQ(Cue(*run, "\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nvca\t1\t0\nt\t0\t1\t0\n"
                        "v\t1e300\t1e300\nv\t-99999999999999999999\t-1e300\nvca\t1e300\tnan\n"
                        "rmp\t1e300\nshape\t1e300\np\t1e300\t-1e300\npol\tG\t1e300\t1e300\n"
                        "v\t1\tinf\nrmp\t1e300\nofs\t1e30\nv\t2\t-inf\nrmp\t-1e300\ninc\t1e300\nv\tG",
                  &out),
              0);
    // Integer fields read their leading digits: "1e300" is slot 1 or VCA 1.
    const auto& t = run->automation;
    EXPECT_EQ(t.count[1], 3);
    EXPECT_EQ(t.level[1][1], 535562158);     // clamped to +12.02 dB
    EXPECT_EQ(t.level[2][1], 535562158);
    EXPECT_EQ(t.ramp[2][1], 48000 * 59);     // cut at the song end
    EXPECT_EQ(t.time[2][1], INT64_MAX);      // shifted far past everything
    EXPECT_EQ(t.count[135], 1);
    EXPECT_EQ(t.level[0][135], 8);           // -144 dB
    EXPECT_EQ(t.vcaLevel[1][1], 8);          // "nan" counted as -144 dB
    EXPECT_EQ(t.vcaRamp[1][1], 48000 * 59);
    EXPECT_EQ(t.level[1][2], 8);
    EXPECT_EQ(t.ramp[1][2], 0);
    EXPECT_EQ(run->pan.pan[1], -1);
    EXPECT_EQ(t.count[127], 1);              // "G" with its number missing at the end
    EXPECT_EQ(t.time[0][127], INT64_MAX);    // after the huge "inc"
}
