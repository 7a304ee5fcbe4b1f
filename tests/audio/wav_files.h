// Helpers shared by the audio and track-list tests: WAV files written byte by
// byte into a private temporary directory, and console capture.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/console_capture.h"

namespace testwav {

using Bytes = std::vector<unsigned char>;

inline void Put(Bytes& b, const char* tag)
{
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(tag[i]));
}
inline void Put16(Bytes& b, uint32_t v) { b.push_back(v & 0xFF); b.push_back((v >> 8) & 0xFF); }
inline void Put32(Bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xFF);
}

struct WavSpec {
    uint32_t tag = 1;
    uint32_t channels = 2;
    uint32_t rate = 48000;
    uint32_t bits = 16;
    bool extensible = false;        // 40-byte format chunk with a sub-format GUID
    uint32_t subFormat = 1;         // code in the GUID's first two bytes: 1 PCM, 3 float
    int64_t fmtBytes = -1;          // format chunk size; -1: 16, or 40 when extensible
    Bytes extraChunk;               // whole chunk placed between "fmt " and "data"
    int64_t claimedDataBytes = -1;  // data size field; -1: the real size
    Bytes samples;
};

inline Bytes Build(const WavSpec& s)
{
    Bytes b;
    const uint32_t align = s.channels * (s.bits / 8);
    Put(b, "RIFF");
    Put32(b, 0);  // not read by the reader
    Put(b, "WAVE");
    Bytes fmt;
    Put16(fmt, s.tag);
    Put16(fmt, s.channels);
    Put32(fmt, s.rate);
    Put32(fmt, s.rate * align);
    Put16(fmt, align);
    Put16(fmt, s.bits);
    if (s.extensible) {
        Put16(fmt, 22);                       // extension size
        Put16(fmt, s.bits);                   // valid bits
        Put32(fmt, s.channels == 1 ? 4 : 3);  // speaker mask
        // The sub-format GUID: the format code, then the fixed remainder.
        Put16(fmt, s.subFormat);
        const unsigned char rest[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        fmt.insert(fmt.end(), rest, rest + 14);
    }
    if (s.fmtBytes >= 0) fmt.resize(static_cast<size_t>(s.fmtBytes), 0);
    Put(b, "fmt ");
    Put32(b, static_cast<uint32_t>(fmt.size()));
    b.insert(b.end(), fmt.begin(), fmt.end());
    if (fmt.size() % 2 == 1) b.push_back(0);
    b.insert(b.end(), s.extraChunk.begin(), s.extraChunk.end());
    Put(b, "data");
    Put32(b, s.claimedDataBytes < 0 ? static_cast<uint32_t>(s.samples.size())
                                    : static_cast<uint32_t>(s.claimedDataBytes));
    b.insert(b.end(), s.samples.begin(), s.samples.end());
    return b;
}

// A private directory removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/corvale_wavXXXXXX";
        const char* d = mkdtemp(tmpl);
        if (d != nullptr) path_ = d;
    }
    ~TempDir()
    {
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

    std::string Write(const std::string& name, const Bytes& bytes) const
    {
        const std::string p = File(name);
        std::FILE* f = std::fopen(p.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (f != nullptr) {
            if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        return p;
    }

    Bytes Read(const std::string& name) const
    {
        Bytes b;
        std::FILE* f = std::fopen(File(name).c_str(), "rb");
        if (f == nullptr) return b;
        int c;
        while ((c = std::fgetc(f)) != EOF) b.push_back(static_cast<unsigned char>(c));
        std::fclose(f);
        return b;
    }

private:
    std::string path_;
};

using Console = ::ConsoleCapture;

}  // namespace testwav
