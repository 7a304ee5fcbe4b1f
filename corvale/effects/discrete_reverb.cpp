#include <cmath>
#include <initializer_list>

#include "corvale/effects/reverb.h"
#include "corvale/run/console.h"
#include "corvale/run/numeric.h"

RoomDistances ComputeRoom(double rate, float size, float x, float y, float z)
{
    const float spf = static_cast<float>(rate / 1130.0);   // speed of sound 1130 ft/s
    const float L = spf * size;
    const float W = 0.83116f * spf * size;
    const float H = 0.64935f * spf * size;
    const float fx = x / 100.0f;
    const float fy = y / 100.0f;
    const float fz = z / 100.0f;

    RoomDistances d;
    d.front = Trunc64(static_cast<double>((1.0f - fx) * L));
    d.rear = Trunc64(static_cast<double>(fx * L));
    d.left = Trunc64(static_cast<double>(fz * W));
    d.right = Trunc64(static_cast<double>((1.0f - fz) * W));
    d.floor = Trunc64(static_cast<double>(fy * H));
    d.ceiling = Trunc64(static_cast<double>((1.0f - fy) * H));
    return d;
}

namespace {

constexpr int kMaxTaps = 11;
constexpr int64_t kDimensionLimit = 32768;

// A position outside 0..100 percent (or not a number) would put the listener
// outside the room and give negative delays.
bool PositionValid(float v) { return v >= 0.0f && v <= 100.0f; }

// target = trunc(target + v), into the block or past its end into the carry.
inline void AddAt(int64_t* ret, int64_t* carry, int64_t n, int64_t p, double v)
{
    int64_t& t = p < n ? ret[p] : carry[p - n];
    t = Trunc64(static_cast<double>(t) + v);
}

// Builds the tap tables into `out`; returns 1 after printing the reason when
// the settings are rejected (out is then incomplete and must be dropped).
int BuildTaps(DiscreteReverbState& out, int64_t capacity, double rate, float size, int taps,
              float x, float y, float z)
{
    if (!PositionValid(x) || !PositionValid(y) || !PositionValid(z)) {
        std::fprintf(g_console, ">>> Error:  Illegal value for reverb position parameter\n");
        return 1;
    }
    if (!(size >= 0.0f)) {
        std::fprintf(g_console, ">>> Error:  Illegal value for tap reverb room size\n");
        return 1;
    }

    const RoomDistances room = ComputeRoom(rate, size, x, y, z);
    // Chain order: left wall, right wall, front wall, rear wall, ceiling, floor.
    const int64_t dist[6] = {room.left, room.right, room.front, room.rear, room.ceiling, room.floor};
    int64_t* table[6] = {out.Rleft, out.Rright, out.Rfrntwall, out.Rrearwall, out.Rceil, out.Rfloor};
    for (int64_t d : dist) {
        if (d > kDimensionLimit) {
            std::fprintf(g_console, ">>> Error: A tap reverb dimension has exceeded the limit\n");
            return 1;
        }
    }

    // Tap 0 goes straight out and back; every later tap of a surface arrives
    // from the previous tap of its predecessor across the diagonal between them.
    for (int i = 0; i < 6; ++i) table[i][0] = 2 * dist[i];
    for (int k = 1; k < taps; ++k) {
        const int m = ((k - 1) % 5) + 1;
        for (int i = 0; i < 6; ++i) {
            const int p = (i + m) % 6;
            const int64_t squares = dist[p] * dist[p] + dist[i] * dist[i];
            const float diag = std::sqrt(static_cast<float>(squares));
            const float sum = static_cast<float>(table[p][k - 1] + dist[i]) + diag;
            table[i][k] = Trunc64(static_cast<double>(sum));
        }
    }

    int64_t longest = 0;
    for (int i = 0; i < 6; ++i)
        if (table[i][taps - 1] > longest) longest = table[i][taps - 1];
    if (longest >= capacity) {
        const float r = static_cast<float>(capacity) / static_cast<float>(longest);
        const int fewerTaps = Trunc32(static_cast<double>(static_cast<float>(taps) * r - 1.0f));
        const float smaller = r * size - 1.0f;
        std::fprintf(g_console,
                     ">>> Error:  Please decrease reverb tap number to %i or room length to %.0f feet\n",
                     fewerTaps, static_cast<double>(smaller));
        return 1;
    }

    for (int k = 0; k < taps; ++k) out.atten[k] = 1.0 / std::ldexp(1.0, k + 1);
    out.taps = taps;
    return 0;
}

}  // namespace

int CheckDiscreteReverbSettings(int64_t capacity, double rate, float size, int tapCount, float x, float y,
                                float z)
{
    if (tapCount > kMaxTaps) tapCount = kMaxTaps;
    if (tapCount < 1) tapCount = 1;
    DiscreteReverbState scratch;
    return BuildTaps(scratch, capacity, rate, size, tapCount, x, y, z);
}

int DiscreteReverb(DiscreteReverbState& s, int64_t capacity, int64_t n, double rate,
                   const double* sendLeft, const double* sendRight, float size,
                   int64_t* carryLeft, int64_t* carryRight, int64_t* returnLeft,
                   int64_t* returnRight, int& tapCount, float x, float y, float z)
{
    if (s.firstFlag == 1) {
        if (tapCount > kMaxTaps) tapCount = kMaxTaps;
        if (tapCount < 1) tapCount = 1;
        DiscreteReverbState built;
        if (BuildTaps(built, capacity, rate, size, tapCount, x, y, z) != 0) return 1;
        built.firstFlag = 0;
        s = built;
    }
    if (n > capacity) n = capacity;   // the buffers hold one block

    const int taps = s.taps;
    double tapL[kMaxTaps], tapR[kMaxTaps];
    for (int64_t i = 0; i < n; ++i) {
        for (int k = 0; k < taps; ++k) {
            tapL[k] = sendLeft[i] * s.atten[k];
            tapR[k] = sendRight[i] * s.atten[k];
        }
        for (int k = 0; k < taps; ++k)
            AddAt(returnLeft, carryLeft, n, s.Rleft[k] + i, tapL[k]);
        for (int k = 0; k < taps; ++k)
            AddAt(returnRight, carryRight, n, s.Rright[k] + i, tapR[k]);
        for (const int64_t* delays : {s.Rfloor, s.Rceil, s.Rfrntwall, s.Rrearwall}) {
            for (int k = 0; k < taps; ++k) {
                const int64_t p = delays[k] + i;
                AddAt(returnLeft, carryLeft, n, p, tapL[k]);
                AddAt(returnRight, carryRight, n, p, tapR[k]);
            }
        }
    }
    return 0;
}
