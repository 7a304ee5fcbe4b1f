#include "quenby/quenby.h"

#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "quenby/text.h"

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

float ReadFloat(const char* s) { return s ? static_cast<float>(std::strtod(s, nullptr)) : 0.0f; }

const char* Plural(long n) { return n == 1 ? "" : "s"; }

// The summary of each kind of skipped line, for more than one of them.
constexpr const char* kSkippedInAll[kSkipKinds] = {
    "time lines that are not a finite number of seconds",
    "inc lines that are not a finite number of seconds",
    "level lines whose level is not a finite number",
    "level lines for channels outside 0 to 127",
    "ramps that are not a finite number of seconds",
    "offsets that are not a finite number of seconds",
    "shapes outside 0.125 to 8",
    "ramps that follow a vca line",
    "offsets that follow a vca line",
    "shapes that follow a vca line",
    "ramps that follow no channel cue quenby keeps",
    "offsets that follow no channel cue quenby keeps",
    "shapes that follow no channel cue quenby keeps",
};

constexpr const char* kUncarriedNames[kUncarriedKinds] = {
    "vca (VCA cues)",       "v G, v M (submix and master cues)", "p (pans)",
    "pol (polarities)",     "dp (delay pans)",                   "trim (trims)",
    "scale (level scales)", "mtrim (master trims)",              "fxg (effects gains)",
};

// Codes of single lines that are not carried; "v" for a submix or the master
// and "vca" are counted where they are read.
struct OtherCode {
    const char* code;
    Uncarried kind;
};
constexpr OtherCode kOtherCodes[] = {
    {"p", Uncarried::kPan},     {"pol", Uncarried::kPolarity},     {"dp", Uncarried::kDelayPan},
    {"trim", Uncarried::kTrim}, {"scale", Uncarried::kScale},      {"mtrim", Uncarried::kMasterTrim},
    {"fxg", Uncarried::kFxGain},
};

// Counts a skipped line; only the first of its kind is reported as it comes.
void Skipped(LoadNotes& notes, Skip kind, std::FILE* out, const char* format, ...)
{
    if (notes.skipped[static_cast<size_t>(kind)]++ > 0) return;
    std::fprintf(out, ">> Warning: ");
    va_list args;
    va_start(args, format);
    std::vfprintf(out, format, args);
    va_end(args);
}

// The number of fields of every line of the text whose first field is "t",
// counted line by line: a reader with the wrong count takes fields from the next
// line and would not find every one. Fields are runs of text between tabs; a
// field of spaces only is none.
void CountTimeFields(const std::string& text, LoadNotes& notes)
{
    long line = 1;
    for (size_t start = 0; start < text.size(); ++line) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        size_t i = start;
        while (i < end && text[i] == '\t') ++i;
        if (i < end && text[i] == 't' && (i + 1 == end || text[i + 1] == '\t')) {
            int fields = 0;
            bool inField = false;
            for (++i; i < end; ++i) {
                if (text[i] == '\t') {
                    inField = false;
                } else if (text[i] != ' ' && !inField) {
                    ++fields;
                    inField = true;
                }
            }
            LoadNotes::FieldCount& found = notes.timeFields[fields];
            if (found.lines++ == 0) found.firstLine = line;
        }
        start = end + 1;
    }
}

// The entry that "rmp", "ofs" and "shape" act on.
struct Cursor {
    enum class Kind { kNone, kChannel, kVca } kind = Kind::kNone;
    int channel = 0;
};

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

// The level line of an entry with its ramp and shape lines.
void CueLines(std::string& out, const Entries& e, int c, int k)
{
    Add(out, "v\t%i\t%.2f\n", c, static_cast<double>(e.levels[c][k]));
    if (e.ramps[c][k] != 0.0f) Add(out, "rmp\t%.3f\n", static_cast<double>(e.ramps[c][k]));
    if (e.shapes[c][k] != 1.0f) Add(out, "shape\t%.3f\n", static_cast<double>(e.shapes[c][k]));
}

}  // namespace

