#include "palisar/palisar.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <vector>

namespace palisar {

Answers::Answers()
{
    effects[kHighPass].values = {100.0f, 0.0f, 0.0f, 0.0f};
    effects[kBand1].values = {1000.0f, 0.0f, 1.0f, 0.0f};
    effects[kBand2].values = {500.0f, 0.0f, 1.0f, 0.0f};
    effects[kHighShelf].values = {12000.0f, 0.0f, 1.0f, 0.0f};
    effects[kLowShelf].values = {180.0f, 0.0f, 1.0f, 0.0f};
    effects[kPeakComp].values = {-9.0f, 10.0f, 200.0f, 1.5f};
    effects[kRmsComp].values = {-12.0f, 10.0f, 200.0f, 1.5f};
    effects[kNlcComp].values = {-12.0f, 200.0f, 3.0f, 0.0f};
    effects[kLimiter].values = {-4.0f, 0.0f, 0.0f, 0.0f};
    effects[kRecursiveReverb].values = {-12.0f, 75.0f, 0.0f, 0.0f};
    effects[kDiscreteReverb].values = {-12.0f, 75.0f, 3.0f, 0.0f};
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

bool BlanksFrom(const std::string& line, size_t at)
{
    for (; at < line.size(); ++at)
        if (!IsBlank(line[at])) return false;
    return true;
}

// The answer as quoted in a message: trailing blanks dropped, control bytes
// shown as '?', and cut (on a character boundary) when it is long.
std::string Shown(const std::string& line)
{
    constexpr size_t kLongest = 60;
    size_t n = line.size();
    while (n > 0 && IsBlank(line[n - 1])) --n;
    bool cut = false;
    if (n > kLongest) {
        n = kLongest;
        while (n > 0 && (static_cast<unsigned char>(line[n]) & 0xC0) == 0x80) --n;
        cut = true;
    }
    std::string s = line.substr(0, n);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    if (cut) s += "...";
    return s;
}

}  // namespace

// Skips white space as scanf does (blank lines included), then takes the rest
// of the line. False at the end of the input.
bool AnswerReader::NextLine(std::string& line)
{
    int c;
    do c = std::getc(in_);
    while (c != EOF && std::isspace(c));
    if (c == EOF) {
        why_ = "Error: the input ended before the question was answered; nothing was written.";
        return false;
    }
    line.clear();
    for (; c != EOF && c != '\n'; c = std::getc(in_)) line.push_back(static_cast<char>(c));
    return true;
}

// True when the number read up to at stands alone on its line; otherwise the
// reason the dialogue ends is kept.
bool AnswerReader::Accepts(const std::string& line, size_t at)
{
    if (at > 0 && BlanksFrom(line, at)) return true;
    why_ = "Error: the answer \"" + Shown(line) + "\" is not a number; the dialogue ends and nothing was written.";
    return false;
}

bool AnswerReader::Int(int& value)
{
    std::string line;
    if (!NextLine(line)) return false;
    char* end = nullptr;
    const long long v = std::strtoll(line.c_str(), &end, 10);   // the grammar of "%d"
    if (!Accepts(line, static_cast<size_t>(end - line.c_str()))) return false;
    value = static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
    return true;
}

bool AnswerReader::Float(float& value)
{
    // "nan", "inf" or a number beyond the float range is no usable value: it
    // leaves the value as it was, so the text holds numbers only.
    std::string line;
    if (!NextLine(line)) return false;
    char* end = nullptr;
    const float v = std::strtof(line.c_str(), &end);   // the grammar of "%f"
    if (!Accepts(line, static_cast<size_t>(end - line.c_str()))) return false;
    if (std::isfinite(v)) value = v;
    return true;
}

namespace {

void Add(std::string& text, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n > 0) {
        std::vector<char> line(static_cast<size_t>(n) + 1);
        std::vsnprintf(line.data(), line.size(), format, args);
        text.append(line.data(), static_cast<size_t>(n));
    }
    va_end(args);
}

// Title, header and row format of each effect section.
struct Section {
    Effect effect;
    const char* title;
    const char* header;
};

// The order in which selected effects appear in the text.
const Section kSections[] = {
    {kHighShelf, "\nHigh Shelf\n", "code\tchan\tfreq\tgain\tQ\n"},
    {kBand1, "\nEQ Band 1\n", "code\tchan\tfreq\tgain\tQ\n"},
    {kBand2, "\nEQ Band 2\n", "code\tchan\tfreq\tgain\tQ\n"},
    {kLowShelf, "\nLow Shelf\n", "code\tchan\tfreq\tgain\tQ\n"},
    {kHighPass, "\nHigh Pass Filter\n", "code\tchan\tfreq\n"},
    {kNlcComp, "\nNon-Linear Compressor\n", "code\tchan\tthresh\twindow\tratio\n"},
    {kRmsComp, "\nLinear RMS Compressor\n", "code\tchan\tthesh\tatt\trel\tratio\n"},
    {kPeakComp, "\nLinear Peak Compressor\n", "code\tchan\tthresh\tatt\trel\tratio\n"},
    {kLimiter, "\nLimiter\n", "code\tchan\tthresh\n"},
    {kRecursiveReverb, "\nReverb Send\n", "code\tchan\tlevel\n"},
    {kDiscreteReverb, "\nDiscrete Reverb Send\n", "code\tchan\tlevel\n"},
};

void Row(std::string& t, Effect e, int c, const std::array<float, 4>& v)
{
    const double a = v[0], b = v[1], q = v[2], d = v[3];
    switch (e) {
    case kHighShelf: Add(t, "(hshelf\t%i\t%.0f\t%.1f\t%.1f\n", c, a, b, q); break;
    case kBand1: Add(t, "(band1)\t%i\t%.0f\t%.1f\t%.1f\n", c, a, b, q); break;
    case kBand2: Add(t, "(band2)\t%i\t%.1f\t%.1f\t%.1f\n", c, a, b, q); break;
    case kLowShelf: Add(t, "(lshelf\t%i\t%.0f\t%.1f\t%.1f\n", c, a, b, q); break;
    case kHighPass: Add(t, "(hp)\t%i\t%.0f\n", c, a); break;
    case kNlcComp: Add(t, "(nlc)\t%i\t%.0f\t%.0f\t%.1f\n", c, a, b, q); break;
    case kRmsComp: Add(t, "(rms)\t%i\t%.1f\t%.0f\t%.0f\t%.1f\n", c, a, b, q, d); break;
    case kPeakComp: Add(t, "(comp)\t%i\t%.1f\t%.0f\t%.0f\t%.1f\n", c, a, b, q, d); break;
    case kLimiter: Add(t, "(lim)\t%i\t%.1f\n", c, a); break;
    case kRecursiveReverb: Add(t, "rev\t%i\t%.1f\n", c, 0.0); break;
    case kDiscreteReverb: Add(t, "trev\t%i\t%.1f\n", c, 0.0); break;
    default: break;
    }
}

void Effects(std::string& t, const Answers& a, int channel, bool withTitles)
{
    for (const Section& s : kSections) {
        if (!a.effects[s.effect].selected) continue;
        if (withTitles) {
            t += s.title;
            t += s.header;
        }
        Row(t, s.effect, channel, a.effects[s.effect].values);
    }
}

void PanBlock(std::string& t, const Answers& a)
{
    t += "\nPan\n";
    Add(t, "code\tchan\t%%\n");
    for (int c = 1; c <= a.channels && t.size() <= kTextLimit; ++c) Add(t, "p\t%i\t%.0f\n", c, 0.0);
}

void CueBlock(std::string& t, const Answers& a)
{
    t += "\nCue Times and Fader Levels\n";
    t += "code\tmin\tsec\tmsec\n";
    t += "t\t0\t0\t0\n";
    for (int c = 1; c <= a.channels && t.size() <= kTextLimit; ++c)
        Add(t, "v\t%i\t%.1f\n", c, static_cast<double>(a.fader));
}

}  // namespace

