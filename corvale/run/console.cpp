#include "corvale/run/console.h"

std::FILE* g_console = stdout;
