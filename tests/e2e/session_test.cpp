// Whole runs on sessions with unusual files, fatal cue sheets and fader moves.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/audio/wav_files.h"
#include "tests/testutil.h"

using testutil::MakeWav;
using testutil::RunIn;
using testutil::SampleAt;
using testutil::TempDir;
using testutil::WriteText;

namespace {

std::string AsString(const testwav::Bytes& b) { return std::string(b.begin(), b.end()); }

void LE(testwav::Bytes& b, int64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<unsigned char>((static_cast<uint64_t>(v) >> (8 * i)) & 0xFF));
}

struct Mixed {
    int status;
    std::string out;
    std::string wav;
};

Mixed MixIn(const TempDir& dir, const std::string& prefs, const std::string& tracks, const std::string& faders,
            const std::string& output)
{
    WriteText(dir / "prefs.txt", prefs);
    WriteText(dir / "tracks.txt", tracks);
    WriteText(dir / "faders.txt", faders);
    const auto r = RunIn(dir.path(), CORVALE_BIN);
    return {r.status, r.out, testutil::ReadBytes(dir / output)};
}

const char* kPlain = "begin\ndither\t0\npan\t0\nend\n";

}  // namespace

TEST(Sessions, ExtensibleListChunkAndTruncatedFilesMixByWhatTheyHold)
{
    TempDir dir;
    const int n = 600;
    // 24-bit stereo, extensible format tag, a LIST chunk between "fmt " and "data".
    testwav::WavSpec a;
    a.tag = 0xFFFE;
    a.bits = 24;
    a.rate = 8000;
    a.extensible = true;
    a.extraChunk = {'L', 'I', 'S', 'T', 6, 0, 0, 0, 'I', 'N', 'F', 'O', 'x', 'y'};
    for (int i = 0; i < n; ++i) {
        LE(a.samples, 1000 * (i % 7) - 3000, 3);
        LE(a.samples, -500 * (i % 5), 3);
    }
    // 16-bit mono whose header claims twice the data it holds.
    testwav::WavSpec b;
    b.channels = 1;
    b.rate = 8000;
    for (int i = 0; i < n / 2; ++i) LE(b.samples, 40 * i - 6000, 2);
    b.claimedDataBytes = 2 * n;
    // 32-bit float mono.
    std::vector<float> c(n);
    for (int i = 0; i < n; ++i) c[i] = static_cast<float>((i % 3) - 1) / 64.0f;
    WriteText(dir / "a.wav", AsString(testwav::Build(a)));
    WriteText(dir / "b.wav", AsString(testwav::Build(b)));
    WriteText(dir / "c.wav", testutil::MakeFloatWav(1, 8000, c));
    const Mixed m = MixIn(dir, kPlain, "1 a.wav +\n2 b.wav +\n3 c.wav +\n",
                          "begin\nfmt\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nv\t3\t0\nend\n", "fmt.wav");
    ASSERT_EQ(m.status, 0) << m.out;
    ASSERT_EQ(m.wav.size(), 44u + 6 * n);
    for (int i = 0; i < n; ++i) {
        const int64_t bi = i < n / 2 ? 256 * (40 * i - 6000) : 0;
        const int64_t ci = ((i % 3) - 1) * 131072;
        ASSERT_EQ(SampleAt(m.wav, 44 + 6 * i, 3), 1000 * (i % 7) - 3000 + bi + ci) << i;
        ASSERT_EQ(SampleAt(m.wav, 47 + 6 * i, 3), -500 * (i % 5) + bi + ci) << i;
    }
}

TEST(Sessions, AFaderMoveIsHeardAtTheNextZeroCrossing)
{
    TempDir dir;
    // +1000 for 1100 frames, then the sign alternates every 100 frames.
    std::vector<int32_t> s(3000);
    for (int i = 0; i < 3000; ++i) s[i] = i < 1000 ? 1000 : ((i / 100) % 2 ? -1000 : 1000);
    WriteText(dir / "a.wav", MakeWav(1, 16, 8000, s));
    // -6 dB at frame 400 with the default ramp (about 250 samples), long before the first crossing.
    const Mixed m = MixIn(dir, kPlain, "1 a.wav +\n", "begin\nzc\nt\t0\t0\t0\nv\t1\t0\nt\t0\t0\t50\nv\t1\t-6\nend\n",
                          "zc.wav");
    ASSERT_EQ(m.status, 0) << m.out;
    const double g = static_cast<double>(static_cast<float>(67268211)) / 524288.0;
    for (int i = 0; i < 3000; ++i) {
        const int64_t x = 256 * static_cast<int64_t>(s[i]);
        const int64_t want = i < 1100 ? x : static_cast<int64_t>(static_cast<double>(x) * g) / 256;
        ASSERT_EQ(SampleAt(m.wav, 44 + 6 * i, 3), want) << i;
    }
}

TEST(Sessions, ExactBlockMultiplesRenderWithoutASeam)
{
    TempDir dir;
    const size_t n = 262144;   // two full blocks
    std::vector<int32_t> s(n);
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<int32_t>((i * 7919) % 60001) - 30000;
    WriteText(dir / "a.wav", MakeWav(1, 16, 48000, s));
    const Mixed m = MixIn(dir, "begin\ndither\t0\npan\t0\noutbits\t16\nend\n", "1 a.wav +\n",
                          "begin\ntwo\nt\t0\t0\t0\nv\t1\t0\nend\n", "two.wav");
    ASSERT_EQ(m.status, 0) << m.out;
    ASSERT_EQ(m.wav.size(), 44 + 4 * n);
    for (size_t i = 131000; i < 131200; ++i) ASSERT_EQ(SampleAt(m.wav, 44 + 4 * i, 2), s[i]) << i;
    ASSERT_EQ(SampleAt(m.wav, 44 + 4 * (n - 1) + 2, 2), s[n - 1]);
}

