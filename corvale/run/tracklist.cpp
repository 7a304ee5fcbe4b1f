#include "corvale/run/tracklist.h"

#include <unistd.h>

#include <cmath>
#include <cstring>

#include "corvale/run/console.h"
#include "corvale/run/control_file.h"
#include "corvale/run/numeric.h"
#include "corvale/run/prefs.h"
#include "corvale/run/text.h"

void CountTracks(const ControlFile& trackFile, const Prefs& prefs, Tracks& tracks)
{
    Tokens lines(trackFile.body());
    const char* line = lines.Next("\n");
    if (line == nullptr || std::strcmp(line, "end") == 0) {
        tracks.count = 0;
        std::fprintf(g_console, ">> Warning: the track list names no track before \"end\"; there are no channels.\n");
        return;
    }
    int count = 1;  // the first line is always channel 1
    for (line = lines.Next("\n"); line != nullptr && std::strcmp(line, "end") != 0; line = lines.Next("\n"))
        ++count;
    tracks.count = count;

    if (prefs.verbo == 2) {
        if (count == 1)
            std::fprintf(g_console, "Counted 1 track\n");
        else
            std::fprintf(g_console, "Counted %i tracks\n", count);
    }
    if (count > kMaxChannels)
        std::fprintf(g_console, ">> Warning: the track list has %i tracks; only the first %i take part in the mix.\n",
                     count, kMaxChannels);
}

void DecodeTrackList(const ControlFile& trackFile, const Prefs& prefs, Tracks& tracks)
{
    tracks.active.fill(0);
    tracks.headerOk.fill(0);
    for (auto& s : tracks.names) s.clear();
    for (auto& s : tracks.paths) s.clear();

    const char sep = prefs.tlistTab ? '\t' : ' ';
    const char* fieldDelims = prefs.tlistTab ? "\t\n" : " \n";
    std::string body = trackFile.body();
    RemoveExtraString(body, sep);

    const int n = tracks.channels();
    std::array<std::string, kChannelRows> markers;
    bool solo = false;
    Tokens tokens(body);
    for (int ch = 1; ch <= n; ++ch) {
        const char* name = nullptr;
        const char* marker = nullptr;
        if (prefs.tlist == 0) {
            name = tokens.Next("\n");
        } else {
            if (prefs.tlist != 1) tokens.Next(fieldDelims);  // the label
            name = tokens.Next(fieldDelims);
            marker = tokens.Next("\n");
        }
        if (name != nullptr) tracks.names[static_cast<size_t>(ch - 1)] = name;
        if (marker != nullptr) markers[static_cast<size_t>(ch)] = marker;
        if (marker != nullptr && std::strcmp(marker, "++") == 0) solo = true;
    }

    tracks.problem.fill(TrackProblem::kNone);
    for (int ch = 1; ch <= n; ++ch) {
        const size_t c = static_cast<size_t>(ch);
        const std::string& marker = markers[c];
        tracks.marker[c] = marker;
        if (prefs.tlist == 0) {
            tracks.active[c] = 1;
            continue;
        }
        tracks.active[c] = (marker == (solo ? "++" : "+")) ? 1 : 0;
        // A marker with a "+" that is neither "+" nor "++", or a marker of more
        // than one field (a name with a space), was most likely meant to play.
        const bool typo = marker.find('+') != std::string::npos && marker != "+" && marker != "++";
        const bool extraFields = marker.find(sep) != std::string::npos;
        if (!tracks.active[c] && (typo || extraFields)) tracks.problem[c] = TrackProblem::kMarkerTypo;
    }

    for (int ch = 1; ch <= n; ++ch) {
        const size_t c = static_cast<size_t>(ch);
        std::string& name = tracks.names[c - 1];
        if (name.size() > static_cast<size_t>(kNameMax)) {
            name.resize(static_cast<size_t>(kNameMax));
            if (tracks.active[c]) {
                std::fprintf(g_console, ">> Warning: the name of track %i is longer than %i characters; "
                             "the track is left out.\n", ch, kNameMax);
                tracks.problem[c] = TrackProblem::kNameTooLong;
            }
            tracks.active[c] = 0;
            continue;
        }
        tracks.paths[c] = prefs.wavdir + name;
        if (!tracks.active[c]) continue;
        if (tracks.paths[c].size() > static_cast<size_t>(kPathMax)) {
            std::fprintf(g_console, ">> Warning: the path of track %i is longer than %i characters; "
                         "the track is left out.\n", ch, kPathMax);
            tracks.problem[c] = TrackProblem::kPathTooLong;
            tracks.active[c] = 0;
            continue;
        }
        if (GET_ATTRIBUTES(ch, tracks.paths[c].c_str(), tracks.info[c]) == 1) {
            tracks.headerOk[c] = 1;
        } else {
            tracks.active[c] = 0;
            tracks.problem[c] = ::access(tracks.paths[c].c_str(), F_OK) == 0 ? TrackProblem::kUnusable
                                                                            : TrackProblem::kNotFound;
        }
    }
}

