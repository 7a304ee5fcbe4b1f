#include "corvale/effects/filters.h"

namespace {

constexpr double kFloor = 0.0001;

void DenormalSide(double* x, int64_t n)
{
    for (int64_t i = 0; i < n; ++i) {
        const double v = x[i];
        if (v >= 0.0 && v < kFloor)
            x[i] = kFloor;
        else if (v < 0.0 && v > -kFloor)
            x[i] = -kFloor;
    }
}

// The Denormal replacement of one value.
inline double Floor(double v)
{
    if (v >= 0.0 && v < kFloor) return kFloor;
    if (v < 0.0 && v > -kFloor) return -kFloor;
    return v;
}

// History of one biquad side: x1, x2 inputs and y1, y2 outputs.
struct Side {
    double x1, x2, y1, y2;
};

struct Coeffs {
    double b0, b1, b2, a1, a2;
};

inline double Step(const Coeffs& c, Side& s, double x)
{
    const double y = c.b0 * x + c.b1 * s.x1 + c.b2 * s.x2 - c.a1 * s.y1 - c.a2 * s.y2;
    s.y2 = s.y1;
    s.y1 = y;
    s.x2 = s.x1;
    s.x1 = x;
    return y;
}

// The biquad loop shared by EQ and Rev_EQ. State 0 seeds from sample 0,
// state 1 from samples 0 and 1 of the buffer; both leave their sample as it is.
void RunBiquad(int64_t n, double* left, double* right, const Coeffs& c, Side& l, Side& r,
               int& flag)
{
    if (flag >= 2) {
        // A running section: the Denormal replacement of each sample as it is
        // read, then the difference equation, in one pass.
        for (int64_t i = 0; i < n; ++i) {
            left[i] = Step(c, l, Floor(left[i]));
            right[i] = Step(c, r, Floor(right[i]));
        }
        return;
    }
    Denormal(left, right, n);
    for (int64_t i = 0; i < n; ++i) {
        if (flag == 0) {
            l = Side{left[0], 0.0, left[0], 0.0};
            r = Side{right[0], 0.0, right[0], 0.0};
            flag = 1;
        } else if (flag == 1) {
            // A section that starts in a one-frame block has no sample 1 in
            // this block; the block's only sample stands in for it.
            const int64_t k = n > 1 ? 1 : 0;
            l = Side{left[k], left[0], left[k], left[0]};
            r = Side{right[k], right[0], right[k], right[0]};
            flag = 2;
        } else {
            left[i] = Step(c, l, left[i]);
            right[i] = Step(c, r, right[i]);
        }
    }
}

}  // namespace

void Denormal(double* left, double* right, int64_t n)
{
    if (n < 1) return;
    DenormalSide(left, n);
    DenormalSide(right, n);
}

// One step of the one-pole high-pass: c2 times the input difference plus c1
// times the previous output; x1 and y1 move on to this sample.
inline double HpStep(double x, double& x1, double& y1, double c1, double c2)
{
    const double y = c2 * (x - x1) + c1 * y1;
    x1 = x;
    y1 = y;
    return y;
}

void HPF(HpfHistory& h, int64_t n, int slot, double* left, double* right, double c1, double c2,
         int* initFlags)
{
    if (n < 1 || slot < 0 || slot >= kValueSlots) return;
    double xl = h.OldXL[slot], xr = h.OldXR[slot];
    double yl = h.OldYL[slot], yr = h.OldYR[slot];
    int& flag = initFlags[slot];
    if (flag != 0) {
        // A running filter: the Denormal replacement as each sample is read.
        for (int64_t i = 0; i < n; ++i) {
            left[i] = HpStep(Floor(left[i]), xl, yl, c1, c2);
            right[i] = HpStep(Floor(right[i]), xr, yr, c1, c2);
        }
        h.OldXL[slot] = xl;
        h.OldXR[slot] = xr;
        h.OldYL[slot] = yl;
        h.OldYR[slot] = yr;
        return;
    }
    Denormal(left, right, n);
    for (int64_t i = 0; i < n; ++i) {
        if (flag == 0) {
            xl = yl = left[0];
            xr = yr = right[0];
            flag = 1;
            continue;
        }
        left[i] = HpStep(left[i], xl, yl, c1, c2);
        right[i] = HpStep(right[i], xr, yr, c1, c2);
    }
    h.OldXL[slot] = xl;
    h.OldXR[slot] = xr;
    h.OldYL[slot] = yl;
    h.OldYR[slot] = yr;
}

