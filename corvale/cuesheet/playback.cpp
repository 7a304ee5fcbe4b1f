#include "corvale/cuesheet/playback.h"

#include <cmath>

#include "corvale/run/numeric.h"

namespace {

// One fader's column of the slot tables.
struct SlotColumn {
    const AutomationTables& t;
    int s;
    int64_t time(int e) const { return t.time[e][s]; }
    int64_t level(int e) const { return t.level[e][s]; }
    int64_t ramp(int e) const { return t.ramp[e][s]; }
    float shape(int e) const { return t.shape[e][s]; }
    int count() const { return t.count[s]; }
};

// One VCA's column of the VCA tables.
struct VcaColumn {
    const AutomationTables& t;
    int s;
    int64_t time(int e) const { return t.vcaTime[e][s]; }
    int64_t level(int e) const { return t.vcaLevel[e][s]; }
    int64_t ramp(int e) const { return t.vcaRamp[e][s]; }
    float shape(int e) const { return t.vcaShape[e][s]; }
    int count() const { return t.vcaCount[s]; }
};

// Entry counts never reach past the tables.
int ClampCount(int c) { return c < 0 ? 0 : (c > kEntries ? kEntries : c); }

int Sign(int64_t x) { return x >= 0 ? 1 : -1; }

template <class Column>
void Interpret(RampState& st, const Column& col, int64_t x)
{
    const int count = ClampCount(col.count());
    int n = 0;
    while (n < count && col.time(n) < x) ++n;
    st.next = n;

    if (n < 2) {
        st.current = st.target = col.level(0);
        st.startDb = LevelTodB(st.current);
        st.position = 0;
        return;
    }

    const int e = n - 1;
    const int64_t elapsed = x - col.time(e);
    st.position = 0;
    const int64_t ramp = col.ramp(e);
    if (ramp > elapsed) {
        st.startDb = LevelTodB(col.level(e - 1));
        st.targetDb = LevelTodB(col.level(e));
        st.step = ramp != 0 ? (st.targetDb - st.startDb) / static_cast<double>(ramp) : 0.0;
        st.span = st.targetDb - st.startDb;
        st.ramp = ramp;
        st.shape = col.shape(e);
        double dB;
        if (st.shape != 1.0f)
            dB = st.startDb + std::pow(static_cast<double>(elapsed) / static_cast<double>(ramp),
                                       static_cast<double>(st.shape)) * st.span;
        else
            dB = st.startDb + st.step * static_cast<double>(elapsed);
        st.current = DbToLevel(dB);
        st.start = col.level(e - 1);
        st.position = elapsed;
        st.target = col.level(e);
    } else {
        st.current = st.target = col.level(e);
    }
}

// Starts the move towards the next entry when the song position has come to its
// time. Only entries below the entry limit exist; rows past it are never reached.
template <class Column>
void ReachEntry(RampState& st, const Column& col, int64_t pos)
{
    const int j = st.next;
    if (j < 0 || j >= st.limit || j >= kEntries) return;
    if (pos != col.time(j)) return;

    st.start = col.level(j == 0 ? 0 : j - 1);
    st.target = col.level(j);
    st.startDb = LevelTodB(st.start);
    st.targetDb = LevelTodB(st.target);
    st.ramp = col.ramp(j) == 0 ? 1 : col.ramp(j);
    st.shape = col.shape(j);
    if (st.shape == 1.0f)
        st.step = (st.targetDb - st.startDb) / static_cast<double>(st.ramp);
    else
        st.span = st.targetDb - st.startDb;
    st.position = 0;
    st.next = j + 1;
}

// Level of the entry in progress at ramp position p; the target from the end of
// the ramp on (a ramp that is not positive ends at once).
int64_t RampLevel(const RampState& st, int64_t p)
{
    if (p >= st.ramp) return st.target;
    double dB;
    if (st.shape == 1.0f)
        dB = st.startDb + static_cast<double>(p) * st.step;
    else
        dB = st.startDb + std::pow(static_cast<double>(p) / static_cast<double>(st.ramp),
                                   static_cast<double>(st.shape)) * st.span;
    return DbToLevel(dB);
}

void SetToFirstEntry(RampState& st, int64_t level)
{
    st.current = st.target = level;
    st.startDb = LevelTodB(level);
}

}  // namespace

