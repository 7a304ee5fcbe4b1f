// The mix engine: opens the streams, renders the render window block by block
// (channel stage, buses, output stage) and closes the streams. What the report
// needs afterwards is left in MixStats.
#pragma once
#include <array>
#include <cstdint>
#include <cstdio>

#include "corvale/audio/loudness.h"
#include "corvale/audio/wav_out.h"
#include "corvale/run/limits.h"

struct MixStats {
    std::array<double, kSlots + 2> peakL{}, peakR{};  // slots, 137 recursive and 138 discrete reverb input
    std::array<int, kSlots> over{};
    OutputPeaks out;
    float rmsSumL = 0.0f, rmsSumR = 0.0f;             // sums of window RMS values
    float rmsCountL = 0.0f, rmsCountR = 0.0f;         // closed windows
    bool masterHeard = false;                         // the master left zero before dither
    LoudnessFigures loudness;                         // of the output words; unmeasured with loudness off
};

struct Run;

// What RunMix returns when a stop signal ended the mix between two blocks.
constexpr int kMixStopped = -1;

// Opens the track streams, runs the mix loop into out (and tap, when the run
// writes a tap file, and the open stem files of run.outputs; all hold their
// headers already) and closes the tracks.
// Returns 0, kMixStopped, or the exit status of a fatal error (after its message).
int RunMix(Run& run, std::FILE* out, std::FILE* tap);
