#include "corvale/run/diagnostics.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "corvale/cuesheet/levels.h"
#include "corvale/effects/settings.h"
#include "corvale/run/console.h"
#include "corvale/run/control_file.h"
#include "corvale/run/limits.h"
#include "corvale/run/prefs_keywords.h"
#include "corvale/run/text.h"
#include "corvale/run/tracklist.h"

namespace {

constexpr const char* kCueCodes[] = {
    "tstamp", "sstamp", "sub",   "submu", "subso", "VCA:",   "tmap",  "t",     "inc",   "v",      "vca",
    "rmp",    "ofs",    "shape", "p",     "pol",   "dp",     "trim",  "scale", "mtrim", "fxg",
    "rev",    "trev",   "rtn",   "trtn",  "pos",   "width",  "rhp",   "rlp",   "o",     "order",
};  // and the strip effects' codes


}  // namespace

bool IsKnownWord(const std::string& word, KnownWords words)
{
    if (words == KnownWords::kCueCodes) {
        for (const char* c : kCueCodes)
            if (word == c) return true;
        if (FindStripEffect(word.c_str()) != nullptr) return true;
    } else {
        return FindPrefsKeyword(word.c_str()) != nullptr;
    }
    return false;
}

std::vector<UnheardTrack> FindUnheardTracks(const Tracks& tracks, const AutomationTables& automation)
{
    std::vector<UnheardTrack> unheard;
    for (int c = 1; c <= tracks.channels(); ++c) {
        const size_t i = static_cast<size_t>(c);
        switch (tracks.problem[i]) {
        case TrackProblem::kNotFound: unheard.push_back({c, "not found"}); break;
        case TrackProblem::kUnusable: unheard.push_back({c, "not a usable WAV file (see the message above)"}); break;
        case TrackProblem::kNameTooLong: unheard.push_back({c, "its name is longer than 255 characters"}); break;
        case TrackProblem::kPathTooLong: unheard.push_back({c, "its path is longer than 127 characters"}); break;
        case TrackProblem::kMarkerTypo:
            unheard.push_back({c, "its marker \"" + tracks.marker[i] +
                                      "\" is neither \"+\" nor \"++\" (a name with spaces, or a space after the "
                                      "marker?)"});
            break;
        case TrackProblem::kNone:
            if (tracks.active[i] && tracks.headerOk[i] && automation.count[i] == 0)
                unheard.push_back({c, "no level cue in the cue sheet"});
            break;
        }
    }
    return unheard;
}

int ReportUnheardTracks(Tracks& tracks, const AutomationTables& automation, int verbo, bool always)
{
    const std::vector<UnheardTrack> unheard = FindUnheardTracks(tracks, automation);
    // Every channel's reason, deliberate mutes included, for the JSON report.
    for (int c = 1; c <= tracks.channels(); ++c) {
        const size_t i = static_cast<size_t>(c);
        tracks.notHeard[i] = tracks.active[i] ? "" : "muted (a marker, a solo elsewhere or a muted submix)";
    }
    for (const UnheardTrack& e : unheard) tracks.notHeard[static_cast<size_t>(e.channel)] = e.why;
    const int beyond = tracks.count > kMaxChannels ? tracks.count - kMaxChannels : 0;
    const int total = static_cast<int>(unheard.size()) + beyond;
    if (total == 0 || (verbo < 1 && !always)) return total;
    std::fprintf(g_console, ">> Warning: %i of %i tracks will not be heard:\n", total, tracks.count);
    for (const UnheardTrack& e : unheard)
        std::fprintf(g_console, "  channel %i (%s): %s\n", e.channel,
                     tracks.names[static_cast<size_t>(e.channel - 1)].c_str(), e.why.c_str());
    if (beyond > 0)
        std::fprintf(g_console, "  channels %i to %i: left out (at most %i tracks take part)\n", kMaxChannels + 1,
                     tracks.count, kMaxChannels);
    return total;
}

void ReportNoUsableTrack(const Tracks& tracks, const ControlFile& trackFile, bool tlistTab)
{
    for (int c = 1; c <= tracks.channels(); ++c)
        if (tracks.headerOk[static_cast<size_t>(c)]) return;
    std::fprintf(g_console, ">> Warning: no track of the track list %s can be used.\n", trackFile.path.c_str());
    if (!tlistTab && std::strchr(trackFile.body(), '\t') != nullptr)
        std::fprintf(g_console, "  Its lines hold tabs: the preferences may be missing \"tlist=tab\".\n");
}

std::vector<NumberedLine> FindSpaceSeparatedLines(const ControlFile& file, KnownWords words)
{
    std::vector<NumberedLine> found;
    std::string copy(file.body());
    std::vector<char*> lines;
    const int count = pointToLines(copy.data(), lines);
    const int before = file.LinesBeforeBody();
    bool titleSeen = words != KnownWords::kCueCodes;
    for (int i = 0; i <= count; ++i) {
        const char* line = lines[static_cast<size_t>(i)];
        if (i == 0 && file.bodyStart > 0) continue;   // the rest of the "begin" line
        const char* first = line + std::strspn(line, " \t");
        const std::string word(first, std::strcspn(first, " \t"));
        if (word == "end") break;
        if (word.empty()) continue;
        if (!titleSeen) {
            titleSeen = true;
            continue;
        }
        if (std::strchr(line, '\t') != nullptr || std::strchr(line, ' ') == nullptr) continue;
        if (!IsKnownWord(word, words)) continue;
        found.push_back({before + 1 + i, line});
    }
    return found;
}

int WarnSpaceSeparatedLines(const ControlFile& file, const std::string& fileName, KnownWords words, int verbo)
{
    const std::vector<NumberedLine> found = FindSpaceSeparatedLines(file, words);
    if (verbo >= 1)
        for (const NumberedLine& l : found)
            std::fprintf(g_console,
                         ">> Warning: %s line %i: \"%s\" is separated by spaces, not tabs; it is not read as "
                         "written.\n",
                         fileName.c_str(), l.line, l.text.c_str());
    return static_cast<int>(found.size());
}

int ReportShortTracks(const Tracks& tracks, int verbo, bool always)
{
    int found = 0;
    for (int c = 1; c <= tracks.channels(); ++c) {
        const size_t i = static_cast<size_t>(c);
        const WavInfo& info = tracks.info[i];
        if (!tracks.headerOk[i] || info.frames >= info.declaredFrames) continue;
        ++found;
        if (verbo >= 1 || always)
            std::fprintf(g_console,
                         ">> Warning: the file of channel %i (%s) holds %lld frames but its header says %lld; it "
                         "plays short.\n",
                         c, tracks.paths[i].c_str(), static_cast<long long>(info.frames),
                         static_cast<long long>(info.declaredFrames));
    }
    return found;
}
