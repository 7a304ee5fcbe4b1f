// Faults around the files of a run: an output that cannot be created, a disk
// that fills during the mix, a track file that disappears or shrinks after its
// header was read. Each ends with a message and a non-zero status, never with
// "Done!" over a short file.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "corvale/run/outputs.h"
#include "tests/e2e/session_harness.h"
#include "tests/testutil.h"

using testutil::MakeWav;
using testutil::ReadBytes;
using testutil::RunIn;
using testutil::TempDir;
using testutil::WriteText;

namespace {

const char* kTracks = "1 a.wav +\nend\n";
const char* kFaders = "begin\nfault_mix\nt\t0\t0\t0\nv\t1\t0\nend\n";

// A session of one stereo 16-bit track of the given length.
struct Session {
    TempDir dir;
    explicit Session(const std::string& prefs, size_t frames = 2000)
    {
        std::vector<int32_t> samples(2 * frames);
        for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int32_t>(i % 3000) - 1500;
        WriteText(dir / "a.wav", MakeWav(2, 16, 44100, samples));
        WriteText(dir / "prefs.txt", prefs);
        WriteText(dir / "tracks.txt", kTracks);
        WriteText(dir / "faders.txt", kFaders);
    }
    testutil::RunResult Mix(const std::string& shellPrefix = "")
    {
        std::string err;
        testutil::RunResult r = RunIn(dir.path(), shellPrefix + "'" CORVALE_BIN "'", "", &err);
        EXPECT_EQ(err, "") << "the mixer writes nothing to standard error";
        return r;
    }
};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(OutputFaults, AMixDirectoryThatDoesNotExistEndsWithAMessageAndStatus2)
{
    Session s("begin\nmixdir\tmissing/\nend\n");
    const testutil::RunResult r = s.Mix();
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Has(r.out, "Error: the output file missing/fault_mix.wav could not be created.\n")) << r.out;
    EXPECT_FALSE(Has(r.out, "Done!"));
}

TEST(OutputFaults, AFileWhereTheMixDirectoryShouldBeEndsWithAMessageAndStatus2)
{
    Session s("begin\nmixdir\tplain/\nend\n");
    WriteText(s.dir / "plain", "not a directory");
    const testutil::RunResult r = s.Mix();
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Has(r.out, "Error: the output file plain/fault_mix.wav could not be created.\n")) << r.out;
    EXPECT_FALSE(Has(r.out, "Done!"));
    EXPECT_EQ(ReadBytes(s.dir / "plain"), "not a directory");
}

TEST(OutputFaults, AnOutputOnAFullDeviceIsReportedInsteadOfDone)
{
    Session s("begin\nend\n");
    std::filesystem::create_symlink("/dev/full", s.dir / "fault_mix.wav");
    const testutil::RunResult r = s.Mix();
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Has(r.out, "fault_mix.wav")) << r.out;
    EXPECT_FALSE(Has(r.out, "Done!")) << r.out;
}

// The file size limit lets the header through and stops the first block's
// write part-way, as a disk that fills during the mix does; the limit's signal
// does not kill the mixer, the failed write is reported.
TEST(OutputFaults, ADiskThatFillsDuringTheMixIsReportedWithStatus2)
{
    Session s("begin\nend\n", 40000);
    WriteText(s.dir / "fault_mix.wav", "yesterday's mix");
    const testutil::RunResult r = s.Mix("ulimit -f 64; ");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Has(r.out, "Error writing the mix file fault_mix.wav: File too large\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "Nothing was written; fault_mix.wav is unchanged.\n")) << r.out;
    EXPECT_FALSE(Has(r.out, "Done!")) << r.out;
    EXPECT_EQ(ReadBytes(s.dir / "fault_mix.wav"), "yesterday's mix");
    // No report files are written for a failed mix.
    EXPECT_FALSE(testutil::Exists(s.dir / "stats_fault_mix.txt"));
}

TEST(OutputFaults, TheSameSessionWithRoomToWriteReportsDone)
{
    Session s("begin\nend\n", 40000);
    const testutil::RunResult r = s.Mix();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(Has(r.out, "Done!  Created the file: fault_mix.wav")) << r.out;
    EXPECT_EQ(ReadBytes(s.dir / "fault_mix.wav").size(), 44u + 40000u * 6u);
}

// Track files changing between the header reading and the mix: the set-up runs
// in-process, the file is changed, then the mix runs.
class TrackFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::vector<int32_t> samples(2 * kFrames);
        for (size_t i = 0; i < samples.size(); ++i) samples[i] = 1000;
        WriteText(dir_ / "a.wav", MakeWav(2, 16, 44100, samples));
        prefs_ = "begin\nmixdir\t" + dir_.path() + "/\nwavdir\t" + dir_.path() + "/\ndither\t0\nend\n";
        run_ = std::make_unique<::Run>();
        ASSERT_EQ(harness::SetUp(*run_, prefs_, kTracks, kFaders), 0) << console_.Text();
    }
    static constexpr size_t kFrames = 3000;
    TempDir dir_;
    std::string prefs_;
    harness::Console console_;
    std::unique_ptr<::Run> run_;
};

TEST_F(TrackFaults, ATrackDeletedBeforeTheMixEndsWithItsChannelNamed)
{
    std::filesystem::remove(dir_ / "a.wav");
    EXPECT_EQ(MixIntoOutputs(*run_), 2);
    EXPECT_TRUE(Has(console_.Text(), "Cannot open the file of channel 1 (" + (dir_ / "a.wav") + ") for the mix!\n"))
        << console_.Text();
    EXPECT_TRUE(Has(console_.Text(), "Nothing was written; " + (dir_ / "fault_mix.wav") + " was not created.\n"));
    EXPECT_FALSE(testutil::Exists(dir_ / "fault_mix.wav"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 0) << "no temporary file is left";
}

TEST_F(TrackFaults, ATrackTruncatedBeforeTheMixEndsWithItsChannelNamed)
{
    std::filesystem::resize_file(dir_ / "a.wav", 44 + 4 * 1000);
    WriteText(dir_ / "fault_mix.wav", "yesterday's mix");
    EXPECT_EQ(MixIntoOutputs(*run_), 2);
    EXPECT_EQ(ReadBytes(dir_ / "fault_mix.wav"), "yesterday's mix");
    EXPECT_TRUE(Has(console_.Text(), "Nothing was written; " + (dir_ / "fault_mix.wav") + " is unchanged.\n"));
    EXPECT_TRUE(Has(console_.Text(), "Error reading the file of channel 1 (" + (dir_ / "a.wav") +
                                         "): it ended before the length its header gives. The mix stops.\n"))
        << console_.Text();
}

TEST_F(TrackFaults, AnUntouchedTrackMixesToTheEnd)
{
    EXPECT_EQ(MixIntoOutputs(*run_), 0) << console_.Text();
    EXPECT_FALSE(Has(console_.Text(), "Error"));
    // 1000 at 16 bits is 1000 x 256 at 24-bit scale; unity fader, 3 dB pan law
    // centre gain is below 1, so every output word is positive and below 1000 x 256.
    const std::string out = ReadBytes(dir_ / "fault_mix.wav");
    ASSERT_EQ(out.size(), 44u + kFrames * 6u);
    const int64_t first = testutil::SampleAt(out, 44, 3);
    EXPECT_GT(first, 0);
    EXPECT_LE(first, 256000);
    EXPECT_EQ(testutil::SampleAt(out, out.size() - 3, 3), first);
}
