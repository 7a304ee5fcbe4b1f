// After the mix: the statistics report (printed and written) and the backup of
// the cue sheet, both named after the mix.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "corvale/audio/loudness.h"

struct Run;
struct MixStats;

constexpr double kBusReference = 2147483648.0;   // slot peaks
constexpr double kRmsReference = 8388608.0;      // average RMS, 24-bit scale
// Full scale of the output words.
constexpr double OutputReference(int outbits) { return outbits == 16 ? 32768.0 : 8388608.0; }

// dB of a raw level against its full-scale reference; 0 or below is -144.
double RawTodB(double value, double reference);

// Song frame as minutes (rounded down) and seconds, in single precision.
void PeakTime(int64_t frame, double rate, float& minutes, float& seconds);

// The average RMS of each side in dB; a side that closed no window is -144.
void AverageRms(const MixStats& stats, double& left, double& right);

// Builds the report text (without the processing-time line). When loudnessAt
// is given it receives the offset just after the "Peak Out R" line, where the
// console shows the loudness line (which the file does not hold).
std::string BuildReport(Run& run, size_t* loudnessAt = nullptr);

// The console line of the loudness figures, line feed included:
// "Loudness: -16.2 LUFS integrated, 7.4 LU range" and, when true peak was
// measured, ", true peak -0.8 dBTP" with " (above -1.0 dBTP)" when it is.
// Empty when the meter did not run.
std::string LoudnessLine(const LoudnessFigures& figures);

// True peak was measured and, as shown to one decimal, is above -1.0 dBTP.
bool TruePeakAboveLimit(const LoudnessFigures& figures);

// The files written after a mix: "stats_NAME.txt", "stats_NAME.json" and
// "faders_NAME.txt" behind the bakdir prefix.
struct ReportNames {
    std::string stats, json, backup;
};
ReportNames NameReports(const std::string& bakdir, const std::string& mixName);

// Cuts the names, prints and writes the report, writes the JSON report and
// (when writeBackup) the cue-sheet backup, each through a temporary file. Returns 0, or 2 after a
// message when a file could not be written.
int CreateTextFiles(Run& run, const ReportNames& names, bool writeBackup);
