#include "corvale/effects/strip.h"

namespace {

bool EffectOn(const EffectSettings& fx, StripEffect effect, int slot, bool master)
{
    if (master) return effect != kLim && fx.masterRow[effect] != 0;
    return EffectFlag(fx, effect, slot) != 0;
}

void RunEffect(EffectSettings& fx, DspState& dsp, StripEffect effect, int slot, int64_t n, double* left,
               double* right)
{
    switch (effect) {
    case kHp:
        HPF(dsp.hpf, n, slot, left, right, fx.hpC1[slot], fx.hpC2[slot], dsp.hpInit);
        break;
    case kBand1:
    case kBand2:
    case kBand3:
    case kBand4:
    case kHshelf:
    case kLshelf: {
        const Biquad& c = fx.eq[effect][slot];
        EQ(dsp.eq, n, slot, effect, left, right, c.b0, c.b1, c.b2, c.a1, c.a2, dsp.eqInit);
        break;
    }
    case kRms:
        RMSCOMPRESSOR(dsp.rms, slot, &fx.rms.flag[slot], n, left, right, fx.rms.attack[slot],
                      fx.rms.release[slot], fx.rms.ratio[slot], fx.rms.threshold[slot],
                      &dsp.rmsInit[slot]);
        break;
    case kNlc:
        NonLinCOMP(dsp.nlc, slot, n, left, right, fx.nlcWindow[slot], fx.nlcRatio[slot],
                   fx.nlcThreshold[slot], &dsp.nlcInit[slot]);
        break;
    case kComp:
        PEAKCOMPRESSOR(dsp.peak, slot, &fx.comp.flag[slot], n, left, right, fx.comp.attack[slot],
                       fx.comp.release[slot], fx.comp.ratio[slot], fx.comp.threshold[slot]);
        break;
    case kLim:
        LIMITER(slot, n, left, right, fx.limCeiling[slot]);
        break;
    }
}

}  // namespace

void EffectsStrip(EffectSettings& fx, DspState& dsp, int slot, bool master, int64_t /*pos*/,
                  int64_t n, double* left, double* right)
{
    if (master) slot = 0;
    if (n < 1 || slot < 0 || slot >= kValueSlots) return;
    // The effects due, in the order they run.
    StripEffect due[11 * kStripEffects];
    int count = 0;
    for (int position = 1; position <= 11; ++position) {
        for (int e = 0; e < kStripEffects; ++e) {
            const auto effect = static_cast<StripEffect>(e);
            if (fx.order[effect][slot] != position) continue;
            if (!EffectOn(fx, effect, slot, master)) continue;
            due[count++] = effect;
        }
    }
    for (int k = 0; k < count; ++k) {
        const StripEffect effect = due[k];
        // A high-pass directly followed by a biquad section runs as one pass.
        if (effect == kHp && k + 1 < count && due[k + 1] >= kBand1 && due[k + 1] <= kLshelf) {
            const Biquad& c = fx.eq[due[k + 1]][slot];
            if (HpfThenEq(dsp.hpf, dsp.eq, n, slot, due[k + 1], left, right, fx.hpC1[slot], fx.hpC2[slot],
                          dsp.hpInit, c.b0, c.b1, c.b2, c.a1, c.a2, dsp.eqInit)) {
                ++k;
                continue;
            }
        }
        RunEffect(fx, dsp, effect, slot, n, left, right);
    }
}

bool StripIdle(const EffectSettings& fx, int slot, bool master)
{
    if (master) slot = 0;
    if (slot < 0 || slot >= kValueSlots) return true;
    for (int e = 0; e < kStripEffects; ++e) {
        const auto effect = static_cast<StripEffect>(e);
        const int position = fx.order[effect][slot];
        if (position >= 1 && position <= 11 && EffectOn(fx, effect, slot, master)) return false;
    }
    return true;
}
