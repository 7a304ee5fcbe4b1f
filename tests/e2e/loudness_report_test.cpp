// Complete runs: the loudness line on the console, the JSON report read back
// against stats_NAME.txt, names that are not plain text, the loudness, truepeak
// and seed preferences, and the JSON report among the checked output names.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/testutil.h"

using nlohmann::json;
using testutil::MakeWav;
using testutil::ReadBytes;
using testutil::RunIn;
using testutil::TempDir;
using testutil::WriteText;

namespace {

constexpr double kPi = 3.14159265358979323846;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Interleaved stereo 24-bit samples of a sine at dBFS (peak) for seconds.
std::vector<int32_t> Sine(double dBFS, double hz, uint32_t rate, double seconds, double phase = 0.0)
{
    const double amp = 8388608.0 * std::pow(10.0, dBFS / 20.0);
    const auto frames = static_cast<size_t>(seconds * rate);
    std::vector<int32_t> s;
    for (size_t i = 0; i < frames; ++i) {
        double v = std::round(amp * std::sin(2.0 * kPi * hz * static_cast<double>(i) / rate + phase));
        if (v > 8388607.0) v = 8388607.0;
        s.push_back(static_cast<int32_t>(v));
        s.push_back(static_cast<int32_t>(v));
    }
    return s;
}

// A one-channel session at unity (pan law 0 dB), so the mix is the track itself.
void OneTrack(const TempDir& dir, const std::vector<int32_t>& stereo, const std::string& prefs)
{
    WriteText(dir / "a.wav", MakeWav(2, 24, 48000, stereo));
    WriteText(dir / "tracks.txt", "1 a.wav +\n");
    WriteText(dir / "faders.txt", "begin\nmix\nt\t0\t0\t0\nv\t1\t0\nend\n");
    WriteText(dir / "prefs.txt", prefs);
}

json ReadJson(const std::string& path)
{
    const std::string text = ReadBytes(path);
    EXPECT_TRUE(json::accept(text)) << text;
    return json::parse(text, nullptr, false);
}

// The two levels of a "NAME\tL  x\tR  y" line of the text report that starts
// with prefix, and whether the line ends with an over marker.
bool TextLevels(const std::string& report, const std::string& prefix, double& left, double& right,
                bool* over = nullptr)
{
    const size_t at = report.find(prefix);
    if (at == std::string::npos) return false;
    const std::string line = report.substr(at, report.find('\n', at) - at);
    if (over != nullptr) *over = Has(line, "Over!");
    const size_t l = line.find("\tL  "), r = line.find("\tR  ");
    if (l == std::string::npos || r == std::string::npos) return false;
    left = std::strtod(line.c_str() + l + 4, nullptr);
    right = std::strtod(line.c_str() + r + 4, nullptr);
    return true;
}

}  // namespace

TEST(LoudnessRun, TheLineFollowsTheOutputPeaksAtVerbosityTwoOnly)
{
    TempDir dir;
    OneTrack(dir, Sine(-23.0, 1000.0, 48000, 5.0), "begin\ndither\t0\npan\t0\nend\n");
    const auto r = RunIn(dir.path(), CORVALE_BIN);
    ASSERT_EQ(r.status, 0) << r.out;
    // Directly after the output peaks; the meter's histogram resolves 0.1 LU.
    const size_t at = r.out.find(" sec\nLoudness: ");
    ASSERT_NE(at, std::string::npos) << r.out;
    double integrated = 0.0;
    char tail[64] = {};
    ASSERT_EQ(std::sscanf(r.out.c_str() + at, " sec\nLoudness: %lf LUFS integrated, %63[^\n]", &integrated, tail), 2);
    EXPECT_NEAR(integrated, -23.0, 0.1 + 0.05) << "0.1 LU, and the rounding to one decimal";
    EXPECT_EQ(std::string(tail), "0.0 LU range");
    EXPECT_EQ(r.out.find('\n', at + 5), r.out.size() - 2) << "the report's closing empty line follows";
    EXPECT_FALSE(Has(ReadBytes(dir / "stats_mix.txt"), "Loudness")) << "the line is the console's only";
    const json j = ReadJson(dir / "stats_mix.json");
    EXPECT_NEAR(j["loudness"]["integrated_lufs"].get<double>(), -23.0, 0.1);
    EXPECT_NEAR(j["loudness"]["max_short_term_lufs"].get<double>(), -23.0, 0.1);
    EXPECT_TRUE(j["loudness"]["true_peak_dbtp"].is_null());

    WriteText(dir / "prefs.txt", "begin\nverbo\t1\ndither\t0\npan\t0\nend\n");
    const auto quiet = RunIn(dir.path(), CORVALE_BIN);
    ASSERT_EQ(quiet.status, 0);
    EXPECT_TRUE(Has(quiet.out, "Peak Out R = ")) << quiet.out;
    EXPECT_FALSE(Has(quiet.out, "Loudness")) << quiet.out;
    EXPECT_FALSE(ReadJson(dir / "stats_mix.json")["loudness"].is_null()) << "measured at every verbosity";
}

