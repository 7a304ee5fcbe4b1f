// Stems rendered in the same pass as the mix: which buses get a file, that the
// stems add up to the mix, that the mix's bytes do not change with stems on,
// the render windows, the JSON report, and the safety path the stems share
// with the mix (name collisions, failed mixes).
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/child_process.h"
#include "tests/testutil.h"

using nlohmann::json;
using testutil::Exists;
using testutil::MakeWav;
using testutil::ReadBytes;
using testutil::RunIn;
using testutil::SampleAt;
using testutil::TempDir;
using testutil::WriteText;

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRate = 48000;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Interleaved stereo 24-bit noise-like samples, about -18 dBFS, different per seed.
std::vector<int32_t> Signal(size_t frames, uint32_t seed)
{
    std::vector<int32_t> s(2 * frames);
    uint32_t x = seed * 2654435761u + 12345u;
    for (auto& v : s) {
        x = x * 1664525u + 1013904223u;
        v = static_cast<int32_t>(x >> 8) / 8 - (1 << 20);
    }
    return s;
}

// A decoded WAV file: its format and its samples, interleaved.
struct Wav {
    int channels = 0, bits = 0;
    std::vector<int64_t> samples;
    size_t frames() const { return channels > 0 ? samples.size() / static_cast<size_t>(channels) : 0; }
};

Wav ReadWav(const std::string& path)
{
    const std::string b = ReadBytes(path);
    Wav w;
    if (b.size() < 44) return w;
    w.channels = static_cast<int>(SampleAt(b, 22, 2));
    w.bits = static_cast<int>(SampleAt(b, 34, 2));
    const int width = w.bits / 8;
    for (size_t at = 44; width > 0 && at + static_cast<size_t>(width) <= b.size(); at += static_cast<size_t>(width))
        w.samples.push_back(SampleAt(b, at, width));
    return w;
}

// Six 3-second stereo 24-bit tracks (two mix blocks at 48 kHz): 1 and 2 into
// submix 1, 3 into submix 2, 4 into submix 3, 5 and 6 straight to the master.
struct Session {
    TempDir dir;
    explicit Session(const std::string& prefs, const std::string& cueBody,
                     const std::string& extraTracks = "")
    {
        std::string tracks;
        for (int t = 1; t <= 6; ++t) {
            const std::string name = "t" + std::to_string(t) + ".wav";
            WriteText(dir / name, MakeWav(2, 24, kRate, Signal(3 * kRate, static_cast<uint32_t>(t))));
            tracks += std::to_string(t) + " " + name + " +\n";
        }
        WriteText(dir / "tracks.txt", tracks + extraTracks + "end\n");
        WriteText(dir / "prefs.txt", "begin\n" + prefs + "end\n");
        WriteText(dir / "faders.txt", "begin\nmix\nsub\t1\t1,2\nsub\t2\t3\nsub\t3\t4\nt\t0\t0\t0\n"
                                      "v\t1\t0\nv\t2\t0\nv\t3\t0\nv\t4\t0\nv\t5\t0\nv\t6\t0\n" +
                                          cueBody + "end\n");
    }
    std::string operator/(const std::string& name) const { return dir / name; }
    testutil::RunResult Run() { return RunIn(dir.path(), CORVALE_BIN); }
};

// Plain preferences: neutral, 24-bit, no dither.
const std::string kPlain = "verbo\t2\ndither\t0\npan\t0\n";
const std::string kStemsOn = kPlain + "stems\ton\n";

// Files in dir whose names start with prefix.
std::vector<std::string> FilesStartingWith(const std::string& dir, const std::string& prefix)
{
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name.rfind(prefix, 0) == 0) found.push_back(name);
    }
    return found;
}

// The largest difference, over every sample, between the mix and the sum of the stems.
int64_t SumError(const Wav& mix, const std::vector<Wav>& stems)
{
    int64_t worst = 0;
    for (size_t i = 0; i < mix.samples.size(); ++i) {
        int64_t sum = 0;
        for (const Wav& s : stems) sum += s.samples[i];
        worst = std::max<int64_t>(worst, std::llabs(sum - mix.samples[i]));
    }
    return worst;
}

std::vector<Wav> ReadStems(const Session& s, const std::vector<std::string>& names)
{
    std::vector<Wav> stems;
    for (const std::string& n : names) stems.push_back(ReadWav(s / n));
    return stems;
}

}  // namespace

