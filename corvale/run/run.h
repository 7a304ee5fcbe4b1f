// The run state: everything one run of the mixer reads, builds and reports,
// owned for the whole run and handed from phase to phase.
#pragma once
#include <ctime>
#include <memory>
#include <string>

#include "corvale/cuesheet/cuesheet.h"
#include "corvale/cuesheet/levels.h"
#include "corvale/cuesheet/pan.h"
#include "corvale/cuesheet/routing.h"
#include "corvale/cuesheet/timing.h"
#include "corvale/effects/settings.h"
#include "corvale/engine/mixer.h"
#include "corvale/run/control_file.h"
#include "corvale/run/outputs.h"
#include "corvale/run/prefs.h"
#include "corvale/run/tracklist.h"

struct Run {
    std::clock_t startClock = 0;
    unsigned ditherSeed = 0;   // the seed of the dither's random source (the clock's or the seed keyword's)
    std::string trackListName = "tracks.txt";
    std::string faderName = "faders.txt";
    std::string prefsName = "prefs.txt";
    bool strict = false;   // tracks not heard, a silent mix or a short track are errors (status 3)
    bool check = false;    // a dry run (--check): every set-up phase, no file created, changed or removed

    ControlFile prefsFile;
    ControlFile trackFile;
    Prefs prefs;
    Tracks tracks;
    CueSheet cue;
    Routing routing;
    Timing timing;
    AutomationTables automation;
    PanSettings pan;
    EffectSettings fx;
    MixStats stats;
    RunOutputs outputs;
};

// The whole run from the command line to the exit status.
int RunCorvale(int argc, char** argv);
