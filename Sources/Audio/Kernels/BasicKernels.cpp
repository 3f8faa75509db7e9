// The basic kernel family: element-wise arithmetic, resampling by 2, mid/side coding, and the
// table that also names the stateful kernels of GeneratorKernels.cpp.
//
// Every element-wise loop here reads all inputs of a sample pair before it writes the pair, so
// a call with out equal to an input gives the same result as with separate buffers; the pairs
// map onto two-lane SSE2 operations, and an odd last sample is done alone. No alignment is
// assumed. n <= 0 writes nothing.
#include "Audio/Kernels/BasicKernels.h"

#include "Audio/Kernels/DCDAWKernel.h"
#include "Audio/Kernels/GeneratorKernels.h"

#include <cmath>
#include <cstdint>

namespace zel
{
namespace
{
using Index = std::int32_t;

// ---- Element-wise loop shapes ----

template <class F>
inline void map0(Index n, double* out, F f)
{
    for (Index i = 0; i < n; ++i)
        out[i] = f();
}

template <class F>
inline void map1(Index n, double* out, const double* a, F f)
{
    Index i = 0;
    for (; i + 2 <= n; i += 2)
    {
        const double a0 = a[i], a1 = a[i + 1];
        out[i] = f(a0);
        out[i + 1] = f(a1);
    }
    if (i < n)
        out[i] = f(a[i]);
}

template <class F>
inline void map2(Index n, double* out, const double* a, const double* b, F f)
{
    Index i = 0;
    for (; i + 2 <= n; i += 2)
    {
        const double a0 = a[i], a1 = a[i + 1];
        const double b0 = b[i], b1 = b[i + 1];
        out[i] = f(a0, b0);
        out[i + 1] = f(a1, b1);
    }
    if (i < n)
        out[i] = f(a[i], b[i]);
}

template <class F>
inline void map3(Index n, double* out, const double* a, const double* b, const double* c, F f)
{
    Index i = 0;
    for (; i + 2 <= n; i += 2)
    {
        const double a0 = a[i], a1 = a[i + 1];
        const double b0 = b[i], b1 = b[i + 1];
        const double c0 = c[i], c1 = c[i + 1];
        out[i] = f(a0, b0, c0);
        out[i + 1] = f(a1, b1, c1);
    }
    if (i < n)
        out[i] = f(a[i], b[i], c[i]);
}

template <class F>
inline void map4(Index n, double* out, const double* a, const double* b, const double* c,
                 const double* d, F f)
{
    Index i = 0;
    for (; i + 2 <= n; i += 2)
    {
        const double a0 = a[i], a1 = a[i + 1];
        const double b0 = b[i], b1 = b[i + 1];
        const double c0 = c[i], c1 = c[i + 1];
        const double d0 = d[i], d1 = d[i + 1];
        out[i] = f(a0, b0, c0, d0);
        out[i + 1] = f(a1, b1, c1, d1);
    }
    if (i < n)
        out[i] = f(a[i], b[i], c[i], d[i]);
}

inline double maxOf(double a, double b)
{
    return a > b ? a : b;
}
inline double minOf(double a, double b)
{
    return a < b ? a : b;
}

// ---- Arithmetic ----
// Argument names: o = data[0] (out), a = data[1], b = data[2], c = data[3], d = data[4].

// copy: o = a.
void kCopy(CDCDAWCall* k)
{
    map1(k->n, k->data[0], k->data[1], [](double a) { return a; });
}
// fill0: o = 0.
void kFill0(CDCDAWCall* k)
{
    map0(k->n, k->data[0], [] { return 0.0; });
}
// fillc: o = x.
void kFillC(CDCDAWCall* k)
{
    const double x = k->x;
    map0(k->n, k->data[0], [x] { return x; });
}
// filld: o = a[0] (read once, before anything is written).
void kFillD(CDCDAWCall* k)
{
    if (k->n <= 0)
        return;
    const double v = k->data[1][0];
    map0(k->n, k->data[0], [v] { return v; });
}
// abs: o = |a|.
void kAbs(CDCDAWCall* k)
{
    map1(k->n, k->data[0], k->data[1], [](double a) { return std::fabs(a); });
}
// add2: o = a + b.
void kAdd2(CDCDAWCall* k)
{
    map2(k->n, k->data[0], k->data[1], k->data[2], [](double a, double b) { return a + b; });
}
// add3: o = a + b + c.
void kAdd3(CDCDAWCall* k)
{
    map3(k->n, k->data[0], k->data[1], k->data[2], k->data[3],
         [](double a, double b, double c) { return a + b + c; });
}
// add4: o = a + b + c + d.
void kAdd4(CDCDAWCall* k)
{
    map4(k->n, k->data[0], k->data[1], k->data[2], k->data[3], k->data[4],
         [](double a, double b, double c, double d) { return a + b + c + d; });
}
// add2i: o += a.
void kAdd2I(CDCDAWCall* k)
{
    map2(k->n, k->data[0], k->data[0], k->data[1], [](double o, double a) { return o + a; });
}
// addcid: o += a[0] (read once).
void kAddCID(CDCDAWCall* k)
{
    if (k->n <= 0)
        return;
    const double v = k->data[1][0];
    map1(k->n, k->data[0], k->data[0], [v](double o) { return o + v; });
}
// max2..max4, min2..min4: element-wise extreme, left to right.
void kMax2(CDCDAWCall* k)
{
    map2(k->n, k->data[0], k->data[1], k->data[2], [](double a, double b) { return maxOf(a, b); });
}
void kMax3(CDCDAWCall* k)
{
    map3(k->n, k->data[0], k->data[1], k->data[2], k->data[3],
         [](double a, double b, double c) { return maxOf(maxOf(a, b), c); });
}
void kMax4(CDCDAWCall* k)
{
    map4(k->n, k->data[0], k->data[1], k->data[2], k->data[3], k->data[4],
         [](double a, double b, double c, double d) { return maxOf(maxOf(maxOf(a, b), c), d); });
}
void kMin2(CDCDAWCall* k)
{
    map2(k->n, k->data[0], k->data[1], k->data[2], [](double a, double b) { return minOf(a, b); });
}
void kMin3(CDCDAWCall* k)
{
    map3(k->n, k->data[0], k->data[1], k->data[2], k->data[3],
         [](double a, double b, double c) { return minOf(minOf(a, b), c); });
}
void kMin4(CDCDAWCall* k)
{
    map4(k->n, k->data[0], k->data[1], k->data[2], k->data[3], k->data[4],
         [](double a, double b, double c, double d) { return minOf(minOf(minOf(a, b), c), d); });
}
// mul2: o = a b.
void kMul2(CDCDAWCall* k)
{
    map2(k->n, k->data[0], k->data[1], k->data[2], [](double a, double b) { return a * b; });
}
// div2: o = a / b, no guard against zero.
void kDiv2(CDCDAWCall* k)
{
    map2(k->n, k->data[0], k->data[1], k->data[2], [](double a, double b) { return a / b; });
}
// mul2addi: o += a b.
void kMul2AddI(CDCDAWCall* k)
{
    map3(k->n, k->data[0], k->data[0], k->data[1], k->data[2],
         [](double o, double a, double b) { return o + a * b; });
}
// mulc: o = a x.
void kMulC(CDCDAWCall* k)
{
    const double x = k->x;
    map1(k->n, k->data[0], k->data[1], [x](double a) { return a * x; });
}
// mulci: o *= x.
void kMulCI(CDCDAWCall* k)
{
    const double x = k->x;
    map1(k->n, k->data[0], k->data[0], [x](double o) { return o * x; });
}
// add2mul: o = (a + b) x.
void kAdd2Mul(CDCDAWCall* k)
{
    const double x = k->x;
    map2(k->n, k->data[0], k->data[1], k->data[2], [x](double a, double b) { return (a + b) * x; });
}
// add3mul: o = (a + b + c) x.
void kAdd3Mul(CDCDAWCall* k)
{
    const double x = k->x;
    map3(k->n, k->data[0], k->data[1], k->data[2], k->data[3],
         [x](double a, double b, double c) { return (a + b + c) * x; });
}
// mix: o = (a - b) x + b.
void kMix(CDCDAWCall* k)
{
    const double x = k->x;
    map2(k->n, k->data[0], k->data[1], k->data[2],
         [x](double a, double b) { return (a - b) * x + b; });
}

// ---- Resampling by 2 ----

// interp2: o[2i] = 2 a[i], o[2i + 1] = 0 for n inputs. In place (o == a) runs backwards so
// that no input is overwritten before it is read.
void kInterp2(CDCDAWCall* k)
{
    const Index n = k->n;
    if (n <= 0)
        return;
    double* out = k->data[0];
    const double* in = k->data[1];
    if (out == in)
    {
        for (Index i = n - 1; i >= 0; --i)
        {
            const double v = in[i];
            out[2 * i + 1] = 0.0;
            out[2 * i] = 2.0 * v;
        }
        return;
    }
    for (Index i = 0; i < n; ++i)
    {
        out[2 * i] = 2.0 * in[i];
        out[2 * i + 1] = 0.0;
    }
}
// decim2: o[i] = a[2i]; decim2s: o[i] = a[2i + 1], n outputs. May run in place.
void kDecim2(CDCDAWCall* k)
{
    const Index n = k->n;
    double* out = k->data[0];
    const double* in = k->data[1];
    for (Index i = 0; i < n; ++i)
        out[i] = in[2 * i];
}
void kDecim2S(CDCDAWCall* k)
{
    const Index n = k->n;
    double* out = k->data[0];
    const double* in = k->data[1];
    for (Index i = 0; i < n; ++i)
        out[i] = in[2 * i + 1];
}

// ---- Mid/side ----
// Two outputs (data[0], data[1]) from two inputs (data[2], data[3]); the weighted forms read
// c0 and c1 from data[4]. Each sample's inputs are read before its outputs are written, so
// the outputs may be the inputs.

template <class F>
inline void pairMap(CDCDAWCall* k, F f)
{
    const Index n = k->n;
    double* o0 = k->data[0];
    double* o1 = k->data[1];
    const double* i0 = k->data[2];
    const double* i1 = k->data[3];
    for (Index i = 0; i < n; ++i)
    {
        const double a = i0[i], b = i1[i];
        double r0 = 0.0, r1 = 0.0;
        f(a, b, r0, r1);
        o0[i] = r0;
        o1[i] = r1;
    }
}

// msenc: S = (R - L)(-0.5), M = R + S.
void kMSEnc(CDCDAWCall* k)
{
    pairMap(k,
            [](double l, double r, double& m, double& s)
            {
                s = (r - l) * -0.5;
                m = r + s;
            });
}
// msdec: L = M + S, R = M - S.
void kMSDec(CDCDAWCall* k)
{
    pairMap(k,
            [](double m, double s, double& l, double& r)
            {
                l = m + s;
                r = m - s;
            });
}
// msmodenc: M = c0 (L + R) / 2, S = c1 (L - R) / 2.
void kMSModEnc(CDCDAWCall* k)
{
    if (k->n <= 0)
        return;
    const double c0 = k->data[4][CDCDAWMSWeights::kMid];
    const double c1 = k->data[4][CDCDAWMSWeights::kSide];
    pairMap(k,
            [c0, c1](double l, double r, double& m, double& s)
            {
                m = c0 * ((l + r) * 0.5);
                s = c1 * ((l - r) * 0.5);
            });
}
// msmoddec: L = c0 M + c1 S, R = c0 M - c1 S.
void kMSModDec(CDCDAWCall* k)
{
    if (k->n <= 0)
        return;
    const double c0 = k->data[4][CDCDAWMSWeights::kMid];
    const double c1 = k->data[4][CDCDAWMSWeights::kSide];
    pairMap(k,
            [c0, c1](double m, double s, double& l, double& r)
            {
                l = c0 * m + c1 * s;
                r = c0 * m - c1 * s;
            });
}
// msmodinl: m = (L + R) / 2, s = (L - R) / 2, L' = c0 m + c1 s, R' = c0 m - c1 s.
void kMSModInl(CDCDAWCall* k)
{
    if (k->n <= 0)
        return;
    const double c0 = k->data[4][CDCDAWMSWeights::kMid];
    const double c1 = k->data[4][CDCDAWMSWeights::kSide];
    pairMap(k,
            [c0, c1](double l, double r, double& lo, double& ro)
            {
                const double m = c0 * ((l + r) * 0.5);
                const double s = c1 * ((l - r) * 0.5);
                lo = m + s;
                ro = m - s;
            });
}

// clang-format off
const CDCDAWKernel kBasicKernels[] = {
    {&kCopy,     2, 1, "DCDAW_copy"},
    {&kFill0,    1, 1, "DCDAW_fill0"},
    {&kFillC,    1, 1, "DCDAW_fillc"},
    {&kFillD,    2, 1, "DCDAW_filld"},
    {&kAbs,      2, 1, "DCDAW_abs"},
    {&kAdd2,     3, 1, "DCDAW_add2"},
    {&kAdd3,     4, 1, "DCDAW_add3"},
    {&kAdd4,     5, 1, "DCDAW_add4"},
    {&kAdd2I,    2, 1, "DCDAW_add2i"},
    {&kAddCID,   2, 1, "DCDAW_addcid"},
    {&kMax2,     3, 1, "DCDAW_max2"},
    {&kMax3,     4, 1, "DCDAW_max3"},
    {&kMax4,     5, 1, "DCDAW_max4"},
    {&kMin2,     3, 1, "DCDAW_min2"},
    {&kMin3,     4, 1, "DCDAW_min3"},
    {&kMin4,     5, 1, "DCDAW_min4"},
    {&kMul2,     3, 1, "DCDAW_mul2"},
    {&kDiv2,     3, 1, "DCDAW_div2"},
    {&kMul2AddI, 3, 1, "DCDAW_mul2addi"},
    {&kMulC,     2, 1, "DCDAW_mulc"},
    {&kMulCI,    1, 1, "DCDAW_mulci"},
    {&kAdd2Mul,  3, 1, "DCDAW_add2mul"},
    {&kAdd3Mul,  4, 1, "DCDAW_add3mul"},
    {&kMix,      3, 1, "DCDAW_mix"},
    {&dcdawXfadeInit,    1, 1, "DCDAW_xfadei"},
    {&dcdawXfade,        4, 3, "DCDAW_xfade"},
    {&dcdawDenorm,       3, 3, "DCDAW_denorm"},
    {&dcdawDenormNoise,  2, 3, "DCDAW_denormn"},
    {&dcdawSineInit,     1, 1, "DCDAW_sinei"},
    {&dcdawSine,         2, 3, "DCDAW_sine"},
    {&dcdawFltNoiseInit, 1, 1, "DCDAW_fltnoisei"},
    {&dcdawFltNoise,     2, 3, "DCDAW_fltnoise"},
    {&kInterp2,  2, 1, "DCDAW_interp2"},
    {&kDecim2,   2, 1, "DCDAW_decim2"},
    {&kDecim2S,  2, 1, "DCDAW_decim2s"},
    {&kMSEnc,    4, 3, "DCDAW_msenc"},
    {&kMSDec,    4, 3, "DCDAW_msdec"},
    {&kMSModEnc, 5, 3, "DCDAW_msmodenc"},
    {&kMSModDec, 5, 3, "DCDAW_msmoddec"},
    {&kMSModInl, 5, 3, "DCDAW_msmodinl"},
};
// clang-format on
} // namespace

std::span<const CDCDAWKernel> dcdawBasicKernels()
{
    return kBasicKernels;
}

} // namespace zel
