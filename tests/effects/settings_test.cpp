#include <gtest/gtest.h>

#include <filesystem>

#include <cmath>
#include <complex>
#include <cstdio>
#include <memory>
#include <string>

#include "corvale/effects/settings.h"
#include "corvale/run/console.h"
#include "corvale/run/diagnostics.h"
#include "corvale/run/run.h"

namespace {

struct FxInput {
    std::string cue;
    std::string prefs = "verbo\t2\nend\n";
    bool percent = false;
    int verbo = 2;
    double rate = 48000.0;
    int channels = 8;
    std::string mixdir;
};

struct Result {
    std::unique_ptr<Run> run = std::make_unique<Run>();
    std::string console;
    int status = 0;
    const EffectSettings& fx() const { return run->fx; }
};

Result ReadFx(const FxInput& s)
{
    Result r;
    r.run->cue.body = s.cue;
    r.run->prefsFile.text = s.prefs;
    r.run->prefs.percent = s.percent;
    r.run->prefs.verbo = s.verbo;
    r.run->prefs.mixdir = s.mixdir;
    r.run->prefs.mixdirSet = !s.mixdir.empty();
    r.run->prefs.renderCount = 1000;
    r.run->tracks.sampleRate = s.rate;
    r.run->tracks.count = s.channels;
    std::FILE* f = std::tmpfile();
    std::FILE* saved = g_console;
    g_console = f;
    r.status = ReadEffectSettings(*r.run);
    g_console = saved;
    std::rewind(f);
    for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) r.console += static_cast<char>(c);
    std::fclose(f);
    return r;
}

Result ReadFx(const std::string& cue, int verbo = 0)
{
    FxInput s;
    s.cue = cue;
    s.verbo = verbo;
    return ReadFx(s);
}

const char* kOutOfRange = ">>Channel number out of range or not specified!\n";

// |H(e^jw)| of a normalised biquad.
double Magnitude(const Biquad& b, double w)
{
    const std::complex<double> z1 = std::polar(1.0, -w), z2 = z1 * z1;
    return std::abs((b.b0 + b.b1 * z1 + b.b2 * z2) / (1.0 + b.a1 * z1 + b.a2 * z2));
}

}  // namespace

TEST(SettingsEffectRows, CompressorThresholdsAreRawMagnitudesAtTheirSlotsScale)
{
    Result r = ReadFx("mix\n\ncomp\tM\t-6\t10\t100\t4\ncomp\t1\t-6\t10\t100\t4\n"
                      "comp\tG\t1\t-6\t10\t100\t4\n");
    const CompressorSettings& c = r.fx().comp;
    EXPECT_EQ(c.threshold[0], 1076291327);  // 4204263 x 256 - 1
    EXPECT_EQ(c.threshold[1], 4204263);
    EXPECT_EQ(c.threshold[128], 1076291327);
    EXPECT_EQ(c.threshold[2], 8388608);  // default for slots without a row
    EXPECT_EQ(c.attack[1], 480);
    EXPECT_EQ(c.release[1], 4800);
    EXPECT_EQ(c.ratio[1], 4.0);
    EXPECT_TRUE(c.flag[0] == 1 && c.flag[1] == 1 && c.flag[2] == 0);
    EXPECT_TRUE(r.fx().masterRow[kComp] == 1 && r.fx().anyMaster == 1);

    Result ch = ReadFx("mix\n\nrms\t1\t-6\t10\t100\t4\n");
    EXPECT_EQ(ch.fx().rms.threshold[1], 4204263);
    EXPECT_EQ(ch.fx().anyMaster, 0);
}

