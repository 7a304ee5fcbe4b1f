// placeholder: replaced when this module lands
#include "corvale/effects/reverb.h"
int DiscreteReverb(DiscreteReverbState&, int64_t, int64_t, double, const double*, const double*, float, int64_t*, int64_t*, int64_t*, int64_t*, int&, float, float, float) { return 0; }
int RecurseReverb(RecursiveReverbState&, int64_t, double, const double*, const double*, float, int64_t*, int64_t*, int64_t*, int64_t*, float, float, float, float) { return 0; }
