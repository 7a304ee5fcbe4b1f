#include <cstdio>

#include "quenby/quenby.h"

int main(int argc, char** argv) { return quenby::RunQuenby(argc, argv, stdin, stdout); }
