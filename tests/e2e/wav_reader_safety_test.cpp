// Track files the reader must not misread or hang on: metadata holding the word
// "data", codings that are not PCM or float, float written as extensible, and
// FIFOs named as tracks or put in a track's place before the mix.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/audio/wav_files.h"
#include "corvale/run/outputs.h"
#include "tests/e2e/session_harness.h"
#include "tests/testutil.h"

using testutil::ReadBytes;
using testutil::RunIn;
using testutil::SampleAt;
using testutil::TempDir;
using testutil::WriteText;

namespace {

const char* kPrefs = "begin\ndither\t0\npan\t0\nend\n";

std::string AsString(const testwav::Bytes& b) { return std::string(b.begin(), b.end()); }

void LE(testwav::Bytes& b, int64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<unsigned char>((static_cast<uint64_t>(v) >> (8 * i)) & 0xFF));
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A list chunk holding one comment, as common tagging tools write it.
testwav::Bytes CommentList(const std::string& text)
{
    testwav::Bytes b;
    testwav::Put(b, "LIST");
    testwav::Put32(b, static_cast<uint32_t>(4 + 8 + text.size() + text.size() % 2));
    testwav::Put(b, "INFO");
    testwav::Put(b, "ICMT");
    testwav::Put32(b, static_cast<uint32_t>(text.size()));
    b.insert(b.end(), text.begin(), text.end());
    if (text.size() % 2 == 1) b.push_back(0);
    return b;
}

// 16-bit test signal: frame i, side s.
int32_t Signal(int i, int s) { return s == 0 ? 37 * (i % 400) - 7000 : 5000 - 23 * (i % 300); }

// A stereo 16-bit track of Signal, with the given chunk before its data.
testwav::WavSpec SignalTrack(int frames, const testwav::Bytes& extra = {})
{
    testwav::WavSpec s;
    s.rate = 8000;
    s.extraChunk = extra;
    for (int i = 0; i < frames; ++i) {
        LE(s.samples, Signal(i, 0), 2);
        LE(s.samples, Signal(i, 1), 2);
    }
    return s;
}

struct Mixed {
    testutil::RunResult run;
    std::string wav;
};

// Mixes the tracks named in trackList in dir, under `timeout` so a run that
// blocks is killed and fails the test instead of hanging it.
Mixed MixIn(const TempDir& dir, const std::string& trackList, int channels)
{
    std::string faders = "begin\nsafety\nt\t0\t0\t0\n";
    for (int c = 1; c <= channels; ++c) faders += "v\t" + std::to_string(c) + "\t0\n";
    faders += "end\n";
    WriteText(dir / "prefs.txt", kPrefs);
    WriteText(dir / "tracks.txt", trackList);
    WriteText(dir / "faders.txt", faders);
    std::string err;
    Mixed m;
    m.run = RunIn(dir.path(), "timeout -s KILL 60 '" CORVALE_BIN "'", "", &err);
    EXPECT_EQ(err, "");
    m.wav = ReadBytes(dir / "safety.wav");
    return m;
}

// Every frame of a 24-bit stereo mix equals Signal at 24-bit scale (unity fader,
// 0 dB pan law).
void ExpectSignal(const std::string& wav, int frames)
{
    ASSERT_EQ(wav.size(), 44u + 6u * static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        ASSERT_EQ(SampleAt(wav, 44 + 6 * static_cast<size_t>(i), 3), 256 * Signal(i, 0)) << i;
        ASSERT_EQ(SampleAt(wav, 47 + 6 * static_cast<size_t>(i), 3), 256 * Signal(i, 1)) << i;
    }
}

}  // namespace

TEST(WavReaderSafety, ATrackWithACommentSayingMetadataMixesItsSamples)
{
    TempDir dir;
    const int n = 1500;
    const testwav::Bytes file = testwav::Build(SignalTrack(n, CommentList("metadata test")));
    // The comment's "data" stands at an even offset, ahead of the data chunk.
    const size_t fake = AsString(file).find("data");
    ASSERT_EQ(fake % 2, 0u);
    ASSERT_LT(fake, file.size() - 4u * n - 8);
    WriteText(dir / "a.wav", AsString(file));
    const Mixed m = MixIn(dir, "1 a.wav +\n", 1);
    ASSERT_EQ(m.run.status, 0) << m.run.out;
    EXPECT_TRUE(Has(m.run.out, "Done!")) << m.run.out;
    ExpectSignal(m.wav, n);
}

