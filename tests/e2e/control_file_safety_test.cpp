// Whole runs of the built mixer on control files that used to be misread: a
// keyword as another keyword's value, a keyword without its value.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/testutil.h"

using testutil::Exists;
using testutil::MakeWav;
using testutil::ReadBytes;
using testutil::RunIn;
using testutil::TempDir;
using testutil::WriteText;

namespace {

constexpr int kFrames = 3000;

void WriteTracks(const TempDir& dir)
{
    std::vector<int32_t> mono(kFrames), stereo(2 * kFrames);
    for (int i = 0; i < kFrames; ++i) mono[i] = (i * 37) % 2000 - 1000;
    for (int i = 0; i < 2 * kFrames; ++i) stereo[i] = ((i * 7919) % 60000 - 30000) * 64;
    WriteText(dir / "a.wav", MakeWav(1, 16, 8000, mono));
    WriteText(dir / "b.wav", MakeWav(2, 24, 8000, stereo));
}

const char kTracks[] = "1 a.wav +\n";
const char kFaders[] = "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nend\n";

std::string Warning(const std::string& key)
{
    return ">> Warning: " + key + " has no value on its line of the preferences; it is left unset.\n";
}

// The channel count field of a WAV header.
int Channels(const std::string& wav) { return wav.size() < 24 ? -1 : static_cast<unsigned char>(wav[22]); }

}  // namespace

TEST(ControlFileSafety, OnameMonoRendersAStereoFileNamedMono)
{
    TempDir dir;
    WriteTracks(dir);
    WriteText(dir / "prefs.txt", "begin\ndither\t0\noname\tmono\nend\n");
    WriteText(dir / "tracks.txt", kTracks);
    WriteText(dir / "faders.txt", kFaders);
    const auto r = RunIn(dir.path(), CORVALE_BIN);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Done!  Created the file: mono.wav"), std::string::npos) << r.out;
    const std::string wav = ReadBytes(dir / "mono.wav");
    EXPECT_EQ(Channels(wav), 2);
    EXPECT_EQ(wav.size(), 44u + 6 * kFrames);  // 24-bit stereo
    EXPECT_FALSE(Exists(dir / "song.wav"));
}

TEST(ControlFileSafety, OnameTempoMixesWithoutTempoMode)
{
    TempDir dir;
    WriteTracks(dir);
    WriteText(dir / "prefs.txt", "begin\ndither\t0\noname\ttempo\nend\n");
    WriteText(dir / "tracks.txt", kTracks);
    WriteText(dir / "faders.txt", kFaders);
    const auto r = RunIn(dir.path(), CORVALE_BIN);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("Tempo mode on."), std::string::npos) << r.out;
    EXPECT_EQ(ReadBytes(dir / "tempo.wav").size(), 44u + 6 * kFrames);
}

TEST(ControlFileSafety, AnEmptyLaunchNeverRunsTheNextLinesKeyword)
{
    TempDir dir;
    WriteTracks(dir);
    std::filesystem::create_directory(dir / "bin");
    // A command named like the keyword of the next line, first on the PATH.
    WriteText(dir / "bin/dither", "#!/bin/sh\ntouch '" + (dir / "marker") + "'\n");
    ASSERT_EQ(::chmod((dir / "bin/dither").c_str(), 0755), 0);
    WriteText(dir / "tracks.txt", kTracks);
    WriteText(dir / "faders.txt", kFaders);
    const std::string command = "PATH='" + (dir / "bin") + "':\"$PATH\" '" CORVALE_BIN "'";

    WriteText(dir / "prefs.txt", "begin\nlaunch\ndither\t0\nend\n");
    const auto r = RunIn(dir.path(), command);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(Warning("launch")), std::string::npos) << r.out;
    EXPECT_FALSE(Exists(dir / "marker"));

    // The same command named as the launch value does run: the set-up would catch it.
    WriteText(dir / "prefs.txt", "begin\nlaunch\tdither\ndither\t0\nend\n");
    EXPECT_EQ(RunIn(dir.path(), command).status, 0);
    EXPECT_TRUE(Exists(dir / "marker"));
}
