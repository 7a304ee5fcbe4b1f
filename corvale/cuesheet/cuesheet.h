// The cue sheet as the mixer reads it: the cleaned body, the mix title, and the
// fixed sequence of reading passes that builds every table before the mix.
#pragma once
#include <string>

#include "corvale/run/control_file.h"

struct CueSheet {
    ControlFile file;
    std::string body;    // the body, every space removed when the text held one
    std::string title;   // first non-empty line after "begin"
    const char* text() const { return body.c_str(); }
};

struct Run;
struct TimeContext;
class Tokens;

// Line checks (verbosity 2 or more), space removal and the title.
void PrepareCueSheet(int verbo, CueSheet& cue);

// The reading passes after the output header, in their fixed order: routing,
// offset, tempo map, time fields, the cue pass, dp, trim, scale, mtrim, fxg, the
// checks with default ramps, the pan law, the effect rows.
// Returns 0, or the exit status of a fatal error (after its message).
int ReadCueSheet(Run& run);

// What the time readers need from the run: rate, song length, tempo mode, xin
// point and the announce flag (verbosity level 2).
TimeContext CueTimeContext(const Run& run);
