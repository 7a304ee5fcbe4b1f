// Where every message of the mixer goes: standard output in the program, a
// temporary file in tests so a test can read back the exact text.
#pragma once
#include <cstdio>

extern std::FILE* g_console;

// The line after a message about a file that could not be opened, created or
// written: the file and the system's reason, indented as a continuation line.
void PrintFileReason(const char* name, int err);