// Every channel loop stops once the text is past the limit: the caller rejects
// such a text anyway, and a count of two billion channels must not be built.
std::string BuildFaderText(const Answers& a)
{
    std::string t = "MixFilename\n";
    if (a.model == 1) {
        for (int c = 1; c <= a.channels && t.size() <= kTextLimit; ++c) {
            Add(t, "\n-- Channel %i --\n", c);
            Effects(t, a, c, true);
            t += "\nPan\n";
            Add(t, "code\tchan\t%%\n");
            Add(t, "p\t%i\t%.0f\n", c, 0.0);
            t += "\nCue Times and Fader Levels\n";
            t += "code\tmin\tsec\tmsec\n";
            t += "t\t0\t0\t0\n";
            Add(t, "v\t%i\t%.1f\n", c, static_cast<double>(a.fader));
            t += "\n";
        }
    } else if (a.model == 2) {
        for (const Section& s : kSections) {
            if (!a.effects[s.effect].selected) continue;
            t += s.title;
            t += s.header;
            for (int c = 1; c <= a.channels && t.size() <= kTextLimit; ++c)
                Row(t, s.effect, c, a.effects[s.effect].values);
        }
        PanBlock(t, a);
        CueBlock(t, a);
    } else if (a.model == 3) {
        for (int c = 1; c <= a.channels && t.size() <= kTextLimit; ++c) {
            if (a.effectsChoice != 3) Add(t, "\n--Channel %i --\n", c);
            Effects(t, a, c, true);
        }
        t += "\n--------------------------\n";
        PanBlock(t, a);
        CueBlock(t, a);
    }
    const auto& rev = a.effects[kRecursiveReverb];
    if (rev.selected) {
        t += "\nRecursive Reverb Return\n";
        t += "code\tlevel\tsize\n";
        Add(t, "(rtn)\t%.1f\t%.0f\n", static_cast<double>(rev.values[0]), static_cast<double>(rev.values[1]));
    }
    const auto& trev = a.effects[kDiscreteReverb];
    if (trev.selected) {
        t += "\nDiscrete Reverb Return\n";
        t += "code\tlevel\tsize\ttaps\n";
        Add(t, "(trtn)\t%.1f\t%.0f\t%.0f\n", static_cast<double>(trev.values[0]),
            static_cast<double>(trev.values[1]), static_cast<double>(trev.values[2]));
    }
    t += "\nend\n";
    return t;
}

