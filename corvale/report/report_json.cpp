#include "corvale/report/report_json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "corvale/report/report.h"
#include "corvale/run/numeric.h"
#include "corvale/run/run.h"

using json = nlohmann::ordered_json;

namespace {

// A value as the text report prints it with format, read back: the JSON holds
// the very number a reader of stats_NAME.txt sees.
double Printed(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return std::strtod(text, nullptr);
}

// A level of the text report (two decimals).
double Db2(double value) { return Printed("%.2f", value); }

// A loudness figure: two decimals, or null for -inf (nothing above the gate,
// a window longer than the render, silence).
json Loudness(double value)
{
    if (!std::isfinite(value)) return nullptr;
    return Printed("%.2f", value);
}

// Left and right peaks of a slot with its over marker, as the text report has them.
json SlotPeaks(const MixStats& stats, int slot)
{
    const double l = RawTodB(stats.peakL[static_cast<size_t>(slot)], kBusReference);
    const double r = RawTodB(stats.peakR[static_cast<size_t>(slot)], kBusReference);
    return {{"peak_db", {{"left", Db2(l)}, {"right", Db2(r)}}}, {"over", l > 0.0 || r > 0.0}};
}

json OutputPeak(double peak, int64_t frame, double reference, double rate)
{
    const double db = RawTodB(peak, reference);
    float minutes = 0.0f, seconds = 0.0f;
    PeakTime(frame, rate, minutes, seconds);
    return {{"db", Db2(db)},
            {"frame", frame},
            {"minutes", Trunc64(Printed("%.0f", static_cast<double>(minutes)))},
            {"seconds", Printed("%.3f", static_cast<double>(seconds))},
            {"over", db > 0.0}};
}

json LoudnessFiguresJson(const LoudnessFigures& f)
{
    if (!f.measured) return nullptr;
    json j = {{"integrated_lufs", Loudness(f.integrated)},
              {"range_lu", Printed("%.2f", f.range)},
              {"max_momentary_lufs", Loudness(f.maxMomentary)},
              {"max_short_term_lufs", Loudness(f.maxShortTerm)},
              {"sample_peak_dbfs", Loudness(f.samplePeak)},
              {"true_peak_dbtp", nullptr},
              {"true_peak_above_minus_1_dbtp", nullptr}};
    if (f.truePeakMeasured) {
        j["true_peak_dbtp"] = Loudness(f.truePeak);
        j["true_peak_above_minus_1_dbtp"] = TruePeakAboveLimit(f);
    }
    return j;
}

}  // namespace

std::string BuildJsonReport(const Run& run)
{
    const MixStats& stats = run.stats;
    const Tracks& tracks = run.tracks;
    const Prefs& prefs = run.prefs;
    const EffectSettings& fx = run.fx;
    const double rate = tracks.sampleRate;

    json channels = json::array();
    for (int c = 1; c <= tracks.channels(); ++c) {
        json ch = {{"number", c},
                   {"name", tracks.names[static_cast<size_t>(c - 1)]},
                   {"file", tracks.paths[static_cast<size_t>(c)]},
                   {"heard", tracks.headerOk[static_cast<size_t>(c)] != 0 &&
                                 tracks.notHeard[static_cast<size_t>(c)].empty()}};
        if (!tracks.notHeard[static_cast<size_t>(c)].empty())
            ch["not_heard_because"] = tracks.notHeard[static_cast<size_t>(c)];
        ch.update(SlotPeaks(stats, c));
        ch["clipping_after_effects"] = stats.over[static_cast<size_t>(c)] != 0;
        channels.push_back(std::move(ch));
    }

    json submixes = json::array();
    for (int s = 1; s < kSubmixes; ++s) {
        if (!run.routing.subOn[static_cast<size_t>(s)]) continue;
        json sub = {{"number", s}};
        sub.update(SlotPeaks(stats, SubmixSlot(s)));
        sub["clipping_after_effects"] = stats.over[static_cast<size_t>(SubmixSlot(s))] != 0;
        submixes.push_back(std::move(sub));
    }

    json sends = json::array();
    if (fx.recursiveOn || fx.masterRev) {
        json send = {{"reverb", "recursive"}};
        send.update(SlotPeaks(stats, 137));
        sends.push_back(std::move(send));
    }
    if (fx.discreteOn || fx.masterTrev) {
        json send = {{"reverb", "discrete"}};
        send.update(SlotPeaks(stats, 138));
        sends.push_back(std::move(send));
    }

    double rmsL = 0.0, rmsR = 0.0;
    AverageRms(stats, rmsL, rmsR);
    const double outRef = OutputReference(prefs.outbits);

    json report = {
        {"program", "corvale"},
        {"version", PROJECT_VERSION_STRING},
        {"name", prefs.mixName},
        {"mix_file", prefs.outName},
        {"render",
         {{"sample_rate", Trunc64(rate)},
          {"bits", prefs.outbits},
          {"channels", prefs.mono ? 1 : 2},
          {"preview", prefs.preview},
          {"first_frame", prefs.renderStart},
          {"frames", prefs.renderCount},
          {"seconds", rate > 0.0 ? static_cast<double>(prefs.renderCount) / rate : 0.0},
          {"dither", {{"level", prefs.dither}, {"seed", run.ditherSeed}, {"seed_from", prefs.seedSet ? "seed" : "clock"}}}}},
        {"channels", std::move(channels)},
        {"submixes", std::move(submixes)},
        {"reverb_sends", std::move(sends)},
        {"rms_average", {{"db", {{"left", Db2(rmsL)}, {"right", Db2(rmsR)}}}, {"over", rmsL > 0.0 || rmsR > 0.0}}},
        {"output",
         {{"left", OutputPeak(stats.out.left, stats.out.leftFrame, outRef, rate)},
          {"right", OutputPeak(stats.out.right, stats.out.rightFrame, outRef, rate)},
          {"master_clipping_after_effects", stats.over[0] != 0}}},
        {"loudness", LoudnessFiguresJson(stats.loudness)},
    };
    // Only a run with stems has the key: without it the report stays as it was.
    if (prefs.stems) {
        json stems = json::array();
        for (const StemOutput& stem : run.outputs.stems) {
            const OutputPeaks& p = stem.peaks;
            stems.push_back({{"bus", StemSuffix(stem.bus)},
                             {"file", stem.name},
                             {"output",
                              {{"left", OutputPeak(p.left, p.leftFrame, outRef, rate)},
                               {"right", OutputPeak(p.right, p.rightFrame, outRef, rate)}}}});
        }
        report["stems"] = std::move(stems);
    }
    // Names are bytes from the user's files: what is not UTF-8 becomes U+FFFD.
    return report.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}
