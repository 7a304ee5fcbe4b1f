#include "corvale/run/run.h"

int main(int argc, char** argv) { return RunCorvale(argc, argv); }
