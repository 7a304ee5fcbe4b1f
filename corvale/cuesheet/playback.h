// Automation playback: the ramp state of every fader and VCA at the render start
// (InterpretLevel), the per-block VCA curves (FillVCA) and the fader stage
// (AUTOMATE) with its zero-crossing gain updates.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "corvale/cuesheet/levels.h"
#include "corvale/run/limits.h"

struct RampState {
    int next = 0;            // next entry to be reached
    int limit = 0;           // entry count
    int64_t current = 0, target = 0, start = 0;   // fader levels
    int64_t position = 0;    // samples since the entry in progress started
    double step = 0.0;       // dB per sample of a linear ramp
    double startDb = 0.0, targetDb = 0.0;
    double span = 0.0;       // target dB - start dB of a shaped ramp
    int64_t ramp = 0;        // ramp length of the entry in progress (a 0 ramp plays as 1)
    float shape = 1.0f;      // shape of the entry in progress
};

// Everything playback keeps between blocks; one per run, fresh in every test.
struct Playback {
    std::array<RampState, kSlots> slot{};
    std::array<RampState, kVcas> vca{};
    std::array<int, kSlots> OldPolarL{}, OldPolarR{};
    std::array<double, kSlots> ApplyLeft{}, ApplyRight{};
    std::vector<double> vcaGain;   // 9 rows; in a block of n frames row v is [v*n, v*n + n)

    Playback() : vcaGain(static_cast<size_t>(kVcas) * kBlockFrames, 1.0) {}
};

// Fader level of a dB value: truncation of 10^(dB / 20) x 2^27, in double.
int64_t DbToLevel(double dB);

// Ramp state of one slot (vca = false) or VCA at song position x.
void InterpretLevel(Playback& pb, const AutomationTables& t, int64_t x, int index, bool vca);

// Start state for a render starting at song frame renderStart: slots 0..trackCount,
// 128..136, VCAs 0..8, then channels with a track offset at the later of their
// offset and renderStart. offsets is indexed by channel.
void StartState(Playback& pb, const AutomationTables& t, int trackCount, const int64_t* offsets,
                int64_t renderStart);

// Row v of the VCA gain buffer for the block [pos, pos + n).
void FillVCA(Playback& pb, const AutomationTables& t, int64_t pos, int64_t n, int v);

// The fader stage of one slot over a block, in place.
void AUTOMATE(Playback& pb, const AutomationTables& t, int64_t pos, int64_t n, int slot,
              int64_t* left, int64_t* right, int64_t polarity, double divisor, float gainL,
              float gainR, const int* vcaAssign);

// True when the slot's fader gains cannot change in the block [pos, pos + n): no
// VCA, no move in progress, no entry reached in the block with a level other
// than the current one (the entries it does reach are taken, as the samples
// would take them, only when the result is true), and the gains a zero
// crossing would compute equal the ones already applied (or the first sample
// must cross). AUTOMATE then scales every sample by applyL / applyR; a caller
// that does the scaling itself must finish with SteadyEnd, the block's last
// input samples and these gains.
bool SteadyGains(Playback& pb, const AutomationTables& t, int64_t pos, int64_t n, int slot,
                 int64_t polarity, double divisor, float gainL, float gainR, const int* vcaAssign,
                 double& applyL, double& applyR);
// Records the signs of the block's last input samples and the gains applied, as
// AUTOMATE does.
void SteadyEnd(Playback& pb, int slot, int64_t lastL, int64_t lastR, double applyL, double applyR);