namespace {

void Line(std::FILE* out, const char* text) { std::fprintf(out, "%s\n", text); }

const char* kQuestions[kEffectCount] = {
    "Add high pass filter? (1=yes, 2=no)",
    "Add parametric EQ band1? (1=yes, 2=no)",
    "Add parametric EQ band2? (1=yes, 2=no)",
    "Add high shelf EQ? (1=yes, 2=no)",
    "Add low shelf EQ? (1=yes, 2=no)",
    "Add linear peak-sensitive compressor? (1=yes, 2=no)",
    "Add linear rms-sensitive compressor? (1=yes, 2=no)",
    "Add non-linear (traditional) compressor? (1=yes, 2=no)",
    "Add limiter? (1=yes, 2=no)",
    "Add recursive reverb (traditional)? (1=yes, 2=no)",
    "Add discrete reverb? (1=yes, 2=no)",
};

// Prints the prompts of one effect's values and reads them.
struct ValuePrompts {
    Effect effect;
    const char* heading;
    std::array<const char*, 4> prompts;
};

const ValuePrompts kValuePrompts[] = {
    {kHighPass, "\n---EQ: HIGH PASS (LOW CUT) FILTER:", {"cut off frequency (Hz)?", nullptr, nullptr, nullptr}},
    {kLowShelf, "\n---EQ: LOW SHELF ", {"frequency (Hz)?", "gain? (dB)", "Q (freq/bandwidth)?", nullptr}},
    {kBand1, "\n---EQ: BAND 1 (BELL)", {"center frequency (Hz)?", "gain? (dB)", "Q (freq/bandwidth)?", nullptr}},
    {kBand2, "\n---EQ: BAND 2 (BELL)", {"center frequency (Hz)?", "gain? (dB)", "Q (freq/bandwidth)?", nullptr}},
    {kHighShelf, "\n---EQ: HIGH SHELF", {"center frequency (Hz)?", "gain? (dB)", "Q (freq/bandwidth)?", nullptr}},
    {kPeakComp, "\n---LINEAR COMPRESSOR (PEAK SENSING)", {"threshold?", "attack (msec)?", "release (msec)?", "ratio x:1?"}},
    {kRmsComp, "\n---LINEAR COMPRESSOR (RMS SENSING)", {"threshold?", "attack (msec)?", "release (msec)?", "ratio x:1?"}},
    {kNlcComp, "\n---NON-LINEAR (TRADITIONAL) COMPRESSOR (RMS SENSING)", {"threshold?", "sample window?", "ratio X:1?", nullptr}},
    {kLimiter, "\n---LIMITER", {"threshold?", nullptr, nullptr, nullptr}},
    {kRecursiveReverb, "\n---RECURSIVE REVERB", {"reverb return level?", "room length (ft)", nullptr, nullptr}},
    {kDiscreteReverb, "\n---DELAY TAP REVERB", {"reverb return level?", "room length (ft)", "number of taps", nullptr}},
};

// Ends the dialogue: one line saying why, status 1.
__attribute__((format(printf, 2, 3))) int Stop(std::FILE* out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(out, format, args);
    va_end(args);
    std::fputc('\n', out);
    std::fflush(out);
    return 1;
}

}  // namespace