void EQ(EqHistory& h, int64_t n, int slot, int section, double* left, double* right, double b0,
        double b1, double b2, double a1, double a2, int* initFlags)
{
    if (n < 1 || slot < 0 || slot >= kValueSlots || section < 0 || section > 7) return;
    const int s = section;
    Side l{h.in1L[slot][s], h.in2L[slot][s], h.out1L[slot][s], h.out2L[slot][s]};
    Side r{h.in1R[slot][s], h.in2R[slot][s], h.out1R[slot][s], h.out2R[slot][s]};
    RunBiquad(n, left, right, Coeffs{b0, b1, b2, a1, a2}, l, r, initFlags[s * kSlots + slot]);
    h.in1L[slot][s] = l.x1;
    h.in2L[slot][s] = l.x2;
    h.out1L[slot][s] = l.y1;
    h.out2L[slot][s] = l.y2;
    h.in1R[slot][s] = r.x1;
    h.in2R[slot][s] = r.x2;
    h.out1R[slot][s] = r.y1;
    h.out2R[slot][s] = r.y2;
}

void Rev_EQ(RevEqHistory& h, int64_t n, int filter, double* left, double* right, double b0,
            double b1, double b2, double a1, double a2, int* initFlags)
{
    if (n < 1 || filter < 0 || filter > 3) return;
    const int f = filter;
    Side l{h.in1L[f], h.in2L[f], h.out1L[f], h.out2L[f]};
    Side r{h.in1R[f], h.in2R[f], h.out1R[f], h.out2R[f]};
    RunBiquad(n, left, right, Coeffs{b0, b1, b2, a1, a2}, l, r, initFlags[f]);
    h.in1L[f] = l.x1;
    h.in2L[f] = l.x2;
    h.out1L[f] = l.y1;
    h.out2L[f] = l.y2;
    h.in1R[f] = r.x1;
    h.in2R[f] = r.x2;
    h.out1R[f] = r.y1;
    h.out2R[f] = r.y2;
}

bool HpfThenEq(HpfHistory& hp, EqHistory& eq, int64_t n, int slot, int section, double* left,
               double* right, double c1, double c2, const int* hpInit, double b0, double b1, double b2,
               double a1, double a2, const int* eqInit)
{
    if (n < 1 || slot < 0 || slot >= kValueSlots || section < 0 || section > 7) return false;
    if (hpInit[slot] == 0 || eqInit[section * kSlots + slot] < 2) return false;
    double xl = hp.OldXL[slot], xr = hp.OldXR[slot];
    double yl = hp.OldYL[slot], yr = hp.OldYR[slot];
    const int s = section;
    Side l{eq.in1L[slot][s], eq.in2L[slot][s], eq.out1L[slot][s], eq.out2L[slot][s]};
    Side r{eq.in1R[slot][s], eq.in2R[slot][s], eq.out1R[slot][s], eq.out2R[slot][s]};
    const Coeffs c{b0, b1, b2, a1, a2};
    for (int64_t i = 0; i < n; ++i) {
        const double y0 = HpStep(Floor(left[i]), xl, yl, c1, c2);
        const double y1 = HpStep(Floor(right[i]), xr, yr, c1, c2);
        left[i] = Step(c, l, Floor(y0));
        right[i] = Step(c, r, Floor(y1));
    }
    hp.OldXL[slot] = xl;
    hp.OldXR[slot] = xr;
    hp.OldYL[slot] = yl;
    hp.OldYR[slot] = yr;
    eq.in1L[slot][s] = l.x1;
    eq.in2L[slot][s] = l.x2;
    eq.out1L[slot][s] = l.y1;
    eq.out2L[slot][s] = l.y2;
    eq.in1R[slot][s] = r.x1;
    eq.in2R[slot][s] = r.x2;
    eq.out1R[slot][s] = r.y1;
    eq.out2R[slot][s] = r.y2;
    return true;
}
