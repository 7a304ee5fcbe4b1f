// The adjuster's saved block, pasted into its cue sheet in place of the time and
// channel-cue lines, mixes exactly like the sheet it was loaded from.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "tests/quenby/quenby_testing.h"

using testutil::ReadBytes;
using testutil::RunIn;
using testutil::TempDir;
using testutil::WriteText;

namespace {

constexpr uint32_t kRate = 8000;
constexpr int kFrames = 6 * kRate;

// The head of the sheet, the lines the block replaces, and the rest.
const char kHead[] = "begin\nblend\np\t2\t-40\n";
const char kCues[] =
    "t\t0\t0\t0\nv\t1\t-6\nv\t2\t0\nv\t3\t-3.5\n"
    "t\t0\t1\t250\nv\t1\t-12.25\nrmp\t0.5\nshape\t2\n"
    "inc\t0.5\nv\t2\t-20\nrmp\t1\nofs\t0.25\nshape\t0.5\n"
    "t\t0\t3\t0\nv\t3\t-40\nofs\t-0.125\nrmp\t0.75\n"
    "inc\t1.25\nv\t1\t0\nshape\t3\nv\t2\t-3\nofs\t0.5\n"
    "t\t0\t5\t500\nv\t3\t-6\n";
const char kTail[] = "pol\t3\t-1\nend\n";

std::string Track(uint32_t seed)
{
    std::vector<int32_t> samples(kFrames);
    for (int32_t& s : samples) {
        seed = seed * 1664525u + 1013904223u;
        s = static_cast<int32_t>(seed >> 16) % 12000 - 6000;
    }
    return testutil::MakeWav(1, 16, kRate, samples);
}

// Mixes a session with the given cue sheet in a fresh directory; the mix file.
std::string Mix(const std::string& sheet)
{
    TempDir dir;
    WriteText(dir / "prefs.txt", "begin\ndither\t0\nend\n");
    WriteText(dir / "tracks.txt", "1 a.wav +\n2 b.wav +\n3 c.wav +\n");
    WriteText(dir / "a.wav", Track(1));
    WriteText(dir / "b.wav", Track(2));
    WriteText(dir / "c.wav", Track(3));
    WriteText(dir / "faders.txt", sheet);
    const auto r = RunIn(dir.path(), CORVALE_BIN);
    EXPECT_EQ(r.status, 0) << r.out;
    return ReadBytes(dir / "blend.wav");
}

// The block saved by the adjuster, without its title line.
std::string SavedBlock(const std::string& answers)
{
    TempDir dir;
    WriteText(dir / "faders.txt", std::string(kHead) + kCues + kTail);
    const auto r = qtest::Quenby(dir, "", answers);
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string block = ReadBytes(dir / "cues.txt");
    EXPECT_EQ(block.rfind("begin\n", 0), 0u) << block;
    return block.substr(block.find('\n') + 1);
}

}  // namespace

TEST(QuenbyMix, TheSavedBlockMixesLikeTheLinesItReplaces)
{
    const std::string original = Mix(std::string(kHead) + kCues + kTail);
    ASSERT_EQ(original.size(), 44u + 6u * kFrames);

    const std::string byTime = SavedBlock("pf\ncues.txt\nx\n");
    // "inc" and "ofs" are folded into the times; ramps and shapes stay with their cue.
    EXPECT_NE(byTime.find("\nt\t0\t2\t0\nv\t2\t-20.00\nrmp\t1.000\nshape\t0.500\n"), std::string::npos) << byTime;
    EXPECT_NE(byTime.find("\nt\t0\t2\t875\nv\t3\t-40.00\nrmp\t0.750\n"), std::string::npos) << byTime;
    EXPECT_NE(byTime.find("\nt\t0\t4\t250\nv\t1\t0.00\nshape\t3.000\n"), std::string::npos) << byTime;
    EXPECT_NE(byTime.find("\nt\t0\t4\t750\nv\t2\t-3.00\n"), std::string::npos) << byTime;
    EXPECT_EQ(Mix(std::string(kHead) + byTime + kTail), original);

    const std::string byChannel = SavedBlock("co\ns\npf\ncues.txt\nx\n");
    EXPECT_NE(byChannel, byTime);
    EXPECT_EQ(Mix(std::string(kHead) + byChannel + kTail), original);

    // The shapes matter to the mix: without them it differs.
    std::string plain;
    std::istringstream lines(byTime);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("shape", 0) != 0) plain += line + "\n";
    EXPECT_NE(Mix(std::string(kHead) + plain + kTail), original);
}
