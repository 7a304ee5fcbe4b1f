#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "corvale/cuesheet/pan.h"
#include "corvale/run/console.h"
#include "corvale/run/run.h"
#include "tests/console_capture.h"

namespace {

// Runs f with the console captured and returns what it printed.
template <class F>
std::string PrintedBy(F&& f)
{
    ConsoleCapture console;
    f();
    return console.Text();
}

// A run with `channels` mono tracks (stereo where listed) and a preferences body.
std::unique_ptr<::Run> RunWithTracks(int channels, std::vector<int> stereo, const char* prefs,
                                     double rate = 44100.0)
{
    auto run = std::make_unique<::Run>();
    run->tracks.count = channels;
    run->tracks.sampleRate = rate;
    for (int c = 1; c <= channels; ++c) run->tracks.info[c].channels = 1;
    for (int c : stereo) run->tracks.info[c].channels = 2;
    run->prefsFile.text = prefs;
    return run;
}

// 10^(dB / 20) with dB / 20 in single precision, rounded to single precision.
float Ratio(float dB) { return static_cast<float>(std::pow(10.0, static_cast<double>(dB / 20.0f))); }

}  // namespace

TEST(PanLaw, MonoSlotsSitLawDecibelsDownAtCentreAndReachUnityAtTheEdge)
{
    auto run = RunWithTracks(5, {}, "pan\t3\n");
    const int pans[] = {0, 0, 100, 50, -50, -100};
    for (int c = 1; c <= 5; ++c) run->pan.pan[c] = pans[c];
    PanLawAndGains(*run);
    const float c = Ratio(-3.0f);
    auto& pan = run->pan;

    EXPECT_NEAR(pan.gainL[1], 0.7079, 5e-5);
    EXPECT_EQ(pan.gainL[1], c);
    EXPECT_EQ(pan.gainR[1], c);
    EXPECT_EQ(pan.gainL[2], 0.0f);
    EXPECT_NEAR(pan.gainR[2], 1.0, 1e-6);
    EXPECT_NEAR(pan.gainL[3], 0.3540, 5e-5);
    EXPECT_NEAR(pan.gainR[3], 0.8414, 5e-5);
    EXPECT_EQ(pan.gainL[3], 50.0f * c / 100.0f);
    EXPECT_EQ(pan.gainR[3], Ratio(1.5f) * c);
    EXPECT_EQ(pan.gainL[4], pan.gainR[3]);  // mirror image
    EXPECT_EQ(pan.gainR[4], pan.gainL[3]);
    EXPECT_EQ(pan.gainR[5], 0.0f);
}

TEST(PanLaw, StereoMasterAndSubmixSlotsBalanceWhateverTheLaw)
{
    auto run = RunWithTracks(3, {1, 2}, "pan\t0\n");
    auto& pan = run->pan;
    pan.pan[1] = -40;
    pan.pan[2] = 25;
    pan.pan[0] = 10;
    pan.pan[128] = -10;
    pan.pan[136] = 100;
    pan.pan[3] = 80;  // mono under the linear law
    run->tracks.info[4].channels = 1;
    pan.pan[4] = 80;  // beyond the track count
    PanLawAndGains(*run);

    EXPECT_EQ(pan.gainL[1], 1.0f);
    EXPECT_EQ(pan.gainR[1], 0.6f);
    EXPECT_EQ(pan.gainL[2], 0.75f);
    EXPECT_EQ(pan.gainR[2], 1.0f);
    EXPECT_EQ(pan.gainL[0], 0.9f);
    EXPECT_EQ(pan.gainR[128], 0.9f);
    EXPECT_EQ(pan.gainL[136], 0.0f);
    EXPECT_EQ(pan.gainL[3], 1.0f);
    EXPECT_EQ(pan.gainR[3], 1.0f);
    EXPECT_EQ(pan.gainL[4], 0.0f);
}

TEST(PanLaw, OnlyTheFirstPanLineIsReadAndBadLawsGiveThreeDecibels)
{
    for (const char* prefs : {"", "pan\t7\n", "pan\t-1\n", "pan\tnan\n", "verbo\t2\nend\npan\t0\n"}) {
        auto run = RunWithTracks(1, {}, prefs);
        PanLawAndGains(*run);
        EXPECT_EQ(run->pan.panLaw, 3.0f) << prefs;
        EXPECT_EQ(run->pan.gainL[1], Ratio(-3.0f)) << prefs;
    }
    auto run = RunWithTracks(1, {}, "pan\t6.02\npan\t1\n");
    run->pan.pan[1] = 20;
    PanLawAndGains(*run);
    EXPECT_EQ(run->pan.panLaw, 6.02f);
    EXPECT_EQ(run->pan.gainL[1], 80.0f * Ratio(-6.02f) / 100.0f);
}

