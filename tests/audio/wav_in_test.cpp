#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "corvale/audio/wav_in.h"
#include "tests/audio/wav_files.h"

using namespace testwav;

namespace {

Bytes Frames16(int frames)
{
    Bytes b;
    for (int i = 0; i < frames; ++i) {
        Put16(b, static_cast<uint32_t>(i));
        Put16(b, static_cast<uint32_t>(-i) & 0xFFFF);
    }
    return b;
}

// A chunk of the given payload size (no pad byte added).
Bytes Chunk(const char* tag, uint32_t size)
{
    Bytes b;
    Put(b, tag);
    Put32(b, size);
    for (uint32_t i = 0; i < size; ++i) b.push_back('x');
    return b;
}

}  // namespace

TEST(WavHeader, CanonicalFileHasItsChunksAtTheStandardPlaces)
{
    TempDir dir;
    WavSpec s;
    s.samples = Frames16(10);
    const std::string p = dir.Write("a.wav", Build(s));
    WavInfo info;
    Console con;
    ASSERT_EQ(GET_ATTRIBUTES(1, p.c_str(), info), 1);
    EXPECT_EQ(con.Text(), "");
    EXPECT_EQ(info.dataStart, 44);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.sampleRate, 48000u);
    EXPECT_EQ(info.bits, 16);
    EXPECT_EQ(info.bytesPerSample, 2);
    EXPECT_EQ(info.frames, 10);
}

TEST(WavHeader, FormatsOfEveryAcceptedKindAreRead)
{
    TempDir dir;
    struct Case { uint32_t tag, channels, bits; bool ext; int bps; };
    const Case cases[] = {{1, 1, 24, false, 3}, {3, 2, 32, false, 4}, {3, 1, 32, false, 4},
                          {0xFFFE, 2, 24, true, 3}, {0xFFFE, 1, 16, true, 2}};
    for (const Case& c : cases) {
        WavSpec s;
        s.tag = c.tag;
        s.channels = c.channels;
        s.bits = c.bits;
        s.extensible = c.ext;
        s.rate = 44100;
        s.samples.assign(7 * c.channels * (c.bits / 8), 0);
        const std::string p = dir.Write("f.wav", Build(s));
        WavInfo info;
        Console con;
        ASSERT_EQ(GET_ATTRIBUTES(1, p.c_str(), info), 1) << c.tag << " " << c.bits;
        EXPECT_EQ(info.bytesPerSample, c.bps);
        EXPECT_EQ(info.channels, static_cast<int>(c.channels));
        EXPECT_EQ(info.frames, 7);
        EXPECT_EQ(info.dataStart, c.ext ? 68 : 44);
        EXPECT_EQ(info.sampleRate, 44100u);
    }
}

TEST(WavHeader, ChunksAreFoundAtEvenOffsetsOnly)
{
    TempDir dir;
    // A list chunk between the format and the data chunk, at an even offset.
    WavSpec s;
    s.extraChunk = Chunk("LIST", 10);
    s.samples = Frames16(3);
    std::string p = dir.Write("list.wav", Build(s));
    WavInfo info;
    {
        Console con;
        ASSERT_EQ(GET_ATTRIBUTES(1, p.c_str(), info), 1);
        EXPECT_EQ(info.dataStart, 36 + 18 + 8);
        EXPECT_EQ(info.frames, 3);
    }
    // An odd-sized chunk without its pad byte leaves "data" at an odd offset.
    s.extraChunk = Chunk("junk", 5);
    p = dir.Write("odd.wav", Build(s));
    {
        Console con;
        EXPECT_EQ(GET_ATTRIBUTES(1, p.c_str(), info), 0);
        EXPECT_EQ(con.Text(), "Cannot find data block in file " + p + "!\n");
    }
    // A format chunk at an odd offset is not found either.
    Bytes shifted = Build(WavSpec{});
    shifted.insert(shifted.begin() + 12, 'x');
    p = dir.Write("oddfmt.wav", shifted);
    {
        Console con;
        EXPECT_EQ(GET_ATTRIBUTES(1, p.c_str(), info), 0);
        EXPECT_EQ(con.Text(), "Can't find format chunk in wave file!\n");
    }
}

