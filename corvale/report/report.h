// After the mix: the statistics report (printed and written) and the backup of
// the cue sheet, both named after the mix.
#pragma once
#include <string>

struct Run;

// Builds the report text (without the processing-time line).
std::string BuildReport(Run& run);

// The two files written after a mix: "stats_NAME.txt" and "faders_NAME.txt"
// behind the bakdir prefix.
struct ReportNames {
    std::string stats, backup;
};
ReportNames NameReports(const std::string& bakdir, const std::string& mixName);

// Cuts the names, prints and writes the report and (when writeBackup) the
// cue-sheet backup, each through a temporary file. Returns 0, or 2 after a
// message when a file could not be written.
int CreateTextFiles(Run& run, const ReportNames& names, bool writeBackup);