TEST(WavReaderSafety, AnAc3TaggedFileIsLeftOutWithItsMessage)
{
    TempDir dir;
    const int n = 1200;
    WriteText(dir / "a.wav", AsString(testwav::Build(SignalTrack(n))));
    // Compressed frames in a 16-bit stereo WAV: bytes that are not samples.
    testwav::WavSpec ac3;
    ac3.tag = 0x2000;
    ac3.rate = 8000;
    std::mt19937 gen(11);
    for (int i = 0; i < 4 * 2 * n; ++i) ac3.samples.push_back(static_cast<unsigned char>(gen()));
    WriteText(dir / "b.wav", AsString(testwav::Build(ac3)));
    const Mixed m = MixIn(dir, "1 a.wav +\n2 b.wav +\n", 2);
    ASSERT_EQ(m.run.status, 0) << m.run.out;
    EXPECT_TRUE(Has(m.run.out, "b.wav has format tag 0x2000 and cannot be used\n")) << m.run.out;
    ExpectSignal(m.wav, n);   // channel 1 alone
}

TEST(WavReaderSafety, AFloatFileWrittenAsExtensibleMixes)
{
    TempDir dir;
    const int n = 1000;
    testwav::WavSpec f;
    f.tag = 0xFFFE;
    f.extensible = true;
    f.subFormat = 3;
    f.bits = 32;
    f.rate = 8000;
    for (int i = 0; i < n; ++i)
        for (int s = 0; s < 2; ++s) {
            // Signal at float scale (exact: a 16-bit value over 2^15).
            const float v = static_cast<float>(Signal(i, s)) / 32768.0f;
            uint32_t w;
            std::memcpy(&w, &v, 4);
            LE(f.samples, w, 4);
        }
    WriteText(dir / "a.wav", AsString(testwav::Build(f)));
    const Mixed m = MixIn(dir, "1 a.wav +\n", 1);
    ASSERT_EQ(m.run.status, 0) << m.run.out;
    EXPECT_FALSE(Has(m.run.out, "floating point")) << m.run.out;
    ExpectSignal(m.wav, n);
}

TEST(WavReaderSafety, AFifoNamedAsATrackIsLeftOutWithoutBlocking)
{
    TempDir dir;
    const int n = 900;
    WriteText(dir / "a.wav", AsString(testwav::Build(SignalTrack(n))));
    ASSERT_EQ(::mkfifo((dir / "b.wav").c_str(), 0600), 0);
    const Mixed m = MixIn(dir, "1 a.wav +\n2 b.wav +\n", 2);
    ASSERT_EQ(m.run.status, 0) << "killed after 60 s when the open blocks\n" << m.run.out;
    EXPECT_TRUE(Has(m.run.out, "b.wav is not a regular file and cannot be used\n")) << m.run.out;
    ExpectSignal(m.wav, n);
}

// The set-up runs in-process, then the track is replaced by a FIFO, then the mix.
TEST(WavReaderSafety, ATrackReplacedByAFifoBeforeTheMixStopsTheRun)
{
    TempDir dir;
    WriteText(dir / "a.wav", AsString(testwav::Build(SignalTrack(3000))));
    const std::string prefs = "begin\nmixdir\t" + dir.path() + "/\nwavdir\t" + dir.path() + "/\ndither\t0\nend\n";
    harness::Console console;
    auto run = std::make_unique<::Run>();
    ASSERT_EQ(harness::SetUp(*run, prefs, "1 a.wav +\nend\n", "begin\nswap\nt\t0\t0\t0\nv\t1\t0\nend\n"), 0)
        << console.Text();
    std::filesystem::remove(dir / "a.wav");
    ASSERT_EQ(::mkfifo((dir / "a.wav").c_str(), 0600), 0);
    int status = -1;
    EXPECT_TRUE(testutil::ReturnsWithin(10.0, dir / "a.wav", [&] { status = MixIntoOutputs(*run); }))
        << "opening the track for the mix blocked";
    EXPECT_EQ(status, 2);
    EXPECT_TRUE(Has(console.Text(), "The file of channel 1 (" + (dir / "a.wav") +
                                        ") is not a regular file and cannot be used for the mix!\n"))
        << console.Text();
}
