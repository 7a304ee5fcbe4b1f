#include <algorithm>
#include <cmath>

#include "corvale/effects/reverb.h"
#include "corvale/run/console.h"
#include "corvale/run/numeric.h"

namespace {

constexpr double kSixth = 1.0 / 6.0;
// Loaded surface values are held within +-2^59: a surface then never exceeds six
// times that (five sixths travel on per hop), far inside 64 bits. Real bus
// signals stay many orders of magnitude below.
constexpr double kLoadLimit = 576460752303423488.0;

struct Transfer {
    int from, to;   // surface indices 0..5 (surfaces 1..6)
    int64_t delay;
};

// Straight-line delay between the reflection points of two surfaces.
int64_t PairDistance(int64_t a, int64_t b)
{
    const int64_t squares = a * a + b * b;
    return Trunc64(std::sqrt(static_cast<double>(squares)));
}

bool PositionValid(float v) { return v >= 0.0f && v <= 100.0f; }

// The delay of every ordered pair (X, Y), X != Y, in ascending order.
void Transfers(const RecursiveReverbState& s, Transfer out[30])
{
    const int64_t pair[6][6] = {
        {0, s.d12, s.d13, s.d14, s.d15, s.d16},
        {s.d12, 0, s.d23, s.d24, s.d25, s.d26},
        {s.d13, s.d23, 0, s.d34, s.d35, s.d36},
        {s.d14, s.d24, s.d34, 0, s.d45, s.d46},
        {s.d15, s.d25, s.d35, s.d45, 0, s.d56},
        {s.d16, s.d26, s.d36, s.d46, s.d56, 0},
    };
    int t = 0;
    for (int x = 0; x < 6; ++x)
        for (int y = 0; y < 6; ++y)
            if (x != y) out[t++] = {x, y, pair[x][y]};
}

// target = trunc(target + v), into the block or past its end into the carry.
inline void AddAt(int64_t* ret, int64_t* carry, int64_t n, int64_t p, double v)
{
    int64_t& t = p < n ? ret[p] : carry[p - n];
    t = Trunc64(static_cast<double>(t) + v);
}

// Checks the settings and fills distances and width factor of `out`; returns
// 1 after printing the reason when they are rejected.
int SetUp(RecursiveReverbState& out, int64_t n, double rate, float size, float x, float y,
          float z, float width)
{
    if (!PositionValid(x) || !PositionValid(y) || !PositionValid(z)) {
        std::fprintf(g_console, "Illegal value for reverb position parameter\n");
        return 1;
    }
    if (!(size >= 0.0f)) {
        std::fprintf(g_console, "Illegal value for reverb room size\n");
        return 1;
    }

    const RoomDistances room = ComputeRoom(rate, size, x, y, z);
    out.d1 = room.front;
    out.d2 = room.left;
    out.d3 = room.right;
    out.d4 = room.rear;
    out.d5 = room.floor;
    out.d6 = room.ceiling;
    // Every pair distance is at least as long as both of its surfaces, so the
    // surfaces are checked first and the squares below cannot overflow.
    for (int64_t d : {out.d1, out.d2, out.d3, out.d4, out.d5, out.d6}) {
        if (d >= n) {
            std::fprintf(g_console, "Please reduce room size in reverb!\n");
            return 1;
        }
    }
    out.d12 = PairDistance(out.d1, out.d2);
    out.d13 = PairDistance(out.d1, out.d3);
    out.d14 = PairDistance(out.d1, out.d4);
    out.d15 = PairDistance(out.d1, out.d5);
    out.d16 = PairDistance(out.d1, out.d6);
    out.d23 = PairDistance(out.d2, out.d3);
    out.d24 = PairDistance(out.d2, out.d4);
    out.d25 = PairDistance(out.d2, out.d5);
    out.d26 = PairDistance(out.d2, out.d6);
    out.d34 = PairDistance(out.d3, out.d4);
    out.d35 = PairDistance(out.d3, out.d5);
    out.d36 = PairDistance(out.d3, out.d6);
    out.d45 = PairDistance(out.d4, out.d5);
    out.d46 = PairDistance(out.d4, out.d6);
    out.d56 = PairDistance(out.d5, out.d6);
    for (int64_t d : {out.d12, out.d13, out.d14, out.d15, out.d16, out.d23, out.d24, out.d25,
                      out.d26, out.d34, out.d35, out.d36, out.d45, out.d46, out.d56}) {
        if (d >= n) {
            std::fprintf(g_console, "Please reduce room size in reverb!\n");
            return 1;
        }
    }

    // A width that is not a number counts as 0, like one below the range.
    float w = width;
    if (!(w >= 0.0f)) w = 0.0f;
    if (w > 100.0f) w = 100.0f;
    out.Width = (100.0f - w) / 100.0f;
    return 0;
}

}  // namespace

