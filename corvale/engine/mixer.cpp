// The mix loop: per block the VCA curves, the channel stage (read, decode, delay
// pan, strip, effects gain and clip test, fader, peaks, routing, sends), the bus
// stage (submix faders and strips, submix sums and sends, reverbs, master) and
// the output stage (conversion, RMS, packing, writing, tap file, progress).
// Everything a block needs is allocated once in MixEngine before the first block.
#include "corvale/engine/mixer.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "corvale/audio/wav_in.h"
#include "corvale/cuesheet/pan.h"
#include "corvale/cuesheet/playback.h"
#include "corvale/effects/dynamics.h"
#include "corvale/effects/reverb.h"
#include "corvale/effects/strip.h"
#include "corvale/run/console.h"
#include "corvale/run/numeric.h"
#include "corvale/run/run.h"

namespace {

constexpr int64_t kB = kBlockFrames;
constexpr double kChannelDivisor = 524288.0;    // 2^19: fader unity lifts 24-bit scale to bus scale
constexpr double kBusDivisor = 134217728.0;     // 2^27: submix and master faders keep the scale
constexpr double kChannelFullScale = 8388608.0;
constexpr double kBusFullScale = 2147483648.0;

// A stdio stream that closes itself on every return path.
struct Stream {
    std::FILE* f = nullptr;
    std::vector<char> buffer;   // the fully buffered stream's buffer; lives as long as the stream
    bool Open(const char* path, const char* mode, size_t bufferBytes)
    {
        f = std::fopen(path, mode);
        if (f == nullptr) return false;
        buffer.resize(bufferBytes > 0 ? bufferBytes : 1);
        std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
        return true;
    }
    // Closes the stream; false when the close (the final flush) failed.
    bool Close()
    {
        if (f == nullptr) return true;
        const int rc = std::fclose(f);
        f = nullptr;
        return rc == 0;
    }
    ~Stream() { Close(); }
};

// Largest absolute value of n samples kept in peak.
void UpdatePeaks(const int64_t* left, const int64_t* right, int64_t n, double& peakL, double& peakR)
{
    double pl = peakL, pr = peakR;
    for (int64_t i = 0; i < n; ++i) {
        const double al = std::fabs(static_cast<double>(left[i]));
        const double ar = std::fabs(static_cast<double>(right[i]));
        if (al > pl) pl = al;
        if (ar > pr) pr = ar;
    }
    peakL = pl;
    peakR = pr;
}

void UpdatePeaks(const double* left, const double* right, int64_t n, double& peakL, double& peakR)
{
    double pl = peakL, pr = peakR;
    for (int64_t i = 0; i < n; ++i) {
        const double al = std::fabs(left[i]);
        const double ar = std::fabs(right[i]);
        if (al > pl) pl = al;
        if (ar > pr) pr = ar;
    }
    peakL = pl;
    peakR = pr;
}

// Effects gain (when not exactly 1.0, or always when forced), the clip test while
// the over flag is clear, and truncation back into the integer buffers.
void GainClipTruncate(double* workL, double* workR, int64_t n, double gain, bool forceGain,
                      double fullScale, int& over, int64_t* left, int64_t* right)
{
    if (forceGain || gain != 1.0) {
        for (int64_t i = 0; i < n; ++i) {
            workL[i] *= gain;
            workR[i] *= gain;
        }
    }
    if (over == 0) {
        for (int64_t i = 0; i < n; ++i) {
            if (workL[i] > fullScale || workL[i] < -fullScale || workR[i] > fullScale ||
                workR[i] < -fullScale) {
                over = 1;
                break;
            }
        }
    }
    for (int64_t i = 0; i < n; ++i) {
        left[i] = Trunc64(workL[i]);
        right[i] = Trunc64(workR[i]);
    }
}

class MixEngine {
public:
    explicit MixEngine(Run& run) : run_(run) {}
    int Mix();

private:
    int OpenStreams();
    int CloseStreams();
    void ChannelStage(int c, int64_t pos, int64_t n);
    int BusStage(int64_t pos, int64_t n);
    int RunDiscrete(int64_t n);
    int RunRecursive(int64_t n);
    int OutputStageBlock(int64_t pos, int64_t n);

