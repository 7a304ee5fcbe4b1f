#include "quenby/quenby.h"

#include <cmath>
#include <cstdarg>
#include <memory>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace quenby {

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

// Tokens of a private copy, read as strtok reads them with a delimiter set per call.
class Tokens {
public:
    explicit Tokens(const std::string& text) : buf_(text.c_str(), text.c_str() + std::strlen(text.c_str()) + 1) {}
    const char* Next(const char* delims)
    {
        char* s = buf_.data() + pos_;
        s += std::strspn(s, delims);
        if (*s == '\0') {
            pos_ = static_cast<size_t>(s - buf_.data());
            return nullptr;
        }
        char* stop = std::strpbrk(s, delims);
        if (stop == nullptr) {
            pos_ = static_cast<size_t>(s - buf_.data()) + std::strlen(s);
        } else {
            *stop = '\0';
            pos_ = static_cast<size_t>(stop - buf_.data()) + 1;
        }
        return s;
    }

private:
    std::vector<char> buf_;
    size_t pos_ = 0;
};

float ReadFloat(const char* s) { return s ? static_cast<float>(std::strtod(s, nullptr)) : 0.0f; }

void TimeLine(std::string& out, float t, int fields)
{
    if (fields == 1) {
        Add(out, "\nt\t%.3f\n", static_cast<double>(t));
    } else if (fields == 2) {
        Add(out, "\nt\t%.0f\t%.3f\n", 0.0, static_cast<double>(t));
    } else {
        // Whole seconds truncated toward zero; adding +0 keeps -0.5 s printing "0".
        const float whole = std::trunc(t) + 0.0f;
        Add(out, "\nt\t%.0f\t%.0f\t%.0f\n", 0.0, static_cast<double>(whole),
            static_cast<double>((t - whole) * 1000.0f));
    }
}

void Line(std::FILE* out, const char* text) { std::fprintf(out, "%s\n", text); }

void Help(std::FILE* out)
{
    const char* lines[] = {
        "\nHelp:",
        "This program is used to adjust a file called faders.txt.",
        "This is a file that controls the Corvale program.",
        "\nYou can load in a different filename as the 1st argument.",
        "\nYou can set the time fields with the 2nd argument.",
        "1 = time in seconds",
        "2 = time in minutes and seconds",
        "3 = time in minutes, seconds and milliseconds. (default)",
        "You can change the fields after you have the correct fields to",
        "load the file initially.",
        "\nOnce the file is loaded correctly, you can scale times and volumes,",
        "nudge times, and change formatting.\n",
    };
    for (const char* l : lines) Line(out, l);
}

void Menu(std::FILE* out)
{
    const char* lines[] = {"'nt' to nudge times", "'st' to scale times", "'av' to adjust volumes",
                           "'ps' to print to screen", "'pf' to print to file",
                           "'cf' to change number of time fields", "'co' to change ordering mode",
                           "'x' to exit"};
    for (const char* l : lines) Line(out, l);
}

bool ReadFile(const char* name, std::string& text)
{
    std::FILE* f = std::fopen(name, "r");
    if (f == nullptr) return false;
    char buf[65536];
    size_t n;
    text.clear();
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
    return true;
}

// One word as scanf("%s") reads it; false at the end of the input.
bool ReadWord(std::FILE* in, std::string& word)
{
    char buf[256];
    if (std::fscanf(in, "%255s", buf) != 1) return false;
    word = buf;
    return true;
}

void SaveFile(const std::string& name, const std::string& text, std::FILE* in, std::FILE* out)
{
    if (std::FILE* probe = std::fopen(name.c_str(), "r")) {
        std::fclose(probe);
        Line(out, "The file already exists!");
        Line(out, "Type 'o' to overwrite or any other key to cancel");
        std::fflush(out);
        std::string answer;
        if (!ReadWord(in, answer) || answer != "o") return;
    }
    std::FILE* f = std::fopen(name.c_str(), "w");
    if (f == nullptr) {
        std::fprintf(out, "Cannot create %s: nothing was written.\n", name.c_str());
        return;
    }
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) == 0 && ok)
        Line(out, "Write complete");
    else
        std::fprintf(out, "Error writing %s: the file is incomplete.\n", name.c_str());
}

bool AllFinite(const Entries& e)
{
    for (int c = 0; c < kChannels; ++c)
        for (int k = 0; k < e.counts[c]; ++k)
            if (!std::isfinite(e.times[c][k]) || !std::isfinite(e.levels[c][k]) || !std::isfinite(e.ramps[c][k]))
                return false;
    return true;
}

// Applies a change to the entries unless it would leave a value that is not a
// finite number (an answer of "nan" or "inf", or a result beyond the range of a
// float); then it says so and keeps the entries as they were.
template <typename Change>
void ApplyFinite(Entries& e, float amount, Change change, std::FILE* out)
{
    if (!std::isfinite(amount)) {
        Line(out, "Not a finite number: nothing changed.");
        return;
    }
    auto trial = std::make_unique<Entries>(e);
    change(*trial, amount);
    if (!AllFinite(*trial)) {
        Line(out, "The result would not be a finite number: nothing changed.");
        return;
    }
    e = *trial;
}

}  // namespace

