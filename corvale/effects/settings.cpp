#include "corvale/effects/settings.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "corvale/run/console.h"
#include "corvale/run/numeric.h"
#include "corvale/run/run.h"
#include "corvale/run/text.h"

namespace {

constexpr double kPi = 6.283185307179586 / 2.0;
constexpr double kFullScale = 8388608.0;
constexpr int kSlotOutOfRange = 135;

using Table = std::array<double, kValueSlots * kParamStride>;

// A token that opens an order line: it begins with "o" and is not an "ofs" level
// line. The effect code right after it belongs to the order line.
bool IsOrderToken(const char* tok) { return tok[0] == 'o' && std::strcmp(tok, "ofs") != 0; }

// Walks the tokens of text (tab and line feed) up to "end" and calls onRow with
// the token stream at every token equal to code that does not follow an order
// token. onRow reads the row's fields from the same stream.
template <class F>
void ScanRows(const char* text, const char* code, F&& onRow)
{
    Tokens tokens(text);
    bool afterOrder = false;
    for (const char* tok = tokens.Next("\t\n"); tok != nullptr; tok = tokens.Next("\t\n")) {
        if (std::strcmp(tok, "end") == 0) break;
        if (!afterOrder && std::strcmp(tok, code) == 0) {
            onRow(tokens);
            continue;
        }
        afterOrder = IsOrderToken(tok);
    }
}

void Clamp(double& v, double lo, double hi)
{
    if (std::isnan(v) || v < lo) v = lo;
    else if (v > hi) v = hi;
}

// A send or return level: percent / 100 or 10^(dB / 20), held in single precision.
float LevelOf(double value, bool percent)
{
    CheckSndRtn(value, percent ? 1 : 0);
    if (percent) return static_cast<float>(value / 100.0);
    return static_cast<float>(std::pow(10.0, value / 20.0));
}

const double* Row(const Table& t, int slot) { return t.data() + slot * kParamStride; }
bool RowSet(const Table& t, int slot) { return Row(t, slot)[0] == 1.0; }

void ReadCompressor(const char* text, const char* code, bool percent, double rate,
                    CompressorSettings& c, int& masterFlag, int& anyMaster, Table& t)
{
    ParamsFromBuffer(text, code, t.data(), kParamStride, 5, masterFlag, anyMaster);
    for (int slot = 0; slot < kValueSlots; ++slot) {
        if (!RowSet(t, slot)) continue;
        const double* v = Row(t, slot);
        c.flag[slot] = 1;
        c.threshold[slot] = RawThreshold(v[1], percent, slot);
        c.attack[slot] = checkValL(Trunc64(v[2] * rate / 1000.0), 10, rate);
        c.release[slot] = checkValL(Trunc64(v[3] * rate / 1000.0), 11, rate);
        c.ratio[slot] = checkValD(v[4], 12, rate);
    }
}

// Bands and shelves: clamps in the table, then the section's design.
void ReadEqSection(const char* text, const char* code, int section, StripEffect effect,
                   Biquad (*design)(double, double, double, double), double rate,
                   EffectSettings& fx, Table& t)
{
    ParamsFromBuffer(text, code, t.data(), kParamStride, 4, fx.masterRow[effect], fx.anyMaster);
    for (int slot = 0; slot < kValueSlots; ++slot) {
        if (!RowSet(t, slot)) continue;
        double* v = t.data() + slot * kParamStride;
        v[1] = checkValD(v[1], 20, rate);
        v[2] = checkValD(v[2], 21, rate);
        v[3] = checkValD(v[3], 22, rate);
        fx.eqFlag[section][slot] = 1;
        fx.eq[section][slot] = design(v[2], v[1], rate, v[3]);
    }
}

void ReadSend(const char* text, const char* code, bool percent, std::array<int, kSlots>& flag,
              std::array<float, kValueSlots>& send, int& masterFlag, int& anyMaster, Table& t)
{
    ParamsFromBuffer(text, code, t.data(), kParamStride, 2, masterFlag, anyMaster);
    for (int slot = 0; slot < kValueSlots; ++slot) {
        if (!RowSet(t, slot)) continue;
        flag[slot] = 1;
        float level = LevelOf(Row(t, slot)[1], percent);
        if (level > 1.0f) level = 1.0f;
        if (level < 0.0f) level = 0.0f;
        send[slot] = level;
    }
}

// Reverb filter frequency forced into lo..hi with its reset lines; a value that
// is not a number counts as below the range.
double ReverbFilterFrequency(double f, double lo, double hi, const char* aboveMsg,
                             const char* belowMsg)
{
    if (f > hi) {
        std::fprintf(g_console, "%s\n", aboveMsg);
        return hi;
    }
    if (!(f >= lo)) {
        std::fprintf(g_console, "%s\n", belowMsg);
        return lo;
    }
    return f;
}

struct OrderCode {
    const char* code;
    StripEffect effect;
};
constexpr OrderCode kOrderCodes[] = {
    {"comp", kComp},   {"hp", kHp},         {"band1", kBand1},   {"band2", kBand2},
    {"band3", kBand3}, {"band4", kBand4},   {"hshelf", kHshelf}, {"lshelf", kLshelf},
    {"rms", kRms},     {"nlc", kNlc},       {"lim", kLim}};

constexpr const char* kBandCodes[] = {"band1", "band2", "band3", "band4"};

int OrderTable(const char* code)
{
    for (const auto& c : kOrderCodes)
        if (std::strcmp(code, c.code) == 0) return c.effect;
    return -1;
}

void ReadOrderLines(const char* text, EffectSettings& fx)
{
    for (auto& t : fx.order) t.fill(11);
    Tokens tokens(text);
    for (const char* tok = tokens.Next("\t\n:"); tok != nullptr; tok = tokens.Next("\t\n:")) {
        if (std::strcmp(tok, "end") == 0) break;
        if (!IsOrderToken(tok)) continue;
        const char* code = tokens.Next("\t\n");
        const char* slotField = tokens.Next("\t\n");
        if (code == nullptr || slotField == nullptr) break;
        int64_t slot = 0;
        if (slotField[0] == 'M') {
            slot = 0;
        } else if (slotField[0] == 'G') {
            const char* n = tokens.Next("\t\n");
            if (n == nullptr) break;
            slot = 127 + static_cast<int64_t>(AtoI(n));
        } else {
            slot = AtoI(slotField);
        }
        const char* number = tokens.Next("\t\n");
        if (number == nullptr) break;
        const int effect = OrderTable(code);
        if (slot < 0 || slot > 136 || effect < 0) continue;
        fx.order[effect][static_cast<size_t>(slot)] = AtoI(number);
    }
}

void Heading(int verbo, const char* text)
{
    if (verbo == 3) std::fprintf(g_console, "\t%s\n", text);
}

}  // namespace

