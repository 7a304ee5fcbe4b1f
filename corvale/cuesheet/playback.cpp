// placeholder: replaced when this module lands
#include "corvale/cuesheet/playback.h"
void InterpretLevel(Playback&, const AutomationTables&, int64_t, int, bool) {}
void StartState(Playback&, const AutomationTables&, int, const int64_t*, int64_t) {}
void FillVCA(Playback&, const AutomationTables&, int64_t, int64_t, int) {}
void AUTOMATE(Playback&, const AutomationTables&, int64_t, int64_t, int, int64_t*, int64_t*, int64_t, double, float, float, const int*) {}
