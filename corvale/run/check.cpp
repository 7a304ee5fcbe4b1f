#include "corvale/run/check.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "corvale/cuesheet/cuesheet.h"
#include "corvale/effects/reverb.h"
#include "corvale/run/console.h"
#include "corvale/run/diagnostics.h"
#include "corvale/run/numeric.h"
#include "corvale/run/run.h"
#include "corvale/run/text.h"

namespace {

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* fmt, ...)
{
    char buf[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    return buf;
}

// The name a finding gives a control file: the file read, or the one looked for.
std::string NameOf(const ControlFile& f, const std::string& fallback)
{
    if (!f.path.empty()) return f.path;
    if (!f.standsInFor.empty()) return f.standsInFor;
    return fallback;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        const size_t lf = text.find('\n', start);
        if (lf == std::string::npos) {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, lf - start));
        start = lf + 1;
    }
}

// The fields of a line as the readers take them: cut at tabs, empty ones skipped.
std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    Tokens t(line);
    for (const char* f = t.Next("\t"); f != nullptr; f = t.Next("\t")) fields.emplace_back(f);
    return fields;
}

std::string SlotName(long slot)
{
    if (slot == 0) return "the master fader";
    if (slot >= 1 && slot <= kMaxChannels) return Format("channel %li", slot);
    if (slot > kMaxChannels && slot <= kMaxChannels + 8) return Format("submix %li", slot - kMaxChannels);
    return Format("slot %li", slot);
}

std::string Seconds(int64_t frames, double rate) { return Format("%.3f s", static_cast<double>(frames) / rate); }

// Prints nothing for as long as it lives: the dry run's second reading of a
// field must not repeat the readers' messages.
class QuietConsole {
public:
    QuietConsole() : saved_(g_console), null_(std::fopen("/dev/null", "w"))
    {
        if (null_ != nullptr) g_console = null_;
    }
    ~QuietConsole()
    {
        g_console = saved_;
        if (null_ != nullptr) std::fclose(null_);
    }
    QuietConsole(const QuietConsole&) = delete;
    QuietConsole& operator=(const QuietConsole&) = delete;

private:
    std::FILE* saved_;
    std::FILE* null_;
};

// A 1..3 field count of the preferences, as its reader takes it.
int FieldSetting(const ControlFile& prefs, const char* key)
{
    int n = 3;
    ScanPrefs(prefs, key, [&](Tokens& t) {
        const int v = AtoI(t.Next("\n"));
        n = v >= 1 && v <= 3 ? v : 3;
        return true;
    });
    return n;
}

// How many fields follow a code on its line; slotted codes take one more after
// a "G" slot field.
struct RowShape {
    const char* code;
    int fields;
    bool slotted;   // the first field is a slot field
    bool channel;   // the first field names a channel (a slot field, or a channel number)
};

constexpr RowShape kRowShapes[] = {
    {"tstamp", 4, false, true}, {"sstamp", 2, false, true}, {"sub", 2, false, false},
    {"submu", 1, false, false}, {"subso", 1, false, false}, {"VCA:", 2, false, false},
    {"tmap", 3, false, false},  {"inc", 1, false, false},   {"v", 2, true, true},
    {"vca", 2, false, false},   {"rmp", 1, false, false},   {"ofs", 1, false, false},
    {"shape", 1, false, false}, {"p", 2, true, true},       {"pol", 2, true, true},
    {"dp", 2, false, true},     {"trim", 2, true, true},    {"scale", 1, false, false},
    {"mtrim", 1, false, false}, {"fxg", 2, true, true},     {"comp", 5, true, true},
    {"rms", 5, true, true},     {"nlc", 4, true, true},     {"lim", 2, true, true},
    {"hp", 2, true, true},      {"band1", 4, true, true},   {"band2", 4, true, true},
    {"band3", 4, true, true},   {"band4", 4, true, true},   {"lshelf", 4, true, true},
    {"hshelf", 4, true, true},  {"rev", 2, true, true},     {"trev", 2, true, true},
    {"rtn", 2, false, false},   {"trtn", 3, false, false},  {"pos", 3, false, false},
    {"width", 1, false, false}, {"rhp", 1, false, false},   {"rlp", 1, false, false},
};

