#include "corvale/run/outputs.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "corvale/audio/wav_out.h"
#include "corvale/run/console.h"
#include "corvale/run/limits.h"
#include "corvale/run/numeric.h"
#include "corvale/run/process.h"
#include "corvale/run/run.h"

namespace {

struct NamedFile {
    std::string what;   // "the mix file", "the track of channel 3", ...
    std::string name;
    FileIdentity id;
};

NamedFile Named(std::string what, const std::string& name) { return {std::move(what), name, IdentityOf(name)}; }

// Block-sized stdio buffers for the mix and tap streams.
size_t StreamBuffer(int outbits) { return static_cast<size_t>(2 * (outbits / 3)) * kBlockFrames; }

}  // namespace

std::string StemSuffix(int bus)
{
    if (bus == 0) return "direct";
    if (bus == kReverbStem) return "reverb";
    return "sub" + std::to_string(bus);
}

std::vector<StemOutput> PlanStems(const Run& run)
{
    std::vector<StemOutput> stems;
    if (!run.prefs.stems) return stems;
    const Routing& routing = run.routing;
    const EffectSettings& fx = run.fx;

    // NAME of NAME.wav, with the directory prefix: the stems lie beside the mix.
    std::string base = run.prefs.outName;
    if (base.size() >= 4 && base.compare(base.size() - 4, 4, ".wav") == 0) base.resize(base.size() - 4);
    auto add = [&](int bus) {
        StemOutput stem;
        stem.bus = bus;
        stem.name = base + "_" + StemSuffix(bus) + ".wav";
        stem.file = std::make_unique<OutputFile>();
        stems.push_back(std::move(stem));
    };

    bool direct = false;
    if (routing.subOn[0]) {
        for (int c = 1; c <= run.tracks.channels(); ++c)
            if (run.tracks.active[static_cast<size_t>(c)] == 1 && routing.route[static_cast<size_t>(c)][0] == 1)
                direct = true;
    }
    if (direct) add(0);
    for (int s = 1; s < kSubmixes; ++s)
        if (routing.subOn[static_cast<size_t>(s)]) add(s);
    // A reverb inserted on the master is part of the master, not a bus into it.
    if ((fx.recursiveOn || fx.discreteOn) && !(fx.masterRev || fx.masterTrev)) add(kReverbStem);
    return stems;
}

int CheckMixTarget(const std::string& outName)
{
    const int err = CheckWritable(ResolveTarget(outName));
    if (err == 0) return 0;
    std::fprintf(g_console, "Error: the output file %s could not be created.\n", outName.c_str());
    PrintFileReason(outName.c_str(), err);
    return 2;
}

int CheckOutputNames(Run& run)
{
    RunOutputs& outs = run.outputs;
    const Prefs& prefs = run.prefs;
    const EffectSettings& fx = run.fx;
    outs.reports = NameReports(prefs.bakdirSet ? prefs.bakdir : std::string(), prefs.mixName);
    outs.writeTap = fx.tapMode != 0 && (fx.recursiveOn || fx.masterRev);

    std::vector<NamedFile> inputs;
    if (!run.trackFile.path.empty()) inputs.push_back(Named("the track list", run.trackFile.path));
    if (!run.prefsFile.path.empty()) inputs.push_back(Named("the preferences file", run.prefsFile.path));
    for (int c = 1; c <= run.tracks.channels(); ++c) {
        const std::string& path = run.tracks.paths[static_cast<size_t>(c)];
        if (!path.empty()) inputs.push_back(Named("the track of channel " + std::to_string(c), path));
    }

    std::vector<NamedFile> outputs;
    auto output = [&outputs](std::string what, const std::string& name) {
        const OutputTarget t = ResolveTarget(name);
        if (t.exists && !t.regular) return;   // a device or FIFO is written directly
        outputs.push_back(Named(std::move(what), name));
    };
    output(prefs.preview ? "the preview file" : "the mix file", prefs.outName);
    if (outs.writeTap) output("the tap file", fx.tapName);
    outs.stems = PlanStems(run);
    for (const StemOutput& stem : outs.stems) output("the stem file", stem.name);
    output("the statistics report", outs.reports.stats);
    output("the JSON report", outs.reports.json);

    // The cue sheet is its own backup: the backup of a sheet read under the
    // backup's own name is not written again.
    outs.writeBackup = true;
    const OutputTarget backup = ResolveTarget(outs.reports.backup);
    if (!run.cue.file.path.empty()) {
        const FileIdentity cue = IdentityOf(run.cue.file.path);
        if (!(backup.exists && !backup.regular) && SameFile(IdentityOf(outs.reports.backup), cue)) {
            outs.writeBackup = false;
            std::fprintf(g_console, ">> Warning: the fader backup %s is the cue sheet being read; it is not written.\n",
                         outs.reports.backup.c_str());
        }
        inputs.push_back({"the cue sheet", run.cue.file.path, cue});
    }
    if (outs.writeBackup) output("the fader backup", outs.reports.backup);

    for (size_t i = 0; i < outputs.size(); ++i) {
        const NamedFile& out = outputs[i];
        for (const NamedFile& in : inputs) {
            if (!SameFile(out.id, in.id)) continue;
            std::fprintf(g_console, "Error: %s %s is also %s (%s); nothing was written.\n", out.what.c_str(),
                         out.name.c_str(), in.what.c_str(), in.name.c_str());
            return 2;
        }
        for (size_t j = i + 1; j < outputs.size(); ++j) {
            if (!SameFile(out.id, outputs[j].id)) continue;
            std::fprintf(g_console, "Error: %s %s and %s %s are the same file; nothing was written.\n",
                         out.what.c_str(), out.name.c_str(), outputs[j].what.c_str(), outputs[j].name.c_str());
            return 2;
        }
    }
    return 0;
}

