// Half-band kernels: two chains of second-order allpass stages run on the same input, the
// second chain's output delayed by one sample, averaged. Each stage only looks two samples
// back, so samples n and n+1 are independent inside a stage: the loop runs them as a pair,
// which halves the dependency chain and lets the compiler use both SIMD lanes.

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

// One allpass stage per chain on one sample: history (x[n-2], x[n-1], y[n-2], y[n-1]).
struct CStageHistory
{
    double x2, x1, y2, y1;
};

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

    double coeff[K];
    CStageHistory hist[K];
    std::copy_n(state, K, coeff);
    double bDelayed = state[K];
    for (int j = 0; j < K; ++j)
    {
        const double* h = &state[K + 1 + 4 * j];
        hist[j] = {h[0], h[1], h[2], h[3]};
    }

    std::int32_t i = 0;
    for (; i + 1 < n; i += 2)
    {
        const double x0 = in[i], x1 = in[i + 1];
        double a0 = x0, a1 = x1, b0 = x0, b1 = x1;
        for (int j = 0; j < H; ++j)
        {
            CStageHistory& h = hist[j];
            const double c = coeff[j];
            const double y0 = c * (a0 - h.y2) + h.x2;
            const double y1 = c * (a1 - h.y1) + h.x1;
            h = {a0, a1, y0, y1};
            a0 = y0;
            a1 = y1;
        }
        for (int j = H; j < K; ++j)
        {
            CStageHistory& h = hist[j];
            const double c = coeff[j];
            const double y0 = c * (b0 - h.y2) + h.x2;
            const double y1 = c * (b1 - h.y1) + h.x1;
            h = {b0, b1, y0, y1};
            b0 = y0;
            b1 = y1;
        }
        out[i] = 0.5 * (a0 + bDelayed);
        out[i + 1] = 0.5 * (a1 + b0);
        bDelayed = b1;
    }
    if (i < n)
    {
        const double x = in[i];
        double a = x, b = x;
        for (int j = 0; j < H; ++j)
        {
            CStageHistory& h = hist[j];
            const double y = coeff[j] * (a - h.y2) + h.x2;
            h = {h.x1, a, h.y1, y};
            a = y;
        }
        for (int j = H; j < K; ++j)
        {
            CStageHistory& h = hist[j];
            const double y = coeff[j] * (b - h.y2) + h.x2;
            h = {h.x1, b, h.y1, y};
            b = y;
        }
        out[i] = 0.5 * (a + bDelayed);
        bDelayed = b;
    }

    state[K] = bDelayed;
    for (int j = 0; j < K; ++j)
    {
        double* h = &state[K + 1 + 4 * j];
        h[0] = hist[j].x2;
        h[1] = hist[j].x1;
        h[2] = hist[j].y2;
        h[3] = hist[j].y1;
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