const RowShape* ShapeOf(const std::string& code)
{
    for (const RowShape& s : kRowShapes)
        if (code == s.code) return &s;
    return nullptr;
}

// Everything the scans of one run share.
struct Scan {
    const Run& run;
    CheckStage stage;
    CheckReport& report;
    std::string prefsName, trackName, cueName;
    bool tracksKnown = false;   // the track list was read: channel numbers can be judged
    int tfields = 3;

    bool HasTrack(long channel) const { return channel >= 1 && channel <= run.tracks.count; }
};

// A first "begin" that is not a line of its own: the body starts after the
// line that holds it, wherever the writer meant it to start.
void CheckBegin(const ControlFile& f, const std::string& name, CheckReport& report)
{
    const size_t at = f.text.find("begin");
    if (at == std::string::npos) return;
    const size_t from = f.text.rfind('\n', at);
    const size_t start = from == std::string::npos ? 0 : from + 1;
    const size_t end = std::min(f.text.find('\n', at), f.text.size());
    const std::string line = f.text.substr(start, end - start);
    const size_t a = line.find_first_not_of(" \t");
    const size_t b = line.find_last_not_of(" \t");
    if (line.substr(a, b - a + 1) == "begin") return;
    const int number = 1 + static_cast<int>(std::count(f.text.begin(), f.text.begin() + static_cast<long>(at), '\n'));
    report.Warn(name, number,
                Format("the first \"begin\" stands inside the line \"%s\"; the body starts after this line",
                       line.c_str()));
}

// The layout warnings of the line checks, as findings: one per line and kind
// (a line with a doubled and a trailing tab has one extra tab).
void CheckLayout(const ControlFile& f, const std::string& name, LineCheck kind, CheckReport& report)
{
    const int before = f.LinesBeforeBody();
    int lastLine = -1;
    bool tabSaid = false;
    for (const LayoutProblem& p : FindLayoutProblems(f.body(), kind)) {
        if (p.line != lastLine) tabSaid = false;
        lastLine = p.line;
        const int number = before + 1 + p.line;
        switch (p.kind) {
        case LayoutProblem::kDoubleTab:
        case LayoutProblem::kTrailingTab:
            if (!tabSaid) report.Warn(name, number, "extra tab");
            tabSaid = true;
            break;
        case LayoutProblem::kTabSpace: report.Warn(name, number, "extra space after a tab"); break;
        case LayoutProblem::kTrackTab:
            report.Warn(name, number, "tab in a track list whose fields are separated by spaces");
            break;
        case LayoutProblem::kTrackDoubleSpace: report.Warn(name, number, "extra space"); break;
        }
    }
}

void CheckSpaceTyped(const ControlFile& f, const std::string& name, KnownWords words, CheckReport& report)
{
    for (const NumberedLine& l : FindSpaceSeparatedLines(f, words))
        report.Warn(name, l.line,
                    Format("\"%s\" is separated by spaces, not tabs; it is not read as written", l.text.c_str()));
}

// Time values of the preferences with fewer fields than sfields or xfields ask for.
void CheckPrefsTimes(const Scan& s)
{
    const ControlFile& f = s.run.prefsFile;
    const int sfields = FieldSetting(f, "sfields");
    const int xfields = FieldSetting(f, "xfields");
    const std::vector<std::string> lines = SplitLines(f.body());
    const int before = f.LinesBeforeBody();
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::vector<std::string> fields = Fields(lines[i]);
        if (fields.empty()) continue;
        if (fields[0] == "end") break;
        const bool start = fields[0] == "start";
        if (!start && fields[0] != "xin" && fields[0] != "xout") continue;
        const int want = start ? sfields : xfields;
        const int have = static_cast<int>(fields.size()) - 1;
        if (have >= want) continue;
        s.report.Warn(s.prefsName, before + 1 + static_cast<int>(i),
                      Format("\"%s\" has %i time field%s but %s asks for %i; the rest is taken from the next line",
                             fields[0].c_str(), have, have == 1 ? "" : "s", start ? "sfields" : "xfields", want));
    }
}

