// What a run would otherwise lose without a word: tracks that will not be
// heard, lines typed with spaces, a track list with no usable track, an empty
// export window, a silent mix; and --strict, which makes them errors.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/testutil.h"

using testutil::MakeWav;
using testutil::ReadBytes;
using testutil::RunIn;
using testutil::TempDir;
using testutil::WriteText;

namespace {

std::string Wav()
{
    std::vector<int32_t> samples(2 * 3000);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int32_t>(i % 2000) - 1000;
    return MakeWav(2, 16, 44100, samples);
}

struct Session {
    TempDir dir;
    Session(const std::string& prefs, const std::string& tracks, const std::string& faders)
    {
        for (const char* name : {"a.wav", "b.wav", "my kick.wav"}) WriteText(dir / name, Wav());
        WriteText(dir / "prefs.txt", prefs);
        WriteText(dir / "tracks.txt", tracks);
        WriteText(dir / "faders.txt", faders);
    }
    testutil::RunResult Run(const std::string& options = "")
    {
        return RunIn(dir.path(), "'" CORVALE_BIN "' " + options);
    }
};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const char* kSixTracks =
    "1 a.wav +\n"
    "2 missing.wav +\n"
    "3 my kick.wav +\n"
    "4 b.wav + \n"
    "5 a.wav mute\n"
    "6 b.wav +\n"
    "end\n";
const char* kLevelsButSix = "begin\ndiag_mix\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nv\t3\t0\nv\t4\t0\nv\t5\t0\nend\n";

}  // namespace

TEST(Diagnostics, TracksThatWillNotBeHeardAreListedWithTheirReasons)
{
    Session s("begin\ndither\t0\nend\n", kSixTracks, kLevelsButSix);
    const testutil::RunResult r = s.Run();
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string summary =
        ">> Warning: 4 of 6 tracks will not be heard:\n"
        "  channel 2 (missing.wav): not found\n"
        "  channel 3 (my): its marker \"kick.wav +\" is neither \"+\" nor \"++\" (a name with spaces, or a space "
        "after the marker?)\n"
        "  channel 4 (b.wav): its marker \"+ \" is neither \"+\" nor \"++\" (a name with spaces, or a space after the "
        "marker?)\n"
        "  channel 6 (b.wav): no level cue in the cue sheet\n";
    EXPECT_TRUE(Has(r.out, summary)) << r.out;
    EXPECT_FALSE(Has(r.out, "channel 5")) << "a deliberate mute is not reported";
    EXPECT_TRUE(Has(r.out, "Done!"));

    // The JSON report says why each channel is not heard, deliberate mutes included.
    const nlohmann::json j = nlohmann::json::parse(ReadBytes(s.dir / "stats_diag_mix.json"));
    const auto& ch = j.at("channels");
    ASSERT_EQ(ch.size(), 6u);
    EXPECT_TRUE(ch[0].at("heard").get<bool>());
    EXPECT_FALSE(ch[0].contains("not_heard_because"));
    EXPECT_EQ(ch[1].at("not_heard_because"), "not found");
    EXPECT_EQ(ch[4].at("heard"), false);
    EXPECT_EQ(ch[4].at("not_heard_because"), "muted (a marker, a solo elsewhere or a muted submix)");
    EXPECT_EQ(ch[5].at("not_heard_because"), "no level cue in the cue sheet");
}

TEST(Diagnostics, SolosAndDeliberateMutesAreNotReported)
{
    Session s("begin\nend\n", "1 a.wav ++\n2 b.wav +\n3 a.wav off\nend\n",
              "begin\ndiag_mix\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nv\t3\t0\nend\n");
    const testutil::RunResult r = s.Run();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(Has(r.out, "will not be heard")) << r.out;
}

