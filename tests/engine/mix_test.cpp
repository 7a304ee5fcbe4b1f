// End-to-end mixes: sessions written by the tests, rendered by the built mixer,
// and the output bytes compared with values computed here from the gain
// structure (fader level x polarity x pan gain / divisor, sums, word length).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/testutil.h"

using testutil::MakeFloatWav;
using testutil::MakeWav;
using testutil::ReadBytes;
using testutil::RunIn;
using testutil::SampleAt;
using testutil::TempDir;
using testutil::WriteText;

namespace {

// Deterministic test signal: values in [-amp, amp], sign changes often.
std::vector<int32_t> Signal(size_t n, int32_t amp, uint32_t seed)
{
    std::vector<int32_t> v(n);
    uint32_t x = seed;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;
        v[i] = static_cast<int32_t>(static_cast<int64_t>(x >> 8) % (2 * static_cast<int64_t>(amp) + 1) - amp);
    }
    return v;
}

// The fader stage's gain for a constant level: (float)(level x pol) x pan gain, over the divisor.
double Apply(int64_t level, int64_t pol, float pan, double divisor)
{
    return static_cast<double>(static_cast<float>(level * pol) * pan) / divisor;
}

float DbRatio(float dB)
{
    const float e = dB / 20.0f;
    return static_cast<float>(std::pow(10.0, static_cast<double>(e)));
}

const char* kPrefs = "begin\ndither\t0\npan\t0\nend\n";

struct Session {
    TempDir dir;
    void Prefs(const std::string& text) { WriteText(dir / "prefs.txt", text); }
    void Tracks(const std::string& text) { WriteText(dir / "tracks.txt", text); }
    void Faders(const std::string& text) { WriteText(dir / "faders.txt", text); }
    void Wav(const std::string& name, const std::string& bytes) { WriteText(dir / name, bytes); }
    testutil::RunResult Mix() { return RunIn(dir.path(), CORVALE_BIN); }
    std::string Out(const std::string& name) { return ReadBytes(dir / name); }
};

// Frames of a 24-bit stereo mix file, left and right.
void Frames24(const std::string& wav, std::vector<int64_t>& left, std::vector<int64_t>& right)
{
    left.clear();
    right.clear();
    for (size_t p = 44; p + 6 <= wav.size(); p += 6) {
        left.push_back(SampleAt(wav, p, 3));
        right.push_back(SampleAt(wav, p + 3, 3));
    }
}

}  // namespace

TEST(Mix, UnityFadersSumTracksOfEveryFormatExactly)
{
    Session s;
    const size_t n = 3000;
    std::vector<int32_t> a = Signal(2 * n, 900000, 1);   // 24-bit stereo
    std::vector<int32_t> b = Signal(n, 9000, 2);         // 16-bit mono
    std::vector<float> c(2 * n);                         // float stereo, exact at 24-bit scale
    std::vector<int32_t> ci = Signal(2 * n, 500000, 3);
    for (size_t i = 0; i < c.size(); ++i) c[i] = static_cast<float>(ci[i]) / 8388608.0f;
    s.Wav("a.wav", MakeWav(2, 24, 8000, a));
    s.Wav("b.wav", MakeWav(1, 16, 8000, b));
    s.Wav("c.wav", MakeFloatWav(2, 8000, c));
    s.Prefs(kPrefs);
    s.Tracks("1 a.wav +\n2 b.wav +\n3 c.wav +\n");
    s.Faders("begin\nsum\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nv\t3\t0\nend\n");
    const auto r = s.Mix();
    ASSERT_EQ(r.status, 0) << r.out;

    const std::string wav = s.Out("sum.wav");
    ASSERT_EQ(wav.size(), 44 + 6 * n);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(SampleAt(wav, 40, 4), static_cast<int64_t>(6 * n));
    std::vector<int64_t> L, R;
    Frames24(wav, L, R);
    for (size_t i = 0; i < n; ++i) {
        ASSERT_EQ(L[i], a[2 * i] + 256 * b[i] + ci[2 * i]) << i;
        ASSERT_EQ(R[i], a[2 * i + 1] + 256 * b[i] + ci[2 * i + 1]) << i;
    }
}

