// The passes that run over the automation tables after the cue pass: static
// trims ("trim", "scale", "mtrim"), the level check, the warning for entries
// that playback would skip, the default ramps and the ramp clamp.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "corvale/cuesheet/cuesheet.h"
#include "corvale/cuesheet/levels.h"
#include "corvale/run/console.h"
#include "corvale/run/numeric.h"
#include "corvale/run/run.h"
#include "corvale/run/text.h"

namespace {

constexpr int64_t kLevelCeiling = 536870912;  // 2^29, +12.04 dB
constexpr double kDefaultRampRate = 192.0;    // dB per second


// Entry count of a slot or VCA, never beyond the table.
int Entries(int count) { return std::clamp(count, 0, kEntries); }

// Multiplies every row of slots 1..127 by factor.
void ScaleChannelRows(AutomationTables& t, double factor)
{
    for (auto& row : t.level)
        for (int slot = 1; slot <= kMaxChannels; ++slot)
            row[slot] = Trunc64(static_cast<double>(row[slot]) * factor);
}

// The slots that get default ramps and clamps: 0..trackCount and 128..136.
template <class F>
void ForFaderSlots(int trackCount, F&& f)
{
    const int last = std::clamp(trackCount, 0, kMaxChannels);
    for (int slot = 0; slot <= last; ++slot) f(slot);
    for (int slot = SubmixSlot(1); slot < kSlots; ++slot) f(slot);
}

// a + b and a - b held at the ends of the 64-bit range instead of wrapping
// (a ramp from a tiny dbps can be huge).
int64_t SaturatedAdd(int64_t a, int64_t b)
{
    int64_t sum;
    if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? INT64_MAX : INT64_MIN;
    return sum;
}

int64_t SaturatedSub(int64_t a, int64_t b)
{
    int64_t diff;
    if (__builtin_sub_overflow(a, b, &diff)) return b < 0 ? INT64_MAX : INT64_MIN;
    return diff;
}

// A ramp that would run past the next entry's time ends at that time.
template <class Table>
void ClampRamps(const Table& time, Table& ramp, int column, int count)
{
    for (int e = 0; e + 1 < count; ++e) {
        if (SaturatedAdd(time[e][column], ramp[e][column]) > time[e + 1][column])
            ramp[e][column] = SaturatedSub(time[e + 1][column], time[e][column]);
    }
}

}  // namespace

void TrimPass(Run& run)
{
    const double ceiling = std::pow(10.0, 24.0 / 20.0);
    std::array<double, kSlots> trim;
    std::array<bool, kSlots> on{};
    trim.fill(1.0);

    ScanKeyword(run.cue.text(), "trim", [&](Tokens& tokens) {
        const int slot = ReadSlotField(tokens);
        const double value = AtoF(tokens.Next("\n"));
        const double gain = run.prefs.percent ? value / 100.0 : std::pow(10.0, value / 20.0);
        if (!(gain <= ceiling)) {  // NaN is bypassed too
            std::fprintf(g_console, "Channel %i volume trim set above 24 dB. Trim bypassed.\n", slot);
            return true;
        }
        trim[slot] = gain;
        on[slot] = true;
        return true;
    });

    for (int slot = 0; slot < kSlots; ++slot) {
        if (!on[slot]) continue;
        for (auto& row : run.automation.level)
            row[slot] = Trunc64(static_cast<double>(row[slot]) * trim[slot]);
    }
}

void ScalePass(Run& run)
{
    bool on = false;
    double factor = 1.0;
    ScanKeyword(run.cue.text(), "scale", [&](Tokens& tokens) {
        const double value = AtoF(tokens.Next("\n"));
        if (!(value <= 8.0)) {
            std::fprintf(g_console, "Scale function value is set above 8.  Scale bypassed\n");
            return true;
        }
        factor = value;  // a bypassed line never replaces an accepted factor
        on = true;
        return true;
    });
    if (on) ScaleChannelRows(run.automation, factor);
}

void MasterTrimPass(Run& run)
{
    bool on = false;
    double factor = 1.0;
    ScanKeyword(run.cue.text(), "mtrim", [&](Tokens& tokens) {
        const double dB = AtoF(tokens.Next("\n"));
        if (!(dB <= 24.0)) {
            std::fprintf(g_console, "Master Trim is set above allowed value of 24 dB\n Master trim bypassed\n");
            return true;
        }
        factor = std::pow(10.0, dB / 20.0);
        on = true;
        return true;
    });
    if (on) ScaleChannelRows(run.automation, factor);
}

void LevelCheck(AutomationTables& tables)
{
    for (int slot = 0; slot < kSlots; ++slot) {
        const int count = Entries(tables.count[slot]);
        for (int e = 0; e < count; ++e) {
            int64_t& level = tables.level[e][slot];
            if (level > kLevelCeiling || level < -kLevelCeiling) {
                level = 0;
                std::fprintf(g_console,
                             ">> Warning! Volume entry %i on channel %i is above +12 dB.  \nEntry reset to -144 dB\n",
                             e + 1, slot);
            }
        }
    }
}

void OrderWarnings(const AutomationTables& tables)
{
    for (int slot = 0; slot < kSlots; ++slot) {
        const int count = Entries(tables.count[slot]);
        for (int e = 1; e < count; ++e) {
            if (tables.time[e][slot] <= tables.time[e - 1][slot]) {
                std::fprintf(g_console,
                             ">> Warning: fader %i (entry %i) is not later than the entry before it; "
                             "playback may skip it\n",
                             slot, e + 1);
                break;
            }
        }
    }
    for (int vca = 0; vca < kVcas; ++vca) {
        const int count = Entries(tables.vcaCount[vca]);
        for (int e = 1; e < count; ++e) {
            if (tables.vcaTime[e][vca] <= tables.vcaTime[e - 1][vca]) {
                std::fprintf(g_console,
                             ">> Warning: vca %i (entry %i) is not later than the entry before it; "
                             "playback may skip it\n",
                             vca, e + 1);
                break;
            }
        }
    }
}

void DefaultRamps(AutomationTables& tables, int trackCount, double rate, double dbps)
{
    const double r = dbps > 0.0 ? dbps : kDefaultRampRate;
    const double samplesPerdB = rate / r;
    ForFaderSlots(trackCount, [&](int slot) {
        const int count = Entries(tables.count[slot]);
        if (count < 2) return;
        for (int e = 1; e < count; ++e) {
            if (tables.ramp[e][slot] != 0) continue;
            const double step = std::fabs(LevelTodB(tables.level[e][slot]) - LevelTodB(tables.level[e - 1][slot]));
            tables.ramp[e][slot] = Trunc64(step * samplesPerdB);
        }
    });
}

void RampClamp(AutomationTables& tables, int trackCount)
{
    ForFaderSlots(trackCount, [&](int slot) {
        ClampRamps(tables.time, tables.ramp, slot, Entries(tables.count[slot]));
    });
    for (int vca = 1; vca < kVcas; ++vca)
        ClampRamps(tables.vcaTime, tables.vcaRamp, vca, Entries(tables.vcaCount[vca]));
}
