// Small helpers shared by the fuzz targets: a scratch directory made once per
// process and WAV files written into it.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fuzzutil {

// A directory made once for the whole fuzzing process, removed when it exits.
inline const std::string& ScratchDir()
{
    // The name also lives in a plain array: the exit handler runs after the
    // string has been destroyed.
    static char made[] = "/tmp/corvale_fuzz_XXXXXX";
    static const std::string dir = [] {
        if (::mkdtemp(made) == nullptr) std::abort();
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(made, ec);
        });
        return std::string(made);
    }();
    return dir;
}

inline void PutLE(std::string& out, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// A canonical WAV file: format 1 (integer) or 3 (float), frames of a ramp.
inline std::string MakeWav(int format, int channels, int bits, uint32_t rate, int frames)
{
    const uint32_t dataBytes = static_cast<uint32_t>(frames * channels * (bits / 8));
    std::string out = "RIFF";
    PutLE(out, dataBytes + 36, 4);
    out += "WAVEfmt ";
    PutLE(out, 16, 4);
    PutLE(out, static_cast<uint64_t>(format), 2);
    PutLE(out, static_cast<uint64_t>(channels), 2);
    PutLE(out, rate, 4);
    PutLE(out, static_cast<uint64_t>(rate) * channels * (bits / 8), 4);
    PutLE(out, static_cast<uint64_t>(channels * bits / 8), 2);
    PutLE(out, static_cast<uint64_t>(bits), 2);
    out += "data";
    PutLE(out, dataBytes, 4);
    for (int i = 0; i < frames * channels; ++i) {
        if (format == 3) {
            const float v = static_cast<float>((i % 200) - 100) / 100.0f;
            uint32_t b;
            std::memcpy(&b, &v, 4);
            PutLE(out, b, 4);
        } else {
            PutLE(out, static_cast<uint64_t>(static_cast<int64_t>((i % 512) - 256) * 97), bits / 8);
        }
    }
    return out;
}

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// A read stream over a copy of text (fmemopen needs at least one byte).
struct MemStream {
    std::string copy;
    std::FILE* f = nullptr;
    explicit MemStream(const std::string& text) : copy(text)
    {
        if (copy.empty()) f = std::tmpfile();
        else f = ::fmemopen(copy.data(), copy.size(), "r");
        if (f == nullptr) std::abort();
    }
    ~MemStream() { std::fclose(f); }
};

// Splits data at form feeds into at most parts pieces (missing pieces are empty).
inline std::vector<std::string> Split(const uint8_t* data, size_t size, size_t parts)
{
    std::vector<std::string> out(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\f' && out.size() < parts) out.emplace_back();
        else out.back().push_back(static_cast<char>(data[i]));
    }
    out.resize(parts);
    return out;
}

}  // namespace fuzzutil
