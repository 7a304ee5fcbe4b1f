// The machine-readable statistics report, stats_NAME.json: the render, every
// channel, the submixes, reverb sends, average RMS, output peaks and loudness
// of a finished mix as one JSON object (layout in docs/report-json.md). Every
// figure that stats_NAME.txt prints is given at the precision printed there.
#pragma once
#include <string>

struct Run;

// The JSON text, indented, ending with a line feed. Names and paths that are
// not valid UTF-8 have their bad bytes replaced by U+FFFD.
std::string BuildJsonReport(const Run& run);