TEST(Sessions, ALimiterRowWhoseSlotIsBeyondAnIntLeavesChannel7Alone)
{
    // Channel 7 carries a loud square wave; a -6 dB limiter on it would be heard.
    TempDir dir;
    const size_t n = 20000;
    std::vector<int32_t> loud(n), quiet(n, 0);
    for (size_t i = 0; i < n; ++i) loud[i] = (i / 50) % 2 ? 7000000 : -7000000;
    WriteText(dir / "loud.wav", MakeWav(1, 24, 48000, loud));
    WriteText(dir / "quiet.wav", MakeWav(1, 24, 48000, quiet));
    std::string tracks, levels = "t\t0\t0\t0\n";
    for (int c = 1; c <= 7; ++c) {
        tracks += std::to_string(c) + (c == 7 ? " loud.wav +\n" : " quiet.wav +\n");
        levels += "v\t" + std::to_string(c) + "\t0\n";
    }
    auto mix = [&](const std::string& title, const std::string& rows) {
        return MixIn(dir, kPlain, tracks, "begin\n" + title + "\n" + levels + rows + "end\n", title + ".wav");
    };
    const Mixed plain = mix("plain", "");
    const Mixed huge = mix("huge", "lim\t4294967303\t-6\n");   // 2^32 + 7
    const Mixed limited = mix("limited", "lim\t7\t-6\n");
    ASSERT_EQ(plain.status, 0) << plain.out;
    ASSERT_EQ(huge.status, 0) << huge.out;
    ASSERT_EQ(limited.status, 0) << limited.out;
    ASSERT_EQ(plain.wav.size(), 44 + 6 * n);
    EXPECT_TRUE(huge.wav == plain.wav) << "the huge slot reached channel 7";
    EXPECT_FALSE(limited.wav == plain.wav) << "the limiter on channel 7 is not heard";
    EXPECT_NE(huge.out.find(">>Channel number out of range or not specified!\n"), std::string::npos) << huge.out;
    EXPECT_EQ(plain.out.find("out of range"), std::string::npos) << plain.out;
}

TEST(Sessions, FatalCueSheetsEndWithTheirMessageAndStatus)
{
    struct Case {
        const char* prefs;
        const char* faders;
        const char* message;
        int status;
    };
    const Case cases[] = {
        {kPlain, "begin\nx\nt\t0\t0\t0\nv\t1\t0\nt\t0\t1\t0\nt\t0\t1\t1\nv\t1\t-3\nend\n", "Error:  Time entry 3 exceeds song length\n", 2},
        {kPlain, "begin\nx\nt\t0\t0\t-1\nv\t1\t0\nend\n", "Error:  Time entry 1 is less than zero\n", 2},
        {"begin\ndither\t0\ntempo\nend\n", "begin\nx\nt\t1\t1\t0\nv\t1\t0\nend\n",
         "Tempo mode is on, but no tempos or meters have been entered!\n", 2},
        {kPlain, "begin\nx\nt\t0\t0\t0\nv\t1\t0\nrev\t1\t0\nrtn\t0\t-5\nend\n", "Illegal value for reverb room size\n", 1},
        {kPlain, "begin\nx\nt\t0\t0\t0\nv\t1\t0\ntrev\t1\t0\ntrtn\t0\t-10\t3\nend\n",
         ">>> Error:  Illegal value for tap reverb room size\n", 1},
        {"begin\npre\ton\nsfields\t1\nstart\t2\nend\n", "begin\nx\nt\t0\t0\t0\nv\t1\t0\nend\n",
         "Error: Preview start time in preferences file exceeds song length\n", 2},
        {"begin\nhead\t0.6\ntail\t0.6\nend\n", "begin\nx\nt\t0\t0\t0\nv\t1\t0\nend\n",
         "Head or tail set incorrectly in preferences!\n", 2},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteText(dir / "a.wav", MakeWav(1, 16, 8000, std::vector<int32_t>(8000, 100)));   // 1 s
        const Mixed m = MixIn(dir, c.prefs, "1 a.wav +\n", c.faders, "x.wav");
        EXPECT_EQ(m.status, c.status) << c.faders;
        EXPECT_NE(m.out.find(c.message), std::string::npos) << c.faders << m.out;
        EXPECT_EQ(m.out.find("Done!"), std::string::npos) << c.faders;
        EXPECT_FALSE(testutil::Exists(dir / "stats_x.txt")) << c.faders;
    }
}

TEST(Sessions, DifferentSampleRatesStopTheRun)
{
    TempDir dir;
    WriteText(dir / "a.wav", MakeWav(1, 16, 44100, std::vector<int32_t>(100, 1)));
    WriteText(dir / "b.wav", MakeWav(1, 16, 48000, std::vector<int32_t>(100, 1)));
    const Mixed m = MixIn(dir, kPlain, "1 a.wav +\n2 b.wav +\n", "begin\nx\nt\t0\t0\t0\nend\n", "x.wav");
    EXPECT_EQ(m.status, 1);
    EXPECT_NE(m.out.find("The sample rate appears to be 44100\nThe file assigned to channel 2 has a different rate!\n"),
              std::string::npos);
    EXPECT_FALSE(testutil::Exists(dir / "x.wav"));
}
