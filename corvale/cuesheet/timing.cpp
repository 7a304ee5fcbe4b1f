#include "corvale/cuesheet/timing.h"

#include <cmath>
#include <cstring>

#include "corvale/run/console.h"
#include "corvale/run/numeric.h"
#include "corvale/run/prefs_keywords.h"
#include "corvale/run/text.h"

namespace {

// a + b without signed overflow: the sum sticks at the int64 range's ends.
int64_t SatAdd(int64_t a, int64_t b)
{
    int64_t r;
    if (__builtin_add_overflow(a, b, &r)) return b > 0 ? INT64_MAX : INT64_MIN;
    return r;
}

// One field read as a double and held in single precision; a missing field is 0.
float FieldF(Tokens& tokens, const char* delims) { return AtoFf(tokens.Next(delims)); }

}  // namespace

void ReadOffset(const char* prefsBody, const TimeContext& ctx, Timing& timing, PrefsNotes* notes)
{
    ScanPrefs(prefsBody, "offset", [&](Tokens& tokens) {
        const char* first = tokens.Next("\t\n");
        if (first != nullptr && std::strcmp(first, "xlink") == 0) {
            timing.offset = ctx.xin;
        } else {
            const float minutes = AtoFf(first);
            const float seconds = FieldF(tokens, "\t");
            const float millis = FieldF(tokens, "\n");
            const float sum = minutes * 60.0f + seconds + millis / 1000.0f;
            timing.offset = Trunc64(static_cast<double>(sum) * ctx.rate);
        }
        std::fprintf(g_console, "Automation offset by %li samples.\n", static_cast<long>(timing.offset));
        return true;
    }, PrefsScan{notes});
}

int ReadTempoMap(const char* body, const TimeContext& ctx, Timing& timing)
{
    if (ctx.announce) std::fprintf(g_console, "Constructing tempo map...\n");
    timing.map.clear();
    ScanKeyword(body, "tmap", [&](Tokens& tokens) {
        TempoSection s;
        s.tempo = AtoF(tokens.Next("\t"));
        s.beatsPerBar = AtoI(tokens.Next("\t"));
        s.bars = AtoI(tokens.Next("\n"));
        timing.map.push_back(s);
        return true;
    });
    if (timing.map.empty()) {
        std::fprintf(g_console, "Tempo mode is on, but no tempos or meters have been entered!\n");
        return 2;
    }
    for (size_t i = 0; i < timing.map.size(); ++i) {
        TempoSection& s = timing.map[i];
        // A tempo that is not a positive finite number (or so small that a beat
        // would last forever) cannot place a beat on the timeline.
        const double spb = ctx.rate * 60.0 / s.tempo;
        if (!(s.tempo > 0.0) || !std::isfinite(s.tempo) || !std::isfinite(spb)) {
            std::fprintf(g_console,
                         "Error:  Tempo on tempo map line %i is not a usable tempo (it must be above 0).\n",
                         static_cast<int>(i + 1));
            return 2;
        }
        s.samplesPerBeat = spb;
        s.length = Trunc64(static_cast<double>(s.beatsPerBar) *
                           (static_cast<double>(s.bars) * s.samplesPerBeat));
    }
    return 0;
}

void ReadTimeFields(const char* prefsBody, const TimeContext& ctx, Timing& timing, PrefsNotes* notes)
{
    ScanPrefs(prefsBody, "tfields", [&](Tokens& tokens) {
        int n = AtoI(tokens.Next("\n"));
        if (n < 1 || n > 3) n = 3;
        timing.tfields = n;
        if (ctx.announce) {
            if (n == 1)
                std::fprintf(g_console, "Using 1 time field\n");
            else
                std::fprintf(g_console, "Using %i time fields\n", n);
        }
        return true;
    }, PrefsScan{notes});
}