void ParseBuffer(const std::string& text, int timeFields, Entries& e, std::FILE* out)
{
    Tokens tokens(text);
    const char* tok = tokens.Next("\t\n");
    if (tok == nullptr) return;
    e.title.assign(tok, std::strlen(tok) < 1023 ? std::strlen(tok) : 1023);
    float current = 0.0f;
    int lastChannel = -1;
    bool warnedRamp = false;
    while ((tok = tokens.Next("\t\n")) != nullptr) {
        if (std::strcmp(tok, "t") == 0) {
            float minutes = 0.0f, seconds = 0.0f, ms = 0.0f;
            if (timeFields == 3) {
                minutes = ReadFloat(tokens.Next("\t"));
                seconds = ReadFloat(tokens.Next("\t"));
                ms = ReadFloat(tokens.Next("\n"));
            } else if (timeFields == 2) {
                minutes = ReadFloat(tokens.Next("\t"));
                seconds = ReadFloat(tokens.Next("\n"));
            } else {
                seconds = ReadFloat(tokens.Next("\n"));
            }
            const float time = ms / 1000.0f + seconds + minutes * 60.0f;
            if (!std::isfinite(time)) {
                std::fprintf(out, "Skipping a time line that is not a finite number of seconds.\n");
                continue;
            }
            current = time;
        } else if (std::strcmp(tok, "v") == 0) {
            const char* ch = tokens.Next("\t");
            const float level = ReadFloat(tokens.Next("\n"));
            if (ch != nullptr && (ch[0] == 'G' || ch[0] == 'M')) {
                std::fprintf(out, "Skipping a level line for a submix or the master (%s).\n", ch);
                lastChannel = -1;
                continue;
            }
            if (!std::isfinite(level)) {
                std::fprintf(out, "Skipping a level line whose level is not a finite number.\n");
                lastChannel = -1;
                continue;
            }
            const long channel = ch ? std::strtol(ch, nullptr, 10) : 0;
            if (channel < 0 || channel >= kChannels) {
                std::fprintf(out, "Skipping a level line for channel %li: channels are 0 to 127.\n", channel);
                lastChannel = -1;
                continue;
            }
            const int c = static_cast<int>(channel);
            if (e.counts[c] >= kEntries) {
                std::fprintf(out, "Skipping entry %i of channel %i: a channel holds 512 entries.\n",
                             e.counts[c] + 1, c);
                lastChannel = -1;
                continue;
            }
            const int k = e.counts[c]++;
            e.times[c][k] = current;
            e.levels[c][k] = level;
            e.ramps[c][k] = 0.0f;
            lastChannel = c;
        } else if (std::strcmp(tok, "rmp") == 0) {
            const float ramp = ReadFloat(tokens.Next("\n"));
            if (!std::isfinite(ramp)) {
                std::fprintf(out, "Skipping a ramp that is not a finite number of seconds.\n");
                continue;
            }
            if (lastChannel < 0) {
                if (!warnedRamp) std::fprintf(out, "Skipping a ramp that follows no level line.\n");
                warnedRamp = true;
                continue;
            }
            e.ramps[lastChannel][e.counts[lastChannel] - 1] = ramp;
        }
    }
}

float FindMax(const Entries& e)
{
    float max = 0.0f;
    for (int c = 0; c < kChannels; ++c)
        for (int k = 0; k < e.counts[c]; ++k)
            if (e.times[c][k] > max) max = e.times[c][k];
    return max;
}

float FindMin(const Entries& e, float max)
{
    float min = max;
    for (int c = 0; c < kChannels; ++c)
        for (int k = 0; k < e.counts[c]; ++k)
            if (e.times[c][k] < min) min = e.times[c][k];
    return min;
}

void ScaleTimes(Entries& e, float factor)
{
    for (int c = 0; c < kChannels; ++c)
        for (int k = 0; k < e.counts[c]; ++k) {
            e.times[c][k] *= factor;
            e.ramps[c][k] *= factor;
        }
}

void MoveTimes(Entries& e, float seconds)
{
    for (int c = 0; c < kChannels; ++c)
        for (int k = 0; k < e.counts[c]; ++k) e.times[c][k] += seconds;
}

void AdjustVolumes(Entries& e, float dB)
{
    for (int c = 0; c < kChannels; ++c)
        for (int k = 0; k < e.counts[c]; ++k) e.levels[c][k] += dB;
}

bool ScanTimes(const Entries& e, float time, float& next)
{
    bool found = false;
    for (int c = 0; c < kChannels; ++c)
        for (int k = 0; k < e.counts[c]; ++k) {
            const float t = e.times[c][k];
            if (t > time && (!found || t < next)) {
                next = t;
                found = true;
            }
        }
    return found;
}