// The channels of a comma-separated submix or VCA list that have no track.
void CheckList(const Scan& s, int number, const std::string& code, const std::string& owner,
               const std::string& list)
{
    Tokens items(list);
    for (const char* item = items.Next(","); item != nullptr; item = items.Next(",")) {
        const long n = AtoL(item);
        const bool vca = code == "VCA:";
        if (vca && (n < 0 || n >= kSlots)) {
            s.report.Warn(s.cueName, number,
                          Format("VCA %s lists slot %li, which is out of range (0 to %i)", owner.c_str(), n,
                                 kSlots - 1));
            continue;
        }
        if (vca && (n == 0 || n > kMaxChannels)) continue;   // the master and the submix faders
        if (!s.HasTrack(n))
            s.report.Warn(s.cueName, number,
                          Format("%s %s lists channel %li, which has no track (the track list has %i)",
                                 vca ? "VCA" : "submix", owner.c_str(), n, s.run.tracks.count));
    }
}

// The line-by-line scan of the cue sheet: codes the reader skips, rows short of
// fields, rows and lists for channels without a track.
void CheckCueLines(Scan& s)
{
    const ControlFile& f = s.run.cue.file;
    const std::vector<std::string> lines = SplitLines(s.run.cue.body);
    const int before = f.LinesBeforeBody();
    bool titleSeen = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i == 0 && f.bodyStart > 0) continue;   // the rest of the "begin" line
        const int number = before + 1 + static_cast<int>(i);
        const std::string& line = lines[i];
        const std::vector<std::string> fields = Fields(line);
        if (fields.empty()) continue;
        if (!titleSeen) {
            titleSeen = true;
            continue;
        }
        const std::string& code = fields[0];
        if (code == "end") break;
        const int have = static_cast<int>(fields.size()) - 1;
        const RowShape* shape = ShapeOf(code);
        const bool order = shape == nullptr && code[0] == 'o';
        if (shape == nullptr && code != "t" && !order) {
            const bool tabAfter = line.find('\t', line.find(code) + code.size()) != std::string::npos;
            if (!tabAfter || code == "code") continue;
            if (code[0] == '(')
                s.report.Warn(s.cueName, number,
                              Format("inactive row: the code \"%s\" is in parentheses, so the row is not read",
                                     code.c_str()));
            else
                s.report.Warn(s.cueName, number,
                              Format("unknown code \"%s\"; the row is not read", code.c_str()));
            continue;
        }
        if (code == "t") {
            if (have < s.tfields)
                s.report.Warn(s.cueName, number,
                              Format("time value has %i field%s but tfields asks for %i; the rest is taken from "
                                     "the next line",
                                     have, have == 1 ? "" : "s", s.tfields));
            continue;
        }
        const bool g = have >= 1 && fields[1] == "G";
        int want = order ? 3 : shape->fields;
        if ((order ? have >= 2 && fields[2] == "G" : shape->slotted && g)) ++want;
        if (have < want) {
            s.report.Warn(s.cueName, number,
                          Format("\"%s\" row has %i field%s but takes %i; the missing values are taken from the "
                                 "next line",
                                 code.c_str(), have, have == 1 ? "" : "s", want));
        }
        if (order || have < 1) continue;
        if (shape->slotted && g && have >= 2) {
            const long n = AtoL(fields[2].c_str());
            if (n < 1 || n > kSubmixes - 1)
                s.report.Warn(s.cueName, number,
                              Format("\"%s\" row for submix %li, which does not exist (1 to %i)", code.c_str(), n,
                                     kSubmixes - 1));
        }
        if (!s.tracksKnown) continue;
        if (shape->channel && !(shape->slotted && (g || fields[1] == "M"))) {
            const long ch = AtoL(fields[1].c_str());
            const bool slotZero = shape->slotted && ch == 0;   // no number: the master
            if (!slotZero && ch >= 1 && ch <= kMaxChannels && !s.HasTrack(ch))
                s.report.Warn(s.cueName, number,
                              Format("\"%s\" row for channel %li, which has no track (the track list has %i)",
                                     code.c_str(), ch, s.run.tracks.count));
        }
        if ((code == "sub" || code == "VCA:") && have >= 2) CheckList(s, number, code, fields[1], fields[2]);
    }
}