TEST(PanLaw, TheFirstPanLineWithAValueCounts)
{
    // The pan of "oname pan" is the mix name; the empty pan line is skipped.
    auto run = RunWithTracks(1, {}, "oname\tpan\t6\npan\npan\t0\npan\t2\n");
    const std::string out = PrintedBy([&] { PanLawAndGains(*run); });
    EXPECT_EQ(run->pan.panLaw, 0.0f);
    EXPECT_EQ(out, ">> Warning: pan has no value on its line of the preferences; it is left unset.\n");
}

TEST(DelayPan, ValuesBecomeTheirShareOfTheMaximumDelay)
{
    auto run = RunWithTracks(3, {2}, "");
    run->cue.body = "dp\t1\t-60\ndp\t2\t-100\ndp\t3\t150\ndp\t0\t50\ndp\t128\t50\ndp\t2\t-100\n";
    run->pan.pan[1] = 30;
    const std::string out = PrintedBy([&] { DelayPanPass(*run); });
    PanLawAndGains(*run);
    auto& pan = run->pan;

    EXPECT_NEAR(pan.maxDelay, 27.64, 0.005);
    EXPECT_EQ(pan.delayPan[1], -60);
    EXPECT_EQ(pan.pan[1], -60);  // the delay pan replaces the pan
    EXPECT_EQ(pan.delay[1], -16);
    EXPECT_EQ(pan.gainL[1], 1.0f);
    EXPECT_EQ(pan.gainR[1], 1.0f);
    EXPECT_EQ(pan.delay[2], -27);
    EXPECT_EQ(pan.delayPan[3], 0);  // out of range: off
    EXPECT_EQ(pan.gainL[3], Ratio(-3.0f));
    EXPECT_EQ(pan.delayPan[0], 0);  // channels outside 1..127 are ignored
    EXPECT_EQ(out, "");

    auto r48 = RunWithTracks(1, {}, "", 48000.0);
    r48->cue.body = "dp\t1\t50\n";
    DelayPanPass(*r48);
    PanLawAndGains(*r48);
    EXPECT_EQ(r48->pan.delay[1], 15);
}

TEST(FxGain, DecibelsWithinPlusMinus15Point9BecomeARatioAndTheMasterRaisesItsFlags)
{
    auto run = RunWithTracks(3, {}, "");
    run->cue.body = "fxg\t2\t6\nfxg\t3\t20\nfxg\t1\t-15.9\nfxg\tG\t1\t-6\n";
    FxGainPass(*run);
    EXPECT_NEAR(run->pan.fxGain[2], 1.9953, 5e-5);
    EXPECT_EQ(run->pan.fxGain[2], std::pow(10.0, 0.3));
    EXPECT_EQ(run->pan.fxGain[3], 1.0);
    EXPECT_EQ(run->pan.fxGain[1], std::pow(10.0, -15.9 / 20.0));
    EXPECT_EQ(run->pan.fxGain[128], std::pow(10.0, -0.3));
    EXPECT_EQ(run->pan.masterFxFlag, 0);
    EXPECT_EQ(run->fx.anyMaster, 0);

    run->cue.body = "fxg\tM\t30\n";
    FxGainPass(*run);
    EXPECT_EQ(run->pan.fxGain[0], 1.0);
    EXPECT_EQ(run->pan.masterFxFlag, 1);
    EXPECT_EQ(run->fx.anyMaster, 1);
}

TEST(PanCheck, ValuesOutsidePlusMinus100AreResetWithAMessage)
{
    auto pan = std::make_unique<PanSettings>();
    pan->pan[5] = 150;
    pan->pan[136] = -101;
    pan->pan[7] = -100;
    pan->pan[8] = 100;
    const std::string out = PrintedBy([&] { PanCheck(*pan); });
    EXPECT_EQ(pan->pan[5], 0);
    EXPECT_EQ(pan->pan[136], 0);
    EXPECT_EQ(pan->pan[7], -100);
    EXPECT_EQ(pan->pan[8], 100);
    EXPECT_EQ(out, "Pan on channel 5 appears to be set wrong.  Setting to 0.\n"
                   "Pan on channel 136 appears to be set wrong.  Setting to 0.\n");
}

