// Benchmark helper for corvale, three commands:
//
//   make_workload gen DIR [SECONDS]   writes 16 stereo 24-bit 48 kHz tracks (60 s by
//                                     default) and the control files of the "plain"
//                                     and "fx" sessions into DIR; an existing
//                                     workload of the same length is kept
//   make_workload check DIR MIX.wav   checks that MIX.wav is the exact sample-by-
//                                     sample sum of the tracks in DIR
//   make_workload time RUNS CMD...    runs CMD RUNS times (output discarded) and
//                                     prints "wall cpu peak_kb" with the median
//                                     wall and CPU seconds and the largest peak
//                                     resident size
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kTracks = 16;
constexpr int kRate = 48000;
constexpr double kFull = 8388607.0;
constexpr double kTwoPi = 6.283185307179586;
constexpr int64_t kChunk = 65536;  // frames per generation and check step

// One stereo frame of track k at frame i, in -1..1 before the level scale. The
// recipes differ per track: steady tones, chords, coloured noise, plucks.
struct Voice {
    int kind;
    double f1, f2, amp;
    uint64_t seed;
    double lpL = 0, lpR = 0;

    static double Noise(uint64_t& s)
    {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(static_cast<int64_t>(s >> 11) - (int64_t{1} << 52)) / 4503599627370496.0;
    }

    void Frame(int64_t i, double& l, double& r)
    {
        const double t = static_cast<double>(i) / kRate;
        switch (kind) {
        case 0: {  // tone with a slow vibrato
            const double ph = kTwoPi * f1 * t + 3.0 * std::sin(kTwoPi * 0.3 * t);
            l = std::sin(ph);
            r = std::sin(ph + 0.4);
            break;
        }
        case 1:  // two-note chord, tremolo
            l = 0.5 * (std::sin(kTwoPi * f1 * t) + std::sin(kTwoPi * f2 * t)) *
                (0.75 + 0.25 * std::sin(kTwoPi * 2.0 * t));
            r = 0.5 * (std::sin(kTwoPi * f1 * t + 1.0) + std::sin(kTwoPi * f2 * t + 2.0)) *
                (0.75 + 0.25 * std::cos(kTwoPi * 2.0 * t));
            break;
        case 2:  // low-passed noise
            lpL += 0.08 * (Noise(seed) - lpL);
            lpR += 0.08 * (Noise(seed) - lpR);
            l = 3.0 * lpL;
            r = 3.0 * lpR;
            break;
        default: {  // plucked saw, a note every half second
            const double beat = std::fmod(t, 0.5);
            const double env = std::exp(-beat * 6.0);
            const double saw = 2.0 * std::fmod(f1 * t, 1.0) - 1.0;
            l = env * saw;
            r = env * (2.0 * std::fmod(f1 * 1.003 * t, 1.0) - 1.0);
            break;
        }
        }
        l = std::clamp(l, -1.0, 1.0) * amp;
        r = std::clamp(r, -1.0, 1.0) * amp;
    }
};

std::vector<Voice> Voices()
{
    std::vector<Voice> v;
    for (int k = 0; k < kTracks; ++k) {
        Voice x{};
        x.kind = k % 4;
        x.f1 = 55.0 * std::pow(2.0, (k * 5 % 24) / 12.0);
        x.f2 = x.f1 * 1.5;
        // Peak levels from about -24 to -20 dBFS.
        x.amp = 0.1 * (0.6 + 0.4 * ((k * 7) % 5) / 4.0);
        x.seed = 0x9E3779B97F4A7C15ULL * static_cast<uint64_t>(k + 1);
        v.push_back(x);
    }
    return v;
}

void Put(unsigned char* p, uint64_t v, int bytes)
{
    for (int b = 0; b < bytes; ++b) p[b] = static_cast<unsigned char>((v >> (8 * b)) & 0xFF);
}

void Header(std::FILE* f, int64_t frames)
{
    unsigned char h[44];
    const uint64_t data = static_cast<uint64_t>(frames) * 6;
    std::memcpy(h, "RIFF", 4); Put(h + 4, data + 36, 4); std::memcpy(h + 8, "WAVEfmt ", 8);
    Put(h + 16, 16, 4); Put(h + 20, 1, 2); Put(h + 22, 2, 2); Put(h + 24, kRate, 4);
    Put(h + 28, kRate * 6, 4); Put(h + 32, 6, 2); Put(h + 34, 24, 2);
    std::memcpy(h + 36, "data", 4); Put(h + 40, data, 4);
    std::fwrite(h, 1, sizeof h, f);
}

bool WriteText(const std::string& path, const std::string& text)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    std::fwrite(text.data(), 1, text.size(), f);
    return std::fclose(f) == 0;
}

std::string TrackName(int k)
{
    char name[16];
    std::snprintf(name, sizeof name, "t%02d.wav", k + 1);
    return name;
}

