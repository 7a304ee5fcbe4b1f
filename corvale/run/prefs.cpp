#include "corvale/run/prefs.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "corvale/run/console.h"
#include "corvale/run/control_file.h"
#include "corvale/run/limits.h"
#include "corvale/run/numeric.h"
#include "corvale/run/text.h"

namespace {

// A text value (the rest of the line or one field, by delims), last occurrence
// wins. Returns false after a message when a value is longer than maxLen.
bool ReadText(const ControlFile& file, const char* key, const char* delims, size_t maxLen, std::string& value,
              bool& set)
{
    bool ok = true;
    ScanPrefs(file, key, [&](Tokens& t) {
        const char* v = t.Next(delims);
        if (v == nullptr) return true;
        if (std::strlen(v) > maxLen) {
            std::fprintf(g_console, "Error: %s in preferences file is longer than %zu characters.\n", key, maxLen);
            ok = false;
            return false;
        }
        value = v;
        set = true;
        return true;
    });
    return ok;
}

// An integer of one field or of the rest of the line, last occurrence wins.
template <class Apply>
void ReadInt(const ControlFile& file, const char* key, const char* delims, Apply&& apply)
{
    ScanPrefs(file, key, [&](Tokens& t) {
        apply(AtoI(t.Next(delims)));
        return true;
    });
}

// A keyword that stands alone.
bool HasKeyword(const ControlFile& file, const char* key)
{
    bool found = false;
    ScanPrefs(file, key, [&](Tokens&) {
        found = true;
        return false;
    });
    return found;
}

int FieldCount(int v) { return v >= 1 && v <= 3 ? v : 3; }

// A seed value: 1 to 10 decimal digits, at most 4294967295.
bool ParseSeed(const char* v, uint32_t& seed)
{
    if (v == nullptr) return false;
    const size_t len = std::strlen(v);
    if (len == 0 || len > 10 || std::strspn(v, "0123456789") != len) return false;
    const unsigned long long n = std::strtoull(v, nullptr, 10);
    if (n > UINT32_MAX) return false;
    seed = static_cast<uint32_t>(n);
    return true;
}

// loudness, truepeak and stems (rest of the line; "off" and "on" are the only
// values that change anything) and seed (one field), each line in turn, so the
// last one decides. A seed out of range is warned about and the clock seeds instead.
void ReadMeterAndSeed(const ControlFile& f, Prefs& prefs)
{
    ScanPrefs(f, "loudness", [&](Tokens& t) {
        const char* v = t.Next("\n");
        prefs.loudness = !(v != nullptr && std::strcmp(v, "off") == 0);
        return true;
    });
    ScanPrefs(f, "truepeak", [&](Tokens& t) {
        const char* v = t.Next("\n");
        prefs.truePeak = v != nullptr && std::strcmp(v, "on") == 0;
        return true;
    });
    ScanPrefs(f, "stems", [&](Tokens& t) {
        const char* v = t.Next("\n");
        prefs.stems = v != nullptr && std::strcmp(v, "on") == 0;
        return true;
    });
    ScanPrefs(f, "seed", [&](Tokens& t) {
        const char* v = t.Next("\t\n");
        prefs.seedSet = ParseSeed(v, prefs.seed);
        if (!prefs.seedSet)
            std::fprintf(g_console,
                         ">> Warning: seed in the preferences file must be a whole number from 0 to 4294967295; "
                         "the dither is seeded from the clock.\n");
        return true;
    });
}

// Frame arithmetic on positions that hostile values may have pushed to the ends
// of the range: held at the range's end instead of overflowing.
int64_t SatSub(int64_t a, int64_t b)
{
    int64_t r;
    if (__builtin_sub_overflow(a, b, &r)) return b < 0 ? INT64_MAX : INT64_MIN;
    return r;
}

int64_t SatAdd(int64_t a, int64_t b)
{
    int64_t r;
    if (__builtin_add_overflow(a, b, &r)) return b < 0 ? INT64_MIN : INT64_MAX;
    return r;
}

}  // namespace

int64_t ReadTimeFields(Tokens& t, int fields, double sampleRate)
{
    float min = 0.0f, sec = 0.0f, ms = 0.0f;
    if (fields == 1) {
        sec = AtoFf(t.Next("\n"));
    } else if (fields == 2) {
        min = AtoFf(t.Next("\t"));
        sec = AtoFf(t.Next("\n"));
    } else {
        min = AtoFf(t.Next("\t"));
        sec = AtoFf(t.Next("\t"));
        ms = AtoFf(t.Next("\n"));
    }
    const double seconds = static_cast<double>(min) * 60.0 + static_cast<double>(sec) +
                           static_cast<double>(ms) / 1000.0;
    return Trunc64(seconds * sampleRate);
}