TEST(LoudnessRun, SilenceShowsMinusInfinityAndNoRange)
{
    TempDir dir;
    OneTrack(dir, std::vector<int32_t>(2 * 48000 * 4, 0), "begin\ndither\t0\npan\t0\ntruepeak\ton\nend\n");
    const auto r = RunIn(dir.path(), CORVALE_BIN);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(Has(r.out, "\nLoudness: -inf LUFS integrated, 0.0 LU range, true peak -inf dBTP\n")) << r.out;
    const json j = ReadJson(dir / "stats_mix.json");
    EXPECT_TRUE(j["loudness"]["integrated_lufs"].is_null());
    EXPECT_EQ(j["loudness"]["range_lu"].get<double>(), 0.0);
    EXPECT_EQ(j["loudness"]["true_peak_above_minus_1_dbtp"], false);
}

TEST(LoudnessRun, TruePeakOnlyWithTruepeakOnAndFlaggedAboveMinusOne)
{
    TempDir dir;
    // A quarter of the rate at 45 degrees, crest at full scale: samples at -3 dB.
    OneTrack(dir, Sine(-0.001, 12000.0, 48000, 2.0, kPi / 4.0), "begin\ndither\t0\npan\t0\ntruepeak\ton\nend\n");
    const auto r = RunIn(dir.path(), CORVALE_BIN);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(Has(r.out, " dBTP (above -1.0 dBTP)\n\n")) << r.out;
    const json j = ReadJson(dir / "stats_mix.json");
    EXPECT_NEAR(j["loudness"]["sample_peak_dbfs"].get<double>(), -3.01, 0.02);
    EXPECT_NEAR(j["loudness"]["true_peak_dbtp"].get<double>(), 0.0, 0.2);
    EXPECT_EQ(j["loudness"]["true_peak_above_minus_1_dbtp"], true);

    OneTrack(dir, Sine(-6.0, 1000.0, 48000, 2.0), "begin\ndither\t0\npan\t0\ntruepeak\ton\nend\n");
    const auto lower = RunIn(dir.path(), CORVALE_BIN);
    EXPECT_TRUE(Has(lower.out, ", true peak -6.0 dBTP\n\n")) << lower.out;
    EXPECT_EQ(ReadJson(dir / "stats_mix.json")["loudness"]["true_peak_above_minus_1_dbtp"], false);

    OneTrack(dir, Sine(-6.0, 1000.0, 48000, 2.0), "begin\ndither\t0\npan\t0\ntruepeak\toff\nend\n");
    const auto off = RunIn(dir.path(), CORVALE_BIN);
    EXPECT_FALSE(Has(off.out, "true peak")) << off.out;
    EXPECT_TRUE(ReadJson(dir / "stats_mix.json")["loudness"]["true_peak_dbtp"].is_null());
}

TEST(LoudnessRun, LoudnessOffSwitchesTheMeterOff)
{
    TempDir dir;
    OneTrack(dir, Sine(-23.0, 1000.0, 48000, 1.0), "begin\ndither\t0\npan\t0\nloudness\toff\ntruepeak\ton\nend\n");
    const auto r = RunIn(dir.path(), CORVALE_BIN);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(Has(r.out, "Loudness")) << r.out;
    EXPECT_TRUE(Has(r.out, "Peak Out R = -23.00 dB")) << r.out;
    EXPECT_TRUE(ReadJson(dir / "stats_mix.json")["loudness"].is_null());
}

