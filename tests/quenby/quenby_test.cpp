#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "quenby/quenby.h"
#include "tests/testutil.h"

using testutil::ReadBytes;
using testutil::RunIn;
using testutil::TempDir;
using testutil::WriteText;

namespace {

std::unique_ptr<quenby::Entries> Parse(const std::string& text, int fields, std::string* said = nullptr)
{
    auto e = std::make_unique<quenby::Entries>();
    std::FILE* sink = std::tmpfile();
    quenby::ParseBuffer(text, fields, *e, sink);
    if (said) {
        std::rewind(sink);
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, sink)) > 0) said->append(buf, n);
    }
    std::fclose(sink);
    return e;
}

testutil::RunResult Quenby(const TempDir& dir, const std::string& args, const std::string& input)
{
    return RunIn(dir.path(), std::string(QUENBY_BIN) + " " + args, input);
}

}  // namespace

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
}

TEST(QuenbyLoading, ARampAfterAVcaLineBelongsToTheLatestLevelLine)
{
    auto e = Parse("begin\nt\t0\t0\t0\nv\t4\t-6\nvca\t1\t-3\nrmp\t2\nend\n", 3);
    EXPECT_EQ(e->title, "begin");
    ASSERT_EQ(e->counts[4], 1);
    EXPECT_EQ(e->ramps[4][0], 2.0f);
}

TEST(QuenbyLoading, LinesOutsideTheTablesAreSkippedWithAMessage)
{
    std::string text = "mix\nrmp\t3\nt\t1\nv\t200\t-6\nv\t-1\t-6\nv\tG\t1\t-4\nv\tM\t0\n";
    for (int i = 0; i < 513; ++i) text += "v\t5\t-1\n";
    std::string said;
    auto e = Parse(text, 1, &said);
    EXPECT_EQ(e->counts[5], 512);
    EXPECT_EQ(e->counts[0], 0);
    EXPECT_NE(said.find("channel 200"), std::string::npos);
    EXPECT_NE(said.find("channel -1"), std::string::npos);
    EXPECT_NE(said.find("submix or the master (G)"), std::string::npos);
    EXPECT_NE(said.find("submix or the master (M)"), std::string::npos);
    EXPECT_NE(said.find("entry 513 of channel 5"), std::string::npos);
    EXPECT_NE(said.find("ramp that follows no level line"), std::string::npos);
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
    WriteText(dir / "faders.txt", "mix\nt\t0\t2\t0\nv\t1\t-6\nrmp\t1\nt\t0\t4\t0\nv\t1\t-3\n");
    const auto r = Quenby(dir, "", "st\n2\nst\n0\nst\n5000\nav\n1.5\nco\ns\nps\nnt\n-5\nx\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("\nQuenby 1.0\n\nEntries:\nch 1:  2\n\nFirst time at 2.000\nLast time at  4.000\n\n"
                          "'nt' to nudge times\n", 0), 0u);
    EXPECT_NE(r.out.find("Enter scale factor (0.001 to 1000)\n\nFirst time at 4.000\nLast time at  8.000\n"),
              std::string::npos);
    // Ordered by channel after the switch: doubled times and ramp, levels raised by 1.5 dB.
    EXPECT_NE(r.out.find("\nmix\n\n\nt\t0\t4\t0\nv\t1\t-4.50\nrmp\t2.000\n\n\nt\t0\t8\t0\nv\t1\t-1.50\n\n\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("Enter nudge amount in seconds\n\nFirst time at -1.000\nLast time at  3.000\n"),
              std::string::npos);
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
    EXPECT_NE(r.out.find("File nothing.txt not found\n\nHelp:\n"), std::string::npos);
    EXPECT_NE(r.out.find("nudge times, and change formatting.\n\n"), std::string::npos);

    WriteText(dir / "faders.txt", "mix\n");
    r = Quenby(dir, "", "ps\n");   // input ends without "x"
    EXPECT_EQ(r.status, 0);
    r = Quenby(dir, "", "co\nx\nps\n");   // the answer to "co" is read as a command
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("\nmix\n\n\n"), std::string::npos);
}
