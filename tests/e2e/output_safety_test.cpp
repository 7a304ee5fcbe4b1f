// The files of a user's session survive every way a run can end: errors in the
// control files, a reverb that refuses its settings, a full disk, signals at
// any point, two runs at once, outputs that name an input, mistyped names,
// closed consoles. Each test runs the built mixer and looks at the files on
// disk afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/child_process.h"
#include "tests/testutil.h"

using testutil::Child;
using testutil::ChildOptions;
using testutil::MakeWav;
using testutil::ReadBytes;
using testutil::TempDir;
using testutil::WriteText;

namespace fs = std::filesystem;

namespace {

const char* kTracks = "1 a.wav +\nend\n";
const char* kFaders = "begin\nsafe_mix\nt\t0\t0\t0\nv\t1\t0\nend\n";
const char* kPrefs = "begin\ndither\t0\nend\n";
const char* kOldMix = "yesterday's good mix";

std::string Wav(size_t frames, int seed = 0)
{
    std::vector<int32_t> samples(2 * frames);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int32_t>((i * 7 + seed) % 3000) - 1500;
    return MakeWav(2, 16, 44100, samples);
}

// A session directory with one track and the three control files.
struct Session {
    TempDir dir;
    explicit Session(const std::string& prefs = kPrefs, const std::string& faders = kFaders,
                     const std::string& tracks = kTracks)
    {
        WriteText(dir / "a.wav", Wav(2000));
        WriteText(dir / "prefs.txt", prefs);
        WriteText(dir / "tracks.txt", tracks);
        WriteText(dir / "faders.txt", faders);
    }
    std::string operator/(const std::string& name) const { return dir / name; }
    int Run(std::string& out, const std::vector<std::string>& args = {}, const ChildOptions& opt = {},
            const std::string& input = "")
    {
        std::vector<std::string> argv{CORVALE_BIN};
        argv.insert(argv.end(), args.begin(), args.end());
        Child c(dir.path(), argv, opt);
        c.Send(input);
        const int status = c.Wait();
        out = c.out();
        return status;
    }
};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Names in dir that look like a temporary output file.
std::vector<std::string> Temporaries(const std::string& dir)
{
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name.find(".tmp-") != std::string::npos) found.push_back(name);
    }
    return found;
}

mode_t ModeOf(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

// The bytes the session mixes to in a fresh directory.
std::string ReferenceMix(const std::string& prefs = kPrefs)
{
    Session s(prefs);
    std::string out;
    EXPECT_EQ(s.Run(out), 0) << out;
    return ReadBytes(s / "safe_mix.wav");
}

}  // namespace

// A fault found after the set-up used to leave a 44-byte file where the last
// good mix was; now every earlier file stays as it was.
TEST(FailedRuns, LeaveEveryEarlierFileAsItWas)
{
    struct Case {
        const char* what;
        std::string prefs, faders;
        int status;
        const char* message;
        bool mixStarted;
    };
    const std::vector<Case> cases = {
        {"time entry past the end", kPrefs, "begin\nsafe_mix\nt\t0\t0\t0\nv\t1\t0\nt\t9\t0\t0\nv\t1\t-6\nend\n", 2,
         "Error:  Time entry 2 exceeds song length\n", false},
        {"tempo without a map", "begin\ndither\t0\ntempo\nend\n", kFaders, 2,
         "Tempo mode is on, but no tempos or meters have been entered!\n", false},
        {"reverb refusing its room", "begin\ndither\t0\ntap\trtn\nend\n",
         "begin\nsafe_mix\nt\t0\t0\t0\nv\t1\t0\nrev\t1\t-6\nrtn\t-6\t-5\nend\n", 1,
         "Illegal value for reverb room size\n", true},
    };
    for (const Case& c : cases) {
        Session s(c.prefs, c.faders);
        WriteText(s / "safe_mix.wav", kOldMix);
        WriteText(s / "rtnTap.wav", "old tap");
        WriteText(s / "stats_safe_mix.txt", "old stats");
        std::string out;
        EXPECT_EQ(s.Run(out), c.status) << c.what << "\n" << out;
        EXPECT_TRUE(Has(out, c.message)) << c.what << "\n" << out;
        EXPECT_EQ(Has(out, "Nothing was written; safe_mix.wav is unchanged.\n"), c.mixStarted) << c.what << "\n" << out;
        EXPECT_FALSE(Has(out, "Done!")) << c.what;
        EXPECT_EQ(ReadBytes(s / "safe_mix.wav"), kOldMix) << c.what;
        EXPECT_EQ(ReadBytes(s / "rtnTap.wav"), "old tap") << c.what;
        EXPECT_EQ(ReadBytes(s / "stats_safe_mix.txt"), "old stats") << c.what;
        EXPECT_FALSE(testutil::Exists(s / "faders_safe_mix.txt")) << c.what;
        EXPECT_EQ(Temporaries(s.dir.path()), std::vector<std::string>{}) << c.what;
    }
}

