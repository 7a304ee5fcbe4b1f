// Hostile answers to the cue-sheet generator: numbers that are not finite, and
// channel counts far beyond what a cue sheet can hold.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "palisar/palisar.h"
#include "tests/testutil.h"

namespace {

std::FILE* StreamOf(const std::string& text)
{
    std::FILE* f = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    return f;
}

}  // namespace

TEST(PalisarHardening, FloatAnswersThatAreNotFiniteLeaveTheValueAsItWas)
{
    std::FILE* in = StreamOf("nan\ninf\n-inf\n1e999\n-7.5\n");
    palisar::AnswerReader read(in);
    float v = 3.0f;
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(read.Float(v)) << "answer " << i + 1;   // answered: the dialogue goes on
        EXPECT_EQ(v, 3.0f) << "answer " << i + 1;
    }
    EXPECT_TRUE(read.Float(v));   // the reader went on past them
    EXPECT_EQ(v, -7.5f);
    EXPECT_FALSE(read.Float(v));   // the end of the input
    EXPECT_EQ(v, -7.5f);
    std::fclose(in);
}

TEST(PalisarHardening, NonFiniteEffectValuesKeepTheirDefaultsInTheWrittenFile)
{
    testutil::TempDir dir;
    // Model 2, one channel, fader "nan", choose effects: high pass only, enter
    // values: cut-off "inf".
    const std::string answers = "2\n1\nnan\n2\n1\n2\n2\n2\n2\n2\n2\n2\n2\n2\n2\n2\ninf\n";
    const auto r = testutil::RunIn(dir.path(), PALISAR_BIN, answers);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(testutil::ReadBytes(dir / "faders.txt"),
              "MixFilename\n"
              "\nHigh Pass Filter\ncode\tchan\tfreq\n(hp)\t1\t100\n"
              "\nPan\ncode\tchan\t%\np\t1\t0\n"
              "\nCue Times and Fader Levels\ncode\tmin\tsec\tmsec\nt\t0\t0\t0\nv\t1\t0.0\n"
              "\nend\n");
}

// A count of two billion channels used to build the whole text before the size
// check; the text now stops growing just past the limit.
TEST(PalisarHardening, AHugeChannelCountIsRefusedWithoutBuildingTheWholeText)
{
    for (int model = 1; model <= 3; ++model) {
        SCOPED_TRACE(model);
        palisar::Answers a;
        a.model = model;
        a.channels = 2147483647;
        a.effectsChoice = 1;
        for (auto& e : a.effects) e.selected = true;
        const std::string text = palisar::BuildFaderText(a);
        EXPECT_GT(text.size(), palisar::kTextLimit);
        EXPECT_LT(text.size(), palisar::kTextLimit + 4096);
    }
    testutil::TempDir dir;
    const auto r = testutil::RunIn(dir.path(), PALISAR_BIN, "2\n2147483647\n0\n3\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("The fader file would be too large: please ask for fewer channels.\n"), std::string::npos);
    EXPECT_FALSE(testutil::Exists(dir / "faders.txt"));
}

TEST(PalisarHardening, The127ChannelsOfAFullMixStayWithinTheLimit)
{
    palisar::Answers a;
    a.model = 1;
    a.channels = 127;
    a.effectsChoice = 1;
    for (auto& e : a.effects) e.selected = true;
    const std::string text = palisar::BuildFaderText(a);
    EXPECT_LE(text.size(), palisar::kTextLimit);
    EXPECT_NE(text.find("\n-- Channel 127 --\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 5), "\nend\n");
}
