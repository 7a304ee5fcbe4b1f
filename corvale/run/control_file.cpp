// placeholder: replaced when this module lands
#include "corvale/run/control_file.h"
bool LoadControlStream(std::FILE*, ControlFile&) { return false; }
void CheckLines(const char*, LineCheck) {}
bool LoadPreferences(const char*, ControlFile&) { return false; }
int LoadFaderFile(const char*, int, ControlFile&) { return 2; }
