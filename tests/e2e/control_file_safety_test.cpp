// Whole runs of the built mixer on control files that used to be misread: a
// keyword as another keyword's value, a keyword without its value, files saved
// with CR LF line ends or a byte-order mark.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
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

struct Texts {
    std::string prefs, tracks, faders;
};

struct Rendered {
    int status = -1;
    std::string out;
    std::map<std::string, std::string> files;  // every file the run wrote
};

// Drops the lines that hold the processing time, which differs from run to run.
std::string WithoutTimes(const std::string& text)
{
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string line = text.substr(pos, end - pos);
        if (line.find("Processing time") == std::string::npos) out += line;
        pos = end;
    }
    return out;
}

// Renders the two-track session with the given control files in a fresh directory.
Rendered Render(const Texts& t)
{
    TempDir dir;
    WriteTracks(dir);
    WriteText(dir / "prefs.txt", t.prefs);
    WriteText(dir / "tracks.txt", t.tracks);
    WriteText(dir / "faders.txt", t.faders);
    Rendered r;
    const auto run = RunIn(dir.path(), CORVALE_BIN);
    r.status = run.status;
    r.out = WithoutTimes(run.out);
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        const std::string name = e.path().filename().string();
        if (name == "a.wav" || name == "b.wav" || name == "prefs.txt" || name == "tracks.txt" ||
            name == "faders.txt")
            continue;
        r.files[name] = WithoutTimes(ReadBytes(e.path().string()));
    }
    return r;
}

std::string Crlf(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

const std::string kBom = "\xEF\xBB\xBF";

std::vector<std::string> Names(const Rendered& r)
{
    std::vector<std::string> names;
    for (const auto& [name, bytes] : r.files) names.push_back(name);
    return names;
}

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

TEST(ControlFileSafety, CrLfControlFilesRenderTheSameBytesAsTheirLfTwins)
{
    // Notes above "begin", tap rtn, a muted track, and a cue line after "end"
    // that would change the mix if "end" were not seen.
    const Texts plain = {
        "my settings\nbegin\ndither\t0\noname\tmix\ntap\trtn\nend\n",
        "begin\n1 a.wav +\n2 b.wav +\n3 none.wav -\nend\n",
        "begin\nsong\nt\t0\t0\t0\nv\t1\t-3\nv\t2\t0\nrev\t1\t-10\nrtn\t-6\t40\nend\nv\t1\t-40\n",
    };
    const Rendered lf = Render(plain);
    ASSERT_EQ(lf.status, 0) << lf.out;
    ASSERT_EQ(Names(lf),
              (std::vector<std::string>{"faders_mix.txt", "mix.wav", "rtnTap.wav", "stats_mix.json", "stats_mix.txt"}));
    EXPECT_EQ(lf.files.at("mix.wav").size(), 44u + 6 * kFrames);

    const Rendered crlf = Render({Crlf(plain.prefs), Crlf(plain.tracks), Crlf(plain.faders)});
    EXPECT_EQ(crlf.status, 0) << crlf.out;
    EXPECT_EQ(Names(crlf), Names(lf));
    for (const auto& [name, bytes] : lf.files) {
        if (name.ends_with(".json")) continue;   // its dither seed follows the clock
        const auto it = crlf.files.find(name);
        ASSERT_NE(it, crlf.files.end()) << name;
        EXPECT_TRUE(it->second == bytes) << name;
    }
    EXPECT_EQ(crlf.out, lf.out);
}

TEST(ControlFileSafety, AByteOrderMarkBeforeTheFirstKeywordIsIgnored)
{
    // No "begin" anywhere: the mark stands right before the first keyword of
    // the preferences, the first track name and the mix title.
    const Texts plain = {
        "oname\tmarked\ndither\t0\ntlist\t1\nend\n",
        "a.wav +\nb.wav +\nend\n",
        "song\nt\t0\t0\t0\nv\t1\t-3\nv\t2\t0\nend\n",
    };
    const Rendered lf = Render(plain);
    ASSERT_EQ(lf.status, 0) << lf.out;
    ASSERT_EQ(Names(lf), (std::vector<std::string>{"faders_marked.txt", "marked.wav", "stats_marked.json",
                                                   "stats_marked.txt"}));

    const Rendered bom = Render({kBom + plain.prefs, kBom + plain.tracks, kBom + plain.faders});
    EXPECT_EQ(bom.status, 0) << bom.out;
    EXPECT_EQ(Names(bom), Names(lf));
    for (const auto& [name, bytes] : lf.files) {
        if (name.ends_with(".json")) continue;   // its dither seed follows the clock
        const auto it = bom.files.find(name);
        ASSERT_NE(it, bom.files.end()) << name;
        EXPECT_TRUE(it->second == bytes) << name;
    }
    EXPECT_EQ(bom.out, lf.out);
}