TEST(Mix, MinusSixDbFaderScalesEverySample)
{
    Session s;
    const size_t n = 2000;
    std::vector<int32_t> a = Signal(2 * n, 4000000, 7);
    s.Wav("a.wav", MakeWav(2, 24, 8000, a));
    s.Prefs(kPrefs);
    s.Tracks("1 a.wav +\n");
    s.Faders("begin\nsix\nt\t0\t0\t0\nv\t1\t-6\nend\n");
    ASSERT_EQ(s.Mix().status, 0);
    std::vector<int64_t> L, R;
    Frames24(s.Out("six.wav"), L, R);
    ASSERT_EQ(L.size(), n);
    const double g = Apply(67268211, 1, 1.0f, 524288.0);
    for (size_t i = 0; i < n; ++i) {
        ASSERT_EQ(L[i], static_cast<int64_t>(a[2 * i] * g) / 256) << i;
        ASSERT_EQ(R[i], static_cast<int64_t>(a[2 * i + 1] * g) / 256) << i;
    }
}

TEST(Mix, MonoChannelFollowsThePanLaw)
{
    Session s;
    const size_t n = 1000;
    std::vector<int32_t> m = Signal(n, 30000, 9);
    s.Wav("m.wav", MakeWav(1, 16, 8000, m));
    s.Wav("k.wav", MakeWav(1, 16, 8000, m));
    s.Prefs("begin\ndither\t0\nend\n");   // default law: 3 dB
    s.Tracks("1 m.wav +\n2 k.wav +\n");
    s.Faders("begin\npan\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\np\t2\t-100\nsub\t1\t1\nsub\t2\t2\nsubso\t1\nend\n");
    ASSERT_EQ(s.Mix().status, 0);
    std::vector<int64_t> L, R;
    Frames24(s.Out("pan.wav"), L, R);
    ASSERT_EQ(L.size(), n);
    const float centre = DbRatio(-3.0f);
    const double g = Apply(134217728, 1, centre, 524288.0);
    for (size_t i = 0; i < n; ++i) {
        const int64_t x = static_cast<int64_t>(m[i]) * 256;
        ASSERT_EQ(L[i], static_cast<int64_t>(x * g) / 256) << i;
        ASSERT_EQ(R[i], L[i]) << i;
    }
}

TEST(Mix, HardPannedMonoChannelIsSilentOnTheFarSide)
{
    Session s;
    const size_t n = 1000;
    std::vector<int32_t> m = Signal(n, 30000, 11);
    s.Wav("m.wav", MakeWav(1, 16, 8000, m));
    s.Prefs("begin\ndither\t0\nend\n");
    s.Tracks("1 m.wav +\n");
    s.Faders("begin\nleft\nt\t0\t0\t0\nv\t1\t0\np\t1\t-100\nend\n");
    ASSERT_EQ(s.Mix().status, 0);
    std::vector<int64_t> L, R;
    Frames24(s.Out("left.wav"), L, R);
    ASSERT_EQ(L.size(), n);
    const float centre = DbRatio(-3.0f);
    const float near = DbRatio(100 * 3.0f / 100) * centre;
    const double g = Apply(134217728, 1, near, 524288.0);
    for (size_t i = 0; i < n; ++i) {
        const int64_t x = static_cast<int64_t>(m[i]) * 256;
        ASSERT_EQ(R[i], 0) << i;
        ASSERT_EQ(L[i], static_cast<int64_t>(x * g) / 256) << i;
    }
}

TEST(Mix, SubmixMuteAndSoloDecideWhoIsHeard)
{
    const size_t n = 500;
    std::vector<int32_t> a = Signal(2 * n, 100000, 21), b = Signal(2 * n, 100000, 22);
    for (const char* routing : {"sub\t1\t1\nsubmu\t1\n", "sub\t1\t2\nsubso\t1\n"}) {
        Session s;
        s.Wav("a.wav", MakeWav(2, 24, 8000, a));
        s.Wav("b.wav", MakeWav(2, 24, 8000, b));
        s.Prefs(kPrefs);
        s.Tracks("1 a.wav +\n2 b.wav +\n");
        s.Faders(std::string("begin\nsubs\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\n") + routing + "end\n");
        ASSERT_EQ(s.Mix().status, 0);
        std::vector<int64_t> L, R;
        Frames24(s.Out("subs.wav"), L, R);
        ASSERT_EQ(L.size(), n);
        // Muting submix 1 (channel 1) or soloing submix 1 (channel 2) leaves channel 2 alone.
        for (size_t i = 0; i < n; ++i) {
            ASSERT_EQ(L[i], b[2 * i]) << routing << i;
            ASSERT_EQ(R[i], b[2 * i + 1]) << routing << i;
        }
    }
}

