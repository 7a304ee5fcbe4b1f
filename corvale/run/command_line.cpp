#include "corvale/run/command_line.h"

#include <cstring>

const char kUsageText[] =
    "Usage: corvale [OPTION]... [TRACKLIST [CUESHEET [PREFERENCES]]]\n"
    "Mixes the WAV files named in TRACKLIST, as CUESHEET and PREFERENCES say, into one\n"
    "WAV file, and writes a statistics report and a backup of the cue sheet beside it.\n"
    "\n"
    "Arguments (names relative to the working directory):\n"
    "  TRACKLIST    the track list   (default tracks.txt)\n"
    "  CUESHEET     the cue sheet    (default faders.txt)\n"
    "  PREFERENCES  the preferences  (default prefs.txt)\n"
    "\n"
    "Options:\n"
    "  -h, --help   print this text and exit\n"
    "  --version    print the program's version and exit\n"
    "  --strict     treat tracks that will not be heard, a silent mix and a track\n"
    "               shorter than its header says as errors: nothing is written\n"
    "  --check      a dry run: every check of the set-up and the cue sheet's silent\n"
    "               traps as FILE:LINE: findings; no file is written; status 0 when\n"
    "               nothing was found, 1 for warnings only, 2 when a run would fail\n"
    "\n"
    "Exit status:\n"
    "  0       the mix was written\n"
    "  1       the tracks' sample rates differ, -999 was answered at the cue-sheet\n"
    "          prompt, or a reverb rejected its settings\n"
    "  2       any other error in the control files, the tracks or the files written\n"
    "  3       --strict found tracks not heard, a silent mix or a short track\n"
    "  128+N   stopped by signal N (nothing was written)\n"
    "\n"
    "The file formats and every message are described in README.md and docs/.\n";

CommandLine ParseCommandLine(int argc, char** argv)
{
    CommandLine cl;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (a[0] != '-') {
            cl.files.emplace_back(a);
        } else if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            cl.help = true;
        } else if (std::strcmp(a, "--version") == 0) {
            cl.version = true;
        } else if (std::strcmp(a, "--strict") == 0) {
            cl.strict = true;
        } else if (std::strcmp(a, "--check") == 0) {
            cl.check = true;
        } else if (cl.unknown.empty()) {
            cl.unknown = a;
        }
    }
    return cl;
}
