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

// A compressor's rows, read into t, become its settings.
void KeepCompressor(const Table& t, bool percent, double rate, CompressorSettings& c)
{
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
void KeepEqSection(Table& t, int section, Biquad (*design)(double, double, double, double), double rate,
                   EffectSettings& fx)
{
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

void ReadOrderLines(const char* text, EffectSettings& fx)
{
    for (auto& t : fx.order) t.fill(11);
    Tokens tokens(text);
    for (const char* tok = tokens.Next("\t\n:"); tok != nullptr; tok = tokens.Next("\t\n:")) {
        if (std::strcmp(tok, "end") == 0) break;
        if (!IsOrderToken(tok)) continue;
        const char* code = tokens.Next("\t\n");
        if (code == nullptr) break;
        const SlotField field = ReadSlot(tokens, SlotLine::kOrderLine);
        if (!field.complete) break;
        const char* number = tokens.Next("\t\n");
        if (number == nullptr) break;
        const StripEffectCode* effect = FindStripEffect(code);
        if (field.slot < 0 || field.slot > kSlots - 1 || effect == nullptr) continue;
        fx.order[effect->effect][static_cast<size_t>(field.slot)] = AtoI(number);
    }
}

void Heading(int verbo, const char* text)
{
    if (verbo == 3 && text != nullptr) std::fprintf(g_console, "\t%s\n", text);
}

// Turns the rows of one strip effect, read into t, into its settings.
void KeepEffectRows(StripEffect effect, bool percent, double rate, EffectSettings& fx, Table& t)
{
    switch (effect) {
    case kComp: KeepCompressor(t, percent, rate, fx.comp); break;
    case kRms: KeepCompressor(t, percent, rate, fx.rms); break;
    case kNlc:
        for (int slot = 0; slot < kValueSlots; ++slot) {
            if (!RowSet(t, slot)) continue;
            const double* v = Row(t, slot);
            fx.nlcFlag[slot] = 1;
            fx.nlcThreshold[slot] = RawThreshold(v[1], percent, slot);
            fx.nlcWindow[slot] = Trunc64(v[2]);
            fx.nlcRatio[slot] = checkValD(v[3], 12, rate);
        }
        break;
    case kLim:
        for (int slot = 0; slot < kValueSlots; ++slot) {
            if (!RowSet(t, slot)) continue;
            fx.limFlag[slot] = 1;
            fx.limCeiling[slot] = RawThreshold(Row(t, slot)[1], percent, slot);
        }
        break;
    case kHp:
        // c1 feeds back the previous output, c2 scales the input difference.
        for (int slot = 0; slot < kValueSlots; ++slot) {
            if (!RowSet(t, slot)) continue;
            const double f = checkValD(Row(t, slot)[1], 20, rate);
            const double rc = 1.0 / (2.0 * kPi * f);
            const double dt = 1.0 / rate;
            fx.hpFlag[slot] = 1;
            fx.hpC1[slot] = (rate - 4.0 * f) / rate;
            fx.hpC2[slot] = rc / (dt + rc);
        }
        break;
    // EQ sections 1..4 bands, 5 high shelf, 6 low shelf: the effect's index.
    case kBand1:
    case kBand2:
    case kBand3:
    case kBand4: KeepEqSection(t, effect, PeakingBiquad, rate, fx); break;
    case kHshelf: KeepEqSection(t, effect, HighShelfBiquad, rate, fx); break;
    case kLshelf: KeepEqSection(t, effect, LowShelfBiquad, rate, fx); break;
    }
}

}  // namespace

const StripEffectCode* FindStripEffect(const char* code)
{
    for (const StripEffectCode& c : kStripEffectCodes)
        if (std::strcmp(code, c.code) == 0) return &c;
    return nullptr;
}

int EffectFlag(const EffectSettings& fx, StripEffect effect, int slot)
{
    switch (effect) {
    case kHp: return fx.hpFlag[slot];
    case kBand1:
    case kBand2:
    case kBand3:
    case kBand4:
    case kHshelf:
    case kLshelf: return fx.eqFlag[effect][slot];  // the section number is the effect's index
    case kRms: return fx.rms.flag[slot];
    case kNlc: return fx.nlcFlag[slot];
    case kComp: return fx.comp.flag[slot];
    case kLim: return fx.limFlag[slot];
    }
    return 0;  // not reached: every effect has its case above
}

void ParamsFromBuffer(const char* text, const char* code, double* table, int stride, int fields,
                      int& masterFlag, int& anyMasterFlag)
{
    std::memset(table, 0, sizeof(double) * static_cast<size_t>(kValueSlots * stride));
    ScanRows(text, code, [&](Tokens& tokens) {
        const SlotField field = ReadSlot(tokens, SlotLine::kRow);
        if (!field.present) return;  // a code at the very end of the text names no slot
        if (field.master) {
            masterFlag = 1;
            anyMasterFlag = 1;
        }
        const int slot = RowSlot(field);
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

    for (const StripEffectCode& e : kStripEffectCodes) {
        Heading(verbo, e.heading);
        ParamsFromBuffer(text, e.code, t.data(), kParamStride, e.values + 1, fx.masterRow[e.effect], fx.anyMaster);
        KeepEffectRows(e.effect, percent, rate, fx, t);
    }

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
        for (const StripEffectCode& e : kStripEffectCodes)
            if (EffectFlag(fx, e.effect, slot) == 1) fx.stripMarker[slot] = 1;
    }
    return 0;
}
