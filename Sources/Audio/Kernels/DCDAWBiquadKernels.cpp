// Biquad kernels: direct form II sections in five output forms, with a raised-cosine
// transition between coefficient sets so that parameter changes do not click.

#include "Audio/Kernels/DCDAWFilterKernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace zel
{

std::int32_t CDCDAWBiquadState::remaining(const double* state)
{
    std::int32_t counts[2];
    std::memcpy(counts, &state[kCounts], sizeof(counts));
    return counts[0];
}

namespace
{

using S = CDCDAWBiquadState;

enum class EForm
{
    Common,
    LowPass,
    HighPass,
    BandPass,
    Notch
};

void writeCounts(double* state, std::int32_t remaining, std::int32_t length)
{
    const std::int32_t counts[2] = {remaining, length};
    static_assert(sizeof(counts) == sizeof(double));
    std::memcpy(&state[S::kCounts], counts, sizeof(counts));
}

void readCounts(const double* state, std::int32_t& remaining, std::int32_t& length)
{
    std::int32_t counts[2];
    std::memcpy(counts, &state[S::kCounts], sizeof(counts));
    remaining = counts[0];
    length = counts[1];
}

// Stores b0, b1, b2, a1, a2 as b0, b1, b2, -a1, -a2.
void loadCoeffs(double* dest, const double* coeffs)
{
    dest[0] = coeffs[0];
    dest[1] = coeffs[1];
    dest[2] = coeffs[2];
    dest[3] = -coeffs[3];
    dest[4] = -coeffs[4];
}

// Starts a transition of `length` samples from the current filter to `coeffs` (stored form).
void startTransition(double* state, const double* storedCoeffs, std::int32_t length)
{
    std::copy_n(storedCoeffs, 5, &state[S::kNextCoeffs]);
    state[S::kNextHistory] = state[S::kHistory];
    state[S::kNextHistory + 1] = state[S::kHistory + 1];
    const double c = std::cos(std::numbers::pi / static_cast<double>(length));
    state[S::kFadeS] = 0.5;
    state[S::kFadeSPrev] = 0.5 * c;
    state[S::kFadeFactor] = 2.0 * c;
    writeCounts(state, length, length);
}

// The new filter becomes the current one; a pending set starts the next transition.
void finishTransition(double* state, std::int32_t length)
{
    std::copy_n(&state[S::kNextCoeffs], 7, &state[S::kCoeffs]);
    writeCounts(state, 0, length);
    if (state[S::kPending] != 0.0)
    {
        state[S::kPending] = 0.0;
        startTransition(state, &state[S::kPendingCoeffs], length);
    }
}

template <EForm F>
inline double outputOf(double b0, double b1, double b2, double w0, double w1, double w2)
{
    if constexpr (F == EForm::Common)
        return b0 * w0 + b1 * w1 + b2 * w2;
    else if constexpr (F == EForm::LowPass)
        return b0 * (w0 + 2.0 * w1 + w2);
    else if constexpr (F == EForm::HighPass)
        return b0 * (w0 - 2.0 * w1 + w2);
    else if constexpr (F == EForm::BandPass)
        return b0 * (w0 - w2);
    else
        return b0 * (w0 + w2) + b1 * w1;
}

template <EForm F>
void runSteady(double* out, const double* in, std::int32_t n, double* state)
{
    const double* c = &state[S::kCoeffs];
    const double b0 = c[0], b1 = c[1], b2 = c[2], fa1 = c[3], fa2 = c[4];
    double w1 = state[S::kHistory];
    double w2 = state[S::kHistory + 1];
    for (std::int32_t i = 0; i < n; ++i)
    {
        // w[n-2] first: the loop-carried path is then one multiply and one add.
        const double w0 = (in[i] + fa2 * w2) + fa1 * w1;
        out[i] = outputOf<F>(b0, b1, b2, w0, w1, w2);
        w2 = w1;
        w1 = w0;
    }
    state[S::kHistory] = w1;
    state[S::kHistory + 1] = w2;
}

// Two steady filters over n samples each, their recursions interleaved; each lane does
// exactly the operations of runSteady.
template <EForm F>
void runSteadyPair(double* outA, const double* inA, double* stateA, double* outB, const double* inB,
                   double* stateB, std::int32_t n)
{
    const double* c = &stateA[S::kCoeffs];
    const double* d = &stateB[S::kCoeffs];
    const double b0 = c[0], b1 = c[1], b2 = c[2], fa1 = c[3], fa2 = c[4];
    const double e0 = d[0], e1 = d[1], e2 = d[2], ga1 = d[3], ga2 = d[4];
    double w1 = stateA[S::kHistory], w2 = stateA[S::kHistory + 1];
    double v1 = stateB[S::kHistory], v2 = stateB[S::kHistory + 1];
    for (std::int32_t i = 0; i < n; ++i)
    {
        const double w0 = (inA[i] + fa2 * w2) + fa1 * w1;
        const double v0 = (inB[i] + ga2 * v2) + ga1 * v1;
        outA[i] = outputOf<F>(b0, b1, b2, w0, w1, w2);
        outB[i] = outputOf<F>(e0, e1, e2, v0, v1, v2);
        w2 = w1;
        w1 = w0;
        v2 = v1;
        v1 = v0;
    }
    stateA[S::kHistory] = w1;
    stateA[S::kHistory + 1] = w2;
    stateB[S::kHistory] = v1;
    stateB[S::kHistory + 1] = v2;
}

template <EForm F>
void runTransition(double* out, const double* in, std::int32_t n, double* state)
{
    const double* c = &state[S::kCoeffs];
    const double* d = &state[S::kNextCoeffs];
    const double b0 = c[0], b1 = c[1], b2 = c[2], fa1 = c[3], fa2 = c[4];
    const double e0 = d[0], e1 = d[1], e2 = d[2], ga1 = d[3], ga2 = d[4];
    double w1 = state[S::kHistory], w2 = state[S::kHistory + 1];
    double v1 = state[S::kNextHistory], v2 = state[S::kNextHistory + 1];
    double s = state[S::kFadeS], sPrev = state[S::kFadeSPrev];
    const double factor = state[S::kFadeFactor];
    for (std::int32_t i = 0; i < n; ++i)
    {
        const double x = in[i];
        const double w0 = (x + fa2 * w2) + fa1 * w1;
        const double v0 = (x + ga2 * v2) + ga1 * v1;
        const double oldOut = outputOf<F>(b0, b1, b2, w0, w1, w2);
        const double newOut = outputOf<F>(e0, e1, e2, v0, v1, v2);
        out[i] = (0.5 - s) * newOut + (0.5 + s) * oldOut;
        const double sNext = factor * s - sPrev;
        sPrev = s;
        s = sNext;
        w2 = w1;
        w1 = w0;
        v2 = v1;
        v1 = v0;
    }
    state[S::kHistory] = w1;
    state[S::kHistory + 1] = w2;
    state[S::kNextHistory] = v1;
    state[S::kNextHistory + 1] = v2;
    state[S::kFadeS] = s;
    state[S::kFadeSPrev] = sPrev;
}

template <EForm F>
void processBiquad(CDCDAWCall* call)
{
    std::int32_t n = call->n;
    if (n <= 0)
        return;
    double* out = call->data[0];
    double* state = call->data[1];
    const double* in = call->data[2];
    while (n > 0)
    {
        std::int32_t remaining = 0, length = 0;
        readCounts(state, remaining, length);
        if (remaining <= 0)
        {
            runSteady<F>(out, in, n, state);
            return;
        }
        const std::int32_t step = std::min(remaining, n);
        runTransition<F>(out, in, step, state);
        out += step;
        in += step;
        n -= step;
        if (remaining == step)
            finishTransition(state, length);
        else
            writeCounts(state, remaining - step, length);
    }
}

template <EForm F>
void processBiquadPair(CDCDAWCall* a, CDCDAWCall* b)
{
    const std::int32_t n = a->n;
    if (n > 0 && b->n == n && CDCDAWBiquadState::remaining(a->data[1]) <= 0 &&
        CDCDAWBiquadState::remaining(b->data[1]) <= 0)
    {
        runSteadyPair<F>(a->data[0], a->data[2], a->data[1], b->data[0], b->data[2], b->data[1], n);
        return;
    }
    processBiquad<F>(a);
    processBiquad<F>(b);
}

std::int32_t transitionSamples(double sampleRate)
{
    const double v = S::kTransitionSeconds * sampleRate;
    if (!(v >= 0.5)) // also catches NaN
        return 0;
    if (v >= 1e9)
        return 1000000000;
    return static_cast<std::int32_t>(std::floor(v + 0.5));
}

} // namespace

std::int32_t CDCDAWBiquadState::transitionLength(const double* state)
{
    std::int32_t r = 0, l = 0;
    readCounts(state, r, l);
    return l;
}

void dcdawFltBiqI(CDCDAWCall* call)
{
    if (call->n <= 0)
        return;
    double* state = call->data[0];
    std::fill_n(state, S::kSize, 0.0);
    loadCoeffs(&state[S::kCoeffs], call->data[1]);
    writeCounts(state, 0, transitionSamples(call->x));
}

void dcdawFltBiqU(CDCDAWCall* call)
{
    if (call->n <= 0)
        return;
    double* state = call->data[0];
    double stored[5];
    loadCoeffs(stored, call->data[1]);
    std::int32_t remaining = 0, length = 0;
    readCounts(state, remaining, length);
    if (remaining > 0)
    {
        std::copy_n(stored, 5, &state[S::kPendingCoeffs]);
        state[S::kPending] = 1.0;
    }
    else if (length <= 0)
        std::copy_n(stored, 5, &state[S::kCoeffs]);
    else
        startTransition(state, stored, length);
}

void dcdawFltBiqCommon(CDCDAWCall* call)
{
    processBiquad<EForm::Common>(call);
}

void dcdawFltBiqLP(CDCDAWCall* call)
{
    processBiquad<EForm::LowPass>(call);
}

void dcdawFltBiqHP(CDCDAWCall* call)
{
    processBiquad<EForm::HighPass>(call);
}

void dcdawFltBiqBP(CDCDAWCall* call)
{
    processBiquad<EForm::BandPass>(call);
}

void dcdawFltBiqNotch(CDCDAWCall* call)
{
    processBiquad<EForm::Notch>(call);
}

void dcdawFltBiqCommonPair(CDCDAWCall* first, CDCDAWCall* second)
{
    processBiquadPair<EForm::Common>(first, second);
}

void dcdawFltBiqLPPair(CDCDAWCall* first, CDCDAWCall* second)
{
    processBiquadPair<EForm::LowPass>(first, second);
}

void dcdawFltBiqHPPair(CDCDAWCall* first, CDCDAWCall* second)
{
    processBiquadPair<EForm::HighPass>(first, second);
}

void dcdawFltBiqBPPair(CDCDAWCall* first, CDCDAWCall* second)
{
    processBiquadPair<EForm::BandPass>(first, second);
}

void dcdawFltBiqNotchPair(CDCDAWCall* first, CDCDAWCall* second)
{
    processBiquadPair<EForm::Notch>(first, second);
}

} // namespace zel
