#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "palisar/palisar.h"
#include "tests/testutil.h"

using testutil::ReadBytes;
using testutil::RunIn;
using testutil::TempDir;

namespace {

testutil::RunResult Palisar(const TempDir& dir, const std::string& answers, std::string* err = nullptr)
{
    return RunIn(dir.path(), PALISAR_BIN, answers, err);
}

}  // namespace

TEST(Palisar, ModelTwoWithoutEffectsWritesPanAndCueBlocks)
{
    TempDir dir;
    std::string err;
    const auto r = Palisar(dir, "2\n2\n-10\n3\n", &err);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(err, "");
    EXPECT_EQ(ReadBytes(dir / "faders.txt"),
              "MixFilename\n"
              "\nPan\ncode\tchan\t%\np\t1\t0\np\t2\t0\n"
              "\nCue Times and Fader Levels\ncode\tmin\tsec\tmsec\nt\t0\t0\t0\n"
              "v\t1\t-10.0\nv\t2\t-10.0\n"
              "\nend\n");
    EXPECT_NE(r.out.find("3. Don't add effects\nThe fader file has been created!\n"
                         "Remove parenthesis around codes to activate effects.\n"),
              std::string::npos);
    EXPECT_EQ(r.out.rfind("\n---------------------------------------------------------------\n"
                          "Palisar (v 1.03.1)\n\n\nThis program will generate a fader file for Corvale.\n", 0),
              0u);
}

TEST(Palisar, ModelOneWithEveryDefaultEffectWritesEachRowFormat)
{
    TempDir dir;
    ASSERT_EQ(Palisar(dir, "1\n1\n0\n1\n1\n").status, 0);
    const std::string t = ReadBytes(dir / "faders.txt");
    const char* rows[] = {
        "\n-- Channel 1 --\n\nHigh Shelf\ncode\tchan\tfreq\tgain\tQ\n(hshelf\t1\t12000\t0.0\t1.0\n",
        "\nEQ Band 1\ncode\tchan\tfreq\tgain\tQ\n(band1)\t1\t1000\t0.0\t1.0\n",
        "(band2)\t1\t500.0\t0.0\t1.0\n",
        "(lshelf\t1\t180\t0.0\t1.0\n",
        "(hp)\t1\t100\n",
        "\nNon-Linear Compressor\ncode\tchan\tthresh\twindow\tratio\n(nlc)\t1\t-12\t200\t3.0\n",
        "\nLinear RMS Compressor\ncode\tchan\tthesh\tatt\trel\tratio\n(rms)\t1\t-12.0\t10\t200\t1.5\n",
        "(comp)\t1\t-9.0\t10\t200\t1.5\n",
        "(lim)\t1\t-4.0\n",
        "\nReverb Send\ncode\tchan\tlevel\nrev\t1\t0.0\n",
        "\nDiscrete Reverb Send\ncode\tchan\tlevel\ntrev\t1\t0.0\n",
        "\nPan\ncode\tchan\t%\np\t1\t0\n\nCue Times and Fader Levels\ncode\tmin\tsec\tmsec\nt\t0\t0\t0\nv\t1\t0.0\n\n",
        "\nRecursive Reverb Return\ncode\tlevel\tsize\n(rtn)\t-12.0\t75\n"
        "\nDiscrete Reverb Return\ncode\tlevel\tsize\ttaps\n(trtn)\t-12.0\t75\t3\n\nend\n",
    };
    size_t at = 0;
    for (const char* row : rows) {
        const size_t found = t.find(row, at);
        ASSERT_NE(found, std::string::npos) << row;
        at = found;   // in this order
    }
}

