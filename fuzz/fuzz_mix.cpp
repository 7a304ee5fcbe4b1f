// Fuzz target: set-up and mix. The input is laid out as for fuzz_setup; when the
// set-up passes and the render is short, the mix runs too, so the settings meet
// the effects, the automation playback, the reverbs and the output stage.
#include <cstdint>
#include <cstdio>
#include <memory>

#include "fuzz/setup_phases.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = (fuzzutil::InitTracks(), true);
    (void)ready;
    if (!fuzzutil::PathsStayInside(data, size)) return 0;
    const auto parts = fuzzutil::Split(data, size, 3);
    auto run = std::make_unique<Run>();
    if (fuzzutil::SetUpRun(*run, parts[0], parts[1], parts[2], true) != 0) return 0;
    // The fixed tracks last at most 3000 frames; longer renders are placements
    // far into the song and only cost time.
    if (run->prefs.renderCount > 20000) return 0;
    MixIntoOutputs(*run);
    std::remove(run->prefs.outName.c_str());
    return 0;
}
