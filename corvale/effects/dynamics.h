// The dynamics of the strips: RMS, peak and non-linear compressors, the limiter,
// and the master RMS measurement for the report. Per-slot state persists across
// blocks in the history structs; init flags and compressor states are the caller's.
#pragma once
#include <cstdint>

#include "corvale/run/limits.h"

struct RmsCompHistory {
    float squaresL[kValueSlots] = {}, squaresR[kValueSlots] = {};
    float intervalL[kValueSlots] = {}, intervalR[kValueSlots] = {};
    float rmsL[kValueSlots] = {}, rmsR[kValueSlots] = {};
    double oldpolarL[kValueSlots] = {}, oldpolarR[kValueSlots] = {};
    int64_t attackCount[kValueSlots] = {}, releaseCount[kValueSlots] = {};
    int passTL[kValueSlots] = {}, passTR[kValueSlots] = {};
};

struct PeakCompHistory {
    double newpeakL[kValueSlots] = {}, newpeakR[kValueSlots] = {};
    double oldpeakL[kValueSlots] = {}, oldpeakR[kValueSlots] = {};
    double oldpolarL[kValueSlots] = {}, oldpolarR[kValueSlots] = {};
    int64_t attackCount[kValueSlots] = {}, releaseCount[kValueSlots] = {};
    int passTL[kValueSlots] = {}, passTR[kValueSlots] = {};
};

struct NlcHistory {
    float squaresL[kValueSlots] = {}, squaresR[kValueSlots] = {};
    float intervalL[kValueSlots] = {}, intervalR[kValueSlots] = {};
    float rmsL[kValueSlots] = {}, rmsR[kValueSlots] = {};
    float oldrmsL[kValueSlots][2] = {}, oldrmsR[kValueSlots][2] = {};
    int oldpolarL[kValueSlots] = {}, oldpolarR[kValueSlots] = {};
    double gammaL[kValueSlots] = {}, gammaR[kValueSlots] = {};
    double GrandGammaL[kValueSlots] = {}, GrandGammaR[kValueSlots] = {};
};

void RMSCOMPRESSOR(RmsCompHistory& h, int slot, int* state, int64_t n, double* left, double* right,
                   int64_t attack, int64_t release, double ratio, int64_t threshold, int* initFlag);

void PEAKCOMPRESSOR(PeakCompHistory& h, int slot, int* state, int64_t n, double* left,
                    double* right, int64_t attack, int64_t release, double ratio,
                    int64_t threshold);

void NonLinCOMP(NlcHistory& h, int slot, int64_t n, double* left, double* right, int64_t window,
                double ratio, int64_t threshold, int* initFlag);

void LIMITER(int slot, int64_t n, double* left, double* right, int64_t ceiling);

// The master's average RMS measurement; one per run.
struct MasterRmsState {
    float squaresL = 0.0f, squaresR = 0.0f;
    float countL = 0.0f, countR = 0.0f;      // samples of the open window
    int polarL = 0, polarR = 0;
    int init = 0;
    float windowsL = 0.0f, windowsR = 0.0f;  // closed windows
    float sumL = 0.0f, sumR = 0.0f;          // sum of window RMS values
};

void MasterRMS(MasterRmsState& s, const int64_t* left, const int64_t* right, float minInterval,
               int64_t divisor, int64_t n);