int Generate(const std::string& dir, int seconds)
{
    mkdir(dir.c_str(), 0755);
    const std::string stamp = dir + "/workload.done";
    const std::string want = "16 tracks " + std::to_string(seconds) + " s\n";
    if (std::FILE* f = std::fopen(stamp.c_str(), "rb")) {
        char buf[64] = {};
        const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
        std::fclose(f);
        if (std::string(buf, n) == want) {
            std::printf("workload in %s is up to date\n", dir.c_str());
            return 0;
        }
    }
    std::remove(stamp.c_str());
    const int64_t frames = static_cast<int64_t>(seconds) * kRate;

    // First pass: the peak of the quantised sum, so that the sum never clips.
    double scale = 1.0;
    {
        std::vector<Voice> v = Voices();
        double peak = 0;
        for (int64_t i = 0; i < frames; ++i) {
            double sl = 0, sr = 0;
            for (Voice& x : v) {
                double l, r;
                x.Frame(i, l, r);
                sl += l;
                sr += r;
            }
            peak = std::max({peak, std::fabs(sl), std::fabs(sr)});
        }
        if (peak > 0.9) scale = 0.9 / peak;
    }

    std::vector<Voice> v = Voices();
    std::vector<std::FILE*> files;
    for (int k = 0; k < kTracks; ++k) {
        std::FILE* f = std::fopen((dir + "/" + TrackName(k)).c_str(), "wb");
        if (f == nullptr) {
            std::printf("cannot write %s/%s\n", dir.c_str(), TrackName(k).c_str());
            return 1;
        }
        Header(f, frames);
        files.push_back(f);
    }
    std::vector<unsigned char> buf(static_cast<size_t>(kChunk) * 6);
    for (int64_t at = 0; at < frames; at += kChunk) {
        const int64_t n = std::min(kChunk, frames - at);
        for (int k = 0; k < kTracks; ++k) {
            for (int64_t i = 0; i < n; ++i) {
                double l, r;
                v[k].Frame(at + i, l, r);
                Put(&buf[6 * i], static_cast<uint64_t>(std::lround(l * scale * kFull)), 3);
                Put(&buf[6 * i + 3], static_cast<uint64_t>(std::lround(r * scale * kFull)), 3);
            }
            std::fwrite(buf.data(), 1, static_cast<size_t>(6 * n), files[k]);
        }
    }
    for (std::FILE* f : files) {
        if (std::fclose(f) != 0) {
            std::printf("error writing the workload\n");
            return 1;
        }
    }

    std::string tracks, plain = "begin\nplain\nt\t0\t0\t0\n", fx = "begin\nfx\nt\t0\t0\t0\n";
    for (int k = 1; k <= kTracks; ++k) {
        const std::string c = std::to_string(k);
        tracks += c + " " + TrackName(k - 1) + " +\n";
        plain += "v\t" + c + "\t0\np\t" + c + "\t0\n";
        fx += "v\t" + c + "\t0\np\t" + c + "\t0\n";
    }
    for (int k = 1; k <= kTracks; ++k) {
        const std::string c = std::to_string(k);
        fx += "hp\t" + c + "\t40\nband1\t" + c + "\t1000\t3\t1\nrms\t" + c + "\t-24\t10\t150\t3\n";
    }
    tracks += "end\n";
    plain += "end\n";
    fx += "end\n";
    const char* prefs = "begin\nverbo\t1\ndither\t0\noutbits\t24\noname\t%s\nend\n";
    char p1[128], p2[128];
    std::snprintf(p1, sizeof p1, prefs, "plain_mix");
    std::snprintf(p2, sizeof p2, prefs, "fx_mix");
    if (!WriteText(dir + "/tracks.txt", tracks) || !WriteText(dir + "/plain.txt", plain) ||
        !WriteText(dir + "/fx.txt", fx) || !WriteText(dir + "/prefs_plain.txt", p1) ||
        !WriteText(dir + "/prefs_fx.txt", p2) || !WriteText(stamp, want)) {
        std::printf("cannot write the control files in %s\n", dir.c_str());
        return 1;
    }
    std::printf("wrote %d tracks of %d s to %s (level scale %.3f)\n", kTracks, seconds, dir.c_str(), scale);
    return 0;
}

