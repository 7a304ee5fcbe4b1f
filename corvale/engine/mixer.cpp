// The mix loop: per block the VCA curves, the channel stage (read, decode, delay
// pan, strip, effects gain and clip test, fader, peaks, routing, sends), the bus
// stage (submix faders and strips, submix sums and sends, reverbs, master) and
// the output stage (conversion, RMS, packing, writing, stems, tap file, progress).
// Everything a block needs is allocated once in MixEngine before the first block.
#include "corvale/engine/mixer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "corvale/audio/wav_in.h"
#include "corvale/audio/wav_out.h"
#include "corvale/cuesheet/pan.h"
#include "corvale/cuesheet/playback.h"
#include "corvale/effects/dynamics.h"
#include "corvale/effects/reverb.h"
#include "corvale/effects/strip.h"
#include "corvale/engine/meter_thread.h"
#include "corvale/run/console.h"
#include "corvale/run/numeric.h"
#include "corvale/run/process.h"
#include "corvale/run/run.h"

namespace {

constexpr int64_t kB = kBlockFrames;
constexpr double kChannelDivisor = 524288.0;    // 2^19: fader unity lifts 24-bit scale to bus scale
constexpr double kBusDivisor = 134217728.0;     // 2^27: submix and master faders keep the scale
constexpr double kChannelFullScale = 8388608.0;
constexpr double kBusFullScale = 2147483648.0;

// A stdio stream that closes itself on every return path.
struct Stream {
    std::FILE* f = nullptr;
    std::unique_ptr<char[]> buffer;   // the fully buffered stream's buffer; lives as long as the stream
    bool Open(const char* path, const char* mode, size_t bufferBytes)
    {
        return Adopt(std::fopen(path, mode), bufferBytes);
    }
    // Takes over an open stream (false for none) and gives it its buffer.
    bool Adopt(std::FILE* file, size_t bufferBytes)
    {
        f = file;
        if (f == nullptr) return false;
        const size_t size = bufferBytes > 0 ? bufferBytes : 1;
        buffer.reset(new char[size]);
        std::setvbuf(f, buffer.get(), _IOFBF, size);
        return true;
    }
    // Closes the stream; false when the close (the final flush) failed.
    bool Close()
    {
        if (f == nullptr) return true;
        const int rc = std::fclose(f);
        f = nullptr;
        return rc == 0;
    }
    ~Stream() { Close(); }
};

// Trunc64 with one test on the common path: a value of magnitude below 2^63
// converts directly; NaN and the rest take Trunc64's guarded route.
inline int64_t TruncFast(double x)
{
    return std::fabs(x) < 9223372036854775808.0 ? static_cast<int64_t>(x) : Trunc64(x);
}

// Keeps the larger of peak and |v|.
inline void KeepPeak(int64_t v, double& peak)
{
    const double a = std::fabs(static_cast<double>(v));
    if (a > peak) peak = a;
}

// Adds a frame to the bus (Add) or writes it to the channel buffers.
template <bool Add>
inline void Put(int64_t* outL, int64_t* outR, int64_t i, int64_t l, int64_t r)
{
    if (Add) {
        outL[i] += l;
        outR[i] += r;
    } else {
        outL[i] = l;
        outR[i] = r;
    }
}

// Largest absolute value of n samples kept in peak.
void UpdatePeaks(const int64_t* left, const int64_t* right, int64_t n, double& peakL, double& peakR)
{
    double pl = peakL, pr = peakR;
    for (int64_t i = 0; i < n; ++i) {
        const double al = std::fabs(static_cast<double>(left[i]));
        const double ar = std::fabs(static_cast<double>(right[i]));
        if (al > pl) pl = al;
        if (ar > pr) pr = ar;
    }
    peakL = pl;
    peakR = pr;
}

void UpdatePeaks(const double* left, const double* right, int64_t n, double& peakL, double& peakR)
{
    double pl = peakL, pr = peakR;
    for (int64_t i = 0; i < n; ++i) {
        const double al = std::fabs(left[i]);
        const double ar = std::fabs(right[i]);
        if (al > pl) pl = al;
        if (ar > pr) pr = ar;
    }
    peakL = pl;
    peakR = pr;
}

// Effects gain (when not exactly 1.0, or always when forced), the clip test while
// the over flag is clear, and truncation back into the integer buffers.
void GainClipTruncate(double* workL, double* workR, int64_t n, double gain, bool forceGain,
                      double fullScale, int& over, int64_t* left, int64_t* right)
{
    if (forceGain || gain != 1.0) {
        for (int64_t i = 0; i < n; ++i) {
            workL[i] *= gain;
            workR[i] *= gain;
        }
    }
    if (over == 0) {
        for (int64_t i = 0; i < n; ++i) {
            if (workL[i] > fullScale || workL[i] < -fullScale || workR[i] > fullScale ||
                workR[i] < -fullScale) {
                over = 1;
                break;
            }
        }
    }
    for (int64_t i = 0; i < n; ++i) {
        left[i] = Trunc64(workL[i]);
        right[i] = Trunc64(workR[i]);
    }
}

// One stored 16-bit or 24-bit sample at 24-bit scale.
template <int Bytes>
inline int64_t PcmSample(const unsigned char* b)
{
    if constexpr (Bytes == 2)
        return static_cast<int64_t>(static_cast<int32_t>((uint32_t{b[0]} << 16) | (uint32_t{b[1]} << 24)) >> 8);
    else
        return static_cast<int64_t>(
            static_cast<int32_t>((uint32_t{b[0]} << 8) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 24)) >> 8);
}

// The four bytes at b as a little-endian word (b may be unaligned; every read
// buffer has room past the last frame).
inline uint32_t Load4(const unsigned char* b)
{
    uint32_t w;
    std::memcpy(&w, b, 4);
    if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap32(w);
    return w;
}

// One stored sample at p at 24-bit scale, times 256: a stored sample s of b bits
// is s * 2^(24 - b) at 24-bit scale, so the result is s * 2^(32 - b), which is
// the sample's bytes shifted to the top of a 32-bit word (the bits below them
// zero) read as a signed number; it always fits in 32 bits.
template <int Bytes>
inline int64_t Sample256(const unsigned char* p)
{
    return static_cast<int64_t>(static_cast<int32_t>(Load4(p) << (32 - 8 * Bytes)));
}

template <int Bytes, int Channels>
inline void Frame256(const unsigned char* p, int64_t& l, int64_t& r)
{
    l = Sample256<Bytes>(p);
    r = Channels == 2 ? Sample256<Bytes>(p + Bytes) : l;
}

