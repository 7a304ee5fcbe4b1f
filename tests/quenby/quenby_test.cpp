#include <gtest/gtest.h>

#include <string>

#include "tests/quenby/quenby_testing.h"

using qtest::Parse;
using qtest::Quenby;
using qtest::Summary;
using testutil::ReadBytes;
using testutil::TempDir;
using testutil::WriteText;

TEST(QuenbyLoading, ThreeFieldTimesAddMillisecondsSecondsAndMinutes)
{
    auto e = Parse("mix\nt\t0\t1\t30000\nv\t1\t-6\nt\t2\t0\t500\nv\t1\t-3\nrmp\t1.5\n", 3);
    EXPECT_EQ(e->title, "mix");
    ASSERT_EQ(e->counts[1], 2);
    EXPECT_EQ(e->times[1][0], 31.0f);
    EXPECT_EQ(e->levels[1][0], -6.0f);
    EXPECT_EQ(e->times[1][1], 120.5f);
    EXPECT_EQ(e->ramps[1][1], 1.5f);
    EXPECT_EQ(quenby::Format2(*e, 2), "mix\n\n\nt\t0\t31.000\nv\t1\t-6.00\n\nt\t0\t120.500\nv\t1\t-3.00\nrmp\t1.500\n");
    EXPECT_EQ(e.said, "");
    EXPECT_EQ(Summary(e, 3), "");
}

// Every channel cue keeps the time the mixer gives it ("inc" moves the current
// time, "ofs" the cue), its level, its ramp and its shape; ramps, offsets and
// shapes after a "vca" line or a skipped level line belong to no channel cue.
TEST(QuenbyLoading, ChannelCuesKeepTimeLevelRampAndShapeAsTheMixerReadsThem)
{
    const std::string sheet =
        "begin\nmix\n"
        "t\t0\t1\t0\nv\t1\t-6\nrmp\t0.5\nshape\t2\n"
        "vca\t1\t-3\nrmp\t4\nofs\t1\nshape\t3\n"            // the VCA's: not channel 1's
        "t\t0\t10\t0\nv\t1\t-3\n"
        "inc\t0.5\nv\t2\t-1\nofs\t0.25\nofs\t0.25\nrmp\t1\nshape\t0.5\n"
        "v\tG\t1\t-4\nrmp\t2\nofs\t3\nshape\t4\n"           // a submix cue: not carried
        "v\t200\t-6\nrmp\t3\n"                               // no such channel
        "inc\t-0.25\nv\t3\t-20\nshape\t9\nrmp\t0.125\n"      // a shape the mixer ignores
        "end\n";
    auto e = Parse(sheet, 3);
    ASSERT_EQ(e->counts[1], 2);
    EXPECT_EQ(e->times[1][0], 1.0f);
    EXPECT_EQ(e->ramps[1][0], 0.5f);
    EXPECT_EQ(e->shapes[1][0], 2.0f);
    EXPECT_EQ(e->times[1][1], 10.0f);
    EXPECT_EQ(e->ramps[1][1], 0.0f);
    EXPECT_EQ(e->shapes[1][1], 1.0f);
    ASSERT_EQ(e->counts[2], 1);
    EXPECT_EQ(e->times[2][0], 11.0f);   // 10 + 0.5, then two offsets of 0.25
    EXPECT_EQ(e->ramps[2][0], 1.0f);
    EXPECT_EQ(e->shapes[2][0], 0.5f);
    ASSERT_EQ(e->counts[3], 1);
    EXPECT_EQ(e->times[3][0], 10.25f);
    EXPECT_EQ(e->shapes[3][0], 1.0f);
    EXPECT_EQ(e->ramps[3][0], 0.125f);
    EXPECT_EQ(e->counts[0], 0);

    EXPECT_EQ(quenby::Format2(*e, 3),
              "begin\n\n"
              "\nt\t0\t1\t0\nv\t1\t-6.00\nrmp\t0.500\nshape\t2.000\n"
              "\nt\t0\t10\t0\nv\t1\t-3.00\n"
              "\nt\t0\t10\t250\nv\t3\t-20.00\nrmp\t0.125\n"
              "\nt\t0\t11\t0\nv\t2\t-1.00\nrmp\t1.000\nshape\t0.500\n");
    EXPECT_EQ(quenby::Format1(*e, 1),
              "begin\n\n"
              "\nt\t1.000\nv\t1\t-6.00\nrmp\t0.500\nshape\t2.000\n\n"
              "\nt\t10.000\nv\t1\t-3.00\n\n"
              "\nt\t11.000\nv\t2\t-1.00\nrmp\t1.000\nshape\t0.500\n\n"
              "\nt\t10.250\nv\t3\t-20.00\nrmp\t0.125\n\n");

    // The first of each kind as it comes, with the time of its line.
    EXPECT_EQ(e.said,
              ">> Warning: Skipping a ramp at 1.000 s: it follows a vca line, not a channel cue.\n"
              ">> Warning: Skipping an offset at 1.000 s: it follows a vca line, not a channel cue.\n"
              ">> Warning: Skipping a shape at 1.000 s: it follows a vca line, not a channel cue.\n"
              ">> Warning: Skipping a ramp at 10.500 s: it follows no channel cue quenby keeps.\n"
              ">> Warning: Skipping an offset at 10.500 s: it follows no channel cue quenby keeps.\n"
              ">> Warning: Skipping a shape at 10.500 s: it follows no channel cue quenby keeps.\n"
              ">> Warning: Skipping a level line for channel 200: channels are 0 to 127.\n"
              ">> Warning: Skipping a shape at 10.250 s: the mixer takes shapes from 0.125 to 8.\n");
    EXPECT_EQ(Summary(e, 3),
              ">> Warning: 2 ramps that follow no channel cue quenby keeps were skipped in all.\n"
              ">> Warning: quenby's output leaves out 2 lines it does not carry:\n"
              "  vca (VCA cues): 1\n"
              "  v G, v M (submix and master cues): 1\n");
}

