#include "corvale/audio/wav_out.h"

#include <cmath>
#include <cstdio>

#include "corvale/run/console.h"
#include "corvale/run/limits.h"
#include "corvale/run/numeric.h"

namespace {

// Four little-endian bytes of a value; only its low 32 bits reach the file.
void Decon4(uint64_t value, unsigned char* bytes)
{
    value &= 0xFFFFFFFFu;
    bytes[3] = static_cast<unsigned char>(value / 16777216);
    value %= 16777216;
    bytes[2] = static_cast<unsigned char>(value / 65536);
    value %= 65536;
    bytes[1] = static_cast<unsigned char>(value / 256);
    bytes[0] = static_cast<unsigned char>(value % 256);
}

void Decon2(uint64_t value, unsigned char* bytes)
{
    bytes[0] = static_cast<unsigned char>(value & 0xFF);
    bytes[1] = static_cast<unsigned char>((value >> 8) & 0xFF);
}

inline int64_t Clamp(int64_t v, int64_t lo, int64_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

inline void Put16(int64_t w, unsigned char* out)
{
    const uint32_t u = static_cast<uint32_t>(Clamp(w, -32768, 32767));
    out[0] = static_cast<unsigned char>(u & 0xFF);
    out[1] = static_cast<unsigned char>((u >> 8) & 0xFF);
}

inline void Put24(int64_t w, unsigned char* out)
{
    const uint32_t u = static_cast<uint32_t>(Clamp(w, -8388608, 8388607));
    out[0] = static_cast<unsigned char>(u & 0xFF);
    out[1] = static_cast<unsigned char>((u >> 8) & 0xFF);
    out[2] = static_cast<unsigned char>((u >> 16) & 0xFF);
}

// Stereo output without dither: words (the master divided by Shift toward zero),
// output peaks and packing in one pass, the divisor a constant.
template <int64_t Shift>
void StereoPlain(int64_t songPos, int64_t n, const int64_t* left, const int64_t* right, double& peakL,
                 int64_t& frameL, double& peakR, int64_t& frameR, unsigned char* out)
{
    double pl = peakL, pr = peakR;
    int64_t fl = frameL, fr = frameR;
    for (int64_t i = 0; i < n; ++i) {
        const int64_t wl = left[i] / Shift;
        const int64_t wr = right[i] / Shift;
        const double al = std::fabs(static_cast<double>(wl));
        const double ar = std::fabs(static_cast<double>(wr));
        if (al > pl) {
            pl = al;
            fl = songPos + i;
        }
        if (ar > pr) {
            pr = ar;
            fr = songPos + i;
        }
        if constexpr (Shift == 65536) {
            Put16(wl, out + 4 * i);
            Put16(wr, out + 4 * i + 2);
        } else {
            Put24(wl, out + 6 * i);
            Put24(wr, out + 6 * i + 3);
        }
    }
    peakL = pl;
    peakR = pr;
    frameL = fl;
    frameR = fr;
}

// The RIFF size field (data size + 36) is 32 bits wide.
constexpr uint64_t kMaxRiffSize = 0xFFFFFFFFu;

}  // namespace

int64_t MaxWavFrames(int bits, int channels)
{
    const int64_t blockAlign = static_cast<int64_t>(channels) * (bits / 8);
    if (blockAlign <= 0) return 0;
    return static_cast<int64_t>((kMaxRiffSize - 36) / static_cast<uint64_t>(blockAlign));
}

bool MAKE_HEADER(std::FILE* out, const char* name, uint64_t sampleRate, int bits, int channels, int64_t frames)
{
    const int64_t maxFrames = MaxWavFrames(bits, channels);
    if (frames < 0 || frames > maxFrames) {
        std::fprintf(g_console,
                     "Error: a %i-bit file with %i channel(s) holds at most %li frames; "
                     "%li frames cannot be written to %s\n",
                     bits, channels, static_cast<long>(maxFrames), static_cast<long>(frames), name);
        return false;
    }
    const uint64_t dataSize = static_cast<uint64_t>(bits / 8) * static_cast<uint64_t>(channels) *
                              static_cast<uint64_t>(frames);
    const uint64_t byteRate = static_cast<uint64_t>(bits / 8) * sampleRate * static_cast<uint64_t>(channels);
    const uint64_t blockAlign = static_cast<uint64_t>(channels) * static_cast<uint64_t>(bits) / 8;

    unsigned char h[44];
    unsigned char* p = h;
    auto tag = [&p](const char* s) { for (int i = 0; i < 4; ++i) *p++ = static_cast<unsigned char>(s[i]); };
    auto four = [&p](uint64_t v) { Decon4(v, p); p += 4; };
    auto two = [&p](uint64_t v) { Decon2(v, p); p += 2; };
    tag("RIFF");
    four(dataSize + 36);
    tag("WAVE");
    tag("fmt ");
    four(16);
    two(1);
    two(static_cast<uint64_t>(channels));
    four(sampleRate);
    four(byteRate);
    two(blockAlign);
    two(static_cast<uint64_t>(bits));
    tag("data");
    four(dataSize);

    return std::fwrite(h, 1, sizeof h, out) == sizeof h;
}

void NUM16STER_TO_CHAR(const int32_t* left, const int32_t* right, unsigned char* out, int64_t frames)
{
    for (int64_t i = 0; i < frames; ++i, out += 4) {
        Put16(left[i], out);
        Put16(right[i], out + 2);
    }
}

void NUM24STER_TO_CHAR(const int64_t* left, const int64_t* right, unsigned char* out, int64_t frames)
{
    for (int64_t i = 0; i < frames; ++i, out += 6) {
        Put24(left[i], out);
        Put24(right[i], out + 3);
    }
}

void NUM16MONO_TO_CHAR(const int32_t* words, unsigned char* out, int64_t frames)
{
    for (int64_t i = 0; i < frames; ++i, out += 2) Put16(words[i], out);
}

void NUM24MONO_TO_CHAR(const int64_t* words, unsigned char* out, int64_t frames)
{
    for (int64_t i = 0; i < frames; ++i, out += 3) Put24(words[i], out);
}

OutputStage::OutputStage(const OutputFormat& fmt, RandomSource rnd)
    : fmt_(fmt), rnd_(std::move(rnd)),
      mono_(static_cast<size_t>(kBlockFrames)), words24L_(static_cast<size_t>(kBlockFrames)),
      words24R_(static_cast<size_t>(kBlockFrames)), words16L_(static_cast<size_t>(kBlockFrames)),
      words16R_(static_cast<size_t>(kBlockFrames)), bytes_(static_cast<size_t>(6 * kBlockFrames))
{
    if (fmt_.bits != 16) fmt_.bits = 24;
    if (fmt_.dither < 0) fmt_.dither = 0;
    if (fmt_.dither > 8) fmt_.dither = 8;
    if (fmt_.dither > 0) {
        ditherOffset_ = int64_t{1} << (fmt_.dither - 1);
        ditherModulus_ = (1 << fmt_.dither) + 1;
    }
    shift_ = fmt_.bits == 16 ? 65536 : 256;
}

int64_t OutputStage::Noise()
{
    const int r = rnd_();
    return (ditherOffset_ - static_cast<int64_t>(r % ditherModulus_)) * shift_;
}

void OutputStage::Peak(int64_t word, int64_t frame, double& peak, int64_t& peakFrame)
{
    const double a = std::fabs(static_cast<double>(word));
    if (a > peak) {
        peak = a;
        peakFrame = frame;
    }
}

const unsigned char* OutputStage::Convert(int64_t songPos, int64_t n, int64_t* left, int64_t* right,
                                          int64_t& bytes)
{
    if (n < 0) n = 0;
    if (n > kBlockFrames) n = kBlockFrames;
    for (int64_t i = 0; i < n && !heard_; ++i) heard_ = (left[i] | right[i]) != 0;
    const bool dither = fmt_.dither > 0;
    const bool sixteen = fmt_.bits == 16;

    if (!fmt_.mono && !dither) {
        // 16-bit words clamp to 32 bits and then to 16 bits when packed, which is
        // one clamp to 16 bits.
        if (sixteen)
            StereoPlain<65536>(songPos, n, left, right, peaks_.left, peaks_.leftFrame, peaks_.right,
                               peaks_.rightFrame, bytes_.data());
        else
            StereoPlain<256>(songPos, n, left, right, peaks_.left, peaks_.leftFrame, peaks_.right,
                             peaks_.rightFrame, bytes_.data());
        bytes = n * (sixteen ? 4 : 6);
        return bytes_.data();
    }
    if (!fmt_.mono) {
        for (int64_t i = 0; i < n; ++i) {
            if (dither) {
                left[i] += Noise();
                right[i] += Noise();
            }
            const int64_t wl = left[i] / shift_;
            const int64_t wr = right[i] / shift_;
            Peak(wl, songPos + i, peaks_.left, peaks_.leftFrame);
            Peak(wr, songPos + i, peaks_.right, peaks_.rightFrame);
            if (sixteen) {
                words16L_[static_cast<size_t>(i)] = static_cast<int32_t>(Clamp(wl, INT32_MIN, INT32_MAX));
                words16R_[static_cast<size_t>(i)] = static_cast<int32_t>(Clamp(wr, INT32_MIN, INT32_MAX));
            } else {
                words24L_[static_cast<size_t>(i)] = wl;
                words24R_[static_cast<size_t>(i)] = wr;
            }
        }
        if (sixteen)
            NUM16STER_TO_CHAR(words16L_.data(), words16R_.data(), bytes_.data(), n);
        else
            NUM24STER_TO_CHAR(words24L_.data(), words24R_.data(), bytes_.data(), n);
        bytes = n * (sixteen ? 4 : 6);
        return bytes_.data();
    }

    const double g = static_cast<double>(fmt_.monoGain);
    for (int64_t i = 0; i < n; ++i) {
        int64_t m = Trunc64(static_cast<double>(left[i]) * g + static_cast<double>(right[i]) * g);
        if (dither) m += Noise();
        mono_[static_cast<size_t>(i)] = m;
        const int64_t w = m / shift_;
        Peak(w, songPos + i, peaks_.left, peaks_.leftFrame);
        peaks_.right = peaks_.left;
        peaks_.rightFrame = peaks_.leftFrame;
        if (sixteen)
            words16L_[static_cast<size_t>(i)] = static_cast<int32_t>(Clamp(w, INT32_MIN, INT32_MAX));
        else
            words24L_[static_cast<size_t>(i)] = w;
    }
    if (sixteen)
        NUM16MONO_TO_CHAR(words16L_.data(), bytes_.data(), n);
    else
        NUM24MONO_TO_CHAR(words24L_.data(), bytes_.data(), n);
    bytes = n * (sixteen ? 2 : 3);
    return bytes_.data();
}