int CheckSampleRates(Tracks& tracks)
{
    const int n = tracks.channels();
    bool first = true;
    uint64_t rate = 0;
    size_t firstChannel = 0;
    for (int ch = 1; ch <= n; ++ch) {
        const size_t c = static_cast<size_t>(ch);
        if (!tracks.active[c]) continue;
        if (first) {
            rate = tracks.info[c].sampleRate;
            firstChannel = c;
            first = false;
        } else if (tracks.info[c].sampleRate != rate) {
            std::fprintf(g_console, "The sample rate appears to be %li\n", static_cast<long>(rate));
            std::fprintf(g_console, "The file assigned to channel %i has a different rate!\n", ch);
            std::fprintf(g_console, "  %s is at %llu Hz; %s, the first track, is at %llu Hz\n",
                         tracks.paths[c].c_str(), static_cast<unsigned long long>(tracks.info[c].sampleRate),
                         tracks.paths[firstChannel].c_str(), static_cast<unsigned long long>(rate));
            return 1;
        }
    }
    tracks.sampleRate = first ? 44100.0 : static_cast<double>(rate);
    return 0;
}

namespace {

// Offsets come from hand-written numbers: sums saturate instead of overflowing.
int64_t SatAdd(int64_t a, int64_t b)
{
    int64_t r = 0;
    if (__builtin_add_overflow(a, b, &r)) return b > 0 ? INT64_MAX : INT64_MIN;
    return r;
}

bool ChannelInRange(int ch, const char* keyword)
{
    if (ch >= 1 && ch <= kMaxChannels) return true;
    std::fprintf(g_console, ">> Warning: %s for channel %i ignored; channels are 1 to %i.\n", keyword, ch,
                 kMaxChannels);
    return false;
}

}  // namespace

void PlaceTracks(const char* cueBody, Tracks& tracks)
{
    ScanKeyword(cueBody, "tstamp", [&tracks](Tokens& t) {
        const int ch = AtoI(t.Next("\t\n"));
        const float minutes = AtoFf(t.Next("\t\n"));
        const float seconds = AtoFf(t.Next("\t\n"));
        const float millis = AtoFf(t.Next("\n"));
        if (ChannelInRange(ch, "tstamp")) {
            const double at = static_cast<double>(minutes) * 60.0 + static_cast<double>(seconds) +
                              static_cast<double>(millis) / 1000.0;
            if (std::isfinite(at))
                tracks.offset[static_cast<size_t>(ch)] = Trunc64(at * tracks.sampleRate);
            else
                std::fprintf(g_console, ">> Warning: tstamp for channel %i ignored; its time is not a finite number.\n",
                             ch);
        }
        return true;
    });
    ScanKeyword(cueBody, "sstamp", [&tracks](Tokens& t) {
        const int ch = AtoI(t.Next("\t\n"));
        const int samples = AtoI(t.Next("\n"));
        if (ChannelInRange(ch, "sstamp")) {
            int64_t& off = tracks.offset[static_cast<size_t>(ch)];
            off = SatAdd(off, samples);
        }
        return true;
    });

    int64_t length = 0;
    for (int ch = 1; ch <= kMaxChannels; ++ch) {
        const size_t c = static_cast<size_t>(ch);
        if (!tracks.headerOk[c]) continue;
        const int64_t end = SatAdd(tracks.offset[c], tracks.info[c].frames);
        if (end > length) length = end;
    }
    tracks.songLength = length;
}
