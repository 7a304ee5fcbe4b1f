#include <cstdio>

#include "palisar/palisar.h"

int main() { return palisar::RunPalisar(stdin, stdout, "faders.txt"); }