// The channel stage of a 16/24-bit channel whose strip does nothing, whose effects
// gain is 1.0 and whose fader gains are steady over the block: decoding, fader
// and peaks in one pass. Such samples lie within -2^23 .. 2^23 - 1, so the double
// copy of the strip, the clip test and the truncation back change nothing, and
// the fader scale (applyL, applyR) is the only arithmetic. With Add the result is
// added to one bus and the frames outside [first, last) are skipped (they are
// silence); otherwise it is written to outL/outR, silence included. Returns the
// block's last input samples for the fader's sign memory.
template <int Bytes, int Channels, bool Unity, bool Add>
void PlainChannel(const unsigned char* raw, int64_t first, int64_t last, int64_t n, double applyL,
                  double applyR, int64_t* outL, int64_t* outR, double& peakL, double& peakR,
                  int64_t& lastInL, int64_t& lastInR)
{
    if (!Add) {
        for (int64_t i = 0; i < first; ++i) outL[i] = outR[i] = 0;
        for (int64_t i = last; i < n; ++i) outL[i] = outR[i] = 0;
    }
    const unsigned char* p = raw;
    if constexpr (Unity) {
        // Unity fader and pan at the channel site: x * 256.0 is exact, so the
        // product is the integer x * 256; the peak is the larger of the largest
        // value and minus the smallest.
        int64_t hiL = 0, loL = 0, hiR = 0, loR = 0;
        for (int64_t i = first; i < last; ++i, p += Channels * Bytes) {
            int64_t l, r;
            Frame256<Bytes, Channels>(p, l, r);
            hiL = l > hiL ? l : hiL;
            loL = l < loL ? l : loL;
            hiR = r > hiR ? r : hiR;
            loR = r < loR ? r : loR;
            Put<Add>(outL, outR, i, l, r);
        }
        const double pl = static_cast<double>(hiL > -loL ? hiL : -loL);
        const double pr = static_cast<double>(hiR > -loR ? hiR : -loR);
        if (pl > peakL) peakL = pl;
        if (pr > peakR) peakR = pr;
    } else {
        double pl = peakL, pr = peakR;
        for (int64_t i = first; i < last; ++i, p += Channels * Bytes) {
            int64_t x, y;
            Frame256<Bytes, Channels>(p, x, y);
            const int64_t l = Trunc64(static_cast<double>(x / 256) * applyL);
            const int64_t r = Trunc64(static_cast<double>(y / 256) * applyR);
            KeepPeak(l, pl);
            KeepPeak(r, pr);
            Put<Add>(outL, outR, i, l, r);
        }
        peakL = pl;
        peakR = pr;
    }
    lastInL = lastInR = 0;
    if (last == n && last > first) {
        const unsigned char* q = raw + (last - 1 - first) * Channels * Bytes;
        lastInL = PcmSample<Bytes>(q);
        lastInR = Channels == 2 ? PcmSample<Bytes>(q + Bytes) : lastInL;
    }
}

template <int Bytes, int Channels>
void PlainChannelFor(bool unity, bool add, const unsigned char* raw, int64_t first, int64_t last, int64_t n,
                     double applyL, double applyR, int64_t* outL, int64_t* outR, double& peakL,
                     double& peakR, int64_t& lastInL, int64_t& lastInR)
{
    if (unity && add)
        PlainChannel<Bytes, Channels, true, true>(raw, first, last, n, applyL, applyR, outL, outR, peakL, peakR, lastInL, lastInR);
    else if (unity)
        PlainChannel<Bytes, Channels, true, false>(raw, first, last, n, applyL, applyR, outL, outR, peakL, peakR, lastInL, lastInR);
    else if (add)
        PlainChannel<Bytes, Channels, false, true>(raw, first, last, n, applyL, applyR, outL, outR, peakL, peakR, lastInL, lastInR);
    else
        PlainChannel<Bytes, Channels, false, false>(raw, first, last, n, applyL, applyR, outL, outR, peakL, peakR, lastInL, lastInR);
}

// After a channel's strip, with steady fader gains: effects gain (Gain), clip
// test, truncation toward zero, fader scale and peaks in one pass, the result
// added to a bus (Add) or written to outL/outR. The clip test looks at every
// frame, which sets the over flag exactly when the frame-by-frame test that
// stops at the first clip would. Returns the block's last fader inputs.
template <bool Gain, bool Add>
void StripTail(const double* wl, const double* wr, int64_t n, double gain, double applyL, double applyR,
               int64_t* outL, int64_t* outR, int& over, double& peakL, double& peakR, int64_t& lastL,
               int64_t& lastR)
{
    double pl = peakL, pr = peakR;
    bool clipped = false;
    int64_t tl = 0, tr = 0;
    for (int64_t i = 0; i < n; ++i) {
        double l = wl[i], r = wr[i];
        if (Gain) {
            l *= gain;
            r *= gain;
        }
        clipped |= (l > kChannelFullScale) | (l < -kChannelFullScale) | (r > kChannelFullScale) |
                   (r < -kChannelFullScale);
        tl = TruncFast(l);
        tr = TruncFast(r);
        const int64_t ol = TruncFast(static_cast<double>(tl) * applyL);
        const int64_t orr = TruncFast(static_cast<double>(tr) * applyR);
        KeepPeak(ol, pl);
        KeepPeak(orr, pr);
        Put<Add>(outL, outR, i, ol, orr);
    }
    if (clipped && over == 0) over = 1;
    peakL = pl;
    peakR = pr;
    lastL = tl;
    lastR = tr;
}

// A lean channel of the block waiting in its read buffer (raw holds frames
// first .. last - 1) to be added to bus `bus`.
struct LeanJob {
    int c = 0, bytes = 0, channels = 0, bus = 0;
    const unsigned char* raw = nullptr;
    int64_t first = 0, last = 0;
    double applyL = 0, applyR = 0;
    bool unity = false;
    int64_t hiL = 0, loL = 0, hiR = 0, loR = 0;   // extremes of the unity products
    double peakL = 0, peakR = 0;                  // running peaks of the others
};