TEST(WavHeader, UnusableFormatsAreRejectedWithTheirMessages)
{
    TempDir dir;
    WavInfo info;
    WavSpec eight;
    eight.bits = 8;
    eight.samples.assign(8, 0x80);
    std::string p = dir.Write("8.wav", Build(eight));
    {
        Console con;
        EXPECT_EQ(GET_ATTRIBUTES(1, p.c_str(), info), 0);
        EXPECT_EQ(con.Text(), p + " is not a 32 float, 24 bit pcm, or 16 bit pcm file and cannot be used\n");
    }
    WavSpec ext32;
    ext32.tag = 0xFFFE;
    ext32.extensible = true;
    ext32.bits = 32;
    ext32.samples.assign(16, 0);
    p = dir.Write("e32.wav", Build(ext32));
    {
        Console con;
        EXPECT_EQ(GET_ATTRIBUTES(1, p.c_str(), info), 0);
        EXPECT_EQ(con.Text(), "\n" + p + " is not a 32 bit floating point format\n");
    }
    WavSpec pcm32;
    pcm32.bits = 32;
    pcm32.samples.assign(16, 0);
    p = dir.Write("p32.wav", Build(pcm32));
    {
        Console con;
        EXPECT_EQ(GET_ATTRIBUTES(1, p.c_str(), info), 0);
        EXPECT_EQ(con.Text(), "\n" + p + " is not a 32 bit floating point format\n");
    }
    for (uint32_t channels : {0u, 3u, 6u}) {
        WavSpec many;
        many.channels = channels;
        many.samples.assign(24, 0);
        p = dir.Write("many.wav", Build(many));
        Console con;
        EXPECT_EQ(GET_ATTRIBUTES(1, p.c_str(), info), 0) << channels;
        EXPECT_NE(con.Text().find(p), std::string::npos);
    }
}

TEST(WavHeader, FrameCountIsLimitedByTheBytesReallyPresent)
{
    TempDir dir;
    WavSpec s;
    s.samples = Frames16(10);
    s.samples.push_back(0x55);  // part of an 11th frame
    s.claimedDataBytes = 4000;
    const std::string p = dir.Write("short.wav", Build(s));
    WavInfo info;
    Console con;
    ASSERT_EQ(GET_ATTRIBUTES(1, p.c_str(), info), 1);
    EXPECT_EQ(info.frames, 10);

    // A data size smaller than the file wins as well.
    s.claimedDataBytes = 8;
    const std::string q = dir.Write("long.wav", Build(s));
    ASSERT_EQ(GET_ATTRIBUTES(1, q.c_str(), info), 1);
    EXPECT_EQ(info.frames, 2);
}

TEST(WavHeader, BrokenOrMissingFilesAreLeftOutWithAMessage)
{
    TempDir dir;
    WavInfo info;
    {
        Console con;
        const std::string p = dir.File("absent.wav");
        EXPECT_EQ(GET_ATTRIBUTES(1, p.c_str(), info), 0);
        EXPECT_EQ(con.Text(), "Cannot find file in track list called " + p + "!!\n");
    }
    {
        Console con;
        const std::string p = dir.Write("empty.wav", Bytes{});
        EXPECT_EQ(GET_ATTRIBUTES(1, p.c_str(), info), 0);
        EXPECT_EQ(con.Text(), "Can't find format chunk in wave file!\n");
    }
    {
        Console con;
        EXPECT_EQ(GET_ATTRIBUTES(1, dir.path().c_str(), info), 0);
        EXPECT_NE(con.Text(), "");
    }
    const Bytes full = Build(WavSpec{});
    // Cut inside the format fields, and cut inside the data chunk's size field.
    for (size_t cut : {size_t(20), size_t(30), size_t(38), size_t(42)}) {
        Console con;
        const std::string p = dir.Write("cut.wav", Bytes(full.begin(), full.begin() + cut));
        EXPECT_EQ(GET_ATTRIBUTES(1, p.c_str(), info), 0) << cut;
        EXPECT_NE(con.Text(), "") << cut;
    }
    // A header with no sample bytes at all is usable and holds no frames.
    Console con;
    const std::string p = dir.Write("nodata.wav", full);
    ASSERT_EQ(GET_ATTRIBUTES(1, p.c_str(), info), 1);
    EXPECT_EQ(info.frames, 0);
}

