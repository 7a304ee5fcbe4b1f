// Fuzz target: the whole mixer set-up from in-memory control files. The input is
// the preferences, the track list and the cue sheet, separated by form feeds; the
// phases run as a real run runs them, up to the end of the cue-sheet passes,
// against a fixed set of WAV files in a scratch directory.
#include <cstdint>
#include <memory>

#include "fuzz/setup_phases.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = (fuzzutil::InitTracks(), true);
    (void)ready;
    if (!fuzzutil::PathsStayInside(data, size)) return 0;
    const auto parts = fuzzutil::Split(data, size, 3);
    auto run = std::make_unique<Run>();
    fuzzutil::SetUpRun(*run, parts[0], parts[1], parts[2], false);
    return 0;
}
