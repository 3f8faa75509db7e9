#include "Audio/Kernels/DCDAWGainComputer.h"

#include "Audio/Kernels/DCDAWKernel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

namespace zel
{

namespace
{

constexpr double kMeanSquareFrequency = 500.0;
// Inverse mode: levels at or below this give the reciprocal level 1e7 instead of a division
// by (nearly) zero. Its reciprocal rounds to exactly 1e7, so clamping the level before the
// division gives the same values as the literal rule (1e7 at or below, 1/e above).
constexpr double kInverseFloor = 0.0000001;
static_assert(1.0 / kInverseFloor == 10000000.0);

double reciprocalOrInfinity(double v)
{
    return v > 0.0 ? 1.0 / v : std::numeric_limits<double>::infinity();
}

double timeCoefficient(double seconds, double fs)
{
    if (!(seconds > 0.0))
        return 1.0;
    return dynamicsOnePoleCoefficient(1.0 / seconds, fs);
}

// Coefficients, 1/L and (in inverse mode) 1/T from the parameter fields.
void initialiseRecord(double* state, double fs)
{
    state[kKelvCompAttackCoef] = timeCoefficient(state[kKelvCompAttackTime], fs);
    state[kKelvCompReleaseCoef] = timeCoefficient(state[kKelvCompReleaseTime], fs);
    state[kKelvCompMeanSquareCoef] = dynamicsOnePoleCoefficient(kMeanSquareFrequency, fs);
    state[kKelvCompInvRange] = reciprocalOrInfinity(state[kKelvCompRange]);
    if (kelvCompInverse(state))
        state[kKelvCompThreshold] = reciprocalOrInfinity(state[kKelvCompThreshold]);
}

// The per-sample law:
//   e  = x, or sqrt(m) with m <- m + (x^2 - m)*cm                    (kRms)
//   e' = 1/e, or 1e7 when e <= 1e-7; the state's threshold is then 1/T  (kInverse)
//   above the threshold (strictly): r = (T + (e' - T)*R)/e'
//     upward (R > 1):    target = min(L, r),   attack when target >= g, else release
//     downward (R <= 1): target = max(1/L, r), attack when g >= target, else release
//   at or below it: target = 1, release
//   g <- g + (target - g)*c
//
// The gain recursion is the only part that depends on the previous sample, so a block is
// done in stretches of kStretch samples: a first loop, free of recursion and vectorised,
// turns the levels into targets and coefficients; a second loop runs the recursion. The
// second loop needs no comparison with g: with the candidates gA = g*(1 - cA) + target*cA
// (cA the attack coefficient above the threshold, the release coefficient at or below it)
// and gR = g*(1 - cR) + target*cR, gA - gR has the sign of (target - g)*(cA - cR). So when
// attack >= release, upward mode (attack when target >= g) takes max(gA, gR) and downward
// mode (attack when g >= target) min(gA, gR); the choices swap when release is the faster
// coefficient. Below the threshold gA equals gR. The result differs from the literal update
// only by rounding, and the chain through g is one multiply, one add and one min or max.
constexpr std::int32_t kStretch = 64;

struct CStretch
{
    double target[kStretch];
    double coef[kStretch];  // cA
    double level[kStretch]; // detector output (kRms), reciprocal level (kInverse)
};

struct CGainLaw
{
    double threshold, slope, range, invRange, attack, release;
};

// Kept to plain selects stored straight into the arrays, a form the vectoriser takes.
template <bool kUpward>
void prepareStretch(double* __restrict target, double* __restrict coef,
                    const double* __restrict levels, const CGainLaw& law, std::int32_t count)
{
    const double threshold = law.threshold;
    const double slope = law.slope;
    const double bound = kUpward ? law.range : law.invRange;
    const double attack = law.attack;
    const double release = law.release;
    for (std::int32_t i = 0; i < count; ++i)
    {
        const double e = levels[i];
        const bool above = e > threshold;
        // Below the threshold the quotient is not used. Above it e > T, and every threshold
        // the parameters can give is a normal number, so the guard leaves e alone; at or below
        // it the guard keeps a zero level from producing 0/0. The guard is the smallest normal
        // number, not the smallest subnormal: a subnormal divisor takes the processor's slow
        // path, and silence without the anti-denormal noise gives a zero level on every sample.
        // (A select between e and 1 here would be folded into a conditional division, which
        // stops the vectoriser.)
        const double r =
            (threshold + (e - threshold) * slope) / std::max(e, std::numeric_limits<double>::min());
        const double limited = kUpward ? std::min(bound, r) : std::max(bound, r);
        target[i] = above ? limited : 1.0;
        coef[i] = above ? attack : release;
    }
}

// Mean-square detector: m <- m + (x^2 - m)*coef, the running values into dst.
double runDetector(const double* in, double* dst, std::int32_t count, double m, double coef)
{
    for (std::int32_t i = 0; i < count; ++i)
    {
        const double x = in[i];
        m += (x * x - m) * coef;
        dst[i] = m;
    }
    return m;
}

// The gain recursion over one stretch. With the RMS detector the detector's recursion for
// the next stretch (nextCount <= count samples from nextIn into s.level, which the current
// stretch no longer needs) runs in the same loop, so that the two dependency chains overlap.
template <bool kTakeMax>
double runRecursion(CStretch& s, double g, double release, double* out, std::int32_t count,
                    const double* nextIn, std::int32_t nextCount, double& m, double msCoef)
{
    const double keepRelease = 1.0 - release;
    const auto step = [&](std::int32_t i)
    {
        const double t = s.target[i];
        const double c = s.coef[i];
        const double viaA = g * (1.0 - c) + t * c;
        const double viaR = g * keepRelease + t * release;
        g = kTakeMax ? std::max(viaA, viaR) : std::min(viaA, viaR);
        out[i] = g;
    };
    std::int32_t i = 0;
    double mm = m;
    for (; i < nextCount; ++i)
    {
        step(i);
        const double x = nextIn[i];
        mm += (x * x - mm) * msCoef;
        s.level[i] = mm;
    }
    m = mm;
    for (; i < count; ++i)
        step(i);
    return g;
}

template <bool kUpward, bool kInverse, bool kRms>
void runGainComputer(double* out, double* state, const double* in, std::int32_t n)
{
    CGainLaw law;
    law.threshold = state[kKelvCompThreshold];
    law.slope = state[kKelvCompSlope];
    law.range = state[kKelvCompRange];
    law.invRange = state[kKelvCompInvRange];
    law.attack = state[kKelvCompAttackCoef];
    law.release = state[kKelvCompReleaseCoef];
    const bool takeMax = kUpward == (law.attack >= law.release);
    const double msCoef = state[kKelvCompMeanSquareCoef];
    double g = state[kKelvCompGain];
    double m = state[kKelvCompMeanSquare];

    CStretch s;
    if constexpr (kRms)
        m = runDetector(in, s.level, std::min(kStretch, n), m, msCoef);
    for (std::int32_t done = 0; done < n;)
    {
        const std::int32_t count = std::min(kStretch, n - done);
        const double* levels = in + done;
        if constexpr (kRms)
        {
            for (std::int32_t i = 0; i < count; ++i)
                s.level[i] = std::sqrt(s.level[i]);
            levels = s.level;
        }
        if constexpr (kInverse)
        {
            // A pass of its own: inside the loop below the compiler would thread the clamp
            // into branches.
            for (std::int32_t i = 0; i < count; ++i)
                s.level[i] = 1.0 / std::max(levels[i], kInverseFloor);
            levels = s.level;
        }
        prepareStretch<kUpward>(s.target, s.coef, levels, law, count);
        // The levels are consumed: out may now be written even when it is the input, and
        // s.level may take the next stretch's detector values.
        const std::int32_t nextCount = kRms ? std::min(kStretch, n - done - count) : 0;
        const double* nextIn = in + done + count;
        g = takeMax ? runRecursion<true>(s, g, law.release, out + done, count, nextIn, nextCount, m,
                                         msCoef)
                    : runRecursion<false>(s, g, law.release, out + done, count, nextIn, nextCount,
                                          m, msCoef);
        done += count;
    }

    state[kKelvCompGain] = g;
    if constexpr (kRms)
        state[kKelvCompMeanSquare] = m;
}

// ---- Two channels in one pass ----
//
// The same stretches, preparation passes and recursion as runGainComputer, for two
// independent calls: each lane does exactly the operations of the single form, and the two
// lanes' recursions (and detectors) share one loop so that their dependency chains overlap.

struct CLane
{
    double* out;
    double* state;
    const double* in;
    CGainLaw law;
    double msCoef;
    double g;
    double m;
    CStretch s;
};

template <bool kUpward>
bool takesMax(const CGainLaw& law)
{
    return kUpward == (law.attack >= law.release);
}

void loadLane(CLane& lane, CDCDAWCall* call)
{
    lane.out = call->data[0];
    lane.state = call->data[1];
    lane.in = call->data[2];
    const double* state = lane.state;
    lane.law.threshold = state[kKelvCompThreshold];
    lane.law.slope = state[kKelvCompSlope];
    lane.law.range = state[kKelvCompRange];
    lane.law.invRange = state[kKelvCompInvRange];
    lane.law.attack = state[kKelvCompAttackCoef];
    lane.law.release = state[kKelvCompReleaseCoef];
    lane.msCoef = state[kKelvCompMeanSquareCoef];
    lane.g = state[kKelvCompGain];
    lane.m = state[kKelvCompMeanSquare];
}

template <bool kUpward, bool kInverse, bool kRms>
void prepareLane(CLane& lane, std::int32_t done, std::int32_t count)
{
    const double* levels = lane.in + done;
    if constexpr (kRms)
    {
        for (std::int32_t i = 0; i < count; ++i)
            lane.s.level[i] = std::sqrt(lane.s.level[i]);
        levels = lane.s.level;
    }
    if constexpr (kInverse)
    {
        for (std::int32_t i = 0; i < count; ++i)
            lane.s.level[i] = 1.0 / std::max(levels[i], kInverseFloor);
        levels = lane.s.level;
    }
    prepareStretch<kUpward>(lane.s.target, lane.s.coef, levels, lane.law, count);
}

template <bool kTakeMax>
void runRecursionPair(CLane& a, CLane& b, std::int32_t done, std::int32_t count,
                      std::int32_t nextCount)
{
    const double releaseA = a.law.release, keepA = 1.0 - releaseA;
    const double releaseB = b.law.release, keepB = 1.0 - releaseB;
    double* const outA = a.out + done;
    double* const outB = b.out + done;
    double ga = a.g, gb = b.g;
    const auto step = [&](std::int32_t i)
    {
        const double ta = a.s.target[i], ca = a.s.coef[i];
        const double tb = b.s.target[i], cb = b.s.coef[i];
        const double viaAa = ga * (1.0 - ca) + ta * ca;
        const double viaRa = ga * keepA + ta * releaseA;
        const double viaAb = gb * (1.0 - cb) + tb * cb;
        const double viaRb = gb * keepB + tb * releaseB;
        ga = kTakeMax ? std::max(viaAa, viaRa) : std::min(viaAa, viaRa);
        gb = kTakeMax ? std::max(viaAb, viaRb) : std::min(viaAb, viaRb);
        outA[i] = ga;
        outB[i] = gb;
    };
    std::int32_t i = 0;
    if (nextCount > 0)
    {
        const double* nextA = a.in + done + count;
        const double* nextB = b.in + done + count;
        double ma = a.m, mb = b.m;
        const double msA = a.msCoef, msB = b.msCoef;
        for (; i < nextCount; ++i)
        {
            step(i);
            const double xa = nextA[i], xb = nextB[i];
            ma += (xa * xa - ma) * msA;
            mb += (xb * xb - mb) * msB;
            a.s.level[i] = ma;
            b.s.level[i] = mb;
        }
        a.m = ma;
        b.m = mb;
    }
    for (; i < count; ++i)
        step(i);
    a.g = ga;
    b.g = gb;
}

template <bool kUpward, bool kInverse, bool kRms, bool kTakeMax>
void runGainComputerPair(CLane& a, CLane& b, std::int32_t n)
{
    if constexpr (kRms)
    {
        const std::int32_t first = std::min(kStretch, n);
        a.m = runDetector(a.in, a.s.level, first, a.m, a.msCoef);
        b.m = runDetector(b.in, b.s.level, first, b.m, b.msCoef);
    }
    for (std::int32_t done = 0; done < n;)
    {
        const std::int32_t count = std::min(kStretch, n - done);
        prepareLane<kUpward, kInverse, kRms>(a, done, count);
        prepareLane<kUpward, kInverse, kRms>(b, done, count);
        const std::int32_t nextCount = kRms ? std::min(kStretch, n - done - count) : 0;
        runRecursionPair<kTakeMax>(a, b, done, count, nextCount);
        done += count;
    }
    a.state[kKelvCompGain] = a.g;
    b.state[kKelvCompGain] = b.g;
    if constexpr (kRms)
    {
        a.state[kKelvCompMeanSquare] = a.m;
        b.state[kKelvCompMeanSquare] = b.m;
    }
}

template <bool kUpward, bool kInverse, bool kRms>
void pairWithDirection(CLane& a, CLane& b, std::int32_t n)
{
    if (takesMax<kUpward>(a.law))
        runGainComputerPair<kUpward, kInverse, kRms, true>(a, b, n);
    else
        runGainComputerPair<kUpward, kInverse, kRms, false>(a, b, n);
}

template <bool kRms>
void gainComputer(CDCDAWCall* call);

template <bool kRms>
void gainComputerPair(CDCDAWCall* first, CDCDAWCall* second)
{
    const std::int32_t n = first->n;
    const double* stateA = first->data[1];
    const double* stateB = second->data[1];
    const bool upward = stateA[kKelvCompSlope] > 1.0;
    const bool inverse = kelvCompInverse(stateA);
    const auto takeMax = [&](const double* state)
    {
        const double attack = state[kKelvCompAttackCoef];
        const double release = state[kKelvCompReleaseCoef];
        return upward == (attack >= release);
    };
    if (n <= 0 || second->n != n || (stateB[kKelvCompSlope] > 1.0) != upward ||
        kelvCompInverse(stateB) != inverse || takeMax(stateA) != takeMax(stateB))
    {
        gainComputer<kRms>(first);
        gainComputer<kRms>(second);
        return;
    }
    CLane a, b;
    loadLane(a, first);
    loadLane(b, second);
    if (upward)
    {
        if (inverse)
            pairWithDirection<true, true, kRms>(a, b, n);
        else
            pairWithDirection<true, false, kRms>(a, b, n);
    }
    else
    {
        if (inverse)
            pairWithDirection<false, true, kRms>(a, b, n);
        else
            pairWithDirection<false, false, kRms>(a, b, n);
    }
}

template <bool kRms>
void gainComputer(CDCDAWCall* call)
{
    const std::int32_t n = call->n;
    if (n <= 0)
        return;
    double* out = call->data[0];
    double* state = call->data[1];
    const double* in = call->data[2];
    const bool upward = state[kKelvCompSlope] > 1.0;
    const bool inverse = kelvCompInverse(state);
    if (upward)
    {
        if (inverse)
            runGainComputer<true, true, kRms>(out, state, in, n);
        else
            runGainComputer<true, false, kRms>(out, state, in, n);
    }
    else
    {
        if (inverse)
            runGainComputer<false, true, kRms>(out, state, in, n);
        else
            runGainComputer<false, false, kRms>(out, state, in, n);
    }
}

} // namespace

void setKelvCompInverse(double* state, bool inverse)
{
    unsigned char bytes[sizeof(double)] = {};
    bytes[0] = inverse ? 1 : 0;
    std::memcpy(&state[kKelvCompInverse], bytes, sizeof bytes);
}

bool kelvCompInverse(const double* state)
{
    unsigned char flag = 0;
    std::memcpy(&flag, &state[kKelvCompInverse], 1);
    return flag != 0;
}

double dynamicsOnePoleCoefficient(double f, double fs)
{
    if (!(f > 0.0) || !(fs > 0.0) || !std::isfinite(f) || !std::isfinite(fs))
        return 1.0;
    const double b = 2.0 - std::cos(2.0 * std::numbers::pi * f / fs);
    return 1.0 - b + std::sqrt(b * b - 1.0);
}

void dcdawKelvCompInit(CDCDAWCall* call)
{
    if (call->n <= 0)
        return;
    double* state = call->data[0];
    initialiseRecord(state, call->x);
    state[kKelvCompGain] = 1.0;
    state[kKelvCompMeanSquare] = 0.0;
}

void dcdawKelvCompUpdate(CDCDAWCall* call)
{
    if (call->n <= 0)
        return;
    double* state = call->data[0];
    const double* previous = call->data[1];
    initialiseRecord(state, call->x);
    state[kKelvCompGain] = previous[kKelvCompGain];
    state[kKelvCompMeanSquare] = previous[kKelvCompMeanSquare];
}

void dcdawKelvComp(CDCDAWCall* call)
{
    gainComputer<false>(call);
}

void dcdawKelvCompRms(CDCDAWCall* call)
{
    gainComputer<true>(call);
}

void dcdawKelvCompPair(CDCDAWCall* first, CDCDAWCall* second)
{
    gainComputerPair<false>(first, second);
}

void dcdawKelvCompRmsPair(CDCDAWCall* first, CDCDAWCall* second)
{
    gainComputerPair<true>(first, second);
}

} // namespace zel