void ParseBuffer(const std::string& raw, int timeFields, Entries& e, LoadNotes& notes, std::FILE* out)
{
    const std::string text = WithPlainLineEnds(raw);
    CountTimeFields(text, notes);
    Tokens tokens(text);
    const char* tok = tokens.Next("\t\n");
    if (tok == nullptr) return;
    e.title.assign(tok, std::strlen(tok) < 1023 ? std::strlen(tok) : 1023);
    float current = 0.0f;
    Cursor cursor;
    int overflow = 0;   // level lines past the 512 entries of a channel
    // "rmp", "ofs" and "shape" lines whose cue is not carried: a vca cue, a level
    // line that was skipped, or none at all.
    const auto orphan = [&](Skip afterVca, Skip noCue, const char* what) {
        if (cursor.kind == Cursor::Kind::kVca)
            Skipped(notes, afterVca, out, "Skipping %s at %.3f s: it follows a vca line, not a channel cue.\n", what,
                    static_cast<double>(current));
        else
            Skipped(notes, noCue, out, "Skipping %s at %.3f s: it follows no channel cue quenby keeps.\n", what,
                    static_cast<double>(current));
    };
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
                Skipped(notes, Skip::kTimeNotFinite, out, "Skipping a time line that is not a finite number of seconds.\n");
                continue;
            }
            current = time;
        } else if (std::strcmp(tok, "inc") == 0) {
            const float moved = current + ReadFloat(tokens.Next("\n"));
            if (!std::isfinite(moved)) {
                Skipped(notes, Skip::kIncNotFinite, out, "Skipping an inc line that is not a finite number of seconds.\n");
                continue;
            }
            current = moved;
        } else if (std::strcmp(tok, "v") == 0) {
            const char* ch = tokens.Next("\t");
            const float level = ReadFloat(tokens.Next("\n"));
            cursor.kind = Cursor::Kind::kNone;
            if (ch != nullptr && (ch[0] == 'G' || ch[0] == 'M')) {
                ++notes.uncarried[static_cast<size_t>(Uncarried::kSubmixOrMaster)];
                continue;
            }
            if (!std::isfinite(level)) {
                Skipped(notes, Skip::kLevelNotFinite, out, "Skipping a level line whose level is not a finite number.\n");
                continue;
            }
            const long channel = ch ? std::strtol(ch, nullptr, 10) : 0;
            if (channel < 0 || channel >= kChannels) {
                Skipped(notes, Skip::kChannelRange, out, "Skipping a level line for channel %li: channels are 0 to 127.\n",
                        channel);
                continue;
            }
            const int c = static_cast<int>(channel);
            if (e.counts[c] >= kEntries) {
                if (overflow++ == 0)
                    std::fprintf(out, ">> Warning: Skipping entry %i of channel %i: a channel holds 512 entries.\n",
                                 e.counts[c] + 1, c);
                ++notes.overflow[static_cast<size_t>(c)];
                continue;
            }
            const int k = e.counts[c]++;
            e.times[c][k] = current;
            e.levels[c][k] = level;
            e.ramps[c][k] = 0.0f;
            e.shapes[c][k] = 1.0f;
            cursor = {Cursor::Kind::kChannel, c};
        } else if (std::strcmp(tok, "vca") == 0) {
            tokens.Next("\t");
            tokens.Next("\n");
            ++notes.uncarried[static_cast<size_t>(Uncarried::kVca)];
            cursor.kind = Cursor::Kind::kVca;
        } else if (std::strcmp(tok, "rmp") == 0) {
            const float ramp = ReadFloat(tokens.Next("\n"));
            if (!std::isfinite(ramp)) {
                Skipped(notes, Skip::kRampNotFinite, out, "Skipping a ramp that is not a finite number of seconds.\n");
                continue;
            }
            if (cursor.kind != Cursor::Kind::kChannel) {
                orphan(Skip::kRampAfterVca, Skip::kRampNoCue, "a ramp");
                continue;
            }
            e.ramps[cursor.channel][e.counts[cursor.channel] - 1] = ramp;
        } else if (std::strcmp(tok, "ofs") == 0) {
            const float seconds = ReadFloat(tokens.Next("\n"));
            if (cursor.kind != Cursor::Kind::kChannel) {
                orphan(Skip::kOffsetAfterVca, Skip::kOffsetNoCue, "an offset");
                continue;
            }
            float& time = e.times[cursor.channel][e.counts[cursor.channel] - 1];
            if (!std::isfinite(time + seconds)) {
                Skipped(notes, Skip::kOffsetNotFinite, out, "Skipping an offset that is not a finite number of seconds.\n");
                continue;
            }
            time += seconds;
        } else if (std::strcmp(tok, "shape") == 0) {
            const float exponent = ReadFloat(tokens.Next("\n"));
            if (cursor.kind != Cursor::Kind::kChannel) {
                orphan(Skip::kShapeAfterVca, Skip::kShapeNoCue, "a shape");
                continue;
            }
            // The mixer ignores a shape outside its range (or not a number).
            if (!(exponent >= 0.125f && exponent <= 8.0f)) {
                Skipped(notes, Skip::kShapeRange, out, "Skipping a shape at %.3f s: the mixer takes shapes from 0.125 to 8.\n",
                        static_cast<double>(current));
                continue;
            }
            e.shapes[cursor.channel][e.counts[cursor.channel] - 1] = exponent;
        } else if (std::strcmp(tok, "tmap") == 0) {
            ++notes.tmapLines;
        } else {
            for (const OtherCode& other : kOtherCodes)
                if (std::strcmp(tok, other.code) == 0) ++notes.uncarried[static_cast<size_t>(other.kind)];
        }
    }
}

