// The set-up phases of a mixer run over in-memory control files, shared by the
// set-up and mix fuzz targets. Every path the run reads or writes stays inside
// the scratch directory, where a small fixed set of WAV files is written once.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "corvale/audio/wav_out.h"
#include "corvale/cuesheet/cuesheet.h"
#include "corvale/run/console.h"
#include "corvale/run/control_file.h"
#include "corvale/run/numeric.h"
#include "corvale/run/outputs.h"
#include "corvale/run/prefs.h"
#include "corvale/run/run.h"
#include "corvale/run/tracklist.h"
#include "fuzz/fuzz_common.h"

namespace fuzzutil {

inline void InitTracks()
{
    const std::string& dir = ScratchDir();
    WriteFile(dir + "/a.wav", MakeWav(1, 2, 16, 44100, 3000));
    WriteFile(dir + "/b.wav", MakeWav(1, 1, 24, 44100, 2000));
    WriteFile(dir + "/c.wav", MakeWav(3, 2, 32, 44100, 1500));
    WriteFile(dir + "/d.wav", MakeWav(1, 1, 16, 22050, 1000));
    WriteFile(dir + "/e.wav", MakeWav(1, 2, 24, 22050, 800));
    g_console = std::fopen("/dev/null", "w");
    if (g_console == nullptr) std::abort();
}

// Paths must not leave the scratch directory: a name must not reach a device
// or a pipe that would block the run.
inline bool PathsStayInside(const uint8_t* data, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        if (data[i] == '/') return false;
    return true;
}

// The set-up phases of a run as the program runs them, up to the end of the
// cue-sheet passes; withHeader also writes the output header (for a mix).
// Returns the status a run would exit with.
inline int SetUpRun(Run& run, const std::string& prefsText, const std::string& trackText,
                    const std::string& cueText, bool withHeader)
{
    Prefs& prefs = run.prefs;
    {
        MemStream s(prefsText);
        LoadControlStream(s.f, run.prefsFile, "prefs.txt");
    }
    CheckLines(run.prefsFile.body(), LineCheck::kPreferences);
    prefs.verbo = ReadVerbo(run.prefsFile);
    if (const int status = ReadEarlyPrefs(run.prefsFile, prefs)) return status;
    // Track paths and written files lead into the scratch directory (the
    // working directory stays, so the fuzzer finds its corpus).
    const std::string dir = ScratchDir() + "/";
    prefs.wavdir = dir + prefs.wavdir;
    prefs.wavdirSet = true;
    prefs.mixdir = dir + prefs.mixdir;
    prefs.mixdirSet = true;
    prefs.predir = dir + prefs.predir;
    prefs.predirSet = true;
    {
        MemStream s(trackText);
        LoadControlStream(s.f, run.trackFile, "tracks.txt");
    }
    if (prefs.verbo >= 2)
        CheckLines(run.trackFile.body(), prefs.tlistTab ? LineCheck::kTracksTab : LineCheck::kTracksSpace);
    CountTracks(run.trackFile, prefs, run.tracks);
    {
        MemStream s(cueText);
        LoadControlStream(s.f, run.cue.file, "faders.txt");
    }
    PrepareCueSheet(prefs.verbo, run.cue);
    DecodeTrackList(run.trackFile, prefs, run.tracks);
    if (const int status = CheckSampleRates(run.tracks)) return status;
    PlaceTracks(run.cue.text(), run.tracks);
    if (const int status = ReadLatePrefs(run.prefsFile, run.cue.title, run.tracks.songLength,
                                         run.tracks.sampleRate, prefs))
        return status;
    if (!RenderFitsWav(prefs, run.tracks.sampleRate)) return 2;
    if (withHeader) {
        if (const int status = CheckMixTarget(prefs.outName)) return status;
    }
    if (const int status = ReadCueSheet(run)) return status;
    return withHeader ? CheckOutputNames(run) : 0;
}

}  // namespace fuzzutil
