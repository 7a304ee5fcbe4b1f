// The cue-sheet generator: a short console dialogue, then a template cue sheet
// with level and pan rows for every channel and, on request, inactive effect
// rows with their values, written in one piece.
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

// Answers read as scanf reads them: a non-numeric answer (or the end of the
// input) leaves the value as it was; so does a float answer that is not a
// finite number.
class AnswerReader {
public:
    explicit AnswerReader(std::FILE* in) : in_(in) {}
    void Int(int& value);
    void Float(float& value);

private:
    std::FILE* in_;
};

// The whole cue-sheet text for the answers.
std::string BuildFaderText(const Answers& answers);

// The largest text the generator writes, in bytes.
constexpr size_t kTextLimit = 195071;

// The dialogue on in/out, writing the cue sheet to path. Returns the exit status.
int RunPalisar(std::FILE* in, std::FILE* out, const char* path);

}  // namespace palisar
