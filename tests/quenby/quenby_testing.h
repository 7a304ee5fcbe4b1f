// Loading a cue-sheet text into the adjuster's tables with its messages, and
// running the built program in a directory.
#pragma once
#include <cstdio>
#include <memory>
#include <string>

#include "quenby/quenby.h"
#include "tests/testutil.h"

namespace qtest {

inline std::string Drain(std::FILE* f)
{
    std::rewind(f);
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
    return text;
}

struct Loaded {
    std::unique_ptr<quenby::Entries> entries = std::make_unique<quenby::Entries>();
    quenby::LoadNotes notes;
    std::string said;   // the messages printed while loading
    quenby::Entries& operator*() const { return *entries; }
    quenby::Entries* operator->() const { return entries.get(); }
};

inline Loaded Parse(const std::string& text, int fields)
{
    Loaded l;
    std::FILE* sink = std::tmpfile();
    quenby::ParseBuffer(text, fields, *l.entries, l.notes, sink);
    l.said = Drain(sink);
    return l;
}

// The summary printed after loading.
inline std::string Summary(const Loaded& l, int fields, const std::string& name = "faders.txt",
                           const std::string& tempoPrefs = "")
{
    std::FILE* sink = std::tmpfile();
    quenby::PrintLoadSummary(l.notes, name, fields, tempoPrefs, sink);
    return Drain(sink);
}

inline testutil::RunResult Quenby(const testutil::TempDir& dir, const std::string& args, const std::string& input,
                                  const std::string& shellPrefix = "")
{
    return testutil::RunIn(dir.path(), shellPrefix + std::string(QUENBY_BIN) + " " + args, input);
}

inline size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace qtest
