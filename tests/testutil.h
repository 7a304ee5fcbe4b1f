// Helpers shared by the tests: a temporary directory, files, WAV files written
// by the tests themselves, and running a built program in a directory.
#pragma once
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace testutil {

// A fresh directory under the system's temporary directory, removed afterwards.
class TempDir {
public:
    TempDir()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "cvtestXXXXXX").string();
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        path_ = ::mkdtemp(buf.data());
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream f(path, std::ios::binary);
    f << text;
}

inline std::string ReadBytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

inline void PutLE(std::string& out, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// A canonical 44-byte-header WAV of integer samples (16 or 24 bits), interleaved.
inline std::string MakeWav(int channels, int bits, uint32_t rate, const std::vector<int32_t>& samples)
{
    const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * (bits / 8));
    std::string out = "RIFF";
    PutLE(out, dataBytes + 36, 4);
    out += "WAVEfmt ";
    PutLE(out, 16, 4);
    PutLE(out, 1, 2);
    PutLE(out, static_cast<uint64_t>(channels), 2);
    PutLE(out, rate, 4);
    PutLE(out, static_cast<uint64_t>(rate) * channels * (bits / 8), 4);
    PutLE(out, static_cast<uint64_t>(channels * bits / 8), 2);
    PutLE(out, static_cast<uint64_t>(bits), 2);
    out += "data";
    PutLE(out, dataBytes, 4);
    for (int32_t s : samples) PutLE(out, static_cast<uint32_t>(s), bits / 8);
    return out;
}

// A 32-bit float WAV (format tag 3).
inline std::string MakeFloatWav(int channels, uint32_t rate, const std::vector<float>& samples)
{
    const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 4);
    std::string out = "RIFF";
    PutLE(out, dataBytes + 36, 4);
    out += "WAVEfmt ";
    PutLE(out, 16, 4);
    PutLE(out, 3, 2);
    PutLE(out, static_cast<uint64_t>(channels), 2);
    PutLE(out, rate, 4);
    PutLE(out, static_cast<uint64_t>(rate) * channels * 4, 4);
    PutLE(out, static_cast<uint64_t>(channels * 4), 2);
    PutLE(out, 32, 2);
    out += "data";
    PutLE(out, dataBytes, 4);
    for (float s : samples) {
        uint32_t bitsOf;
        std::memcpy(&bitsOf, &s, 4);
        PutLE(out, bitsOf, 4);
    }
    return out;
}

// Signed little-endian sample k (of width bytes) from raw bytes.
inline int64_t SampleAt(const std::string& bytes, size_t offset, int width)
{
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) v |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[offset + i])) << (8 * i);
    const uint64_t sign = 1ULL << (8 * width - 1);
    if (v & sign) v |= ~((sign << 1) - 1);
    return static_cast<int64_t>(v);
}

struct RunResult {
    int status = -1;
    std::string out;
};

// Runs `command` (a program path and its arguments) in dir with stdinText as its
// standard input; captures standard output and, separately, whether anything
// reached standard error (which the programs never write to).
inline RunResult RunIn(const std::string& dir, const std::string& command,
                       const std::string& stdinText = "", std::string* errText = nullptr)
{
    const std::string in = dir + "/.stdin", err = dir + "/.stderr";
    WriteText(in, stdinText);
    const std::string full = "cd '" + dir + "' && " + command + " < '" + in + "' 2> '" + err + "'";
    RunResult r;
    std::FILE* p = ::popen(full.c_str(), "r");
    if (p == nullptr) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int rc = ::pclose(p);
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    if (errText) *errText = ReadBytes(err);
    std::remove(in.c_str());
    std::remove(err.c_str());
    return r;
}

// Runs fn on a thread and waits up to `seconds` for it to return. Should fn be
// blocked on the FIFO at fifo, the FIFO is then opened for writing without
// blocking and closed again until fn returns (which releases a reader waiting
// in open() or read()), so a test fails instead of hanging. True when fn
// returned in time.
inline bool ReturnsWithin(double seconds, const std::string& fifo, const std::function<void()>& fn)
{
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    std::thread worker([&] {
        fn();
        done.set_value();
    });
    const bool inTime = finished.wait_for(std::chrono::duration<double>(seconds)) == std::future_status::ready;
    while (finished.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    }
    worker.join();
    return inTime;
}

}  // namespace testutil