int64_t DbToLevel(double dB)
{
    return Trunc64(std::pow(10.0, dB / 20.0) * 134217728.0);
}

void InterpretLevel(Playback& pb, const AutomationTables& t, int64_t x, int index, bool vca)
{
    if (vca) {
        if (index < 0 || index >= kVcas) return;
        Interpret(pb.vca[index], VcaColumn{t, index}, x);
    } else {
        if (index < 0 || index >= kSlots) return;
        Interpret(pb.slot[index], SlotColumn{t, index}, x);
    }
}

void StartState(Playback& pb, const AutomationTables& t, int trackCount, const int64_t* offsets,
                int64_t renderStart)
{
    if (trackCount < 0) trackCount = 0;
    if (trackCount > kMaxChannels) trackCount = kMaxChannels;

    for (int s = 0; s < kSlots; ++s) {
        pb.slot[s].limit = ClampCount(t.count[s]);
        pb.slot[s].next = 0;
    }
    for (int v = 0; v < kVcas; ++v) {
        pb.vca[v].limit = ClampCount(t.vcaCount[v]);
        pb.vca[v].next = 0;
    }

    auto startSlot = [&](int s) {
        if (renderStart == 0)
            SetToFirstEntry(pb.slot[s], t.level[0][s]);
        else
            InterpretLevel(pb, t, renderStart, s, false);
    };
    for (int s = 0; s <= trackCount; ++s) startSlot(s);
    for (int s = SubmixSlot(1); s < kSlots; ++s) startSlot(s);
    for (int v = 0; v < kVcas; ++v) {
        if (renderStart == 0)
            SetToFirstEntry(pb.vca[v], t.vcaLevel[0][v]);
        else
            InterpretLevel(pb, t, renderStart, v, true);
    }

    if (!offsets) return;
    for (int c = 1; c <= trackCount; ++c) {
        if (offsets[c] == 0) continue;
        const int64_t at = offsets[c] > renderStart ? offsets[c] : renderStart;
        InterpretLevel(pb, t, at, c, false);
    }
}

void FillVCA(Playback& pb, const AutomationTables& t, int64_t pos, int64_t n, int v)
{
    if (v < 1 || v >= kVcas || n <= 0) return;
    if (static_cast<uint64_t>(v + 1) * static_cast<uint64_t>(n) > pb.vcaGain.size()) return;

    RampState& st = pb.vca[v];
    const VcaColumn col{t, v};
    double* row = pb.vcaGain.data() + v * n;
    for (int64_t i = 0; i < n; ++i) {
        ReachEntry(st, col, pos + i);
        int64_t level = st.current;
        if (st.current != st.target) {
            // level at the present position, then one step on
            level = RampLevel(st, st.position);
            if (st.position < st.ramp) ++st.position;
        }
        row[i] = static_cast<double>(level) * 7.450580596923828e-9;
        st.current = level;
    }
}

bool SteadyGains(Playback& pb, const AutomationTables& t, int64_t pos, int64_t n, int slot,
                 int64_t polarity, double divisor, float gainL, float gainR, const int* vcaAssign,
                 double& applyL, double& applyR)
{
    if (slot < 0 || slot >= kSlots || n <= 0) return false;
    if (vcaAssign && vcaAssign[slot] > 0 && vcaAssign[slot] < kVcas) return false;
    if (pb.slot[slot].current != pb.slot[slot].target) return false;
    // Entries reached inside the block, in the order the samples would reach
    // them; one whose level differs from the current level starts a move.
    RampState st = pb.slot[slot];
    const SlotColumn col{t, slot};
    for (int64_t from = pos;;) {
        const int j = st.next;
        if (j < 0 || j >= st.limit || j >= kEntries) break;
        const int64_t at = col.time(j);
        if (at < from || at - pos >= n) break;
        ReachEntry(st, col, at);
        if (st.current != st.target) return false;
        from = at + 1;
    }
    // Without a move the running level is the current level, so a zero crossing
    // recomputes exactly these gains. When they are the ones already applied, or
    // the block's first sample is sure to count as a crossing (the song's first
    // block, or a slot never processed before, whose stored signs are 0), every
    // sample of the block is scaled by them whatever its sign.
    const double l = static_cast<double>(static_cast<float>(st.current * polarity) * gainL) / divisor;
    const double r = static_cast<double>(static_cast<float>(st.current * polarity) * gainR) / divisor;
    const bool freshL = pos == 0 || pb.OldPolarL[slot] == 0;
    const bool freshR = pos == 0 || pb.OldPolarR[slot] == 0;
    if ((!freshL && l != pb.ApplyLeft[slot]) || (!freshR && r != pb.ApplyRight[slot])) return false;
    applyL = l;
    applyR = r;
    pb.slot[slot] = st;
    return true;
}