// Frames [a, b) of a lean job added to the bus: the arithmetic of PlainChannel.
template <int Bytes, int Channels, bool Unity>
void LeanRange(LeanJob& job, int64_t a, int64_t b, int64_t* busL, int64_t* busR)
{
    const unsigned char* p = job.raw + (a - job.first) * Channels * Bytes;
    if constexpr (Unity) {
        int64_t hiL = job.hiL, loL = job.loL, hiR = job.hiR, loR = job.loR;
        for (int64_t i = a; i < b; ++i, p += Channels * Bytes) {
            int64_t l, r;
            Frame256<Bytes, Channels>(p, l, r);
            hiL = l > hiL ? l : hiL;
            loL = l < loL ? l : loL;
            hiR = r > hiR ? r : hiR;
            loR = r < loR ? r : loR;
            busL[i] += l;
            busR[i] += r;
        }
        job.hiL = hiL;
        job.loL = loL;
        job.hiR = hiR;
        job.loR = loR;
    } else {
        double pl = job.peakL, pr = job.peakR;
        const double applyL = job.applyL, applyR = job.applyR;
        for (int64_t i = a; i < b; ++i, p += Channels * Bytes) {
            int64_t x, y;
            Frame256<Bytes, Channels>(p, x, y);
            const int64_t l = Trunc64(static_cast<double>(x / 256) * applyL);
            const int64_t r = Trunc64(static_cast<double>(y / 256) * applyR);
            KeepPeak(l, pl);
            KeepPeak(r, pr);
            busL[i] += l;
            busR[i] += r;
        }
        job.peakL = pl;
        job.peakR = pr;
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// LeanRange<3, 2, true> two frames at a time with SSE4.1 (chosen at run time):
// one shuffle puts the four 24-bit samples of two frames at the top of four
// 32-bit lanes (the samples times 256, as in Sample256), which are widened to
// 64 bits and added to the bus; the same integers, the same sums.
__attribute__((target("sse4.1"))) void LeanUnity24Sse41(LeanJob& job, int64_t a, int64_t b, int64_t* busL,
                                                         int64_t* busR)
{
    const unsigned char* p = job.raw + (a - job.first) * 6;
    const __m128i order = _mm_setr_epi8(-1, 0, 1, 2, -1, 6, 7, 8, -1, 3, 4, 5, -1, 9, 10, 11);
    __m128i hi = _mm_setzero_si128(), lo = _mm_setzero_si128();
    int64_t i = a;
    // 16 bytes are loaded for 12: the read buffers have room past the last frame.
    for (; i + 2 <= b; i += 2, p += 12) {
        const __m128i s = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), order);
        hi = _mm_max_epi32(hi, s);
        lo = _mm_min_epi32(lo, s);
        __m128i* l = reinterpret_cast<__m128i*>(busL + i);
        __m128i* r = reinterpret_cast<__m128i*>(busR + i);
        _mm_storeu_si128(l, _mm_add_epi64(_mm_loadu_si128(l), _mm_cvtepi32_epi64(s)));
        _mm_storeu_si128(r, _mm_add_epi64(_mm_loadu_si128(r), _mm_cvtepi32_epi64(_mm_srli_si128(s, 8))));
    }
    alignas(16) int32_t h[4], m[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(h), hi);
    _mm_store_si128(reinterpret_cast<__m128i*>(m), lo);
    job.hiL = std::max<int64_t>({job.hiL, h[0], h[1]});
    job.hiR = std::max<int64_t>({job.hiR, h[2], h[3]});
    job.loL = std::min<int64_t>({job.loL, m[0], m[1]});
    job.loR = std::min<int64_t>({job.loR, m[2], m[3]});
    if (i < b) LeanRange<3, 2, true>(job, i, b, busL, busR);
}
#endif

class MixEngine {
public:
    MixEngine(Run& run, std::FILE* out, std::FILE* tap) : run_(run), out_(out), tap_(tap) {}
    int Mix();

private:
    int OpenStreams();
    void CloseStreams();
    void ChannelStage(int c, int64_t pos, int64_t n);
    bool ChannelGeneral(int c, int64_t pos, int64_t n, int64_t first, int64_t last, bool addable, int bus);
    void FlushLean(int64_t n);
    int BusStage(int64_t pos, int64_t n);
    int RunDiscrete(int64_t n);
    int RunRecursive(int64_t n);
    int OutputStageBlock(int64_t pos, int64_t n);
    void PrepareStems(const OutputFormat& format);
    int StemBlock(int64_t pos, int64_t n);

    Run& run_;
    std::FILE* out_;    // the mix, its header already written
    std::FILE* tap_;    // the tap file (or nullptr), its header already written
    std::vector<std::unique_ptr<Stream>> tracks_;
    std::array<int64_t, kChannelRows> nextByte_{};   // file position after each track's last read; -1 unknown

    // Block buffers, one block each.
    BlockVec<int64_t> chanL_, chanR_, masterL_, masterR_;
    BlockVec<double> workL_, workR_;
    std::vector<BlockVec<int64_t>> subL_, subR_;   // only the submixes that are on
    BlockVec<double> recSendL_, recSendR_, discSendL_, discSendR_;
    BlockVec<int64_t> returnL_, returnR_, carryL_, carryR_;
    BlockVec<int64_t> monoIn_;
    BlockVec<unsigned char> raw_;
    BlockVec<int64_t> tapL_, tapR_;
    BlockVec<unsigned char> tapBytes_;

    // The stems: each bus that enters the master through an output stage of its
    // own, with a dither generator of its own (the mix keeps the C library's).
    struct StemWriter {
        int bus = 0;
        std::FILE* f = nullptr;
        const std::string* name = nullptr;
        std::unique_ptr<OutputStage> stage;
    };
    std::vector<StemWriter> stems_;
    BlockVec<int64_t> stemL_, stemR_;   // a bus copied for a stage that dithers in place

    // Lean channels waiting to be summed (ChannelStage, FlushLean).
    static constexpr int kLeanGroup = 4;
    std::array<BlockVec<unsigned char>, kLeanGroup> leanRaw_;
    std::array<LeanJob, kLeanGroup> jobs_{};
    int pending_ = 0;
#if defined(__x86_64__) && defined(__GNUC__)
    bool sse41_ = __builtin_cpu_supports("sse4.1");
#endif

    // What carries across blocks.
    std::unique_ptr<Playback> playback_;
    std::unique_ptr<DspState> dsp_;
    std::unique_ptr<DelayHistory> delay_;
    std::unique_ptr<DiscreteReverbState> discrete_;
    std::unique_ptr<RecursiveReverbState> recursive_;
    MasterRmsState rms_;
    std::unique_ptr<OutputStage> output_;
    std::unique_ptr<MeterThread> meter_;   // the loudness meter, unless switched off
    int readFailed_ = 0;   // the first channel whose file ended before its header said
};

int MixEngine::OpenStreams()
{
    Tracks& tracks = run_.tracks;
    tracks_.resize(kChannelRows);
    nextByte_.fill(-1);
    for (int c = 1; c <= tracks.channels(); ++c) {
        if (!tracks.headerOk[c]) continue;
        const WavInfo& info = tracks.info[c];
        tracks_[c] = std::make_unique<Stream>();
        const size_t bytes = static_cast<size_t>(info.bytesPerSample * info.channels) * kB;
        // The file may have been replaced since its header was read: a FIFO or a
        // device in its place must stop the run, not block it.
        TrackOpen opened;
        if (!tracks_[c]->Adopt(OpenTrackFile(tracks.paths[c].c_str(), opened), bytes)) {
            if (opened == TrackOpen::kNotRegular)
                std::fprintf(g_console, "The file of channel %i (%s) is not a regular file and cannot be used "
                             "for the mix!\n", c, tracks.paths[c].c_str());
            else
                std::fprintf(g_console, "Cannot open the file of channel %i (%s) for the mix!\n", c,
                             tracks.paths[c].c_str());
            return 2;
        }
    }
    return 0;
}

