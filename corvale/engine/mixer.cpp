// placeholder: replaced when this module lands
#include "corvale/engine/mixer.h"
int RunMix(Run&) { return 0; }