TEST(FailedRuns, AMixThatFailsWithoutAnEarlierFileCreatesNone)
{
    Session s("begin\ndither\t0\nend\n", "begin\nsafe_mix\nt\t0\t0\t0\nv\t1\t0\nrev\t1\t-6\nrtn\t-6\t-5\nend\n");
    std::string out;
    EXPECT_EQ(s.Run(out), 1) << out;
    EXPECT_TRUE(Has(out, "Nothing was written; safe_mix.wav was not created.\n")) << out;
    EXPECT_FALSE(testutil::Exists(s / "safe_mix.wav"));
    EXPECT_EQ(Temporaries(s.dir.path()), std::vector<std::string>{});
}

// A report that cannot be written after the mix is in place keeps the new mix.
TEST(FailedRuns, AReportThatCannotBeWrittenKeepsTheNewMix)
{
    Session s("begin\ndither\t0\nbakdir\tnowhere/\nend\n");
    WriteText(s / "safe_mix.wav", kOldMix);
    std::string out;
    EXPECT_EQ(s.Run(out), 2) << out;
    EXPECT_TRUE(Has(out, "Done!  Created the file: safe_mix.wav")) << out;
    EXPECT_TRUE(Has(out, "Error: could not write the report file nowhere/stats_safe_mix.txt: No such file or directory\n"))
        << out;
    EXPECT_FALSE(Has(out, "Nothing was written")) << out;
    EXPECT_EQ(ReadBytes(s / "safe_mix.wav"), ReferenceMix());
}

// A mix long enough to be stopped part-way: many channels of one short track,
// every one with a full strip.
struct LongSession : Session {
    explicit LongSession(int channels = 24) : Session(kPrefs, Faders(channels), Tracks(channels))
    {
        WriteText(dir / "a.wav", Wav(44100 * 20));
    }
    static std::string Tracks(int channels)
    {
        std::string t;
        for (int c = 1; c <= channels; ++c) t += std::to_string(c) + " a.wav +\n";
        return t + "end\n";
    }
    static std::string Faders(int channels)
    {
        std::string f = "begin\nsafe_mix\nt\t0\t0\t0\n";
        for (int c = 1; c <= channels; ++c) {
            const std::string ch = std::to_string(c);
            f += "v\t" + ch + "\t-30\nhp\t" + ch + "\t40\nband1\t" + ch + "\t1000\t3\t1\nband2\t" + ch +
                 "\t3000\t-3\t1\nrms\t" + ch + "\t-20\t10\t100\t4\ncomp\t" + ch + "\t-12\t5\t120\t3\n";
        }
        return f + "end\n";
    }
};

TEST(Signals, StopTheMixWithinABlockAndKeepThePreviousMix)
{
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        LongSession s;
        WriteText(s / "safe_mix.wav", kOldMix);
        Child c(s.dir.path(), {CORVALE_BIN});
        ASSERT_TRUE(c.WaitFor("1/4 done\n")) << c.out();
        c.Signal(sig);
        EXPECT_EQ(c.Wait(), 128 + sig) << c.out();
        EXPECT_EQ(c.termSignal(), sig);
        EXPECT_FALSE(Has(c.out(), "Done!")) << c.out();
        EXPECT_TRUE(Has(c.out(), "Nothing was written; safe_mix.wav is unchanged.\n")) << c.out();
        EXPECT_EQ(ReadBytes(s / "safe_mix.wav"), kOldMix);
        EXPECT_FALSE(testutil::Exists(s / "stats_safe_mix.txt"));
        EXPECT_EQ(Temporaries(s.dir.path()), std::vector<std::string>{});
    }
}