TEST(SettingsEffectRows, SlotFieldsOutOfRangeGoToSlot135WithAMessage)
{
    Result r = ReadFx("mix\nlim\tG\t2\t-1\nlim\tG\t9\t-2\nlim\tx\t-3\n");
    EXPECT_EQ(r.fx().limFlag[129], 1);
    EXPECT_EQ(r.fx().limFlag[135], 1);
    EXPECT_EQ(r.fx().limFlag[0], 1);  // not a number: slot 0 ...
    EXPECT_EQ(r.fx().masterRow[kLim], 0);  // ... without the master flags
    EXPECT_EQ(r.console, kOutOfRange);

    EXPECT_EQ(ReadFx("mix\nhp\t-3\t100\nhp\t136\t100\nhp\t135\t100\n").console,
              std::string(kOutOfRange) + kOutOfRange);
}

TEST(SettingsEffectRows, SlotNumbersBeyondAnIntAreOutOfRangeNotWrapped)
{
    // 2^32 + 7 and 2^32 + 1 name no channel 7 and no submix 1.
    Result r = ReadFx("mix\nlim\t4294967303\t-6\nlim\tG\t4294967297\t-6\n");
    EXPECT_EQ(r.fx().limFlag[7], 0);
    EXPECT_EQ(r.fx().limFlag[128], 0);
    EXPECT_EQ(r.fx().limFlag[135], 1);
    EXPECT_EQ(r.fx().limCeiling[135], RawThreshold(-6.0, false, 135));
    EXPECT_EQ(r.console, std::string(kOutOfRange) + kOutOfRange);

    Result order = ReadFx("mix\nlim\t7\t-6\no\tlim\t4294967303\t3\no\tlim\tG\t4294967297\t3\n");
    EXPECT_EQ(order.fx().order[kLim][7], 11);
    EXPECT_EQ(order.fx().order[kLim][128], 11);
    EXPECT_EQ(order.console, "");  // an order line out of range is dropped silently
}

TEST(SettingsEffectRows, EveryCodeOfTheEffectTableHasItsRowOrderLineAndStripMarker)
{
    for (const StripEffectCode& e : kStripEffectCodes) {
        std::string values;
        for (int v = 0; v < e.values; ++v) values += "\t1";
        const std::string code = e.code;
        Result r = ReadFx("mix\n" + code + "\t2" + values + "\n" + code + "\tM" + values + "\no\t" + code +
                          "\t2\t4\n");
        EXPECT_EQ(EffectFlag(r.fx(), e.effect, 2), 1) << code;
        EXPECT_EQ(r.fx().stripMarker[2], 1) << code;
        EXPECT_EQ(r.fx().order[e.effect][2], 4) << code;
        EXPECT_EQ(r.fx().masterRow[e.effect], 1) << code;
        for (const StripEffectCode& other : kStripEffectCodes) {
            if (other.effect == e.effect) continue;
            EXPECT_EQ(EffectFlag(r.fx(), other.effect, 2), 0) << code << " set " << other.code;
            EXPECT_EQ(r.fx().order[other.effect][2], 11) << code << " ordered " << other.code;
        }
        EXPECT_TRUE(IsKnownWord(code, KnownWords::kCueCodes)) << code;  // no line check warns about it
        ASSERT_NE(FindStripEffect(e.code), nullptr);
        EXPECT_EQ(FindStripEffect(e.code)->effect, e.effect);
    }
    EXPECT_EQ(FindStripEffect("delay"), nullptr);
    EXPECT_EQ(FindStripEffect("rev"), nullptr);  // a send, not a strip effect
}

