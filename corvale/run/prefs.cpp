// placeholder: replaced when this module lands
#include "corvale/run/prefs.h"
int ReadEarlyPrefs(const ControlFile&, Prefs&) { return 0; }
int ReadLatePrefs(const ControlFile&, const std::string&, int64_t, double, Prefs&) { return 0; }