void MixEngine::CloseStreams()
{
    for (int c = 1; c < static_cast<int>(tracks_.size()); ++c) {
        if (tracks_[c] && !tracks_[c]->Close()) std::fprintf(g_console, "Error closing audio file\n");
    }
}

void MixEngine::ChannelStage(int c, int64_t pos, int64_t n)
{
    Tracks& tracks = run_.tracks;
    const WavInfo& info = tracks.info[c];
    const int64_t bytesPerFrame = static_cast<int64_t>(info.bytesPerSample) * info.channels;
    const int64_t offset = tracks.offset[c];
    int64_t* L = chanL_.data();
    int64_t* R = chanR_.data();

    // Frames [first, last) carry track data: silence before the track offset,
    // and from the track end on, after which the channel plays no more.
    const int64_t first = offset > pos ? (offset - pos < n ? offset - pos : n) : 0;
    const int64_t trackEnd = offset + info.frames;
    int64_t last = n;
    if (trackEnd < pos + n) {
        const int64_t from = trackEnd - pos > 0 ? trackEnd - pos : 0;
        last = from > first ? from : first;
        tracks.active[c] = 0;
    }

    const Routing& routing = run_.routing;
    const EffectSettings& fx = run_.fx;
    const bool revSend = !fx.masterRev && !fx.masterTrev && fx.recursiveOn && fx.revFlag[c];
    const bool trevSend = !fx.masterRev && !fx.masterTrev && fx.discreteOn && fx.trevFlag[c];
    int buses = 0, bus = 0;
    for (int s = 0; s < kSubmixes; ++s) {
        if (routing.route[c][s] == 1 && routing.subOn[s] == 1) {
            ++buses;
            bus = s;
        }
    }
    const bool addable = buses == 1 && !revSend && !trevSend;

    // The lean path: nothing but the fader scale happens to the samples of a
    // 16/24-bit channel with an idle strip, effects gain 1.0 and steady gains.
    double applyL = 0, applyR = 0;
    const bool plainInput = (info.bytesPerSample == 2 || info.bytesPerSample == 3) &&
                            (info.channels == 2 || (info.channels == 1 && run_.pan.delayPan[c] == 0));
    const bool lean = plainInput && run_.pan.fxGain[c] == 1.0 && StripIdle(fx, c, false) &&
                      SteadyGains(*playback_, run_.automation, pos, n, c, run_.pan.polarity[c],
                                  kChannelDivisor, run_.pan.gainL[c], run_.pan.gainR[c],
                                  routing.vcaAssign.data(), applyL, applyR);
    // A lean channel that feeds one bus and no send waits in a read buffer of its
    // own; a few of them are then summed into the bus together (FlushLean), so
    // the bus is read and written once per group instead of once per channel.
    // The sums are of integers: their order does not change them.
    const bool defer = lean && addable;
    unsigned char* raw = raw_.data();
    if (defer) {
        if (leanRaw_[pending_].empty()) leanRaw_[pending_].resize(static_cast<size_t>(6 * kB + 8));
        raw = leanRaw_[pending_].data();
    }

    // Read: silence before the track offset, then one read of the block from
    // its byte position. A file whose previous block ended exactly there is
    // already in place, so only the first block (or one after a short read)
    // needs the rewind and the seek.
    int64_t at;
    if (offset > pos) {
        std::memset(L, 0, static_cast<size_t>(first) * sizeof(int64_t));
        std::memset(R, 0, static_cast<size_t>(first) * sizeof(int64_t));
        at = info.dataStart;
    } else if (offset < pos - info.frames) {
        // The whole track lies before this block (an offset far below zero):
        // pos - offset may not even fit in 64 bits; there is nothing left to read.
        at = info.dataStart + info.frames * bytesPerFrame;
    } else {
        at = info.dataStart + (pos - offset) * bytesPerFrame;
    }
    std::FILE* f = tracks_[c]->f;
    if (at != nextByte_[c]) {
        std::rewind(f);
        std::fseek(f, static_cast<long>(at), SEEK_SET);
    }
    const size_t want = static_cast<size_t>(n * bytesPerFrame);
    const size_t got = std::fread(raw, 1, want, f);
    nextByte_[c] = got == want ? at + static_cast<int64_t>(want) : -1;
    if (got < want) std::memset(raw + got, 0, want - got);
    std::memset(raw + want, 0, 8);   // the lean decoders load a few bytes past the last frame
    // The header promised these frames: a file that lost them since its header
    // was read (truncated or replaced meanwhile) must not mix as silence unnoticed.
    const int64_t held = offset < pos - info.frames ? 0 : info.frames - (pos + first - offset);
    const int64_t promised = held < n - first ? (held > 0 ? held : 0) : n - first;
    if (static_cast<int64_t>(got) < promised * bytesPerFrame && readFailed_ == 0) readFailed_ = c;

    if (defer) {
        LeanJob& job = jobs_[pending_++];
        job = LeanJob{};
        job.c = c;
        job.raw = raw;
        job.first = first;
        job.last = last;
        job.bytes = info.bytesPerSample;
        job.channels = info.channels;
        job.bus = bus;
        job.applyL = applyL;
        job.applyR = applyR;
        job.unity = applyL == 256.0 && applyR == 256.0;
        job.peakL = run_.stats.peakL[c];
        job.peakR = run_.stats.peakR[c];
        if (pending_ == kLeanGroup) FlushLean(n);
        return;
    }

    if (lean) {
        // Lean, but feeding several buses or a send: into the channel buffers.
        const bool unity = applyL == 256.0 && applyR == 256.0;
        int64_t lastL = 0, lastR = 0;
        auto run = [&](auto kernel) {
            kernel(unity, false, raw, first, last, n, applyL, applyR, L, R, run_.stats.peakL[c],
                   run_.stats.peakR[c], lastL, lastR);
        };
        if (info.channels == 2)
            info.bytesPerSample == 2 ? run(PlainChannelFor<2, 2>) : run(PlainChannelFor<3, 2>);
        else
            info.bytesPerSample == 2 ? run(PlainChannelFor<2, 1>) : run(PlainChannelFor<3, 1>);
        SteadyEnd(*playback_, c, lastL, lastR, applyL, applyR);
    } else if (ChannelGeneral(c, pos, n, first, last, addable, bus)) {
        return;
    }

    // Routing into the submix buses.
    for (int s = 0; s < kSubmixes && buses > 0; ++s) {
        if (routing.route[c][s] != 1 || routing.subOn[s] != 1) continue;
        int64_t* bl = subL_[s].data();
        int64_t* br = subR_[s].data();
        for (int64_t i = 0; i < n; ++i) {
            bl[i] += L[i];
            br[i] += R[i];
        }
    }

    // Post-fader sends (only when no reverb is a master insert).
    if (revSend) {
        const double g = static_cast<double>(fx.revSend[c] * fx.recursiveReturnGain);
        for (int64_t i = 0; i < n; ++i) {
            recSendL_[i] += static_cast<double>(L[i]) * g;
            recSendR_[i] += static_cast<double>(R[i]) * g;
        }
    }
    if (trevSend) {
        const double g = static_cast<double>(fx.trevSend[c] * fx.discreteReturnGain);
        for (int64_t i = 0; i < n; ++i) {
            discSendL_[i] += static_cast<double>(L[i]) * g;
            discSendR_[i] += static_cast<double>(R[i]) * g;
        }
    }
}

