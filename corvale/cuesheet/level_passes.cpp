// placeholder: replaced when this module lands
#include "corvale/cuesheet/levels.h"
void TrimPass(Run&) {}
void ScalePass(Run&) {}
void MasterTrimPass(Run&) {}
void LevelCheck(AutomationTables&) {}
void OrderWarnings(const AutomationTables&) {}
void DefaultRamps(AutomationTables&, int, double, double) {}
void RampClamp(AutomationTables&, int) {}