void ParamsFromBuffer(const char* text, const char* code, double* table, int stride, int fields,
                      int& masterFlag, int& anyMasterFlag)
{
    std::memset(table, 0, sizeof(double) * static_cast<size_t>(kValueSlots * stride));
    ScanRows(text, code, [&](Tokens& tokens) {
        const char* field = tokens.Next("\t");
        if (field == nullptr) return;  // a code at the very end of the text names no slot
        int64_t slot = 0;
        if (std::strcmp(field, "G") == 0) {
            slot = 127 + static_cast<int64_t>(AtoI(tokens.Next("\t")));
        } else if (std::strcmp(field, "M") == 0) {
            masterFlag = 1;
            anyMasterFlag = 1;
        } else {
            slot = AtoI(field);
        }
        if (slot >= kValueSlots || slot < 0) {
            std::fprintf(g_console, ">>Channel number out of range or not specified!\n");
            slot = kSlotOutOfRange;
        }
        double* row = table + slot * stride;
        row[0] = 1.0;
        for (int i = 1; i < fields; ++i) {
            const double v = AtoF(tokens.Next(i == fields - 1 ? "\n" : "\t"));
            if (i < stride) row[i] = v;
        }
    });
}

void CheckThresh(double& value, int mode)
{
    if (mode == 1) Clamp(value, 0.0, 100.0);
    else Clamp(value, -144.0, 0.0);
}

void CheckSndRtn(double& value, int mode)
{
    if (mode == 1) Clamp(value, 0.0, 400.0);
    else Clamp(value, -144.0, 12.02);
}

