#include "corvale/effects/dynamics.h"

#include <climits>
#include <cmath>

namespace {

constexpr double kPi = 6.283185307179586 / 2;
constexpr double kHalfPi = kPi / 2;
constexpr double kFloor = 0.0001;

inline double Magnitude(double x)
{
    const double a = std::fabs(x);
    return a < kFloor ? kFloor : a;
}

inline double Sign(double x) { return x >= 0.0 ? 1.0 : -1.0; }

// Adds one sample to an open window: the square is taken in double and the
// sum kept in single precision.
inline void Accumulate(float& squares, float& count, double a)
{
    squares = static_cast<float>(static_cast<double>(squares) + a * a);
    count = count + 1.0f;
}

// RMS of the open window; the quotient in single precision, the root in double.
inline float WindowRms(float squares, float count)
{
    return static_cast<float>(std::sqrt(static_cast<double>(squares / count)));
}

inline void CountQuiet(int& pass, bool quiet)
{
    if (!quiet)
        pass = 0;
    else if (pass < INT_MAX)
        ++pass;
}

// The quarter-sine gain of the attack and release stages for counter k of length
// len; both sides of a frame share it, so it is computed once per frame.
inline double StageGain(int64_t k, int64_t len)
{
    return std::sin(static_cast<double>(k) * kHalfPi / static_cast<double>(len));
}

// Output of the attack and release stages for the stage gain g.
inline double AttackOut(double a, double ratio, double g) { return a - (a - a / ratio) * g; }

inline double ReleaseOut(double a, double ratio, double g) { return (a - a / ratio) * g + a / ratio; }

}  // namespace

void RMSCOMPRESSOR(RmsCompHistory& h, int slot, int* state, int64_t n, double* left, double* right,
                   int64_t attack, int64_t release, double ratio, int64_t threshold, int* initFlag)
{
    if (n < 1 || slot < 0 || slot >= kValueSlots || !state || !initFlag) return;
    if (*initFlag == 0) {
        h.rmsL[slot] = h.rmsR[slot] = 0.0f;
        h.squaresL[slot] = h.squaresR[slot] = 0.0f;
        h.intervalL[slot] = h.intervalR[slot] = 0.0f;
        h.oldpolarL[slot] = h.oldpolarR[slot] = 0.0;
        *initFlag = 1;
    }
    float sqL = h.squaresL[slot], sqR = h.squaresR[slot];
    float cntL = h.intervalL[slot], cntR = h.intervalR[slot];
    float rmsL = h.rmsL[slot], rmsR = h.rmsR[slot];
    double polL = h.oldpolarL[slot], polR = h.oldpolarR[slot];
    int64_t attackCount = h.attackCount[slot], releaseCount = h.releaseCount[slot];
    int passTL = h.passTL[slot], passTR = h.passTR[slot];
    int st = *state;

    const float thr = static_cast<float>(threshold);
    const double half = static_cast<double>(threshold) * 0.5;

    for (int64_t i = 0; i < n; ++i) {
        const double aL = Magnitude(left[i]), sL = Sign(left[i]);
        const double aR = Magnitude(right[i]), sR = Sign(right[i]);

        Accumulate(sqL, cntL, aL);
        const bool closeL = sL != polL;
        if (closeL) {
            rmsL = WindowRms(sqL, cntL);
            sqL = cntL = 0.0f;
        }
        polL = sL;
        Accumulate(sqR, cntR, aR);
        const bool closeR = sR != polR;
        if (closeR) {
            rmsR = WindowRms(sqR, cntR);
            sqR = cntR = 0.0f;
        }
        polR = sR;

        if (st == 1) {
            if (!(rmsL > thr || rmsR > thr)) continue;
            st = 2;
            attackCount = 1;
            releaseCount = 1;
            passTL = passTR = 0;
        }
        if (st == 2) {
            const int64_t k = attackCount;
            const double g = StageGain(k, attack);
            left[i] = AttackOut(aL, ratio, g) * sL;
            right[i] = AttackOut(aR, ratio, g) * sR;
            if (k < attack)
                attackCount = k + 1;
            else
                st = 3;
        } else if (st == 3) {
            left[i] = aL / ratio * sL;
            right[i] = aR / ratio * sR;
            if (closeL) CountQuiet(passTL, rmsL < half);
            if (closeR) CountQuiet(passTR, rmsR < half);
            if (passTL > 3 && passTR > 3) st = 4;
        } else if (st == 4) {
            const int64_t k = releaseCount;
            const double g = StageGain(k, release);
            left[i] = ReleaseOut(aL, ratio, g) * sL;
            right[i] = ReleaseOut(aR, ratio, g) * sR;
            if (rmsL < thr && rmsR < thr)
                releaseCount = k + 1;
            else if (k > 0)
                releaseCount = k - 1;
            if (releaseCount > release) st = 1;
        }
    }

    h.squaresL[slot] = sqL;
    h.squaresR[slot] = sqR;
    h.intervalL[slot] = cntL;
    h.intervalR[slot] = cntR;
    h.rmsL[slot] = rmsL;
    h.rmsR[slot] = rmsR;
    h.oldpolarL[slot] = polL;
    h.oldpolarR[slot] = polR;
    h.attackCount[slot] = attackCount;
    h.releaseCount[slot] = releaseCount;
    h.passTL[slot] = passTL;
    h.passTR[slot] = passTR;
    *state = st;
}

