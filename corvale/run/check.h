// The dry run of "corvale --check": what a run would do with the control files
// and the tracks, as findings that name their file and line. Besides the
// warnings every run gives, it looks for the cue sheet's silent traps: entries
// never played, rows that belong to nothing, codes the reader skips, cues for
// channels without a track, rows and times short of fields, times past the end
// of the song, faders past their 512 entries, and a body that starts inside a
// note.
#pragma once
#include <string>
#include <vector>

struct Run;

struct Finding {
    std::string file;
    int line = 0;          // counted from the file's first line; 0: the file as a whole
    bool error = false;    // false: a warning
    std::string text;
};

class CheckReport {
public:
    void Warn(const std::string& file, int line, std::string text) { Add(file, line, false, std::move(text)); }
    void Error(const std::string& file, int line, std::string text) { Add(file, line, true, std::move(text)); }
    int errors() const;
    int warnings() const;
    const std::vector<Finding>& findings() const { return findings_; }
    // Prints every finding ("FILE:LINE: warning: TEXT", "FILE: error: TEXT" for
    // a whole file), then the line with the counts. Returns the exit status:
    // 0 nothing found, 1 warnings only, 2 an error.
    int Print() const;

private:
    void Add(const std::string& file, int line, bool error, std::string text);
    std::vector<Finding> findings_;
};

// How far the set-up of a dry run got, which says what the run state knows.
enum class CheckStage {
    kFilesRead,     // the three control files (or their stand-ins)
    kTracksPlaced,  // headers read, tracks placed: the song length is known
    kCueRead,       // every cue-sheet pass ran
    kComplete,      // the output names were checked
};

// Scans the control files of run and its state for the findings a dry run
// reports. stage says how far the set-up went.
void ScanForFindings(const Run& run, CheckStage stage, CheckReport& report);

// The settings checks the reverbs make on their first block, for the reverbs
// the mix would run. Each rejection is an error finding (after the reverb's own
// message).
void CheckReverbSettings(const Run& run, CheckReport& report);

// Ends a dry run: the findings, the count line and the exit status. setupStatus
// is the status the set-up stopped with (0 when it went through); a non-zero one
// is an error finding on file.
int FinishCheck(const Run& run, CheckStage stage, int setupStatus, const std::string& file);
