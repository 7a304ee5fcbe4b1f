#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "corvale/report/report.h"
#include "corvale/run/check.h"
#include "corvale/run/command_line.h"
#include "corvale/run/console.h"
#include "corvale/run/diagnostics.h"
#include "corvale/run/numeric.h"
#include "corvale/run/outputs.h"
#include "corvale/run/process.h"
#include "corvale/run/run.h"

namespace {

int Exit(int status)
{
    std::fflush(g_console);
    std::fflush(stdout);
    return status;
}

}  // namespace

int RunCorvale(int argc, char** argv)
{
    OpenStandardDescriptors();
    InstallSignalHandlers();

    const CommandLine cl = ParseCommandLine(argc, argv);
    if (!cl.unknown.empty()) {
        std::fprintf(g_console, "Error: unknown option %s\n\n%s", cl.unknown.c_str(), kUsageText);
        return Exit(2);
    }
    if (cl.help) {
        std::fprintf(g_console, "%s", kUsageText);
        return Exit(0);
    }
    if (cl.version) {
        std::fprintf(g_console, "corvale %s\n", PROJECT_VERSION_STRING);
        return Exit(0);
    }

    auto run = std::make_unique<Run>();
    run->startClock = std::clock();
    run->strict = cl.strict && !cl.check;
    run->check = cl.check;
    if (cl.files.size() > 0) run->trackListName = cl.files[0];
    if (cl.files.size() > 1) run->faderName = cl.files[1];
    if (cl.files.size() > 2) run->prefsName = cl.files[2];
    Prefs& prefs = run->prefs;

    // Where the set-up stops. A dry run (--check) reports its findings there,
    // the set-up's own failure among them, and ends with its own status.
    CheckStage stage = CheckStage::kFilesRead;
    auto stop = [&](int status, const std::string& file) {
        return Exit(run->check ? FinishCheck(*run, stage, status, file) : status);
    };

    // Preferences, banner, directories and the track-list layout.
    if (!LoadPreferences(run->prefsName.c_str(), run->prefsFile, run->check)) return stop(2, run->prefsName);
    prefs.verbo = ReadVerbo(run->prefsFile);
    if (prefs.verbo == 2) std::fprintf(g_console, "Corvale version 1.164 (w20e)\n");
    if (const int status = ReadEarlyPrefs(run->prefsFile, prefs)) return stop(status, run->prefsName);

    // The track list.
    if (LoadControlFile(run->trackListName.c_str(), run->trackFile) != 0) {
        const int err = errno;
        std::fprintf(g_console, "tracks.txt file was not found.\n");
        std::fprintf(g_console, "Create the file and run again.\n");
        std::fprintf(g_console, "Exiting...\n");
        PrintFileReason(run->trackListName.c_str(), err);
        return stop(2, run->trackListName);
    }
    if (prefs.verbo >= 2)
        CheckLines(run->trackFile.body(), prefs.tlistTab ? LineCheck::kTracksTab : LineCheck::kTracksSpace);
    CountTracks(run->trackFile, prefs, run->tracks);

    // The cue sheet (or the dialogue that writes a default one).
    if (const int status = LoadFaderFile(run->faderName.c_str(), run->tracks.count, run->cue.file, stdin,
                                         run->check))
        return stop(status, run->faderName);

    WarnSpaceSeparatedLines(run->prefsFile, run->prefsFile.path, KnownWords::kPreferences, prefs.verbo);
    WarnSpaceSeparatedLines(run->cue.file, run->cue.file.path, KnownWords::kCueCodes, prefs.verbo);
    PrepareCueSheet(prefs.verbo, run->cue);
    DecodeTrackList(run->trackFile, prefs, run->tracks);
    ReportNoUsableTrack(run->tracks, run->trackFile, prefs.tlistTab);
    const int shortTracks = ReportShortTracks(run->tracks, prefs.verbo, run->strict);

    if (prefs.verbo == 2) std::fprintf(g_console, "Read file headers.\n");
    if (const int status = CheckSampleRates(run->tracks)) return stop(status, run->trackListName);

    PlaceTracks(run->cue.text(), run->tracks);
    stage = CheckStage::kTracksPlaced;
    if (prefs.verbo == 2)
        std::fprintf(g_console, "Sample Rate: %u\n", static_cast<unsigned>(Trunc64(run->tracks.sampleRate)));

    run->ditherSeed = static_cast<unsigned>(std::time(nullptr) % 3600);
    std::srand(run->ditherSeed);

    if (const int status = ReadLatePrefs(run->prefsFile, run->cue.title, run->tracks.songLength,
                                         run->tracks.sampleRate, prefs))
        return stop(status, run->prefsName);
    if (prefs.seedSet) {
        // A repeatable render: the dither's draws start from the given seed.
        run->ditherSeed = prefs.seed;
        std::srand(run->ditherSeed);
    }

    // The mix must be writable before the cue sheet is read; it is created
    // (under a temporary name) only once everything is read.
    if (!RenderFitsWav(prefs, run->tracks.sampleRate)) return stop(2, run->prefsName);
    if (const int status = CheckMixTarget(prefs.outName)) return stop(status, prefs.outName);

    if (!prefs.preview && prefs.renderCount == 0 && prefs.verbo >= 1)
        std::fprintf(g_console, ">> Warning: the export window holds no frames (xin equals xout); the mix file will "
                                "hold no audio.\n");

    if (const int status = ReadCueSheet(*run)) return stop(status, run->faderName);
    stage = CheckStage::kCueRead;
    if (ReportUnheardTracks(run->tracks, run->automation, prefs.verbo, run->strict) > 0 && run->strict) {
        std::fprintf(g_console, "Error: tracks that will not be heard stop the run (--strict); nothing was written.\n");
        return Exit(kStrictStatus);
    }
    if (shortTracks > 0 && run->strict) {
        std::fprintf(g_console, "Error: tracks shorter than their headers say stop the run (--strict); nothing was "
                                "written.\n");
        return Exit(kStrictStatus);
    }
    if (const int status = CheckOutputNames(*run)) return stop(status, prefs.outName);
    if (run->check) {
        stage = CheckStage::kComplete;
        return stop(0, std::string());
    }
    if (const int status = MixIntoOutputs(*run)) return Exit(status);

    if (prefs.verbo > 0) std::fprintf(g_console, "\nDone!  Created the file: %s\n\n", prefs.outName.c_str());
    if (prefs.verbo >= 2)
        for (const StemOutput& stem : run->outputs.stems) std::fprintf(g_console, "Stem: %s\n", stem.name.c_str());
    if (const int status = CreateTextFiles(*run, run->outputs.reports, run->outputs.writeBackup))
        return Exit(status);

    std::fflush(g_console);
    std::fflush(stdout);
    if (prefs.launchSet) {
        RestoreSignalsForChild();
        const int ignored = std::system(prefs.launch.c_str());
        (void)ignored;
    }
    return 0;
}
