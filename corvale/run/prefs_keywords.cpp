#include "corvale/run/prefs_keywords.h"

#include <algorithm>
#include <cstdio>

#include "corvale/run/console.h"
#include "corvale/run/numeric.h"

const PrefsKeyword* FindPrefsKeyword(const char* token)
{
    for (const PrefsKeyword& k : kPrefsKeywords)
        if (std::strcmp(token, k.name) == 0) return &k;
    return nullptr;
}

bool PrefsNotes::FirstTime(size_t offset)
{
    if (std::find(reported_.begin(), reported_.end(), offset) != reported_.end()) return false;
    reported_.push_back(offset);
    return true;
}

bool NextPrefsKeyword(Tokens& tokens, bool throughEnd, PrefsOccurrence& at)
{
    for (const char* tok = tokens.Next("\t\n"); tok != nullptr; tok = tokens.Next("\t\n")) {
        if (!throughEnd && std::strcmp(tok, "end") == 0) return false;
        const PrefsKeyword* keyword = FindPrefsKeyword(tok);
        if (keyword == nullptr) continue;
        at.keyword = keyword;
        at.hasValue = keyword->value != PrefsValue::kNone && tokens.MoreOnLine();
        at.offset = tokens.OffsetOf(tok);
        return true;
    }
    return false;
}

void SkipPrefsValue(Tokens& tokens, const PrefsOccurrence& at)
{
    if (!at.hasValue) return;
    // The line holds more than blanks, so this stops on it.
    const char* tok = tokens.Next("\t\n");
    while (tok != nullptr && tok[std::strspn(tok, " ")] == '\0') tok = tokens.Next("\t\n");
}

void WarnNoPrefsValue(const PrefsOccurrence& at, PrefsNotes* notes)
{
    if (notes != nullptr && !notes->FirstTime(at.offset)) return;
    std::fprintf(g_console, ">> Warning: %s has no value on its line of the preferences; it is left unset.\n",
                 at.keyword->name);
}

void CodetoInt(const char* text, const char* key, int& value, PrefsNotes* notes)
{
    ScanPrefs(
        text, key,
        [&](Tokens& t) {
            value = AtoI(t.Next("\t\n"));
            return true;
        },
        {notes, true});
}