void EQSetA(double gain, double frequency, double rate, double Q, double& A, double& w0,
            double& alpha)
{
    A = std::pow(10.0, gain / 40.0);
    w0 = 2.0 * kPi * frequency / rate;
    alpha = std::sin(w0) / (2.0 * Q);
}

int64_t RawThreshold(double value, bool percent, int slot)
{
    CheckThresh(value, percent ? 1 : 0);
    int64_t raw;
    if (percent) raw = Trunc64(value / 100.0 * kFullScale);
    else raw = Trunc64(std::pow(10.0, value / 20.0) * kFullScale);
    if (slot == 0 || slot >= 128) raw = raw * 256 - 1;
    return raw;
}

Biquad PeakingBiquad(double gain, double frequency, double rate, double Q)
{
    double A, w0, alpha;
    EQSetA(gain, frequency, rate, Q, A, w0, alpha);
    const double a0 = 1.0 + alpha / A;
    Biquad b;
    b.b0 = (1.0 + alpha * A) / a0;
    b.b1 = -2.0 * std::cos(w0) / a0;
    b.b2 = (1.0 - alpha * A) / a0;
    b.a1 = b.b1;
    b.a2 = (1.0 - alpha / A) / a0;
    return b;
}

Biquad HighShelfBiquad(double gain, double frequency, double rate, double Q)
{
    double A, w0, alpha;
    EQSetA(gain, frequency, rate, Q, A, w0, alpha);
    const double c = std::cos(w0);
    const double s = 2.0 * std::sqrt(A) * alpha;
    const double a0 = (A + 1.0) - (A - 1.0) * c + s;
    Biquad b;
    b.b0 = A * ((A + 1.0) + (A - 1.0) * c + s) / a0;
    b.b1 = -2.0 * A * ((A - 1.0) + (A + 1.0) * c) / a0;
    b.b2 = A * ((A + 1.0) + (A - 1.0) * c - s) / a0;
    b.a1 = 2.0 * ((A - 1.0) - (A + 1.0) * c) / a0;
    b.a2 = ((A + 1.0) - (A - 1.0) * c - s) / a0;
    return b;
}

Biquad LowShelfBiquad(double gain, double frequency, double rate, double Q)
{
    double A, w0, alpha;
    EQSetA(gain, frequency, rate, Q, A, w0, alpha);
    const double c = std::cos(w0);
    const double s = 2.0 * std::sqrt(A) * alpha;
    const double a0 = (A + 1.0) + (A - 1.0) * c + s;
    Biquad b;
    b.b0 = A * ((A + 1.0) - (A - 1.0) * c + s) / a0;
    b.b1 = 2.0 * A * ((A - 1.0) - (A + 1.0) * c) / a0;
    b.b2 = A * ((A + 1.0) - (A - 1.0) * c - s) / a0;
    b.a1 = -2.0 * ((A - 1.0) + (A + 1.0) * c) / a0;
    b.a2 = ((A + 1.0) + (A - 1.0) * c - s) / a0;
    return b;
}

Biquad ReverbHighPass(double frequency, double rate)
{
    const double w0 = 2.0 * kPi * frequency / rate;
    const double alpha = std::sin(w0) / 2.0;
    const double a0 = 1.0 + alpha;
    const double c = std::cos(w0);
    Biquad b;
    b.b0 = (1.0 + c) / (2.0 * a0);
    b.b2 = b.b0;
    b.b1 = -(1.0 + c) / a0;
    b.a1 = -2.0 * c / a0;
    b.a2 = (1.0 - alpha) / a0;
    return b;
}

Biquad ReverbLowPass(double frequency, double rate)
{
    const double w0 = 2.0 * kPi * frequency / rate;
    const double alpha = std::sin(w0) / 2.0;
    const double a0 = 1.0 + alpha;
    const double c = std::cos(w0);
    Biquad b;
    b.b0 = (1.0 - c) / (2.0 * a0);
    b.b2 = b.b0;
    b.b1 = (1.0 - c) / a0;
    b.a1 = -2.0 * c / a0;
    b.a2 = (1.0 - alpha) / a0;
    return b;
}

