// placeholder: replaced when this module lands
#include "corvale/effects/strip.h"
void EffectsStrip(EffectSettings&, DspState&, int, bool, int64_t, int64_t, double*, double*) {}