TEST(SettingsEffectRows, ValuesAreClampedIntoTheirRanges)
{
    FxInput p;
    p.percent = true;
    p.cue = "mix\ncomp\t1\t150\t0\t0\t0.5\nrms\t1\t50\t5000\t9000\t80\n";
    Result r = ReadFx(p);
    EXPECT_EQ(r.fx().comp.threshold[1], 8388608);
    EXPECT_EQ(r.fx().rms.threshold[1], 4194304);
    EXPECT_EQ(r.fx().comp.attack[1], 1);
    EXPECT_EQ(r.fx().comp.release[1], 10);
    EXPECT_EQ(r.fx().comp.ratio[1], 1.0);
    EXPECT_EQ(r.fx().rms.attack[1], 96000);
    EXPECT_EQ(r.fx().rms.release[1], 240000);
    EXPECT_EQ(r.fx().rms.ratio[1], 50.0);

    Result db = ReadFx("mix\nlim\t1\t3\nnlc\t2\t-150\t100.7\t0\n");
    EXPECT_EQ(db.fx().limCeiling[1], 8388608);
    EXPECT_EQ(db.fx().nlcThreshold[2], 0);  // -144 dB is below one raw step
    EXPECT_EQ(db.fx().nlcWindow[2], 100);
    EXPECT_EQ(db.fx().nlcRatio[2], 1.0);

    double nan = std::nan(""), percent = 500.0, decibel = 13.0;
    CheckThresh(nan, 0);
    CheckSndRtn(percent, 1);
    CheckSndRtn(decibel, 0);
    EXPECT_TRUE(nan == -144.0 && percent == 400.0 && decibel == 12.02);
}

TEST(SettingsEffectRows, HighPassCoefficientsFollowTheirOwnFormulas)
{
    Result r = ReadFx("mix\nhp\t2\t1000\nhp\t3\t0\n");
    const double rc = 1.0 / (2.0 * 3.141592653589793 * 1000.0);
    EXPECT_EQ(r.fx().hpC1[2], 44000.0 / 48000.0);
    EXPECT_EQ(r.fx().hpC2[2], rc / (1.0 / 48000.0 + rc));
    EXPECT_EQ(r.fx().hpC1[3], 47996.0 / 48000.0);  // 0 Hz is raised to 1 Hz
    EXPECT_EQ(r.fx().hpFlag[2], 1);
}

TEST(SettingsEffectRows, BandsAreClampedBeforeTheirDesign)
{
    Result r = ReadFx("mix\nband3\t4\t30000\t20\t0\nlshelf\t4\t100\t-40\t200\n");
    EXPECT_EQ(r.fx().eqFlag[3][4], 1);
    EXPECT_EQ(r.fx().eqFlag[1][4], 0);
    const Biquad& b = r.fx().eq[3][4];
    const Biquad e = PeakingBiquad(15.0, 24000.0, 48000.0, 0.01);
    EXPECT_EQ(b.b0, e.b0);
    EXPECT_EQ(b.a2, e.a2);
    const Biquad l = LowShelfBiquad(-15.0, 100.0, 48000.0, 100.0);
    EXPECT_EQ(r.fx().eq[6][4].b1, l.b1);
    EXPECT_EQ(r.fx().eq[6][4].a1, l.a1);
}

TEST(SettingsEqDesign, ZeroGainPeakingSectionPassesTheSignal)
{
    const Biquad b = PeakingBiquad(0.0, 1234.0, 44100.0, 0.7);
    EXPECT_EQ(b.b0, 1.0);
    EXPECT_EQ(b.b1, b.a1);
    EXPECT_EQ(b.b2, b.a2);
}

TEST(SettingsEqDesign, ResponsesHaveTheirGainsWhereTheyShould)
{
    const double rate = 48000.0, pi = 3.141592653589793;
    EXPECT_NEAR(Magnitude(PeakingBiquad(-9.0, 1000.0, rate, 0.5), 2.0 * pi * 1000.0 / rate),
                std::pow(10.0, -0.45), 1e-9);
    const double hs = 6.0, g = std::pow(10.0, hs / 20.0);
    EXPECT_NEAR(Magnitude(HighShelfBiquad(hs, 1000.0, rate, 0.7), 0.0), 1.0, 1e-9);
    EXPECT_NEAR(Magnitude(HighShelfBiquad(hs, 1000.0, rate, 0.7), pi), g, 1e-9);
    EXPECT_NEAR(Magnitude(LowShelfBiquad(hs, 1000.0, rate, 0.7), 0.0), g, 1e-9);
    EXPECT_NEAR(Magnitude(LowShelfBiquad(hs, 1000.0, rate, 0.7), pi), 1.0, 1e-9);
    EXPECT_NEAR(Magnitude(ReverbHighPass(200.0, rate), 0.0), 0.0, 1e-12);
    EXPECT_NEAR(Magnitude(ReverbHighPass(200.0, rate), pi), 1.0, 1e-12);
    EXPECT_NEAR(Magnitude(ReverbLowPass(5000.0, rate), 0.0), 1.0, 1e-12);
    EXPECT_NEAR(Magnitude(ReverbLowPass(5000.0, rate), pi), 0.0, 1e-12);
}

