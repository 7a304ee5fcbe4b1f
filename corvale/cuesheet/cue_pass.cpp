// The cue pass: one walk over the cue-sheet tokens that reads the time lines,
// the level entries of faders and VCAs with their ramps, offsets and shapes, and
// the pan and polarity of every slot.
#include <array>
#include <climits>
#include <cmath>
#include <cstring>

#include "corvale/cuesheet/levels.h"
#include "corvale/run/console.h"
#include "corvale/run/numeric.h"
#include "corvale/run/run.h"
#include "corvale/run/text.h"

namespace {

enum class Target { kNone, kFader, kVca };

// The entry that "rmp", "ofs" and "shape" act on.
struct Cursor {
    Target kind = Target::kNone;
    int index = 0;   // slot or VCA number
    int entry = 0;
};

// An integer field held in the int range (huge values stay huge instead of wrapping).
int ClampedInt(const char* field)
{
    const long v = AtoL(field);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

}  // namespace

double CheckFader(double value, bool percent, int slot, int entry)
{
    if (percent) {
        if (value > 400.0) {
            std::fprintf(g_console, ">> Warning: fader %i (entry %i) set above 400 percent\n", slot, entry);
            return 400.0;
        }
        if (value < 0.0) {
            std::fprintf(g_console, ">> Warning: fader %i (entry %i) set below 0 percent\n", slot, entry);
            return 0.0;
        }
        return std::isnan(value) ? 0.0 : value;
    }
    if (value > 12.02) {
        std::fprintf(g_console, ">> Warning: fader %i (entry %i) set above 12.02 dB\n", slot, entry);
        return 12.02;
    }
    if (!(value >= -144.0)) return -144.0;   // below the floor, or not a number
    return value;
}

int64_t FaderLevel(double value, bool percent)
{
    const double ratio = percent ? value / 100.0 : std::pow(10.0, value / 20.0);
    return Trunc64(ratio * 134217728.0);
}

int CuePass(Run& run)
{
    const TimeContext ctx = CueTimeContext(run);
    AutomationTables& t = run.automation;
    Timing& timing = run.timing;
    const bool percent = run.prefs.percent;

    if (ctx.announce) std::fprintf(g_console, "Reading volume and pan settings...\n");

    Cursor cursor;
    float shift = 0.0f;   // "ofs" shift of the latest "v" entry, in samples
    // Lines past the 512 entries of a fader or VCA: the first is reported as it
    // comes, the rest are counted and reported once after the pass (a huge cue
    // sheet must not print a line for each).
    std::array<int, kSlots> faderOverflow{};
    std::array<int, kVcas> vcaOverflow{};

    Tokens tokens(run.cue.text());
    for (const char* tok = tokens.Next("\t\n"); tok != nullptr; tok = tokens.Next("\t\n")) {
        if (std::strcmp(tok, "end") == 0) break;

        if (std::strcmp(tok, "t") == 0) {
            if (const int status = ReadTimeLine(tokens, ctx, timing)) return status;
        } else if (std::strcmp(tok, "inc") == 0) {
            ReadIncLine(tokens, ctx, timing);
        } else if (std::strcmp(tok, "v") == 0) {
            bool master = false;
            const int slot = ReadSlotField(tokens, &master);
            if (slot >= 128) t.subFaderFlag[static_cast<size_t>(slot - 127)] = 1;
            if (master) t.masterFaderFlag = 1;
            const double value = AtoF(tokens.Next("\n"));
            const int e = t.count[static_cast<size_t>(slot)];
            if (e >= kEntries) {
                if (faderOverflow[static_cast<size_t>(slot)]++ == 0)
                    std::fprintf(g_console,
                                 ">> Warning: fader %i (entry %i) is past the 512 entries of a fader; line ignored\n",
                                 slot, e + 1);
                cursor.kind = Target::kNone;
                continue;
            }
            const double checked = CheckFader(value, percent, slot, e + 1);
            t.time[e][slot] = timing.current;
            t.level[e][slot] = FaderLevel(checked, percent);
            t.count[slot] = e + 1;
            cursor = {Target::kFader, slot, e};
            shift = 0.0f;
        } else if (std::strcmp(tok, "vca") == 0) {
            long n = AtoL(tokens.Next("\t"));
            if (n < 0 || n >= kVcas) n = 0;
            const int v = static_cast<int>(n);
            const double value = AtoF(tokens.Next("\n"));
            const int e = t.vcaCount[static_cast<size_t>(v)];
            if (e >= kEntries) {
                if (vcaOverflow[static_cast<size_t>(v)]++ == 0)
                    std::fprintf(g_console,
                                 ">> Warning: vca %i (entry %i) is past the 512 entries of a vca; line ignored\n",
                                 v, e + 1);
                cursor.kind = Target::kNone;
                continue;
            }
            const double checked = CheckFader(value, percent, v, e + 1);
            t.vcaTime[e][v] = timing.current;
            t.vcaLevel[e][v] = FaderLevel(checked, percent);
            t.vcaCount[v] = e + 1;
            cursor = {Target::kVca, v, e};
        } else if (std::strcmp(tok, "rmp") == 0) {
            const double seconds = AtoF(tokens.Next("\n"));
            if (cursor.kind == Target::kNone) continue;
            const bool fader = cursor.kind == Target::kFader;
            int64_t ramp = Trunc64(seconds * ctx.rate);
            if (timing.current == 0 || cursor.entry == 0) {
                std::fprintf(g_console,
                             "Error:  A ramp was found under an initial volume entry (channel %i).\n"
                             "This is for initial volume only.\n",
                             cursor.index);
                ramp = 0;
            }
            // Does the ramp run past the end of the song?
            const float sum = static_cast<float>(timing.current) + shift + static_cast<float>(ramp);
            if (static_cast<double>(sum) > static_cast<double>(ctx.songLength)) {
                ramp = Trunc64(static_cast<double>(ctx.songLength) -
                               (static_cast<double>(timing.current) + static_cast<double>(shift)));
                std::fprintf(g_console,
                             fader ? "Adjusted volume ramp that exceeded song length (channel %i)\n"
                                   : "Adjusted vca ramp that exceeded song length (channel %i)\n",
                             cursor.index);
            }
            if (ramp < 0) {
                std::fprintf(g_console,
                             fader ? "Error:  Time entry for volume ramp is less than zero. Ramp reset to 0.\n"
                                   : "Error:  Time entry for vca ramp is less than zero. Ramp reset to 0.\n");
                ramp = 0;
            }
            if (fader)
                t.ramp[cursor.entry][cursor.index] = ramp;
            else
                t.vcaRamp[cursor.entry][cursor.index] = ramp;
        } else if (std::strcmp(tok, "ofs") == 0) {
            const double seconds = AtoF(tokens.Next("\n"));
            if (cursor.kind != Target::kFader) continue;   // only "v" entries move
            shift = static_cast<float>(seconds * ctx.rate);
            if (std::isnan(shift)) shift = 0.0f;   // not a number: no shift
            int64_t& time = t.time[cursor.entry][cursor.index];
            time = Trunc64(static_cast<double>(time) + static_cast<double>(shift));
        } else if (std::strcmp(tok, "shape") == 0) {
            const float exponent = AtoFf(tokens.Next("\n"));
            if (cursor.kind == Target::kNone) continue;
            if (!(exponent >= 0.125f && exponent <= 8.0f)) continue;
            if (cursor.kind == Target::kFader)
                t.shape[cursor.entry][cursor.index] = exponent;
            else
                t.vcaShape[cursor.entry][cursor.index] = exponent;
        } else if (std::strcmp(tok, "p") == 0) {
            const int slot = ReadSlotField(tokens);
            run.pan.pan[static_cast<size_t>(slot)] = ClampedInt(tokens.Next("\n"));
        } else if (std::strcmp(tok, "pol") == 0) {
            const int slot = ReadSlotField(tokens);
            const long value = AtoL(tokens.Next("\n"));
            run.pan.polarity[static_cast<size_t>(slot)] = (value == -1 || value == 1) ? value : 1;
        }
    }

    for (int slot = 0; slot < kSlots; ++slot)
        if (faderOverflow[static_cast<size_t>(slot)] > 1)
            std::fprintf(g_console, ">> Warning: fader %i: %i lines past its 512 entries were ignored in all\n", slot,
                         faderOverflow[static_cast<size_t>(slot)]);
    for (int v = 0; v < kVcas; ++v)
        if (vcaOverflow[static_cast<size_t>(v)] > 1)
            std::fprintf(g_console, ">> Warning: vca %i: %i lines past its 512 entries were ignored in all\n", v,
                         vcaOverflow[static_cast<size_t>(v)]);

    AnnounceTimeEntries(ctx, timing);
    return 0;
}
