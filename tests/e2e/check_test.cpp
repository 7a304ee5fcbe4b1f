// The dry run: corvale --check reports what a run would do with a session,
// the cue sheet's silent traps by file and line, and never touches a file.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/testutil.h"

using testutil::MakeFloatWav;
using testutil::MakeWav;
using testutil::ReadBytes;
using testutil::RunIn;
using testutil::TempDir;
using testutil::WriteText;

namespace {

// One second of a stereo 16-bit track.
std::string Wav(uint32_t rate = 44100, size_t frames = 44100)
{
    std::vector<int32_t> samples(2 * frames);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int32_t>(i % 2000) - 1000;
    return MakeWav(2, 16, rate, samples);
}

// Every name under dir with its bytes (directories as empty entries).
std::map<std::string, std::string> Snapshot(const std::string& dir)
{
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
        const std::string name = std::filesystem::relative(e.path(), dir).string();
        files[name] = e.is_regular_file() ? ReadBytes(e.path().string()) : std::string("<dir>");
    }
    return files;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

int CountOf(const std::string& text, const std::string& part)
{
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

struct Session {
    TempDir dir;
    Session(const std::string& prefs, const std::string& tracks, const std::string& faders)
    {
        WriteText(dir / "a.wav", Wav());
        WriteText(dir / "b.wav", Wav());
        if (!prefs.empty()) WriteText(dir / "prefs.txt", prefs);
        WriteText(dir / "tracks.txt", tracks);
        if (!faders.empty()) WriteText(dir / "faders.txt", faders);
    }
    // Runs corvale --check and expects the directory to be exactly as before.
    testutil::RunResult Check(const std::string& args = "", const std::string& input = "")
    {
        const auto before = Snapshot(dir.path());
        testutil::RunResult r = RunIn(dir.path(), "'" CORVALE_BIN "' --check " + args, input);
        EXPECT_EQ(Snapshot(dir.path()), before) << "--check changed the directory\n" << r.out;
        return r;
    }
};

const char* kPrefs = "begin\ndither\t0\nend\n";
const char* kTwoTracks = "1 a.wav +\n2 b.wav +\nend\n";
const char* kClean = "begin\ncheck_mix\nt\t0\t0\t0\nv\t1\t0\nv\t2\t-3\np\t2\t-20\nt\t0\t0\t500\nv\t1\t-6\nrmp\t0.2\nend\n";

}  // namespace

TEST(Check, ACleanSessionReportsNothingAndStaysByteIdentical)
{
    Session s(kPrefs, kTwoTracks, kClean);
    WriteText(s.dir / "check_mix.wav", "an earlier mix");
    const testutil::RunResult r = s.Check();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(Has(r.out, "warning:")) << r.out;
    EXPECT_FALSE(Has(r.out, "error:")) << r.out;
    EXPECT_TRUE(Has(r.out, "corvale --check: 0 errors, 0 warnings\n")) << r.out;
    EXPECT_FALSE(Has(r.out, "Done!"));
    EXPECT_FALSE(Has(r.out, "Mixing"));

    // The same session mixes for real: the dry run did not hide a failure.
    EXPECT_EQ(RunIn(s.dir.path(), "'" CORVALE_BIN "'").status, 0);
    EXPECT_NE(ReadBytes(s.dir / "check_mix.wav"), "an earlier mix");
}

TEST(Check, TheBundledExampleHasNoFinding)
{
    const std::filesystem::path example =
        std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "examples" / "session";
    TempDir dir;
    for (const char* name : {"prefs.txt", "tracks.txt", "faders.txt"})
        WriteText(dir / name, ReadBytes((example / name).string()));
    // Tracks of the example's formats and rate, long enough for its cues.
    const size_t frames = 48000 * 8;
    WriteText(dir / "kick.wav", MakeWav(1, 24, 48000, std::vector<int32_t>(frames, 1000)));
    WriteText(dir / "bass.wav", MakeWav(1, 16, 48000, std::vector<int32_t>(frames, 500)));
    WriteText(dir / "pad.wav", MakeFloatWav(2, 48000, std::vector<float>(2 * frames, 0.1f)));
    WriteText(dir / "vox.wav", MakeWav(2, 24, 48000, std::vector<int32_t>(2 * frames, 2000)));
    std::filesystem::create_directory(dir / "out");
    const auto before = Snapshot(dir.path());
    const testutil::RunResult r = RunIn(dir.path(), "'" CORVALE_BIN "' --check");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(Has(r.out, "corvale --check: 0 errors, 0 warnings\n")) << r.out;
    EXPECT_EQ(Snapshot(dir.path()), before);
}

TEST(Check, EveryTrapOfTheCueSheetIsNamedWithItsLine)
{
    std::string faders =
        "Notes: the lines after begin are read\n"   // 1: the body starts here
        "trap_mix\n"                                 // 2: the title
        "rmp\t1\n"                                   // 3: no entry yet
        "t\t0\t0\t0\n"                               // 4
        "v\t1\t0\n"                                  // 5
        "v\t2\t0\n"                                  // 6
        "t\t0\t0\t200\n"                             // 7
        "v\t1\t-3\n"                                 // 8: moved before line 5 by the ofs below
        "ofs\t-0.5\n"                                // 9
        "vca\t1\t0\n"                                // 10
        "ofs\t0.1\n"                                 // 11: only v entries move
        "(comp)\t1\t-6\t5\t100\t2\n"                 // 12: inactive
        "code\tslot\tthreshold\n"                    // 13: a header row, not reported
        "cmop\t1\t-6\t5\t100\t2\n"                   // 14: unknown
        "v\t5\t0\n"                                  // 15: no track
        "rev\t4\t-10\n"                              // 16: no track
        "sub\t1\t1,2,9\n"                            // 17: 9 has no track
        "VCA:\t1\t1,3,0,999\n"                       // 18: 3 has no track (0 is the master), 999 no slot
        "lim\t1\n"                                   // 19: short row
        "-1\n"                                       // 20: taken as the limiter's ceiling
        "t\t0\t0\n"                                  // 21: two time fields of three
        "400\n"                                      // 22: taken as the milliseconds
        "v\t2\t-1\n"                                 // 23
        "tstamp\t2\t0\t5\t0\n"                       // 24: after every other track has ended
        "p\tG\t9\t10\n";                               // 25: no submix 9
    // Lines 26 to 1053: entries 3 to 516 of fader 1, each at a later time.
    for (int i = 0; i < 514; ++i) faders += "t\t0\t0\t" + std::to_string(301 + i) + "\nv\t1\t-2\n";
    faders += "end\nbogus\t1\n";
    Session s("begin\ndither\t0\nxfields\t3\nxin\t0\t0\nend\n", kTwoTracks, faders);
    const testutil::RunResult r = s.Check();
    EXPECT_EQ(r.status, 1) << r.out;
    const std::vector<std::string> expected = {
        "prefs.txt:4: warning: \"xin\" has 2 time fields but xfields asks for 3; the rest is taken from the next "
        "line\n",
        "faders.txt:1: warning: the first \"begin\" stands inside the line \"Notes: the lines after begin are "
        "read\"; the body starts after this line\n",
        "faders.txt:3: warning: \"rmp\" follows no level entry it could belong to; it is ignored\n",
        "faders.txt:8: warning: level entry 2 of channel 1 is not later than the entry before it (line 5); it is "
        "never played\n",
        "faders.txt:11: warning: \"ofs\" follows a \"vca\" entry; only \"v\" entries move, so it is ignored\n",
        "faders.txt:12: warning: inactive row: the code \"(comp)\" is in parentheses, so the row is not read\n",
        "faders.txt:14: warning: unknown code \"cmop\"; the row is not read\n",
        "faders.txt:15: warning: \"v\" row for channel 5, which has no track (the track list has 2)\n",
        "faders.txt:16: warning: \"rev\" row for channel 4, which has no track (the track list has 2)\n",
        "faders.txt:17: warning: submix 1 lists channel 9, which has no track (the track list has 2)\n",
        "faders.txt:18: warning: VCA 1 lists channel 3, which has no track (the track list has 2)\n",
        "faders.txt:18: warning: VCA 1 lists slot 999, which is out of range (0 to 136)\n",
        "faders.txt:19: warning: \"lim\" row has 1 field but takes 2; the missing values are taken from the next "
        "line\n",
        "faders.txt:21: warning: time value has 2 fields but tfields asks for 3; the rest is taken from the next "
        "line\n",
        "faders.txt:24: warning: tstamp starts channel 2 at 5.000 s, after every other track has ended (at "
        "1.000 s): the mix is silent for 4.000 s before it\n",
        "faders.txt:25: warning: \"p\" row for submix 9, which does not exist (1 to 8)\n",
        "faders.txt:1047: warning: channel 1 has 516 level entries; the 4 past the first 512 are ignored\n",
    };
    for (const std::string& line : expected) EXPECT_TRUE(Has(r.out, line)) << line << "\n---\n" << r.out;
    EXPECT_TRUE(Has(r.out, "corvale --check: 0 errors, " + std::to_string(expected.size()) + " warnings\n"))
        << r.out;
    EXPECT_FALSE(Has(r.out, ":13: ")) << "a template header row is no unknown code";
    EXPECT_FALSE(Has(r.out, ":20: ")) << "a line a short row reads is no unknown code: it has no tab";
    EXPECT_FALSE(Has(r.out, "bogus")) << "lines after end are notes";
    EXPECT_FALSE(Has(r.out, "tracks.txt:")) << r.out;
}

TEST(Check, LayoutAndSpaceWarningsAreFindingsAtEveryVerbosity)
{
    Session s("begin\nverbo\t0\noname spaced\ndither\t0\t\nend\n", kTwoTracks,
              "begin\ncheck_mix\nt\t0\t0\t0\nv\t1\t0\nv\t2\t 0\nrtn -8 60\nend\n");
    const testutil::RunResult r = s.Check();
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(Has(r.out, "prefs.txt:3: warning: \"oname spaced\" is separated by spaces, not tabs; it is not "
                           "read as written\n"))
        << r.out;
    EXPECT_TRUE(Has(r.out, "prefs.txt:4: warning: extra tab\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "faders.txt:5: warning: extra space after a tab\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "faders.txt:6: warning: \"rtn -8 60\" is separated by spaces")) << r.out;
    EXPECT_TRUE(Has(r.out, "corvale --check: 0 errors, 4 warnings\n")) << r.out;
}

TEST(Check, TracksThatWillNotBeHeardAreFindingsOnTheirTrackListLines)
{
    Session s(kPrefs, "1 a.wav +\n2 missing.wav +\n3 b.wav +\n4 a.wav off\nend\n",
              "begin\ncheck_mix\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nv\t4\t0\nend\n");
    const testutil::RunResult r = s.Check();
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(Has(r.out, "tracks.txt:2: warning: channel 2 (missing.wav) will not be heard: not found\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "tracks.txt:3: warning: channel 3 (b.wav) will not be heard: no level cue in the cue "
                           "sheet\n"))
        << r.out;
    EXPECT_FALSE(Has(r.out, "channel 4")) << "a deliberate mute";
}

TEST(Check, ASessionARunWouldStopOnIsAnErrorAndWritesNothing)
{
    // A time entry past the end of the one-second song.
    Session late(kPrefs, kTwoTracks, "begin\ncheck_mix\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nt\t0\t3\t0\nv\t1\t-6\nend\n");
    const testutil::RunResult r = late.Check();
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_TRUE(Has(r.out, "Error:  Time entry 2 exceeds song length\n")) << "the run's own message is kept";
    EXPECT_TRUE(Has(r.out, "faders.txt:6: error: time entry 2 (3.000 s) is past the end of the song (1.000 s)\n"))
        << r.out;
    EXPECT_TRUE(Has(r.out, "faders.txt: error: a run would stop here with status 2 (see the message above)\n"))
        << r.out;
    // The entry after the rejected time keeps the time before it.
    EXPECT_TRUE(Has(r.out, "faders.txt:7: warning: level entry 2 of channel 1 is not later")) << r.out;
    EXPECT_TRUE(Has(r.out, "corvale --check: 2 errors, 1 warning\n")) << r.out;

    // Tracks at two sample rates: the run would end with status 1, the dry run with 2.
    Session rates(kPrefs, kTwoTracks, kClean);
    WriteText(rates.dir / "b.wav", Wav(48000, 48000));
    const testutil::RunResult d = rates.Check();
    EXPECT_EQ(d.status, 2) << d.out;
    EXPECT_TRUE(Has(d.out, "The file assigned to channel 2 has a different rate!\n")) << d.out;
    EXPECT_TRUE(Has(d.out, "tracks.txt: error: a run would stop here with status 1 (see the message above)\n"))
        << d.out;

    // A room the reverb rejects on its first block: checked without mixing.
    Session room(kPrefs, kTwoTracks,
                 "begin\ncheck_mix\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nrev\t1\t-6\nrtn\t-6\t5000\ntrev\t2\t-6\n"
                 "trtn\t-6\t5000\t3\nend\n");
    const testutil::RunResult v = room.Check();
    EXPECT_EQ(v.status, 2) << v.out;
    EXPECT_TRUE(Has(v.out, "Please reduce room size in reverb!\n")) << v.out;
    EXPECT_TRUE(Has(v.out, "faders.txt:7: error: the reverb rejects its settings (see the message above); a run "
                           "would stop on its first block\n"))
        << v.out;
    EXPECT_TRUE(Has(v.out, ">>> Error: A tap reverb dimension has exceeded the limit\n")) << v.out;
    EXPECT_TRUE(Has(v.out, "faders.txt:9: error: the tap reverb rejects its settings (see the message above); a "
                           "run would stop on its first block\n"))
        << v.out;
    EXPECT_EQ(CountOf(v.out, "Mixing"), 0);

    // The mix would overwrite the cue sheet being read.
    Session clash("begin\ndither\t0\noname\tfaders\nend\n", kTwoTracks, kClean);
    WriteText(clash.dir / "faders.wav", kClean);
    const testutil::RunResult c = clash.Check("tracks.txt faders.wav");
    EXPECT_EQ(c.status, 2) << c.out;
    EXPECT_TRUE(Has(c.out, "Error: the mix file faders.wav is also the cue sheet (faders.wav); nothing was written.\n"))
        << c.out;
    EXPECT_TRUE(Has(c.out, "faders.wav: error: a run would stop here with status 2")) << c.out;
}

TEST(Check, MissingDefaultFilesAreReportedNotWrittenAndThePromptIsNotAsked)
{
    Session s("", "1 a.wav +\nend\n", "");
    const testutil::RunResult r = s.Check("", "-999\n");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_FALSE(Has(r.out, "Enter the default fader value")) << r.out;
    EXPECT_FALSE(Has(r.out, "created one for you")) << r.out;
    EXPECT_TRUE(Has(r.out, "prefs.txt: warning: not found; a run would write the default preferences to "
                           "prefs.txt\n"))
        << r.out;
    EXPECT_TRUE(Has(r.out, "faders.txt: warning: not found; a run would ask for a default level and write "
                           "faders.txt (checked here with a level of 0 dB on every channel)\n"))
        << r.out;
    EXPECT_FALSE(testutil::Exists(s.dir / "prefs.txt"));
    EXPECT_FALSE(testutil::Exists(s.dir / "faders.txt"));

    // A named track list that is missing stops a run: an error.
    const testutil::RunResult t = s.Check("nolist.txt");
    EXPECT_EQ(t.status, 2) << t.out;
    EXPECT_TRUE(Has(t.out, "tracks.txt file was not found.\n"));
    EXPECT_TRUE(Has(t.out, "nolist.txt: error: a run would stop here with status 2")) << t.out;
}

TEST(Check, EntriesNeverPlayedAreNamedAFewAtATimeThenCounted)
{
    std::string faders = "begin\ncheck_mix\nt\t0\t0\t0\nv\t2\t0\n";   // lines 1 to 4
    for (int i = 0; i < 9; ++i) faders += "v\t1\t0\n";                     // lines 5 to 13, all at 0 s
    faders += "end\n";
    Session s(kPrefs, kTwoTracks, faders);
    const testutil::RunResult r = s.Check();
    EXPECT_EQ(r.status, 1) << r.out;
    for (int line = 6; line <= 10; ++line)
        EXPECT_TRUE(Has(r.out, "faders.txt:" + std::to_string(line) + ": warning: level entry " +
                                   std::to_string(line - 4) + " of channel 1 is not later than the entry before it (line " +
                                   std::to_string(line - 1) + "); it is never played\n"))
            << r.out;
    EXPECT_TRUE(Has(r.out, "faders.txt:11: warning: 3 more level entries of channel 1 from this line on are not "
                           "later than the entry before them\n"))
        << r.out;
    EXPECT_TRUE(Has(r.out, "corvale --check: 0 errors, 6 warnings\n")) << r.out;
}
