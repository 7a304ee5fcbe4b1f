// The cue-sheet generator: a short console dialogue, then a template cue sheet
// with level and pan rows for every channel and, on request, inactive effect
// rows with their values, written in one piece through a temporary file.
#pragma once
#include <array>
#include <cstdio>
#include <string>

namespace palisar {

// The eleven effects, in the order their selection questions are asked.
enum Effect { kHighPass, kBand1, kBand2, kHighShelf, kLowShelf, kPeakComp, kRmsComp, kNlcComp,
              kLimiter, kRecursiveReverb, kDiscreteReverb, kEffectCount };

struct EffectChoice {
    bool selected = false;
    std::array<float, 4> values{};
};

struct Answers {
    int model = 0;
    int channels = 0;
    float fader = 0.0f;
    int effectsChoice = 0;
    int valuesChoice = 0;
    std::array<EffectChoice, kEffectCount> effects;
    Answers();   // the effects' default values
};

// Answers read one line each. A number question takes the first non-blank
// line: the number (as scanf's "%d" or "%f" reads it) may be followed by blanks
// only. A line with no number or with more after it, or the end of the input,
// is no answer: the call returns false and the dialogue ends. A float answer
// that is not a finite number ("nan", "inf", beyond the float range) leaves
// the value as it was and counts as answered; an integer beyond the int range
// is taken as the nearest int.
class AnswerReader {
public:
    explicit AnswerReader(std::FILE* in) : in_(in) {}
    [[nodiscard]] bool Int(int& value);
    [[nodiscard]] bool Float(float& value);
    // Why the last refused answer ends the dialogue: one line, without its line feed.
    const std::string& Why() const { return why_; }

private:
    bool NextLine(std::string& line);
    bool Accepts(const std::string& line, size_t at);

    std::FILE* in_;
    std::string why_;
};

// The whole cue-sheet text for the answers.
std::string BuildFaderText(const Answers& answers);

// The largest text the generator writes, in bytes.
constexpr size_t kTextLimit = 195071;

// The dialogue on in/out, writing the cue sheet to path. Returns the exit status.
int RunPalisar(std::FILE* in, std::FILE* out, const char* path);

// Writes text as the new cue sheet at path: through a temporary file in the
// directory of the file path leads to (after symbolic links) and a rename. An
// existing regular file is first copied to the first free name of path.bak,
// path.bak.1, path.bak.2, ... A target that exists and is not a regular file
// (a device, a FIFO) is written directly. On failure the messages are printed
// on out, any earlier file is left as it was and nothing new remains.
struct WriteResult {
    bool ok = false;
    std::string backup;   // the name the earlier file was kept under, if any
};
WriteResult WriteFaderFile(const std::string& text, const char* path, std::FILE* out);

// Puts /dev/null on each of the descriptors 0, 1 and 2 that is closed, so that
// no file opened later takes its place. False when /dev/null cannot be opened.
bool OpenStandardDescriptors();

// The program: options first (--help, -h, --version), then the dialogue.
int Main(int argc, const char* const* argv, std::FILE* in, std::FILE* out, const char* path);

}  // namespace palisar
