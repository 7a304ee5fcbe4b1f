// placeholder: replaced when this module lands
#include "corvale/cuesheet/pan.h"
void DelayPanPass(Run&) {}
void FxGainPass(Run&) {}
void PanCheck(PanSettings&) {}
void PanLawAndGains(Run&) {}
void DELAY_PAN(DelayHistory&, int64_t, int64_t, int, const PanSettings&, const int64_t*, int64_t*, int64_t*, int64_t) {}