void PEAKCOMPRESSOR(PeakCompHistory& h, int slot, int* state, int64_t n, double* left,
                    double* right, int64_t attack, int64_t release, double ratio,
                    int64_t threshold)
{
    if (n < 1 || slot < 0 || slot >= kValueSlots || !state) return;
    double newL = h.newpeakL[slot], newR = h.newpeakR[slot];
    double oldL = h.oldpeakL[slot], oldR = h.oldpeakR[slot];
    double polL = h.oldpolarL[slot], polR = h.oldpolarR[slot];
    int64_t attackCount = h.attackCount[slot], releaseCount = h.releaseCount[slot];
    int passTL = h.passTL[slot], passTR = h.passTR[slot];
    int st = *state;

    const float thr = static_cast<float>(threshold);
    const double half = static_cast<double>(threshold) * 0.5;

    for (int64_t i = 0; i < n; ++i) {
        const double aL = Magnitude(left[i]), sL = Sign(left[i]);
        const double aR = Magnitude(right[i]), sR = Sign(right[i]);
        const bool changeL = sL != polL, changeR = sR != polR;
        polL = sL;
        polR = sR;

        if (st == 1) {
            if (!(aL > thr || aR > thr)) continue;
            st = 2;
            attackCount = 1;
            releaseCount = 1;
            passTL = passTR = 0;
            newL = newR = oldL = oldR = 0.0;
        }
        if (st < 2 || st > 4) continue;
        if (aL > newL) newL = aL;
        if (aR > newR) newR = aR;

        if (st == 2) {
            const int64_t k = attackCount;
            const double g = StageGain(k, attack);
            left[i] = AttackOut(aL, ratio, g) * sL;
            right[i] = AttackOut(aR, ratio, g) * sR;
            if (k < attack)
                attackCount = k + 1;
            else
                st = 3;
        } else if (st == 3) {
            left[i] = aL / ratio * sL;
            right[i] = aR / ratio * sR;
            if (changeL) {
                CountQuiet(passTL, newL < half);
                oldL = newL;
                newL = 0.0;
            }
            if (changeR) {
                CountQuiet(passTR, newR < half);
                oldR = newR;
                newR = 0.0;
            }
            if (passTL > 3 && passTR > 3) st = 4;
        } else {
            if (changeL) {
                oldL = newL;
                newL = 0.0;
            }
            if (changeR) {
                oldR = newR;
                newR = 0.0;
            }
            const int64_t k = releaseCount;
            const double g = StageGain(k, release);
            left[i] = ReleaseOut(aL, ratio, g) * sL;
            right[i] = ReleaseOut(aR, ratio, g) * sR;
            if (oldL < thr && oldR < thr)
                releaseCount = k + 1;
            else if (k > 0)
                releaseCount = k - 1;
            if (releaseCount > release) st = 1;
        }
    }

    h.newpeakL[slot] = newL;
    h.newpeakR[slot] = newR;
    h.oldpeakL[slot] = oldL;
    h.oldpeakR[slot] = oldR;
    h.oldpolarL[slot] = polL;
    h.oldpolarR[slot] = polR;
    h.attackCount[slot] = attackCount;
    h.releaseCount[slot] = releaseCount;
    h.passTL[slot] = passTL;
    h.passTR[slot] = passTR;
    *state = st;
}

