// An in-process run for the hardening tests: the control files as texts, the
// set-up phases in the order the program runs them, then the mix into a scratch
// directory. The run state stays available for inspection afterwards.
#pragma once
#include "tests/console_capture.h"
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "corvale/audio/wav_out.h"
#include "corvale/cuesheet/cuesheet.h"
#include "corvale/run/console.h"
#include "corvale/run/control_file.h"
#include "corvale/run/numeric.h"
#include "corvale/run/outputs.h"
#include "corvale/run/prefs.h"
#include "corvale/run/run.h"
#include "corvale/run/tracklist.h"

namespace harness {

// A stream holding text, rewound.
inline std::FILE* StreamOf(const std::string& text)
{
    std::FILE* f = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    return f;
}

using Console = ::ConsoleCapture;

struct Outcome {
    int status = -1;
    bool setUp = false;   // the set-up passed
    bool mixed = false;   // and the mix ran
};

// Exit statuses of a run: 0, or 1 and 2 after the message of a fatal error.
inline bool DefinedStatus(int status) { return status == 0 || status == 1 || status == 2; }

// The set-up phases of a run over in-memory control files; the track paths are
// read relative to the working directory (or wavdir). Stops where the program
// would exit and returns its status.
inline int SetUp(Run& run, const std::string& prefsText, const std::string& trackText,
                 const std::string& cueText)
{
    Prefs& prefs = run.prefs;
    std::FILE* p = StreamOf(prefsText);
    LoadControlStream(p, run.prefsFile, "prefs.txt");
    std::fclose(p);
    prefs.verbo = ReadVerbo(run.prefsFile);
    if (const int status = ReadEarlyPrefs(run.prefsFile, prefs)) return status;
    std::FILE* t = StreamOf(trackText);
    LoadControlStream(t, run.trackFile, "tracks.txt");
    std::fclose(t);
    CountTracks(run.trackFile, prefs, run.tracks);
    std::FILE* c = StreamOf(cueText);
    LoadControlStream(c, run.cue.file, "faders.txt");
    std::fclose(c);
    PrepareCueSheet(prefs.verbo, run.cue);
    DecodeTrackList(run.trackFile, prefs, run.tracks);
    if (const int status = CheckSampleRates(run.tracks)) return status;
    PlaceTracks(run.cue.text(), run.tracks);
    if (const int status = ReadLatePrefs(run.prefsFile, run.cue.title, run.tracks.songLength,
                                         run.tracks.sampleRate, prefs))
        return status;
    if (!RenderFitsWav(prefs, run.tracks.sampleRate)) return 2;
    if (const int status = CheckMixTarget(prefs.outName)) return status;
    if (const int status = ReadCueSheet(run)) return status;
    return CheckOutputNames(run);
}

// Set-up and, when mix is set, the mix.
inline Outcome SetUpAndMix(Run& run, const std::string& prefsText, const std::string& trackText,
                           const std::string& cueText, bool mix = true)
{
    Outcome o;
    o.status = SetUp(run, prefsText, trackText, cueText);
    if (o.status != 0) return o;
    o.setUp = true;
    if (!mix) return o;
    o.mixed = true;
    o.status = MixIntoOutputs(run);
    return o;
}

// Names of the floating-point values of the run state that are not finite.
inline std::vector<std::string> NonFiniteState(const Run& run)
{
    std::vector<std::string> bad;
    auto check = [&](double v, const char* what) {
        if (!std::isfinite(v)) bad.emplace_back(what);
    };
    const Prefs& pr = run.prefs;
    check(pr.monoGain, "monoGain");
    check(pr.dbps, "dbps");
    const AutomationTables& a = run.automation;
    for (int s = 0; s < kSlots; ++s)
        for (int k = 0; k < a.count[s] && k < kEntries; ++k) check(a.shape[k][s], "shape");
    for (int v = 0; v < kVcas; ++v)
        for (int k = 0; k < a.vcaCount[v] && k < kEntries; ++k) check(a.vcaShape[k][v], "vcaShape");
    const PanSettings& pan = run.pan;
    for (int s = 0; s < kSlots; ++s) {
        check(pan.gainL[s], "gainL");
        check(pan.gainR[s], "gainR");
        check(pan.fxGain[s], "fxGain");
    }
    check(pan.panLaw, "panLaw");
    check(pan.maxDelay, "maxDelay");
    for (const TempoSection& t : run.timing.map) {
        check(t.tempo, "tempo");
        check(t.samplesPerBeat, "samplesPerBeat");
    }
    const EffectSettings& fx = run.fx;
    for (int s = 0; s < kValueSlots; ++s) {
        check(fx.comp.ratio[s], "comp ratio");
        check(fx.rms.ratio[s], "rms ratio");
        check(fx.nlcRatio[s], "nlc ratio");
        check(fx.hpC1[s], "hp c1");
        check(fx.hpC2[s], "hp c2");
        check(fx.revSend[s], "rev send");
        check(fx.trevSend[s], "trev send");
        for (int e = 0; e < 8; ++e) {
            const Biquad& q = fx.eq[e][s];
            for (double v : {q.b0, q.b1, q.b2, q.a1, q.a2}) check(v, "eq");
        }
    }
    for (double v : {fx.rhp.b0, fx.rhp.b1, fx.rhp.b2, fx.rhp.a1, fx.rhp.a2, fx.rlp.b0, fx.rlp.b1, fx.rlp.b2,
                     fx.rlp.a1, fx.rlp.a2})
        check(v, "reverb filter");
    // Room sizes and the width stay as written: the reverbs check them on their
    // first block.
    for (double v : {double(fx.rtnLevel), double(fx.trtnLevel), double(fx.posX), double(fx.posY),
                     double(fx.posZ), double(fx.recursiveReturnGain), double(fx.discreteReturnGain)})
        check(v, "reverb setting");
    return bad;
}

}  // namespace harness