// Entries not later than the one before them reported one by one per fader;
// the rest are counted.
constexpr int kEarlyShown = 5;

// The entries of one fader or VCA as the cue pass makes them, with their lines.
struct Entry {
    int64_t time;
    int line;
};

// The cue pass once more, token by token as the mixer reads it, keeping the
// line of every entry: time entries past the end, rows that belong to no entry,
// entries never played and faders past their 512 entries.
void WalkCues(const Scan& s)
{
    const Run& run = s.run;
    const std::string& body = run.cue.body;
    std::vector<size_t> starts{0};
    for (size_t k = 0; k < body.size(); ++k)
        if (body[k] == '\n') starts.push_back(k + 1);
    const int before = run.cue.file.LinesBeforeBody();
    Tokens tokens(body);
    auto lineOf = [&](const char* tok) {
        const size_t at = tokens.OffsetOf(tok);
        const auto it = std::upper_bound(starts.begin(), starts.end(), at);
        return before + static_cast<int>(it - starts.begin());
    };

    const TimeContext ctx = CueTimeContext(run);
    Timing timing = run.timing;
    timing.current = 0;
    timing.entries = 0;
    timing.tfields = s.tfields;
    std::vector<std::vector<Entry>> fader(kSlots), vca(kVcas);
    std::vector<int> faderPast(kSlots, 0), vcaPast(kVcas, 0);
    std::vector<int> faderPastLine(kSlots, 0), vcaPastLine(kVcas, 0);
    enum class Kind { kNone, kFader, kVca } kind = Kind::kNone;
    int index = 0;

    QuietConsole quiet;
    for (const char* tok = tokens.Next("\t\n"); tok != nullptr; tok = tokens.Next("\t\n")) {
        if (std::strcmp(tok, "end") == 0) break;
        const int line = lineOf(tok);
        if (std::strcmp(tok, "t") == 0) {
            const int64_t time = ReadTimeValue(tokens, ctx, timing);
            const int n = ++timing.entries;
            if (time > ctx.songLength)
                s.report.Error(s.cueName, line,
                               Format("time entry %i (%s) is past the end of the song (%s)", n,
                                      Seconds(time, ctx.rate).c_str(), Seconds(ctx.songLength, ctx.rate).c_str()));
            else if (time < 0)
                s.report.Error(s.cueName, line, Format("time entry %i is before the start of the song", n));
            else
                timing.current = time;
        } else if (std::strcmp(tok, "inc") == 0) {
            ReadIncLine(tokens, ctx, timing);
        } else if (std::strcmp(tok, "v") == 0 || std::strcmp(tok, "vca") == 0) {
            const bool isFader = tok[0] == 'v' && tok[1] == '\0';
            int slot;
            if (isFader) {
                slot = ReadSlotField(tokens);
            } else {
                const long n = AtoL(tokens.Next("\t"));
                slot = n < 0 || n >= kVcas ? 0 : static_cast<int>(n);
            }
            tokens.Next("\n");
            std::vector<Entry>& list = (isFader ? fader : vca)[static_cast<size_t>(slot)];
            if (list.size() >= static_cast<size_t>(kEntries)) {
                int& past = (isFader ? faderPast : vcaPast)[static_cast<size_t>(slot)];
                if (past++ == 0) (isFader ? faderPastLine : vcaPastLine)[static_cast<size_t>(slot)] = line;
                kind = Kind::kNone;
                continue;
            }
            list.push_back({timing.current, line});
            kind = isFader ? Kind::kFader : Kind::kVca;
            index = slot;
        } else if (std::strcmp(tok, "rmp") == 0 || std::strcmp(tok, "shape") == 0) {
            tokens.Next("\n");
            if (kind == Kind::kNone)
                s.report.Warn(s.cueName, line,
                              Format("\"%s\" follows no level entry it could belong to; it is ignored", tok));
        } else if (std::strcmp(tok, "ofs") == 0) {
            const double seconds = AtoF(tokens.Next("\n"));
            if (kind != Kind::kFader) {
                s.report.Warn(s.cueName, line,
                              kind == Kind::kNone
                                  ? "\"ofs\" follows no level entry it could belong to; it is ignored"
                                  : "\"ofs\" follows a \"vca\" entry; only \"v\" entries move, so it is ignored");
                continue;
            }
            float shift = static_cast<float>(seconds * ctx.rate);
            if (std::isnan(shift)) shift = 0.0f;
            int64_t& time = fader[static_cast<size_t>(index)].back().time;
            time = Trunc64(static_cast<double>(time) + static_cast<double>(shift));
        } else if (std::strcmp(tok, "p") == 0 || std::strcmp(tok, "pol") == 0) {
            ReadSlotField(tokens);
            tokens.Next("\n");
        }
    }

    auto judge = [&](const std::vector<std::vector<Entry>>& lists, const std::vector<int>& past,
                     const std::vector<int>& pastLine, bool isFader) {
        for (size_t slot = 0; slot < lists.size(); ++slot) {
            const std::string name = isFader ? SlotName(static_cast<long>(slot)) : Format("VCA %zu", slot);
            const std::vector<Entry>& list = lists[slot];
            // A few by their lines, the rest of a fader as one count.
            int early = 0, firstHidden = 0;
            for (size_t e = 1; e < list.size(); ++e) {
                if (list[e].time > list[e - 1].time) continue;
                if (++early <= kEarlyShown)
                    s.report.Warn(s.cueName, list[e].line,
                                  Format("level entry %zu of %s is not later than the entry before it (line %i); it "
                                         "is never played",
                                         e + 1, name.c_str(), list[e - 1].line));
                else if (firstHidden == 0)
                    firstHidden = list[e].line;
            }
            if (early > kEarlyShown)
                s.report.Warn(s.cueName, firstHidden,
                              Format("%i more level entries of %s from this line on are not later than the entry "
                                     "before them",
                                     early - kEarlyShown, name.c_str()));
            if (past[slot] > 0)
                s.report.Warn(s.cueName, pastLine[slot],
                              Format("%s has %i level entries; the %i past the first %i are ignored", name.c_str(),
                                     kEntries + past[slot], past[slot], kEntries));
        }
    };
    judge(fader, faderPast, faderPastLine, true);
    judge(vca, vcaPast, vcaPastLine, false);
}

