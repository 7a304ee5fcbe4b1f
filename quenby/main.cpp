#include <cstdio>

#include "quenby/quenby.h"

int main(int argc, char** argv)
{
    // With a standard descriptor closed, the next file opened would take its
    // number and receive the messages; nothing can be printed then.
    if (!quenby::OpenClosedStandardDescriptors()) return 2;
    return quenby::RunQuenby(argc, argv, stdin, stdout);
}
