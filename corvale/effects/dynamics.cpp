// placeholder: replaced when this module lands
#include "corvale/effects/dynamics.h"
void RMSCOMPRESSOR(RmsCompHistory&, int, int*, int64_t, double*, double*, int64_t, int64_t, double, int64_t, int*) {}
void PEAKCOMPRESSOR(PeakCompHistory&, int, int*, int64_t, double*, double*, int64_t, int64_t, double, int64_t) {}
void NonLinCOMP(NlcHistory&, int, int64_t, double*, double*, int64_t, double, int64_t, int*) {}
void LIMITER(int, int64_t, double*, double*, int64_t) {}
void MasterRMS(MasterRmsState&, const int64_t*, const int64_t*, float, int64_t, int64_t) {}
