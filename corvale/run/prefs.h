// The preferences: every keyword of the preferences file with its default and
// check, the output name and the render window.
#pragma once
#include <cstdint>
#include <string>

struct Prefs {
    int verbo = 2;
    std::string mixdir, predir, bakdir, wavdir;
    bool mixdirSet = false, predirSet = false, bakdirSet = false, wavdirSet = false;
    int tlist = 2;
    bool tlistTab = false;
    std::string oname;
    bool onameSet = false;
    int sfields = 3;
    int xfields = 3;
    bool preview = false;
    bool percent = false;   // v=percent
    bool tempo = false;
    std::string launch;
    bool launchSet = false;
    bool mono = false;
    float monoGain = 1.0f;  // fold-down gain g when mono
    double dbps = 0.0;
    int dither = 1;
    int outbits = 24;       // 16 or 24
    int64_t xinPoint = 0;   // xin in frames (0 without xin), for the "xlink" offset
    bool loudness = true;   // loudness: "off" switches the loudness meter off
    bool truePeak = false;  // truepeak: "on" adds true peak to the loudness figures
    bool seedSet = false;   // seed: the dither's random source starts from seed, not the clock
    uint32_t seed = 0;
    bool stems = false;     // stems: "on" also writes every bus that enters the master as its own file

    // Computed from the above with the song length.
    std::string outName;    // the file actually written (mix or preview)
    std::string mixName;    // oname or the mix title: names the report files
    int64_t renderStart = 0;
    int64_t renderCount = 0;
};

struct ControlFile;
class Tokens;

// Reads 1 to 3 time fields (seconds; minutes, seconds; minutes, seconds,
// milliseconds) from the tokens, every field but the last ended by a tab, the last
// by the line end, each in single precision; returns the frame position
// (min x 60 + sec + ms / 1000) x rate in double, truncated toward zero.
int64_t ReadTimeFields(Tokens& tokens, int fields, double sampleRate);

// The verbosity level of the preferences (verbo, default 2).
int ReadVerbo(const ControlFile& prefsFile);

// Reads verbo, mixdir, predir, bakdir, wavdir, tlist and tlist=tab.
// Returns 0, or 2 after a message when a prefix is longer than 127 characters.
int ReadEarlyPrefs(const ControlFile& prefsFile, Prefs& prefs);

// Reads the remaining keywords and computes the output name and render window
// for the song length and sample rate. title is the mix title of the cue sheet.
// Returns 0, or 2 after the message of a render-window error or of a name
// (127 characters) or launch command (255 characters) that is too long.
int ReadLatePrefs(const ControlFile& prefsFile, const std::string& title, int64_t songLength,
                  double sampleRate, Prefs& prefs);

// The data size of a WAV file is a 32-bit field: true when the render window's
// data (+ 36 header bytes) fits in the output format; otherwise prints the
// longest render possible for the format (frames and seconds) and returns false.
bool RenderFitsWav(const Prefs& prefs, double sampleRate);
