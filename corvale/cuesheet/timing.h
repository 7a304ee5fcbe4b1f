// Cue times: the automation offset, the tempo map, the time-field count, and the
// reading of "t" and "inc" lines into song frames with their checks.
#pragma once
#include <cstdint>
#include <vector>

class Tokens;
class PrefsNotes;

struct TempoSection {
    double tempo = 0.0;
    int beatsPerBar = 0;
    int bars = 0;
    double samplesPerBeat = 0.0;
    int64_t length = 0;
};

struct Timing {
    int64_t offset = 0;          // automation offset in samples
    int tfields = 3;
    std::vector<TempoSection> map;
    int64_t current = 0;         // current time of the cue pass
    int entries = 0;             // "t" lines read so far
};

// What the time readers need to know about the run.
struct TimeContext {
    double rate = 44100.0;
    int64_t songLength = 0;
    bool tempo = false;
    int64_t xin = 0;
    bool announce = false;       // verbosity level 2
};

// `offset` lines of the preferences text (notes: the file's record of keywords
// reported without a value).
void ReadOffset(const char* prefsBody, const TimeContext& ctx, Timing& timing, PrefsNotes* notes = nullptr);
// "tmap" lines (tempo mode only). Returns 0 or the exit status 2 after its message
// (no section at all, or a tempo that is not a positive finite number).
int ReadTempoMap(const char* body, const TimeContext& ctx, Timing& timing);
// `tfields` lines of the preferences text.
void ReadTimeFields(const char* prefsBody, const TimeContext& ctx, Timing& timing, PrefsNotes* notes = nullptr);

// A "t" line whose code was just read from tokens: reads its fields, checks the
// time and makes it current. Returns 0 or the exit status 2 after its message.
int ReadTimeLine(Tokens& tokens, const TimeContext& ctx, Timing& timing);
// The time fields of a "t" line whose code was just read, as song frames
// (automation offset included; no checks, nothing printed).
int64_t ReadTimeValue(Tokens& tokens, const TimeContext& ctx, const Timing& timing);
// An "inc" line whose code was just read: moves the current time on.
void ReadIncLine(Tokens& tokens, const TimeContext& ctx, Timing& timing);
// The frame of a musical time against the tempo map, automation offset included
// (the song-length and zero checks are the caller's).
int64_t MusicalTime(const Timing& timing, float bar, float beat, float tick);
// The frame of a clock time, automation offset included (no checks).
int64_t ClockTime(const Timing& timing, double rate, float minutes, float seconds, float millis);
// The closing count message of the cue pass.
void AnnounceTimeEntries(const TimeContext& ctx, const Timing& timing);
