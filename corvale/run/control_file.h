// Loading of the three control files: the whole text, where its body starts,
// the layout line checks with their warnings, the default preferences file and
// the missing-cue-sheet dialogue.
#pragma once
#include <cstdio>
#include <string>

// One control file in memory. The text ends at its first NUL byte (as a C string
// would); the body starts at the line feed that follows the first "begin", or at
// the start when the text has no "begin".
struct ControlFile {
    std::string text;
    size_t bodyStart = 0;
    bool loaded = false;
    const char* body() const { return text.c_str() + bodyStart; }
};

// Reads an open stream into file (text and body). Returns false when nothing could be read.
bool LoadControlStream(std::FILE* f, ControlFile& file);

// Which file a set of line checks is for.
enum class LineCheck { kPreferences, kFader, kTracksSpace, kTracksTab };

// Runs the layout checks over the lines of body and prints their warnings.
void CheckLines(const char* body, LineCheck kind);

// Loads the preferences file at path; when it cannot be opened writes and loads
// the default "prefs.txt" with its two messages. Returns false only when even the
// default could not be written (after saying so).
bool LoadPreferences(const char* path, ControlFile& file);

// Loads the cue sheet at path; when it cannot be opened runs the dialogue that
// writes the default "faders.txt" for channelCount channels. Returns 0 to go on,
// or the exit status (1 after -999, 2 when the default cannot be written).
int LoadFaderFile(const char* path, int channelCount, ControlFile& file);