TEST(QuenbyLoading, RepeatedSkipsPrintTheFirstAndACount)
{
    std::string sheet = "mix\nt\t2\n";
    for (int i = 0; i < 3; ++i) sheet += "vca\t1\t0\nrmp\t1\n";
    for (int i = 0; i < 514; ++i) sheet += "v\t5\t-1\nv\t9\t-2\n";
    sheet += "v\t7\tnan\nv\t7\tinf\np\t1\t10\np\t2\t10\npol\t1\t-1\ndp\t1\t5\ntrim\t1\t2\nscale\t1\nmtrim\t1\nfxg\t1\t2\n"
             "v\tM\t0\n(p)\t3\t10\n";
    auto e = Parse(sheet, 1);
    EXPECT_EQ(e->counts[5], 512);
    EXPECT_EQ(e->counts[9], 512);
    EXPECT_EQ(e->counts[7], 0);
    EXPECT_EQ(e.said,
              ">> Warning: Skipping a ramp at 2.000 s: it follows a vca line, not a channel cue.\n"
              ">> Warning: Skipping entry 513 of channel 5: a channel holds 512 entries.\n"
              ">> Warning: Skipping a level line whose level is not a finite number.\n");
    EXPECT_EQ(Summary(e, 1),
              ">> Warning: 2 level lines whose level is not a finite number were skipped in all.\n"
              ">> Warning: 3 ramps that follow a vca line were skipped in all.\n"
              ">> Warning: 4 level lines past the 512 entries of a channel were skipped in all:\n"
              "  channel 5: 2\n"
              "  channel 9: 2\n"
              ">> Warning: quenby's output leaves out 12 lines it does not carry:\n"
              "  vca (VCA cues): 3\n"
              "  v G, v M (submix and master cues): 1\n"
              "  p (pans): 2\n"
              "  pol (polarities): 1\n"
              "  dp (delay pans): 1\n"
              "  trim (trims): 1\n"
              "  scale (level scales): 1\n"
              "  mtrim (master trims): 1\n"
              "  fxg (effects gains): 1\n");
}

