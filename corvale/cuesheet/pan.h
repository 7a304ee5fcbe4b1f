// Pan, polarity, delay pan and effects gain of every slot, the pan law and the
// pan gains; DELAY_PAN builds a delay-panned channel's two sides.
#pragma once
#include <array>
#include <cstdint>

#include "corvale/run/limits.h"

struct PanSettings {
    std::array<int, kSlots> pan{};               // -100..100 ("p")
    std::array<int64_t, kSlots> polarity;        // +1 / -1 ("pol")
    std::array<float, kSlots> gainL{}, gainR{};  // pan gains
    std::array<double, kSlots> fxGain;           // effects gain ("fxg")
    std::array<int, kChannelRows> delayPan{};    // "dp" value per channel, 0 = off
    std::array<int, kSlots> delay{};             // delay in samples per slot
    float panLaw = 3.0f;
    float maxDelay = 0.0f;
    int masterFxFlag = 0;

    PanSettings() { polarity.fill(1); fxGain.fill(1.0); }
};

struct Run;

void DelayPanPass(Run& run);       // "dp"
void FxGainPass(Run& run);         // "fxg" (may raise the master effects and any-master flags)
void PanCheck(PanSettings& pan);   // out-of-range pan values
// The pan law from the first `pan` line of the preferences, the pan gains of
// slots 0..trackCount and 128..136, then the delay-pan gains and delays.
void PanLawAndGains(Run& run);

// What DELAY_PAN remembers per channel: the last 255 samples of each side.
struct DelayHistory {
    std::array<std::array<int64_t, 256>, kChannelRows> left{}, right{};
};

// Builds left[i] and right[i] for i in first..end-1 of a delay-panned mono channel
// from its decoded samples x (same indexing). historyStart is end - 255 for blocks
// of 256 frames or more, else end (history left as it is). A delay beyond the
// 255 samples the history holds is used as 255.
void DELAY_PAN(DelayHistory& history, int64_t first, int64_t end, int channel,
               const PanSettings& pan, const int64_t* x, int64_t* left, int64_t* right,
               int64_t historyStart);