// Decoding (or delay pan), strip, effects gain, clip test, fader and peaks of one
// channel. Returns true when the result went straight into submix bus `bus`
// (allowed by addable), false when it is in the channel buffers.
bool MixEngine::ChannelGeneral(int c, int64_t pos, int64_t n, int64_t first, int64_t last, bool addable,
                               int bus)
{
    const WavInfo& info = run_.tracks.info[c];
    int64_t* L = chanL_.data();
    int64_t* R = chanR_.data();
    double* wl = workL_.data();
    double* wr = workR_.data();
    if (info.channels == 1 && run_.pan.delayPan[c] != 0) {
        const int64_t frames = n - first;
        if (frames > 0) {
            DecodeMono(raw_.data(), frames, info.bytesPerSample, monoIn_.data() + first);
            const int64_t historyStart = n >= 256 ? n - 255 : n;
            DELAY_PAN(*delay_, first, n, c, run_.pan, monoIn_.data(), L, R, historyStart);
        }
        for (int64_t i = last; i < n; ++i) L[i] = R[i] = 0;
        for (int64_t i = 0; i < n; ++i) {
            wl[i] = static_cast<double>(L[i]);
            wr[i] = static_cast<double>(R[i]);
        }
    } else {
        // Straight into the work buffers: the doubles of the decoded integers.
        for (int64_t i = 0; i < first; ++i) wl[i] = wr[i] = 0.0;
        DecodeFramesToDouble(raw_.data(), last - first, info.channels, info.bytesPerSample, wl + first,
                             wr + first);
        for (int64_t i = last; i < n; ++i) wl[i] = wr[i] = 0.0;
    }

    EffectsStrip(run_.fx, *dsp_, c, false, pos, n, wl, wr);

    double applyL, applyR;
    if (SteadyGains(*playback_, run_.automation, pos, n, c, run_.pan.polarity[c], kChannelDivisor,
                    run_.pan.gainL[c], run_.pan.gainR[c], run_.routing.vcaAssign.data(), applyL, applyR)) {
        // Effects gain, clip test, truncation, fader, peaks (and the bus) in one pass.
        const double gain = run_.pan.fxGain[c];
        const bool add = addable;
        int64_t* outL = add ? subL_[bus].data() : L;
        int64_t* outR = add ? subR_[bus].data() : R;
        int64_t lastL = 0, lastR = 0;
        double& peakL = run_.stats.peakL[c];
        double& peakR = run_.stats.peakR[c];
        int& over = run_.stats.over[c];
        if (gain != 1.0)
            add ? StripTail<true, true>(wl, wr, n, gain, applyL, applyR, outL, outR, over, peakL, peakR, lastL, lastR)
                : StripTail<true, false>(wl, wr, n, gain, applyL, applyR, outL, outR, over, peakL, peakR, lastL, lastR);
        else
            add ? StripTail<false, true>(wl, wr, n, gain, applyL, applyR, outL, outR, over, peakL, peakR, lastL, lastR)
                : StripTail<false, false>(wl, wr, n, gain, applyL, applyR, outL, outR, over, peakL, peakR, lastL, lastR);
        SteadyEnd(*playback_, c, lastL, lastR, applyL, applyR);
        return add;
    }

    GainClipTruncate(wl, wr, n, run_.pan.fxGain[c], false, kChannelFullScale, run_.stats.over[c], L, R);
    AUTOMATE(*playback_, run_.automation, pos, n, c, L, R, run_.pan.polarity[c], kChannelDivisor,
             run_.pan.gainL[c], run_.pan.gainR[c], run_.routing.vcaAssign.data());
    UpdatePeaks(L, R, n, run_.stats.peakL[c], run_.stats.peakR[c]);
    return false;
}

void MixEngine::FlushLean(int64_t n)
{
    // Tiles small enough that a tile of the bus stays in the cache while every
    // waiting channel adds into it.
    constexpr int64_t kTile = 2048;
    for (int64_t t = 0; t < n; t += kTile) {
        const int64_t e = t + kTile < n ? t + kTile : n;
        for (int j = 0; j < pending_; ++j) {
            LeanJob& job = jobs_[j];
            const int64_t a = t > job.first ? t : job.first;
            const int64_t b = e < job.last ? e : job.last;
            if (a >= b) continue;
            int64_t* bl = subL_[job.bus].data();
            int64_t* br = subR_[job.bus].data();
            const int kind = (job.bytes == 2 ? 0 : 4) + (job.channels == 2 ? 0 : 2) + (job.unity ? 1 : 0);
            switch (kind) {
            case 0: LeanRange<2, 2, false>(job, a, b, bl, br); break;
            case 1: LeanRange<2, 2, true>(job, a, b, bl, br); break;
            case 2: LeanRange<2, 1, false>(job, a, b, bl, br); break;
            case 3: LeanRange<2, 1, true>(job, a, b, bl, br); break;
            case 4: LeanRange<3, 2, false>(job, a, b, bl, br); break;
            case 5:
#if defined(__x86_64__) && defined(__GNUC__)
                if (sse41_) {
                    LeanUnity24Sse41(job, a, b, bl, br);
                    break;
                }
#endif
                LeanRange<3, 2, true>(job, a, b, bl, br);
                break;
            case 6: LeanRange<3, 1, false>(job, a, b, bl, br); break;
            default: LeanRange<3, 1, true>(job, a, b, bl, br); break;
            }
        }
    }
    for (int j = 0; j < pending_; ++j) {
        const LeanJob& job = jobs_[j];
        double& peakL = run_.stats.peakL[job.c];
        double& peakR = run_.stats.peakR[job.c];
        if (job.unity) {
            const double pl = static_cast<double>(job.hiL > -job.loL ? job.hiL : -job.loL);
            const double pr = static_cast<double>(job.hiR > -job.loR ? job.hiR : -job.loR);
            if (pl > peakL) peakL = pl;
            if (pr > peakR) peakR = pr;
        } else {
            peakL = job.peakL;
            peakR = job.peakR;
        }
        // The fader remembers the signs of the block's last inputs.
        int64_t lastL = 0, lastR = 0;
        if (job.last == n && job.last > job.first) {
            const unsigned char* q = job.raw + (job.last - 1 - job.first) * job.channels * job.bytes;
            lastL = job.bytes == 2 ? PcmSample<2>(q) : PcmSample<3>(q);
            lastR = job.channels == 2 ? (job.bytes == 2 ? PcmSample<2>(q + 2) : PcmSample<3>(q + 3)) : lastL;
        }
        SteadyEnd(*playback_, job.c, lastL, lastR, job.applyL, job.applyR);
    }
    pending_ = 0;
}

