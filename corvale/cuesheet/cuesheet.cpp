#include "corvale/cuesheet/cuesheet.h"

#include <cstring>

#include "corvale/run/console.h"
#include "corvale/run/numeric.h"
#include "corvale/run/run.h"
#include "corvale/run/text.h"

void PrepareCueSheet(int verbo, CueSheet& cue)
{
    if (verbo >= 2) CheckLines(cue.file.body(), LineCheck::kFader);
    cue.body = cue.file.body();
    if (cue.body.find(' ') != std::string::npos) RemoveSpaces(cue.body);

    Tokens lines(cue.body);
    const char* first = lines.Next("\n");
    cue.title = first ? first : "";
}

TimeContext CueTimeContext(const Run& run)
{
    TimeContext ctx;
    ctx.rate = run.tracks.sampleRate;
    ctx.songLength = run.tracks.songLength;
    ctx.tempo = run.prefs.tempo;
    ctx.xin = run.prefs.xinPoint;
    ctx.announce = run.prefs.verbo == 2;
    return ctx;
}

int ReadCueSheet(Run& run)
{
    const char* body = run.cue.text();
    const char* prefs = run.prefsFile.body();
    const TimeContext ctx = CueTimeContext(run);

    // Routing first: the feeder mutes switch channels off before anything else.
    ReadRouting(body, run.tracks.channels(), run.tracks.active.data(), run.routing);
    ReadVcaAssignment(body, run.routing);

    // Time settings, then the cue pass that uses them.
    ReadOffset(prefs, ctx, run.timing, &run.prefsFile.prefsNotes);
    if (run.prefs.tempo) {
        if (const int status = ReadTempoMap(body, ctx, run.timing)) return status;
    }
    ReadTimeFields(prefs, ctx, run.timing, &run.prefsFile.prefsNotes);
    if (const int status = CuePass(run)) return status;

    // The passes that refine what the cue pass collected.
    DelayPanPass(run);
    TrimPass(run);
    ScalePass(run);
    MasterTrimPass(run);
    FxGainPass(run);
    PanCheck(run.pan);
    LevelCheck(run.automation);
    OrderWarnings(run.automation);
    DefaultRamps(run.automation, run.tracks.channels(), run.tracks.sampleRate, run.prefs.dbps);
    RampClamp(run.automation, run.tracks.channels());
    PanLawAndGains(run);

    return ReadEffectSettings(run);
}