// A sheet read with the wrong number of time fields loses its times (three
// fields read as one) or its cues (one field read as three takes the next line);
// the summary says so and gives the command that reads the sheet.
TEST(QuenbyLoading, TimeLinesWithAnotherFieldCountAreCountedWithTheCommandThatReadsThem)
{
    const std::string three = "mix\nt\t0\t12\t500\nv\t1\t-6\nt\t0\t20\t0\nv\t1\t-3\n";
    auto e = Parse(three, 1);
    EXPECT_EQ(e->times[1][1], 0.0f);
    EXPECT_EQ(Summary(e, 1, "cues.txt"),
              ">> Warning: 2 time lines have 3 fields but 1 is in use: run 'quenby cues.txt 3'\n");
    EXPECT_EQ(Summary(Parse(three, 3), 3), "");

    const std::string one = "mix\nt\t12.5\nv\t1\t-6\nt\t20\nv\t1\t-3\n";
    e = Parse(one, 3);
    EXPECT_EQ(e->counts[1], 0);   // the level lines were read as time fields
    EXPECT_EQ(Summary(e, 3), ">> Warning: 2 time lines have 1 field but 3 are in use: run 'quenby faders.txt 1'\n");
    EXPECT_EQ(Summary(Parse("mix\nt\t1\t30\n", 1), 1),
              ">> Warning: 1 time line has 2 fields but 1 is in use: run 'quenby faders.txt 2'\n");
    // Spaces carry no meaning; a trailing tab adds no field.
    EXPECT_EQ(Summary(Parse("mix\nt\t0\t 12 \t500\t\n", 3), 3), "");

    // Mixed counts: each count with its first line, and the most common one.
    const std::string mixed = "mix\nt\t1\nv\t1\t0\nt\t2\nt\t0\t3\t0\nt\n\nt\t4\n";
    EXPECT_EQ(Summary(Parse(mixed, 3), 3),
              ">> Warning: 4 time lines of faders.txt do not have the 3 fields in use; the counts are mixed:\n"
              "  0 fields: 1 line, the first is line 6\n"
              "  1 field: 3 lines, the first is line 2\n"
              "  3 fields: 1 line, the first is line 5\n"
              "  the most common is 1: run 'quenby faders.txt 1'\n");
    EXPECT_EQ(Summary(Parse("mix\nt\t1\t2\t3\nt\t0\t2\t0\nt\t5\n", 3), 3),
              ">> Warning: 1 time line of faders.txt does not have the 3 fields in use; the counts are mixed:\n"
              "  1 field: 1 line, the first is line 4\n"
              "  3 fields: 2 lines, the first is line 2\n"
              "  the most common is 3, the count in use: correct the other lines\n");
    EXPECT_EQ(Summary(Parse("mix\n\nt\t0\t1\t2\t3\n", 3), 3),
              ">> Warning: 1 time line has 4 fields but 3 are in use; quenby reads 1 to 3 (the first is line 3).\n");
}

TEST(QuenbyLoading, MusicalTimeIsWarnedAbout)
{
    auto e = Parse("mix\ntmap\t120\t4\t8\nt\t2\t1\t0\nv\t1\t0\n", 3);
    const std::string tail =
        "but quenby reads its \"t\" lines as clock time.\n"
        "  Bars, beats and ticks are taken as minutes, seconds and milliseconds: every time it shows, adjusts and "
        "saves is wrong for this sheet.\n";
    EXPECT_EQ(Summary(e, 3),
              ">> Warning: MUSICAL TIME: faders.txt is a sheet in musical time (it has a \"tmap\" line), " + tail);
    e = Parse("mix\ntmap\t120\t4\t8\ntmap\t90\t3\t2\n", 3);
    EXPECT_EQ(Summary(e, 3, "s/f.txt", "s/prefs.txt"),
              ">> Warning: MUSICAL TIME: s/f.txt is a sheet in musical time (it has 2 \"tmap\" lines and s/prefs.txt "
              "switches tempo mode on), " + tail);
    EXPECT_EQ(Summary(Parse("mix\n", 3), 3, "faders.txt", "prefs.txt"),
              ">> Warning: MUSICAL TIME: faders.txt is a sheet in musical time (prefs.txt switches tempo mode on), " +
                  tail);
}

TEST(QuenbyLoading, WindowsLineEndsAndAByteOrderMarkLoadLikeTheLfTwin)
{
    const std::string lf = "begin\nt\t0\t1\t500\nv\t1\t-6\nrmp\t2\nshape\t2\nt\t2\nv\tG\t1\t0\nt\t0\t3\n";
    std::string crlf;
    for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    for (const std::string& variant : {crlf, "\xEF\xBB\xBF" + lf, "\xEF\xBB\xBF" + crlf}) {
        auto a = Parse(lf, 3);
        auto b = Parse(variant, 3);
        EXPECT_EQ(b->title, "begin");
        EXPECT_EQ(quenby::Format1(*b, 3), quenby::Format1(*a, 3));
        EXPECT_EQ(b.said, a.said);
        EXPECT_EQ(Summary(b, 3), Summary(a, 3));
        EXPECT_NE(Summary(a, 3), "");   // the two short time lines and the submix cue
    }
}

