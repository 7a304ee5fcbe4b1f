// The mix engine: opens the streams, renders the render window block by block
// (channel stage, buses, output stage) and closes the streams. What the report
// needs afterwards is left in MixStats.
#pragma once
#include <array>
#include <cstdint>

#include "corvale/audio/wav_out.h"
#include "corvale/run/limits.h"

struct MixStats {
    std::array<double, kSlots + 2> peakL{}, peakR{};  // slots, 137 recursive and 138 discrete reverb input
    std::array<int, kSlots> over{};
    OutputPeaks out;
    float rmsSumL = 0.0f, rmsSumR = 0.0f;             // sums of window RMS values
    float rmsCountL = 0.0f, rmsCountR = 0.0f;         // closed windows
};

struct Run;

// Opens the output, track and tap streams, runs the mix loop and closes them.
// Returns 0, or the exit status of a fatal error (after its message).
int RunMix(Run& run);
