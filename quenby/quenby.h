// The cue-sheet adjuster: loads the time, level and ramp lines of a cue sheet,
// shifts, stretches and re-levels them, and prints or saves them ordered by
// channel or by time with 1, 2 or 3 time fields.
#pragma once
#include <array>
#include <cstdio>
#include <string>

namespace quenby {

constexpr int kChannels = 128;   // channels 0..127
constexpr int kEntries = 512;    // entries per channel

struct Entries {
    std::array<std::array<float, kEntries>, kChannels> times{}, levels{}, ramps{};
    std::array<int, kChannels> counts{};
    std::string title;
};

// Fills entries from the text of a cue sheet read with timeFields fields per "t"
// line. Lines it cannot hold are skipped with a message on out.
void ParseBuffer(const std::string& text, int timeFields, Entries& entries, std::FILE* out);

float FindMax(const Entries& e);
float FindMin(const Entries& e, float max);
void ScaleTimes(Entries& e, float factor);
void MoveTimes(Entries& e, float seconds);
void AdjustVolumes(Entries& e, float dB);
// The smallest entry time strictly later than time; false when there is none.
bool ScanTimes(const Entries& e, float time, float& next);

// The entries ordered by channel (Format1) or by time (Format2).
std::string Format1(const Entries& e, int timeFields);
std::string Format2(const Entries& e, int timeFields);

// The whole program: command line, loading, the command loop. Returns the exit status.
int RunQuenby(int argc, char** argv, std::FILE* in, std::FILE* out);

}  // namespace quenby
