// The JSON report of a run state filled by hand, and the console's loudness line.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "corvale/report/report.h"
#include "corvale/report/report_json.h"
#include "corvale/run/run.h"

using nlohmann::json;

namespace {

std::unique_ptr<Run> TwoChannelRun()
{
    auto run = std::make_unique<Run>();
    run->tracks.count = 2;
    run->tracks.sampleRate = 44100.0;
    run->tracks.headerOk[1] = 1;
    run->tracks.names[0] = "tab\there \"q\" back\\slash \x7f\xc3\x28 end";   // \xc3\x28 is not UTF-8
    run->tracks.paths[1] = "dir/odd.wav";
    run->tracks.names[1] = "gone";
    run->tracks.paths[2] = "gone.wav";
    run->prefs.outbits = 24;
    run->prefs.mixName = "song";
    run->prefs.outName = "song.wav";
    run->prefs.renderStart = 441;
    run->prefs.renderCount = 88200;
    run->prefs.dither = 3;
    run->ditherSeed = 99;
    MixStats& st = run->stats;
    st.peakL[1] = 2147483648.0;        // full scale: prints -0.00, not over
    st.peakR[1] = 2147483648.0 * 1.5;  // 3.52 dB: over
    st.over[1] = 1;
    st.out.left = 4194304.0;           // -6.02 dB at frame 2646000: 1 min 0.000 sec
    st.out.leftFrame = 2646000;
    return run;
}

}  // namespace

TEST(JsonReportUnit, HoldsTheFiguresAsPrintedAndEscapesNames)
{
    auto run = TwoChannelRun();
    const std::string text = BuildJsonReport(*run);
    ASSERT_TRUE(json::accept(text)) << text;
    EXPECT_EQ(text.back(), '\n');
    const json j = json::parse(text);
    EXPECT_EQ(j["name"], "song");
    EXPECT_EQ(j["render"]["first_frame"], 441);
    EXPECT_EQ(j["render"]["seconds"], 2.0);
    EXPECT_EQ(j["render"]["dither"]["level"], 3);
    EXPECT_EQ(j["render"]["dither"]["seed"], 99);
    EXPECT_EQ(j["render"]["dither"]["seed_from"], "clock");

    ASSERT_EQ(j["channels"].size(), 2u);
    const json& a = j["channels"][0];
    EXPECT_EQ(a["name"], "tab\there \"q\" back\\slash \x7f\xEF\xBF\xBD( end");
    EXPECT_EQ(a["file"], "dir/odd.wav");
    EXPECT_EQ(a["heard"], true);
    EXPECT_EQ(a["peak_db"]["left"].get<double>(), 0.0);
    EXPECT_EQ(a["peak_db"]["right"].get<double>(), 3.52);
    EXPECT_EQ(a["over"], true);
    EXPECT_EQ(a["clipping_after_effects"], true);
    const json& b = j["channels"][1];
    EXPECT_EQ(b["heard"], false);
    EXPECT_EQ(b["peak_db"]["left"].get<double>(), -144.0);
    EXPECT_EQ(b["over"], false);

    EXPECT_TRUE(j["submixes"].empty());
    EXPECT_TRUE(j["reverb_sends"].empty());
    EXPECT_EQ(j["rms_average"]["db"]["left"].get<double>(), -144.0);
    EXPECT_EQ(j["output"]["left"]["db"].get<double>(), -6.02);
    EXPECT_EQ(j["output"]["left"]["frame"], 2646000);
    EXPECT_EQ(j["output"]["left"]["minutes"], 1);
    EXPECT_EQ(j["output"]["left"]["seconds"].get<double>(), 0.0);
    EXPECT_EQ(j["output"]["right"]["db"].get<double>(), -144.0);
    EXPECT_EQ(j["output"]["master_clipping_after_effects"], false);
    EXPECT_TRUE(j["loudness"].is_null()) << "no meter ran";
}

TEST(JsonReportUnit, LoudnessFiguresWithoutAValueAreNull)
{
    auto run = TwoChannelRun();
    LoudnessFigures& f = run->stats.loudness;
    f.measured = true;
    f.range = 7.436;
    f.maxMomentary = -12.344;
    f.samplePeak = -0.5;
    const json quiet = json::parse(BuildJsonReport(*run))["loudness"];
    EXPECT_TRUE(quiet["integrated_lufs"].is_null());
    EXPECT_TRUE(quiet["max_short_term_lufs"].is_null());
    EXPECT_EQ(quiet["range_lu"].get<double>(), 7.44);
    EXPECT_EQ(quiet["max_momentary_lufs"].get<double>(), -12.34);
    EXPECT_EQ(quiet["sample_peak_dbfs"].get<double>(), -0.5);
    EXPECT_TRUE(quiet["true_peak_dbtp"].is_null());
    EXPECT_TRUE(quiet["true_peak_above_minus_1_dbtp"].is_null());

    f.truePeakMeasured = true;
    f.truePeak = -0.84;
    const json loud = json::parse(BuildJsonReport(*run))["loudness"];
    EXPECT_EQ(loud["true_peak_dbtp"].get<double>(), -0.84);
    EXPECT_EQ(loud["true_peak_above_minus_1_dbtp"], true);
}

TEST(LoudnessLine, ShowsOneDecimalAndTheTruePeakOnlyWhenMeasured)
{
    LoudnessFigures f;
    EXPECT_EQ(LoudnessLine(f), "");
    f.measured = true;
    EXPECT_EQ(LoudnessLine(f), "Loudness: -inf LUFS integrated, 0.0 LU range\n");
    f.integrated = -16.24;
    f.range = 7.36;
    EXPECT_EQ(LoudnessLine(f), "Loudness: -16.2 LUFS integrated, 7.4 LU range\n");
    f.truePeakMeasured = true;
    f.truePeak = -0.84;
    EXPECT_EQ(LoudnessLine(f), "Loudness: -16.2 LUFS integrated, 7.4 LU range, true peak -0.8 dBTP (above -1.0 dBTP)\n");
    // Shown as -1.0, so not above it; just below -1.0 neither.
    f.truePeak = -0.96;
    EXPECT_EQ(LoudnessLine(f), "Loudness: -16.2 LUFS integrated, 7.4 LU range, true peak -1.0 dBTP\n");
    f.truePeak = -1.3;
    EXPECT_EQ(LoudnessLine(f), "Loudness: -16.2 LUFS integrated, 7.4 LU range, true peak -1.3 dBTP\n");
    f.truePeak = 0.4;
    EXPECT_EQ(LoudnessLine(f), "Loudness: -16.2 LUFS integrated, 7.4 LU range, true peak 0.4 dBTP (above -1.0 dBTP)\n");
}

TEST(LoudnessLine, TheConsoleShowsItInsideTheReportButTheFileDoesNot)
{
    auto run = TwoChannelRun();
    size_t at = 0;
    const std::string report = BuildReport(*run, &at);
    EXPECT_EQ(report.substr(at), "Channel 1 is clipping after effects processing!\n\n");
    EXPECT_EQ(report.rfind("Peak Out R = ", at), report.rfind('\n', at - 2) + 1);
}