TEST(Float32Convert, DecodesFloatsToTheScaleOf24Bits)
{
    auto conv = [](float f) {
        unsigned char b[4];
        std::memcpy(b, &f, 4);
        return Float32Convert(static_cast<signed char>(b[0]), static_cast<signed char>(b[1]),
                              static_cast<signed char>(b[2]), static_cast<signed char>(b[3]));
    };
    EXPECT_EQ(conv(1.0f), 8388608);
    EXPECT_EQ(conv(-0.5f), -4194304);
    EXPECT_EQ(conv(2.0f), 16777216);
    EXPECT_EQ(conv(0.0f), 0);
    EXPECT_EQ(conv(-0.0f), 0);
    EXPECT_EQ(conv(1e-40f), 0);   // denormal
    EXPECT_EQ(conv(1e-7f), 0);    // below one step
    EXPECT_EQ(conv(-1.5e-7f), -1);

    // Any finite value: the float times 2^23, truncated toward zero.
    std::mt19937 gen(7);
    std::uniform_real_distribution<float> level(-4.0f, 4.0f);
    for (int i = 0; i < 20000; ++i) {
        const float f = level(gen);
        ASSERT_EQ(conv(f), static_cast<int64_t>(std::trunc(static_cast<double>(f) * 8388608.0))) << f;
    }
}

TEST(Float32Convert, NonFiniteAndHugeValuesStayDefined)
{
    auto bytes = [](uint32_t w) {
        return Float32Convert(w & 0xFF, (w >> 8) & 0xFF, (w >> 16) & 0xFF, (w >> 24) & 0xFF);
    };
    EXPECT_EQ(bytes(0x7F800000u), 0);  // +inf
    EXPECT_EQ(bytes(0xFF800000u), 0);  // -inf
    EXPECT_EQ(bytes(0x7FC00000u), 0);  // NaN
    EXPECT_EQ(bytes(0x7F7FFFFFu), INT64_MAX);  // largest float, beyond 64 bits
    EXPECT_EQ(bytes(0xFF7FFFFFu), INT64_MIN);
}

TEST(DecodeFrames, IntegerSamplesLandAt24BitScale)
{
    const unsigned char s16[] = {0xFF, 0xFF, 0x01, 0x80, 0x00, 0x7F, 0x02, 0x01};
    int64_t l[2], r[2];
    DecodeFrames(s16, 2, 2, 2, l, r);
    EXPECT_EQ(l[0], -256);
    EXPECT_EQ(r[0], -32767 * 256);
    EXPECT_EQ(l[1], 0x7F00 * 256);
    EXPECT_EQ(r[1], 258 * 256);

    const unsigned char s24[] = {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x01, 0x02, 0x03};
    DecodeFrames(s24, 2, 2, 3, l, r);
    EXPECT_EQ(l[0], -8388608);
    EXPECT_EQ(r[0], 8388607);
    EXPECT_EQ(l[1], -1);
    EXPECT_EQ(r[1], 0x030201);
}

TEST(DecodeFrames, MonoFilesFeedBothSides)
{
    float f[3] = {0.25f, -1.0f, 0.5f};
    unsigned char raw[12];
    std::memcpy(raw, f, sizeof raw);
    int64_t l[3], r[3], m[3];
    DecodeFrames(raw, 3, 1, 4, l, r);
    DecodeMono(raw, 3, 4, m);
    const int64_t want[3] = {2097152, -8388608, 4194304};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(l[i], want[i]);
        EXPECT_EQ(r[i], want[i]);
        EXPECT_EQ(m[i], want[i]);
    }
    const unsigned char s16[] = {0x00, 0x01, 0xFF, 0xFF};
    DecodeFrames(s16, 2, 1, 2, l, r);
    EXPECT_EQ(l[0], 65536);
    EXPECT_EQ(r[0], 65536);
    EXPECT_EQ(l[1], -256);
    EXPECT_EQ(r[1], -256);
}
