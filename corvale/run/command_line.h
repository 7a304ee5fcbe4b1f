// The command line of the mixer: options first (every argument that begins
// with "-"), then up to three file names.
#pragma once
#include <string>
#include <vector>

struct CommandLine {
    bool help = false;
    bool version = false;
    bool strict = false;
    bool check = false;                  // --check: the dry run
    std::string unknown;                 // the first argument that is no known option
    std::vector<std::string> files;      // track list, cue sheet, preferences, in that order
};

CommandLine ParseCommandLine(int argc, char** argv);

// The text of --help.
extern const char kUsageText[];