TEST(SettingsReverb, SendsAreLimitedToUnityGain)
{
    Result db = ReadFx("mix\nrev\t1\t6\nrev\t2\t-6\ntrev\tM\t-20\n");
    EXPECT_EQ(db.fx().revSend[1], 1.0f);
    EXPECT_EQ(db.fx().revSend[2], static_cast<float>(std::pow(10.0, -0.3)));
    EXPECT_EQ(db.fx().revFlag[2], 1);
    EXPECT_EQ(db.fx().trevSend[0], 0.1f);
    EXPECT_EQ(db.fx().masterTrev, 1);
    EXPECT_EQ(db.fx().masterRev, 0);
    EXPECT_EQ(db.fx().anyMaster, 1);

    FxInput p;
    p.percent = true;
    p.cue = "mix\nrev\t3\t200\ntrev\t3\t50\n";
    Result pr = ReadFx(p);
    EXPECT_EQ(pr.fx().revSend[3], 1.0f);
    EXPECT_EQ(pr.fx().trevSend[3], 0.5f);
}

TEST(SettingsReverb, ReverbFiltersAreForcedIntoRangeWithAMessage)
{
    Result r = ReadFx("mix\nrhp\t5\nrlp\t20000\n");
    EXPECT_EQ(r.console, "Resetting reverb high pass to 20 Hz\nResetting reverb low pass to 16000 Hz\n");
    EXPECT_TRUE(r.fx().rhpPresent && r.fx().rlpPresent);
    EXPECT_EQ(r.fx().rhp.b1, ReverbHighPass(20.0, 48000.0).b1);
    EXPECT_EQ(r.fx().rlp.a1, ReverbLowPass(16000.0, 48000.0).a1);

    // Every line prints its own message; the last value designs the filter.
    Result two = ReadFx("mix\nrhp\t13000\nrhp\t300\nrlp\t100\n");
    EXPECT_EQ(two.console, "Resetting reverb high pass to 12000 Hz\nResetting reverb low pass to 500 Hz\n");
    EXPECT_EQ(two.fx().rhp.b0, ReverbHighPass(300.0, 48000.0).b0);
    EXPECT_EQ(two.fx().rhp.b2, two.fx().rhp.b0);
    EXPECT_FALSE(ReadFx("mix\n").fx().rhpPresent);
}

TEST(SettingsReverb, ReturnsAndRoomsTakeTheLastLine)
{
    Result r = ReadFx("mix\nrtn\t-20\t40\nrtn\t6\t90\nhp\t1\t100\nhp\t1\t200\n"
                      "pos\t150\t-5\t50\nwidth\t80\n");
    EXPECT_EQ(r.fx().rtnLevel, 1.0f);
    EXPECT_EQ(r.fx().recursiveReturnGain, 1.0f);
    EXPECT_EQ(r.fx().rtnSize, 90.0f);
    EXPECT_EQ(r.fx().hpC1[1], (48000.0 - 800.0) / 48000.0);
    EXPECT_TRUE(r.fx().recursiveOn && r.fx().returnsPresent && !r.fx().discreteOn);
    EXPECT_TRUE(r.fx().trtnLevel == 0.0f && r.fx().discreteReturnGain == 0.0f);
    EXPECT_TRUE(r.fx().posX == 100.0f && r.fx().posY == 0.0f && r.fx().posZ == 50.0f);
    EXPECT_EQ(r.fx().width, 80.0f);
    EXPECT_TRUE(r.fx().reverbBuffers && r.fx().recursiveSendBuffers && !r.fx().discreteSendBuffers);

    Result t = ReadFx("mix\ntrtn\t-6\t120\t7\n");
    EXPECT_EQ(t.fx().trtnLevel, static_cast<float>(std::pow(10.0, -0.3)));
    EXPECT_EQ(t.fx().trtnSize, 120.0f);
    EXPECT_EQ(t.fx().tapCount, 7);
    EXPECT_TRUE(t.fx().discreteSendBuffers && !t.fx().recursiveSendBuffers);
}