void SteadyEnd(Playback& pb, int slot, int64_t lastL, int64_t lastR, double applyL, double applyR)
{
    pb.OldPolarL[slot] = Sign(lastL);
    pb.OldPolarR[slot] = Sign(lastR);
    pb.ApplyLeft[slot] = applyL;
    pb.ApplyRight[slot] = applyR;
}

void AUTOMATE(Playback& pb, const AutomationTables& t, int64_t pos, int64_t n, int slot,
              int64_t* left, int64_t* right, int64_t polarity, double divisor, float gainL,
              float gainR, const int* vcaAssign)
{
    if (slot < 0 || slot >= kSlots || n <= 0 || !left || !right) return;

    double steadyL, steadyR;
    if (SteadyGains(pb, t, pos, n, slot, polarity, divisor, gainL, gainR, vcaAssign, steadyL, steadyR)) {
        SteadyEnd(pb, slot, left[n - 1], right[n - 1], steadyL, steadyR);
        for (int64_t i = 0; i < n; ++i) {
            left[i] = Trunc64(static_cast<double>(left[i]) * steadyL);
            right[i] = Trunc64(static_cast<double>(right[i]) * steadyR);
        }
        return;
    }

    int vcaNo = vcaAssign ? vcaAssign[slot] : 0;
    if (vcaNo < 0 || vcaNo >= kVcas) vcaNo = 0;
    const double* vcaRow = nullptr;
    if (vcaNo != 0) {
        if (static_cast<uint64_t>(vcaNo + 1) * static_cast<uint64_t>(n) > pb.vcaGain.size()) return;
        vcaRow = pb.vcaGain.data() + vcaNo * n;
    }

    RampState& st = pb.slot[slot];
    const SlotColumn col{t, slot};
    double& applyL = pb.ApplyLeft[slot];
    double& applyR = pb.ApplyRight[slot];

    if (pos == 0) {
        // the first samples of the song always set both gains
        pb.OldPolarL[slot] = -Sign(left[0]);
        pb.OldPolarR[slot] = -Sign(right[0]);
    }
    int prevL = pb.OldPolarL[slot];
    int prevR = pb.OldPolarR[slot];
    int64_t running = st.current;

    for (int64_t i = 0; i < n; ++i) {
        const int signL = Sign(left[i]);
        const int signR = Sign(right[i]);
        ReachEntry(st, col, pos + i);

        const bool crossL = signL != prevL;
        const bool crossR = signR != prevR;
        if (st.current != st.target) {
            // one step on, then the level there, but only where a side crosses zero
            if (st.position < st.ramp) ++st.position;
            if (crossL || crossR) running = RampLevel(st, st.position);
        } else {
            running = st.current;
        }

        if (crossL)
            applyL = static_cast<double>(static_cast<float>(running * polarity) * gainL) / divisor;
        if (crossR)
            applyR = static_cast<double>(static_cast<float>(running * polarity) * gainR) / divisor;

        if (vcaRow) {
            const double g = vcaRow[i];
            left[i] = Trunc64(applyL * g * static_cast<double>(left[i]));
            right[i] = Trunc64(applyR * g * static_cast<double>(right[i]));
        } else {
            left[i] = Trunc64(static_cast<double>(left[i]) * applyL);
            right[i] = Trunc64(static_cast<double>(right[i]) * applyR);
        }

        st.current = running;
        prevL = signL;
        prevR = signR;
    }
    pb.OldPolarL[slot] = prevL;
    pb.OldPolarR[slot] = prevR;
}