TEST(Signals, AtThePromptEndTheRunWithoutTakingADefault)
{
    Session s;
    fs::remove(s / "faders.txt");
    Child c(s.dir.path(), {CORVALE_BIN});
    ASSERT_TRUE(c.WaitFor("Enter the default fader value or -999 to exit.\n")) << c.out();
    c.Signal(SIGINT);
    EXPECT_EQ(c.Wait(), 128 + SIGINT) << c.out();
    EXPECT_FALSE(testutil::Exists(s / "faders.txt"));
    EXPECT_FALSE(testutil::Exists(s / "safe_mix.wav"));
    EXPECT_FALSE(testutil::Exists(s / "test_mix.wav"));
    EXPECT_EQ(Temporaries(s.dir.path()), std::vector<std::string>{});
}

TEST(Signals, AHangUpIgnoredAtStartStaysIgnored)
{
    LongSession s;
    ChildOptions opt;
    opt.ignoreHangUp = true;
    Child c(s.dir.path(), {CORVALE_BIN}, opt);
    ASSERT_TRUE(c.WaitFor("1/4 done\n")) << c.out();
    c.Signal(SIGHUP);
    EXPECT_EQ(c.Wait(), 0) << c.out();
    EXPECT_TRUE(Has(c.out(), "Done!  Created the file: safe_mix.wav")) << c.out();
}

// A console that cannot be written (a reader that went away, a closed
// descriptor) never stops or corrupts the mix.
TEST(Console, AGoneOrClosedConsoleLeavesTheMixIntact)
{
    const std::string reference = ReferenceMix();
    {
        Session s;
        ChildOptions opt;
        opt.stdoutClosedPipe = true;
        std::string out;
        EXPECT_EQ(s.Run(out, {}, opt), 0);
        EXPECT_EQ(ReadBytes(s / "safe_mix.wav"), reference);
    }
    {
        Session s;
        ChildOptions opt;
        opt.closeStdout = true;
        std::string out;
        EXPECT_EQ(s.Run(out, {}, opt), 0);
        EXPECT_EQ(ReadBytes(s / "safe_mix.wav"), reference);
        EXPECT_TRUE(testutil::Exists(s / "stats_safe_mix.txt"));
    }
}

TEST(Replacing, TheNewFileTakesTheModeOfTheOldOneOrTheUmask)
{
    {
        Session s;
        WriteText(s / "safe_mix.wav", kOldMix);
        fs::permissions(s / "safe_mix.wav", fs::perms(0640));
        std::string out;
        EXPECT_EQ(s.Run(out), 0) << out;
        EXPECT_EQ(ModeOf(s / "safe_mix.wav"), 0640u);
        EXPECT_NE(ReadBytes(s / "safe_mix.wav"), kOldMix);
    }
    for (int mask : {022, 027}) {
        Session s;
        ChildOptions opt;
        opt.umask = mask;
        std::string out;
        EXPECT_EQ(s.Run(out, {}, opt), 0) << out;
        EXPECT_EQ(ModeOf(s / "safe_mix.wav"), 0666u & ~static_cast<unsigned>(mask));
        EXPECT_EQ(ModeOf(s / "stats_safe_mix.txt"), 0666u & ~static_cast<unsigned>(mask));
    }
}