TEST(QuenbyFormats, TimeLinesInOneTwoAndThreeFields)
{
    auto e = Parse("mix\nt\t1.9996\nv\t2\t-6.5\n", 1);
    EXPECT_EQ(quenby::Format1(*e, 1), "mix\n\n\nt\t2.000\nv\t2\t-6.50\n\n");
    EXPECT_EQ(quenby::Format1(*e, 2), "mix\n\n\nt\t0\t2.000\nv\t2\t-6.50\n\n");
    // The milliseconds of 1.9996 s round up to 1000 in the three-field form.
    EXPECT_EQ(quenby::Format1(*e, 3), "mix\n\n\nt\t0\t1\t1000\nv\t2\t-6.50\n\n");
}

TEST(QuenbyFormats, ByTimeGroupsChannelsUnderOneTimeLineAndSkipsEarlyEntries)
{
    auto e = Parse("mix\nt\t2\nv\t3\t-1\nv\t1\t-2\nt\t5\nv\t1\t-3\n", 1);
    EXPECT_EQ(quenby::Format2(*e, 1), "mix\n\n\nt\t2.000\nv\t1\t-2.00\nv\t3\t-1.00\n\nt\t5.000\nv\t1\t-3.00\n");
    quenby::MoveTimes(*e, -5.0f);   // 2 s becomes -3 s, 5 s becomes 0 s
    EXPECT_EQ(quenby::FindMin(*e, quenby::FindMax(*e)), -3.0f);
    EXPECT_EQ(quenby::Format2(*e, 1), "mix\n\n\nt\t0.000\nv\t1\t-3.00\n");
}

TEST(QuenbySession, ScaleNudgeAndLevelCommands)
{
    TempDir dir;
    WriteText(dir / "faders.txt", "mix\nt\t0\t2\t0\nv\t1\t-6\nrmp\t1\nshape\t0.25\nt\t0\t4\t0\nv\t1\t-3\n");
    const auto r = Quenby(dir, "", "st\n2\nst\n0\nst\n5000\nav\n1.5\nco\ns\nps\nnt\n-5\nx\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("\nQuenby 1.0\n\nEntries:\nch 1:  2\n\nFirst time at 2.000\nLast time at  4.000\n\n"
                          "'nt' to nudge times\n", 0), 0u);
    EXPECT_NE(r.out.find("Enter scale factor (0.001 to 1000)\n\nFirst time at 4.000\nLast time at  8.000\n"),
              std::string::npos);
    // Ordered by channel after the switch: doubled times and ramp, levels raised
    // by 1.5 dB, the shape as it was.
    EXPECT_NE(r.out.find("\nmix\n\n\nt\t0\t4\t0\nv\t1\t-4.50\nrmp\t2.000\nshape\t0.250\n\n\nt\t0\t8\t0\nv\t1\t-1.50\n\n\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("Enter nudge amount in seconds\n\nFirst time at -1.000\nLast time at  3.000\n"),
              std::string::npos);
}

TEST(QuenbySession, TheSummaryFollowsTheEntryCounts)
{
    TempDir dir;
    WriteText(dir / "cues.txt", "begin\nmix\nt\t0\t1\t0\nv\t1\t-6\nvca\t1\t-3\nrmp\t4\nt\t0\t2\t0\nv\t1\t0\n"
                                "vca\t1\t0\nrmp\t1\nend\n");
    const auto r = Quenby(dir, "cues.txt 1", "x\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("\nQuenby 1.0\n"
                          ">> Warning: Skipping a ramp at 0.000 s: it follows a vca line, not a channel cue.\n"
                          "\nEntries:\nch 1:  2\n"
                          ">> Warning: 2 ramps that follow a vca line were skipped in all.\n"
                          ">> Warning: quenby's output leaves out 2 lines it does not carry:\n"
                          "  vca (VCA cues): 2\n"
                          ">> Warning: 2 time lines have 3 fields but 1 is in use: run 'quenby cues.txt 3'\n"
                          "\nFirst time at 0.000\n", 0), 0u) << r.out;
}

