// Reverb filters at low sample rates: a reverb high or low pass whose frequency
// is at or above half the sample rate is unstable, so it is left out with a
// warning naming it; the mix is then the mix without that filter's line.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/session_harness.h"
#include "tests/testutil.h"

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct Mixed {
    int status = -1;
    std::string console;
    std::string wav;
    bool rhp = false, rlp = false;
};

// Mixes one stereo track at rate with both reverbs sent to, plus extraRows.
Mixed MixAt(uint32_t rate, const std::string& extraRows)
{
    testutil::TempDir dir;
    std::vector<int32_t> samples(2 * 6000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int32_t>(((i * 2654435761u) >> 7) % 60001) - 30000;   // broadband
    testutil::WriteText(dir / "a.wav", testutil::MakeWav(2, 16, rate, samples));
    const std::string prefs = "begin\nmixdir\t" + dir.path() + "/\nwavdir\t" + dir.path() + "/\ndither\t0\nend\n";
    const std::string cue = "begin\nlow_mix\nt\t0\t0\t0\nv\t1\t0\nrev\t1\t0\ntrev\t1\t0\nrtn\t0\t20\n"
                            "trtn\t0\t20\t4\n" + extraRows + "end\n";
    Mixed m;
    harness::Console console;
    auto run = std::make_unique<Run>();
    m.status = harness::SetUpAndMix(*run, prefs, "1 a.wav +\nend\n", cue).status;
    m.console = console.Text();
    m.wav = testutil::ReadBytes(dir / "low_mix.wav");
    m.rhp = run->fx.rhpPresent;
    m.rlp = run->fx.rlpPresent;
    return m;
}

const char* kHighPassOut =
    ">> Warning: reverb high pass at 12000 Hz is not below half the sample rate (11025 Hz); the filter is left out.\n";
const char* kLowPassOut =
    ">> Warning: reverb low pass at 16000 Hz is not below half the sample rate (11025 Hz); the filter is left out.\n";

}  // namespace

TEST(LowRateReverbFilters, FiltersAboveHalfOf22050HzAreLeftOutWithAWarningEach)
{
    const Mixed plain = MixAt(22050, "");
    const Mixed filtered = MixAt(22050, "rhp\t12000\nrlp\t16000\n");
    ASSERT_EQ(plain.status, 0) << plain.console;
    ASSERT_EQ(filtered.status, 0) << filtered.console;
    EXPECT_TRUE(Has(filtered.console, kHighPassOut)) << filtered.console;
    EXPECT_TRUE(Has(filtered.console, kLowPassOut)) << filtered.console;
    EXPECT_FALSE(filtered.rhp);
    EXPECT_FALSE(filtered.rlp);
    ASSERT_GT(plain.wav.size(), 44u);
    EXPECT_EQ(filtered.wav, plain.wav);
}

TEST(LowRateReverbFilters, AFilterBelowHalfTheRateStillRuns)
{
    const Mixed plain = MixAt(22050, "");
    const Mixed filtered = MixAt(22050, "rhp\t2000\nrlp\t16000\n");
    ASSERT_EQ(filtered.status, 0) << filtered.console;
    EXPECT_TRUE(filtered.rhp);
    EXPECT_FALSE(filtered.rlp);
    EXPECT_FALSE(Has(filtered.console, "reverb high pass at"));
    EXPECT_TRUE(Has(filtered.console, kLowPassOut));
    EXPECT_NE(filtered.wav, plain.wav);   // the high pass changes the reverb
}

TEST(LowRateReverbFilters, AFilterExactlyAtHalfTheRateIsLeftOut)
{
    const Mixed m = MixAt(24000, "rhp\t12000\nrlp\t11999\n");
    ASSERT_EQ(m.status, 0) << m.console;
    EXPECT_FALSE(m.rhp);
    EXPECT_TRUE(m.rlp);
    EXPECT_TRUE(Has(m.console, ">> Warning: reverb high pass at 12000 Hz is not below half the sample rate "
                               "(12000 Hz); the filter is left out.\n"));
    EXPECT_FALSE(Has(m.console, "reverb low pass at"));
}

TEST(LowRateReverbFilters, At44100HzTheWholeRangeRunsWithoutWarning)
{
    const Mixed plain = MixAt(44100, "");
    const Mixed m = MixAt(44100, "rhp\t12000\nrlp\t16000\n");
    ASSERT_EQ(m.status, 0) << m.console;
    EXPECT_TRUE(m.rhp);
    EXPECT_TRUE(m.rlp);
    EXPECT_FALSE(Has(m.console, "the filter is left out"));
    EXPECT_NE(m.wav, plain.wav);
}
