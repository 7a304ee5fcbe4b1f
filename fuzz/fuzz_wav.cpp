// Fuzz target: WAV header reading and sample decoding on arbitrary bytes. The
// bytes are written as a track file and read with GET_ATTRIBUTES; the same bytes
// are then decoded in every layout the mix can meet.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "corvale/audio/wav_in.h"
#include "corvale/run/console.h"
#include "fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = fuzzutil::ScratchDir() + "/track.wav";
    if (g_console == stdout) {
        g_console = std::fopen("/dev/null", "w");
        if (g_console == nullptr) return 0;
    }
    fuzzutil::WriteFile(path, std::string(reinterpret_cast<const char*>(data), size));
    WavInfo info;
    const int ok = GET_ATTRIBUTES(1, path.c_str(), info);

    // Decode what follows the header as the header says, then the whole input in
    // every layout.
    std::vector<int64_t> left(size + 1), right(size + 1);
    if (ok == 1 && info.dataStart >= 0 && static_cast<uint64_t>(info.dataStart) <= size &&
        (info.channels == 1 || info.channels == 2) && info.bytesPerSample >= 2 && info.bytesPerSample <= 4) {
        const int64_t frameBytes = static_cast<int64_t>(info.channels) * info.bytesPerSample;
        int64_t frames = (static_cast<int64_t>(size) - info.dataStart) / frameBytes;
        if (info.frames < frames) frames = info.frames;
        DecodeFrames(data + info.dataStart, frames, info.channels, info.bytesPerSample, left.data(), right.data());
    }
    for (int channels = 1; channels <= 2; ++channels)
        for (int bytes = 2; bytes <= 4; ++bytes) {
            const int64_t frames = static_cast<int64_t>(size) / (channels * bytes);
            DecodeFrames(data, frames, channels, bytes, left.data(), right.data());
            if (channels == 1) DecodeMono(data, frames, bytes, left.data());
        }
    return 0;
}
