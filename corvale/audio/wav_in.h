// Reading WAV tracks: the header of each file (GET_ATTRIBUTES) and the decoding
// of stored sample bytes into 24-bit-scale integers.
#pragma once
#include <cstdint>
#include <cstdio>

// What the mix needs to read one track file.
struct WavInfo {
    int channels = 0;          // 1 mono, 2 stereo
    int64_t dataStart = 0;     // byte offset of the first sample byte
    uint64_t sampleRate = 0;
    int64_t frames = 0;        // frames that can really be read
    int64_t declaredFrames = 0;   // frames the data chunk's size gives
    int bytesPerSample = 0;    // 2, 3 or 4
    int bits = 0;              // 16, 24 or 32
};

enum class TrackOpen { kOpened, kCannotOpen, kNotRegular };

// Opens a track file for binary reading. Anything that is not a regular file
// once links are followed is refused (a FIFO or a device named as a track would
// wait for a writer or hang the reads); the open itself never blocks, and reads
// from the stream returned then block as usual. Returns nullptr with result saying
// why when the file cannot be used.
std::FILE* OpenTrackFile(const char* path, TrackOpen& result);

// Reads the header of the file at path into info. Returns 1 when the file can be
// mixed, 0 after printing why not.
int GET_ATTRIBUTES(int channel, const char* path, WavInfo& info);

// One stored float sample (bytes least significant first) to 24-bit scale.
int64_t Float32Convert(int b0, int b1, int b2, int b3);

// Decodes frames of raw bytes of a file with the given layout into left/right
// samples at 24-bit scale; a mono file feeds both sides.
void DecodeFrames(const unsigned char* raw, int64_t frames, int channels, int bytesPerSample,
                  int64_t* left, int64_t* right);

// Decodes frames of one channel's samples (mono files) into out.
void DecodeMono(const unsigned char* raw, int64_t frames, int bytesPerSample, int64_t* out);

// As DecodeFrames, the samples written as doubles (each the exact value of the
// 24-bit-scale integer).
void DecodeFramesToDouble(const unsigned char* raw, int64_t frames, int channels, int bytesPerSample,
                          double* left, double* right);
