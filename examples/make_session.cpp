// Writes the audio of the example session: four short tracks in different
// formats (24-bit mono, 16-bit mono, 32-bit float stereo, 24-bit stereo), made
// from simple deterministic tones so the demo needs no recordings.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr uint32_t kRate = 48000;
constexpr int kSeconds = 8;
constexpr double kTwoPi = 6.283185307179586;

void Put(std::FILE* f, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) std::fputc(static_cast<int>((v >> (8 * i)) & 0xFF), f);
}

bool Write(const std::string& path, int channels, int bits, bool isFloat, const std::vector<double>& s)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const uint32_t data = static_cast<uint32_t>(s.size() * (bits / 8));
    std::fputs("RIFF", f); Put(f, data + 36, 4); std::fputs("WAVEfmt ", f); Put(f, 16, 4);
    Put(f, isFloat ? 3 : 1, 2); Put(f, static_cast<uint64_t>(channels), 2); Put(f, kRate, 4);
    Put(f, static_cast<uint64_t>(kRate) * channels * (bits / 8), 4);
    Put(f, static_cast<uint64_t>(channels * bits / 8), 2); Put(f, static_cast<uint64_t>(bits), 2);
    std::fputs("data", f); Put(f, data, 4);
    for (double x : s) {
        if (isFloat) {
            const float v = static_cast<float>(x);
            uint32_t b;
            std::memcpy(&b, &v, 4);
            Put(f, b, 4);
        } else {
            const double full = bits == 16 ? 32767.0 : 8388607.0;
            Put(f, static_cast<uint64_t>(static_cast<int64_t>(std::lround(x * full))), bits / 8);
        }
    }
    return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string dir = argc > 1 ? argv[1] : ".";
    mkdir((dir + "/out").c_str(), 0755);
    const int n = static_cast<int>(kRate) * kSeconds;
    std::vector<double> kick(n), bass(n), pad(2 * n), vox(2 * n);
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double beat = std::fmod(t, 0.5);
        kick[i] = 0.6 * std::exp(-beat * 18.0) * std::sin(kTwoPi * (50.0 + 80.0 * std::exp(-beat * 30.0)) * beat);
        bass[i] = 0.3 * std::sin(kTwoPi * 55.0 * t) * (0.6 + 0.4 * std::sin(kTwoPi * 0.5 * t));
        pad[2 * i] = 0.15 * std::sin(kTwoPi * 220.0 * t) + 0.1 * std::sin(kTwoPi * 277.2 * t);
        pad[2 * i + 1] = 0.15 * std::sin(kTwoPi * 220.5 * t) + 0.1 * std::sin(kTwoPi * 329.6 * t);
        const double syllable = 0.5 + 0.5 * std::sin(kTwoPi * 3.0 * t);
        vox[2 * i] = 0.25 * syllable * std::sin(kTwoPi * 440.0 * t + 2.0 * std::sin(kTwoPi * 5.0 * t));
        vox[2 * i + 1] = 0.9 * vox[2 * i];
    }
    bool ok = Write(dir + "/kick.wav", 1, 24, false, kick) && Write(dir + "/bass.wav", 1, 16, false, bass) &&
              Write(dir + "/pad.wav", 2, 32, true, pad) && Write(dir + "/vox.wav", 2, 24, false, vox);
    if (!ok) {
        std::printf("Could not write the example tracks in %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