namespace {

// One side of the non-linear compressor, loaded from and stored to the slot's tables.
struct NlcSide {
    float squares, count, rms, old, older;
    int polar;
    double gamma, grand;
};

// Adds a sample to the side's window and, at a sign change past the window
// length, closes it and returns true with the side's new gamma.
inline bool NlcMeasure(NlcSide& s, double a, int sign, float window, float thr, double ratio)
{
    Accumulate(s.squares, s.count, a);
    const bool close = sign != s.polar && s.count > window;
    s.polar = sign;
    if (!close) return false;
    s.older = s.old;
    s.old = s.rms;
    s.rms = WindowRms(s.squares, s.count);
    s.squares = s.count = 0.0f;
    const float avg = (s.older + 2.0f * s.old + 3.0f * s.rms) / 6.0f;
    const float d = thr / avg;
    const double dd = static_cast<double>(d);
    s.gamma = dd + (1.0 - dd) / ratio;
    return true;
}

inline double Applied(double gammaL, double gammaR)
{
    const double g = 0.5 * gammaL + 0.5 * gammaR;
    return g < 1.0 ? g : 1.0;
}

}  // namespace

void NonLinCOMP(NlcHistory& h, int slot, int64_t n, double* left, double* right, int64_t window,
                double ratio, int64_t threshold, int* initFlag)
{
    if (n < 1 || slot < 0 || slot >= kValueSlots || !initFlag) return;
    if (*initFlag == 0) {
        h.rmsL[slot] = h.rmsR[slot] = 0.0f;
        h.oldrmsL[slot][0] = h.oldrmsL[slot][1] = 0.0f;
        h.oldrmsR[slot][0] = h.oldrmsR[slot][1] = 0.0f;
        h.squaresL[slot] = h.squaresR[slot] = 0.0f;
        h.intervalL[slot] = h.intervalR[slot] = 0.0f;
        h.oldpolarL[slot] = h.oldpolarR[slot] = 0;
        h.gammaL[slot] = h.gammaR[slot] = 1.0;
        h.GrandGammaL[slot] = h.GrandGammaR[slot] = 1.0;
        *initFlag = 1;
    }
    NlcSide l{h.squaresL[slot], h.intervalL[slot], h.rmsL[slot], h.oldrmsL[slot][0],
              h.oldrmsL[slot][1], h.oldpolarL[slot], h.gammaL[slot], h.GrandGammaL[slot]};
    NlcSide r{h.squaresR[slot], h.intervalR[slot], h.rmsR[slot], h.oldrmsR[slot][0],
              h.oldrmsR[slot][1], h.oldpolarR[slot], h.gammaR[slot], h.GrandGammaR[slot]};

    // The count is a float and is compared with the window in single precision.
    const float win = static_cast<float>(window);
    const float thr = static_cast<float>(threshold);

    for (int64_t i = 0; i < n; ++i) {
        const double aL = Magnitude(left[i]);
        const int sL = left[i] >= 0.0 ? 1 : -1;
        if (NlcMeasure(l, aL, sL, win, thr, ratio)) l.grand = Applied(l.gamma, r.gamma);
        left[i] = static_cast<double>(sL) * aL * l.grand;

        const double aR = Magnitude(right[i]);
        const int sR = right[i] >= 0.0 ? 1 : -1;
        if (NlcMeasure(r, aR, sR, win, thr, ratio)) r.grand = Applied(l.gamma, r.gamma);
        right[i] = static_cast<double>(sR) * aR * r.grand;
    }

    h.squaresL[slot] = l.squares;
    h.intervalL[slot] = l.count;
    h.rmsL[slot] = l.rms;
    h.oldrmsL[slot][0] = l.old;
    h.oldrmsL[slot][1] = l.older;
    h.oldpolarL[slot] = l.polar;
    h.gammaL[slot] = l.gamma;
    h.GrandGammaL[slot] = l.grand;
    h.squaresR[slot] = r.squares;
    h.intervalR[slot] = r.count;
    h.rmsR[slot] = r.rms;
    h.oldrmsR[slot][0] = r.old;
    h.oldrmsR[slot][1] = r.older;
    h.oldpolarR[slot] = r.polar;
    h.gammaR[slot] = r.gamma;
    h.GrandGammaR[slot] = r.grand;
}

