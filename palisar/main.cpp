#include <csignal>
#include <cstdio>

#include "palisar/palisar.h"

int main(int argc, char** argv)
{
    if (!palisar::OpenStandardDescriptors()) return 1;
    // A file-size limit is an ordinary write failure, reported and cleaned up.
    std::signal(SIGXFSZ, SIG_IGN);
    return palisar::Main(argc, argv, stdin, stdout, "faders.txt");
}
