// Half-band kernels: two chains of second-order allpass stages run on the same input, the
// second chain's output delayed by one sample, averaged. Each stage only looks two samples
// back, so samples n and n+1 are independent inside a stage: the loop runs them as a pair in
// the two lanes of one SSE2 register (a compiler vector type that gcc and clang lower to
// plain SSE2 on every x86-64 target).

#include "Audio/Kernels/DCDAWFilterKernels.h"

#include <algorithm>

namespace zel
{

namespace
{

template <int K>
void initHalfBand(CDCDAWCall* call)
{
    if (call->n <= 0)
        return;
    double* state = call->data[0];
    std::copy_n(call->data[1], K, state);
    std::fill_n(state + K, halfBandStateSize(K) - K, 0.0);
}

// Two doubles in one SSE2 register: samples n and n+1 of a pair, or the history
// (x[n-2], x[n-1]) and (y[n-2], y[n-1]) of a stage.
typedef double CPair __attribute__((vector_size(16)));

template <int K>
void runHalfBand(CDCDAWCall* call)
{
    constexpr int H = K / 2;
    const std::int32_t n = call->n;
    if (n <= 0)
        return;
    double* out = call->data[0];
    double* state = call->data[1];
    const double* in = call->data[2];

    CPair coeff[K], xh[K], yh[K];
    for (int j = 0; j < K; ++j)
    {
        const double* h = &state[K + 1 + 4 * j];
        coeff[j] = CPair{state[j], state[j]};
        xh[j] = CPair{h[0], h[1]};
        yh[j] = CPair{h[2], h[3]};
    }
    double bDelayed = state[K];

    std::int32_t i = 0;
    for (; i + 1 < n; i += 2)
    {
        const CPair x = {in[i], in[i + 1]};
        CPair a = x, b = x;
        for (int j = 0; j < H; ++j)
        {
            const CPair y = coeff[j] * (a - yh[j]) + xh[j];
            xh[j] = a;
            yh[j] = y;
            a = y;
        }
        for (int j = H; j < K; ++j)
        {
            const CPair y = coeff[j] * (b - yh[j]) + xh[j];
            xh[j] = b;
            yh[j] = y;
            b = y;
        }
        out[i] = 0.5 * (a[0] + bDelayed);
        out[i + 1] = 0.5 * (a[1] + b[0]);
        bDelayed = b[1];
    }
    if (i < n)
    {
        // One sample: the newer history lane moves to the older one.
        const double x = in[i];
        double a = x, b = x;
        for (int j = 0; j < K; ++j)
        {
            double& v = j < H ? a : b;
            const double y = coeff[j][0] * (v - yh[j][0]) + xh[j][0];
            xh[j] = CPair{xh[j][1], v};
            yh[j] = CPair{yh[j][1], y};
            v = y;
        }
        out[i] = 0.5 * (a + bDelayed);
        bDelayed = b;
    }

    state[K] = bDelayed;
    for (int j = 0; j < K; ++j)
    {
        double* h = &state[K + 1 + 4 * j];
        h[0] = xh[j][0];
        h[1] = xh[j][1];
        h[2] = yh[j][0];
        h[3] = yh[j][1];
    }
}

} // namespace

// The family table reaches these through explicit instantiations.
template <int K>
void dcdawFltHbfI(CDCDAWCall* call)
{
    initHalfBand<K>(call);
}

template <int K>
void dcdawFltHbf(CDCDAWCall* call)
{
    runHalfBand<K>(call);
}

#define ZEL_HBF_INSTANTIATE(K)                                                                     \
    template void dcdawFltHbfI<K>(CDCDAWCall*);                                                    \
    template void dcdawFltHbf<K>(CDCDAWCall*);
ZEL_HBF_INSTANTIATE(2)
ZEL_HBF_INSTANTIATE(4)
ZEL_HBF_INSTANTIATE(6)
ZEL_HBF_INSTANTIATE(8)
ZEL_HBF_INSTANTIATE(10)
ZEL_HBF_INSTANTIATE(12)
ZEL_HBF_INSTANTIATE(14)
ZEL_HBF_INSTANTIATE(16)
#undef ZEL_HBF_INSTANTIATE

} // namespace zel
