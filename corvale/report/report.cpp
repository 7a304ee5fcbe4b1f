// The statistics report of a finished mix (peaks of channels, reverb sends and
// submixes, the average RMS, the output peaks with their times, the clipping
// strips, the processing time) and the backup copy of the cue sheet.
#include "corvale/report/report.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "corvale/report/report_json.h"
#include "corvale/run/console.h"
#include "corvale/run/output_file.h"
#include "corvale/run/run.h"

namespace {

void Append(std::string& out, const char* format, ...)
{
    char line[1024];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n > 0) out.append(line, static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1);
}

// Cuts a name at its first dot that follows a character other than a dot.
std::string CutName(const std::string& name)
{
    for (size_t i = 1; i < name.size(); ++i)
        if (name[i] == '.' && name[i - 1] != '.') return name.substr(0, i);
    return name;
}

}  // namespace

double RawTodB(double value, double reference)
{
    if (!(value > 0.0)) return -144.0;
    return -20.0 * std::log10(reference / value);
}

void PeakTime(int64_t frame, double rate, float& minutes, float& seconds)
{
    const float m = static_cast<float>(static_cast<double>(frame) / (rate * 60.0));
    minutes = std::floor(m);
    seconds = (m - minutes) * 60.0f;
}

void AverageRms(const MixStats& stats, double& left, double& right)
{
    // A side that closed no window has no average: -144.
    const double avgL = stats.rmsCountL > 0.0f ? static_cast<double>(stats.rmsSumL / stats.rmsCountL) : 0.0;
    const double avgR = stats.rmsCountR > 0.0f ? static_cast<double>(stats.rmsSumR / stats.rmsCountR) : 0.0;
    left = RawTodB(avgL, kRmsReference);
    right = RawTodB(avgR, kRmsReference);
}

std::string BuildReport(Run& run, size_t* loudnessAt)
{
    const MixStats& stats = run.stats;
    const Tracks& tracks = run.tracks;
    const EffectSettings& fx = run.fx;
    std::string out = "Peaks (dB):\n\n";

    for (int c = 1; c <= tracks.channels(); ++c) {
        const double l = RawTodB(stats.peakL[c], kBusReference);
        const double r = RawTodB(stats.peakR[c], kBusReference);
        if (tracks.headerOk[c])
            Append(out, "Ch %i\tL  %.2f\tR  %.2f\t%s", c, l, r, tracks.names[c - 1].c_str());
        out += (l > 0.0 || r > 0.0) ? "Channel Over!\n" : "\n";
    }

    {
        const double l = RawTodB(stats.peakL[137], kBusReference);
        const double r = RawTodB(stats.peakR[137], kBusReference);
        if (fx.recursiveOn || fx.masterRev) Append(out, "\nRev\tL  %.2f\tR  %.2f\t(send)", l, r);
        out += (l > 0.0 || r > 0.0) ? "Reverb Over!\n" : "\n";
    }
    if (fx.discreteOn || fx.masterTrev) {
        const double l = RawTodB(stats.peakL[138], kBusReference);
        const double r = RawTodB(stats.peakR[138], kBusReference);
        Append(out, "\nTrev\tL  %.2f\tR  %.2f\t(send)", l, r);
        out += (l > 0.0 || r > 0.0) ? "Tap Reverb Over!\n" : "\n";
    }
    for (int s = 1; s < kSubmixes; ++s) {
        if (!run.routing.subOn[s]) continue;
        const int slot = SubmixSlot(s);
        const double l = RawTodB(stats.peakL[slot], kBusReference);
        const double r = RawTodB(stats.peakR[slot], kBusReference);
        Append(out, "\nSub %i\tL  %.2f\tR  %.2f", s, l, r);
        out += (l > 0.0 || r > 0.0) ? "Submix Over!\n" : "\n";
    }
    {
        double l = 0.0, r = 0.0;
        AverageRms(stats, l, r);
        Append(out, "\nRMS\tL  %.2f\tR  %.2f\t(average)", l, r);
        out += (l > 0.0 || r > 0.0) ? "RMS Over!\n" : "\n";
    }
    {
        const double reference = OutputReference(run.prefs.outbits);
        const double rate = tracks.sampleRate;
        float minutes = 0.0f, seconds = 0.0f;
        const double l = RawTodB(stats.out.left, reference);
        PeakTime(stats.out.leftFrame, rate, minutes, seconds);
        Append(out, "\nPeak Out L = %.2lf dB at %.0f min : %.3f sec", l, static_cast<double>(minutes),
               static_cast<double>(seconds));
        out += l > 0.0 ? "Main Out Left Over!\n" : "\n";
        const double r = RawTodB(stats.out.right, reference);
        PeakTime(stats.out.rightFrame, rate, minutes, seconds);
        Append(out, "Peak Out R = %.2lf dB at %.0f min : %.3f sec", r, static_cast<double>(minutes),
               static_cast<double>(seconds));
        out += r > 0.0 ? "Main Out Right Over\n" : "\n";
        if (loudnessAt != nullptr) *loudnessAt = out.size();
    }
    for (int c = 1; c <= kMaxChannels; ++c)
        if (stats.over[c]) Append(out, "Channel %i is clipping after effects processing!\n", c);
    for (int s = 1; s < kSubmixes; ++s)
        if (stats.over[SubmixSlot(s)]) Append(out, "Submix %i is clipping after effects processing!\n", s);
    if (stats.over[0]) out += "Master channel is clipping after effects processing!\n";
    out += "\n";
    return out;
}