TEST(JsonReport, EveryFigureEqualsTheTextReportAsPrinted)
{
    TempDir dir;
    std::vector<int32_t> a = Sine(-9.0, 440.0, 48000, 3.0), b = Sine(-9.0, 97.0, 48000, 3.0);
    WriteText(dir / "a.wav", MakeWav(2, 24, 48000, a));
    WriteText(dir / "b.wav", MakeWav(2, 24, 48000, b));
    // Channel 2 names no file: no line in the text, "heard" false in the JSON.
    WriteText(dir / "tracks.txt", "1 a.wav +\n2 nothing.wav +\n3 b.wav +\n");
    WriteText(dir / "faders.txt",
              "begin\nmix\nsub\t2\t3\nt\t0\t0\t0\nv\t1\t-6\nv\t3\t-4\nv\tG\t2\t1\n"
              "rev\t1\t-10\nrtn\t-6\t60\nend\n");
    WriteText(dir / "prefs.txt", "begin\ndither\t2\noutbits\t16\nseed\t7\nend\n");
    const auto r = RunIn(dir.path(), CORVALE_BIN);
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string text = ReadBytes(dir / "stats_mix.txt");
    const json j = ReadJson(dir / "stats_mix.json");

    EXPECT_EQ(j["version"], PROJECT_VERSION_STRING);
    EXPECT_EQ(j["render"]["sample_rate"], 48000);
    EXPECT_EQ(j["render"]["bits"], 16);
    EXPECT_EQ(j["render"]["channels"], 2);
    EXPECT_EQ(j["render"]["frames"], 3 * 48000);
    EXPECT_EQ(j["render"]["seconds"], 3.0);
    EXPECT_EQ(j["render"]["dither"]["level"], 2);
    EXPECT_EQ(j["render"]["dither"]["seed"], 7);

    ASSERT_EQ(j["channels"].size(), 3u);
    for (int c = 1; c <= 3; ++c) {
        const json& ch = j["channels"][static_cast<size_t>(c - 1)];
        EXPECT_EQ(ch["number"], c);
        double l = 0, rr = 0;
        bool over = false;
        const bool line = TextLevels(text, "Ch " + std::to_string(c) + "\t", l, rr, &over);
        EXPECT_EQ(ch["heard"].get<bool>(), line) << c;
        if (!line) continue;
        EXPECT_EQ(ch["peak_db"]["left"].get<double>(), l) << c;
        EXPECT_EQ(ch["peak_db"]["right"].get<double>(), rr) << c;
        EXPECT_EQ(ch["over"].get<bool>(), over) << c;
    }
    EXPECT_EQ(j["channels"][0]["name"], "a");
    EXPECT_EQ(j["channels"][1]["file"], "nothing.wav");

    ASSERT_EQ(j["submixes"].size(), 1u);
    double l = 0, rr = 0;
    ASSERT_TRUE(TextLevels(text, "Sub 2\t", l, rr)) << text;
    EXPECT_EQ(j["submixes"][0]["number"], 2);
    EXPECT_EQ(j["submixes"][0]["peak_db"]["left"].get<double>(), l);
    EXPECT_EQ(j["submixes"][0]["peak_db"]["right"].get<double>(), rr);
    ASSERT_EQ(j["reverb_sends"].size(), 1u);
    ASSERT_TRUE(TextLevels(text, "Rev\t", l, rr)) << text;
    EXPECT_EQ(j["reverb_sends"][0]["reverb"], "recursive");
    EXPECT_EQ(j["reverb_sends"][0]["peak_db"]["left"].get<double>(), l);
    EXPECT_EQ(j["reverb_sends"][0]["peak_db"]["right"].get<double>(), rr);

    ASSERT_TRUE(TextLevels(text, "RMS\t", l, rr));
    EXPECT_EQ(j["rms_average"]["db"]["left"].get<double>(), l);
    EXPECT_EQ(j["rms_average"]["db"]["right"].get<double>(), rr);

    for (const char* side : {"L", "R"}) {
        const size_t at = text.find(std::string("Peak Out ") + side + " = ");
        ASSERT_NE(at, std::string::npos);
        double db = 0, minutes = 0, seconds = 0;
        ASSERT_EQ(std::sscanf(text.c_str() + at + 12, "%lf dB at %lf min : %lf sec", &db, &minutes, &seconds), 3);
        const json& out = j["output"][side[0] == 'L' ? "left" : "right"];
        EXPECT_EQ(out["db"].get<double>(), db) << side;
        EXPECT_EQ(out["minutes"].get<double>(), minutes) << side;
        EXPECT_EQ(out["seconds"].get<double>(), seconds) << side;
        EXPECT_NEAR(out["frame"].get<double>() / 48000.0, minutes * 60 + seconds, 0.001) << side;
    }
    // The meter sees the 16-bit words written, whose peak the text report gives too.
    EXPECT_NEAR(j["loudness"]["sample_peak_dbfs"].get<double>(),
                std::max(j["output"]["left"]["db"].get<double>(), j["output"]["right"]["db"].get<double>()), 0.01);
}

