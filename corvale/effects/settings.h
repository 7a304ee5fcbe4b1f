// Effect settings of the cue sheet: every effect row, clamped and turned into
// raw thresholds, samples, ratios and filter coefficients; the order lines; the
// reverb settings and the tap file; the flags the mix engine reads.
#pragma once
#include <array>
#include <cstdint>
#include <iterator>
#include <string>

#include "corvale/run/limits.h"

// The effects of a strip, in the strip's fixed sequence (the sequence in which
// effects sharing an order position run). Each has one row in kStripEffectCodes.
enum StripEffect { kHp, kBand1, kBand2, kBand3, kBand4, kHshelf, kLshelf, kRms, kNlc, kComp, kLim };
// The EQ effects' indices double as their section numbers.
static_assert(kBand1 == 1 && kBand4 == 4 && kHshelf == 5 && kLshelf == 6);

// What the readers know of a strip effect: its code on effect rows and order
// lines, and the shape of its rows.
struct StripEffectCode {
    const char* code;
    StripEffect effect;
    int values;           // values after the slot field on an effect row
    const char* heading;  // printed at verbosity 3 before its rows are read, or nullptr
};

// Every strip effect, in the order its rows are read (which is the order of
// their range messages). The effect rows, the order lines, the strip markers
// and the line checks all take the codes from here.
inline constexpr StripEffectCode kStripEffectCodes[] = {
    {"comp", kComp, 4, "Reading peak compressor settings..."},
    {"rms", kRms, 4, nullptr},
    {"nlc", kNlc, 3, "Reading NLC compressor settings..."},
    {"lim", kLim, 1, nullptr},
    {"hp", kHp, 1, "Reading high pass filter settings..."},
    {"band1", kBand1, 3, "Reading band 1-4 EQ settings..."},
    {"band2", kBand2, 3, nullptr},
    {"band3", kBand3, 3, nullptr},
    {"band4", kBand4, 3, nullptr},
    {"hshelf", kHshelf, 3, "Reading high and low shelf EQ settings..."},
    {"lshelf", kLshelf, 3, nullptr},
};
inline constexpr int kStripEffects = static_cast<int>(std::size(kStripEffectCodes));

// The table names the effects 0 .. kStripEffects - 1, each once.
constexpr bool EveryStripEffectOnce()
{
    for (int e = 0; e < kStripEffects; ++e) {
        int rows = 0;
        for (const StripEffectCode& c : kStripEffectCodes) rows += c.effect == e ? 1 : 0;
        if (rows != 1) return false;
    }
    return true;
}
static_assert(EveryStripEffectOnce(), "every strip effect needs exactly one row in kStripEffectCodes");

// The strip effect of an effect code, or nullptr when code names none.
const StripEffectCode* FindStripEffect(const char* code);

// Normalised biquad coefficients (already divided by a0).
struct Biquad {
    double b0 = 0.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
};

// Settings of a compressor row (comp or rms).
struct CompressorSettings {
    std::array<int, kSlots> flag{};                // 0 off; doubles as the compressor state 1..4
    std::array<int64_t, kValueSlots> threshold;    // raw threshold
    std::array<int64_t, kValueSlots> attack{};     // samples
    std::array<int64_t, kValueSlots> release{};    // samples
    std::array<double, kValueSlots> ratio{};
    CompressorSettings() { threshold.fill(8388608); }
};

struct EffectSettings {
    CompressorSettings comp, rms;

    std::array<int, kSlots> nlcFlag{};
    std::array<int64_t, kValueSlots> nlcThreshold, nlcWindow{};
    std::array<double, kValueSlots> nlcRatio{};

    std::array<int, kSlots> limFlag{};
    std::array<int64_t, kValueSlots> limCeiling;

    std::array<int, kSlots> hpFlag{};
    std::array<double, kValueSlots> hpC1{}, hpC2{};