// Unity faders on 24-bit stereo tracks: every bus holds whole output words, so
// the stems add up to the mix exactly; only buses that reach the master get a
// file, the console names each one after "Done!", the JSON lists their peaks.
TEST(Stems, AddUpToTheMixExactlyAtUnity)
{
    Session s(kStemsOn, "");
    const auto r = s.Run();
    ASSERT_EQ(r.status, 0) << r.out;
    const std::vector<std::string> names = {"mix_direct.wav", "mix_sub1.wav", "mix_sub2.wav", "mix_sub3.wav"};
    std::vector<std::string> written = FilesStartingWith(s.dir.path(), "mix_");
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, names);   // no sub4..sub8, no reverb

    const Wav mix = ReadWav(s / "mix.wav");
    ASSERT_EQ(mix.frames(), 3u * kRate);
    const std::vector<Wav> stems = ReadStems(s, names);
    for (const Wav& w : stems) {
        ASSERT_EQ(w.channels, 2);
        ASSERT_EQ(w.bits, 24);
        ASSERT_EQ(w.samples.size(), mix.samples.size());
    }
    EXPECT_EQ(SumError(mix, stems), 0);
    // Each stem carries its own bus: submix 2 is track 3 alone.
    const Wav t3 = ReadWav(s / "t3.wav");
    EXPECT_EQ(stems[2].samples, t3.samples);

    const size_t done = r.out.find("Done!  Created the file: mix.wav");
    ASSERT_NE(done, std::string::npos) << r.out;
    for (const std::string& n : names) EXPECT_GT(r.out.find("Stem: " + n + "\n"), done) << r.out;

    const json j = json::parse(ReadBytes(s / "stats_mix.json"));
    ASSERT_EQ(j["stems"].size(), 4u);
    for (size_t k = 0; k < names.size(); ++k) {
        const json& st = j["stems"][k];
        EXPECT_EQ(st["file"], names[k]);
        // The frame of the left peak holds the largest left word of the stem.
        int64_t most = 0;
        for (size_t i = 0; i < stems[k].frames(); ++i) most = std::max<int64_t>(most, std::llabs(stems[k].samples[2 * i]));
        const auto frame = st["output"]["left"]["frame"].get<size_t>();
        EXPECT_EQ(std::llabs(stems[k].samples[2 * frame]), most) << names[k];
    }
    EXPECT_EQ(j["stems"][0]["bus"], "direct");
    EXPECT_EQ(j["stems"][3]["bus"], "sub3");
    // The text report stays as it was.
    EXPECT_FALSE(Has(ReadBytes(s / "stats_mix.txt"), "mix_sub1"));
}

// Fader moves on channels and submixes and both reverbs fed by sends: each stem
// truncates its own words, so the sum is within one step per stem.
TEST(Stems, WithinOneStepPerStemWithFadersAndReverbs)
{
    const std::string moves =
        "v\tG\t1\t-3\nv\tG\t2\t0\n"
        "rev\t1\t-10\nrev\tG\t2\t-6\ntrev\t5\t-8\ntrev\tG\t3\t-12\n"
        "rtn\t-4\t60\ntrtn\t-6\t40\t5\n"
        "t\t0\t1\t0\nv\t1\t-7.3\nrmp\t0.8\nv\tG\t2\t-4.1\nrmp\t1.2\nv\t5\t-2.5\n";
    Session s(kStemsOn, moves);
    const auto r = s.Run();
    ASSERT_EQ(r.status, 0) << r.out;
    const std::vector<std::string> names = {"mix_direct.wav", "mix_sub1.wav", "mix_sub2.wav", "mix_sub3.wav",
                                            "mix_reverb.wav"};
    const Wav mix = ReadWav(s / "mix.wav");
    const std::vector<Wav> stems = ReadStems(s, names);
    for (const Wav& w : stems) ASSERT_EQ(w.samples.size(), mix.samples.size());
    const int64_t err = SumError(mix, stems);
    EXPECT_LE(err, static_cast<int64_t>(names.size()));
    // The reverb stem carries the return (it is not silence).
    int64_t reverbPeak = 0;
    for (int64_t v : stems[4].samples) reverbPeak = std::max<int64_t>(reverbPeak, std::llabs(v));
    EXPECT_GT(reverbPeak, 1000);
    // Without the reverb stem the sum misses the return by far more than a step.
    EXPECT_GT(SumError(mix, {stems[0], stems[1], stems[2], stems[3]}), 100);
}