std::string Format1(const Entries& e, int timeFields)
{
    std::string out;
    Add(out, "%s\n\n", e.title.c_str());
    for (int c = 0; c < kChannels; ++c)
        for (int k = 0; k < e.counts[c]; ++k) {
            TimeLine(out, e.times[c][k], timeFields);
            Add(out, "v\t%i\t%.2f\n", c, static_cast<double>(e.levels[c][k]));
            if (e.ramps[c][k] != 0.0f) Add(out, "rmp\t%.3f\n", static_cast<double>(e.ramps[c][k]));
            out += "\n";
        }
    return out;
}

std::string Format2(const Entries& e, int timeFields)
{
    std::string out;
    Add(out, "%s\n\n", e.title.c_str());
    float t = 0.0f;
    bool more = ScanTimes(e, -1.0f, t);
    while (more) {
        TimeLine(out, t, timeFields);
        for (int c = 0; c < kChannels; ++c)
            for (int k = 0; k < e.counts[c]; ++k) {
                if (e.times[c][k] != t) continue;
                Add(out, "v\t%i\t%.2f\n", c, static_cast<double>(e.levels[c][k]));
                if (e.ramps[c][k] != 0.0f) Add(out, "rmp\t%.3f\n", static_cast<double>(e.ramps[c][k]));
            }
        float next = 0.0f;
        more = ScanTimes(e, t, next);
        t = next;
    }
    return out;
}

int RunQuenby(int argc, char** argv, std::FILE* in, std::FILE* out)
{
    const char* name = argc > 1 ? argv[1] : "faders.txt";
    int fields = argc > 2 ? static_cast<int>(std::strtol(argv[2], nullptr, 10)) : 3;
    if (fields < 1 || fields > 3) fields = 3;

    Line(out, "\nQuenby 1.0");
    std::string text;
    if (!ReadFile(name, text)) {
        std::fprintf(out, "File %s not found\n", name);
        Help(out);
        std::fflush(out);
        return 1;
    }
    auto entries = std::make_unique<Entries>();
    ParseBuffer(text, fields, *entries, out);
    Line(out, "\nEntries:");
    for (int c = 0; c < kChannels; ++c)
        if (entries->counts[c] > 0) std::fprintf(out, "ch %i:  %i\n", c, entries->counts[c]);

    int ordering = 2;
    std::string command;
    do {
        const float max = FindMax(*entries);
        const float min = FindMin(*entries, max);
        std::fprintf(out, "\nFirst time at %.3f\n", static_cast<double>(min));
        std::fprintf(out, "Last time at  %.3f\n\n", static_cast<double>(max));
        Menu(out);
        std::fflush(out);
        if (!ReadWord(in, command)) break;   // end of input: leave like "x"
        if (command == "st") {
            Line(out, "Enter scale factor (0.001 to 1000)");
            std::fflush(out);
            float factor = 0.0f;
            if (std::fscanf(in, "%f", &factor) == 1 && factor >= 0.001f && factor <= 1000.0f)
                ApplyFinite(*entries, factor, ScaleTimes, out);
        } else if (command == "nt") {
            Line(out, "Enter nudge amount in seconds");
            std::fflush(out);
            float amount = 0.0f;
            if (std::fscanf(in, "%f", &amount) == 1) ApplyFinite(*entries, amount, MoveTimes, out);
        } else if (command == "av") {
            Line(out, "Enter change in dB");
            std::fflush(out);
            float amount = 0.0f;
            if (std::fscanf(in, "%f", &amount) == 1) ApplyFinite(*entries, amount, AdjustVolumes, out);
        } else if (command == "ps") {
            const std::string formatted = ordering == 1 ? Format1(*entries, fields) : Format2(*entries, fields);
            std::fprintf(out, "\n%s\n", formatted.c_str());
        } else if (command == "pf") {
            const std::string formatted = ordering == 1 ? Format1(*entries, fields) : Format2(*entries, fields);
            Line(out, "Enter filename");
            std::fflush(out);
            std::string file;
            if (!ReadWord(in, file)) break;
            SaveFile(file, formatted, in, out);
        } else if (command == "cf") {
            std::fprintf(out, "Currently using %i time fields\n", fields);
            Line(out, "Enter new value (1-3)");
            std::fflush(out);
            int value = 0;
            if (std::fscanf(in, "%i", &value) != 1) value = 0;
            fields = value >= 1 && value <= 3 ? value : 3;
        } else if (command == "co") {
            if (ordering == 1) {
                Line(out, "Currently ordered by channels");
                Line(out, "Enter 's' to switch to ordering by times");
                Line(out, "Enter 'k' to keep ordering by channels");
            } else {
                Line(out, "Currently ordered by times");
                Line(out, "Enter 's' to switch to ordering by channels");
                Line(out, "Enter 'k' to keep ordering by times");
            }
            std::fflush(out);
            if (!ReadWord(in, command)) break;
            if (command == "s") ordering = ordering == 1 ? 2 : 1;
        }
    } while (command != "x");
    std::fflush(out);
    return 0;
}

}  // namespace quenby
