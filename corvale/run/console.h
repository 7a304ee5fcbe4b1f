// Where every message of the mixer goes: standard output in the program, a
// temporary file in tests so a test can read back the exact text.
#pragma once
#include <cstdio>

extern std::FILE* g_console;
