// Writing the mix: the 44-byte WAV header, the byte packing of output words,
// and the conversion of the master bus into words (fold-down, dither, word
// length, output peaks).
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

// An allocator whose elements start uninitialised, for block buffers that are
// always written before they are read: their pages cost nothing until used.
template <class T>
struct UninitAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitAllocator<U>;
    };
    UninitAllocator() = default;
    template <class U>
    UninitAllocator(const UninitAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) { ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...); }
};
template <class T>
using BlockVec = std::vector<T, UninitAllocator<T>>;

// Writes the 44-byte header to out (at its current position). Returns false when
// it could not be written. A render longer than the header's 32-bit size fields
// can describe is refused with a message naming the file (nothing is written).
bool MAKE_HEADER(std::FILE* out, const char* name, uint64_t sampleRate, int bits, int channels, int64_t frames);

// The longest render, in frames, whose data size still fits the header's fields.
int64_t MaxWavFrames(int bits, int channels);

// Packing of output words into little-endian bytes. Words beyond the format's
// range are held at its largest or smallest value.
void NUM16STER_TO_CHAR(const int32_t* left, const int32_t* right, unsigned char* out, int64_t frames);
void NUM24STER_TO_CHAR(const int64_t* left, const int64_t* right, unsigned char* out, int64_t frames);
void NUM16MONO_TO_CHAR(const int32_t* words, unsigned char* out, int64_t frames);
void NUM24MONO_TO_CHAR(const int64_t* words, unsigned char* out, int64_t frames);

// The dither's random source; the program passes the C library's rand().
using RandomSource = std::function<int()>;

// Largest output word per side and the song frame where it was first reached.
struct OutputPeaks {
    double left = 0.0, right = 0.0;
    int64_t leftFrame = 0, rightFrame = 0;
};

// Output format and dither of a render.
struct OutputFormat {
    int bits = 24;          // 16 or 24
    bool mono = false;
    float monoGain = 1.0f;
    int dither = 0;         // 0..8
};

// The last steps of every block: fold-down, dither, word length, peaks, packing.
// Buffers are sized once for a whole block when the stage is made.
class OutputStage {
public:
    OutputStage(const OutputFormat& fmt, RandomSource rnd);

    // Converts the first n frames of the master (bus scale) starting at song frame
    // songPos. Stereo dither is added to left/right in place; mono output folds into
    // mono() (dither added there). Returns the packed bytes; bytes = their count.
    const unsigned char* Convert(int64_t songPos, int64_t n, int64_t* left, int64_t* right,
                                 int64_t& bytes);

    // The folded (and dithered) mono values of the last block, bus scale.
    int64_t* mono() { return mono_.data(); }
    const OutputPeaks& peaks() const { return peaks_; }
    // False while the master has been zero at every frame (before dither).
    bool heard() const { return heard_; }
    const OutputFormat& format() const { return fmt_; }

private:
    int64_t Noise();  // one draw of dither noise, already scaled to bus steps
    static void Peak(int64_t word, int64_t frame, double& peak, int64_t& peakFrame);

    OutputFormat fmt_;
    RandomSource rnd_;
    OutputPeaks peaks_;
    BlockVec<int64_t> mono_, words24L_, words24R_;
    BlockVec<int32_t> words16L_, words16R_;
    BlockVec<unsigned char> bytes_;
    int64_t ditherOffset_ = 0;
    int ditherModulus_ = 1;
    int64_t shift_ = 256;  // bus value per output step: 2^16 or 2^8
    bool heard_ = false;
};