int CreateMixFiles(Run& run)
{
    RunOutputs& outs = run.outputs;
    const Prefs& prefs = run.prefs;
    const int64_t r = Trunc64(run.tracks.sampleRate);
    const uint64_t rate = static_cast<uint64_t>(r < 0 ? 0 : r);
    const size_t buffer = StreamBuffer(prefs.outbits);

    if (!outs.mix.Open(ResolveTarget(prefs.outName), buffer)) {
        const int err = errno;
        std::fprintf(g_console, "Error: the output file %s could not be created.\n", prefs.outName.c_str());
        PrintFileReason(prefs.outName.c_str(), err);
        return 2;
    }
    outs.pending = outs.mix.usesTemporary();
    if (!MAKE_HEADER(outs.mix.stream(), prefs.outName.c_str(), rate, prefs.outbits, prefs.mono ? 1 : 2,
                     prefs.renderCount)) {
        DiscardMixFiles(run);
        return 2;
    }
    if (outs.writeTap) {
        const std::string& name = run.fx.tapName;
        const bool opened = outs.tap.Open(ResolveTarget(name), buffer);
        if (opened && outs.tap.usesTemporary()) outs.pending = true;
        if (!opened ||
            !MAKE_HEADER(outs.tap.stream(), name.c_str(), rate, 24, 2, prefs.renderCount)) {
            const int err = errno;
            std::fprintf(g_console, "Error: could not create the tap reverb file %s\n", name.c_str());
            PrintFileReason(name.c_str(), err);
            DiscardMixFiles(run);
            return 2;
        }
    }
    for (StemOutput& stem : outs.stems) {
        const bool opened = stem.file->Open(ResolveTarget(stem.name), buffer);
        if (opened && stem.file->usesTemporary()) outs.pending = true;
        if (!opened || !MAKE_HEADER(stem.file->stream(), stem.name.c_str(), rate, prefs.outbits,
                                    prefs.mono ? 1 : 2, prefs.renderCount)) {
            const int err = errno;
            std::fprintf(g_console, "Error: the stem file %s could not be created.\n", stem.name.c_str());
            PrintFileReason(stem.name.c_str(), err);
            DiscardMixFiles(run);
            return 2;
        }
    }
    return 0;
}

int CommitMixFiles(Run& run)
{
    RunOutputs& outs = run.outputs;
    if (outs.tap.isOpen() && !outs.tap.Commit()) {
        const int err = errno;
        std::fprintf(g_console, "Error writing the tap file %s: %s\n", run.fx.tapName.c_str(), std::strerror(err));
        DiscardMixFiles(run);
        return 2;
    }
    for (StemOutput& stem : outs.stems) {
        if (stem.file->isOpen() && !stem.file->Commit()) {
            const int err = errno;
            std::fprintf(g_console, "Error writing the stem file %s: %s\n", stem.name.c_str(), std::strerror(err));
            DiscardMixFiles(run);
            return 2;
        }
    }
    if (!outs.mix.Commit()) {
        const int err = errno;
        std::fprintf(g_console, "Error writing the mix file %s: %s\n", run.prefs.outName.c_str(),
                     std::strerror(err));
        DiscardMixFiles(run);
        return 2;
    }
    outs.pending = false;
    return 0;
}

void DiscardMixFiles(Run& run)
{
    RunOutputs& outs = run.outputs;
    const bool existed = outs.mix.target().exists;
    outs.mix.Discard();
    outs.tap.Discard();
    for (StemOutput& stem : outs.stems)
        if (stem.file) stem.file->Discard();
    if (!outs.pending) return;
    outs.pending = false;
    const char* name = run.prefs.outName.c_str();
    if (existed)
        std::fprintf(g_console, "Nothing was written; %s is unchanged.\n", name);
    else
        std::fprintf(g_console, "Nothing was written; %s was not created.\n", name);
}

int MixIntoOutputs(Run& run)
{
    DeferStops(true);
    if (const int status = CreateMixFiles(run)) {
        DeferStops(false);
        return status;
    }
    std::FILE* tap = run.outputs.tap.isOpen() ? run.outputs.tap.stream() : nullptr;
    int status = RunMix(run, run.outputs.mix.stream(), tap);
    if (status == 0 && !run.stats.masterHeard && run.prefs.renderCount > 0) {
        if (run.strict) {
            std::fprintf(g_console, "Error: the mix is silent: the master was zero at every frame (--strict).\n");
            status = kStrictStatus;
        } else if (run.prefs.verbo >= 1) {
            std::fprintf(g_console, ">> Warning: the mix is silent: the master was zero at every frame.\n");
        }
    }
    if (status == 0 && PendingStop() == 0) status = CommitMixFiles(run);
    if (PendingStop() != 0 && run.outputs.pending) {
        std::fprintf(g_console, "Error: stopped by %s.\n", StopSignalName(PendingStop()));
        DiscardMixFiles(run);
        std::fflush(g_console);
        EndBySignal(PendingStop());
    }
    if (status != 0) DiscardMixFiles(run);
    DeferStops(false);   // a signal that came while the mix was put in place ends the run now
    return status;
}
