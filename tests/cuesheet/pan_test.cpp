#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "corvale/cuesheet/pan.h"
#include "corvale/run/console.h"
#include "corvale/run/run.h"

namespace {

// Points the console at a temporary file for the life of the object.
class ConsoleCapture {
public:
    ConsoleCapture() : file_(std::tmpfile()), saved_(g_console) { g_console = file_; }
    ~ConsoleCapture()
    {
        g_console = saved_;
        std::fclose(file_);
    }
    std::string Text()
    {
        std::fflush(file_);
        std::rewind(file_);
        std::string out;
        for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_)) out.push_back(static_cast<char>(c));
        return out;
    }

private:
    std::FILE* file_;
    std::FILE* saved_;
};

// A run with `channels` tracks, mono unless listed in `stereo`, and the given
// preferences body.
std::unique_ptr<::Run> RunWithTracks(int channels, std::vector<int> stereo, const char* prefs, double rate = 44100.0)
{
    auto run = std::make_unique<::Run>();
    run->tracks.count = channels;
    run->tracks.sampleRate = rate;
    for (int c = 1; c <= channels; ++c) run->tracks.info[c].channels = 1;
    for (int c : stereo) run->tracks.info[c].channels = 2;
    run->prefsFile.text = prefs;
    run->prefsFile.bodyStart = 0;
    return run;
}

// 10^(dB / 20) in single precision, as the pan law computes its gains.
float Ratio(float dB) { return static_cast<float>(std::pow(10.0, static_cast<double>(dB / 20.0f))); }

}  // namespace

TEST(PanLaw, MonoCentreSitsThreeDecibelsDownByDefault)
{
    auto run = RunWithTracks(2, {}, "");
    PanLawAndGains(*run);
    EXPECT_EQ(run->pan.panLaw, 3.0f);
    EXPECT_NEAR(run->pan.gainL[1], 0.7079, 5e-5);
    EXPECT_EQ(run->pan.gainL[1], Ratio(-3.0f));
    EXPECT_EQ(run->pan.gainR[1], Ratio(-3.0f));
}

TEST(PanLaw, MonoOffCentreFadesTheFarSideAndRaisesTheNearSide)
{
    auto run = RunWithTracks(4, {}, "pan\t3\n");
    run->pan.pan[1] = 100;
    run->pan.pan[2] = 50;
    run->pan.pan[3] = -50;
    run->pan.pan[4] = -100;
    PanLawAndGains(*run);
    const float c = Ratio(-3.0f);

    EXPECT_EQ(run->pan.gainL[1], 0.0f);
    EXPECT_NEAR(run->pan.gainR[1], 1.0, 1e-6);
    EXPECT_NEAR(run->pan.gainL[2], 0.3540, 5e-5);
    EXPECT_NEAR(run->pan.gainR[2], 0.8414, 5e-5);
    EXPECT_EQ(run->pan.gainL[2], 50.0f * c / 100.0f);
    EXPECT_EQ(run->pan.gainR[2], Ratio(1.5f) * c);
    // mirror image on the left
    EXPECT_EQ(run->pan.gainL[3], run->pan.gainR[2]);
    EXPECT_EQ(run->pan.gainR[3], run->pan.gainL[2]);
    EXPECT_EQ(run->pan.gainR[4], 0.0f);
}

TEST(PanLaw, StereoSlotsBalanceWhateverTheLaw)
{
    auto run = RunWithTracks(3, {1, 2}, "pan\t0\n");
    run->pan.pan[1] = -40;
    run->pan.pan[2] = 25;
    run->pan.pan[0] = 10;     // the master counts as stereo
    run->pan.pan[128] = -10;  // submix faders too
    run->pan.pan[136] = 100;
    run->pan.pan[3] = 80;     // mono with the linear law
    PanLawAndGains(*run);

    EXPECT_EQ(run->pan.gainL[1], 1.0f);
    EXPECT_EQ(run->pan.gainR[1], 0.6f);
    EXPECT_EQ(run->pan.gainL[2], 0.75f);
    EXPECT_EQ(run->pan.gainR[2], 1.0f);
    EXPECT_EQ(run->pan.gainL[0], 0.9f);
    EXPECT_EQ(run->pan.gainR[0], 1.0f);
    EXPECT_EQ(run->pan.gainR[128], 0.9f);
    EXPECT_EQ(run->pan.gainL[136], 0.0f);
    EXPECT_EQ(run->pan.gainL[3], 1.0f);
    EXPECT_EQ(run->pan.gainR[3], 1.0f);
}