int RunPalisar(std::FILE* in, std::FILE* out, const char* path)
{
    AnswerReader read(in);
    Answers a;
    auto ask = [&](const char* text) {
        Line(out, text);
        std::fflush(out);
    };

    Line(out, "\n---------------------------------------------------------------");
    Line(out, "Palisar (v 1.03.1)");
    Line(out, "\n\nThis program will generate a fader file for Corvale.");
    Line(out, "\nCaution: Any existing fader.txt file in this directory will be overwritten!");
    Line(out, "\nWhich model would you like to use?");
    Line(out, "1. Group effects and volumes by channel (channel strip style).");
    Line(out, "2. Organize by data type (example: show all compressors together).");
    Line(out, "3. Group a channel's effects, but keep volumes together.");
    ask("4. Exit.");
    if (!read.Int(a.model)) return Stop(out, "%s", read.Why().c_str());
    if (a.model == 4) {
        Line(out, "Exiting");
        std::fflush(out);
        return 1;
    }
    if (a.model < 1 || a.model > 4)
        return Stop(out, "Error: there is no model %d (the models are 1 to 4); nothing was written.", a.model);

    ask("Number of channels (1-127)?");
    if (!read.Int(a.channels)) return Stop(out, "%s", read.Why().c_str());
    if (a.channels < 1)
        return Stop(out, "Error: the channel count must be at least 1 (the answer was %d); nothing was written.",
                    a.channels);
    ask("What should the default fader value be?");
    if (!read.Float(a.fader)) return Stop(out, "%s", read.Why().c_str());

    Line(out, "-- Effects --:");
    Line(out, "1. Add all effects");
    Line(out, "2. Choose which to add");
    ask("3. Don't add effects");
    if (!read.Int(a.effectsChoice)) return Stop(out, "%s", read.Why().c_str());
    if (a.effectsChoice < 1 || a.effectsChoice > 3)
        return Stop(out, "Error: there is no effects choice %d (the choices are 1 to 3); nothing was written.",
                    a.effectsChoice);
    if (a.effectsChoice == 1) {
        ask("Use default effect values (1)  or enter new values (2)?");
        if (!read.Int(a.valuesChoice)) return Stop(out, "%s", read.Why().c_str());
        for (auto& e : a.effects) e.selected = true;
    } else if (a.effectsChoice == 2) {
        for (int e = 0; e < kEffectCount; ++e) {
            ask(kQuestions[e]);
            int yes = 0;
            if (!read.Int(yes)) return Stop(out, "%s", read.Why().c_str());
            a.effects[e].selected = yes == 1;
        }
        ask("Use default values (1)  or enter new values (2)?");
        if (!read.Int(a.valuesChoice)) return Stop(out, "%s", read.Why().c_str());
    }

    if (a.valuesChoice == 2) {
        for (const ValuePrompts& p : kValuePrompts) {
            EffectChoice& e = a.effects[p.effect];
            if (!e.selected) continue;
            Line(out, p.heading);
            for (size_t k = 0; k < p.prompts.size() && p.prompts[k] != nullptr; ++k) {
                ask(p.prompts[k]);
                if (!read.Float(e.values[k])) return Stop(out, "%s", read.Why().c_str());
            }
        }
    }

    const std::string text = BuildFaderText(a);
    if (text.size() > kTextLimit)
        return Stop(out, "The fader file would be too large: please ask for fewer channels.");
    const WriteResult written = WriteFaderFile(text, path, out);
    if (!written.ok) {
        std::fflush(out);
        return 1;
    }
    if (!written.backup.empty()) std::fprintf(out, "The previous %s was kept as %s.\n", path, written.backup.c_str());
    Line(out, "The fader file has been created!");
    Line(out, "Remove parenthesis around codes to activate effects.");
    std::fflush(out);
    return 0;
}

}  // namespace palisar