TEST(SettingsReverb, TapFileOnlyWithTheRecursiveReverb)
{
    FxInput s;
    s.prefs = "tap\trev\nend\n";
    s.mixdir = "/nonexistent-corvale-dir/";
    s.cue = "mix\ntrtn\t0\t75\t3\n";
    Result none = ReadFx(s);
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.fx().tapMode, 0);

    // Reading the settings only names the tap file; it is created with the mix.
    s.cue = "mix\nrtn\t0\t75\n";
    Result rev = ReadFx(s);
    EXPECT_EQ(rev.status, 0);
    EXPECT_EQ(rev.fx().tapMode, 1);
    EXPECT_EQ(rev.fx().tapName, "/nonexistent-corvale-dir/revTap.wav");
    EXPECT_FALSE(std::filesystem::exists("/nonexistent-corvale-dir"));

    s.cue = "mix\nrev\tM\t0\n";
    s.prefs = "tap\trtn\ntap\tboth\nend\ntap\trev\n";
    Result m = ReadFx(s);
    EXPECT_EQ(m.fx().tapMode, 2);
    EXPECT_EQ(m.fx().tapName, "/nonexistent-corvale-dir/rtnTap.wav");

    // "tap" as a name is no tap line, and an empty one does not read the next line.
    s.prefs = "oname\ttap\trtn\ntap\nrev\nend\n";
    Result named = ReadFx(s);
    EXPECT_EQ(named.status, 0);
    EXPECT_EQ(named.fx().tapMode, 0);
    EXPECT_EQ(named.console,
              "Reading effect settings...\n"
              ">> Warning: tap has no value on its line of the preferences; it is left unset.\n");
}

TEST(SettingsOrderLines, SetTheOrderOfOneEffectInOneSlot)
{
    Result r = ReadFx("mix\nrms\t3\t-6\t10\t100\t4\no\trms\t3\t1\norder\tcomp\tG\t2\t4\n"
                      "o\tlim\tM\t12\no\thp\t-1\t2\no\thp\t137\t2\no\thp\t136\t5\no\tdelay\t3\t2\n");
    EXPECT_EQ(r.fx().order[kRms][3], 1);
    EXPECT_EQ(r.fx().order[kComp][129], 4);
    EXPECT_EQ(r.fx().order[kLim][0], 12);
    EXPECT_EQ(r.fx().order[kHp][136], 5);
    EXPECT_EQ(r.fx().order[kHp][135], 11);
    EXPECT_EQ(r.fx().order[kRms][4], 11);
    // The code inside the order line starts no row: channel 3's row stays.
    EXPECT_EQ(r.fx().rms.ratio[3], 4.0);
    EXPECT_EQ(r.fx().rms.threshold[3], 4204263);
    EXPECT_TRUE(r.fx().comp.flag[129] == 0 && r.fx().limFlag[0] == 0 && r.console.empty());

    // A level line with an offset is not an order line.
    Result ofs = ReadFx("mix\nv\t1\t0\nofs\t0.5\no\tnlc\t2\t3\n");
    EXPECT_EQ(ofs.fx().order[kNlc][2], 3);
}

