// The effects strip of a channel, submix or the master: order positions 1..11,
// at each the fixed sequence high-pass, bands 1-4, high shelf, low shelf, RMS,
// NLC, peak compressor, limiter. Also owns all per-slot DSP history of a run.
#pragma once
#include <cstdint>

#include "corvale/effects/dynamics.h"
#include "corvale/effects/filters.h"
#include "corvale/effects/settings.h"

// All filter and dynamics history of a run, with the init flags that seed it.
struct DspState {
    HpfHistory hpf;
    EqHistory eq;
    RevEqHistory revEq;
    RmsCompHistory rms;
    PeakCompHistory peak;
    NlcHistory nlc;
    int hpInit[kSlots] = {};
    int eqInit[8 * kSlots] = {};     // section * 137 + slot
    int revEqInit[4] = {};
    int rmsInit[kSlots] = {};
    int nlcInit[kSlots] = {};
};

// Runs the strip of slot over n frames of the work buffers, in place. Each
// effect runs at the position given by its own order number; one outside 1..11
// never runs. The master strip (master = true, slot 0) takes the master row
// flags as effect flags and slot 0's values, and has no limiter step. The
// compressor states live in the settings' comp and rms flags and change here.
// pos is the song frame of the block's first frame (not used by the effects).
// Slots outside 0..135 have no effect values and pass unchanged.
void EffectsStrip(EffectSettings& fx, DspState& dsp, int slot, bool master, int64_t pos,
                  int64_t n, double* left, double* right);

// True when no effect of the slot's strip would run (the strip leaves the work
// buffers unchanged).
bool StripIdle(const EffectSettings& fx, int slot, bool master);
