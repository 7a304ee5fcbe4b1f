// Pan, delay pan and effects gain: the "dp" and "fxg" lines, the pan check,
// the pan law with the pan gains of every slot, the delays of delay-panned
// channels, and DELAY_PAN, which remembers the last 255 samples of each side
// of a channel from block to block.
#include "corvale/cuesheet/cuesheet.h"
#include "corvale/cuesheet/pan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "corvale/run/console.h"
#include "corvale/run/numeric.h"
#include "corvale/run/run.h"
#include "corvale/run/text.h"

namespace {

constexpr float kDefaultPanLaw = 3.0f;
constexpr int kHistory = 255;  // samples of a side kept for the next block


// Balance: the far side fades linearly, the near side stays at unity. (p is
// widened so that an unchecked value cannot overflow.)
void StereoGains(int p, float& left, float& right)
{
    left = 1.0f;
    right = 1.0f;
    if (p > 0) left = static_cast<float>(100 - int64_t{p}) / 100.0f;
    if (p < 0) right = static_cast<float>(100 + int64_t{p}) / 100.0f;
}

// Mono pan law: the centre sits law dB down on both sides, the near side
// rises to unity at the edge and the far side fades linearly to nothing.
void MonoGains(int p, float law, float& left, float& right)
{
    if (law == 0.0f) {
        left = 1.0f;
        right = 1.0f;
        return;
    }
    const float c = dBtoRatio(-law, 1.0f);
    if (p == 0) {
        left = c;
        right = c;
    } else if (p > 0) {
        left = static_cast<float>(100 - int64_t{p}) * c / 100.0f;
        right = dBtoRatio(static_cast<float>(p) * law / 100.0f, 1.0f) * c;
    } else {
        left = dBtoRatio(static_cast<float>(-int64_t{p}) * law / 100.0f, 1.0f) * c;
        right = static_cast<float>(100 + int64_t{p}) * c / 100.0f;
    }
}

}  // namespace

void DelayPanPass(Run& run)
{
    ScanKeyword(run.cue.text(), "dp", [&](Tokens& tokens) {
        const int channel = AtoI(tokens.Next("\t"));
        int value = AtoI(tokens.Next("\n"));
        if (value < -100 || value > 100) value = 0;
        if (channel >= 1 && channel <= kMaxChannels) run.pan.delayPan[channel] = value;
        return true;
    });
}

void FxGainPass(Run& run)
{
    ScanKeyword(run.cue.text(), "fxg", [&](Tokens& tokens) {
        const int slot = ReadSlotField(tokens);
        const double dB = AtoF(tokens.Next("\n"));
        run.pan.fxGain[slot] = (dB >= -15.9 && dB <= 15.9) ? std::pow(10.0, dB / 20.0) : 1.0;
        if (slot == 0) {
            run.pan.masterFxFlag = 1;
            run.fx.anyMaster = 1;
        }
        return true;
    });
}

void PanCheck(PanSettings& pan)
{
    for (int slot = 0; slot < kSlots; ++slot) {
        if (pan.pan[slot] < -100 || pan.pan[slot] > 100) {
            std::fprintf(g_console, "Pan on channel %i appears to be set wrong.  Setting to 0.\n", slot);
            pan.pan[slot] = 0;
        }
    }
}

void PanLawAndGains(Run& run)
{
    PanSettings& pan = run.pan;
    float law = kDefaultPanLaw;
    ScanPrefs(run.prefsFile, "pan", [&](Tokens& tokens) {
        law = AtoFf(tokens.Next("\n"));
        return false;  // only the first line with a value counts
    });
    if (!(law >= 0.0f && law <= 6.02f)) law = kDefaultPanLaw;  // NaN included
    pan.panLaw = law;

    const int tracks = run.tracks.channels();
    for (int slot = 0; slot <= tracks; ++slot) {
        const int layout = slot == 0 ? 2 : run.tracks.info[slot].channels;
        if (layout == 2) StereoGains(pan.pan[slot], pan.gainL[slot], pan.gainR[slot]);
        if (layout == 1) MonoGains(pan.pan[slot], law, pan.gainL[slot], pan.gainR[slot]);
    }
    for (int slot = SubmixSlot(1); slot < kSlots; ++slot)
        StereoGains(pan.pan[slot], pan.gainL[slot], pan.gainR[slot]);

    for (int channel = 1; channel <= kMaxChannels; ++channel) {
        if (pan.delayPan[channel] == 0) continue;
        pan.gainL[channel] = 1.0f;
        pan.gainR[channel] = 1.0f;
        pan.pan[channel] = pan.delayPan[channel];
    }
    pan.maxDelay = static_cast<float>(run.tracks.sampleRate * 8.5 / 13560.0);
    for (int slot = 0; slot <= tracks; ++slot)
        pan.delay[slot] = Trunc32(static_cast<double>(pan.pan[slot]) / 100.0 * static_cast<double>(pan.maxDelay));
}

void DELAY_PAN(DelayHistory& history, int64_t first, int64_t end, int channel, const PanSettings& pan,
               const int64_t* x, int64_t* left, int64_t* right, int64_t historyStart)
{
    if (channel < 0 || channel >= kChannelRows) return;
    const int m = pan.delayPan[channel];
    auto& histL = history.left[channel];
    auto& histR = history.right[channel];

    if (m == -100 || m == 100 || m == 0) {
        for (int64_t i = first; i < end; ++i) {
            left[i] = m == 100 ? 0 : x[i];
            right[i] = m == -100 ? 0 : x[i];
        }
    } else if (m > 0) {
        // The left copy lags the right by d samples; the history holds at
        // most 255, so a longer delay (very high rates) is held at 255.
        const int64_t d = std::clamp<int64_t>(pan.delay[channel], 0, kHistory);
        for (int64_t i = first; i < end; ++i) {
            right[i] = x[i];
            left[i] = i >= d ? right[i - d] : histR[static_cast<size_t>(kHistory - d + i)];
        }
    } else {
        const int64_t d = std::clamp<int64_t>(pan.delay[channel], -kHistory, 0);
        for (int64_t i = first; i < end; ++i) {
            left[i] = x[i];
            right[i] = i >= -d ? left[i + d] : histL[static_cast<size_t>(kHistory + d + i)];
        }
    }

    for (int64_t i = std::max(first, historyStart); i < end; ++i) {
        const int64_t pos = kHistory - end + i;
        if (pos < 0 || pos >= kHistory) continue;
        histL[static_cast<size_t>(pos)] = left[i];
        histR[static_cast<size_t>(pos)] = right[i];
    }
}
