// Text helpers of the adjuster: the tokens of a cue sheet as strtok reads them,
// and the clean-up of Windows line endings and a byte-order mark.
#pragma once
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace quenby {

// Tokens of a private copy of a text (up to its first NUL), read as strtok reads
// them with a delimiter set per call.
class Tokens {
public:
    explicit Tokens(const std::string& text) : buf_(text.c_str(), text.c_str() + std::strlen(text.c_str()) + 1) {}
    const char* Next(const char* delims)
    {
        char* s = buf_.data() + pos_;
        s += std::strspn(s, delims);
        if (*s == '\0') {
            pos_ = static_cast<size_t>(s - buf_.data());
            return nullptr;
        }
        char* stop = std::strpbrk(s, delims);
        if (stop == nullptr) {
            pos_ = static_cast<size_t>(s - buf_.data()) + std::strlen(s);
        } else {
            *stop = '\0';
            pos_ = static_cast<size_t>(stop - buf_.data()) + 1;
        }
        return s;
    }

private:
    std::vector<char> buf_;
    size_t pos_ = 0;
};

// The text without a leading UTF-8 byte-order mark and with every CR LF pair
// turned into LF; line numbers stay as they were.
inline std::string WithPlainLineEnds(const std::string& text)
{
    const size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    std::string out;
    out.reserve(text.size() - start);
    for (size_t i = start; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out.push_back(text[i]);
    }
    return out;
}

}  // namespace quenby
