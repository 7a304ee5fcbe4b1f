// Warnings about what a run would otherwise lose without a word: tracks that
// will not be heard, a track list with no usable track, control-file lines
// typed with spaces where the reader needs tabs.
#pragma once
#include <string>
#include <vector>

struct AutomationTables;
struct ControlFile;
struct Tracks;

// A track that will not be heard and why.
struct UnheardTrack {
    int channel;
    std::string why;
};

// The channels of the list (up to 127) that will not be heard, for a reason
// other than a deliberate mute or a solo elsewhere.
std::vector<UnheardTrack> FindUnheardTracks(const Tracks& tracks, const AutomationTables& automation);

// Tracks the list names that will not be heard, for a reason other than a
// deliberate mute or a solo elsewhere: one summary (at verbosity 1 and above,
// or always when asked), a line per track with its reason. Every channel's
// reason, deliberate mutes included, is kept in tracks.notHeard. Returns how many.
int ReportUnheardTracks(Tracks& tracks, const AutomationTables& automation, int verbo, bool always = false);

// When no channel of the list can play: says so, and hints at tlist=tab when
// the lines hold tabs but the layout is the space-separated one.
void ReportNoUsableTrack(const Tracks& tracks, const ControlFile& trackFile, bool tlistTab);

// Which reader a file is checked for.
enum class KnownWords { kCueCodes, kPreferences };

// A line of a control file, numbered from the file's first line.
struct NumberedLine {
    int line;
    std::string text;
};

// Body lines (up to "end") that hold a space but no tab and whose first word is
// exactly a code or keyword of the reader.
std::vector<NumberedLine> FindSpaceSeparatedLines(const ControlFile& file, KnownWords words);

// Body lines (up to "end") that hold a space but no tab and whose first word
// is exactly a code or keyword of the reader: they are not read as meant.
// Line numbers count from the file's first line. Returns how many were found.
int WarnSpaceSeparatedLines(const ControlFile& file, const std::string& fileName, KnownWords words, int verbo);

// True when word is a code of the cue sheet or a keyword of the preferences.
bool IsKnownWord(const std::string& word, KnownWords words);

// Tracks whose data chunk holds fewer frames than their header says: they play
// short. A line each (at verbosity 1 and above, or always). Returns how many.
int ReportShortTracks(const Tracks& tracks, int verbo, bool always = false);