std::string LoudnessLine(const LoudnessFigures& f)
{
    std::string line;
    if (!f.measured) return line;
    Append(line, "Loudness: %.1f LUFS integrated, %.1f LU range", f.integrated, f.range);
    if (f.truePeakMeasured) {
        Append(line, ", true peak %.1f dBTP", f.truePeak);
        if (TruePeakAboveLimit(f)) line += " (above -1.0 dBTP)";
    }
    line += "\n";
    return line;
}

bool TruePeakAboveLimit(const LoudnessFigures& f)
{
    // Judged on the value as shown (one decimal), so "-1.0 dBTP" is never "above -1.0".
    char shown[64];
    std::snprintf(shown, sizeof shown, "%.1f", f.truePeak);
    return f.truePeakMeasured && std::strtod(shown, nullptr) > -1.0;
}

ReportNames NameReports(const std::string& bakdir, const std::string& mixName)
{
    ReportNames names;
    names.stats = bakdir + "stats_" + mixName + ".txt";
    names.json = bakdir + "stats_" + mixName + ".json";
    names.backup = bakdir + "faders_" + mixName + ".txt";
    return names;
}

int CreateTextFiles(Run& run, const ReportNames& names, bool writeBackup)
{
    Tracks& tracks = run.tracks;
    for (int c = 1; c <= tracks.channels(); ++c) tracks.names[c - 1] = CutName(tracks.names[c - 1]);

    size_t loudnessAt = 0;
    std::string report = BuildReport(run, &loudnessAt);
    const int verbo = run.prefs.verbo;
    if (verbo > 0) {
        // The loudness line is shown on the console only, inside the report.
        std::fprintf(g_console, "%.*s", static_cast<int>(loudnessAt), report.c_str());
        if (verbo >= 2) std::fprintf(g_console, "%s", LoudnessLine(run.stats.loudness).c_str());
        std::fprintf(g_console, "%s", report.c_str() + loudnessAt);
    }

    const double seconds = static_cast<double>(std::clock() - run.startClock) / CLOCKS_PER_SEC;
    Append(report, "Processing time = %.2lf sec\n", seconds);
    if (verbo >= 3) std::fprintf(g_console, "\nProcessing time = %.2lf sec\n", seconds);

    int status = 0;
    if (!WriteWholeFile(ResolveTarget(names.stats), report)) {
        std::fprintf(g_console, "Error: could not write the report file %s: %s\n", names.stats.c_str(),
                     std::strerror(errno));
        status = 2;
    }
    if (!WriteWholeFile(ResolveTarget(names.json), BuildJsonReport(run))) {
        std::fprintf(g_console, "Error: could not write the JSON report %s: %s\n", names.json.c_str(),
                     std::strerror(errno));
        status = 2;
    }
    if (writeBackup && !WriteWholeFile(ResolveTarget(names.backup), run.cue.body)) {
        std::fprintf(g_console, "Error: could not write the fader backup %s: %s\n", names.backup.c_str(),
                     std::strerror(errno));
        status = 2;
    }
    return status;
}