int CheckRecursiveReverbSettings(int64_t n, double rate, float size, float x, float y, float z, float width)
{
    constexpr int64_t cap = RecursiveReverbState::kCapacity;
    if (n > cap) n = cap;
    if (n < 0) n = 0;
    RecursiveReverbState scratch;   // distances only: the buffers stay empty
    return SetUp(scratch, n, rate, size, x, y, z, width);
}

int RecurseReverb(RecursiveReverbState& s, int64_t n, double rate, const double* sendLeft,
                  const double* sendRight, float size, int64_t* carryLeft, int64_t* carryRight,
                  int64_t* returnLeft, int64_t* returnRight, float x, float y, float z,
                  float width)
{
    constexpr int64_t cap = RecursiveReverbState::kCapacity;
    if (n > cap) n = cap;   // the surface and spill buffers hold one block
    if (n < 0) n = 0;

    if (s.firstFlag == 1) {
        RecursiveReverbState built;
        if (SetUp(built, n, rate, size, x, y, z, width) != 0) return 1;
        // Commit: distances and width, then the buffers (taken once per run).
        for (int k = 0; k < 6; ++k) {
            built.surf[k] = std::move(s.surf[k]);
            built.spill[k] = std::move(s.spill[k]);
            if (built.surf[k].size() != static_cast<size_t>(cap)) built.surf[k].assign(cap, 0);
            if (built.spill[k].size() != static_cast<size_t>(cap)) built.spill[k].assign(cap, 0);
            std::fill(built.spill[k].begin(), built.spill[k].begin() + n, 0);
        }
        built.firstFlag = 0;
        s = std::move(built);
    }

    int64_t* surf[6];
    int64_t* spill[6];
    for (int k = 0; k < 6; ++k) {
        surf[k] = s.surf[k].data();
        spill[k] = s.spill[k].data();
    }

    // Load: the tail carried from the last block plus this block's send.
    // Surfaces 1, 2, 5 take the left send, 3, 4, 6 the right.
    const double* feed[6] = {sendLeft, sendLeft, sendRight, sendRight, sendLeft, sendRight};
    for (int k = 0; k < 6; ++k) {
        for (int64_t i = 0; i < n; ++i) {
            const double v = static_cast<double>(spill[k][i]) + feed[k][i];
            surf[k][i] = Trunc64(std::clamp(v, -kLoadLimit, kLoadLimit));
            spill[k][i] = 0;
        }
    }

    // Recurse: each surface hands a sixth of its value at i to every other
    // surface after the distance between them. Integer additions commute, so
    // only the split between block and spill needs care.
    Transfer tr[30];
    Transfers(s, tr);
    int64_t longest = 0;
    for (const Transfer& t : tr) longest = std::max(longest, t.delay);
    for (int64_t i = 0; i < n; ++i) {
        int64_t part[6];
        for (int k = 0; k < 6; ++k)
            part[k] = static_cast<int64_t>(static_cast<double>(surf[k][i]) * kSixth);
        if (i + longest < n) {
            for (const Transfer& t : tr) surf[t.to][i + t.delay] += part[t.from];
        } else {
            for (const Transfer& t : tr) {
                const int64_t p = i + t.delay;
                if (p < n)
                    surf[t.to][p] += part[t.from];
                else
                    spill[t.to][p - n] += part[t.from];
            }
        }
    }

    // Listen: each surface a quarter loud after its own distance. Surfaces
    // 1 and 5 lean right, 4 and 6 lean left by the width factor; the side walls
    // feed their own side only.
    const double wf = static_cast<double>(s.Width);
    for (int64_t i = 0; i < n; ++i) {
        double v = static_cast<double>(surf[0][i]) * 0.25;   // front wall
        AddAt(returnLeft, carryLeft, n, s.d1 + i, v * wf);
        AddAt(returnRight, carryRight, n, s.d1 + i, v);
        v = static_cast<double>(surf[3][i]) * 0.25;          // rear wall
        AddAt(returnLeft, carryLeft, n, s.d4 + i, v);
        AddAt(returnRight, carryRight, n, s.d4 + i, v * wf);
        v = static_cast<double>(surf[4][i]) * 0.25;          // floor
        AddAt(returnLeft, carryLeft, n, s.d5 + i, v * wf);
        AddAt(returnRight, carryRight, n, s.d5 + i, v);
        v = static_cast<double>(surf[5][i]) * 0.25;          // ceiling
        AddAt(returnLeft, carryLeft, n, s.d6 + i, v);
        AddAt(returnRight, carryRight, n, s.d6 + i, v * wf);
        v = static_cast<double>(surf[1][i]) * 0.25;          // left wall
        AddAt(returnLeft, carryLeft, n, s.d2 + i, v);
        v = static_cast<double>(surf[2][i]) * 0.25;          // right wall
        AddAt(returnRight, carryRight, n, s.d3 + i, v);
    }
    return 0;
}
