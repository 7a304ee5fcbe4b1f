#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "corvale/report/report.h"
#include "corvale/run/console.h"
#include "corvale/run/run.h"
#include "tests/testutil.h"

namespace {

std::unique_ptr<Run> ThreeChannelRun()
{
    auto run = std::make_unique<Run>();
    run->tracks.count = 3;
    run->tracks.sampleRate = 48000.0;
    run->tracks.headerOk[1] = 1;
    run->tracks.headerOk[3] = 1;
    run->tracks.names[0] = "kick";
    run->tracks.names[1] = "missing";
    run->tracks.names[2] = "vox";
    run->prefs.outbits = 24;
    MixStats& st = run->stats;
    st.peakL[1] = 1073741824.0;   // half of full scale: -6.02 dB
    st.peakR[1] = 2147483648.0;   // full scale exactly: -20 log10(1) prints as -0.00, not over
    st.peakL[3] = 2147483649.0;   // just above: over
    st.peakR[3] = 0.0;
    st.rmsSumL = 4194304.0f;      // one window at half of 24-bit full scale
    st.rmsCountL = 1.0f;
    st.out.left = 8388608.0;
    st.out.leftFrame = 3000000;   // 1 min 2.5 s at 48000 Hz
    return run;
}

}  // namespace

TEST(Report, LinesFollowTheFixedFormatsAndMarkers)
{
    auto run = ThreeChannelRun();
    run->routing.subOn[2] = 1;
    run->stats.over[3] = 1;
    run->stats.over[SubmixSlot(4)] = 1;
    run->stats.over[0] = 1;
    const std::string expected =
        "Peaks (dB):\n\n"
        "Ch 1\tL  -6.02\tR  -0.00\tkick\n"
        "\n"
        "Ch 3\tL  0.00\tR  -144.00\tvoxChannel Over!\n"
        "\n"
        "\nSub 2\tL  -144.00\tR  -144.00\n"
        "\nRMS\tL  -6.02\tR  -144.00\t(average)\n"
        "\nPeak Out L = -0.00 dB at 1 min : 2.500 sec\n"
        "Peak Out R = -144.00 dB at 0 min : 0.000 sec\n"
        "Channel 3 is clipping after effects processing!\n"
        "Submix 4 is clipping after effects processing!\n"
        "Master channel is clipping after effects processing!\n"
        "\n";
    EXPECT_EQ(BuildReport(*run), expected);
}

TEST(Report, ReverbLinesAppearOnlyForReverbsInUse)
{
    auto run = ThreeChannelRun();
    run->fx.recursiveOn = true;
    run->fx.masterTrev = 1;
    run->stats.peakL[137] = 2147483648.0 * 2;
    run->stats.peakL[138] = 1073741824.0;
    const std::string report = BuildReport(*run);
    EXPECT_NE(report.find("\nRev\tL  6.02\tR  -144.00\t(send)Reverb Over!\n"), std::string::npos);
    EXPECT_NE(report.find("\nTrev\tL  -6.02\tR  -144.00\t(send)\n"), std::string::npos);

    auto quiet = ThreeChannelRun();
    const std::string plain = BuildReport(*quiet);
    EXPECT_EQ(plain.find("Rev"), std::string::npos);
    // Without the recursive reverb its place is an empty line.
    EXPECT_NE(plain.find("Channel Over!\n\n\nRMS"), std::string::npos);
}

TEST(Report, SixteenBitPeaksAreMeasuredAgainstSixteenBitFullScale)
{
    auto run = ThreeChannelRun();
    run->prefs.outbits = 16;
    run->stats.out.left = 32768.0;
    run->stats.out.right = 40000.0;
    const std::string report = BuildReport(*run);
    EXPECT_NE(report.find("Peak Out L = -0.00 dB"), std::string::npos);
    EXPECT_NE(report.find("Peak Out R = 1.73 dB at 0 min : 0.000 secMain Out Right Over\n"), std::string::npos);
}

TEST(Report, FilesGoUnderTheBackupPrefixWithCutNames)
{
    testutil::TempDir dir;
    auto run = ThreeChannelRun();
    run->tracks.names[0] = "kick.take2.wav";
    run->tracks.names[2] = "..hidden.wav";
    run->prefs.verbo = 0;
    run->prefs.bakdir = dir.path() + "/";
    run->prefs.bakdirSet = true;
    run->prefs.mixName = "song";
    run->cue.body = "\nsong\nt\t0\t0\t0\nend\n";
    std::FILE* sink = std::tmpfile();
    g_console = sink;
    EXPECT_EQ(CreateTextFiles(*run, NameReports(run->prefs.bakdir, run->prefs.mixName), true), 0);
    g_console = stdout;
    std::fseek(sink, 0, SEEK_END);
    EXPECT_EQ(std::ftell(sink), 0);   // verbosity 0 prints nothing
    std::fclose(sink);

    const std::string stats = testutil::ReadBytes(dir / "stats_song.txt");
    EXPECT_EQ(stats.rfind("Peaks (dB):\n\nCh 1\tL  -6.02\tR  -0.00\tkick\n", 0), 0u);
    EXPECT_NE(stats.find("\t..hidden"), std::string::npos);
    EXPECT_NE(stats.find("\nProcessing time = "), std::string::npos);
    EXPECT_EQ(testutil::ReadBytes(dir / "faders_song.txt"), run->cue.body);
}
