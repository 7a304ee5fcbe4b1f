// The small text operations every control-file reader shares: a strtok-style
// tokenizer over an owned copy (no global state), line splitting, space and
// separator clean-up, the keyword-scan idiom, the slot field of level rows,
// effect rows and order lines, and the range clamps.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Tokens of a private copy of a NUL-terminated text, read the way strtok reads:
// leading delimiters of the set given to Next are skipped, the token runs to the
// next delimiter of that set, and that one delimiter is consumed. The set may
// change from call to call ("\t\n" for a field, "\n" for the rest of a line).
class Tokens {
public:
    explicit Tokens(const char* text);
    explicit Tokens(const std::string& text) : Tokens(text.c_str()) {}
    // The next token, or nullptr when only delimiters (or nothing) remain.
    const char* Next(const char* delims);
    // True when the last token was ended by a tab and the rest of its line holds
    // something other than tabs and spaces.
    bool MoreOnLine() const;
    // Where a token returned by Next starts, counted from the start of the text.
    size_t OffsetOf(const char* token) const { return static_cast<size_t>(token - buf_.data()); }

private:
    std::vector<char> buf_;
    size_t pos_ = 0;
    char ended_ = '\0';  // the delimiter that ended the last token ('\0' at the end of the text)
};

// Splits text in place at line feeds: lines[0] is the start of text, each line
// feed becomes NUL and the byte after it starts the next entry. Returns the number
// of line feeds; lines then holds that many + 1 entries (the last one is the text
// after the final line feed and is not counted).
int pointToLines(char* text, std::vector<char*>& lines);

// Removes every space character from text.
void RemoveSpaces(std::string& text);

// Replaces every run of two or more c by a single c; returns how many characters
// were removed.
int RemoveExtraString(std::string& text, char c);

// The keyword-scan idiom: tokens of text over tab and line feed from the first,
// stopping at a token "end" or the end of the text. At every token equal to key
// onHit(tokens) reads the value fields from the same tokens; it returns false to
// end the scan there (keywords whose first occurrence ends the scan).
template <class F>
void ScanKeyword(const char* text, const char* key, F&& onHit)
{
    Tokens tokens(text);
    for (const char* tok = tokens.Next("\t\n"); tok != nullptr; tok = tokens.Next("\t\n")) {
        if (std::strcmp(tok, "end") == 0) break;
        if (std::strcmp(tok, key) == 0 && !onHit(tokens)) break;
    }
}

// Where a slot field stands. On a level or effect row "G" and "M" are whole
// fields and fields end at a tab; on an order line a field beginning with "G" or
// "M" counts as one, and fields end at a tab or a line feed.
enum class SlotLine { kRow, kOrderLine };

// A slot field as read, before any range check.
struct SlotField {
    bool present = false;   // the text held the field
    bool complete = false;  // ... and, after "G", the submix number
    bool master = false;    // the field named the master ("M")
    int64_t slot = 0;       // the slot named, or kNoSlot
};
// The slot of a number too large for an int: out of every slot range.
constexpr int64_t kNoSlot = -1;

// Reads the slot field that follows a code: a channel number, "G" and a submix
// number n (slot 127 + n), or "M" (slot 0). A number is read in full: one beyond
// the int range is out of range (kNoSlot), never wrapped to a small slot. Text
// where a number belongs reads as 0; so does a missing submix number (slot 127).
SlotField ReadSlot(Tokens& tokens, SlotLine line);

// The slot of a level or effect row: one outside 0..135 becomes 135, with the
// channel-range message.
int RowSlot(const SlotField& field);

// Reads the slot field of a level row; *master is set when it names "M". A
// missing field is slot 0.
int ReadSlotField(Tokens& tokens, bool* master = nullptr);

// Range clamps of the cue-sheet readers; a code they do not know leaves the value.
// Code 1: a channel below 0 or above 135 becomes 135, with its message.
int checkValI(int value, int code);
// Code 10: at least 1, then at most 2 x ref. Code 11: at least 10, then at most 5 x ref.
int64_t checkValL(int64_t value, int code, double ref);
// Code 12: 1..50. Code 20: 1..ref/2. Code 21: -15..15. Code 22: 0.01..100.
double checkValD(double value, int code, double ref);
// Code 100: 0..100.
float checkValF(float value, int code);