int ReadVerbo(const ControlFile& prefsFile)
{
    int verbo = 2;
    ReadInt(prefsFile, "verbo", "\t\n", [&](int v) { verbo = v; });
    return verbo;
}

int ReadEarlyPrefs(const ControlFile& prefsFile, Prefs& prefs)
{
    const ControlFile& f = prefsFile;
    prefs.verbo = ReadVerbo(f);
    if (!ReadText(f, "mixdir", "\n", kPathMax, prefs.mixdir, prefs.mixdirSet)) return 2;
    if (!ReadText(f, "predir", "\n", kPathMax, prefs.predir, prefs.predirSet)) return 2;
    if (!ReadText(f, "bakdir", "\n", kPathMax, prefs.bakdir, prefs.bakdirSet)) return 2;
    if (!ReadText(f, "wavdir", "\n", kPathMax, prefs.wavdir, prefs.wavdirSet)) return 2;
    ReadInt(f, "tlist", "\t\n", [&](int v) {
        if (v == 0 || v == 1) prefs.tlist = v;
    });
    if (HasKeyword(f, "tlist=tab")) prefs.tlistTab = true;
    return 0;
}

namespace {

// Preview mode: the first "pre" with a value decides; "start" and "length" are
// read from the tokens after its line. Returns 0 or the exit status of a bad start.
int ReadPreview(const ControlFile& file, int64_t songLength, double sampleRate, Prefs& prefs, bool& lengthSet,
                int64_t& start, int64_t& length)
{
    bool found = false;
    int status = 0;
    ScanPrefs(file, "pre", [&](Tokens& t) {
        found = true;
        const char* v = t.Next("\n");
        if (v == nullptr || std::strcmp(v, "on") != 0) return false;
        prefs.preview = true;
        if (prefs.predirSet)
            prefs.outName = prefs.predir + "preview.wav";
        else if (prefs.mixdirSet)
            prefs.outName = prefs.mixdir + "preview.wav";
        else
            prefs.outName = "preview.wav";
        if (prefs.verbo == 2) std::fprintf(g_console, "Running in Preview Mode\n");
        WalkPrefs(
            t, {"start", "length"},
            [&](const char* key, Tokens& tt) {
                if (std::strcmp(key, "length") == 0) {
                    length = Trunc64(AtoF(tt.Next("\n")) * sampleRate);
                    lengthSet = true;
                    return true;
                }
                start = ReadTimeFields(tt, prefs.sfields, sampleRate);
                if (start > songLength) {
                    std::fprintf(g_console, "Error: Preview start time in preferences file exceeds song length\n");
                    status = 2;
                    return false;
                }
                if (start < 0) {
                    std::fprintf(g_console, "Error: Preview start time in preferences is less than zero.\n");
                    status = 2;
                    return false;
                }
                return true;
            },
            PrefsScan{&file.prefsNotes});
        return false;
    });
    if (!found) std::fprintf(g_console, "Preview mode not specified.\n");
    return status;
}

// head or tail in frames: seconds x rate in single precision, rounded down,
// used only from 2 frames up to below the song length.
int64_t TrimFrames(float seconds, double sampleRate, int64_t songLength)
{
    const float frames = std::floor(seconds * static_cast<float>(sampleRate));
    const int64_t n = Trunc64(static_cast<double>(frames));
    return n >= 2 && n < songLength ? n : 0;
}

}  // namespace