namespace {

struct Sides {
    std::vector<int64_t> left, right;
};

// Delay-pans the samples 1, 2, 3, ... of channel c in blocks of the given
// sizes with the history start the mix loop passes, and collects both sides.
Sides RunBlocks(DelayHistory& h, int m, int d, int c, std::vector<int64_t> sizes)
{
    auto pan = std::make_unique<PanSettings>();
    pan->delayPan[c] = m;
    pan->delay[c] = d;
    Sides out;
    int64_t song = 0;
    for (int64_t n : sizes) {
        std::vector<int64_t> x(n), l(n), r(n);
        for (int64_t i = 0; i < n; ++i) x[i] = song + i + 1;
        DELAY_PAN(h, 0, n, c, *pan, x.data(), l.data(), r.data(), n >= 256 ? n - 255 : n);
        out.left.insert(out.left.end(), l.begin(), l.end());
        out.right.insert(out.right.end(), r.begin(), r.end());
        song += n;
    }
    return out;
}

// Sample g (from 0) of the test signal delayed by d samples, silence before it.
int64_t Delayed(int64_t g, int64_t d) { return g >= d ? g - d + 1 : 0; }

}  // namespace

TEST(DelayPanSignal, HardSidesAndCentreCopyTheSignal)
{
    for (int m : {100, -100, 0}) {
        auto h = std::make_unique<DelayHistory>();
        const Sides s = RunBlocks(*h, m, 0, 1, {300});
        for (int64_t g = 0; g < 300; ++g) {
            ASSERT_EQ(s.left[g], m == 100 ? 0 : g + 1) << m;
            ASSERT_EQ(s.right[g], m == -100 ? 0 : g + 1) << m;
        }
    }
}

TEST(DelayPanSignal, PositiveValuesDelayTheLeftCopyAcrossBlocks)
{
    auto h = std::make_unique<DelayHistory>();
    const Sides s = RunBlocks(*h, 50, 15, 4, {300, 256, 1000});
    for (int64_t g = 0; g < 1556; ++g) {
        ASSERT_EQ(s.right[g], g + 1) << g;
        ASSERT_EQ(s.left[g], Delayed(g, 15)) << g;
    }
    // positions 0..254 hold the last 255 samples, 254 the most recent
    EXPECT_EQ(h->right[4][254], 1556);
    EXPECT_EQ(h->right[4][0], 1556 - 254);
    EXPECT_EQ(h->left[4][254], 1556 - 15);
}

TEST(DelayPanSignal, NegativeValuesDelayTheRightCopyAndSplitBlocksMatchOneBlock)
{
    auto one = std::make_unique<DelayHistory>();
    auto split = std::make_unique<DelayHistory>();
    const Sides a = RunBlocks(*one, -60, -16, 9, {2048});
    const Sides b = RunBlocks(*split, -60, -16, 9, {256, 1000, 792});
    for (int64_t g = 0; g < 2048; ++g) {
        ASSERT_EQ(a.left[g], g + 1) << g;
        ASSERT_EQ(a.right[g], Delayed(g, 16)) << g;
    }
    EXPECT_EQ(a.left, b.left);
    EXPECT_EQ(a.right, b.right);
    EXPECT_EQ(one->left[9], split->left[9]);
}

TEST(DelayPanSignal, AShortBlockReadsTheHistoryButLeavesItAsItWas)
{
    auto h = std::make_unique<DelayHistory>();
    const Sides s = RunBlocks(*h, 50, 15, 2, {300, 100});
    for (int64_t g = 0; g < 400; ++g) ASSERT_EQ(s.left[g], Delayed(g, 15)) << g;
    EXPECT_EQ(h->right[2][254], 300);  // still the end of the first block

    // a song shorter than 256 frames never fills the history: silence before it
    auto fresh = std::make_unique<DelayHistory>();
    const Sides t = RunBlocks(*fresh, 50, 15, 2, {40});
    for (int64_t g = 0; g < 40; ++g) ASSERT_EQ(t.left[g], Delayed(g, 15)) << g;
    EXPECT_EQ(fresh->right[2][254], 0);
}

TEST(DelayPanSignal, DelaysLongerThanTheHistoryAreHeldAt255)
{
    auto h = std::make_unique<DelayHistory>();
    const Sides s = RunBlocks(*h, 99, 476, 1, {600, 600});  // 99 at 768 kHz
    for (int64_t g = 0; g < 1200; ++g) ASSERT_EQ(s.left[g], Delayed(g, 255)) << g;
}
