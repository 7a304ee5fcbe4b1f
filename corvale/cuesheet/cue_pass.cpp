// placeholder: replaced when this module lands
#include "corvale/cuesheet/levels.h"
int CuePass(Run&) { return 0; }
