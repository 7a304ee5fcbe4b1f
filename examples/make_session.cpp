// Writes the audio of an example session, made from simple deterministic tones
// so that no recording is needed:
//   make_session DIR [session|spoken|tempo|effects]
// "session" (the default) and "effects": four 8-second tracks at 48 kHz in
// different formats (24-bit mono, 16-bit mono, 32-bit float stereo, 24-bit
// stereo); "spoken": a 16-bit mono voice and a 24-bit stereo music bed of 12
// seconds; "tempo": drums, bass and chords of 16 seconds that follow a tempo map
// of 4 bars of 4/4 at 120 beats per minute and 4 bars of 3/4 at 90.
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

// A word-like burst: a voiced tone with a moving pitch under a syllable envelope.
double Voice(double t)
{
    if (t < 2.0 || t >= 10.0) return 0.0;
    const double phrase = std::fmod(t - 2.0, 2.5);
    if (phrase > 1.9) return 0.0;
    const double syllable = std::pow(std::sin(kTwoPi * 2.2 * phrase / 2.0), 2.0);
    const double f0 = 140.0 + 25.0 * std::sin(kTwoPi * 0.7 * t);
    double v = 0.0;
    for (int h = 1; h <= 6; ++h) v += std::sin(kTwoPi * f0 * h * t) / h;
    return 0.35 * syllable * v;
}

bool Spoken(const std::string& dir)
{
    const int n = static_cast<int>(kRate) * 12;
    std::vector<double> voice(n), music(2 * n);
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        voice[i] = Voice(t);
        const double swell = 0.8 + 0.2 * std::sin(kTwoPi * 0.25 * t);
        music[2 * i] = swell * (0.12 * std::sin(kTwoPi * 196.0 * t) + 0.08 * std::sin(kTwoPi * 246.9 * t) +
                                0.06 * std::sin(kTwoPi * 293.7 * t));
        music[2 * i + 1] = swell * (0.12 * std::sin(kTwoPi * 196.0 * t) + 0.08 * std::sin(kTwoPi * 329.6 * t) +
                                    0.06 * std::sin(kTwoPi * 392.0 * t));
    }
    return Write(dir + "/voice.wav", 1, 16, false, voice) && Write(dir + "/music.wav", 2, 24, false, music);
}

// Beat times of the tempo map: 16 beats of 0.5 s, then 12 beats of 2/3 s.
double BeatStart(double t, double& beatLength, int& beatInBar)
{
    if (t < 8.0) {
        beatLength = 0.5;
        beatInBar = static_cast<int>(t / 0.5) % 4;
        return std::floor(t / 0.5) * 0.5;
    }
    beatLength = 2.0 / 3.0;
    const double k = std::floor((t - 8.0) / beatLength);
    beatInBar = static_cast<int>(k) % 3;
    return 8.0 + k * beatLength;
}

bool Tempo(const std::string& dir)
{
    const int n = static_cast<int>(kRate) * 16;
    std::vector<double> drums(n), bass(n), chords(2 * n);
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double len = 0.0;
        int inBar = 0;
        const double beat = t - BeatStart(t, len, inBar);
        const double accent = inBar == 0 ? 0.7 : 0.4;
        drums[i] = accent * std::exp(-beat * 20.0) * std::sin(kTwoPi * (55.0 + 90.0 * std::exp(-beat * 35.0)) * beat);
        const double root = t < 8.0 ? 55.0 : 49.0;
        bass[i] = 0.3 * std::exp(-beat * 3.0) * std::sin(kTwoPi * root * t);
        const double f = t < 8.0 ? 220.0 : 196.0;
        chords[2 * i] = 0.1 * std::sin(kTwoPi * f * t) + 0.07 * std::sin(kTwoPi * f * 1.26 * t);
        chords[2 * i + 1] = 0.1 * std::sin(kTwoPi * f * 1.002 * t) + 0.07 * std::sin(kTwoPi * f * 1.5 * t);
    }
    return Write(dir + "/drums.wav", 1, 24, false, drums) && Write(dir + "/bass.wav", 1, 24, false, bass) &&
           Write(dir + "/chords.wav", 2, 24, false, chords);
}

int main(int argc, char** argv)
{
    const std::string dir = argc > 1 ? argv[1] : ".";
    const std::string kind = argc > 2 ? argv[2] : "session";
    mkdir((dir + "/out").c_str(), 0755);
    if (kind == "spoken" || kind == "tempo") {
        if (!(kind == "spoken" ? Spoken(dir) : Tempo(dir))) {
            std::printf("Could not write the example tracks in %s\n", dir.c_str());
            return 1;
        }
        return 0;
    }
    if (kind != "session" && kind != "effects") {
        std::printf("Unknown example session %s (session, spoken, tempo or effects)\n", kind.c_str());
        return 2;
    }
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
