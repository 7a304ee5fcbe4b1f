// After the mix: the statistics report (printed and written) and the backup of
// the cue sheet, both named after the mix.
#pragma once
#include <string>

struct Run;

// Builds the report text (without the processing-time line).
std::string BuildReport(Run& run);

// Cuts the names, prints and writes the report and the cue-sheet backup.
void CreateTextFiles(Run& run);