TEST(JsonReport, NamesThatAreNotPlainTextSurvive)
{
    TempDir dir;
    const std::string odd = "q\"b\\s\x01\xff";   // quote, backslash, a control byte, a byte that is not UTF-8
    WriteText(dir / (odd + ".wav"), MakeWav(2, 24, 48000, Sine(-20.0, 1000.0, 48000, 1.0)));
    WriteText(dir / "tracks.txt", "1 " + odd + ".wav +\n");
    WriteText(dir / "faders.txt", "begin\nmix\nt\t0\t0\t0\nv\t1\t0\nend\n");
    WriteText(dir / "prefs.txt", "begin\ndither\t0\nend\n");
    const auto r = RunIn(dir.path(), CORVALE_BIN);
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string raw = ReadBytes(dir / "stats_mix.json");
    EXPECT_TRUE(Has(raw, "q\\\"b\\\\s\\u0001\xEF\xBF\xBD")) << raw;
    const json j = ReadJson(dir / "stats_mix.json");
    EXPECT_EQ(j["channels"][0]["name"], "q\"b\\s\x01\xEF\xBF\xBD");
    EXPECT_EQ(j["channels"][0]["file"], "q\"b\\s\x01\xEF\xBF\xBD.wav");
    EXPECT_TRUE(j["channels"][0]["heard"].get<bool>());
}

TEST(Seed, TheSameSeedWritesTheSameFilesAtEveryDitherLevel)
{
    TempDir dir;
    OneTrack(dir, Sine(-30.0, 250.0, 48000, 1.0), "");
    for (const char* format : {"", "outbits\t16\n", "mono\t-3\n"}) {
        for (int dither : {1, 2, 5, 8}) {
            auto render = [&](const char* seed) {
                WriteText(dir / "prefs.txt", std::string("begin\nverbo\t0\ndither\t") + std::to_string(dither) +
                                                 "\n" + format + seed + "end\n");
                EXPECT_EQ(RunIn(dir.path(), CORVALE_BIN).status, 0);
                return ReadBytes(dir / "mix.wav");
            };
            const std::string first = render("seed\t4294967295\n");
            EXPECT_EQ(render("seed\t4294967295\n"), first) << format << dither;
            EXPECT_NE(render("seed\t12345\n"), first) << format << dither << ": the seed must reach the dither";
            const json j = ReadJson(dir / "stats_mix.json");
            EXPECT_EQ(j["render"]["dither"]["seed"], 12345);
            EXPECT_EQ(j["render"]["dither"]["seed_from"], "seed");
        }
    }
}

TEST(Seed, WithoutAValidSeedTheClockSeedsAndTheJsonSaysWhich)
{
    TempDir dir;
    OneTrack(dir, Sine(-30.0, 250.0, 48000, 0.5), "");
    for (const char* bad : {"4294967296", "-1", "12x", "+5", "99999999999"}) {
        WriteText(dir / "prefs.txt", std::string("begin\nverbo\t0\nseed\t") + bad + "\nend\n");
        const auto r = RunIn(dir.path(), CORVALE_BIN);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out,
                  "Preview mode not specified.\n"
                  ">> Warning: seed in the preferences file must be a whole number from 0 to 4294967295; "
                  "the dither is seeded from the clock.\n\n")
            << bad;
        const json j = ReadJson(dir / "stats_mix.json");
        EXPECT_EQ(j["render"]["dither"]["seed_from"], "clock") << bad;
        EXPECT_LT(j["render"]["dither"]["seed"].get<long>(), 3600) << bad;
    }
    WriteText(dir / "prefs.txt", "begin\nverbo\t0\nend\n");
    const auto r = RunIn(dir.path(), CORVALE_BIN);
    EXPECT_EQ(r.out, "Preview mode not specified.\n\n");
    EXPECT_EQ(ReadJson(dir / "stats_mix.json")["render"]["dither"]["seed_from"], "clock");
}

TEST(JsonReport, IsCheckedAgainstTheInputsLikeEveryOutput)
{
    TempDir dir;
    OneTrack(dir, Sine(-30.0, 250.0, 48000, 0.5), "begin\ndither\t0\nend\n");
    // The track list is named like the JSON report of the mix.
    WriteText(dir / "stats_mix.json", "1 a.wav +\n");
    const auto r = RunIn(dir.path(), std::string(CORVALE_BIN) + " stats_mix.json faders.txt prefs.txt");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Has(r.out, "Error: the JSON report stats_mix.json is also the track list (stats_mix.json); "
                           "nothing was written.\n"))
        << r.out;
    EXPECT_EQ(ReadBytes(dir / "stats_mix.json"), "1 a.wav +\n");
    EXPECT_FALSE(testutil::Exists(dir / "mix.wav"));
}