int ReadEffectSettings(Run& run)
{
    EffectSettings& fx = run.fx;
    const char* text = run.cue.text();
    const int verbo = run.prefs.verbo;
    const bool percent = run.prefs.percent;
    const double rate = run.tracks.sampleRate;
    Table t{};

    if (verbo >= 2) std::fprintf(g_console, "Reading effect settings...\n");

    // Compressors and limiter.
    Heading(verbo, "Reading peak compressor settings...");
    ReadCompressor(text, "comp", percent, rate, fx.comp, fx.masterRow[kComp], fx.anyMaster, t);
    ReadCompressor(text, "rms", percent, rate, fx.rms, fx.masterRow[kRms], fx.anyMaster, t);

    Heading(verbo, "Reading NLC compressor settings...");
    ParamsFromBuffer(text, "nlc", t.data(), kParamStride, 4, fx.masterRow[kNlc], fx.anyMaster);
    for (int slot = 0; slot < kValueSlots; ++slot) {
        if (!RowSet(t, slot)) continue;
        const double* v = Row(t, slot);
        fx.nlcFlag[slot] = 1;
        fx.nlcThreshold[slot] = RawThreshold(v[1], percent, slot);
        fx.nlcWindow[slot] = Trunc64(v[2]);
        fx.nlcRatio[slot] = checkValD(v[3], 12, rate);
    }

    ParamsFromBuffer(text, "lim", t.data(), kParamStride, 2, fx.masterRow[kLim], fx.anyMaster);
    for (int slot = 0; slot < kValueSlots; ++slot) {
        if (!RowSet(t, slot)) continue;
        fx.limFlag[slot] = 1;
        fx.limCeiling[slot] = RawThreshold(Row(t, slot)[1], percent, slot);
    }

    // High-pass: c1 feeds back the previous output, c2 scales the input difference.
    Heading(verbo, "Reading high pass filter settings...");
    ParamsFromBuffer(text, "hp", t.data(), kParamStride, 2, fx.masterRow[kHp], fx.anyMaster);
    for (int slot = 0; slot < kValueSlots; ++slot) {
        if (!RowSet(t, slot)) continue;
        const double f = checkValD(Row(t, slot)[1], 20, rate);
        const double rc = 1.0 / (2.0 * kPi * f);
        const double dt = 1.0 / rate;
        fx.hpFlag[slot] = 1;
        fx.hpC1[slot] = (rate - 4.0 * f) / rate;
        fx.hpC2[slot] = rc / (dt + rc);
    }

    // EQ sections 1..4 bands, 5 high shelf, 6 low shelf.
    Heading(verbo, "Reading band 1-4 EQ settings...");
    for (int b = 0; b < 4; ++b)
        ReadEqSection(text, kBandCodes[b], b + 1, static_cast<StripEffect>(kBand1 + b), PeakingBiquad,
                      rate, fx, t);
    Heading(verbo, "Reading high and low shelf EQ settings...");
    ReadEqSection(text, "hshelf", 5, kHshelf, HighShelfBiquad, rate, fx, t);
    ReadEqSection(text, "lshelf", 6, kLshelf, LowShelfBiquad, rate, fx, t);

    // Reverbs.
    Heading(verbo, "Reading reverb settings...");
    ReadSend(text, "rev", percent, fx.revFlag, fx.revSend, fx.masterRev, fx.anyMaster, t);
    ReadSend(text, "trev", percent, fx.trevFlag, fx.trevSend, fx.masterTrev, fx.anyMaster, t);

    ScanRows(text, "rtn", [&](Tokens& tokens) {
        const double level = AtoF(tokens.Next("\t"));
        fx.rtnSize = AtoFf(tokens.Next("\n"));
        fx.rtnLevel = LevelOf(level, percent);
        fx.recursiveOn = true;
        fx.returnsPresent = true;
    });
    ScanRows(text, "trtn", [&](Tokens& tokens) {
        const double level = AtoF(tokens.Next("\t"));
        fx.trtnSize = AtoFf(tokens.Next("\t"));
        fx.tapCount = AtoI(tokens.Next("\n"));
        fx.trtnLevel = LevelOf(level, percent);
        fx.discreteOn = true;
        fx.returnsPresent = true;
    });

    fx.reverbBuffers = fx.recursiveOn || fx.discreteOn || fx.masterRev || fx.masterTrev;
    fx.recursiveSendBuffers = fx.recursiveOn || fx.masterRev;
    fx.discreteSendBuffers = fx.discreteOn || fx.masterTrev;

    if (fx.recursiveOn || fx.masterRev) {
        ScanPrefs(run.prefsFile, "tap", [&](Tokens& tokens) {
            const char* v = tokens.Next("\n");
            if (v != nullptr && std::strcmp(v, "rev") == 0) fx.tapMode = 1;
            else if (v != nullptr && std::strcmp(v, "rtn") == 0) fx.tapMode = 2;
            return true;
        });
        if (fx.tapMode != 0) {
            const std::string& prefix = run.prefs.mixdirSet ? run.prefs.mixdir : std::string();
            fx.tapName = prefix + (fx.tapMode == 1 ? "revTap.wav" : "rtnTap.wav");
        }
    }

    ScanRows(text, "pos", [&](Tokens& tokens) {
        fx.posX = checkValF(AtoFf(tokens.Next("\t")), 100);
        fx.posY = checkValF(AtoFf(tokens.Next("\t")), 100);
        fx.posZ = checkValF(AtoFf(tokens.Next("\n")), 100);
    });
    ScanRows(text, "width", [&](Tokens& tokens) { fx.width = AtoFf(tokens.Next("\n")); });

    double rhp = 0.0, rlp = 0.0;
    ScanRows(text, "rhp", [&](Tokens& tokens) {
        rhp = ReverbFilterFrequency(AtoF(tokens.Next("\n")), 20.0, 12000.0,
                                    "Resetting reverb high pass to 12000 Hz",
                                    "Resetting reverb high pass to 20 Hz");
        fx.rhpPresent = true;
    });
    if (fx.rhpPresent) fx.rhp = ReverbHighPass(rhp, rate);
    ScanRows(text, "rlp", [&](Tokens& tokens) {
        rlp = ReverbFilterFrequency(AtoF(tokens.Next("\n")), 500.0, 16000.0,
                                    "Resetting reverb low pass to 16000 Hz",
                                    "Resetting reverb low pass to 500 Hz");
        fx.rlpPresent = true;
    });
    if (fx.rlpPresent) fx.rlp = ReverbLowPass(rlp, rate);
    // The fixed frequency ranges can reach half the sample rate of a low-rate mix,
    // where the design is unstable and its output runs to infinity: such a
    // filter is left out. From 44100 Hz on both ranges stay below it.
    if (fx.rhpPresent && !(rhp < rate / 2.0)) {
        std::fprintf(g_console,
                     ">> Warning: reverb high pass at %.0f Hz is not below half the sample rate (%.0f Hz); "
                     "the filter is left out.\n",
                     rhp, rate / 2.0);
        fx.rhpPresent = false;
        fx.rhp = Biquad{};
    }
    if (fx.rlpPresent && !(rlp < rate / 2.0)) {
        std::fprintf(g_console,
                     ">> Warning: reverb low pass at %.0f Hz is not below half the sample rate (%.0f Hz); "
                     "the filter is left out.\n",
                     rlp, rate / 2.0);
        fx.rlpPresent = false;
        fx.rlp = Biquad{};
    }

    if (fx.rtnLevel > 1.0f) fx.rtnLevel = 1.0f;
    if (fx.trtnLevel > 1.0f) fx.trtnLevel = 1.0f;
    fx.recursiveReturnGain = fx.rtnLevel < 0.0f ? 0.0f : fx.rtnLevel;
    fx.discreteReturnGain = fx.trtnLevel < 0.0f ? 0.0f : fx.trtnLevel;

    ReadOrderLines(text, fx);

    // Strip markers: channels in the track list and the submix slots.
    const int channels = run.tracks.channels();
    for (int slot = 1; slot < kSlots; ++slot) {
        if (slot > channels && slot < 128) continue;
        bool on = fx.hpFlag[slot] == 1 || fx.comp.flag[slot] == 1 || fx.rms.flag[slot] == 1 ||
                  fx.nlcFlag[slot] == 1 || fx.limFlag[slot] == 1;
        for (int s = 1; s <= 6; ++s) on = on || fx.eqFlag[s][slot] == 1;
        if (on) fx.stripMarker[slot] = 1;
    }
    return 0;
}
