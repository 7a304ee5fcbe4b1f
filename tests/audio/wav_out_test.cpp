#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "corvale/audio/wav_out.h"
#include "corvale/run/limits.h"
#include "tests/audio/wav_files.h"

using namespace testwav;

namespace {

uint32_t Le32(const Bytes& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint32_t Le16(const Bytes& b, size_t at) { return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8; }

// A random source that replays a list and counts its draws.
struct Script {
    std::vector<int> values;
    size_t draws = 0;
    RandomSource source()
    {
        return [this] { return values.empty() ? 0 : values[draws++ % values.size()]; };
    }
};

// The header written into a new file at path.
bool HeaderFile(const std::string& path, uint64_t rate, int bits, int channels, int64_t frames)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = MAKE_HEADER(f, path.c_str(), rate, bits, channels, frames);
    return std::fclose(f) == 0 && ok;
}

}  // namespace

TEST(MakeHeader, WritesTheFortyFourBytesFieldByField)
{
    TempDir dir;
    ASSERT_TRUE(HeaderFile(dir.File("s.wav"), 48000, 24, 2, 480000));
    const Bytes h = dir.Read("s.wav");
    ASSERT_EQ(h.size(), 44u);
    EXPECT_EQ(std::string(h.begin(), h.begin() + 4), "RIFF");
    EXPECT_EQ(Le32(h, 4), 2880036u);
    EXPECT_EQ(std::string(h.begin() + 8, h.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(Le32(h, 16), 16u);
    EXPECT_EQ(Le16(h, 20), 1u);
    EXPECT_EQ(Le16(h, 22), 2u);
    EXPECT_EQ(Le32(h, 24), 48000u);
    EXPECT_EQ(Le32(h, 28), 288000u);
    EXPECT_EQ(Le16(h, 32), 6u);
    EXPECT_EQ(Le16(h, 34), 24u);
    EXPECT_EQ(std::string(h.begin() + 36, h.begin() + 40), "data");
    EXPECT_EQ(Le32(h, 40), 2880000u);

    ASSERT_TRUE(HeaderFile(dir.File("m.wav"), 44100, 16, 1, 10));
    const Bytes m = dir.Read("m.wav");
    ASSERT_EQ(m.size(), 44u);
    EXPECT_EQ(Le16(m, 22), 1u);
    EXPECT_EQ(Le32(m, 28), 88200u);
    EXPECT_EQ(Le16(m, 32), 2u);
    EXPECT_EQ(Le16(m, 34), 16u);
    EXPECT_EQ(Le32(m, 40), 20u);
}

TEST(MakeHeader, RefusesRendersBeyondTheSizeFieldsAndUnwritableStreams)
{
    TempDir dir;
    // RIFF size = data + 36 must fit in 32 bits.
    EXPECT_EQ(MaxWavFrames(24, 2), (4294967295LL - 36) / 6);
    EXPECT_EQ(MaxWavFrames(16, 1), (4294967295LL - 36) / 2);
    {
        Console con;
        ASSERT_TRUE(HeaderFile(dir.File("edge.wav"), 48000, 16, 2, MaxWavFrames(16, 2)));
        EXPECT_EQ(Le32(dir.Read("edge.wav"), 4), 36u + 4u * static_cast<uint32_t>(MaxWavFrames(16, 2)));
        EXPECT_EQ(con.Text(), "");
    }
    {
        Console con;
        EXPECT_FALSE(HeaderFile(dir.File("big.wav"), 48000, 16, 2, MaxWavFrames(16, 2) + 1));
        EXPECT_NE(con.Text().find(std::to_string(MaxWavFrames(16, 2))), std::string::npos);
        EXPECT_TRUE(dir.Read("big.wav").empty());
    }
    {
        // A stream that takes no bytes.
        std::FILE* f = std::fopen(dir.File("edge.wav").c_str(), "rb");
        ASSERT_NE(f, nullptr);
        EXPECT_FALSE(MAKE_HEADER(f, "edge.wav", 48000, 24, 2, 10));
        std::fclose(f);
    }
}

TEST(Packing, WordsBecomeLittleEndianTwosComplement)
{
    const int32_t l16[2] = {258, -1}, r16[2] = {-2, 32767};
    unsigned char out[12] = {};
    NUM16STER_TO_CHAR(l16, r16, out, 2);
    const unsigned char want16[] = {0x02, 0x01, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
    EXPECT_EQ(std::memcmp(out, want16, sizeof want16), 0);

    const int64_t l24[2] = {-1, 0x123456}, r24[2] = {-8388608, 1};
    NUM24STER_TO_CHAR(l24, r24, out, 2);
    const unsigned char want24[] = {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80, 0x56, 0x34, 0x12, 0x01, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(out, want24, sizeof want24), 0);

    const int32_t m16[3] = {258, -256, 0};
    NUM16MONO_TO_CHAR(m16, out, 3);
    const unsigned char wantM16[] = {0x02, 0x01, 0x00, 0xFF, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(out, wantM16, sizeof wantM16), 0);

    const int64_t m24[2] = {-1, 8388607};
    NUM24MONO_TO_CHAR(m24, out, 2);
    const unsigned char wantM24[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
    EXPECT_EQ(std::memcmp(out, wantM24, sizeof wantM24), 0);
}

TEST(Packing, WordsBeyondTheFormatAreHeldAtItsLimits)
{
    const int32_t l16[2] = {32768, 1000000}, r16[2] = {-32769, INT32_MIN};
    unsigned char out[12] = {};
    NUM16STER_TO_CHAR(l16, r16, out, 2);
    const unsigned char want16[] = {0xFF, 0x7F, 0x00, 0x80, 0xFF, 0x7F, 0x00, 0x80};
    EXPECT_EQ(std::memcmp(out, want16, sizeof want16), 0);

    const int64_t l24[2] = {8388608, INT64_MAX}, r24[2] = {-8388609, -(int64_t{1} << 40)};
    NUM24STER_TO_CHAR(l24, r24, out, 2);
    const unsigned char want24[] = {0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80};
    EXPECT_EQ(std::memcmp(out, want24, sizeof want24), 0);

    const int32_t m16[1] = {-40000};
    NUM16MONO_TO_CHAR(m16, out, 1);
    EXPECT_EQ(out[0], 0x00);
    EXPECT_EQ(out[1], 0x80);
    const int64_t m24[1] = {9000000};
    NUM24MONO_TO_CHAR(m24, out, 1);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 0xFF);
    EXPECT_EQ(out[2], 0x7F);
}

TEST(OutputStage, WordsTruncateTowardZero)
{
    OutputFormat fmt;
    fmt.bits = 16;
    fmt.dither = 0;
    OutputStage stage(fmt, [] { return 0; });
    int64_t l[4] = {65535, 65536, -65535, -1};
    int64_t r[4] = {-65536, 131071, -131072, 0};
    int64_t bytes = 0;
    const unsigned char* out = stage.Convert(0, 4, l, r, bytes);
    ASSERT_EQ(bytes, 16);
    const unsigned char want[] = {0, 0, 0xFF, 0xFF, 1, 0, 1, 0, 0, 0, 0xFE, 0xFF, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(out, want, sizeof want), 0);
    EXPECT_EQ(l[0], 65535);  // no dither: the master is untouched

    OutputFormat f24;
    f24.dither = 0;
    OutputStage s24(f24, [] { return 0; });
    int64_t l2[2] = {-255, -256}, r2[2] = {511, 256};
    out = s24.Convert(0, 2, l2, r2, bytes);
    ASSERT_EQ(bytes, 12);
    const unsigned char want24[] = {0, 0, 0, 1, 0, 0, 0xFF, 0xFF, 0xFF, 1, 0, 0};
    EXPECT_EQ(std::memcmp(out, want24, sizeof want24), 0);
}

TEST(OutputStage, DitherDrawsLeftThenRightAndChangesTheMasterInPlace)
{
    Script rnd;
    rnd.values = {0, 2, 1, 4};  // level 2: offset 2, modulus 5 -> noise 2, 0, 1, -2
    OutputFormat fmt;
    fmt.bits = 24;
    fmt.dither = 2;
    OutputStage stage(fmt, rnd.source());
    int64_t l[2] = {1000, 1000}, r[2] = {1000, 1000};
    int64_t bytes = 0;
    stage.Convert(0, 2, l, r, bytes);
    EXPECT_EQ(rnd.draws, 4u);
    EXPECT_EQ(l[0], 1000 + 2 * 256);
    EXPECT_EQ(r[0], 1000);
    EXPECT_EQ(l[1], 1000 + 1 * 256);
    EXPECT_EQ(r[1], 1000 - 2 * 256);

    // Mono: one draw per frame, the noise goes into the folded value.
    Script one;
    one.values = {0, 2};  // level 1: offset 1, modulus 3 -> +1, -1
    OutputFormat mono;
    mono.bits = 16;
    mono.mono = true;
    mono.monoGain = 0.5f;
    mono.dither = 1;
    OutputStage ms(mono, one.source());
    int64_t ml[3] = {131072, 131072, 131072}, mr[3] = {0, 0, 0};
    ms.Convert(0, 3, ml, mr, bytes);
    EXPECT_EQ(one.draws, 3u);
    EXPECT_EQ(bytes, 6);
    EXPECT_EQ(ms.mono()[0], 65536 + 65536);
    EXPECT_EQ(ms.mono()[1], 65536 - 65536);
    EXPECT_EQ(ms.mono()[2], 65536 + 65536);
    EXPECT_EQ(ml[0], 131072);  // the stereo master is not touched in mono

    // No dither: no draws at all.
    Script none;
    OutputFormat off;
    off.dither = 0;
    OutputStage os(off, none.source());
    os.Convert(0, 3, ml, mr, bytes);
    EXPECT_EQ(none.draws, 0u);
}

TEST(OutputStage, DitherStaysWithinItsLevelsRange)
{
    std::mt19937 gen(11);
    for (int level : {1, 8}) {
        for (int bits : {16, 24}) {
            OutputFormat fmt;
            fmt.bits = bits;
            fmt.dither = level;
            OutputStage stage(fmt, [&gen] { return static_cast<int>(gen() & 0x7FFFFFFF); });
            const int64_t step = bits == 16 ? 65536 : 256;
            const int64_t reach = int64_t{1} << (level - 1);
            std::vector<int64_t> l(4096, 0), r(4096, 0);
            int64_t bytes = 0;
            stage.Convert(0, 4096, l.data(), r.data(), bytes);
            int64_t lo = 0, hi = 0;
            for (int64_t v : l) {
                ASSERT_EQ(v % step, 0);
                lo = std::min(lo, v / step);
                hi = std::max(hi, v / step);
            }
            EXPECT_EQ(lo, -reach) << level << " " << bits;
            EXPECT_EQ(hi, reach) << level << " " << bits;
        }
    }
}

TEST(OutputStage, PeaksKeepTheFrameOfTheirFirstOccurrence)
{
    OutputFormat fmt;
    fmt.dither = 0;
    OutputStage stage(fmt, [] { return 0; });
    int64_t l[4] = {5 * 256, -7 * 256, 7 * 256, 3 * 256};
    int64_t r[4] = {0, 0, 0, -9000000LL * 256};
    int64_t bytes = 0;
    stage.Convert(1000, 4, l, r, bytes);
    int64_t l2[2] = {-7 * 256, 6 * 256}, r2[2] = {0, 0};
    stage.Convert(1004, 2, l2, r2, bytes);
    EXPECT_EQ(stage.peaks().left, 7.0);
    EXPECT_EQ(stage.peaks().leftFrame, 1001);
    // Measured before packing: the peak shows the over, the bytes are held.
    EXPECT_EQ(stage.peaks().right, 9000000.0);
    EXPECT_EQ(stage.peaks().rightFrame, 1003);

    OutputFormat mono;
    mono.mono = true;
    mono.bits = 16;
    mono.dither = 0;
    OutputStage ms(mono, [] { return 0; });
    int64_t ml[3] = {0, 40000LL * 65536, 0}, mr[3] = {0, 0, 0};
    const unsigned char* out = ms.Convert(50, 3, ml, mr, bytes);
    EXPECT_EQ(ms.peaks().left, 40000.0);
    EXPECT_EQ(ms.peaks().right, 40000.0);
    EXPECT_EQ(ms.peaks().leftFrame, 51);
    EXPECT_EQ(ms.peaks().rightFrame, 51);
    EXPECT_EQ(out[2], 0xFF);
    EXPECT_EQ(out[3], 0x7F);
}

TEST(OutputStage, MonoFoldsBothSidesWithTheGainInDouble)
{
    OutputFormat fmt;
    fmt.mono = true;
    fmt.monoGain = 0.1f;
    fmt.dither = 0;
    OutputStage stage(fmt, [] { return 0; });
    int64_t l[3] = {123456789, -2147483648LL, 77}, r[3] = {987654321, 5, -77};
    int64_t bytes = 0;
    const unsigned char* out = stage.Convert(0, 3, l, r, bytes);
    ASSERT_EQ(bytes, 9);
    const double g = static_cast<double>(0.1f);
    for (int i = 0; i < 3; ++i) {
        const int64_t m = static_cast<int64_t>(static_cast<double>(l[i]) * g + static_cast<double>(r[i]) * g);
        EXPECT_EQ(stage.mono()[i], m);
        const int64_t w = m / 256;
        const int64_t packed = int64_t(out[3 * i]) | int64_t(out[3 * i + 1]) << 8 | int64_t(out[3 * i + 2]) << 16;
        EXPECT_EQ(packed, w & 0xFFFFFF);
    }
}