TEST(SettingsRowScan, StopsAtTheEndLineAndNotAtOtherWordsWithE)
{
    Result r = ReadFx("evening_mix\n\nband2\t1\t1000\t3\t1\nend\nband2\t2\t1000\t3\t1\n");
    EXPECT_EQ(r.fx().eqFlag[2][1], 1);
    EXPECT_EQ(r.fx().eqFlag[2][2], 0);
}

TEST(SettingsRowScan, ShortRowsTakeValuesFromTheNextLine)
{
    Result r = ReadFx("mix\ncomp\t2\t-6\t10\t100\nv\t3\t-10\n");
    EXPECT_EQ(r.fx().comp.release[2], 4800);
    EXPECT_EQ(r.fx().comp.ratio[2], 3.0);  // "3\t-10" read up to the line feed
}

TEST(SettingsRowScan, MissingFieldsAtTheEndOfTheTextReadAsZero)
{
    Result r = ReadFx("mix\ncomp\t1\t-6");
    EXPECT_EQ(r.fx().comp.threshold[1], 4204263);
    EXPECT_TRUE(r.fx().comp.attack[1] == 1 && r.fx().comp.release[1] == 10);
    EXPECT_EQ(r.fx().comp.ratio[1], 1.0);
    for (const char* tail : {"comp", "comp\tG", "hp\t", "rtn", "trtn\t3", "pos\t10", "width",
                             "rhp", "o", "o\trms", "o\trms\tG", "o\trms\tG\t1", "band1\t1\t99"})
        EXPECT_EQ(ReadFx(std::string("mix\n") + tail).status, 0) << tail;
    EXPECT_EQ(ReadFx("mix\nrhp").console, "Resetting reverb high pass to 20 Hz\n");
}

TEST(SettingsRead, NoRowsLeaveEverythingOff)
{
    Result r = ReadFx("mix\n\nt\t0\t0\t0\nv\t1\t0\nend\n");
    for (int slot = 0; slot < kSlots; ++slot) {
        EXPECT_EQ(r.fx().comp.flag[slot] + r.fx().rms.flag[slot] + r.fx().hpFlag[slot] +
                      r.fx().revFlag[slot] + r.fx().stripMarker[slot],
                  0);
        EXPECT_EQ(r.fx().order[kLim][slot], 11);
    }
    EXPECT_FALSE(r.fx().reverbBuffers || r.fx().recursiveSendBuffers || r.fx().discreteSendBuffers);
    EXPECT_EQ(r.fx().tapMode, 0);
    EXPECT_EQ(r.fx().anyMaster, 0);
}

TEST(SettingsRead, StripMarkersCoverListedChannelsAndSubmixes)
{
    Result r = ReadFx("mix\nhp\t2\t100\nnlc\t9\t-6\t10\t2\nlim\tG\t8\t-1\nrev\t3\t-6\nlim\tM\t-1\n");
    EXPECT_EQ(r.fx().stripMarker[2], 1);
    EXPECT_EQ(r.fx().stripMarker[9], 0);  // beyond the 8 channels of the list
    EXPECT_EQ(r.fx().stripMarker[135], 1);
    EXPECT_EQ(r.fx().stripMarker[3], 0);  // a send is no strip effect
    EXPECT_EQ(r.fx().stripMarker[0], 0);
}

TEST(SettingsRead, HeadingsDependOnVerbosity)
{
    EXPECT_EQ(ReadFx("mix\n", 2).console, "Reading effect settings...\n");
    EXPECT_EQ(ReadFx("mix\n", 1).console, "");
    EXPECT_EQ(ReadFx("mix\nlim\t200\t0\n", 3).console,
              "Reading effect settings...\n"
              "\tReading peak compressor settings...\n"
              "\tReading NLC compressor settings...\n"
              ">>Channel number out of range or not specified!\n"
              "\tReading high pass filter settings...\n"
              "\tReading band 1-4 EQ settings...\n"
              "\tReading high and low shelf EQ settings...\n"
              "\tReading reverb settings...\n");
}