// A track that tstamp starts after every other track has ended.
void CheckPlacement(const Scan& s)
{
    const Tracks& t = s.run.tracks;
    const std::vector<std::string> lines = SplitLines(s.run.cue.body);
    const int before = s.run.cue.file.LinesBeforeBody();
    std::vector<int> tstampLine(kChannelRows, 0);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::vector<std::string> fields = Fields(lines[i]);
        if (fields.empty()) continue;
        if (fields[0] == "end") break;
        if (fields[0] != "tstamp" || fields.size() < 2) continue;
        const long ch = AtoL(fields[1].c_str());
        if (ch >= 1 && ch <= kMaxChannels) tstampLine[static_cast<size_t>(ch)] = before + 1 + static_cast<int>(i);
    }
    for (int c = 1; c <= t.channels(); ++c) {
        const size_t i = static_cast<size_t>(c);
        if (tstampLine[i] == 0 || !t.headerOk[i]) continue;
        bool others = false;
        int64_t lastEnd = 0;
        for (int o = 1; o <= t.channels(); ++o) {
            const size_t k = static_cast<size_t>(o);
            if (o == c || !t.headerOk[k]) continue;
            others = true;
            int64_t end = 0;
            if (__builtin_add_overflow(t.offset[k], t.info[k].frames, &end)) end = INT64_MAX;
            lastEnd = std::max(lastEnd, end);
        }
        if (!others || t.offset[i] <= lastEnd) continue;
        s.report.Warn(s.cueName, tstampLine[i],
                      Format("tstamp starts channel %i at %s, after every other track has ended (at %s): the mix "
                             "is silent for %s before it",
                             c, Seconds(t.offset[i], t.sampleRate).c_str(), Seconds(lastEnd, t.sampleRate).c_str(),
                             Seconds(t.offset[i] - lastEnd, t.sampleRate).c_str()));
    }
}