    Run& run_;
    std::unique_ptr<Stream> out_, tap_;
    std::vector<std::unique_ptr<Stream>> tracks_;

    // Block buffers, one block each.
    std::vector<int64_t> chanL_, chanR_, masterL_, masterR_;
    std::vector<double> workL_, workR_;
    std::vector<std::vector<int64_t>> subL_, subR_;
    std::vector<double> recSendL_, recSendR_, discSendL_, discSendR_;
    std::vector<int64_t> returnL_, returnR_, carryL_, carryR_;
    std::vector<int64_t> monoIn_;
    std::vector<unsigned char> raw_;
    std::vector<int64_t> tapL_, tapR_;
    std::vector<unsigned char> tapBytes_;

    // What carries across blocks.
    std::unique_ptr<Playback> playback_;
    std::unique_ptr<DspState> dsp_;
    std::unique_ptr<DelayHistory> delay_;
    std::unique_ptr<DiscreteReverbState> discrete_;
    std::unique_ptr<RecursiveReverbState> recursive_;
    MasterRmsState rms_;
    std::unique_ptr<OutputStage> output_;
    bool writeFailed_ = false;
    int readFailed_ = 0;   // the first channel whose file ended before its header said
};

int MixEngine::OpenStreams()
{
    const Prefs& prefs = run_.prefs;
    const EffectSettings& fx = run_.fx;
    out_ = std::make_unique<Stream>();
    const size_t outBuffer = static_cast<size_t>(2 * (prefs.outbits / 3)) * kB;
    if (!out_->Open(prefs.outName.c_str(), "ab", outBuffer)) {
        std::fprintf(g_console, "Cannot open the mix file %s for writing!\n", prefs.outName.c_str());
        return 2;
    }
    Tracks& tracks = run_.tracks;
    tracks_.resize(kChannelRows);
    for (int c = 1; c <= tracks.channels(); ++c) {
        if (!tracks.headerOk[c]) continue;
        const WavInfo& info = tracks.info[c];
        tracks_[c] = std::make_unique<Stream>();
        const size_t bytes = static_cast<size_t>(info.bytesPerSample * info.channels) * kB;
        if (!tracks_[c]->Open(tracks.paths[c].c_str(), "rb", bytes)) {
            std::fprintf(g_console, "Cannot open the file of channel %i (%s) for the mix!\n", c,
                         tracks.paths[c].c_str());
            return 2;
        }
    }
    if (fx.tapMode != 0 && (fx.recursiveOn || fx.masterRev)) {
        tap_ = std::make_unique<Stream>();
        if (!tap_->Open(fx.tapName.c_str(), "ab", static_cast<size_t>(2 * (prefs.outbits / 3)) * kB)) {
            std::fprintf(g_console, "Cannot open the tap file %s for writing!\n", fx.tapName.c_str());
            return 2;
        }
    }
    return 0;
}

int MixEngine::CloseStreams()
{
    int status = 0;
    if (out_ && !out_->Close()) writeFailed_ = true;
    for (int c = 1; c < static_cast<int>(tracks_.size()); ++c) {
        if (tracks_[c] && !tracks_[c]->Close()) std::fprintf(g_console, "Error closing audio file\n");
    }
    if (tap_ && !tap_->Close()) {
        std::fprintf(g_console, "Error writing the tap file %s!\n", run_.fx.tapName.c_str());
        status = 2;
    }
    if (writeFailed_) {
        std::fprintf(g_console, "Error writing the mix file %s: the file is incomplete.\n",
                     run_.prefs.outName.c_str());
        status = 2;
    }
    return status;
}

void MixEngine::ChannelStage(int c, int64_t pos, int64_t n)
{
    Tracks& tracks = run_.tracks;
    const WavInfo& info = tracks.info[c];
    const int64_t bytesPerFrame = static_cast<int64_t>(info.bytesPerSample) * info.channels;
    const int64_t offset = tracks.offset[c];
    int64_t* L = chanL_.data();
    int64_t* R = chanR_.data();

    // Read: silence before the track offset, then one seek and one read.
    int64_t first = 0;
    std::FILE* f = tracks_[c]->f;
    std::rewind(f);
    if (offset > pos) {
        first = offset - pos < n ? offset - pos : n;
        std::memset(L, 0, static_cast<size_t>(first) * sizeof(int64_t));
        std::memset(R, 0, static_cast<size_t>(first) * sizeof(int64_t));
        std::fseek(f, static_cast<long>(info.dataStart), SEEK_SET);
    } else if (offset < pos - info.frames) {
        // The whole track lies before this block (an offset far below zero):
        // pos - offset may not even fit in 64 bits; there is nothing left to read.
        std::fseek(f, static_cast<long>(info.dataStart + info.frames * bytesPerFrame), SEEK_SET);
    } else {
        std::fseek(f, static_cast<long>(info.dataStart + (pos - offset) * bytesPerFrame), SEEK_SET);
    }
    const size_t want = static_cast<size_t>(n * bytesPerFrame);
    const size_t got = std::fread(raw_.data(), 1, want, f);
    if (got < want) std::memset(raw_.data() + got, 0, want - got);
    // The header promised these frames: a file that lost them since its header
    // was read (truncated or replaced meanwhile) must not mix as silence unnoticed.
    const int64_t held = offset < pos - info.frames ? 0 : info.frames - (pos + first - offset);
    const int64_t promised = held < n - first ? (held > 0 ? held : 0) : n - first;
    if (static_cast<int64_t>(got) < promised * bytesPerFrame && readFailed_ == 0) readFailed_ = c;

    // Decode from the first frame that carries track data.
    const int64_t frames = n - first;
    if (frames > 0) {
        if (info.channels == 1 && run_.pan.delayPan[c] != 0) {
            DecodeMono(raw_.data(), frames, info.bytesPerSample, monoIn_.data() + first);
            const int64_t historyStart = n >= 256 ? n - 255 : n;
            DELAY_PAN(*delay_, first, n, c, run_.pan, monoIn_.data(), L, R, historyStart);
        } else {
            DecodeFrames(raw_.data(), frames, info.channels, info.bytesPerSample, L + first, R + first);
        }
    }

    // Track end: silence from the last frame on, and the channel plays no more.
    const int64_t trackEnd = offset + info.frames;
    if (trackEnd < pos + n) {
        const int64_t from = trackEnd - pos > 0 ? trackEnd - pos : 0;
        for (int64_t i = from; i < n; ++i) L[i] = R[i] = 0;
        tracks.active[c] = 0;
    }

    // Effects strip on doubles, effects gain, clip test, back to integers.
    double* wl = workL_.data();
    double* wr = workR_.data();
    for (int64_t i = 0; i < n; ++i) {
        wl[i] = static_cast<double>(L[i]);
        wr[i] = static_cast<double>(R[i]);
    }
    EffectsStrip(run_.fx, *dsp_, c, false, pos, n, wl, wr);
    GainClipTruncate(wl, wr, n, run_.pan.fxGain[c], false, kChannelFullScale, run_.stats.over[c], L, R);

    // Fader, pan, polarity, VCA.
    AUTOMATE(*playback_, run_.automation, pos, n, c, L, R, run_.pan.polarity[c], kChannelDivisor,
             run_.pan.gainL[c], run_.pan.gainR[c], run_.routing.vcaAssign.data());

    UpdatePeaks(L, R, n, run_.stats.peakL[c], run_.stats.peakR[c]);

    // Routing into the submix buses.
    const Routing& routing = run_.routing;
    for (int s = 0; s < kSubmixes; ++s) {
        if (routing.route[c][s] != 1 || routing.subOn[s] != 1) continue;
        int64_t* bl = subL_[s].data();
        int64_t* br = subR_[s].data();
        for (int64_t i = 0; i < n; ++i) {
            bl[i] += L[i];
            br[i] += R[i];
        }
    }

    // Post-fader sends (only when no reverb is a master insert).
    const EffectSettings& fx = run_.fx;
    if (fx.masterRev || fx.masterTrev) return;
    if (fx.recursiveOn && fx.revFlag[c]) {
        const double g = static_cast<double>(fx.revSend[c] * fx.recursiveReturnGain);
        for (int64_t i = 0; i < n; ++i) {
            recSendL_[i] += static_cast<double>(L[i]) * g;
            recSendR_[i] += static_cast<double>(R[i]) * g;
        }
    }
    if (fx.discreteOn && fx.trevFlag[c]) {
        const double g = static_cast<double>(fx.trevSend[c] * fx.discreteReturnGain);
        for (int64_t i = 0; i < n; ++i) {
            discSendL_[i] += static_cast<double>(L[i]) * g;
            discSendR_[i] += static_cast<double>(R[i]) * g;
        }
    }
}

int MixEngine::RunDiscrete(int64_t n)
{
    EffectSettings& fx = run_.fx;
    if (fx.rhpPresent)
        Rev_EQ(dsp_->revEq, n, 0, discSendL_.data(), discSendR_.data(), fx.rhp.b0, fx.rhp.b1,
               fx.rhp.b2, fx.rhp.a1, fx.rhp.a2, dsp_->revEqInit);
    if (fx.rlpPresent)
        Rev_EQ(dsp_->revEq, n, 1, discSendL_.data(), discSendR_.data(), fx.rlp.b0, fx.rlp.b1,
               fx.rlp.b2, fx.rlp.a1, fx.rlp.a2, dsp_->revEqInit);
    return DiscreteReverb(*discrete_, kB, n, run_.tracks.sampleRate, discSendL_.data(),
                          discSendR_.data(), fx.trtnSize, carryL_.data(), carryR_.data(),
                          returnL_.data(), returnR_.data(), fx.tapCount, fx.posX, fx.posY, fx.posZ);
}

int MixEngine::RunRecursive(int64_t n)
{
    EffectSettings& fx = run_.fx;
    if (fx.rhpPresent)
        Rev_EQ(dsp_->revEq, n, 2, recSendL_.data(), recSendR_.data(), fx.rhp.b0, fx.rhp.b1,
               fx.rhp.b2, fx.rhp.a1, fx.rhp.a2, dsp_->revEqInit);
    if (fx.rlpPresent)
        Rev_EQ(dsp_->revEq, n, 3, recSendL_.data(), recSendR_.data(), fx.rlp.b0, fx.rlp.b1,
               fx.rlp.b2, fx.rlp.a1, fx.rlp.a2, dsp_->revEqInit);
    return RecurseReverb(*recursive_, n, run_.tracks.sampleRate, recSendL_.data(), recSendR_.data(),
                         fx.rtnSize, carryL_.data(), carryR_.data(), returnL_.data(),
                         returnR_.data(), fx.posX, fx.posY, fx.posZ, fx.width);
}

int MixEngine::BusStage(int64_t pos, int64_t n)
{
    EffectSettings& fx = run_.fx;
    const Routing& routing = run_.routing;
    const AutomationTables& autom = run_.automation;
    const PanSettings& pan = run_.pan;
    MixStats& stats = run_.stats;
    double* wl = workL_.data();
    double* wr = workR_.data();
    int64_t* ml = masterL_.data();
    int64_t* mr = masterR_.data();

    // Submix faders, then submix strips.
    for (int s = 1; s < kSubmixes; ++s) {
        if (!routing.subOn[s] || !autom.subFaderFlag[s]) continue;
        const int slot = SubmixSlot(s);
        AUTOMATE(*playback_, autom, pos, n, slot, subL_[s].data(), subR_[s].data(), pan.polarity[slot],
                 kBusDivisor, pan.gainL[slot], pan.gainR[slot], routing.vcaAssign.data());
    }
    for (int s = 1; s < kSubmixes; ++s) {
        const int slot = SubmixSlot(s);
        if (!routing.subOn[s] || !fx.stripMarker[slot]) continue;
        int64_t* bl = subL_[s].data();
        int64_t* br = subR_[s].data();
        for (int64_t i = 0; i < n; ++i) {
            wl[i] = static_cast<double>(bl[i]);
            wr[i] = static_cast<double>(br[i]);
        }
        EffectsStrip(fx, *dsp_, slot, false, pos, n, wl, wr);
        GainClipTruncate(wl, wr, n, pan.fxGain[slot], false, kBusFullScale, stats.over[slot], bl, br);
    }

    // Submixes into the master.
    for (int s = 0; s < kSubmixes; ++s) {
        if (!routing.subOn[s]) continue;
        const int64_t* bl = subL_[s].data();
        const int64_t* br = subR_[s].data();
        if (s >= 1) UpdatePeaks(bl, br, n, stats.peakL[SubmixSlot(s)], stats.peakR[SubmixSlot(s)]);
        for (int64_t i = 0; i < n; ++i) {
            ml[i] += bl[i];
            mr[i] += br[i];
        }
    }

    // Submix sends: the recursive send truncated, the discrete send not.
    for (int s = 1; s < kSubmixes; ++s) {
        if (!routing.subOn[s]) continue;
        const int slot = SubmixSlot(s);
        const int64_t* bl = subL_[s].data();
        const int64_t* br = subR_[s].data();
        if (fx.recursiveOn && fx.revFlag[slot]) {
            const double g = static_cast<double>(fx.revSend[slot] * fx.recursiveReturnGain);
            for (int64_t i = 0; i < n; ++i) {
                recSendL_[i] += std::trunc(static_cast<double>(bl[i]) * g);
                recSendR_[i] += std::trunc(static_cast<double>(br[i]) * g);
            }
        }
        if (fx.discreteOn && fx.trevFlag[slot]) {
            const double g = static_cast<double>(fx.trevSend[slot] * fx.discreteReturnGain);
            for (int64_t i = 0; i < n; ++i) {
                discSendL_[i] += static_cast<double>(bl[i]) * g;
                discSendR_[i] += static_cast<double>(br[i]) * g;
            }
        }
    }

    const bool insert = fx.masterRev || fx.masterTrev;
    if (!insert) {
        if (fx.discreteOn) {
            if (const int status = RunDiscrete(n)) return status;
            UpdatePeaks(discSendL_.data(), discSendR_.data(), n, stats.peakL[138], stats.peakR[138]);
        }
        if (fx.recursiveOn) {
            if (const int status = RunRecursive(n)) return status;
            UpdatePeaks(recSendL_.data(), recSendR_.data(), n, stats.peakL[137], stats.peakR[137]);
        }
        if (fx.recursiveOn || fx.discreteOn) {
            for (int64_t i = 0; i < n; ++i) {
                ml[i] += returnL_[i];
                mr[i] += returnR_[i];
            }
        }
    }

    if (autom.masterFaderFlag)
        AUTOMATE(*playback_, autom, pos, n, 0, ml, mr, pan.polarity[0], kBusDivisor, pan.gainL[0],
                 pan.gainR[0], routing.vcaAssign.data());

    if (!fx.anyMaster) return 0;
    for (int64_t i = 0; i < n; ++i) {
        wl[i] = static_cast<double>(ml[i]);
        wr[i] = static_cast<double>(mr[i]);
    }
    EffectsStrip(fx, *dsp_, 0, true, pos, n, wl, wr);
    if (fx.masterRev) {
        const double g = static_cast<double>(fx.revSend[0] * fx.recursiveReturnGain);
        for (int64_t i = 0; i < n; ++i) {
            recSendL_[i] = wl[i] * g;
            recSendR_[i] = wr[i] * g;
        }
        UpdatePeaks(recSendL_.data(), recSendR_.data(), n, stats.peakL[137], stats.peakR[137]);
    }
    if (fx.masterTrev) {
        const double g = static_cast<double>(fx.trevSend[0] * fx.discreteReturnGain);
        for (int64_t i = 0; i < n; ++i) {
            discSendL_[i] = wl[i] * g;
            discSendR_[i] = wr[i] * g;
        }
        UpdatePeaks(discSendL_.data(), discSendR_.data(), n, stats.peakL[138], stats.peakR[138]);
        if (const int status = RunDiscrete(n)) return status;
    }
    if (fx.masterRev) {
        if (const int status = RunRecursive(n)) return status;
    }
    if (insert) {
        for (int64_t i = 0; i < n; ++i) {
            wl[i] += static_cast<double>(returnL_[i]);
            wr[i] += static_cast<double>(returnR_[i]);
        }
    }
    if (fx.masterRow[kLim]) LIMITER(0, n, wl, wr, fx.limCeiling[0]);
    GainClipTruncate(wl, wr, n, pan.fxGain[0], pan.masterFxFlag != 0, kBusFullScale, stats.over[0],
                     ml, mr);
    return 0;
}

int MixEngine::OutputStageBlock(int64_t pos, int64_t n)
{
    int64_t bytes = 0;
    const unsigned char* packed = output_->Convert(pos, n, masterL_.data(), masterR_.data(), bytes);
    const float minInterval = static_cast<float>(run_.tracks.sampleRate / 10.0);
    if (run_.prefs.mono)
        MasterRMS(rms_, output_->mono(), output_->mono(), minInterval, 256, n);
    else
        MasterRMS(rms_, masterL_.data(), masterR_.data(), minInterval, 256, n);
    if (std::fwrite(packed, 1, static_cast<size_t>(bytes), out_->f) != static_cast<size_t>(bytes))
        writeFailed_ = true;

    const EffectSettings& fx = run_.fx;
    if (tap_ && fx.tapMode != 0 && (fx.recursiveOn || fx.masterRev)) {
        if (fx.tapMode == 2) {
            for (int64_t i = 0; i < n; ++i) {
                tapL_[i] = Trunc64(static_cast<double>(static_cast<float>(returnL_[i])) * 0.00390625);
                tapR_[i] = Trunc64(static_cast<double>(static_cast<float>(returnR_[i])) * 0.00390625);
            }
        } else {
            const float r = fx.recursiveReturnGain;
            for (int64_t i = 0; i < n; ++i) {
                if (r == 0.0f) {
                    tapL_[i] = tapR_[i] = 0;  // no return gain: nothing to undo, write silence
                    continue;
                }
                tapL_[i] = Trunc64(static_cast<float>(recSendL_[i]) / (r * 256.0f));
                tapR_[i] = Trunc64(static_cast<float>(recSendR_[i]) / (r * 256.0f));
            }
        }
        NUM24STER_TO_CHAR(tapL_.data(), tapR_.data(), tapBytes_.data(), n);
        if (std::fwrite(tapBytes_.data(), 1, static_cast<size_t>(6 * n), tap_->f) !=
            static_cast<size_t>(6 * n)) {
            std::fprintf(g_console, "Error writing the tap file %s!\n", fx.tapName.c_str());
            return 2;
        }
    }
    return 0;
}

int MixEngine::Mix()
{
    if (const int status = OpenStreams()) return status;

    const Prefs& prefs = run_.prefs;
    const EffectSettings& fx = run_.fx;
    const Routing& routing = run_.routing;
    Tracks& tracks = run_.tracks;

    // Everything the loop needs, taken once.
    chanL_.assign(kB, 0); chanR_.assign(kB, 0);
    masterL_.assign(kB, 0); masterR_.assign(kB, 0);
    workL_.assign(kB, 0.0); workR_.assign(kB, 0.0);
    subL_.assign(kSubmixes, std::vector<int64_t>(kB, 0));
    subR_.assign(kSubmixes, std::vector<int64_t>(kB, 0));
    const bool sendBuffers = fx.recursiveOn || fx.masterRev;
    const bool discBuffers = fx.discreteOn || fx.masterTrev;
    if (sendBuffers) { recSendL_.assign(kB, 0.0); recSendR_.assign(kB, 0.0); }
    if (discBuffers) { discSendL_.assign(kB, 0.0); discSendR_.assign(kB, 0.0); }
    if (sendBuffers || discBuffers) {
        returnL_.assign(kB, 0); returnR_.assign(kB, 0);
        carryL_.assign(kB, 0); carryR_.assign(kB, 0);
    }
    monoIn_.assign(kB, 0);
    raw_.assign(static_cast<size_t>(kB) * 2 * 4, 0);
    if (tap_) { tapL_.assign(kB, 0); tapR_.assign(kB, 0); tapBytes_.assign(static_cast<size_t>(6 * kB), 0); }
    playback_ = std::make_unique<Playback>();
    dsp_ = std::make_unique<DspState>();
    delay_ = std::make_unique<DelayHistory>();
    discrete_ = std::make_unique<DiscreteReverbState>();
    recursive_ = std::make_unique<RecursiveReverbState>();
    OutputFormat format;
    format.bits = prefs.outbits == 16 ? 16 : 24;
    format.mono = prefs.mono;
    format.monoGain = prefs.monoGain;
    format.dither = prefs.dither;
    output_ = std::make_unique<OutputStage>(format, [] { return std::rand(); });

    const int64_t start = prefs.renderStart;
    const int64_t length = prefs.renderCount;
    const int64_t end = start + length;
    StartState(*playback_, run_.automation, tracks.channels(), tracks.offset.data(), start);

    const int64_t q1 = start + length / 4, q2 = start + length / 2, q3 = start + (3 * length) / 4;
    int progress = 1;

    std::fprintf(g_console, "\n");
    if (prefs.verbo == 2) std::fprintf(g_console, "Mixing...\n");

    int status = 0;
    for (int64_t pos = start; pos < end && status == 0;) {
        const int64_t n = end - pos < kB ? end - pos : kB;

        // Clearing.
        std::memset(masterL_.data(), 0, static_cast<size_t>(n) * sizeof(int64_t));
        std::memset(masterR_.data(), 0, static_cast<size_t>(n) * sizeof(int64_t));
        for (int s = 0; s < kSubmixes; ++s) {
            if (!routing.subOn[s]) continue;
            std::memset(subL_[s].data(), 0, static_cast<size_t>(n) * sizeof(int64_t));
            std::memset(subR_[s].data(), 0, static_cast<size_t>(n) * sizeof(int64_t));
        }
        if (fx.returnsPresent && !returnL_.empty()) {
            returnL_.swap(carryL_);
            returnR_.swap(carryR_);
            std::fill(carryL_.begin(), carryL_.end(), 0);
            std::fill(carryR_.begin(), carryR_.end(), 0);
        }
        if (fx.recursiveOn) {
            std::fill(recSendL_.begin(), recSendL_.end(), 0.0);
            std::fill(recSendR_.begin(), recSendR_.end(), 0.0);
        }
        if (fx.discreteOn) {
            std::fill(discSendL_.begin(), discSendL_.end(), 0.0);
            std::fill(discSendR_.begin(), discSendR_.end(), 0.0);
        }

        for (int v = 1; v < kVcas; ++v)
            if (routing.vcaInUse[v]) FillVCA(*playback_, run_.automation, pos, n, v);

        for (int c = 1; c <= tracks.channels(); ++c) {
            if (tracks.active[c] != 1 || tracks.offset[c] > pos + kB || !tracks_[c]) continue;
            ChannelStage(c, pos, n);
        }

        if (readFailed_ != 0) {
            std::fprintf(g_console,
                         "Error reading the file of channel %i (%s): it ended before the length its header "
                         "gives. The mix stops.\n",
                         readFailed_, tracks.paths[readFailed_].c_str());
            status = 2;
            break;
        }

        status = BusStage(pos, n);
        if (status != 0) break;
        status = OutputStageBlock(pos, n);
        if (status != 0) break;
        if (writeFailed_) break;   // reported when the stream is closed

        if (prefs.verbo == 2) {
            if (pos > q1 && pos < q2 && progress == 1) {
                std::fprintf(g_console, "1/4 done\n");
                std::fflush(g_console);
                progress = 0;
            }
            if (pos > q2 && pos < q3 && progress == 0) {
                std::fprintf(g_console, "1/2 done\n");
                std::fflush(g_console);
                progress = 1;
            }
            if (pos > q3 && progress == 1) {
                std::fprintf(g_console, "3/4 done\n");
                std::fflush(g_console);
                progress = 0;
            }
        }
        pos += n;
    }

    MixStats& stats = run_.stats;
    stats.out = output_->peaks();
    stats.rmsSumL = rms_.sumL;
    stats.rmsSumR = rms_.sumR;
    stats.rmsCountL = rms_.windowsL;
    stats.rmsCountR = rms_.windowsR;

    const int closeStatus = CloseStreams();
    return status != 0 ? status : closeStatus;
}

}  // namespace

int RunMix(Run& run)
{
    MixEngine engine(run);
    return engine.Mix();
}
