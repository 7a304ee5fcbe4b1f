// Loading of the three control files: the whole text, where its body starts,
// the layout line checks with their warnings, the default preferences file and
// the missing-cue-sheet dialogue.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "corvale/run/prefs_keywords.h"

// One control file in memory. The text ends at its first NUL byte (as a C string
// would); the body starts at the line feed that follows the first "begin", or at
// the start when the text has no "begin".
struct ControlFile {
    std::string text;
    size_t bodyStart = 0;
    bool loaded = false;
    std::string path;   // the file it was read from (empty for a text given in memory)
    // A dry run that found no file took the default text instead: the name it
    // looked for (a real run would have written the default).
    std::string standsInFor;
    // For a preferences file: the keywords whose missing value has been reported.
    mutable PrefsNotes prefsNotes;
    const char* body() const { return text.c_str() + bodyStart; }
    // Line feeds before the body: body line i (of pointToLines) is file line
    // LinesBeforeBody() + 1 + i.
    int LinesBeforeBody() const;
};

// The keyword-aware scan of a loaded preferences file; each keyword without its
// value is reported once however often it is scanned.
template <class F>
void ScanPrefs(const ControlFile& prefs, const char* key, F&& onHit)
{
    ScanPrefs(prefs.body(), key, onHit, PrefsScan{&prefs.prefsNotes});
}

// Reads an open stream into file (text and body). Returns false when the stream
// could not be read (file then holds an empty text). A UTF-8 byte-order mark at
// the start and the carriage return of every CR LF pair are dropped, so a file
// saved with either reads as its plain twin; a lone carriage return stays. name,
// when given, names the file in the warning printed for a "begin" without a line
// break after it.
bool LoadControlStream(std::FILE* f, ControlFile& file, const char* name = nullptr);

// The text of a control file as its readers take it: without a leading UTF-8
// byte-order mark and with every CR LF pair made a single line feed.
void NormaliseLineEnds(std::string& text);

// Finds the body of text: the offset of the first line feed after the first
// "begin", 0 without "begin", text.size() when "begin" has no line feed after it.
size_t FindBody(const std::string& text);

// Which file a set of line checks is for.
enum class LineCheck { kPreferences, kFader, kTracksSpace, kTracksTab };

// One failed layout test of a body line (index i of pointToLines, from 0).
struct LayoutProblem {
    enum Kind { kDoubleTab, kTrailingTab, kTabSpace, kTrackTab, kTrackDoubleSpace };
    int line;
    Kind kind;
};

// The layout tests of kind over the lines of body, in line order and, within a
// line, in the order they are made (a line can fail several).
std::vector<LayoutProblem> FindLayoutProblems(const char* body, LineCheck kind);

// Runs the layout checks over the lines of body and prints their warnings.
void CheckLines(const char* body, LineCheck kind);

// Opens and loads path. Returns 1 when the file cannot be opened (file untouched),
// 0 otherwise; a file that opens but cannot be read is taken as empty after a warning.
int LoadControlFile(const char* path, ControlFile& file);

// Loads the preferences file at path; when it cannot be opened writes and loads
// the default "prefs.txt" with its two messages, unless a "prefs.txt" exists
// already (then it is kept and the run stops). Then runs the preferences line
// checks. Returns false after a message when the run must stop. A dry run
// writes nothing: the default text stands in for the missing file.
bool LoadPreferences(const char* path, ControlFile& file, bool dryRun = false);

// Loads the cue sheet at path; when it cannot be opened runs the dialogue that
// reads a level from in and writes the default "faders.txt" for channelCount
// channels. Returns 0 to go on, or the exit status (1 after -999, 2 when the
// default cannot be written or when a "faders.txt" exists that is not the file
// asked for: it is kept, and the prompt is not asked). A dry run neither asks
// nor writes: the default cue sheet at 0 dB stands in for the missing file.
int LoadFaderFile(const char* path, int channelCount, ControlFile& file, std::FILE* in = stdin,
                  bool dryRun = false);

// The text of the default cue sheet for channelCount channels at level.
std::string DefaultFaderText(int channelCount, float level);

// The exact content of the default preferences file.
extern const char kDefaultPrefsText[];
