// The files a run writes: the mix (or preview), the tap file, the stems and the
// two reports. Before any of them is written they are checked against the files
// the run reads and against each other; the mix, tap file and stems are written
// to temporary files and put in place only after the whole mix succeeded.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "corvale/audio/wav_out.h"
#include "corvale/report/report.h"
#include "corvale/run/output_file.h"

struct Run;

// The exit status of a run that --strict stopped.
constexpr int kStrictStatus = 3;

// The bus a stem file holds: 0 the direct bus, 1..8 a submix, kReverbStem the
// shared reverb return.
constexpr int kReverbStem = 9;

// One stem written beside the mix (preferences keyword stems on).
struct StemOutput {
    int bus = 0;
    std::string name;                    // NAME_sub1.wav ... beside the mix
    std::unique_ptr<OutputFile> file;
    OutputPeaks peaks;                   // of the stem's output words
};

// The file suffix of a stem's bus: "sub1" ... "sub8", "direct", "reverb".
std::string StemSuffix(int bus);

// The stems a run writes, in the order direct, sub1 .. sub8, reverb: every bus
// that carries signal into the master. Empty unless the preferences ask for stems.
std::vector<StemOutput> PlanStems(const Run& run);

struct RunOutputs {
    ReportNames reports;
    bool writeTap = false;
    bool writeBackup = true;   // false when the backup would be the cue sheet being read
    OutputFile mix, tap;
    std::vector<StemOutput> stems;
    bool pending = false;      // temporary mix or tap files exist that are not in place yet
};

// Where the mix file was created before: a mix that cannot be written there
// stops the run with "Error: the output file NAME could not be created." and
// the reason. Returns 0 or 2.
int CheckMixTarget(const std::string& outName);

// Every output against every input (each track the list names, muted ones too,
// and the three control files) and against each other. An output that is an
// input or another output stops the run (2, after a message naming both); a
// fader backup that is the cue sheet itself is skipped with a warning.
// Outputs that are not regular files (devices, FIFOs) are left out.
int CheckOutputNames(Run& run);

// Creates the temporary mix, tap and stem files with their headers. Returns 0, or 2
// after a message (anything created is removed again).
int CreateMixFiles(Run& run);

// Puts the tap file, the stems and then the mix in place. Returns 0, or 2 after a message
// (the earlier files are left as they were).
int CommitMixFiles(Run& run);

// Removes the temporary mix, tap and stem files after a failed or stopped mix and
// says that the earlier mix is unchanged.
void DiscardMixFiles(Run& run);

// The mix into temporary files, put in place only when complete. A stop signal
// is acted on between two blocks: the temporary files are removed, a line says
// so and the process ends by the signal. Returns 0 or the exit status.
int MixIntoOutputs(Run& run);
