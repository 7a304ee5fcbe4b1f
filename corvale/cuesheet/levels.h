// Level cues: the automation tables of every fader and VCA, the cue pass that
// fills them ("t", "v", "vca", "rmp", "ofs", "shape", "p", "pol", "inc"), and the
// passes after it: trims, scale, master trim, level check, default ramps, clamps.
#pragma once
#include <array>
#include <cmath>
#include <cstdint>

#include "corvale/run/limits.h"

constexpr int64_t kUnityLevel = 134217728;   // 2^27 = 0 dB

// Per entry row one column per slot (137) or per VCA (9).
struct AutomationTables {
    std::array<std::array<int64_t, kSlots>, kEntries> time{};
    std::array<std::array<int64_t, kSlots>, kEntries> level{};
    std::array<std::array<int64_t, kSlots>, kEntries> ramp{};
    std::array<std::array<float, kSlots>, kEntries> shape;
    std::array<int, kSlots> count{};

    std::array<std::array<int64_t, kVcas>, kEntries> vcaTime{};
    std::array<std::array<int64_t, kVcas>, kEntries> vcaLevel{};
    std::array<std::array<int64_t, kVcas>, kEntries> vcaRamp{};
    std::array<std::array<float, kVcas>, kEntries> vcaShape;
    std::array<int, kVcas> vcaCount{};

    std::array<int, kSubmixes> subFaderFlag{};  // index 1..8
    int masterFaderFlag = 0;

    AutomationTables()
    {
        for (auto& row : shape) row.fill(1.0f);
        for (auto& row : vcaShape) row.fill(1.0f);
    }
};

// dB of a fader level: 20 log10(level / 2^27); a level of 0 or below is -144.
inline double LevelTodB(int64_t level)
{
    if (level <= 0) return -144.0;
    return 20.0 * std::log10(static_cast<double>(level) / 134217728.0);
}

struct Run;

// The cue pass. Returns 0, or the exit status of a time-entry error.
int CuePass(Run& run);

// The level check of "v" and "vca" lines: value in percent (0..400) or dB (up to
// 12.02, -144 at least), clamped with its warning; entry counts from 1. A value
// that is not a number becomes the bottom of the range.
double CheckFader(double value, bool percent, int slot, int entry);
// Fader level of a checked value: truncation of (10^(dB / 20) or percent / 100) x 2^27.
int64_t FaderLevel(double value, bool percent);

// The passes after the cue pass, in the order the reader calls them.
void TrimPass(Run& run);
void ScalePass(Run& run);
void MasterTrimPass(Run& run);
void LevelCheck(AutomationTables& tables);
// Warns about entries not later than the entry before them (playback would skip them).
void OrderWarnings(const AutomationTables& tables);
void DefaultRamps(AutomationTables& tables, int trackCount, double rate, double dbps);
void RampClamp(AutomationTables& tables, int trackCount);