TEST(Palisar, ChosenEffectsTakeTheValuesEnteredInPromptOrder)
{
    TempDir dir;
    // Model 3, 1 channel, fader -3, choose: high-pass, band 2 and the limiter; enter values.
    const std::string answers = "3\n1\n-3\n2\n1\n2\n1\n2\n2\n2\n2\n2\n1\n2\n2\n2\n80\n700\n2.5\n0.7\n-1.5\n";
    const auto r = Palisar(dir, answers);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(ReadBytes(dir / "faders.txt"),
              "MixFilename\n\n--Channel 1 --\n"
              "\nEQ Band 2\ncode\tchan\tfreq\tgain\tQ\n(band2)\t1\t700.0\t2.5\t0.7\n"
              "\nHigh Pass Filter\ncode\tchan\tfreq\n(hp)\t1\t80\n"
              "\nLimiter\ncode\tchan\tthresh\n(lim)\t1\t-1.5\n"
              "\n--------------------------\n"
              "\nPan\ncode\tchan\t%\np\t1\t0\n"
              "\nCue Times and Fader Levels\ncode\tmin\tsec\tmsec\nt\t0\t0\t0\nv\t1\t-3.0\n\nend\n");
    // The high-pass prompt comes before band 2's although band 2 is listed first.
    const size_t hp = r.out.find("\n---EQ: HIGH PASS (LOW CUT) FILTER:\ncut off frequency (Hz)?\n");
    const size_t b2 = r.out.find("\n---EQ: BAND 2 (BELL)\ncenter frequency (Hz)?\ngain? (dB)\nQ (freq/bandwidth)?\n");
    ASSERT_NE(hp, std::string::npos);
    ASSERT_NE(b2, std::string::npos);
    EXPECT_LT(hp, b2);
}

TEST(Palisar, ModelFourExitsWithoutTouchingTheFile)
{
    TempDir dir;
    testutil::WriteText(dir / "faders.txt", "keep me\n");
    const auto r = Palisar(dir, "4\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("4. Exit.\nExiting\n"), std::string::npos);
    EXPECT_EQ(ReadBytes(dir / "faders.txt"), "keep me\n");
}

// A non-numeric answer or the end of the input used to be taken as "keep the
// value" and wrote a cue sheet with no channel over the earlier one; effects
// choice 4 truncated it to nothing. Both now end the dialogue with status 1 and
// leave the earlier file as it was.
TEST(Palisar, NonNumericOrMissingAnswersEndTheDialogueWithoutWriting)
{
    const std::pair<const char*, const char*> cases[] = {
        {"abc\n", "Error: the answer \"abc\" is not a number; the dialogue ends and nothing was written.\n"},
        {"", "Error: the input ended before the question was answered; nothing was written.\n"},
    };
    for (const auto& [answers, message] : cases) {
        TempDir dir;
        testutil::WriteText(dir / "faders.txt", "keep me\n");
        const auto r = Palisar(dir, answers);
        EXPECT_EQ(r.status, 1) << answers;
        EXPECT_NE(r.out.find(std::string("4. Exit.\n") + message), std::string::npos) << r.out;
        EXPECT_EQ(ReadBytes(dir / "faders.txt"), "keep me\n") << answers;
        EXPECT_FALSE(testutil::Exists(dir / "faders.txt.bak"));
    }
}

TEST(Palisar, EffectsChoiceFourEndsTheDialogueWithoutWriting)
{
    TempDir dir;
    testutil::WriteText(dir / "faders.txt", "keep me\n");
    const auto r = Palisar(dir, "2\n3\n0\n4\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ReadBytes(dir / "faders.txt"), "keep me\n");
    EXPECT_FALSE(testutil::Exists(dir / "faders.txt.bak"));
    EXPECT_EQ(r.out.find("has been created"), std::string::npos);
    EXPECT_NE(r.out.find("3. Don't add effects\nError: there is no effects choice 4 (the choices are 1 to 3); "
                         "nothing was written.\n"),
              std::string::npos);
}

TEST(Palisar, AFileThatCannotBeCreatedIsReported)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "faders.txt");
    const auto r = Palisar(dir, "2\n1\n0\n3\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Cannot create faders.txt: the fader file was not written.\n"
                         "Error: faders.txt could not be opened for writing: Is a directory.\n"),
              std::string::npos)
        << r.out;
    EXPECT_TRUE(std::filesystem::is_empty(dir / "faders.txt"));
}

TEST(Palisar, TooManyChannelsForTheTextAreRefused)
{
    palisar::Answers a;
    a.model = 1;
    a.channels = 100000;
    EXPECT_GT(palisar::BuildFaderText(a).size(), palisar::kTextLimit);
    TempDir dir;
    const auto r = Palisar(dir, "1\n100000\n0\n3\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(testutil::Exists(dir / "faders.txt"));
}