TEST(Replacing, ALinkStaysALinkAndItsTargetIsReplaced)
{
    Session s("begin\ndither\t0\nmixdir\tout/\nend\n");
    fs::create_directory(s / "real");
    fs::create_directory(s / "out");
    WriteText(s / "real/kept.wav", kOldMix);
    fs::create_symlink("../real/kept.wav", s / "out/safe_mix.wav");
    std::string out;
    EXPECT_EQ(s.Run(out), 0) << out;
    EXPECT_TRUE(fs::is_symlink(s / "out/safe_mix.wav"));
    EXPECT_EQ(ReadBytes(s / "real/kept.wav"), ReferenceMix());
    EXPECT_EQ(Temporaries(s / "real"), std::vector<std::string>{});
    EXPECT_EQ(Temporaries(s / "out"), std::vector<std::string>{});
}

TEST(Replacing, ADeviceIsWrittenDirectly)
{
    Session s;
    fs::create_symlink("/dev/null", s / "safe_mix.wav");
    std::string out;
    EXPECT_EQ(s.Run(out), 0) << out;
    EXPECT_TRUE(fs::is_symlink(s / "safe_mix.wav"));
    EXPECT_EQ(Temporaries(s.dir.path()), std::vector<std::string>{});
}

// Two runs with the same output each write a whole file of their own; the
// last to finish wins, and the file is exactly what one run writes.
TEST(Replacing, TwoRunsAtOnceLeaveOneCompleteMix)
{
    LongSession s(6);
    Child first(s.dir.path(), {CORVALE_BIN});
    Child second(s.dir.path(), {CORVALE_BIN});
    EXPECT_EQ(first.Wait(), 0) << first.out();
    EXPECT_EQ(second.Wait(), 0) << second.out();
    const std::string both = ReadBytes(s / "safe_mix.wav");

    LongSession alone(6);
    std::string out;
    ASSERT_EQ(alone.Run(out), 0) << out;
    EXPECT_EQ(both.size(), ReadBytes(alone / "safe_mix.wav").size());
    EXPECT_TRUE(both == ReadBytes(alone / "safe_mix.wav"));
    EXPECT_EQ(Temporaries(s.dir.path()), std::vector<std::string>{});
}

// An earlier mix the user cannot write is never replaced by the rename.
TEST(Replacing, AWriteProtectedMixStopsTheRunBeforeAnythingIsWritten)
{
    Session s;
    WriteText(s / "safe_mix.wav", kOldMix);
    fs::permissions(s / "safe_mix.wav", fs::perms(0444));
    ChildOptions opt;
    if (::geteuid() == 0) {
        // Root may write anything: run as an ordinary user in a directory it may write.
        opt.uid = 65534;
        opt.gid = 65534;
        fs::permissions(s.dir.path(), fs::perms(0777));
        for (const char* f : {"a.wav", "prefs.txt", "tracks.txt", "faders.txt", "safe_mix.wav"})
            ASSERT_EQ(::chown((s / f).c_str(), 65534, 65534), 0);
    }
    std::string out;
    EXPECT_EQ(s.Run(out, {}, opt), 2) << out;
    EXPECT_TRUE(Has(out, "Error: the output file safe_mix.wav could not be created.\n  safe_mix.wav: Permission denied\n"))
        << out;
    EXPECT_EQ(ReadBytes(s / "safe_mix.wav"), kOldMix);
    EXPECT_FALSE(testutil::Exists(s / "stats_safe_mix.txt"));
    EXPECT_EQ(Temporaries(s.dir.path()), std::vector<std::string>{});
}