    // EQ sections 1..4 bands, 5 high shelf, 6 low shelf (0 and 7 unused).
    std::array<std::array<int, kSlots>, 8> eqFlag{};
    std::array<std::array<Biquad, kValueSlots>, 8> eq{};

    std::array<int, kSlots> revFlag{}, trevFlag{};
    std::array<float, kValueSlots> revSend{}, trevSend{};

    // Order number per effect (StripEffect) and slot, default 11.
    std::array<std::array<int, kSlots>, kStripEffects> order;

    std::array<int, kSlots> stripMarker{};   // channels 1..count and submix slots 128..136

    // Master row flags per effect, plus rev and trev; the any-master flag.
    std::array<int, kStripEffects> masterRow{};
    int masterRev = 0, masterTrev = 0;
    int anyMaster = 0;

    // Reverbs.
    bool recursiveOn = false;      // an rtn line
    bool discreteOn = false;       // a trtn line
    bool returnsPresent = false;
    float rtnLevel = 0.0f, rtnSize = 75.0f;
    float trtnLevel = 0.0f, trtnSize = 75.0f;
    int tapCount = 1;
    float posX = 37.0f, posY = 39.0f, posZ = 43.0f;
    float width = 50.0f;
    bool rhpPresent = false, rlpPresent = false;
    Biquad rhp, rlp;               // b2 == b0
    float recursiveReturnGain = 0.0f, discreteReturnGain = 0.0f;
    bool reverbBuffers = false;    // return and carry buffers are needed
    bool recursiveSendBuffers = false, discreteSendBuffers = false;

    // Tap file: 0 none, 1 recursive send, 2 reverb return.
    int tapMode = 0;
    std::string tapName;

    EffectSettings()
    {
        nlcThreshold.fill(8388608);
        limCeiling.fill(8388608);
        for (auto& t : order) t.fill(11);
    }
};

// The effect flag of an effect on a slot's strip (the compressors' flags double
// as their states: non-zero is on). Master rows have flags of their own.
int EffectFlag(const EffectSettings& fx, StripEffect effect, int slot);

struct Run;

// Entries per slot in a settings table filled by ParamsFromBuffer.
constexpr int kParamStride = 8;

// Scans text for the rows of one effect code and fills table (kValueSlots x
// stride doubles, zeroed first): entry 0 of a slot is 1.0 when a row set it,
// entries 1..fields-1 its values in file order; the last row for a slot wins.
// masterFlag and anyMasterFlag are raised by a row for "M", never cleared.
void ParamsFromBuffer(const char* text, const char* code, double* table, int stride, int fields,
                      int& masterFlag, int& anyMasterFlag);

// Threshold range: mode 1 (percent) 0..100, mode 0 (decibel) -144..0. In place.
void CheckThresh(double& value, int mode);
// Send and return range: mode 1 (percent) 0..400, mode 0 (decibel) -144..12.02. In place.
void CheckSndRtn(double& value, int mode);

// A = 10^(gain / 40), w0 = 2 pi frequency / rate, alpha = sin(w0) / (2 Q).
void EQSetA(double gain, double frequency, double rate, double Q, double& A, double& w0,
            double& alpha);

// Threshold or ceiling of a row (percent or dB) as a raw sample magnitude,
// moved to bus scale for the master and submix slots.
int64_t RawThreshold(double value, bool percent, int slot);

// Biquad designs of the strip EQ (gain in dB, frequency in Hz) and of the
// reverb filters (Q of 1).
Biquad PeakingBiquad(double gain, double frequency, double rate, double Q);
Biquad HighShelfBiquad(double gain, double frequency, double rate, double Q);
Biquad LowShelfBiquad(double gain, double frequency, double rate, double Q);
Biquad ReverbHighPass(double frequency, double rate);
Biquad ReverbLowPass(double frequency, double rate);

// Reads every effect row, order line and reverb setting of the cue sheet, and
// writes the tap file's header when the preferences ask for one.
// Returns 0, or an exit status when the tap file cannot be created.
int ReadEffectSettings(Run& run);