TEST(PanLaw, OnlyTheFirstPanLineIsReadAndBadLawsGiveThreeDecibels)
{
    for (const char* prefs : {"pan\t7\n", "pan\t-1\n", "pan\tnan\n", "verbo\t2\nend\npan\t0\n"}) {
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

TEST(PanLaw, SlotsBeyondTheTrackCountKeepTheirGains)
{
    auto run = RunWithTracks(2, {}, "");
    run->tracks.info[3].channels = 1;
    PanLawAndGains(*run);
    EXPECT_EQ(run->pan.gainL[3], 0.0f);
    EXPECT_EQ(run->pan.gainR[127], 0.0f);
}

TEST(DelayPan, ValuesBecomeDelaysOfTheMaximumDelay)
{
    auto run = RunWithTracks(3, {2}, "");
    run->cue.body = "dp\t1\t-60\ndp\t2\t-100\ndp\t3\t150\n";
    run->pan.pan[1] = 30;
    DelayPanPass(*run);
    PanLawAndGains(*run);

    EXPECT_NEAR(run->pan.maxDelay, 27.64, 0.005);
    EXPECT_EQ(run->pan.maxDelay, static_cast<float>(44100.0 * 8.5 / 13560.0));
    EXPECT_EQ(run->pan.delayPan[1], -60);
    EXPECT_EQ(run->pan.pan[1], -60);  // the delay pan replaces the pan
    EXPECT_EQ(run->pan.delay[1], -16);
    EXPECT_EQ(run->pan.gainL[1], 1.0f);
    EXPECT_EQ(run->pan.gainR[1], 1.0f);
    EXPECT_EQ(run->pan.delay[2], -27);
    EXPECT_EQ(run->pan.delayPan[3], 0);  // out of range: off, silently
    EXPECT_EQ(run->pan.gainL[3], Ratio(-3.0f));

    auto r48 = RunWithTracks(1, {}, "", 48000.0);
    r48->cue.body = "dp\t1\t50\n";
    DelayPanPass(*r48);
    PanLawAndGains(*r48);
    EXPECT_EQ(r48->pan.delay[1], 15);
}

TEST(DelayPan, LinesForChannelsOutsideOneTo127AreIgnored)
{
    auto run = RunWithTracks(2, {}, "");
    run->cue.body = "dp\t0\t50\ndp\t128\t50\ndp\t-3\t50\ndp\t2\t40\ndp\t2\t20\n";
    ConsoleCapture console;
    DelayPanPass(*run);
    EXPECT_EQ(run->pan.delayPan[0], 0);
    EXPECT_EQ(run->pan.delayPan[1], 0);
    EXPECT_EQ(run->pan.delayPan[2], 20);  // last line wins
    EXPECT_EQ(console.Text(), "");
}

TEST(FxGain, DecibelsBecomeARatioWithinPlusMinus15Point9)
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
}

TEST(FxGain, TheMasterLineRaisesTheMasterAndAnyMasterFlags)
{
    auto run = RunWithTracks(1, {}, "");
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
    ConsoleCapture console;
    PanCheck(*pan);
    EXPECT_EQ(pan->pan[5], 0);
    EXPECT_EQ(pan->pan[136], 0);
    EXPECT_EQ(pan->pan[7], -100);
    EXPECT_EQ(pan->pan[8], 100);
    EXPECT_EQ(console.Text(),
              "Pan on channel 5 appears to be set wrong.  Setting to 0.\n"
              "Pan on channel 136 appears to be set wrong.  Setting to 0.\n");
}

namespace {

// Delay-pans the samples 1, 2, 3, ... of channel c in blocks of the given
// sizes, the way the mix loop calls it, and collects both sides.
void RunBlocks(DelayHistory& h, const PanSettings& pan, int c, const std::vector<int64_t>& sizes,
               std::vector<int64_t>& left, std::vector<int64_t>& right)
{
    int64_t song = 0;
    for (int64_t n : sizes) {
        std::vector<int64_t> x(static_cast<size_t>(n)), l(static_cast<size_t>(n)), r(static_cast<size_t>(n));
        for (int64_t i = 0; i < n; ++i) x[static_cast<size_t>(i)] = song + i + 1;
        DELAY_PAN(h, 0, n, c, pan, x.data(), l.data(), r.data(), n >= 256 ? n - 255 : n);
        left.insert(left.end(), l.begin(), l.end());
        right.insert(right.end(), r.begin(), r.end());
        song += n;
    }
}

// Sample g (from 0) of the test signal delayed by d samples, silence before it.
int64_t Delayed(int64_t g, int64_t d) { return g >= d ? g - d + 1 : 0; }

}  // namespace

TEST(DelayPanSignal, HardSidesAndCentreCopyTheSignal)
{
    auto pan = std::make_unique<PanSettings>();
    pan->delayPan[1] = 100;
    pan->delayPan[2] = -100;
    pan->delayPan[3] = 0;
    for (int c = 1; c <= 3; ++c) {
        auto h = std::make_unique<DelayHistory>();
        std::vector<int64_t> l, r;
        RunBlocks(*h, *pan, c, {300}, l, r);
        for (int64_t g = 0; g < 300; ++g) {
            ASSERT_EQ(l[g], c == 1 ? 0 : g + 1) << c;
            ASSERT_EQ(r[g], c == 2 ? 0 : g + 1) << c;
        }
    }
}

TEST(DelayPanSignal, PositiveValuesDelayTheLeftCopyAcrossBlocks)
{
    auto pan = std::make_unique<PanSettings>();
    pan->delayPan[4] = 50;
    pan->delay[4] = 15;
    auto h = std::make_unique<DelayHistory>();
    std::vector<int64_t> l, r;
    RunBlocks(*h, *pan, 4, {300, 256, 1000}, l, r);
    for (int64_t g = 0; g < 1556; ++g) {
        ASSERT_EQ(r[g], g + 1) << g;
        ASSERT_EQ(l[g], Delayed(g, 15)) << g;
    }
    // positions 0..254 hold the last 255 samples, 254 the most recent
    EXPECT_EQ(h->right[4][254], 1556);
    EXPECT_EQ(h->right[4][0], 1556 - 254);
    EXPECT_EQ(h->left[4][254], 1556 - 15);
}

TEST(DelayPanSignal, NegativeValuesDelayTheRightCopyAcrossBlocks)
{
    auto pan = std::make_unique<PanSettings>();
    pan->delayPan[9] = -60;
    pan->delay[9] = -16;
    auto h = std::make_unique<DelayHistory>();
    std::vector<int64_t> l, r;
    RunBlocks(*h, *pan, 9, {400, 400}, l, r);
    for (int64_t g = 0; g < 800; ++g) {
        ASSERT_EQ(l[g], g + 1) << g;
        ASSERT_EQ(r[g], Delayed(g, 16)) << g;
    }
}

TEST(DelayPanSignal, AShortBlockReadsTheHistoryButLeavesItAsItWas)
{
    auto pan = std::make_unique<PanSettings>();
    pan->delayPan[2] = 50;
    pan->delay[2] = 15;
    auto h = std::make_unique<DelayHistory>();
    std::vector<int64_t> l, r;
    RunBlocks(*h, *pan, 2, {300, 100}, l, r);
    for (int64_t g = 0; g < 400; ++g) ASSERT_EQ(l[g], Delayed(g, 15)) << g;
    // the history still ends with the first block
    EXPECT_EQ(h->right[2][254], 300);
    EXPECT_EQ(h->left[2][254], 300 - 15);

    // a song shorter than 256 frames never fills the history: silence before it
    auto fresh = std::make_unique<DelayHistory>();
    std::vector<int64_t> l2, r2;
    RunBlocks(*fresh, *pan, 2, {40}, l2, r2);
    for (int64_t g = 0; g < 40; ++g) ASSERT_EQ(l2[g], Delayed(g, 15)) << g;
    EXPECT_EQ(fresh->right[2][254], 0);
}

TEST(DelayPanSignal, SplitBlocksMatchOneBlock)
{
    auto pan = std::make_unique<PanSettings>();
    pan->delayPan[3] = -99;
    pan->delay[3] = -27;
    auto one = std::make_unique<DelayHistory>();
    auto split = std::make_unique<DelayHistory>();
    std::vector<int64_t> l1, r1, l2, r2;
    RunBlocks(*one, *pan, 3, {2048}, l1, r1);
    RunBlocks(*split, *pan, 3, {256, 1000, 792}, l2, r2);
    EXPECT_EQ(l1, l2);
    EXPECT_EQ(r1, r2);
    EXPECT_EQ(one->left[3], split->left[3]);
    EXPECT_EQ(one->right[3], split->right[3]);
}

TEST(DelayPanSignal, DelaysLongerThanTheHistoryAreHeldAt255)
{
    auto pan = std::make_unique<PanSettings>();
    pan->delayPan[1] = 99;
    pan->delay[1] = 476;  // 99 at 768 kHz
    auto h = std::make_unique<DelayHistory>();
    std::vector<int64_t> l, r;
    RunBlocks(*h, *pan, 1, {600, 600}, l, r);
    for (int64_t g = 0; g < 1200; ++g) ASSERT_EQ(l[g], Delayed(g, 255)) << g;
}