TEST(QuenbySession, TempoModeInThePreferencesBesideTheSheetIsWarnedAbout)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "s");
    WriteText(dir / "s/faders.txt", "begin\nmix\nt\t0\t1\t0\nv\t1\t0\nend\n");
    WriteText(dir / "prefs.txt", "begin\ntempo\nend\n");   // not the sheet's directory
    auto r = Quenby(dir, "s/faders.txt", "x\n");
    EXPECT_EQ(r.out.find("MUSICAL TIME"), std::string::npos) << r.out;
    WriteText(dir / "s/prefs.txt", "tempo\nbegin\nverbo\t2\nend\ntempo\n");   // outside the body
    r = Quenby(dir, "s/faders.txt", "x\n");
    EXPECT_EQ(r.out.find("MUSICAL TIME"), std::string::npos) << r.out;
    std::filesystem::remove(dir / "s/prefs.txt");
    std::filesystem::create_directory(dir / "s/prefs.txt");
    r = Quenby(dir, "s/faders.txt", "x\n");
    EXPECT_NE(r.out.find("\nch 1:  1\n>> Warning: cannot read s/prefs.txt to see whether it switches tempo mode on.\n"
                         "  s/prefs.txt: Is a directory\n\nFirst time at 1.000\n"),
              std::string::npos)
        << r.out;
    std::filesystem::remove(dir / "s/prefs.txt");
    WriteText(dir / "s/prefs.txt", "notes\r\nbegin\r\nverbo\t2\r\ntempo\r\nend\r\n");
    r = Quenby(dir, "s/faders.txt", "x\n");
    EXPECT_NE(r.out.find(">> Warning: MUSICAL TIME: s/faders.txt is a sheet in musical time (s/prefs.txt switches "
                         "tempo mode on)"),
              std::string::npos)
        << r.out;
}

TEST(QuenbySession, SavingAsksBeforeReplacingAFile)
{
    TempDir dir;
    WriteText(dir / "faders.txt", "mix\nt\t0\t1\t0\nv\t2\t-6\n");
    WriteText(dir / "old.txt", "keep");
    auto r = Quenby(dir, "faders.txt 3", "pf\nnew.txt\npf\nold.txt\nn\nx\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadBytes(dir / "new.txt"), "mix\n\n\nt\t0\t1\t0\nv\t2\t-6.00\n");
    EXPECT_EQ(ReadBytes(dir / "old.txt"), "keep");
    EXPECT_NE(r.out.find("Write complete\n"), std::string::npos);
    EXPECT_NE(r.out.find("The file already exists!\nType 'o' to overwrite or any other key to cancel\n"),
              std::string::npos);
    r = Quenby(dir, "faders.txt", "pf\nold.txt\no\nx\n");
    EXPECT_EQ(ReadBytes(dir / "old.txt"), "mix\n\n\nt\t0\t1\t0\nv\t2\t-6.00\n");
}

TEST(QuenbySession, TimeFieldsFromTheCommandLineAndTheCfCommand)
{
    TempDir dir;
    WriteText(dir / "cues.txt", "mix\nt\t1\t5\nv\t1\t0\n");
    const auto r = Quenby(dir, "cues.txt 2", "cf\n9\nps\nx\n");
    EXPECT_NE(r.out.find("Currently using 2 time fields\nEnter new value (1-3)\n"), std::string::npos);
    // 1 min 5 s, written back with three fields (9 is out of range).
    EXPECT_NE(r.out.find("\nmix\n\n\nt\t0\t65\t0\nv\t1\t0.00\n\n"), std::string::npos);
}

TEST(QuenbySession, MissingFileEndOfInputAndExitFromTheOrderingQuestion)
{
    TempDir dir;
    auto r = Quenby(dir, "nothing.txt", "");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("File nothing.txt not found\n  nothing.txt: No such file or directory\n\nHelp:\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("nudge times, and change formatting.\n\n"), std::string::npos);

    WriteText(dir / "faders.txt", "mix\n");
    r = Quenby(dir, "", "ps\n");   // input ends without "x"
    EXPECT_EQ(r.status, 0);
    r = Quenby(dir, "", "co\nx\nps\n");   // the answer to "co" is read as a command
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("\nmix\n\n\n"), std::string::npos);
}