// The line of the Nth track of the list (file line), 0 when there is none.
int TrackLine(const ControlFile& f, int channel)
{
    const std::vector<std::string> lines = SplitLines(f.body());
    const int before = f.LinesBeforeBody();
    int n = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].empty()) continue;
        if (++n == channel) return before + 1 + static_cast<int>(i);
    }
    return 0;
}

// The line of the last row of code in the cue sheet (the one that wins), 0 when there is none.
int LastRow(const Run& run, const char* code)
{
    const std::vector<std::string> lines = SplitLines(run.cue.body);
    const int before = run.cue.file.LinesBeforeBody();
    int found = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::vector<std::string> fields = Fields(lines[i]);
        if (fields.empty()) continue;
        if (fields[0] == "end") break;
        if (fields[0] == code) found = before + 1 + static_cast<int>(i);
    }
    return found;
}

void CheckTracks(const Scan& s)
{
    const Run& run = s.run;
    const Tracks& t = run.tracks;
    for (int c = 1; c <= t.channels(); ++c) {
        const size_t i = static_cast<size_t>(c);
        const WavInfo& info = t.info[i];
        if (t.headerOk[i] && info.frames < info.declaredFrames)
            s.report.Warn(s.trackName, TrackLine(run.trackFile, c),
                          Format("the file of channel %i (%s) holds %lld frames but its header says %lld; it plays "
                                 "short",
                                 c, t.paths[i].c_str(), static_cast<long long>(info.frames),
                                 static_cast<long long>(info.declaredFrames)));
    }
    if (s.stage < CheckStage::kCueRead) return;
    for (const UnheardTrack& u : FindUnheardTracks(t, run.automation))
        s.report.Warn(s.trackName, TrackLine(run.trackFile, u.channel),
                      Format("channel %i (%s) will not be heard: %s", u.channel,
                             t.names[static_cast<size_t>(u.channel - 1)].c_str(), u.why.c_str()));
    if (t.count > kMaxChannels)
        s.report.Warn(s.trackName, TrackLine(run.trackFile, kMaxChannels + 1),
                      Format("channels %i to %i are left out (at most %i tracks take part)", kMaxChannels + 1,
                             t.count, kMaxChannels));
    if (!run.prefs.preview && run.prefs.renderCount == 0)
        s.report.Warn(s.prefsName, 0, "the export window holds no frames (xin equals xout); the mix would hold no audio");
}

}  // namespace

void CheckReport::Add(const std::string& file, int line, bool error, std::string text)
{
    findings_.push_back({file, line, error, std::move(text)});
}

int CheckReport::errors() const
{
    return static_cast<int>(std::count_if(findings_.begin(), findings_.end(), [](const Finding& f) { return f.error; }));
}

int CheckReport::warnings() const { return static_cast<int>(findings_.size()) - errors(); }

int CheckReport::Print() const
{
    // By file (in the order the files first come up), then by line; findings
    // about a file as a whole close its group.
    std::vector<std::string> files;
    for (const Finding& f : findings_)
        if (std::find(files.begin(), files.end(), f.file) == files.end()) files.push_back(f.file);
    auto key = [&files](const Finding& f) {
        const long rank = std::find(files.begin(), files.end(), f.file) - files.begin();
        return std::pair<long, long>(rank, f.line > 0 ? f.line : INT32_MAX);
    };
    std::vector<Finding> sorted = findings_;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&key](const Finding& a, const Finding& b) { return key(a) < key(b); });
    for (const Finding& f : sorted) {
        const char* kind = f.error ? "error" : "warning";
        if (f.line > 0)
            std::fprintf(g_console, "%s:%i: %s: %s\n", f.file.c_str(), f.line, kind, f.text.c_str());
        else
            std::fprintf(g_console, "%s: %s: %s\n", f.file.c_str(), kind, f.text.c_str());
    }
    const int e = errors(), w = warnings();
    std::fprintf(g_console, "corvale --check: %i error%s, %i warning%s\n", e, e == 1 ? "" : "s", w,
                 w == 1 ? "" : "s");
    return e > 0 ? 2 : (w > 0 ? 1 : 0);
}

