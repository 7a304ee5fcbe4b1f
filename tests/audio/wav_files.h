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
    bool extensible = false;        // 40-byte format chunk
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
    Put(b, "fmt ");
    Put32(b, s.extensible ? 40 : 16);
    Put16(b, s.tag);
    Put16(b, s.channels);
    Put32(b, s.rate);
    Put32(b, s.rate * align);
    Put16(b, align);
    Put16(b, s.bits);
    if (s.extensible) {
        Put16(b, 22);
        Put16(b, s.bits);
        Put32(b, 3);
        for (int i = 0; i < 16; ++i) b.push_back(static_cast<unsigned char>(i));
    }
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