void PrintLoadSummary(const LoadNotes& notes, const std::string& fileName, int timeFields,
                      const std::string& tempoPrefs, std::FILE* out)
{
    for (int k = 0; k < kSkipKinds; ++k)
        if (notes.skipped[static_cast<size_t>(k)] > 1)
            std::fprintf(out, ">> Warning: %i %s were skipped in all.\n", notes.skipped[static_cast<size_t>(k)],
                         kSkippedInAll[k]);

    int overflow = 0;
    for (int n : notes.overflow) overflow += n;
    if (overflow > 1) {
        std::fprintf(out, ">> Warning: %i level lines past the 512 entries of a channel were skipped in all:\n",
                     overflow);
        for (int c = 0; c < kChannels; ++c)
            if (notes.overflow[static_cast<size_t>(c)] > 0)
                std::fprintf(out, "  channel %i: %i\n", c, notes.overflow[static_cast<size_t>(c)]);
    }

    int uncarried = 0;
    for (int n : notes.uncarried) uncarried += n;
    if (uncarried > 0) {
        std::fprintf(out, ">> Warning: quenby's output leaves out %i line%s it does not carry:\n", uncarried,
                     Plural(uncarried));
        for (int k = 0; k < kUncarriedKinds; ++k)
            if (notes.uncarried[static_cast<size_t>(k)] > 0)
                std::fprintf(out, "  %s: %i\n", kUncarriedNames[k], notes.uncarried[static_cast<size_t>(k)]);
    }

    // Time lines whose field count is not the one in use.
    int mismatched = 0;
    int common = timeFields, commonLines = 0;
    for (const auto& [fields, found] : notes.timeFields) {
        if (fields != timeFields) mismatched += found.lines;
        if (found.lines > commonLines || (found.lines == commonLines && fields == timeFields)) {
            common = fields;
            commonLines = found.lines;
        }
    }
    if (mismatched > 0) {
        const bool usable = common >= 1 && common <= 3;
        const char* inUse = timeFields == 1 ? "is" : "are";
        if (notes.timeFields.size() == 1) {
            const auto& [fields, found] = *notes.timeFields.begin();
            std::fprintf(out, ">> Warning: %i time line%s %s %i field%s but %i %s in use", found.lines,
                         Plural(found.lines), found.lines == 1 ? "has" : "have", fields, Plural(fields), timeFields,
                         inUse);
            if (usable)
                std::fprintf(out, ": run 'quenby %s %i'\n", fileName.c_str(), fields);
            else
                std::fprintf(out, "; quenby reads 1 to 3 (the first is line %li).\n", found.firstLine);
        } else {
            std::fprintf(out, ">> Warning: %i time line%s of %s do%s not have the %i field%s in use; the counts are mixed:\n",
                         mismatched, Plural(mismatched), fileName.c_str(), mismatched == 1 ? "es" : "", timeFields,
                         Plural(timeFields));
            for (const auto& [fields, found] : notes.timeFields)
                std::fprintf(out, "  %i field%s: %i line%s, the first is line %li\n", fields, Plural(fields),
                             found.lines, Plural(found.lines), found.firstLine);
            if (common == timeFields)
                std::fprintf(out, "  the most common is %i, the count in use: correct the other lines\n", common);
            else if (usable)
                std::fprintf(out, "  the most common is %i: run 'quenby %s %i'\n", common, fileName.c_str(), common);
            else
                std::fprintf(out, "  the most common is %i; quenby reads 1 to 3\n", common);
        }
    }

    if (notes.tmapLines > 0 || !tempoPrefs.empty()) {
        std::string why;
        if (notes.tmapLines > 0)
            why = notes.tmapLines == 1 ? "it has a \"tmap\" line" : "it has " + std::to_string(notes.tmapLines) +
                                                                      " \"tmap\" lines";
        if (!tempoPrefs.empty()) {
            if (!why.empty()) why += " and ";
            why += tempoPrefs + " switches tempo mode on";
        }
        std::fprintf(out,
                     ">> Warning: MUSICAL TIME: %s is a sheet in musical time (%s), but quenby reads its \"t\" "
                     "lines as clock time.\n"
                     "  Bars, beats and ticks are taken as minutes, seconds and milliseconds: every time it shows, "
                     "adjusts and saves is wrong for this sheet.\n",
                     fileName.c_str(), why.c_str());
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
            CueLines(out, e, c, k);
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
            for (int k = 0; k < e.counts[c]; ++k)
                if (e.times[c][k] == t) CueLines(out, e, c, k);
        float next = 0.0f;
        more = ScanTimes(e, t, next);
        t = next;
    }
    return out;
}

}  // namespace quenby