void ScanForFindings(const Run& run, CheckStage stage, CheckReport& report)
{
    Scan s{run,
           stage,
           report,
           NameOf(run.prefsFile, run.prefsName),
           NameOf(run.trackFile, run.trackListName),
           NameOf(run.cue.file, run.faderName),
           run.trackFile.loaded,
           FieldSetting(run.prefsFile, "tfields")};

    if (!run.prefsFile.standsInFor.empty())
        report.Warn(s.prefsName, 0, "not found; a run would write the default preferences to prefs.txt");
    if (!run.cue.file.standsInFor.empty())
        report.Warn(s.cueName, 0,
                    "not found; a run would ask for a default level and write faders.txt (checked here with a level "
                    "of 0 dB on every channel)");

    if (run.prefsFile.loaded && run.prefsFile.standsInFor.empty()) {
        CheckBegin(run.prefsFile, s.prefsName, report);
        CheckLayout(run.prefsFile, s.prefsName, LineCheck::kPreferences, report);
        CheckSpaceTyped(run.prefsFile, s.prefsName, KnownWords::kPreferences, report);
        CheckPrefsTimes(s);
    }
    if (run.trackFile.loaded) {
        CheckBegin(run.trackFile, s.trackName, report);
        CheckLayout(run.trackFile, s.trackName, run.prefs.tlistTab ? LineCheck::kTracksTab : LineCheck::kTracksSpace,
                    report);
    }
    if (run.cue.file.loaded && run.cue.file.standsInFor.empty()) {
        CheckBegin(run.cue.file, s.cueName, report);
        CheckLayout(run.cue.file, s.cueName, LineCheck::kFader, report);
        CheckSpaceTyped(run.cue.file, s.cueName, KnownWords::kCueCodes, report);
        CheckCueLines(s);
    }
    if (stage >= CheckStage::kTracksPlaced) {
        CheckPlacement(s);
        CheckTracks(s);
        WalkCues(s);
    }
}

void CheckReverbSettings(const Run& run, CheckReport& report)
{
    const EffectSettings& fx = run.fx;
    if (run.prefs.renderCount <= 0) return;   // no block is mixed
    const int64_t n = std::min<int64_t>(run.prefs.renderCount, kBlockFrames);
    const double rate = run.tracks.sampleRate;
    const std::string cue = NameOf(run.cue.file, run.faderName);
    if (fx.discreteOn || fx.masterTrev) {
        if (CheckDiscreteReverbSettings(kBlockFrames, rate, fx.trtnSize, fx.tapCount, fx.posX, fx.posY, fx.posZ) != 0)
            report.Error(cue, LastRow(run, "trtn"),
                         "the tap reverb rejects its settings (see the message above); a run would stop on its "
                         "first block");
    }
    if (fx.recursiveOn || fx.masterRev) {
        if (CheckRecursiveReverbSettings(n, rate, fx.rtnSize, fx.posX, fx.posY, fx.posZ, fx.width) != 0)
            report.Error(cue, LastRow(run, "rtn"),
                         "the reverb rejects its settings (see the message above); a run would stop on its first "
                         "block");
    }
}

int FinishCheck(const Run& run, CheckStage stage, int setupStatus, const std::string& file)
{
    CheckReport report;
    if (stage == CheckStage::kComplete && setupStatus == 0) CheckReverbSettings(run, report);
    ScanForFindings(run, stage, report);
    if (setupStatus != 0)
        report.Error(file, 0,
                     Format("a run would stop here with status %i (see the message above)", setupStatus));
    std::fflush(g_console);
    return report.Print();
}
