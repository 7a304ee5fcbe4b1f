// The dynamics of the strips: RMS, peak and non-linear compressors, the limiter,
// and the master RMS measurement for the report. Per-slot state persists across
// blocks in the history structs; init flags and compressor states are the caller's.
//
// Every compressor works on magnitude a = max(|x|, 0.0001) and sign (+1 for
// x >= 0, else -1); whatever it writes is sign x a x gain. The compressor state
// of RMSCOMPRESSOR and PEAKCOMPRESSOR is 1 idle, 2 attack, 3 hold, 4 release.
#pragma once
#include <cstdint>

#include "corvale/run/limits.h"

struct RmsCompHistory {
    float squaresL[kValueSlots] = {}, squaresR[kValueSlots] = {};     // open half-cycle
    float intervalL[kValueSlots] = {}, intervalR[kValueSlots] = {};   // its sample count
    float rmsL[kValueSlots] = {}, rmsR[kValueSlots] = {};             // last closed half-cycle
    double oldpolarL[kValueSlots] = {}, oldpolarR[kValueSlots] = {};  // previous sign
    int64_t attackCount[kValueSlots] = {}, releaseCount[kValueSlots] = {};
    int passTL[kValueSlots] = {}, passTR[kValueSlots] = {};           // quiet half-cycles in hold
};

struct PeakCompHistory {
    double newpeakL[kValueSlots] = {}, newpeakR[kValueSlots] = {};    // open half-cycle
    double oldpeakL[kValueSlots] = {}, oldpeakR[kValueSlots] = {};    // last closed one
    double oldpolarL[kValueSlots] = {}, oldpolarR[kValueSlots] = {};
    int64_t attackCount[kValueSlots] = {}, releaseCount[kValueSlots] = {};
    int passTL[kValueSlots] = {}, passTR[kValueSlots] = {};
};

struct NlcHistory {
    float squaresL[kValueSlots] = {}, squaresR[kValueSlots] = {};
    float intervalL[kValueSlots] = {}, intervalR[kValueSlots] = {};
    float rmsL[kValueSlots] = {}, rmsR[kValueSlots] = {};             // latest window
    float oldrmsL[kValueSlots][2] = {}, oldrmsR[kValueSlots][2] = {}; // [0] previous, [1] the one before
    int oldpolarL[kValueSlots] = {}, oldpolarR[kValueSlots] = {};
    double gammaL[kValueSlots] = {}, gammaR[kValueSlots] = {};        // side gains
    double GrandGammaL[kValueSlots] = {}, GrandGammaR[kValueSlots] = {}; // applied gains
};

void RMSCOMPRESSOR(RmsCompHistory& h, int slot, int* state, int64_t n, double* left, double* right,
                   int64_t attack, int64_t release, double ratio, int64_t threshold, int* initFlag);

void PEAKCOMPRESSOR(PeakCompHistory& h, int slot, int* state, int64_t n, double* left,
                    double* right, int64_t attack, int64_t release, double ratio,
                    int64_t threshold);

void NonLinCOMP(NlcHistory& h, int slot, int64_t n, double* left, double* right, int64_t window,
                double ratio, int64_t threshold, int* initFlag);

// Soft limiter with its knee at ceiling x 0.89125 and a slope of 1/8 above it.
// The slot is not used (no state).
void LIMITER(int slot, int64_t n, double* left, double* right, int64_t ceiling);

// The master's average RMS measurement; one per run. The report's average per
// side is sumL / windowsL and sumR / windowsR.
struct MasterRmsState {
    float squaresL = 0.0f, squaresR = 0.0f;
    float countL = 0.0f, countR = 0.0f;      // samples of the open window
    int polarL = 0, polarR = 0;
    int init = 0;
    float windowsL = 0.0f, windowsR = 0.0f;  // closed windows
    float sumL = 0.0f, sumR = 0.0f;          // sum of window RMS values
};

// left and right are the master's samples (the same buffer twice for a mono
// master); divisor is 256 and minInterval the sample rate / 10.
void MasterRMS(MasterRmsState& s, const int64_t* left, const int64_t* right, float minInterval,
               int64_t divisor, int64_t n);
