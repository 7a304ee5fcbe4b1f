#include "corvale/run/text.h"

#include <climits>
#include <cmath>

#include "corvale/run/console.h"
#include "corvale/run/limits.h"
#include "corvale/run/numeric.h"

Tokens::Tokens(const char* text)
{
    const size_t n = text ? std::strlen(text) : 0;
    buf_.assign(text, text + n);
    buf_.push_back('\0');
}

const char* Tokens::Next(const char* delims)
{
    char* s = buf_.data() + pos_;
    s += std::strspn(s, delims);
    if (*s == '\0') {
        pos_ = static_cast<size_t>(s - buf_.data());
        ended_ = '\0';
        return nullptr;
    }
    char* token = s;
    char* stop = std::strpbrk(token, delims);
    if (stop == nullptr) {
        pos_ = static_cast<size_t>(token - buf_.data()) + std::strlen(token);
        ended_ = '\0';
    } else {
        ended_ = *stop;
        *stop = '\0';
        pos_ = static_cast<size_t>(stop - buf_.data()) + 1;
    }
    return token;
}

bool Tokens::MoreOnLine() const
{
    if (ended_ != '\t') return false;
    const char* s = buf_.data() + pos_;
    s += std::strspn(s, "\t ");
    return *s != '\0' && *s != '\n';
}

int pointToLines(char* text, std::vector<char*>& lines)
{
    lines.clear();
    lines.push_back(text);
    int count = 0;
    for (char* p = text; *p != '\0'; ++p) {
        if (*p == '\n') {
            *p = '\0';
            lines.push_back(p + 1);
            ++count;
        }
    }
    return count;
}

void RemoveSpaces(std::string& text)
{
    size_t out = 0;
    for (char c : text)
        if (c != ' ') text[out++] = c;
    text.resize(out);
}

int RemoveExtraString(std::string& text, char c)
{
    size_t out = 0;
    int removed = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == c && out > 0 && text[out - 1] == c) {
            ++removed;
            continue;
        }
        text[out++] = text[i];
    }
    text.resize(out);
    return removed;
}

SlotField ReadSlot(Tokens& tokens, SlotLine line)
{
    const bool row = line == SlotLine::kRow;
    const char* delims = row ? "\t" : "\t\n";
    SlotField f;
    const char* field = tokens.Next(delims);
    if (field == nullptr) return f;
    f.present = true;
    if (row ? std::strcmp(field, "M") == 0 : field[0] == 'M') {
        f.master = true;
        f.complete = true;
        return f;
    }
    const bool submix = row ? std::strcmp(field, "G") == 0 : field[0] == 'G';
    const char* number = submix ? tokens.Next(delims) : field;
    const int64_t base = submix ? 127 : 0;
    f.slot = base;
    if (number == nullptr) return f;
    f.complete = true;
    const long n = AtoL(number);
    f.slot = (n < INT_MIN || n > INT_MAX) ? kNoSlot : base + n;
    return f;
}

int RowSlot(const SlotField& field)
{
    if (field.slot < 0 || field.slot > kValueSlots - 1) return checkValI(-1, 1);
    return static_cast<int>(field.slot);
}

int ReadSlotField(Tokens& tokens, bool* master)
{
    const SlotField f = ReadSlot(tokens, SlotLine::kRow);
    if (f.master && master != nullptr) *master = true;
    return RowSlot(f);
}

int checkValI(int value, int code)
{
    if (code == 1 && (value < 0 || value > 135)) {
        std::fprintf(g_console, ">>Channel number out of range or not specified!\n");
        return 135;
    }
    return value;
}

int64_t checkValL(int64_t value, int code, double ref)
{
    if (code == 10) {
        if (value < 1) value = 1;
        if (static_cast<double>(value) > 2.0 * ref) value = Trunc64(2.0 * ref);
    } else if (code == 11) {
        if (value < 10) value = 10;
        if (static_cast<double>(value) > 5.0 * ref) value = Trunc64(5.0 * ref);
    }
    return value;
}

namespace {
double Clamp(double v, double lo, double hi)
{
    if (std::isnan(v)) return lo;
    if (v < lo) return lo;
    if (v > hi) return hi;
    return v;
}
}  // namespace

double checkValD(double value, int code, double ref)
{
    switch (code) {
    case 12: return Clamp(value, 1.0, 50.0);
    case 20: {
        const double hi = ref / 2.0 < 1.0 ? 1.0 : ref / 2.0;
        return Clamp(value, 1.0, hi);
    }
    case 21: return Clamp(value, -15.0, 15.0);
    case 22: return Clamp(value, 0.01, 100.0);
    default: return value;
    }
}

float checkValF(float value, int code)
{
    if (code == 100) return static_cast<float>(Clamp(value, 0.0, 100.0));
    return value;
}