// A preview and an export window: stems as long as the mix, from the same frames.
TEST(Stems, FollowThePreviewAndExportWindows)
{
    struct Case {
        const char* prefs;
        const char* mixName;
        size_t frames;
    };
    const std::vector<Case> cases = {
        {"pre\ton\nsfields\t1\nstart\t0.5\nlength\t1.25\n", "preview", 60000},
        {"xfields\t1\nxin\t0.75\nxout\t2.5\n", "mix", 84000},
    };
    for (const Case& c : cases) {
        Session s(kStemsOn + c.prefs, "");
        const auto r = s.Run();
        ASSERT_EQ(r.status, 0) << r.out;
        const std::string base = c.mixName;
        const Wav mix = ReadWav(s / (base + ".wav"));
        EXPECT_EQ(mix.frames(), c.frames) << base;
        std::vector<Wav> stems;
        for (const char* bus : {"direct", "sub1", "sub2", "sub3"}) {
            const std::string name = base + "_" + bus + ".wav";
            ASSERT_TRUE(Exists(s / name)) << name << "\n" << r.out;
            stems.push_back(ReadWav(s / name));
            ASSERT_EQ(stems.back().frames(), mix.frames()) << name;
        }
        EXPECT_EQ(SumError(mix, stems), 0) << base;
    }
}

// A muted submix and the submixes a solo silences carry nothing into the
// master, and get no file.
TEST(Stems, NoFileForMutedOrSoloedOutSubmixes)
{
    {
        Session s(kStemsOn, "submu\t2\n");
        const auto r = s.Run();
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_FALSE(Exists(s / "mix_sub2.wav"));
        EXPECT_FALSE(Has(r.out, "mix_sub2.wav"));
        const std::vector<std::string> names = {"mix_direct.wav", "mix_sub1.wav", "mix_sub3.wav"};
        EXPECT_EQ(SumError(ReadWav(s / "mix.wav"), ReadStems(s, names)), 0);
    }
    {
        Session s(kStemsOn, "subso\t3\n");
        const auto r = s.Run();
        ASSERT_EQ(r.status, 0) << r.out;
        const std::vector<std::string> written = FilesStartingWith(s.dir.path(), "mix_");
        EXPECT_EQ(written, std::vector<std::string>{"mix_sub3.wav"});
        EXPECT_EQ(ReadBytes(s / "mix.wav").substr(44), ReadBytes(s / "mix_sub3.wav").substr(44));
    }
}

// Without "stems on" nothing changes; with it the mix keeps its bytes, with and
// without dither. Mono mixes get mono stems in the mix's word length.
TEST(Stems, LeaveTheMixAsItWas)
{
    const std::string cue = "rev\t1\t-10\nrtn\t-4\t60\nt\t0\t1\t0\nv\tG\t1\t-5\n";
    const std::vector<std::string> formats = {
        "dither\t0\n",
        "dither\t1\nseed\t4711\n",
        "dither\t3\nseed\t99\noutbits\t16\nmono\t-3\n",
    };
    for (const std::string& format : formats) {
        Session off(kPlain + format + "stems\toff\n", cue);
        Session on(kPlain + format + "stems\ton\n", cue);
        Session absent(kPlain + format, cue);
        ASSERT_EQ(off.Run().status, 0);
        ASSERT_EQ(absent.Run().status, 0);
        const auto r = on.Run();
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_TRUE(FilesStartingWith(off.dir.path(), "mix_").empty()) << format;
        EXPECT_TRUE(FilesStartingWith(absent.dir.path(), "mix_").empty()) << format;
        const std::string mix = ReadBytes(absent / "mix.wav");
        EXPECT_EQ(ReadBytes(off / "mix.wav"), mix) << format;
        EXPECT_EQ(ReadBytes(on / "mix.wav"), mix) << format;
        // The reports agree but for a seed taken from the clock.
        json offJson = json::parse(ReadBytes(off / "stats_mix.json"));
        json absentJson = json::parse(ReadBytes(absent / "stats_mix.json"));
        for (json* j : {&offJson, &absentJson})
            if ((*j)["render"]["dither"]["seed_from"] == "clock") (*j)["render"]["dither"].erase("seed");
        EXPECT_EQ(offJson, absentJson) << format;
        EXPECT_FALSE(Has(ReadBytes(off / "stats_mix.json"), "stems")) << format;

        const Wav m = ReadWav(on / "mix.wav");
        for (const char* bus : {"direct", "sub1", "sub2", "sub3", "reverb"}) {
            const Wav stem = ReadWav(on / (std::string("mix_") + bus + ".wav"));
            EXPECT_EQ(stem.channels, m.channels) << format << bus;
            EXPECT_EQ(stem.bits, m.bits) << format << bus;
            EXPECT_EQ(stem.samples.size(), m.samples.size()) << format << bus;
        }
    }
}