TEST(Mix, DelayPanHundredPutsAMonoTrackOnTheRightOnly)
{
    Session s;
    const size_t n = 1200;
    std::vector<int32_t> m = Signal(n, 30000, 31);
    s.Wav("m.wav", MakeWav(1, 16, 8000, m));
    s.Prefs("begin\ndither\t0\nend\n");
    s.Tracks("1 m.wav +\n");
    s.Faders("begin\ndp\nt\t0\t0\t0\nv\t1\t0\ndp\t1\t100\nend\n");
    ASSERT_EQ(s.Mix().status, 0);
    std::vector<int64_t> L, R;
    Frames24(s.Out("dp.wav"), L, R);
    ASSERT_EQ(L.size(), n);
    for (size_t i = 0; i < n; ++i) {
        ASSERT_EQ(L[i], 0) << i;
        ASSERT_EQ(R[i], 256 * m[i]) << i;
    }
}

TEST(Mix, WindowsRenderTheRightSliceOfTheSong)
{
    const size_t n = 16000;   // 2 s at 8000 Hz
    std::vector<int32_t> a = Signal(2 * n, 700000, 41);
    struct Case {
        const char* prefs;
        const char* file;
        size_t first, count;
    };
    const Case cases[] = {
        {"begin\ndither\t0\npan\t0\nxfields\t1\nxin\t0.5\nxout\t1.5\nend\n", "win.wav", 4000, 8000},
        {"begin\ndither\t0\npan\t0\nhead\t0.25\ntail\t0.5\nend\n", "win.wav", 2000, 16000 - 2000 - 4000},
        {"begin\ndither\t0\npan\t0\npre\ton\nstart\t0\t0\t500\nlength\t0.75\nend\n", "preview.wav", 4000, 6000},
    };
    for (const Case& c : cases) {
        Session s;
        s.Wav("a.wav", MakeWav(2, 24, 8000, a));
        s.Prefs(c.prefs);
        s.Tracks("1 a.wav +\n");
        s.Faders("begin\nwin\nt\t0\t0\t0\nv\t1\t0\nend\n");
        const auto r = s.Mix();
        ASSERT_EQ(r.status, 0) << c.prefs << r.out;
        std::vector<int64_t> L, R;
        Frames24(s.Out(c.file), L, R);
        ASSERT_EQ(L.size(), c.count) << c.prefs;
        for (size_t i = 0; i < c.count; ++i) {
            ASSERT_EQ(L[i], a[2 * (c.first + i)]) << c.prefs << i;
            ASSERT_EQ(R[i], a[2 * (c.first + i) + 1]) << c.prefs << i;
        }
    }
}

TEST(Mix, BlocksJoinWithoutASeamAndProgressIsReported)
{
    Session s;
    const size_t n = 150000;
    std::vector<int32_t> a = Signal(n, 16000, 51);
    std::vector<int32_t> b = Signal(n, 16000, 52);
    s.Wav("a.wav", MakeWav(1, 16, 48000, a));
    s.Wav("b.wav", MakeWav(1, 16, 48000, b));
    s.Prefs("begin\ndither\t0\npan\t0\noutbits\t16\nend\n");
    // Track 2 starts 100 frames into the song, so the song is 150100 frames.
    s.Tracks("1 a.wav +\n2 b.wav +\n");
    s.Faders("begin\nblocks\nsstamp\t2\t100\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nend\n");
    const auto r = s.Mix();
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("1/4 done"), std::string::npos);
    EXPECT_NE(r.out.find("3/4 done"), std::string::npos);
    const std::string wav = s.Out("blocks.wav");
    ASSERT_EQ(wav.size(), 44 + 4 * (n + 100));
    for (size_t i = 0; i < n + 100; ++i) {
        const int64_t x = (i < n ? a[i] : 0) + (i >= 100 ? b[i - 100] : 0);
        ASSERT_EQ(SampleAt(wav, 44 + 4 * i, 2), x) << i;
        ASSERT_EQ(SampleAt(wav, 44 + 4 * i + 2, 2), x) << i;
    }
}

