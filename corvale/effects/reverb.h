// The two reverbs: the discrete tap reverb (early reflections of a rectangular
// room) and the recursive room reverb (a dense tail passed between the six
// surfaces). Each keeps its tables and buffers in a per-run object built on the
// first block; both add into the shared return and carry buffers.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

struct DiscreteReverbState {
    int firstFlag = 1;
    int64_t Rleft[11] = {}, Rright[11] = {}, Rfrntwall[11] = {}, Rrearwall[11] = {};
    int64_t Rceil[11] = {}, Rfloor[11] = {};
    double atten[11] = {};
};

// Returns 0, or 1 after the message of a rejected setting (no state is kept then).
int DiscreteReverb(DiscreteReverbState& s, int64_t capacity, int64_t n, double rate,
                   const double* sendLeft, const double* sendRight, float size,
                   int64_t* carryLeft, int64_t* carryRight, int64_t* returnLeft,
                   int64_t* returnRight, int& tapCount, float x, float y, float z);

struct RecursiveReverbState {
    int firstFlag = 1;
    int64_t d1 = 0, d2 = 0, d3 = 0, d4 = 0, d5 = 0, d6 = 0;
    int64_t d12 = 0, d13 = 0, d14 = 0, d15 = 0, d16 = 0, d23 = 0, d24 = 0, d25 = 0, d26 = 0;
    int64_t d34 = 0, d35 = 0, d36 = 0, d45 = 0, d46 = 0, d56 = 0;
    float Width = 0.0f;
    std::array<std::vector<int64_t>, 6> surf, spill;   // one block each, sized on first use
};

// Returns 0, or 1 after the message of a rejected setting (no state is kept then).
int RecurseReverb(RecursiveReverbState& s, int64_t n, double rate, const double* sendLeft,
                  const double* sendRight, float size, int64_t* carryLeft, int64_t* carryRight,
                  int64_t* returnLeft, int64_t* returnRight, float x, float y, float z,
                  float width);
