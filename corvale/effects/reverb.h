// The two reverbs: the discrete tap reverb (early reflections of a rectangular
// room) and the recursive room reverb (a dense tail passed between the six
// surfaces). Each keeps its tables and buffers in a per-run object built on the
// first block; both add into the shared return and carry buffers.
//
// Both take a block of n frames (n at most the block capacity, 131072) and add
// what falls inside the block into return[p] and what falls past its end into
// carry[p - n]. Every delay is bounded below the capacity, so one block of
// carry is enough.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

// Distances in samples from the listener to the six surfaces of the room.
struct RoomDistances {
    int64_t front = 0, rear = 0, left = 0, right = 0, floor = 0, ceiling = 0;
};

// The room of `size` feet at `rate` Hz with the listener at x, y, z percent
// (along the length, up the height, across the width); single precision
// throughout, each distance truncated toward zero.
RoomDistances ComputeRoom(double rate, float size, float x, float y, float z);

struct DiscreteReverbState {
    int firstFlag = 1;
    // Tap delays per surface (samples) and tap gains, tap k = 0..10.
    int64_t Rleft[11] = {}, Rright[11] = {}, Rfrntwall[11] = {}, Rrearwall[11] = {};
    int64_t Rceil[11] = {}, Rfloor[11] = {};
    double atten[11] = {};
    int taps = 0;   // tap count the tables were built for
};

// Returns 0, or 1 after the message of a rejected setting. On a rejection the
// tables and firstFlag are left as they were; only the tap count has been
// clamped into 1..11 (that is the first step of the set-up).
int DiscreteReverb(DiscreteReverbState& s, int64_t capacity, int64_t n, double rate,
                   const double* sendLeft, const double* sendRight, float size,
                   int64_t* carryLeft, int64_t* carryRight, int64_t* returnLeft,
                   int64_t* returnRight, int& tapCount, float x, float y, float z);

// The settings check the discrete reverb makes on its first block, alone:
// builds nothing. Returns 0, or 1 after the message of the rejected setting.
// The tap count is clamped into 1..11 first, as on the first block.
int CheckDiscreteReverbSettings(int64_t capacity, double rate, float size, int tapCount, float x, float y,
                                float z);

struct RecursiveReverbState {
    static constexpr int64_t kCapacity = 131072;   // entries of every surface and spill buffer

    int firstFlag = 1;
    int64_t d1 = 0, d2 = 0, d3 = 0, d4 = 0, d5 = 0, d6 = 0;
    int64_t d12 = 0, d13 = 0, d14 = 0, d15 = 0, d16 = 0, d23 = 0, d24 = 0, d25 = 0, d26 = 0;
    int64_t d34 = 0, d35 = 0, d36 = 0, d45 = 0, d46 = 0, d56 = 0;
    float Width = 0.0f;
    // Surfaces 1..6 at index 0..5: front wall, left wall, right wall, rear
    // wall, floor, ceiling. Allocated on the first successful call.
    std::array<std::vector<int64_t>, 6> surf, spill;
};

// Returns 0, or 1 after the message of a rejected setting (the state is left
// as it was, firstFlag still 1).
int RecurseReverb(RecursiveReverbState& s, int64_t n, double rate, const double* sendLeft,
                  const double* sendRight, float size, int64_t* carryLeft, int64_t* carryRight,
                  int64_t* returnLeft, int64_t* returnRight, float x, float y, float z,
                  float width);

// The settings check the recursive reverb makes on its first block of n frames,
// alone: allocates nothing. Returns 0, or 1 after the message of the rejected
// setting.
int CheckRecursiveReverbSettings(int64_t n, double rate, float size, float x, float y, float z, float width);
