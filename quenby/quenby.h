// The cue-sheet adjuster: loads the channel cues of a cue sheet (time, level,
// ramp and shape, with "inc" and "ofs" folded into the times), shifts, stretches
// and re-levels them, and prints or saves them ordered by channel or by time with
// 1, 2 or 3 time fields.
#pragma once
#include <array>
#include <cstdio>
#include <map>
#include <string>

namespace quenby {

constexpr int kChannels = 128;   // channels 0..127
constexpr int kEntries = 512;    // entries per channel

struct Entries {
    std::array<std::array<float, kEntries>, kChannels> times{}, levels{}, ramps{}, shapes{};
    std::array<int, kChannels> counts{};
    std::string title;
};

// Kinds of line that loading skips. The first of each kind is reported as it
// comes; the rest are only counted and reported once after loading.
enum class Skip {
    kTimeNotFinite,
    kIncNotFinite,
    kLevelNotFinite,
    kChannelRange,
    kRampNotFinite,
    kOffsetNotFinite,
    kShapeRange,
    kRampAfterVca,
    kOffsetAfterVca,
    kShapeAfterVca,
    kRampNoCue,
    kOffsetNoCue,
    kShapeNoCue,
    kCount
};
constexpr int kSkipKinds = static_cast<int>(Skip::kCount);

// Codes of the cue sheet that quenby reads but does not carry into its output.
enum class Uncarried { kVca, kSubmixOrMaster, kPan, kPolarity, kDelayPan, kTrim, kScale, kMasterTrim, kFxGain, kCount };
constexpr int kUncarriedKinds = static_cast<int>(Uncarried::kCount);

// What loading found besides the entries, for the summary printed after it.
struct LoadNotes {
    std::array<int, kSkipKinds> skipped{};
    std::array<int, kChannels> overflow{};         // level lines past 512 entries, per channel
    std::array<int, kUncarriedKinds> uncarried{};
    struct FieldCount {
        int lines = 0;
        long firstLine = 0;   // line of the file, counted from 1
    };
    std::map<int, FieldCount> timeFields;          // fields found on "t" lines -> those lines
    int tmapLines = 0;
};

// Fills entries from the text of a cue sheet read with timeFields fields per "t"
// line. The first line of each kind that is skipped is reported on out; notes
// collects the counts for PrintLoadSummary. Windows line endings and a UTF-8
// byte-order mark read as if they were not there.
void ParseBuffer(const std::string& text, int timeFields, Entries& entries, LoadNotes& notes, std::FILE* out);

// The counts of the skipped lines past the first of each kind, the lines not
// carried, time lines whose field count differs from timeFields (with the command
// that reads them, for the file loaded as fileName) and a musical-time warning
// when the sheet has "tmap" lines or tempoPrefs (the preferences file that goes
// with it) switches tempo mode on; tempoPrefs is empty otherwise.
void PrintLoadSummary(const LoadNotes& notes, const std::string& fileName, int timeFields,
                      const std::string& tempoPrefs, std::FILE* out);

float FindMax(const Entries& e);
float FindMin(const Entries& e, float max);
void ScaleTimes(Entries& e, float factor);
void MoveTimes(Entries& e, float seconds);
void AdjustVolumes(Entries& e, float dB);
// The smallest entry time strictly later than time; false when there is none.
bool ScanTimes(const Entries& e, float time, float& next);

// The entries ordered by channel (Format1) or by time (Format2).
std::string Format1(const Entries& e, int timeFields);
std::string Format2(const Entries& e, int timeFields);

// Writes text to name through a temporary file in the same directory that is
// renamed onto name once complete and synced. The file keeps the mode of the file
// it replaces (0666 less the umask when new). On failure nothing is left behind,
// an earlier file is unchanged, and the messages name the file and the reason.
bool WriteFileAtomically(const std::string& name, const std::string& text, std::FILE* out);

// Whether the preferences file at path switches tempo mode on; false when there
// is none, and false with a warning on out when it cannot be read.
bool PrefsTempoOn(const std::string& path, std::FILE* out);

// Opens /dev/null onto each of the descriptors 0, 1 and 2 that is closed, so no
// file the program opens can take their place; false when that failed.
bool OpenClosedStandardDescriptors();

// The whole program: options, command line, loading, the command loop. Returns
// the exit status.
int RunQuenby(int argc, char** argv, std::FILE* in, std::FILE* out);

}  // namespace quenby