// An open WAV file positioned at its samples.
struct WavReader {
    std::FILE* f = nullptr;
    int channels = 0, bits = 0;
    int64_t frames = 0;
    bool Open(const std::string& path)
    {
        f = std::fopen(path.c_str(), "rb");
        if (f == nullptr) return false;
        unsigned char h[12];
        if (std::fread(h, 1, 12, f) != 12 || std::memcmp(h, "RIFF", 4) != 0) return false;
        for (;;) {
            unsigned char c[8];
            if (std::fread(c, 1, 8, f) != 8) return false;
            const uint32_t size = c[4] | (c[5] << 8) | (c[6] << 16) | (uint32_t{c[7]} << 24);
            if (std::memcmp(c, "fmt ", 4) == 0) {
                unsigned char fmt[16];
                if (size < 16 || std::fread(fmt, 1, 16, f) != 16) return false;
                channels = fmt[2] | (fmt[3] << 8);
                bits = fmt[14] | (fmt[15] << 8);
                std::fseek(f, static_cast<long>(size - 16 + (size & 1)), SEEK_CUR);
            } else if (std::memcmp(c, "data", 4) == 0) {
                if (channels <= 0 || bits != 24) return false;
                frames = size / (3 * channels);
                return true;
            } else {
                std::fseek(f, static_cast<long>(size + (size & 1)), SEEK_CUR);
            }
        }
    }
    ~WavReader() { if (f) std::fclose(f); }
};

int64_t S24(const unsigned char* p)
{
    return static_cast<int64_t>(static_cast<int32_t>((uint32_t{p[0]} << 8) | (uint32_t{p[1]} << 16) |
                                                     (uint32_t{p[2]} << 24)) >> 8);
}

int Check(const std::string& dir, const std::string& mixPath)
{
    WavReader mix;
    if (!mix.Open(mixPath) || mix.channels != 2) {
        std::printf("check: %s is not a 24-bit stereo WAV file\n", mixPath.c_str());
        return 1;
    }
    std::vector<WavReader> tracks(kTracks);
    int64_t frames = 0;
    for (int k = 0; k < kTracks; ++k) {
        if (!tracks[k].Open(dir + "/" + TrackName(k)) || tracks[k].channels != 2) {
            std::printf("check: cannot read %s\n", TrackName(k).c_str());
            return 1;
        }
        frames = std::max(frames, tracks[k].frames);
    }
    if (mix.frames != frames) {
        std::printf("check: the mix has %lld frames, the tracks %lld\n", static_cast<long long>(mix.frames),
                    static_cast<long long>(frames));
        return 1;
    }
    std::vector<unsigned char> in(static_cast<size_t>(kChunk) * 6), out(static_cast<size_t>(kChunk) * 6);
    std::vector<int64_t> sum(static_cast<size_t>(kChunk) * 2);
    int64_t wrong = 0, firstWrong = -1;
    for (int64_t at = 0; at < frames; at += kChunk) {
        const int64_t n = std::min(kChunk, frames - at);
        std::fill(sum.begin(), sum.end(), 0);
        for (int k = 0; k < kTracks; ++k) {
            const int64_t m = std::max<int64_t>(0, std::min(n, tracks[k].frames - at));
            if (std::fread(in.data(), 6, static_cast<size_t>(m), tracks[k].f) != static_cast<size_t>(m)) return 1;
            for (int64_t i = 0; i < 2 * m; ++i) sum[i] += S24(&in[3 * i]);
        }
        if (std::fread(out.data(), 6, static_cast<size_t>(n), mix.f) != static_cast<size_t>(n)) return 1;
        for (int64_t i = 0; i < 2 * n; ++i) {
            if (S24(&out[3 * i]) != sum[i]) {
                if (firstWrong < 0) firstWrong = at + i / 2;
                ++wrong;
            }
        }
    }
    if (wrong != 0) {
        std::printf("MISMATCH: %lld samples differ from the exact sum, first at frame %lld\n",
                    static_cast<long long>(wrong), static_cast<long long>(firstWrong));
        return 1;
    }
    std::printf("exact: the plain mix equals the sum of the %d tracks (%lld frames)\n", kTracks,
                static_cast<long long>(frames));
    return 0;
}

double Now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

int Time(int runs, char** argv)
{
    std::vector<double> wall, cpu;
    long peak = 0;
    int failures = 0;
    for (int r = 0; r < runs; ++r) {
        const double t0 = Now();
        const pid_t pid = fork();
        if (pid < 0) return 1;
        if (pid == 0) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            execvp(argv[0], argv);
            _exit(127);
        }
        int status = 0;
        rusage ru{};
        wait4(pid, &status, 0, &ru);
        wall.push_back(Now() - t0);
        cpu.push_back(static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                      1e-6 * static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec));
        peak = std::max(peak, ru.ru_maxrss);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("%.4f %.4f %ld %d\n", wall[wall.size() / 2], cpu[cpu.size() / 2], peak, failures);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "gen" && argc >= 3) return Generate(argv[2], argc > 3 ? std::max(1, std::atoi(argv[3])) : 60);
    if (cmd == "check" && argc == 4) return Check(argv[2], argv[3]);
    if (cmd == "time" && argc >= 4) return Time(std::max(1, std::atoi(argv[2])), argv + 3);
    std::printf("usage: make_workload gen DIR [SECONDS] | check DIR MIX.wav | time RUNS CMD...\n");
    return 2;
}