int ReadLatePrefs(const ControlFile& prefsFile, const std::string& title, int64_t songLength,
                  double sampleRate, Prefs& prefs)
{
    const ControlFile& f = prefsFile;

    if (!ReadText(f, "oname", "\n", kPathMax, prefs.oname, prefs.onameSet)) return 2;
    prefs.mixName = prefs.onameSet ? prefs.oname : title;
    if (prefs.mixName.size() > static_cast<size_t>(kPathMax)) {
        std::fprintf(g_console, "Error: the mix title is longer than %i characters; set oname in the preferences file.\n",
                     kPathMax);
        return 2;
    }
    prefs.outName = (prefs.mixdirSet ? prefs.mixdir : std::string()) + prefs.mixName + ".wav";

    ReadInt(f, "sfields", "\n", [&](int v) { prefs.sfields = FieldCount(v); });
    if (prefs.verbo == 2) std::fprintf(g_console, "Checking Preferences...\n");

    bool lengthSet = false;
    int64_t previewStart = 0, previewLength = 0;
    if (const int status = ReadPreview(f, songLength, sampleRate, prefs, lengthSet, previewStart, previewLength))
        return status;

    ReadInt(f, "xfields", "\n", [&](int v) { prefs.xfields = FieldCount(v); });

    int64_t start = 0, count = 0, head = 0, tail = 0;
    if (prefs.preview) {
        start = previewStart;
        count = lengthSet ? previewLength : songLength;
    } else {
        float headSec = 0.0f, tailSec = 0.0f;
        ScanPrefs(f, "head", [&](Tokens& t) {
            headSec = AtoFf(t.Next("\t\n"));
            return true;
        });
        ScanPrefs(f, "tail", [&](Tokens& t) {
            tailSec = AtoFf(t.Next("\t\n"));
            return true;
        });
        int64_t xin = 0, xout = 0;
        bool xoutSet = false;
        ScanPrefs(f, "xin", [&](Tokens& t) {
            xin = ReadTimeFields(t, prefs.xfields, sampleRate);
            return true;
        });
        ScanPrefs(f, "xout", [&](Tokens& t) {
            xout = ReadTimeFields(t, prefs.xfields, sampleRate);
            xoutSet = true;
            return true;
        });
        prefs.xinPoint = xin;
        start = xin;
        count = xoutSet ? SatSub(xout, xin) : SatSub(songLength, xin);
        head = TrimFrames(headSec, sampleRate, songLength);
        tail = TrimFrames(tailSec, sampleRate, songLength);
    }
    count = SatSub(SatSub(count, head), tail);
    start = SatAdd(start, head);
    if (count < 0 || start < 0 || (!prefs.preview && start >= songLength)) {
        std::fprintf(g_console, "Head or tail set incorrectly in preferences!\n");
        return 2;
    }
    prefs.renderStart = start;
    prefs.renderCount = count;

    if (HasKeyword(f, "v=percent")) {
        prefs.percent = true;
        if (prefs.verbo == 2) std::fprintf(g_console, "Faders using percent.\n");
    }
    if (HasKeyword(f, "tempo")) {
        prefs.tempo = true;
        if (prefs.verbo == 2) std::fprintf(g_console, "Tempo mode on.\n");
    }
    if (!ReadText(f, "launch", "\t\n", kNameMax, prefs.launch, prefs.launchSet)) return 2;
    // Alone on its line "mono" reads as 0 dB.
    ScanPrefs(f, "mono", [&](Tokens& t) {
        float g = dBtoRatio(AtoFf(t.Next("\n")), 1.0f);
        if (!(g >= 0.125f && g <= 1.0f)) g = 0.5f;
        prefs.mono = true;
        prefs.monoGain = g;
        return true;
    });
    ScanPrefs(f, "dbps", [&](Tokens& t) {
        // A rate that is not a finite number counts as "0 or less": the default rate.
        const double v = AtoF(t.Next("\n"));
        prefs.dbps = std::isfinite(v) ? v : 0.0;
        return true;
    });
    ReadInt(f, "dither", "\n", [&](int v) {
        if (v >= 0 && v <= 8)
            prefs.dither = v;
        else
            std::fprintf(g_console, "Dither is set out of range (0-8)\n");
    });
    int bits = 24;
    CodetoInt(f.body(), "outbits", bits, &f.prefsNotes);
    prefs.outbits = bits == 16 ? 16 : 24;
    ReadMeterAndSeed(f, prefs);
    return 0;
}

// The data size of a WAV file and its header fields are 32-bit: refuses a
// render whose data (+ 36) would not fit, saying how long a render may be.
bool RenderFitsWav(const Prefs& prefs, double sampleRate)
{
    const uint64_t frameBytes = static_cast<uint64_t>(prefs.outbits / 8) * (prefs.mono ? 1u : 2u);
    const uint64_t maxFrames = (UINT32_MAX - 36u) / frameBytes;
    if (prefs.renderCount >= 0 && static_cast<uint64_t>(prefs.renderCount) <= maxFrames) return true;
    std::fprintf(g_console,
                 "Error: the render is too long for a WAV file. The longest render possible at %i bits %s is "
                 "%llu frames (%.2f seconds).\n",
                 prefs.outbits, prefs.mono ? "mono" : "stereo", static_cast<unsigned long long>(maxFrames),
                 static_cast<double>(maxFrames) / sampleRate);
    return false;
}
