// Fast-convolution kernels: frame building, spectrum products over a range of bins, and the
// in-place real DFT on module-supplied set-up tables.

#include "Audio/Kernels/DCDAWFilterKernels.h"
#include "Audio/Kernels/DCDAWRealDFT.h"

#include <algorithm>
#include <cmath>

namespace zel
{

namespace
{

// Half-sizes above this cannot be addressed by the 24-bit count anyway.
constexpr std::int32_t kMaxLog2Half = 23;

// Bins [first, last] of the product, clamped to 0 .. B; false when the range is empty.
bool binRange(const CDCDAWCall* call, std::int64_t& first, std::int64_t& last, std::int64_t& half)
{
    if (call->n <= 0)
        return false;
    const std::int32_t log2Half = CDCDAWCall::log2HalfSizeOf(call->n);
    const std::int32_t count = CDCDAWCall::countOf(call->n);
    if (log2Half > kMaxLog2Half || count <= 0 || !std::isfinite(call->x) ||
        std::fabs(call->x) > 1e9)
        return false;
    half = std::int64_t{1} << log2Half;
    const auto start = static_cast<std::int64_t>(std::llround(call->x));
    first = std::max<std::int64_t>(start, 0);
    last = std::min<std::int64_t>(start + count - 1, half);
    return first <= last;
}

template <bool Add>
void multiplySpectra(CDCDAWCall* call)
{
    std::int64_t first = 0, last = 0, half = 0;
    if (!binRange(call, first, last, half))
        return;
    double* out = call->data[0];
    const double* a = call->data[1];
    const double* b = call->data[2];
    if (first == 0)
        out[0] = Add ? out[0] + a[0] * b[0] : a[0] * b[0];
    if (last == half)
        out[1] = Add ? out[1] + a[1] * b[1] : a[1] * b[1];
    const std::int64_t from = std::max<std::int64_t>(first, 1);
    const std::int64_t to = std::min<std::int64_t>(last, half - 1);
    for (std::int64_t k = from; k <= to; ++k)
    {
        const double ar = a[2 * k], ai = a[2 * k + 1];
        const double br = b[2 * k], bi = b[2 * k + 1];
        const double re = ar * br - ai * bi;
        const double im = ar * bi + ai * br;
        if constexpr (Add)
        {
            out[2 * k] += re;
            out[2 * k + 1] += im;
        }
        else
        {
            out[2 * k] = re;
            out[2 * k + 1] = im;
        }
    }
}

} // namespace

void dcdawConvAcquire(CDCDAWCall* call)
{
    if (call->n <= 0)
        return;
    const std::int32_t log2Half = CDCDAWCall::log2HalfSizeOf(call->n);
    const std::int32_t count = CDCDAWCall::countOf(call->n);
    if (log2Half > kMaxLog2Half || count <= 0)
        return;
    const std::size_t half = std::size_t{1} << log2Half;
    double* frame = call->data[0];
    double* history = call->data[1];
    const double* input = call->data[2];
    const double gain = call->x;
    double* second = frame + half;
    for (std::int32_t i = 0; i < count; ++i)
    {
        const double v = input[i] * gain;
        const double previous = history[i];
        frame[i] = v;
        second[i] = previous;
        history[i] = v;
    }
}

void dcdawConvMult(CDCDAWCall* call)
{
    multiplySpectra<false>(call);
}

void dcdawConvMultAdd(CDCDAWCall* call)
{
    multiplySpectra<true>(call);
}

void dcdawRealDFTForward(CDCDAWCall* call)
{
    if (call->n <= 0 || !CDCDAWRealDFT::setupMatches(call->data[1], call->n))
        return;
    CDCDAWRealDFT::forward(call->data[0], call->data[1], call->data[2]);
}

void dcdawRealDFTInverse(CDCDAWCall* call)
{
    if (call->n <= 0 || !CDCDAWRealDFT::setupMatches(call->data[1], call->n))
        return;
    CDCDAWRealDFT::inverse(call->data[0], call->data[1], call->data[2]);
}

} // namespace zel