// A stem's name that is also an input stops the run before anything is
// written; a mix that fails takes its stems with it.
TEST(Stems, ShareTheMixSafetyPath)
{
    {
        Session s(kStemsOn, "", "7 mix_sub2.wav +\n");
        WriteText(s / "mix_sub2.wav", MakeWav(2, 24, kRate, Signal(1000, 9)));
        const std::string before = ReadBytes(s / "mix_sub2.wav");
        const auto r = s.Run();
        EXPECT_EQ(r.status, 2) << r.out;
        EXPECT_TRUE(Has(r.out, "the stem file mix_sub2.wav is also the track of channel 7")) << r.out;
        EXPECT_EQ(ReadBytes(s / "mix_sub2.wav"), before);
        EXPECT_FALSE(Exists(s / "mix.wav"));
        EXPECT_FALSE(Exists(s / "mix_sub1.wav"));
        EXPECT_FALSE(Exists(s / "stats_mix.txt"));
    }
    {
        // The reverb refuses its room size once the mix has started.
        Session s(kStemsOn, "rev\t1\t-10\nrtn\t-6\t-5\n");
        WriteText(s / "mix_sub1.wav", "yesterday's stem");
        const auto r = s.Run();
        EXPECT_NE(r.status, 0) << r.out;
        EXPECT_FALSE(Has(r.out, "Done!")) << r.out;
        EXPECT_EQ(ReadBytes(s / "mix_sub1.wav"), "yesterday's stem");
        EXPECT_FALSE(Exists(s / "mix.wav"));
        EXPECT_FALSE(Exists(s / "mix_direct.wav"));
        EXPECT_FALSE(Exists(s / "mix_reverb.wav"));
        for (const auto& e : fs::directory_iterator(s.dir.path()))
            EXPECT_FALSE(Has(e.path().filename().string(), ".tmp-")) << e.path();
    }
}

// A signal during the mix removes the stems' temporaries with the mix's.
TEST(Stems, GoWithTheMixOnASignal)
{
    TempDir dir;
    WriteText(dir / "a.wav", MakeWav(2, 24, kRate, Signal(20 * kRate, 1)));
    std::string tracks, cue = "begin\nmix\nsub\t1\t1,2,3,4,5,6\nt\t0\t0\t0\n";
    for (int c = 1; c <= 16; ++c) {
        const std::string ch = std::to_string(c);
        tracks += ch + " a.wav +\n";
        cue += "v\t" + ch + "\t-30\nhp\t" + ch + "\t40\nband1\t" + ch + "\t1000\t3\t1\nrms\t" + ch +
               "\t-20\t10\t100\t4\ncomp\t" + ch + "\t-12\t5\t120\t3\n";
    }
    WriteText(dir / "tracks.txt", tracks + "end\n");
    WriteText(dir / "faders.txt", cue + "end\n");
    WriteText(dir / "prefs.txt", "begin\n" + kStemsOn + "end\n");
    WriteText(dir / "mix_sub1.wav", "yesterday's stem");
    testutil::Child c(dir.path(), {CORVALE_BIN});
    ASSERT_TRUE(c.WaitFor("1/4 done\n")) << c.out();
    c.Signal(SIGTERM);
    EXPECT_EQ(c.Wait(), 128 + SIGTERM) << c.out();
    EXPECT_EQ(ReadBytes(dir / "mix_sub1.wav"), "yesterday's stem");
    EXPECT_FALSE(Exists(dir / "mix_direct.wav"));
    EXPECT_FALSE(Exists(dir / "mix.wav"));
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_FALSE(Has(e.path().filename().string(), ".tmp-")) << e.path();
}
