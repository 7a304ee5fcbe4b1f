// Fuzz target: the cue-sheet generator. The input is the whole dialogue's
// answers; the generator reads them, builds its text and writes it to a scratch
// file (keeping the previous one as its backup). The answers are also read one
// by one and the text built directly.
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_common.h"
#include "palisar/palisar.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static std::FILE* sink = std::fopen("/dev/null", "w");
    static const std::string path = fuzzutil::ScratchDir() + "/faders.txt";
    static const std::string backup = path + ".bak";
    if (sink == nullptr) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    {
        fuzzutil::MemStream in(text);
        palisar::RunPalisar(in.f, sink, path.c_str());
        // The cue sheet stays for the next input, so its backup is made each
        // time; only the one backup is kept.
        std::remove(backup.c_str());
    }
    {
        fuzzutil::MemStream in(text);
        palisar::AnswerReader read(in.f);
        palisar::Answers a;
        // The dialogue's order of questions, up to the first answer that ends it.
        bool go = read.Int(a.model) && read.Int(a.channels) && read.Float(a.fader) && read.Int(a.effectsChoice) &&
                  read.Int(a.valuesChoice);
        for (auto& e : a.effects) {
            int yes = 0;
            go = go && read.Int(yes);
            e.selected = yes == 1;
            for (float& v : e.values) go = go && read.Float(v);
        }
        // Whatever the count, the text stops growing soon after the limit.
        const std::string built = palisar::BuildFaderText(a);
        if (built.size() > palisar::kTextLimit + 4096) __builtin_trap();
    }
    return 0;
}