TEST(Collisions, AnOutputThatIsAnInputStopsTheRunBeforeAnythingIsWritten)
{
    struct Case {
        std::string prefs, tracks, faderName, message;
    };
    const std::vector<Case> cases = {
        {"begin\noname\ta\nend\n", kTracks, "faders.txt",
         "Error: the mix file a.wav is also the track of channel 1 (a.wav); nothing was written.\n"},
        {"begin\noname\tb\nend\n", "1 a.wav +\n2 b.wav -\nend\n", "faders.txt",
         "Error: the mix file b.wav is also the track of channel 2 (b.wav); nothing was written.\n"},
        {"begin\ntap\trtn\nend\n", "1 a.wav +\n2 rtnTap.wav mute\nend\n", "faders.txt",
         "Error: the tap file rtnTap.wav is also the track of channel 2 (rtnTap.wav); nothing was written.\n"},
        {"begin\noname\trtnTap\ntap\trtn\nend\n", kTracks, "faders.txt",
         "Error: the mix file rtnTap.wav and the tap file rtnTap.wav are the same file; nothing was written.\n"},
        {"begin\nbakdir\tsub/../\nend\n", kTracks, "stats_safe_mix.txt",
         "Error: the statistics report sub/../stats_safe_mix.txt is also the cue sheet (stats_safe_mix.txt); "
         "nothing was written.\n"},
    };
    for (const Case& c : cases) {
        Session s(c.prefs, kFaders, c.tracks);
        fs::create_directory(s / "sub");
        WriteText(s / "b.wav", Wav(1000, 1));
        WriteText(s / "rtnTap.wav", Wav(1000, 2));
        WriteText(s / c.faderName, "begin\nsafe_mix\nt\t0\t0\t0\nv\t1\t0\nrev\t1\t-6\nrtn\t-6\t40\nend\n");
        const std::string a = ReadBytes(s / "a.wav"), b = ReadBytes(s / "b.wav"), tap = ReadBytes(s / "rtnTap.wav");
        std::string out;
        EXPECT_EQ(s.Run(out, {"tracks.txt", c.faderName}), 2) << out;
        EXPECT_TRUE(Has(out, c.message)) << out;
        EXPECT_EQ(ReadBytes(s / "a.wav"), a);
        EXPECT_EQ(ReadBytes(s / "b.wav"), b);
        EXPECT_EQ(ReadBytes(s / "rtnTap.wav"), tap);
        EXPECT_FALSE(testutil::Exists(s / "safe_mix.wav"));
        EXPECT_EQ(Temporaries(s.dir.path()), std::vector<std::string>{});
    }
}

TEST(Collisions, ACueSheetThatIsItsOwnBackupIsNotWrittenAgain)
{
    Session s;
    WriteText(s / "faders_safe_mix.txt", "begin\nsafe_mix\nt\t0\t0\t0\nv\t1\t0\nend\n\nmy notes after the end\n");
    const std::string before = ReadBytes(s / "faders_safe_mix.txt");
    std::string out;
    EXPECT_EQ(s.Run(out, {"tracks.txt", "faders_safe_mix.txt"}), 0) << out;
    EXPECT_TRUE(Has(out, ">> Warning: the fader backup faders_safe_mix.txt is the cue sheet being read; it is not "
                         "written.\n"))
        << out;
    EXPECT_EQ(ReadBytes(s / "faders_safe_mix.txt"), before);
    EXPECT_TRUE(testutil::Exists(s / "stats_safe_mix.txt"));
}

// A typo in a control-file name must not replace the user's file of the
// default name with a default one.
TEST(MistypedNames, KeepTheExistingDefaultFilesAndStop)
{
    Session s("begin\ndither\t0\noname\tmine\nend\n");
    const std::string prefs = ReadBytes(s / "prefs.txt"), faders = ReadBytes(s / "faders.txt");
    std::string out;
    EXPECT_EQ(s.Run(out, {"tracks.txt", "faders.txt", "prefz.txt"}), 2) << out;
    EXPECT_TRUE(Has(out, "Error: prefz.txt was not found; the existing prefs.txt is kept.\n")) << out;
    EXPECT_EQ(s.Run(out, {"tracks.txt", "fadrs.txt"}, {}, "3\n"), 2) << out;
    EXPECT_TRUE(Has(out, "Error: fadrs.txt was not found; the existing faders.txt is kept.\n")) << out;
    EXPECT_FALSE(Has(out, "Enter the default fader value")) << out;
    EXPECT_EQ(ReadBytes(s / "prefs.txt"), prefs);
    EXPECT_EQ(ReadBytes(s / "faders.txt"), faders);
    EXPECT_FALSE(testutil::Exists(s / "mine.wav"));
    EXPECT_FALSE(testutil::Exists(s / "prefz.txt"));
    EXPECT_FALSE(testutil::Exists(s / "fadrs.txt"));
}
