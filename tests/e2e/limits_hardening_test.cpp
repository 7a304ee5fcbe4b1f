// The fixed tables and buffers of a run under inputs far beyond them: a 50 MB
// cue sheet, a 10,000-line track list, names, paths and lists past their
// lengths. Each run ends in seconds with its messages, never past a buffer.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/testutil.h"

using testutil::MakeWav;
using testutil::ReadBytes;
using testutil::RunIn;
using testutil::TempDir;
using testutil::WriteText;

namespace {

std::string Repeat(const std::string& s, size_t n)
{
    std::string out;
    out.reserve(s.size() * n);
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

size_t Count(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct Timed {
    testutil::RunResult result;
    double seconds = 0.0;
};

Timed TimedRun(const TempDir& dir)
{
    const auto start = std::chrono::steady_clock::now();
    Timed t;
    std::string err;
    t.result = RunIn(dir.path(), "'" CORVALE_BIN "'", "", &err);
    t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(err, "");
    return t;
}

// One second of a constant stereo 16-bit track.
void WriteTrack(const TempDir& dir, const std::string& name)
{
    WriteText(dir / name, MakeWav(2, 16, 44100, std::vector<int32_t>(2 * 44100, 64)));
}

}  // namespace

TEST(Limits, AFiftyMegabyteCueSheetMixesInSecondsWithOneWarningPerOverfullFader)
{
    TempDir dir;
    WriteTrack(dir, "a.wav");
    WriteText(dir / "prefs.txt", "begin\nverbo\t2\ndither\t0\nend\n");
    WriteText(dir / "tracks.txt", "1 a.wav +\nend\n");
    // 600 level entries for fader 1 (88 past its 512), VCA 2 likewise with 3
    // too many, then 50 MB of lines the mixer skips, then effect rows.
    std::string cue = "begin\nbig_mix\n";
    for (int i = 0; i < 600; ++i)
        cue += "t\t0\t0\t" + std::to_string(i) + "\nv\t1\t-" + std::to_string(i % 20) + "\n";
    cue += Repeat("vca\t2\t-1\n", 515);
    const std::string filler = "a note between the cues\tnot a code\n";
    cue += Repeat(filler, (50u << 20) / filler.size());
    cue += "rev\t1\t-10\nrtn\t-6\t30\nend\n";
    ASSERT_GE(cue.size(), 50u << 20);
    WriteText(dir / "faders.txt", cue);

    const Timed t = TimedRun(dir);
    EXPECT_EQ(t.result.status, 0) << t.result.out.substr(0, 2000);
    // A bound that only a run far from linear time misses; the sanitizers slow
    // every step down several times, and a loaded machine more.
#ifdef CORVALE_SANITIZED
    EXPECT_LT(t.seconds, 600.0);
#else
    EXPECT_LT(t.seconds, 120.0);
#endif
    const std::string& out = t.result.out;
    EXPECT_EQ(Count(out, "is past the 512 entries"), 2u);
    EXPECT_TRUE(Has(out, ">> Warning: fader 1 (entry 513) is past the 512 entries of a fader; line ignored\n"));
    EXPECT_TRUE(Has(out, ">> Warning: vca 2 (entry 513) is past the 512 entries of a vca; line ignored\n"));
    EXPECT_TRUE(Has(out, ">> Warning: fader 1: 88 lines past its 512 entries were ignored in all\n"));
    EXPECT_TRUE(Has(out, ">> Warning: vca 2: 3 lines past its 512 entries were ignored in all\n"));
    EXPECT_TRUE(Has(out, "Counted 600 time entries.\n"));
    EXPECT_TRUE(Has(out, "Done!  Created the file: big_mix.wav"));
    EXPECT_EQ(ReadBytes(dir / "big_mix.wav").size(), 44u + 44100u * 6u);
}

TEST(Limits, ATenThousandLineTrackListMixesTheFirst127Channels)
{
    TempDir dir;
    WriteTrack(dir, "a.wav");
    WriteText(dir / "prefs.txt", "begin\nverbo\t2\ndither\t0\nend\n");
    std::string list;
    for (int i = 1; i <= 10000; ++i) list += std::to_string(i) + " a.wav +\n";
    WriteText(dir / "tracks.txt", list + "end\n");
    // Channels 200, 9000 and 10000 are past the tables: their lines are reported.
    WriteText(dir / "faders.txt", "begin\ntl_mix\nt\t0\t0\t0\nv\t1\t0\nv\t127\t0\nsub\t1\t1,127,200\n"
                                  "tstamp\t9000\t0\t0\t5\nsstamp\t10000\t7\nend\n");

    const Timed t = TimedRun(dir);
    const std::string& out = t.result.out;
    EXPECT_EQ(t.result.status, 0) << out.substr(0, 2000);
    EXPECT_LT(t.seconds, 30.0);
    EXPECT_TRUE(Has(out, "Counted 10000 tracks\n"));
    EXPECT_TRUE(Has(out, ">> Warning: the track list has 10000 tracks; only the first 127 take part in the mix.\n"));
    EXPECT_TRUE(Has(out, ">> Warning: tstamp for channel 9000 ignored; channels are 1 to 127.\n"));
    EXPECT_TRUE(Has(out, ">> Warning: sstamp for channel 10000 ignored; channels are 1 to 127.\n"));
    EXPECT_EQ(Count(out, "Channel assigned to sub 1 is out of range!\n"), 1u);
    EXPECT_TRUE(Has(out, "Ch 127\t"));
    EXPECT_FALSE(Has(out, "Ch 128\t"));
    EXPECT_TRUE(Has(out, "Done!  Created the file: tl_mix.wav"));
    EXPECT_EQ(ReadBytes(dir / "tl_mix.wav").size(), 44u + 44100u * 6u);
}

TEST(Limits, NamesPathsAndListsPastTheirLengthsAreReportedNotOverrun)
{
    TempDir dir;
    WriteTrack(dir, "a.wav");
    const std::string longName(300, 'n');
    WriteText(dir / "prefs.txt", "begin\ndither\t0\nend\n");
    WriteText(dir / "tracks.txt", "1 a.wav +\n2 " + longName + ".wav +\n3 " + std::string(140, 'p') + " +\nend\n");
    std::string longList = "1";
    while (longList.size() <= 600) longList += ",1";
    WriteText(dir / "faders.txt", "begin\nlist_mix\nsub\t1\t" + longList + "\nVCA:\t1\t" + longList +
                                      "\nt\t0\t0\t0\nv\t1\t0\nend\n");
    const Timed t = TimedRun(dir);
    const std::string& out = t.result.out;
    EXPECT_EQ(t.result.status, 0) << out;
    EXPECT_TRUE(Has(out, ">> Warning: the name of track 2 is longer than 255 characters")) << out;
    EXPECT_TRUE(Has(out, ">> Warning: the path of track 3 is longer than 127 characters")) << out;
    EXPECT_TRUE(Has(out, "Channel list of submix 1 is longer than 511 characters; line ignored.\n"));
    EXPECT_TRUE(Has(out, "Slot list of VCA 1 is longer than 511 characters; line ignored.\n"));
    EXPECT_TRUE(Has(out, "Done!"));
}

TEST(Limits, PrefixesAndNamesPastTheirLengthsStopTheRunBeforeAnyOutput)
{
    TempDir dir;
    WriteTrack(dir, "a.wav");
    WriteText(dir / "tracks.txt", "1 a.wav +\nend\n");
    WriteText(dir / "faders.txt", "begin\nmix\nt\t0\t0\t0\nv\t1\t0\nend\n");
    struct Case {
        std::string prefs, message;
    };
    const std::vector<Case> cases = {
        {"mixdir\t" + std::string(128, 'd'), "Error: mixdir in preferences file is longer than 127 characters.\n"},
        {"wavdir\t" + std::string(128, 'w'), "Error: wavdir in preferences file is longer than 127 characters.\n"},
        {"oname\t" + std::string(128, 'o'), "Error: oname in preferences file is longer than 127 characters.\n"},
        {"launch\t" + std::string(256, 'l'), "Error: launch in preferences file is longer than 255 characters.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefs.substr(0, 8));
        WriteText(dir / "prefs.txt", "begin\n" + c.prefs + "\nend\n");
        const Timed t = TimedRun(dir);
        EXPECT_EQ(t.result.status, 2);
        EXPECT_TRUE(Has(t.result.out, c.message)) << t.result.out;
        EXPECT_FALSE(testutil::Exists(dir / "mix.wav"));
    }
}
