#include "corvale/run/console.h"

#include <cstring>

std::FILE* g_console = stdout;

void PrintFileReason(const char* name, int err)
{
    std::fprintf(g_console, "  %s: %s\n", name, std::strerror(err));
}
