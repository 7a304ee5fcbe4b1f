// The keywords of the preferences file and the keyword-aware scan that every
// reader of that file uses. A token that stands right after a keyword taking a
// value, on the keyword's line, is that keyword's value and never a keyword
// itself; a keyword whose value is missing from its line is left unset with a
// warning.
#pragma once
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "corvale/run/text.h"

// How a keyword takes its value.
enum class PrefsValue {
    kNone,        // the keyword stands alone
    kField,       // the next field, ended by a tab or a line feed
    kRestOfLine,  // everything up to the line feed
    kTime,        // one to three time fields, the last one ended by the line feed
};

struct PrefsKeyword {
    const char* name;
    PrefsValue value;
    // Alone on its line the keyword still counts and is read as if its value
    // were empty, without a warning.
    bool aloneCounts = false;
};

// Every keyword of the preferences file. A new keyword is one more line here;
// a keyword missing from this table is never found by the scan.
inline constexpr PrefsKeyword kPrefsKeywords[] = {
    {"verbo", PrefsValue::kField},
    {"mixdir", PrefsValue::kRestOfLine},
    {"predir", PrefsValue::kRestOfLine},
    {"bakdir", PrefsValue::kRestOfLine},
    {"wavdir", PrefsValue::kRestOfLine},
    {"tlist", PrefsValue::kField},
    {"tlist=tab", PrefsValue::kNone},
    {"oname", PrefsValue::kRestOfLine},
    {"sfields", PrefsValue::kRestOfLine},
    {"pre", PrefsValue::kRestOfLine},
    {"start", PrefsValue::kTime},
    {"length", PrefsValue::kRestOfLine},
    {"xfields", PrefsValue::kRestOfLine},
    {"head", PrefsValue::kField},
    {"tail", PrefsValue::kField},
    {"xin", PrefsValue::kTime},
    {"xout", PrefsValue::kTime},
    {"v=percent", PrefsValue::kNone},
    {"tempo", PrefsValue::kNone},
    {"launch", PrefsValue::kField},
    {"mono", PrefsValue::kRestOfLine, true},  // alone: mono output at 0 dB
    {"dbps", PrefsValue::kRestOfLine},
    {"dither", PrefsValue::kRestOfLine},
    {"outbits", PrefsValue::kField},
    {"offset", PrefsValue::kTime},            // or the single field "xlink"
    {"tfields", PrefsValue::kRestOfLine},
    {"pan", PrefsValue::kRestOfLine},
    {"tap", PrefsValue::kRestOfLine},
    {"loudness", PrefsValue::kRestOfLine},
    {"truepeak", PrefsValue::kRestOfLine},
    {"seed", PrefsValue::kField},
    {"stems", PrefsValue::kRestOfLine},
};

// The table entry of token, or nullptr when token is no keyword.
const PrefsKeyword* FindPrefsKeyword(const char* token);

// The occurrences whose missing value has been reported, by where their keyword
// starts in the text, so that several scans of one keyword warn once.
class PrefsNotes {
public:
    // True the first time an offset is given.
    bool FirstTime(size_t offset);
    void Clear() { reported_.clear(); }

private:
    std::vector<size_t> reported_;
};

// One keyword occurrence met by the walk.
struct PrefsOccurrence {
    const PrefsKeyword* keyword = nullptr;
    bool hasValue = false;  // something other than tabs and spaces follows it on its line
    size_t offset = 0;      // where the keyword starts in the text
};

// Advances tokens (over tab and line feed) to the next keyword occurrence.
// Returns false at the end of the text or, unless throughEnd, at a token "end".
bool NextPrefsKeyword(Tokens& tokens, bool throughEnd, PrefsOccurrence& at);

// Passes over the value token of an occurrence that is not read: the first token
// after the keyword on its line that is not made of spaces alone.
void SkipPrefsValue(Tokens& tokens, const PrefsOccurrence& at);

// ">> Warning: KEY has no value on its line of the preferences; it is left
// unset." -- once per occurrence when notes are given.
void WarnNoPrefsValue(const PrefsOccurrence& at, PrefsNotes* notes);

struct PrefsScan {
    PrefsNotes* notes = nullptr;  // where the no-value warnings are remembered
    bool throughEnd = false;      // go on past a token "end"
};

// The keyword-aware walk from the current position of tokens. At every occurrence
// of one of keys that has its value on its line (or that takes no value, or that
// counts alone) onHit(name, tokens) reads the value from tokens and returns false
// to end the walk; for a keyword that counts alone and stands alone it reads from
// an empty stream. An occurrence of one of keys without its value is skipped with
// the warning. The values of other keywords are passed over.
template <class F>
void WalkPrefs(Tokens& tokens, std::initializer_list<const char*> keys, F&& onHit, PrefsScan scan = {})
{
    PrefsOccurrence at;
    while (NextPrefsKeyword(tokens, scan.throughEnd, at)) {
        const char* name = at.keyword->name;
        bool wanted = false;
        for (const char* key : keys) wanted = wanted || std::strcmp(key, name) == 0;
        if (!wanted) {
            SkipPrefsValue(tokens, at);
        } else if (at.keyword->value == PrefsValue::kNone || at.hasValue) {
            if (!onHit(name, tokens)) return;
        } else if (at.keyword->aloneCounts) {
            Tokens nothing("");
            if (!onHit(name, nothing)) return;
        } else {
            WarnNoPrefsValue(at, scan.notes);
        }
    }
}

// The keyword-aware scan of text for one keyword: onHit(tokens) as for WalkPrefs.
template <class F>
void ScanPrefs(const char* text, const char* key, F&& onHit, PrefsScan scan = {})
{
    Tokens tokens(text);
    WalkPrefs(tokens, {key}, [&](const char*, Tokens& t) { return onHit(t); }, scan);
}

// For every occurrence of key with its value on its line, value = atoi of that
// value. Goes on past "end"; the last occurrence wins; value is untouched when
// there is none.
void CodetoInt(const char* text, const char* key, int& value, PrefsNotes* notes = nullptr);