int MixEngine::RunDiscrete(int64_t n)
{
    EffectSettings& fx = run_.fx;
    if (fx.rhpPresent)
        Rev_EQ(dsp_->revEq, n, 0, discSendL_.data(), discSendR_.data(), fx.rhp.b0, fx.rhp.b1,
               fx.rhp.b2, fx.rhp.a1, fx.rhp.a2, dsp_->revEqInit);
    if (fx.rlpPresent)
        Rev_EQ(dsp_->revEq, n, 1, discSendL_.data(), discSendR_.data(), fx.rlp.b0, fx.rlp.b1,
               fx.rlp.b2, fx.rlp.a1, fx.rlp.a2, dsp_->revEqInit);
    return DiscreteReverb(*discrete_, kB, n, run_.tracks.sampleRate, discSendL_.data(),
                          discSendR_.data(), fx.trtnSize, carryL_.data(), carryR_.data(),
                          returnL_.data(), returnR_.data(), fx.tapCount, fx.posX, fx.posY, fx.posZ);
}

int MixEngine::RunRecursive(int64_t n)
{
    EffectSettings& fx = run_.fx;
    if (fx.rhpPresent)
        Rev_EQ(dsp_->revEq, n, 2, recSendL_.data(), recSendR_.data(), fx.rhp.b0, fx.rhp.b1,
               fx.rhp.b2, fx.rhp.a1, fx.rhp.a2, dsp_->revEqInit);
    if (fx.rlpPresent)
        Rev_EQ(dsp_->revEq, n, 3, recSendL_.data(), recSendR_.data(), fx.rlp.b0, fx.rlp.b1,
               fx.rlp.b2, fx.rlp.a1, fx.rlp.a2, dsp_->revEqInit);
    return RecurseReverb(*recursive_, n, run_.tracks.sampleRate, recSendL_.data(), recSendR_.data(),
                         fx.rtnSize, carryL_.data(), carryR_.data(), returnL_.data(),
                         returnR_.data(), fx.posX, fx.posY, fx.posZ, fx.width);
}

int MixEngine::BusStage(int64_t pos, int64_t n)
{
    EffectSettings& fx = run_.fx;
    const Routing& routing = run_.routing;
    const AutomationTables& autom = run_.automation;
    const PanSettings& pan = run_.pan;
    MixStats& stats = run_.stats;
    double* wl = workL_.data();
    double* wr = workR_.data();
    int64_t* ml = masterL_.data();
    int64_t* mr = masterR_.data();

    // Submix faders, then submix strips.
    for (int s = 1; s < kSubmixes; ++s) {
        if (!routing.subOn[s] || !autom.subFaderFlag[s]) continue;
        const int slot = SubmixSlot(s);
        AUTOMATE(*playback_, autom, pos, n, slot, subL_[s].data(), subR_[s].data(), pan.polarity[slot],
                 kBusDivisor, pan.gainL[slot], pan.gainR[slot], routing.vcaAssign.data());
    }
    for (int s = 1; s < kSubmixes; ++s) {
        const int slot = SubmixSlot(s);
        if (!routing.subOn[s] || !fx.stripMarker[slot]) continue;
        int64_t* bl = subL_[s].data();
        int64_t* br = subR_[s].data();
        for (int64_t i = 0; i < n; ++i) {
            wl[i] = static_cast<double>(bl[i]);
            wr[i] = static_cast<double>(br[i]);
        }
        EffectsStrip(fx, *dsp_, slot, false, pos, n, wl, wr);
        GainClipTruncate(wl, wr, n, pan.fxGain[slot], false, kBusFullScale, stats.over[slot], bl, br);
    }

    // Submixes into the master.
    for (int s = 0; s < kSubmixes; ++s) {
        if (!routing.subOn[s]) continue;
        const int64_t* bl = subL_[s].data();
        const int64_t* br = subR_[s].data();
        if (s >= 1) UpdatePeaks(bl, br, n, stats.peakL[SubmixSlot(s)], stats.peakR[SubmixSlot(s)]);
        for (int64_t i = 0; i < n; ++i) {
            ml[i] += bl[i];
            mr[i] += br[i];
        }
    }

    // Submix sends: the recursive send truncated, the discrete send not.
    for (int s = 1; s < kSubmixes; ++s) {
        if (!routing.subOn[s]) continue;
        const int slot = SubmixSlot(s);
        const int64_t* bl = subL_[s].data();
        const int64_t* br = subR_[s].data();
        if (fx.recursiveOn && fx.revFlag[slot]) {
            const double g = static_cast<double>(fx.revSend[slot] * fx.recursiveReturnGain);
            for (int64_t i = 0; i < n; ++i) {
                recSendL_[i] += std::trunc(static_cast<double>(bl[i]) * g);
                recSendR_[i] += std::trunc(static_cast<double>(br[i]) * g);
            }
        }
        if (fx.discreteOn && fx.trevFlag[slot]) {
            const double g = static_cast<double>(fx.trevSend[slot] * fx.discreteReturnGain);
            for (int64_t i = 0; i < n; ++i) {
                discSendL_[i] += static_cast<double>(bl[i]) * g;
                discSendR_[i] += static_cast<double>(br[i]) * g;
            }
        }
    }

    const bool insert = fx.masterRev || fx.masterTrev;
    if (!insert) {
        if (fx.discreteOn) {
            if (const int status = RunDiscrete(n)) return status;
            UpdatePeaks(discSendL_.data(), discSendR_.data(), n, stats.peakL[138], stats.peakR[138]);
        }
        if (fx.recursiveOn) {
            if (const int status = RunRecursive(n)) return status;
            UpdatePeaks(recSendL_.data(), recSendR_.data(), n, stats.peakL[137], stats.peakR[137]);
        }
        if (fx.recursiveOn || fx.discreteOn) {
            for (int64_t i = 0; i < n; ++i) {
                ml[i] += returnL_[i];
                mr[i] += returnR_[i];
            }
        }
    }

    if (autom.masterFaderFlag)
        AUTOMATE(*playback_, autom, pos, n, 0, ml, mr, pan.polarity[0], kBusDivisor, pan.gainL[0],
                 pan.gainR[0], routing.vcaAssign.data());

    if (!fx.anyMaster) return 0;
    for (int64_t i = 0; i < n; ++i) {
        wl[i] = static_cast<double>(ml[i]);
        wr[i] = static_cast<double>(mr[i]);
    }
    EffectsStrip(fx, *dsp_, 0, true, pos, n, wl, wr);
    if (fx.masterRev) {
        const double g = static_cast<double>(fx.revSend[0] * fx.recursiveReturnGain);
        for (int64_t i = 0; i < n; ++i) {
            recSendL_[i] = wl[i] * g;
            recSendR_[i] = wr[i] * g;
        }
        UpdatePeaks(recSendL_.data(), recSendR_.data(), n, stats.peakL[137], stats.peakR[137]);
    }
    if (fx.masterTrev) {
        const double g = static_cast<double>(fx.trevSend[0] * fx.discreteReturnGain);
        for (int64_t i = 0; i < n; ++i) {
            discSendL_[i] = wl[i] * g;
            discSendR_[i] = wr[i] * g;
        }
        UpdatePeaks(discSendL_.data(), discSendR_.data(), n, stats.peakL[138], stats.peakR[138]);
        if (const int status = RunDiscrete(n)) return status;
    }
    if (fx.masterRev) {
        if (const int status = RunRecursive(n)) return status;
    }
    if (insert) {
        for (int64_t i = 0; i < n; ++i) {
            wl[i] += static_cast<double>(returnL_[i]);
            wr[i] += static_cast<double>(returnR_[i]);
        }
    }
    if (fx.masterRow[kLim]) LIMITER(0, n, wl, wr, fx.limCeiling[0]);
    GainClipTruncate(wl, wr, n, pan.fxGain[0], pan.masterFxFlag != 0, kBusFullScale, stats.over[0],
                     ml, mr);
    return 0;
}

