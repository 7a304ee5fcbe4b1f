// The command line: the standard descriptors, the options and the usage text.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "palisar/palisar.h"

namespace palisar {

bool OpenStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int null = ::open("/dev/null", O_RDWR);
        if (null < 0) return false;
        if (null != fd) {   // the lower ones are open, so this is not expected
            const bool moved = ::dup2(null, fd) == fd;
            ::close(null);
            if (!moved) return false;
        }
    }
    return true;
}

namespace {

void Usage(std::FILE* out)
{
    std::fputs("Usage: palisar [--help | --version]\n"
               "\n"
               "Asks for a layout, a channel count, a default fader level and the effects\n"
               "to include, then writes a template cue sheet, faders.txt, in the working\n"
               "directory. An existing faders.txt is first kept as faders.txt.bak (or\n"
               "faders.txt.bak.1, faders.txt.bak.2, ... when that name is taken).\n"
               "\n"
               "Arguments: none.\n"
               "\n"
               "Options:\n"
               "  -h, --help   print this text and exit\n"
               "  --version    print the program's name and version and exit\n"
               "\n"
               "Exit status:\n"
               "  0  the cue sheet was written (or --help, --version)\n"
               "  1  nothing was written: model 4 (Exit), an answer that is not a number or\n"
               "     not one of the choices, the end of the input, or a file error\n"
               "  2  an unknown option; nothing was read or written\n"
               "\n"
               "See README.md (sections \"palisar\" and \"Behaviour notes\") for more.\n",
               out);
}

}  // namespace

int Main(int argc, const char* const* argv, std::FILE* in, std::FILE* out, const char* path)
{
    bool help = false, version = false;
    const char* unknown = nullptr;
    std::vector<const char*> ignored;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-') ignored.push_back(arg);
        else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) help = true;
        else if (std::strcmp(arg, "--version") == 0) version = true;
        else if (unknown == nullptr) unknown = arg;
    }
    if (unknown != nullptr) {
        std::fprintf(out, "Error: unknown option \"%s\".\n", unknown);
        Usage(out);
        std::fflush(out);
        return 2;
    }
    if (help) {
        Usage(out);
        std::fflush(out);
        return 0;
    }
    if (version) {
        std::fprintf(out, "palisar %s\n", PROJECT_VERSION_STRING);
        std::fflush(out);
        return 0;
    }
    for (const char* arg : ignored)
        std::fprintf(out, ">> Warning: palisar takes no arguments; \"%s\" is ignored.\n", arg);
    return RunPalisar(in, out, path);
}

}  // namespace palisar