void LIMITER(int /*slot*/, int64_t n, double* left, double* right, int64_t ceiling)
{
    const double knee = static_cast<double>(ceiling) * 0.89125;
    for (int64_t i = 0; i < n; ++i) {
        double a = Magnitude(left[i]);
        if (a > knee) a = knee + (a - knee) * 0.125;
        left[i] = Sign(left[i]) * a;
        a = Magnitude(right[i]);
        if (a > knee) a = knee + (a - knee) * 0.125;
        right[i] = Sign(right[i]) * a;
    }
}

namespace {

// v x v of a 24-bit-scale sample as the single-precision addend. Products
// beyond the 64-bit range (a grossly overloaded master) are formed in double.
inline float Square(int64_t v)
{
    if (v > -3037000499LL && v < 3037000499LL) return static_cast<float>(v * v);
    const double d = static_cast<double>(v);
    return static_cast<float>(d * d);
}

inline void MasterSide(float& squares, float& count, int& polar, float& sum, float& windows,
                       int64_t sample, int64_t divisor, float minInterval)
{
    const int64_t v = sample / divisor;
    squares = squares + Square(v);
    count = count + 1.0f;
    const int sign = sample >= 0 ? 1 : -1;
    if (sign != polar && count > minInterval) {
        sum = static_cast<float>(static_cast<double>(sum) +
                                 std::sqrt(static_cast<double>(squares / count)));
        windows = windows + 1.0f;
        squares = count = 0.0f;
    }
    polar = sign;
}

}  // namespace

void MasterRMS(MasterRmsState& s, const int64_t* left, const int64_t* right, float minInterval,
               int64_t divisor, int64_t n)
{
    if (s.init == 0) {
        const MasterRmsState fresh;
        s = fresh;
        s.init = 1;
    }
    if (divisor < 1) return;
    if (divisor == 256) {
        // The usual divisor as a constant: the division becomes shifts.
        for (int64_t i = 0; i < n; ++i) {
            MasterSide(s.squaresL, s.countL, s.polarL, s.sumL, s.windowsL, left[i], int64_t{256},
                       minInterval);
            MasterSide(s.squaresR, s.countR, s.polarR, s.sumR, s.windowsR, right[i], int64_t{256},
                       minInterval);
        }
        return;
    }
    for (int64_t i = 0; i < n; ++i) {
        MasterSide(s.squaresL, s.countL, s.polarL, s.sumL, s.windowsL, left[i], divisor,
                   minInterval);
        MasterSide(s.squaresR, s.countR, s.polarR, s.sumR, s.windowsR, right[i], divisor,
                   minInterval);
    }
}