int MixEngine::OutputStageBlock(int64_t pos, int64_t n)
{
    int64_t bytes = 0;
    const unsigned char* packed = output_->Convert(pos, n, masterL_.data(), masterR_.data(), bytes);
    const float minInterval = static_cast<float>(run_.tracks.sampleRate / 10.0);
    if (run_.prefs.mono)
        MasterRMS(rms_, output_->mono(), output_->mono(), minInterval, 256, n);
    else
        MasterRMS(rms_, masterL_.data(), masterR_.data(), minInterval, 256, n);
    if (meter_) meter_->Submit(packed, n);
    if (std::fwrite(packed, 1, static_cast<size_t>(bytes), out_) != static_cast<size_t>(bytes)) {
        std::fprintf(g_console, "Error writing the mix file %s: %s\n", run_.prefs.outName.c_str(),
                     std::strerror(errno != 0 ? errno : EIO));
        return 2;
    }
    if (const int status = StemBlock(pos, n)) return status;

    const EffectSettings& fx = run_.fx;
    if (tap_ && fx.tapMode != 0 && (fx.recursiveOn || fx.masterRev)) {
        if (fx.tapMode == 2) {
            for (int64_t i = 0; i < n; ++i) {
                tapL_[i] = Trunc64(static_cast<double>(static_cast<float>(returnL_[i])) * 0.00390625);
                tapR_[i] = Trunc64(static_cast<double>(static_cast<float>(returnR_[i])) * 0.00390625);
            }
        } else {
            const float r = fx.recursiveReturnGain;
            for (int64_t i = 0; i < n; ++i) {
                if (r == 0.0f) {
                    tapL_[i] = tapR_[i] = 0;  // no return gain: nothing to undo, write silence
                    continue;
                }
                tapL_[i] = Trunc64(static_cast<float>(recSendL_[i]) / (r * 256.0f));
                tapR_[i] = Trunc64(static_cast<float>(recSendR_[i]) / (r * 256.0f));
            }
        }
        NUM24STER_TO_CHAR(tapL_.data(), tapR_.data(), tapBytes_.data(), n);
        if (std::fwrite(tapBytes_.data(), 1, static_cast<size_t>(6 * n), tap_) != static_cast<size_t>(6 * n)) {
            std::fprintf(g_console, "Error writing the tap file %s: %s\n", fx.tapName.c_str(),
                         std::strerror(errno != 0 ? errno : EIO));
            return 2;
        }
    }
    return 0;
}

void MixEngine::PrepareStems(const OutputFormat& format)
{
    std::vector<StemOutput>& planned = run_.outputs.stems;
    stems_.reserve(planned.size());
    for (const StemOutput& stem : planned) {
        if (!stem.file || !stem.file->isOpen()) continue;
        StemWriter w;
        w.bus = stem.bus;
        w.f = stem.file->stream();
        w.name = &stem.name;
        // Seeded from the run's seed and the bus, so a stem's noise does not
        // depend on which other stems are written.
        std::seed_seq seq{run_.ditherSeed, static_cast<unsigned>(stem.bus)};
        std::mt19937 gen(seq);
        w.stage = std::make_unique<OutputStage>(format, [gen]() mutable { return static_cast<int>(gen() >> 1); });
        stems_.push_back(std::move(w));
    }
    if (!stems_.empty() && format.dither > 0 && !format.mono) {
        stemL_.resize(kB);
        stemR_.resize(kB);
    }
}

int MixEngine::StemBlock(int64_t pos, int64_t n)
{
    for (StemWriter& w : stems_) {
        int64_t* l = w.bus == kReverbStem ? returnL_.data() : subL_[static_cast<size_t>(w.bus)].data();
        int64_t* r = w.bus == kReverbStem ? returnR_.data() : subR_[static_cast<size_t>(w.bus)].data();
        if (!stemL_.empty()) {
            // Stereo dither is added in place: the bus itself stays as the mix used it.
            std::memcpy(stemL_.data(), l, static_cast<size_t>(n) * sizeof(int64_t));
            std::memcpy(stemR_.data(), r, static_cast<size_t>(n) * sizeof(int64_t));
            l = stemL_.data();
            r = stemR_.data();
        }
        int64_t bytes = 0;
        const unsigned char* packed = w.stage->Convert(pos, n, l, r, bytes);
        if (std::fwrite(packed, 1, static_cast<size_t>(bytes), w.f) != static_cast<size_t>(bytes)) {
            std::fprintf(g_console, "Error writing the stem file %s: %s\n", w.name->c_str(),
                         std::strerror(errno != 0 ? errno : EIO));
            return 2;
        }
    }
    return 0;
}

