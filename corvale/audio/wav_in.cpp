#include "corvale/audio/wav_in.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "corvale/run/console.h"
#include "corvale/run/numeric.h"

namespace {

// Chunks are looked for at even byte offsets from 2 up to this one.
constexpr int64_t kLastSearchPos = 131072;
// Bytes read relative to a format chunk's start: its id and size, the fields up
// to the bits per sample and, in an extensible chunk, the first two bytes of
// the sub-format GUID.
constexpr size_t kFmtFieldBytes = 34;
// Header bytes kept in memory: every search position plus the widest field read
// relative to a format chunk found at the last one.
constexpr size_t kHeaderBytes = static_cast<size_t>(kLastSearchPos) + kFmtFieldBytes;

constexpr uint32_t kTagPcm = 1;
constexpr uint32_t kTagFloat = 3;
constexpr uint32_t kTagExtensible = 0xFFFE;
// An extensible format chunk carries its sub-format GUID from byte 24 of its
// payload on, so it is at least 40 bytes long.
constexpr uint32_t kExtensibleFmtSize = 40;

uint32_t Assem2(const unsigned char* b) { return uint32_t(b[0]) | (uint32_t(b[1]) << 8); }

uint32_t Assem4(const unsigned char* b)
{
    return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

// First even position 2..131072 whose bytes equal tag, or -1.
int64_t FindTag(const std::vector<unsigned char>& head, size_t got, const char* tag, size_t len)
{
    for (int64_t pos = 2; pos <= kLastSearchPos; pos += 2) {
        const size_t p = static_cast<size_t>(pos);
        if (p + len > got) return -1;
        if (std::memcmp(head.data() + p, tag, len) == 0) return pos;
    }
    return -1;
}

// Follows the chunk list from byte 12: a 4-byte id, a little-endian 32-bit
// payload size, the payload and a pad byte after an odd size. The RIFF size is
// not consulted; the walk ends at the first chunk header that does not start at
// or before the last search position or is not wholly among the bytes read.
// Sets fmt and data to the first "fmt " and "data" chunks and returns true when
// both were reached.
bool WalkChunks(const std::vector<unsigned char>& head, size_t got, int64_t& fmt, int64_t& data)
{
    int64_t f = -1, d = -1;
    for (int64_t pos = 12; pos <= kLastSearchPos && static_cast<size_t>(pos) + 8 <= got;) {
        const unsigned char* chunk = head.data() + pos;
        if (f < 0 && std::memcmp(chunk, "fmt ", 4) == 0) f = pos;
        if (d < 0 && std::memcmp(chunk, "data", 4) == 0) d = pos;
        if (f >= 0 && d >= 0) {
            fmt = f;
            data = d;
            return true;
        }
        const uint32_t size = Assem4(chunk + 4);
        pos += 8 + static_cast<int64_t>(size) + static_cast<int64_t>(size & 1);
    }
    return false;
}

// The sample coding a format chunk at p declares: its format tag and, for an
// extensible chunk long enough to carry one, the sub-format code (the first two
// bytes of the sub-format GUID, which use the format tag's codes).
struct Coding {
    uint32_t tag = 0;
    bool hasSubFormat = false;
    uint32_t subFormat = 0;

    bool Is(uint32_t code) const { return tag == code || (hasSubFormat && subFormat == code); }
};

Coding ReadCoding(const std::vector<unsigned char>& head, size_t got, size_t p)
{
    Coding c;
    c.tag = Assem2(head.data() + p + 8);
    if (c.tag == kTagExtensible && Assem4(head.data() + p + 4) >= kExtensibleFmtSize && p + kFmtFieldBytes <= got) {
        c.hasSubFormat = true;
        c.subFormat = Assem2(head.data() + p + 32);
    }
    return c;
}

int Reject(std::FILE* f) { std::fclose(f); return 0; }

}  // namespace

std::FILE* OpenTrackFile(const char* path, TrackOpen& result)
{
    result = TrackOpen::kCannotOpen;
    // Looked at before the open, so a device (whose open alone can act) is not
    // even opened; the open file is looked at again, as the path may have been
    // replaced in between.
    struct stat st {};
    if (::stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        result = TrackOpen::kNotRegular;
        return nullptr;
    }
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        result = TrackOpen::kNotRegular;
        return nullptr;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* f = ::fdopen(fd, "rb");
    if (f == nullptr) {
        ::close(fd);
        return nullptr;
    }
    result = TrackOpen::kOpened;
    return f;
}

int GET_ATTRIBUTES(int channel, const char* path, WavInfo& info)
{
    (void)channel;
    info = WavInfo{};
    TrackOpen opened;
    std::FILE* f = OpenTrackFile(path, opened);
    if (opened == TrackOpen::kNotRegular) {
        std::fprintf(g_console, "%s is not a regular file and cannot be used\n", path);
        return 0;
    }
    if (f == nullptr) {
        const int err = errno;
        std::fprintf(g_console, "Cannot find file in track list called %s!!\n", path);
        PrintFileReason(path, err);
        return 0;
    }

    std::vector<unsigned char> head(kHeaderBytes);
    const size_t got = std::fread(head.data(), 1, head.size(), f);
    if (std::ferror(f)) {
        std::fprintf(g_console, "Cannot read file in track list called %s!!\n", path);
        return Reject(f);
    }

    // The chunk list when it leads to both chunks; otherwise the first even
    // positions whose bytes read "fmt" and "data", so a file whose list cannot
    // be followed plays as it always has.
    int64_t p = -1, q = -1;
    if (!WalkChunks(head, got, p, q)) {
        p = FindTag(head, got, "fmt", 3);
        q = FindTag(head, got, "data", 4);
    }
    if (p < 0) {
        std::fprintf(g_console, "Can't find format chunk in wave file!\n");
        std::fprintf(g_console, "  in %s\n", path);
        return Reject(f);
    }
    const size_t fp = static_cast<size_t>(p);
    if (fp + 24 > got) {
        std::fprintf(g_console, "%s has a truncated format chunk and cannot be used\n", path);
        return Reject(f);
    }
    const Coding coding = ReadCoding(head, got, fp);
    const uint32_t channels = Assem2(head.data() + fp + 10);
    const uint32_t rate = Assem4(head.data() + fp + 12);
    const uint32_t bits = Assem2(head.data() + fp + 22);

    if (bits != 16 && bits != 24 && bits != 32) {
        std::fprintf(g_console, "%s is not a 32 float, 24 bit pcm, or 16 bit pcm file and cannot be used\n",
                     path);
        return Reject(f);
    }
    if (bits == 32 && !coding.Is(kTagFloat)) {
        std::fprintf(g_console, "\n%s is not a 32 bit floating point format\n", path);
        return Reject(f);
    }
    if (channels != 1 && channels != 2) {
        std::fprintf(g_console, "%s has %u channels; only mono and stereo files can be used\n", path,
                     channels);
        return Reject(f);
    }
    if (rate == 0) {
        std::fprintf(g_console, "%s has a sample rate of 0 and cannot be used\n", path);
        return Reject(f);
    }
    const int bytesPerSample = static_cast<int>(bits / 8);

    if (q < 0) {
        std::fprintf(g_console, "Cannot find data block in file %s!\n", path);
        return Reject(f);
    }
    const int64_t dataStart = q + 8;
    if (static_cast<size_t>(dataStart) > got) {
        std::fprintf(g_console, "%s has a truncated data chunk and cannot be used\n", path);
        return Reject(f);
    }
    const uint32_t dataSize = Assem4(head.data() + q + 4);

    const int64_t frameBytes = static_cast<int64_t>(channels) * bytesPerSample;
    int64_t frames = static_cast<int64_t>(dataSize) / frameBytes;
    if (std::fseek(f, 0, SEEK_END) != 0) {
        std::fprintf(g_console, "Cannot read file in track list called %s!!\n", path);
        return Reject(f);
    }
    const long length = std::ftell(f);
    if (length < 0) {
        std::fprintf(g_console, "Cannot read file in track list called %s!!\n", path);
        return Reject(f);
    }

    // 16 and 24 bits must be integer PCM. Tested last, so a file refused for
    // any other reason keeps that reason's message.
    if (bits != 32 && !coding.Is(kTagPcm)) {
        if (coding.hasSubFormat)
            std::fprintf(g_console, "%s has format tag 0x%04X with sub-format 0x%04X and cannot be used\n", path,
                         static_cast<unsigned>(coding.tag), static_cast<unsigned>(coding.subFormat));
        else
            std::fprintf(g_console, "%s has format tag 0x%04X and cannot be used\n", path,
                         static_cast<unsigned>(coding.tag));
        return Reject(f);
    }

    const int64_t present = (static_cast<int64_t>(length) - dataStart) / frameBytes;
    info.declaredFrames = frames;
    if (present < frames) frames = present;
    std::fclose(f);

    info.channels = static_cast<int>(channels);
    info.dataStart = dataStart;
    info.sampleRate = rate;
    info.frames = frames;
    info.bytesPerSample = bytesPerSample;
    info.bits = static_cast<int>(bits);
    return 1;
}

int64_t Float32Convert(int b0, int b1, int b2, int b3)
{
    const uint32_t word = uint32_t(b0 & 0xFF) | (uint32_t(b1 & 0xFF) << 8) | (uint32_t(b2 & 0xFF) << 16) |
                          (uint32_t(b3 & 0xFF) << 24);
    const int e = static_cast<int>((word >> 23) & 0xFF);
    // Infinities and NaN carry no level: they play as silence.
    if (e == 255) return 0;
    // Mantissa bits weighted 2^0 .. 2^-22 (exact in double), the leading one
    // always assumed; every step below is exact, so only the truncation rounds.
    const double m = std::ldexp(static_cast<double>(word & 0x7FFFFF), -22);
    double v = std::ldexp(m + 2.0, e - 105);
    if (word & 0x80000000u) v = -v;
    return Trunc64(v);
}

namespace {

inline int64_t Pcm16(const unsigned char* b)
{
    return static_cast<int64_t>(static_cast<signed char>(b[1])) * 65536 + static_cast<int64_t>(b[0]) * 256;
}

inline int64_t Pcm24(const unsigned char* b)
{
    return static_cast<int64_t>(static_cast<signed char>(b[2])) * 65536 + static_cast<int64_t>(b[1]) * 256 +
           static_cast<int64_t>(b[0]);
}

inline int64_t Float32(const unsigned char* b) { return Float32Convert(b[0], b[1], b[2], b[3]); }

template <int64_t (*Conv)(const unsigned char*), int Bytes>
void DecodeStereo(const unsigned char* raw, int64_t frames, int64_t* left, int64_t* right)
{
    for (int64_t i = 0; i < frames; ++i, raw += 2 * Bytes) {
        left[i] = Conv(raw);
        right[i] = Conv(raw + Bytes);
    }
}

template <int64_t (*Conv)(const unsigned char*), int Bytes>
void DecodeBoth(const unsigned char* raw, int64_t frames, int64_t* left, int64_t* right)
{
    for (int64_t i = 0; i < frames; ++i, raw += Bytes) left[i] = right[i] = Conv(raw);
}

template <int64_t (*Conv)(const unsigned char*), int Bytes>
void DecodeOne(const unsigned char* raw, int64_t frames, int64_t* out)
{
    for (int64_t i = 0; i < frames; ++i, raw += Bytes) out[i] = Conv(raw);
}

template <int64_t (*Conv)(const unsigned char*), int Bytes, int Channels>
void DecodeDouble(const unsigned char* raw, int64_t frames, double* left, double* right)
{
    for (int64_t i = 0; i < frames; ++i, raw += Channels * Bytes) {
        const int64_t l = Conv(raw);
        left[i] = static_cast<double>(l);
        right[i] = static_cast<double>(Channels == 2 ? Conv(raw + Bytes) : l);
    }
}

}  // namespace

void DecodeFramesToDouble(const unsigned char* raw, int64_t frames, int channels, int bytesPerSample,
                          double* left, double* right)
{
    if (frames <= 0) return;
    if (channels == 2) {
        switch (bytesPerSample) {
        case 2: DecodeDouble<Pcm16, 2, 2>(raw, frames, left, right); break;
        case 3: DecodeDouble<Pcm24, 3, 2>(raw, frames, left, right); break;
        case 4: DecodeDouble<Float32, 4, 2>(raw, frames, left, right); break;
        default: break;
        }
    } else if (channels == 1) {
        switch (bytesPerSample) {
        case 2: DecodeDouble<Pcm16, 2, 1>(raw, frames, left, right); break;
        case 3: DecodeDouble<Pcm24, 3, 1>(raw, frames, left, right); break;
        case 4: DecodeDouble<Float32, 4, 1>(raw, frames, left, right); break;
        default: break;
        }
    }
}

void DecodeFrames(const unsigned char* raw, int64_t frames, int channels, int bytesPerSample,
                  int64_t* left, int64_t* right)
{
    if (channels == 2) {
        switch (bytesPerSample) {
        case 2: DecodeStereo<Pcm16, 2>(raw, frames, left, right); break;
        case 3: DecodeStereo<Pcm24, 3>(raw, frames, left, right); break;
        case 4: DecodeStereo<Float32, 4>(raw, frames, left, right); break;
        default: break;
        }
    } else if (channels == 1) {
        switch (bytesPerSample) {
        case 2: DecodeBoth<Pcm16, 2>(raw, frames, left, right); break;
        case 3: DecodeBoth<Pcm24, 3>(raw, frames, left, right); break;
        case 4: DecodeBoth<Float32, 4>(raw, frames, left, right); break;
        default: break;
        }
    }
}

void DecodeMono(const unsigned char* raw, int64_t frames, int bytesPerSample, int64_t* out)
{
    switch (bytesPerSample) {
    case 2: DecodeOne<Pcm16, 2>(raw, frames, out); break;
    case 3: DecodeOne<Pcm24, 3>(raw, frames, out); break;
    case 4: DecodeOne<Float32, 4>(raw, frames, out); break;
    default: break;
    }
}
