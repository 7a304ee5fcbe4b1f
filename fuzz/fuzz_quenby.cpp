// Fuzz target: the cue-sheet adjuster. The input holds the time-field count (first
// byte), the cue-sheet text and, after a form feed, the answers typed into the
// command loop; the text is parsed, formatted both ways, and then run through the
// whole program with those answers.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "fuzz/fuzz_common.h"
#include "quenby/quenby.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static std::FILE* sink = std::fopen("/dev/null", "w");
    static const std::string path = fuzzutil::ScratchDir() + "/faders.txt";
    if (sink == nullptr || size == 0) return 0;
    const int fields = 1 + data[0] % 3;
    auto parts = fuzzutil::Split(data + 1, size - 1, 2);

    auto entries = std::make_unique<quenby::Entries>();
    quenby::LoadNotes notes;
    quenby::ParseBuffer(parts[0], fields, *entries, notes, sink);
    quenby::PrintLoadSummary(notes, "faders.txt", fields, std::string(), sink);
    const float max = quenby::FindMax(*entries);
    quenby::FindMin(*entries, max);
    quenby::Format1(*entries, fields);
    quenby::Format2(*entries, fields);

    // The saving command would write wherever the answers say: keep it out.
    std::string& answers = parts[1];
    for (size_t i = 0; i + 1 < answers.size(); ++i)
        if (answers[i] == 'p' && answers[i + 1] == 'f') answers[i + 1] = 's';
    fuzzutil::WriteFile(path, parts[0]);
    fuzzutil::MemStream in(answers);
    std::string fieldArg = std::to_string(fields);
    char arg0[] = "quenby";
    std::string nameArg = path;
    char* argv[] = {arg0, nameArg.data(), fieldArg.data(), nullptr};
    quenby::RunQuenby(3, argv, in.f, sink);
    return 0;
}
