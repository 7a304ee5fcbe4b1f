// The filters of the strips and reverb sends: Denormal, the one-pole high-pass
// (HPF), the biquad sections of the bands and shelves (EQ) and of the reverb
// filters (Rev_EQ). Each keeps its history per slot (or reverb filter); the
// init flags that seed the history belong to the caller.
#pragma once
#include <cstdint>

#include "corvale/run/limits.h"

struct HpfHistory {
    double OldXL[kValueSlots] = {}, OldXR[kValueSlots] = {};   // previous input
    double OldYL[kValueSlots] = {}, OldYR[kValueSlots] = {};   // previous output
};

// Indexed [slot][section], sections 1..6 (1..4 bands, 5 high shelf, 6 low shelf).
struct EqHistory {
    double in1L[kValueSlots][8] = {}, in1R[kValueSlots][8] = {};
    double in2L[kValueSlots][8] = {}, in2R[kValueSlots][8] = {};
    double out1L[kValueSlots][8] = {}, out1R[kValueSlots][8] = {};
    double out2L[kValueSlots][8] = {}, out2R[kValueSlots][8] = {};
};

// Reverb filters 0 discrete high-pass, 1 discrete low-pass, 2 recursive high-pass, 3 recursive low-pass.
struct RevEqHistory {
    double in1L[4] = {}, in1R[4] = {}, in2L[4] = {}, in2R[4] = {};
    double out1L[4] = {}, out1R[4] = {}, out2L[4] = {}, out2R[4] = {};
};

// Values in (-0.0001, 0.0001) become +-0.0001; exact zero becomes 0.0001.
void Denormal(double* left, double* right, int64_t n);

// One-pole high-pass: y = c2 (x - x1) + c1 y1. The first sample a slot sees
// seeds the history and passes unchanged. initFlags is indexed by slot.
void HPF(HpfHistory& h, int64_t n, int slot, double* left, double* right, double c1, double c2,
         int* initFlags);

// Biquad section 1..6 of the slot, coefficients already divided by a0. The
// first two samples of the block in which a section starts pass unchanged and
// seed its history. initFlags is indexed section * 137 + slot.
void EQ(EqHistory& h, int64_t n, int slot, int section, double* left, double* right, double b0,
        double b1, double b2, double a1, double a2, int* initFlags);

// The same biquad for reverb filter 0..3; initFlags is indexed by filter.
void Rev_EQ(RevEqHistory& h, int64_t n, int filter, double* left, double* right, double b0,
            double b1, double b2, double a1, double a2, int* initFlags);

// HPF followed by EQ section `section` of the same slot in one pass, when both
// are already running (their start-up samples are behind them): each sample
// goes through the high-pass and then the biquad, exactly as the two calls one
// after the other would take it, with the two recurrences interleaved. Returns
// false, doing nothing, when either has yet to start.
bool HpfThenEq(HpfHistory& hp, EqHistory& eq, int64_t n, int slot, int section, double* left,
               double* right, double c1, double c2, const int* hpInit, double b0, double b1, double b2,
               double a1, double a2, const int* eqInit);