TEST(Mix, SixteenBitMonoFoldsDownWithItsGain)
{
    Session s;
    const size_t n = 1000;
    std::vector<int32_t> a = Signal(2 * n, 8000000, 61);
    s.Wav("a.wav", MakeWav(2, 24, 8000, a));
    s.Prefs("begin\ndither\t0\npan\t0\noutbits\t16\nmono\t-6\nend\n");
    s.Tracks("1 a.wav +\n");
    s.Faders("begin\nmono\nt\t0\t0\t0\nv\t1\t0\nend\n");
    ASSERT_EQ(s.Mix().status, 0);
    const std::string wav = s.Out("mono.wav");
    ASSERT_EQ(wav.size(), 44 + 2 * n);
    EXPECT_EQ(SampleAt(wav, 22, 2), 1);     // one channel
    EXPECT_EQ(SampleAt(wav, 32, 2), 2);     // block align
    const double g = static_cast<double>(DbRatio(-6.0f));
    for (size_t i = 0; i < n; ++i) {
        const double l = static_cast<double>(static_cast<int64_t>(a[2 * i]) * 256);
        const double r = static_cast<double>(static_cast<int64_t>(a[2 * i + 1]) * 256);
        const int64_t m = static_cast<int64_t>(l * g + r * g);
        ASSERT_EQ(SampleAt(wav, 44 + 2 * i, 2), m / 65536) << i;
    }
}

TEST(Mix, MasterLimiterBendsPeaksAboveItsKnee)
{
    Session s;
    const size_t n = 1000;
    std::vector<int32_t> a = Signal(2 * n, 8000000, 71);
    s.Wav("a.wav", MakeWav(2, 24, 8000, a));
    s.Prefs(kPrefs);
    s.Tracks("1 a.wav +\n");
    s.Faders("begin\nlim\nt\t0\t0\t0\nv\t1\t0\nlim\tM\t-6\nend\n");
    ASSERT_EQ(s.Mix().status, 0);
    std::vector<int64_t> L, R;
    Frames24(s.Out("lim.wav"), L, R);
    ASSERT_EQ(L.size(), n);
    const int64_t ceiling = static_cast<int64_t>(std::pow(10.0, -6.0 / 20.0) * 8388608.0) * 256 - 1;
    const double knee = static_cast<double>(ceiling) * 0.89125;
    auto limit = [&](int64_t x) {
        double a = std::fabs(static_cast<double>(x));
        if (a < 0.0001) a = 0.0001;
        if (a > knee) a = knee + (a - knee) * 0.125;
        return static_cast<int64_t>(x >= 0 ? a : -a);
    };
    int bent = 0;
    for (size_t i = 0; i < n; ++i) {
        const int64_t xl = static_cast<int64_t>(a[2 * i]) * 256;
        ASSERT_EQ(L[i], limit(xl) / 256) << i;
        ASSERT_EQ(R[i], limit(static_cast<int64_t>(a[2 * i + 1]) * 256) / 256) << i;
        if (std::fabs(static_cast<double>(xl)) > knee) ++bent;
    }
    EXPECT_GT(bent, 100);   // the signal really crossed the knee
}

TEST(Mix, TapFileIsTwentyFourBitStereoForTheWholeRender)
{
    Session s;
    const size_t n = 3000;
    std::vector<int32_t> m = Signal(n, 20000, 81);
    s.Wav("m.wav", MakeWav(1, 16, 48000, m));
    s.Prefs("begin\ndither\t0\noutbits\t16\nmono\t0\ntap\trtn\nend\n");
    s.Tracks("1 m.wav +\n");
    s.Faders("begin\ntap\nt\t0\t0\t0\nv\t1\t0\nrev\t1\t0\nrtn\t-6\t20\nend\n");
    const auto r = s.Mix();
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(s.Out("tap.wav").size(), 44 + 2 * n);
    const std::string tap = s.Out("rtnTap.wav");
    ASSERT_EQ(tap.size(), 44 + 6 * n);
    EXPECT_EQ(SampleAt(tap, 22, 2), 2);
    EXPECT_EQ(SampleAt(tap, 34, 2), 24);
    EXPECT_EQ(SampleAt(tap, 40, 4), static_cast<int64_t>(6 * n));
    bool any = false;
    for (size_t p = 44; p < tap.size(); p += 3) any = any || SampleAt(tap, p, 3) != 0;
    EXPECT_TRUE(any);   // the reverb return is recorded
}
