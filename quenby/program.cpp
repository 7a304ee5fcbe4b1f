// The program: options, loading, and the command loop.
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "quenby/quenby.h"

namespace quenby {

namespace {

void Line(std::FILE* out, const char* text) { std::fprintf(out, "%s\n", text); }

const char kUsage[] =
    "Usage: quenby [CUESHEET [TIMEFIELDS]]\n"
    "       quenby --help | -h\n"
    "       quenby --version\n"
    "\n"
    "Loads the channel cues of a cue sheet (time, level, ramp and shape lines, with\n"
    "\"inc\" and \"ofs\" folded into the times) and lets you nudge and scale their times,\n"
    "change their levels, and print them to the screen or save them to a file as a\n"
    "block of level cues. It asks for commands on standard input.\n"
    "\n"
    "Arguments:\n"
    "  CUESHEET    the cue sheet to load (default: faders.txt)\n"
    "  TIMEFIELDS  fields of its \"t\" lines and of the output (default: 3):\n"
    "              1 = seconds, 2 = minutes and seconds,\n"
    "              3 = minutes, seconds and milliseconds; any other value gives 3\n"
    "\n"
    "Options (only arguments that begin with \"-\" are options):\n"
    "  -h, --help  print this text and exit\n"
    "  --version   print the program's version and exit\n"
    "\n"
    "Exit status:\n"
    "  0  ended by 'x' or by the end of the input; --help, --version\n"
    "  1  the cue sheet could not be opened or read, or a file could not be saved\n"
    "  2  an unknown option\n"
    "\n"
    "See README.md (the quenby section and the behaviour notes) for more.\n";

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

enum class Read { kOk, kCannotOpen, kCannotRead };

Read ReadFile(const char* name, std::string& text, int& error)
{
    std::FILE* f = std::fopen(name, "r");
    if (f == nullptr) {
        error = errno;
        return Read::kCannotOpen;
    }
    char buf[65536];
    size_t n;
    text.clear();
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    const bool failed = std::ferror(f) != 0;
    error = errno;
    std::fclose(f);
    return failed ? Read::kCannotRead : Read::kOk;
}

// One word as scanf("%s") reads it; false at the end of the input.
bool ReadWord(std::FILE* in, std::string& word)
{
    char buf[256];
    if (std::fscanf(in, "%255s", buf) != 1) return false;
    word = buf;
    return true;
}

// Saves text to name, asking first when a file of that name is there. False
// when the file could not be written (a cancelled save is no failure).
bool SaveFile(const std::string& name, const std::string& text, std::FILE* in, std::FILE* out)
{
    struct stat st;
    if (::lstat(name.c_str(), &st) == 0) {
        Line(out, "The file already exists!");
        Line(out, "Type 'o' to overwrite or any other key to cancel");
        std::fflush(out);
        std::string answer;
        if (!ReadWord(in, answer) || answer != "o") return true;
    }
    if (!WriteFileAtomically(name, text, out)) return false;
    Line(out, "Write complete");
    return true;
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
        Line(out, ">> Warning: Not a finite number: nothing changed.");
        return;
    }
    auto trial = std::make_unique<Entries>(e);
    change(*trial, amount);
    if (!AllFinite(*trial)) {
        Line(out, ">> Warning: The result would not be a finite number: nothing changed.");
        return;
    }
    e = *trial;
}

// The preferences file that goes with a cue sheet: prefs.txt in its directory.
std::string PrefsBeside(const std::string& cueSheet)
{
    const size_t slash = cueSheet.rfind('/');
    return (slash == std::string::npos ? std::string() : cueSheet.substr(0, slash + 1)) + "prefs.txt";
}

}  // namespace

int RunQuenby(int argc, char** argv, std::FILE* in, std::FILE* out)
{
    // Options come first: nothing is read or written for them.
    std::vector<const char*> args;
    bool help = false, version = false;
    const char* unknown = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (a[0] != '-')
            args.push_back(a);
        else if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0)
            help = true;
        else if (std::strcmp(a, "--version") == 0)
            version = true;
        else if (unknown == nullptr)
            unknown = a;
    }
    if (unknown != nullptr) {
        std::fprintf(out, "Error: unknown option %s\n%s", unknown, kUsage);
        std::fflush(out);
        return 2;
    }
    if (help || version) {
        std::fprintf(out, "%s", help ? kUsage : "quenby " PROJECT_VERSION_STRING "\n");
        std::fflush(out);
        return 0;
    }

    const std::string name = !args.empty() ? args[0] : "faders.txt";
    int fields = args.size() > 1 ? static_cast<int>(std::strtol(args[1], nullptr, 10)) : 3;
    if (fields < 1 || fields > 3) fields = 3;

    Line(out, "\nQuenby 1.0");
    std::string text;
    int error = 0;
    switch (ReadFile(name.c_str(), text, error)) {
    case Read::kCannotOpen:
        std::fprintf(out, "File %s not found\n", name.c_str());
        std::fprintf(out, "  %s: %s\n", name.c_str(), std::strerror(error));
        Help(out);
        std::fflush(out);
        return 1;
    case Read::kCannotRead:
        std::fprintf(out, "Error: cannot read %s: nothing was loaded.\n", name.c_str());
        std::fprintf(out, "  %s: %s\n", name.c_str(), std::strerror(error));
        std::fflush(out);
        return 1;
    case Read::kOk:
        break;
    }
    auto entries = std::make_unique<Entries>();
    LoadNotes notes;
    ParseBuffer(text, fields, *entries, notes, out);
    Line(out, "\nEntries:");
    for (int c = 0; c < kChannels; ++c)
        if (entries->counts[c] > 0) std::fprintf(out, "ch %i:  %i\n", c, entries->counts[c]);
    const std::string prefs = PrefsBeside(name);
    PrintLoadSummary(notes, name, fields, PrefsTempoOn(prefs, out) ? prefs : std::string(), out);

    int ordering = 2;
    bool saveFailed = false;
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
            if (!SaveFile(file, formatted, in, out)) saveFailed = true;
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
    return saveFailed ? 1 : 0;
}

}  // namespace quenby
