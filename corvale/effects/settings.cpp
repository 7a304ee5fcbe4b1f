// placeholder: replaced when this module lands
#include "corvale/effects/settings.h"
int ReadEffectSettings(Run&) { return 0; }
