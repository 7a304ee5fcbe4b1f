#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>

#include "corvale/audio/wav_in.h"
#include "tests/audio/wav_files.h"
#include "tests/testutil.h"

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

// A chunk with the given payload, followed by its pad byte when the size is odd.
Bytes ChunkOf(const char* tag, const std::string& payload)
{
    Bytes b;
    Put(b, tag);
    Put32(b, static_cast<uint32_t>(payload.size()));
    b.insert(b.end(), payload.begin(), payload.end());
    if (payload.size() % 2 == 1) b.push_back(0);
    return b;
}

// A list chunk with one comment, as editors write it.
Bytes CommentList(const std::string& text)
{
    Bytes comment = ChunkOf("ICMT", text);
    return ChunkOf("LIST", "INFO" + std::string(comment.begin(), comment.end()));
}

struct Header {
    int ok = 0;
    WavInfo info;
    std::string text;
};

Header ReadHeader(const std::string& path)
{
    Header h;
    Console con;
    h.ok = GET_ATTRIBUTES(1, path.c_str(), h.info);
    h.text = con.Text();
    return h;
}

// Even position of the first "data" in bytes, or -1.
int64_t FirstEvenData(const Bytes& b)
{
    for (size_t i = 2; i + 4 <= b.size(); i += 2)
        if (std::memcmp(b.data() + i, "data", 4) == 0) return static_cast<int64_t>(i);
    return -1;
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
    struct Case { uint32_t tag, channels, bits; bool ext; uint32_t sub; int bps; };
    // Extensible files by their sub-format: PCM at 16 and 24 bits, float at 32.
    const Case cases[] = {{1, 1, 24, false, 0, 3},    {3, 2, 32, false, 0, 4},    {3, 1, 32, false, 0, 4},
                          {0xFFFE, 2, 24, true, 1, 3}, {0xFFFE, 1, 16, true, 1, 2}, {0xFFFE, 2, 32, true, 3, 4},
                          {0xFFFE, 1, 32, true, 3, 4}};
    for (const Case& c : cases) {
        WavSpec s;
        s.tag = c.tag;
        s.channels = c.channels;
        s.bits = c.bits;
        s.extensible = c.ext;
        s.subFormat = c.sub;
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
        EXPECT_EQ(con.Text(), "Can't find format chunk in wave file!\n  in " + p + "\n");
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
    // 32-bit integer PCM, plain or extensible, is not float.
    WavSpec ext32;
    ext32.tag = 0xFFFE;
    ext32.extensible = true;
    ext32.subFormat = 1;
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
        EXPECT_EQ(con.Text(), "Cannot find file in track list called " + p + "!!\n  " + p + ": No such file or directory\n");
    }
    {
        Console con;
        const std::string p = dir.Write("empty.wav", Bytes{});
        EXPECT_EQ(GET_ATTRIBUTES(1, p.c_str(), info), 0);
        EXPECT_EQ(con.Text(), "Can't find format chunk in wave file!\n  in " + p + "\n");
    }
    {
        Console con;
        EXPECT_EQ(GET_ATTRIBUTES(1, dir.path().c_str(), info), 0);
        EXPECT_EQ(con.Text(), dir.path() + " is not a regular file and cannot be used\n");
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

TEST(WavChunks, MetadataContainingTheWordDataDoesNotHideTheDataChunk)
{
    TempDir dir;
    WavSpec s;
    s.extraChunk = CommentList("metadata test");
    s.samples = Frames16(5);
    const Bytes file = Build(s);
    // The comment puts "data" at an even offset ahead of the data chunk.
    const int64_t fake = FirstEvenData(file);
    ASSERT_EQ(fake, 36 + 8 + 12 + 4);
    const int64_t real = 36 + static_cast<int64_t>(s.extraChunk.size());
    ASSERT_LT(fake, real);

    const Header h = ReadHeader(dir.Write("list.wav", file));
    ASSERT_EQ(h.ok, 1) << h.text;
    EXPECT_EQ(h.text, "");
    EXPECT_EQ(h.info.dataStart, real + 8);
    EXPECT_EQ(h.info.frames, 5);
}

TEST(WavChunks, OddSizedChunksAreFollowedPastTheirPadByte)
{
    TempDir dir;
    // Before the format chunk, 7 bytes whose "fmt" sits at an even offset; between
    // it and the data chunk, 5 bytes beginning with "data" at an even offset.
    WavSpec s;
    s.extraChunk = ChunkOf("junk", "data!");
    s.samples = Frames16(4);
    Bytes file = Build(s);
    const Bytes before = ChunkOf("note", "abfmt  ");
    ASSERT_EQ(before.size(), 16u);
    file.insert(file.begin() + 12, before.begin(), before.end());
    const Header h = ReadHeader(dir.Write("odd.wav", file));
    ASSERT_EQ(h.ok, 1) << h.text;
    EXPECT_EQ(h.info.channels, 2);
    EXPECT_EQ(h.info.sampleRate, 48000u);
    EXPECT_EQ(h.info.bits, 16);
    EXPECT_EQ(h.info.dataStart, 12 + 16 + 24 + 14 + 8);
    EXPECT_EQ(h.info.frames, 4);
}

TEST(WavChunks, AListThatCannotBeFollowedFallsBackToTheByteSearch)
{
    TempDir dir;
    // A chunk whose size runs past the file: the data chunk is found by its bytes.
    WavSpec s;
    s.extraChunk = {'b', 'a', 'd', ' ', 0xF0, 0xFF, 0xFF, 0x7F, 'x', 'y'};
    s.samples = Frames16(3);
    Header h = ReadHeader(dir.Write("bad.wav", Build(s)));
    ASSERT_EQ(h.ok, 1) << h.text;
    EXPECT_EQ(h.info.dataStart, 36 + 10 + 8);
    EXPECT_EQ(h.info.frames, 3);

    // Then the first "data" wins, as it always has: here the one in the comment.
    s.extraChunk.insert(s.extraChunk.end(), {'\0', '\0'});
    const Bytes list = CommentList("metadata test");
    s.extraChunk.insert(s.extraChunk.end(), list.begin(), list.end());
    const Bytes file = Build(s);
    h = ReadHeader(dir.Write("bad_list.wav", file));
    ASSERT_EQ(h.ok, 1) << h.text;
    EXPECT_EQ(h.info.dataStart, FirstEvenData(file) + 8);

    // A chunk header that is not at an even offset stops the walk: the data
    // chunk behind it at an odd offset is not found.
    s.extraChunk = {'j', 'u', 'n', 'k', 5, 0, 0, 0, 'x', 'x', 'x', 'x', 'x'};
    const std::string p = dir.Write("nopad.wav", Build(s));
    h = ReadHeader(p);
    EXPECT_EQ(h.ok, 0);
    EXPECT_EQ(h.text, "Cannot find data block in file " + p + "!\n");
}

TEST(WavChunks, TheWalkCoversTheSameLeadingBytesAsTheSearch)
{
    TempDir dir;
    // A filler chunk placing the data chunk's header at the last search position
    // (131072), then two bytes further.
    for (int64_t shift : {0, 2}) {
        WavSpec s;
        const int64_t filler = 131072 - 36 - 8 + shift;
        s.extraChunk = ChunkOf("fill", std::string(static_cast<size_t>(filler), 'z'));
        s.samples = Frames16(2);
        const std::string p = dir.Write("far.wav", Build(s));
        const Header h = ReadHeader(p);
        if (shift == 0) {
            ASSERT_EQ(h.ok, 1) << h.text;
            EXPECT_EQ(h.info.dataStart, 131072 + 8);
            EXPECT_EQ(h.info.frames, 2);
        } else {
            EXPECT_EQ(h.ok, 0);
            EXPECT_EQ(h.text, "Cannot find data block in file " + p + "!\n");
        }
    }
}

TEST(WavFormat, OtherCodingsAreRefusedNamingTheirFormatTag)
{
    TempDir dir;
    struct Case {
        uint32_t tag, bits;
        bool ext;
        uint32_t sub;
        int64_t fmtBytes;
        const char* says;
    };
    const Case cases[] = {
        {0x2000, 16, false, 0, -1, " has format tag 0x2000 and cannot be used\n"},   // AC-3 in a WAV file
        {2, 16, false, 0, -1, " has format tag 0x0002 and cannot be used\n"},
        {3, 16, false, 0, -1, " has format tag 0x0003 and cannot be used\n"},
        {0xFFFE, 16, true, 2, -1, " has format tag 0xFFFE with sub-format 0x0002 and cannot be used\n"},
        {0xFFFE, 24, true, 3, -1, " has format tag 0xFFFE with sub-format 0x0003 and cannot be used\n"},
        // Extensible without room for its sub-format.
        {0xFFFE, 16, true, 1, 18, " has format tag 0xFFFE and cannot be used\n"},
        {0xFFFE, 24, true, 1, 39, " has format tag 0xFFFE and cannot be used\n"},
    };
    for (const Case& c : cases) {
        WavSpec s;
        s.tag = c.tag;
        s.bits = c.bits;
        s.extensible = c.ext;
        s.subFormat = c.sub;
        s.fmtBytes = c.fmtBytes;
        s.samples.assign(12 * (c.bits / 8), 0x55);
        const std::string p = dir.Write("coded.wav", Build(s));
        const Header h = ReadHeader(p);
        EXPECT_EQ(h.ok, 0) << c.tag;
        EXPECT_EQ(h.text, p + c.says);
    }
    // At 32 bits anything that is not float keeps the floating-point message.
    for (int64_t fmtBytes : {int64_t{18}, int64_t{-1}}) {
        WavSpec s;
        s.tag = 0xFFFE;
        s.bits = 32;
        s.extensible = true;
        s.subFormat = fmtBytes < 0 ? 0x2000 : 3;
        s.fmtBytes = fmtBytes;
        s.samples.assign(16, 0);
        const std::string p = dir.Write("e32.wav", Build(s));
        const Header h = ReadHeader(p);
        EXPECT_EQ(h.ok, 0);
        EXPECT_EQ(h.text, "\n" + p + " is not a 32 bit floating point format\n");
    }
}

TEST(WavFormat, FilesRefusedForOtherReasonsKeepThoseMessages)
{
    TempDir dir;
    auto refusal = [&](WavSpec s, bool dropData) {
        s.tag = 0x2000;
        if (s.samples.empty()) s.samples.assign(24, 0);
        Bytes file = Build(s);
        if (dropData) file.resize(36);
        const std::string p = dir.Write("r.wav", file);
        return std::make_pair(p, ReadHeader(p).text);
    };
    WavSpec adpcm;   // 4-bit coding: the bits decide first
    adpcm.bits = 4;
    auto [p, text] = refusal(adpcm, false);
    EXPECT_EQ(text, p + " is not a 32 float, 24 bit pcm, or 16 bit pcm file and cannot be used\n");
    WavSpec wide;
    wide.channels = 6;
    std::tie(p, text) = refusal(wide, false);
    EXPECT_EQ(text, p + " has 6 channels; only mono and stereo files can be used\n");
    WavSpec still;
    still.rate = 0;
    std::tie(p, text) = refusal(still, false);
    EXPECT_EQ(text, p + " has a sample rate of 0 and cannot be used\n");
    std::tie(p, text) = refusal(WavSpec{}, true);
    EXPECT_EQ(text, "Cannot find data block in file " + p + "!\n");
}

TEST(TrackFiles, AFifoIsRefusedWithoutWaitingForAWriter)
{
    TempDir dir;
    const std::string p = dir.File("pipe.wav");
    ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0);
    Header h;
    h.ok = -1;
    EXPECT_TRUE(testutil::ReturnsWithin(10.0, p, [&] { h = ReadHeader(p); })) << "reading the header blocked";
    EXPECT_EQ(h.ok, 0);
    EXPECT_EQ(h.text, p + " is not a regular file and cannot be used\n");
}

TEST(TrackFiles, LinksAreFollowedAndOnlyRegularFilesAreUsed)
{
    TempDir dir;
    WavSpec s;
    s.samples = Frames16(6);
    dir.Write("real.wav", Build(s));
    std::filesystem::create_symlink("real.wav", dir.File("link.wav"));
    Header h = ReadHeader(dir.File("link.wav"));
    ASSERT_EQ(h.ok, 1) << h.text;
    EXPECT_EQ(h.text, "");
    EXPECT_EQ(h.info.frames, 6);
    EXPECT_EQ(h.info.dataStart, 44);

    std::filesystem::create_directory(dir.File("folder.wav"));
    std::filesystem::create_symlink("folder.wav", dir.File("to_folder.wav"));
    for (const std::string& p : {dir.File("folder.wav"), dir.File("to_folder.wav"), std::string("/dev/null")}) {
        h = ReadHeader(p);
        EXPECT_EQ(h.ok, 0) << p;
        EXPECT_EQ(h.text, p + " is not a regular file and cannot be used\n");
    }
    // A dangling link is a missing file.
    std::filesystem::create_symlink("gone.wav", dir.File("dangling.wav"));
    h = ReadHeader(dir.File("dangling.wav"));
    EXPECT_EQ(h.ok, 0);
    EXPECT_EQ(h.text, "Cannot find file in track list called " + dir.File("dangling.wav") + "!!\n  " +
                          dir.File("dangling.wav") + ": No such file or directory\n");
}