TEST(Diagnostics, StrictStopsBeforeAnythingIsWritten)
{
    Session s("begin\ndither\t0\nend\n", kSixTracks, kLevelsButSix);
    WriteText(s.dir / "diag_mix.wav", "old");
    const testutil::RunResult r = s.Run("--strict");
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_TRUE(Has(r.out, ">> Warning: 4 of 6 tracks will not be heard:\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "Error: tracks that will not be heard stop the run (--strict); nothing was written.\n"));
    EXPECT_EQ(ReadBytes(s.dir / "diag_mix.wav"), "old");
    EXPECT_FALSE(testutil::Exists(s.dir / "stats_diag_mix.txt"));

    // The summary prints at verbosity 0 too when it stops the run.
    Session quiet("begin\nverbo\t0\nend\n", kSixTracks, kLevelsButSix);
    const testutil::RunResult q = quiet.Run("--strict");
    EXPECT_EQ(q.status, 3);
    EXPECT_TRUE(Has(q.out, "  channel 2 (missing.wav): not found\n")) << q.out;
    const testutil::RunResult v0 = quiet.Run();
    EXPECT_EQ(v0.status, 0);
    EXPECT_FALSE(Has(v0.out, "will not be heard")) << "verbosity 0 keeps its output";
}

TEST(Diagnostics, ASilentMixIsWarnedAboutAndAnErrorUnderStrict)
{
    // A fader at 0 percent: every bus value is 0 (-144 dB still lets tiny values through).
    const char* faders = "begin\ndiag_mix\nt\t0\t0\t0\nv\t1\t0\nend\n";
    const char* prefs = "begin\ndither\t0\nv=percent\nend\n";
    Session s(prefs, "1 a.wav +\nend\n", faders);
    const testutil::RunResult r = s.Run();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(Has(r.out, ">> Warning: the mix is silent: the master was zero at every frame.\n")) << r.out;

    Session strict(prefs, "1 a.wav +\nend\n", faders);
    const testutil::RunResult st = strict.Run("--strict");
    EXPECT_EQ(st.status, 3) << st.out;
    EXPECT_TRUE(Has(st.out, "Error: the mix is silent: the master was zero at every frame (--strict).\n"));
    EXPECT_TRUE(Has(st.out, "Nothing was written; diag_mix.wav was not created.\n")) << st.out;
    EXPECT_FALSE(testutil::Exists(strict.dir / "diag_mix.wav"));

    Session heard("begin\ndither\t0\nend\n", "1 a.wav +\nend\n", "begin\ndiag_mix\nt\t0\t0\t0\nv\t1\t0\nend\n");
    EXPECT_FALSE(Has(heard.Run("--strict").out, "silent"));
}

TEST(Diagnostics, LinesTypedWithSpacesAreNamedWithTheirLineNumbers)
{
    Session s("notes\nbegin\noname spaced\ndither\t0\nend\n", "1 a.wav +\nend\n",
              "A note\nbegin\ndiag_mix\nt\t0\t0\t0\nv\t1\t0\nrev 1 -6\nrtn -8.0 60\nlevel of 1 is fine\nend\nv 1 0\n");
    const testutil::RunResult r = s.Run();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(Has(r.out, ">> Warning: prefs.txt line 3: \"oname spaced\" is separated by spaces, not tabs; it is "
                           "not read as written.\n"))
        << r.out;
    EXPECT_TRUE(Has(r.out, ">> Warning: faders.txt line 6: \"rev 1 -6\" is separated by spaces")) << r.out;
    EXPECT_TRUE(Has(r.out, ">> Warning: faders.txt line 7: \"rtn -8.0 60\" is separated by spaces")) << r.out;
    EXPECT_FALSE(Has(r.out, "line 8")) << "a note whose first word is no code";
    EXPECT_FALSE(Has(r.out, "line 10")) << "lines after end";
}

TEST(Diagnostics, ATrackListWithNoUsableTrackSaysSoBeforeTheWindowError)
{
    Session s("begin\nend\n", "1\ta.wav\t+\nend\n", "begin\ndiag_mix\nt\t0\t0\t0\nv\t1\t0\nend\n");
    const testutil::RunResult r = s.Run();
    EXPECT_EQ(r.status, 2) << r.out;
    const size_t warn = r.out.find(">> Warning: no track of the track list tracks.txt can be used.\n"
                                   "  Its lines hold tabs: the preferences may be missing \"tlist=tab\".\n");
    const size_t error = r.out.find("Head or tail set incorrectly in preferences!\n");
    ASSERT_NE(warn, std::string::npos) << r.out;
    ASSERT_NE(error, std::string::npos) << r.out;
    EXPECT_LT(warn, error);
}

TEST(Diagnostics, AnEmptyExportWindowIsWarnedAbout)
{
    Session s("begin\nxfields\t1\nxin\t0.02\nxout\t0.02\nend\n", "1 a.wav +\nend\n",
              "begin\ndiag_mix\nt\t0\t0\t0\nv\t1\t0\nend\n");
    const testutil::RunResult r = s.Run();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(Has(r.out, ">> Warning: the export window holds no frames (xin equals xout)")) << r.out;
    EXPECT_EQ(ReadBytes(s.dir / "diag_mix.wav").size(), 44u);
}

TEST(Diagnostics, ATrackShorterThanItsHeaderSaysIsWarnedAboutAndAnErrorUnderStrict)
{
    Session s("begin\ndither\t0\nend\n", "1 a.wav +\nend\n", "begin\ndiag_mix\nt\t0\t0\t0\nv\t1\t0\nend\n");
    std::string wav = ReadBytes(s.dir / "a.wav");
    wav.resize(44 + 4 * 1000);   // the header still says 3000 frames
    WriteText(s.dir / "a.wav", wav);
    const testutil::RunResult r = s.Run();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(Has(r.out, ">> Warning: the file of channel 1 (a.wav) holds 1000 frames but its header says 3000; it "
                           "plays short.\n"))
        << r.out;
    EXPECT_EQ(ReadBytes(s.dir / "diag_mix.wav").size(), 44u + 6u * 1000u);

    std::filesystem::remove(s.dir / "diag_mix.wav");
    const testutil::RunResult st = s.Run("--strict");
    EXPECT_EQ(st.status, 3) << st.out;
    EXPECT_TRUE(Has(st.out, "Error: tracks shorter than their headers say stop the run (--strict); nothing was "
                            "written.\n"))
        << st.out;
    EXPECT_FALSE(testutil::Exists(s.dir / "diag_mix.wav"));
}
