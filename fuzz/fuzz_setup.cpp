// Fuzz target: the whole mixer set-up from in-memory control files. The input is
// the preferences, the track list and the cue sheet, separated by form feeds; the
// phases run as a real run runs them, up to the end of the cue-sheet passes,
// against a fixed set of WAV files in a scratch directory.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "corvale/audio/wav_out.h"
#include "corvale/cuesheet/cuesheet.h"
#include "corvale/run/console.h"
#include "corvale/run/control_file.h"
#include "corvale/run/prefs.h"
#include "corvale/run/run.h"
#include "corvale/run/tracklist.h"
#include "fuzz/fuzz_common.h"

namespace {

void Init()
{
    const std::string& dir = fuzzutil::ScratchDir();
    fuzzutil::WriteFile(dir + "/a.wav", fuzzutil::MakeWav(1, 2, 16, 44100, 3000));
    fuzzutil::WriteFile(dir + "/b.wav", fuzzutil::MakeWav(1, 1, 24, 44100, 2000));
    fuzzutil::WriteFile(dir + "/c.wav", fuzzutil::MakeWav(3, 2, 32, 44100, 1500));
    fuzzutil::WriteFile(dir + "/d.wav", fuzzutil::MakeWav(1, 1, 16, 22050, 1000));
    fuzzutil::WriteFile(dir + "/e.wav", fuzzutil::MakeWav(1, 2, 24, 22050, 800));
    g_console = std::fopen("/dev/null", "w");
    if (g_console == nullptr) std::abort();
}

// The set-up phases of a run; returns the status a run would exit with.
int SetUp(const std::string& prefsText, const std::string& trackText, const std::string& cueText)
{
    auto run = std::make_unique<Run>();
    Prefs& prefs = run->prefs;
    {
        fuzzutil::MemStream s(prefsText);
        LoadControlStream(s.f, run->prefsFile, "prefs.txt");
    }
    CheckLines(run->prefsFile.body(), LineCheck::kPreferences);
    prefs.verbo = ReadVerbo(run->prefsFile);
    if (const int status = ReadEarlyPrefs(run->prefsFile, prefs)) return status;
    // Track paths lead into the scratch directory (the working directory stays,
    // so the fuzzer finds its corpus).
    prefs.wavdir = fuzzutil::ScratchDir() + "/" + prefs.wavdir;
    prefs.wavdirSet = true;
    // So do the files the set-up writes (the tap file's header).
    prefs.mixdir = fuzzutil::ScratchDir() + "/" + prefs.mixdir;
    prefs.mixdirSet = true;
    prefs.predir = fuzzutil::ScratchDir() + "/" + prefs.predir;
    prefs.predirSet = true;
    {
        fuzzutil::MemStream s(trackText);
        LoadControlStream(s.f, run->trackFile, "tracks.txt");
    }
    if (prefs.verbo >= 2)
        CheckLines(run->trackFile.body(), prefs.tlistTab ? LineCheck::kTracksTab : LineCheck::kTracksSpace);
    CountTracks(run->trackFile, prefs, run->tracks);
    {
        fuzzutil::MemStream s(cueText);
        LoadControlStream(s.f, run->cue.file, "faders.txt");
    }
    PrepareCueSheet(prefs.verbo, run->cue);
    DecodeTrackList(run->trackFile, prefs, run->tracks);
    if (const int status = CheckSampleRates(run->tracks)) return status;
    PlaceTracks(run->cue.text(), run->tracks);
    if (const int status = ReadLatePrefs(run->prefsFile, run->cue.title, run->tracks.songLength,
                                         run->tracks.sampleRate, prefs))
        return status;
    if (!RenderFitsWav(prefs, run->tracks.sampleRate)) return 2;
    return ReadCueSheet(*run);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = (Init(), true);
    (void)ready;
    // Paths stay inside the scratch directory: a name must not reach a device or
    // a pipe that would block the run.
    for (size_t i = 0; i < size; ++i)
        if (data[i] == '/') return 0;
    const auto parts = fuzzutil::Split(data, size, 3);
    SetUp(parts[0], parts[1], parts[2]);
    return 0;
}
