// placeholder: replaced when this module lands
#include "corvale/run/run.h"
int RunCorvale(int, char**) { return 2; }