int64_t MusicalTime(const Timing& timing, float bar, float beat, float tick)
{
    if (timing.map.empty()) return timing.offset;

    // The section holding the bar: the first one the bar does not lie past.
    size_t k = 0;
    int64_t barsBefore = 0;
    int64_t posBefore = 0;
    if (bar <= 1.0f && beat <= 1.0f && tick == 0.0f) {
        k = 0;
    } else {
        const size_t last = timing.map.size() - 1;
        bool found = false;
        for (size_t i = 0; i < timing.map.size(); ++i) {
            const TempoSection& s = timing.map[i];
            if (!(bar > static_cast<float>(barsBefore + s.bars))) {
                k = i;
                found = true;
                break;
            }
            barsBefore += s.bars;
            posBefore = SatAdd(posBefore, s.length);
        }
        if (!found) k = last;   // past the map: the last section goes on
    }
    const TempoSection& s = timing.map[k];

    const float barTerm = bar - static_cast<float>(barsBefore) - 1.0f;
    int64_t t1 = Trunc64(static_cast<double>(posBefore) +
                         static_cast<double>(barTerm) * s.beatsPerBar * s.samplesPerBeat);
    if (beat > 0.0f)
        t1 = Trunc64(static_cast<double>(t1) + (static_cast<double>(beat) - 1.0) * s.samplesPerBeat);
    else if (beat < 0.0f)
        t1 = Trunc64(static_cast<double>(t1) + static_cast<double>(beat) * s.samplesPerBeat);
    return Trunc64(static_cast<double>(t1) + static_cast<double>(tick) / 480.0 * s.samplesPerBeat +
                   static_cast<double>(timing.offset));
}

int64_t ClockTime(const Timing& timing, double rate, float minutes, float seconds, float millis)
{
    const double secs = static_cast<double>(minutes) * 60.0 + static_cast<double>(seconds) +
                        static_cast<double>(millis) / 1000.0;
    return SatAdd(Trunc64(secs * rate), timing.offset);
}

int64_t ReadTimeValue(Tokens& tokens, const TimeContext& ctx, const Timing& timing)
{
    int64_t time;
    if (ctx.tempo) {
        float bar = 1.0f, beat = 0.0f, tick = 0.0f;
        if (timing.tfields == 1) {
            beat = FieldF(tokens, "\n");
        } else if (timing.tfields == 2) {
            bar = FieldF(tokens, "\t");
            beat = FieldF(tokens, "\n");
        } else {
            bar = FieldF(tokens, "\t");
            beat = FieldF(tokens, "\t");
            tick = FieldF(tokens, "\n");
        }
        time = MusicalTime(timing, bar, beat, tick);
    } else {
        float minutes = 0.0f, seconds = 0.0f, millis = 0.0f;
        if (timing.tfields == 1) {
            seconds = FieldF(tokens, "\n");
        } else if (timing.tfields == 2) {
            minutes = FieldF(tokens, "\t");
            seconds = FieldF(tokens, "\n");
        } else {
            minutes = FieldF(tokens, "\t");
            seconds = FieldF(tokens, "\t");
            millis = FieldF(tokens, "\n");
        }
        time = ClockTime(timing, ctx.rate, minutes, seconds, millis);
    }
    return time;
}

int ReadTimeLine(Tokens& tokens, const TimeContext& ctx, Timing& timing)
{
    const int64_t time = ReadTimeValue(tokens, ctx, timing);
    const int n = timing.entries + 1;
    if (time > ctx.songLength) {
        std::fprintf(g_console, "Error:  Time entry %i exceeds song length\n", n);
        std::fprintf(g_console, "  the entry is at %.6f s (frame %lld); the song ends at %.6f s (frame %lld)\n",
                     static_cast<double>(time) / ctx.rate, static_cast<long long>(time),
                     static_cast<double>(ctx.songLength) / ctx.rate, static_cast<long long>(ctx.songLength));
        return 2;
    }
    if (time < 0) {
        std::fprintf(g_console, "Error:  Time entry %i is less than zero\n", n);
        return 2;
    }
    timing.current = time;
    timing.entries = n;
    return 0;
}

void ReadIncLine(Tokens& tokens, const TimeContext& ctx, Timing& timing)
{
    double seconds = AtoF(tokens.Next("\n"));
    if (std::isnan(seconds)) seconds = 0.0;   // not a number: no move
    timing.current = Trunc64(static_cast<double>(timing.current) + seconds * ctx.rate);
}

void AnnounceTimeEntries(const TimeContext& ctx, const Timing& timing)
{
    if (!ctx.announce) return;
    if (timing.entries == 0)
        std::fprintf(g_console, "No time entries found!\n");
    else if (timing.entries == 1)
        std::fprintf(g_console, "Counted 1 time entry.\n");
    else
        std::fprintf(g_console, "Counted %i time entries.\n", timing.entries);
}