int MixEngine::Mix()
{
    if (const int status = OpenStreams()) return status;

    const Prefs& prefs = run_.prefs;
    const EffectSettings& fx = run_.fx;
    const Routing& routing = run_.routing;
    Tracks& tracks = run_.tracks;

    // Everything the loop needs, taken once.
    // Buffers written before they are read are left unzeroed; the send buffers
    // are cleared or set before use in every block, the return and carry
    // buffers start at zero.
    chanL_.resize(kB); chanR_.resize(kB);
    masterL_.resize(kB); masterR_.resize(kB);
    workL_.resize(kB); workR_.resize(kB);
    subL_.resize(kSubmixes);
    subR_.resize(kSubmixes);
    for (int s = 0; s < kSubmixes; ++s) {
        if (routing.subOn[s]) { subL_[s].resize(kB); subR_[s].resize(kB); }
    }
    const bool sendBuffers = fx.recursiveOn || fx.masterRev;
    const bool discBuffers = fx.discreteOn || fx.masterTrev;
    if (sendBuffers) { recSendL_.assign(kB, 0.0); recSendR_.assign(kB, 0.0); }
    if (discBuffers) { discSendL_.assign(kB, 0.0); discSendR_.assign(kB, 0.0); }
    if (sendBuffers || discBuffers) {
        returnL_.assign(kB, 0); returnR_.assign(kB, 0);
        carryL_.assign(kB, 0); carryR_.assign(kB, 0);
    }
    monoIn_.resize(kB);
    raw_.resize(static_cast<size_t>(kB) * 2 * 4 + 8);   // one block of the widest format, and room past it
    if (tap_) { tapL_.resize(kB); tapR_.resize(kB); tapBytes_.resize(static_cast<size_t>(6 * kB)); }
    playback_ = std::make_unique<Playback>();
    dsp_ = std::make_unique<DspState>();
    delay_ = std::make_unique<DelayHistory>();
    discrete_ = std::make_unique<DiscreteReverbState>();
    recursive_ = std::make_unique<RecursiveReverbState>();
    OutputFormat format;
    format.bits = prefs.outbits == 16 ? 16 : 24;
    format.mono = prefs.mono;
    format.monoGain = prefs.monoGain;
    format.dither = prefs.dither;
    output_ = std::make_unique<OutputStage>(format, [] { return std::rand(); });
    PrepareStems(format);
    if (prefs.loudness)
        meter_ = std::make_unique<MeterThread>(tracks.sampleRate, prefs.mono ? 1 : 2, format.bits, prefs.truePeak);

    const int64_t start = prefs.renderStart;
    const int64_t length = prefs.renderCount;
    const int64_t end = start + length;
    StartState(*playback_, run_.automation, tracks.channels(), tracks.offset.data(), start);

    const int64_t q1 = start + length / 4, q2 = start + length / 2, q3 = start + (3 * length) / 4;
    int progress = 1;

    std::fprintf(g_console, "\n");
    if (prefs.verbo == 2) std::fprintf(g_console, "Mixing...\n");

    int status = 0;
    for (int64_t pos = start; pos < end && status == 0;) {
        const int64_t n = end - pos < kB ? end - pos : kB;
        if (PendingStop() != 0) {
            status = kMixStopped;
            break;
        }

        // Clearing.
        std::memset(masterL_.data(), 0, static_cast<size_t>(n) * sizeof(int64_t));
        std::memset(masterR_.data(), 0, static_cast<size_t>(n) * sizeof(int64_t));
        for (int s = 0; s < kSubmixes; ++s) {
            if (!routing.subOn[s]) continue;
            std::memset(subL_[s].data(), 0, static_cast<size_t>(n) * sizeof(int64_t));
            std::memset(subR_[s].data(), 0, static_cast<size_t>(n) * sizeof(int64_t));
        }
        if (fx.returnsPresent && !returnL_.empty()) {
            returnL_.swap(carryL_);
            returnR_.swap(carryR_);
            std::fill(carryL_.begin(), carryL_.end(), 0);
            std::fill(carryR_.begin(), carryR_.end(), 0);
        }
        if (fx.recursiveOn) {
            std::fill(recSendL_.begin(), recSendL_.end(), 0.0);
            std::fill(recSendR_.begin(), recSendR_.end(), 0.0);
        }
        if (fx.discreteOn) {
            std::fill(discSendL_.begin(), discSendL_.end(), 0.0);
            std::fill(discSendR_.begin(), discSendR_.end(), 0.0);
        }

        for (int v = 1; v < kVcas; ++v)
            if (routing.vcaInUse[v]) FillVCA(*playback_, run_.automation, pos, n, v);

        for (int c = 1; c <= tracks.channels(); ++c) {
            if (tracks.active[c] != 1 || tracks.offset[c] > pos + kB || !tracks_[c]) continue;
            ChannelStage(c, pos, n);
        }
        FlushLean(n);

        if (readFailed_ != 0) {
            std::fprintf(g_console,
                         "Error reading the file of channel %i (%s): it ended before the length its header "
                         "gives. The mix stops.\n",
                         readFailed_, tracks.paths[readFailed_].c_str());
            status = 2;
            break;
        }

        status = BusStage(pos, n);
        if (status != 0) break;
        status = OutputStageBlock(pos, n);
        if (status != 0) break;

        if (prefs.verbo == 2) {
            if (pos > q1 && pos < q2 && progress == 1) {
                std::fprintf(g_console, "1/4 done\n");
                std::fflush(g_console);
                progress = 0;
            }
            if (pos > q2 && pos < q3 && progress == 0) {
                std::fprintf(g_console, "1/2 done\n");
                std::fflush(g_console);
                progress = 1;
            }
            if (pos > q3 && progress == 1) {
                std::fprintf(g_console, "3/4 done\n");
                std::fflush(g_console);
                progress = 0;
            }
        }
        pos += n;
    }

    MixStats& stats = run_.stats;
    stats.out = output_->peaks();
    stats.masterHeard = output_->heard();
    stats.rmsSumL = rms_.sumL;
    stats.rmsSumR = rms_.sumR;
    stats.rmsCountL = rms_.windowsL;
    stats.rmsCountR = rms_.windowsR;
    for (const StemWriter& w : stems_)
        for (StemOutput& stem : run_.outputs.stems)
            if (stem.bus == w.bus) stem.peaks = w.stage->peaks();
    if (meter_ && status == 0) stats.loudness = meter_->Finish();
    meter_.reset();

    CloseStreams();
    return status;
}

}  // namespace

int RunMix(Run& run, std::FILE* out, std::FILE* tap)
{
    MixEngine engine(run, out, tap);
    return engine.Mix();
}
