// Whole console output of complete runs, and the companions' files read by the mixer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/testutil.h"

using testutil::MakeWav;
using testutil::RunIn;
using testutil::TempDir;
using testutil::WriteText;

namespace {

// A square wave of +-8192 (16-bit, mono, 8000 Hz) changing sign every 1000 frames:
// at unity its peak and its windowed RMS are both a quarter of full scale, -12.04 dB.
void SquareSession(const TempDir& dir, const std::string& prefs)
{
    std::vector<int32_t> s(20000);
    for (size_t i = 0; i < s.size(); ++i) s[i] = (i / 1000) % 2 == 0 ? 8192 : -8192;
    WriteText(dir / "a.wav", MakeWav(1, 16, 8000, s));
    WriteText(dir / "tracks.txt", "1 a.wav +\n");
    WriteText(dir / "prefs.txt", prefs);
    WriteText(dir / "faders.txt", "begin\nsq\nt\t0\t0\t0\nv\t1\t0\nend\n");
}

const std::string kReportPeaks =
    "Peaks (dB):\n\n"
    "Ch 1\tL  -12.04\tR  -12.04\ta\n"
    "\n"
    "\nRMS\tL  -12.04\tR  -12.04\t(average)\n"
    "\nPeak Out L = -12.04 dB at 0 min : 0.000 sec\n"
    "Peak Out R = -12.04 dB at 0 min : 0.000 sec\n";

// The report as stats_sq.txt holds it, and as the console shows it from
// verbosity 2 on, with the loudness line after the output peaks.
const std::string kReport = kReportPeaks + "\n";
const std::string kConsoleReport = kReportPeaks + "Loudness: -24.1 LUFS integrated, 0.0 LU range\n\n";

}  // namespace

TEST(RunOutput, VerbosityTwoPrintsEveryPhaseAndTheReport)
{
    TempDir dir;
    SquareSession(dir, "begin\ndither\t0\npan\t0\nend\n");
    std::string err;
    const auto r = RunIn(dir.path(), CORVALE_BIN, "", &err);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(err, "");
    EXPECT_EQ(r.out, std::string("Corvale version 1.164 (w20e)\n"
                                 "Counted 1 track\n"
                                 "Read file headers.\n"
                                 "Sample Rate: 8000\n"
                                 "Checking Preferences...\n"
                                 "Preview mode not specified.\n"
                                 "Reading volume and pan settings...\n"
                                 "Counted 1 time entry.\n"
                                 "Reading effect settings...\n"
                                 "\n"
                                 "Mixing...\n"
                                 "\nDone!  Created the file: sq.wav\n\n") +
                         kConsoleReport);
    const std::string stats = testutil::ReadBytes(dir / "stats_sq.txt");
    EXPECT_EQ(stats.rfind(kReport, 0), 0u);
    EXPECT_EQ(stats.find("Processing time = "), kReport.size());
    EXPECT_EQ(testutil::ReadBytes(dir / "faders_sq.txt"), "\nsq\nt\t0\t0\t0\nv\t1\t0\nend\n");
}

TEST(RunOutput, VerbosityThreePrintsSubHeadingsAndTheTimeButNoLevelTwoLines)
{
    TempDir dir;
    SquareSession(dir, "begin\nverbo\t3\ndither\t0\npan\t0\npre\ton\nend\n");
    const auto r = RunIn(dir.path(), CORVALE_BIN);
    EXPECT_EQ(r.status, 0);
    const std::string head =
        "Reading effect settings...\n"
        "\tReading peak compressor settings...\n"
        "\tReading NLC compressor settings...\n"
        "\tReading high pass filter settings...\n"
        "\tReading band 1-4 EQ settings...\n"
        "\tReading high and low shelf EQ settings...\n"
        "\tReading reverb settings...\n"
        "\n"
        "\nDone!  Created the file: preview.wav\n\n";
    EXPECT_EQ(r.out.substr(0, head.size() + kConsoleReport.size()), head + kConsoleReport);
    EXPECT_EQ(r.out.find("\nProcessing time = ", head.size()), head.size() + kConsoleReport.size());
    // A preview writes the report under the mix's own name.
    EXPECT_TRUE(testutil::Exists(dir / "stats_sq.txt"));
}

TEST(RunOutput, VerbosityZeroKeepsOnlyTheUnconditionalLines)
{
    TempDir dir;
    SquareSession(dir, "begin\nverbo\t0\ndither\t0\npan\t0\nend\n");
    const auto r = RunIn(dir.path(), CORVALE_BIN);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Preview mode not specified.\n\n");
    EXPECT_EQ(testutil::ReadBytes(dir / "stats_sq.txt").rfind(kReport, 0), 0u);
}

TEST(Companions, EveryLayoutThePalisarWritesMixes)
{
    for (const char* model : {"1", "2", "3"}) {
        TempDir dir;
        std::vector<int32_t> s(4000);
        for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int32_t>((i * 37) % 2000) - 1000;
        WriteText(dir / "a.wav", MakeWav(1, 16, 44100, s));
        WriteText(dir / "b.wav", MakeWav(2, 24, 44100, s));
        WriteText(dir / "tracks.txt", "1 a.wav +\n2 b.wav +\n");
        WriteText(dir / "prefs.txt", "begin\ndither\t0\nend\n");
        // Every effect with its default values, two channels.
        ASSERT_EQ(RunIn(dir.path(), PALISAR_BIN, std::string(model) + "\n2\n-6\n1\n1\n").status, 0);
        const auto r = RunIn(dir.path(), CORVALE_BIN);
        EXPECT_EQ(r.status, 0) << model << r.out;
        EXPECT_NE(r.out.find("Done!  Created the file: MixFilename.wav"), std::string::npos) << model;
        EXPECT_EQ(r.out.find("Warning"), std::string::npos) << model << r.out;
        EXPECT_EQ(testutil::ReadBytes(dir / "MixFilename.wav").size(), 44u + 6 * 4000) << model;   // the longer (mono) track
    }
}

TEST(Companions, TheAdjusterOutputReadsBackAsTheSameCues)
{
    TempDir dir;
    std::vector<int32_t> s(44100 * 3, 1000);
    WriteText(dir / "a.wav", MakeWav(1, 16, 44100, s));
    WriteText(dir / "tracks.txt", "1 a.wav +\n");
    WriteText(dir / "prefs.txt", "begin\ndither\t0\nend\n");
    WriteText(dir / "faders.txt", "begin\nadj\nt\t0\t0\t0\nv\t1\t-6\nt\t0\t1\t500\nv\t1\t-12\nrmp\t0.5\nend\n");
    // Stretch by 1.5 and save by time; the saved block is a cue sheet of its own.
    const auto q = RunIn(dir.path(), std::string(QUENBY_BIN), "st\n1.5\npf\ncues.txt\nx\n");
    ASSERT_EQ(q.status, 0);
    EXPECT_EQ(testutil::ReadBytes(dir / "cues.txt"),
              "begin\n\n\nt\t0\t0\t0\nv\t1\t-6.00\n\nt\t0\t2\t250\nv\t1\t-12.00\nrmp\t0.750\n");
    const auto r = RunIn(dir.path(), std::string(CORVALE_BIN) + " tracks.txt cues.txt");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Counted 2 time entries."), std::string::npos);
}
