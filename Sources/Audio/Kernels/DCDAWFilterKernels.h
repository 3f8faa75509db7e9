#pragma once
// The filter kernel family: biquads with click-free coefficient changes, the polyphase half-band
// filters of the resamplers, and the fast-convolution support (frame building, spectrum
// products, the in-place real DFT). This header declares the kernels and documents the state
// records and argument layouts that modules fill; it holds no module logic and no workspace (the
// real-DFT set-up tables live in Audio/Kernels/DCDAWRealDFT.h).
//
// Every kernel here: n <= 0 does nothing and leaves all state alone; no alignment is assumed;
// where "out may equal in" is stated, out and in may be the very same buffer (not a shifted
// overlap).

#include "Audio/Kernels/DCDAWKernel.h"

#include <cstdint>

namespace zel
{

// ---- Biquads -------------------------------------------------------------------------------
//
// Coefficient record (argument 1 of "DCDAW_fltbiqi" and "DCDAW_fltbiqu"): five doubles
// b0, b1, b2, a1, a2 of a filter normalised to a0 = 1, with the usual sign convention
// y = b0 x + b1 x[-1] + b2 x[-2] - a1 y[-1] - a2 y[-2].
//
// State record (kBiquadStateSize doubles). The processing kernels run direct form II:
// w[n] = x[n] + (-a1) w[n-1] + (-a2) w[n-2], and an output form chosen by the kernel.
struct CDCDAWBiquadState
{
    static constexpr int kCoeffs = 0;       // b0, b1, b2, -a1, -a2 of the current filter
    static constexpr int kHistory = 5;      // w[n-1], w[n-2] of the current filter
    static constexpr int kNextCoeffs = 7;   // the filter being faded in during a transition
    static constexpr int kNextHistory = 12; // its w[n-1], w[n-2]
    static constexpr int kFadeS = 14;       // raised-cosine position s(k), 0.5 down to -0.5
    static constexpr int kFadeSPrev = 15;   // s(k-1)
    static constexpr int kFadeFactor = 16;  // 2 cos(pi / N)
    static constexpr int kCounts = 17; // two int32 (memcpy): remaining samples, transition length N
    static constexpr int kPending = 18;       // 1.0 when a pending set waits, else 0.0
    static constexpr int kPendingCoeffs = 19; // b0, b1, b2, -a1, -a2 of the pending set
    static constexpr int kSize = 24;

    // Seconds of the coefficient transition; N = round(kTransitionSeconds * sample rate).
    static constexpr double kTransitionSeconds = 0.025;

    static std::int32_t remaining(const double* state);
    static std::int32_t transitionLength(const double* state);
};

// "DCDAW_fltbiqi" (state, coeffs; x = sample rate): loads the coefficients, clears both
// histories, the transition and the pending set, and sets N = round(0.025 x), half away from
// zero.
void dcdawFltBiqI(CDCDAWCall* call);
// "DCDAW_fltbiqu" (state, coeffs): a new coefficient set. Without a running transition it
// starts one of N samples towards the new set (history carried over); during one it becomes
// the pending set, replacing any earlier pending set. With N = 0 the set applies at once.
void dcdawFltBiqU(CDCDAWCall* call);
// "DCDAW_fltbiq*" (out, state, in): n samples through the filter; out may equal in.
//   common: y = b0 w[n] + b1 w[n-1] + b2 w[n-2]
//   lp:     y = b0 (w[n] + 2 w[n-1] + w[n-2])
//   hp:     y = b0 (w[n] - 2 w[n-1] + w[n-2])
//   bp:     y = b0 (w[n] - w[n-2])
//   notch:  y = b0 (w[n] + w[n-2]) + b1 w[n-1]
// During a transition both filters run and out = (0.5 - s) new + (0.5 + s) old with
// s = 0.5 cos(pi k / N), k = 0 .. N-1; when it ends the new filter becomes current and a
// pending set starts the next transition.
void dcdawFltBiqCommon(CDCDAWCall* call);
void dcdawFltBiqLP(CDCDAWCall* call);
void dcdawFltBiqHP(CDCDAWCall* call);
void dcdawFltBiqBP(CDCDAWCall* call);
void dcdawFltBiqNotch(CDCDAWCall* call);
// Paired forms (DCDAWKernel.h): two calls of the same form at once. Two steady filters run
// interleaved; when either is in a transition, or the counts differ, the calls run one after
// the other.
void dcdawFltBiqCommonPair(CDCDAWCall* first, CDCDAWCall* second);
void dcdawFltBiqLPPair(CDCDAWCall* first, CDCDAWCall* second);
void dcdawFltBiqHPPair(CDCDAWCall* first, CDCDAWCall* second);
void dcdawFltBiqBPPair(CDCDAWCall* first, CDCDAWCall* second);
void dcdawFltBiqNotchPair(CDCDAWCall* first, CDCDAWCall* second);

// ---- Half-band filters ---------------------------------------------------------------------
//
// Order K (2, 4, ..., 16): two chains of K/2 second-order allpass stages
// y[n] = c (x[n] - y[n-2]) + x[n-2], both fed the input; out[n] = 0.5 (A[n] + B[n-1]).
// Coefficient record (argument 1 of the initialiser): the K/2 'a' values, then the K/2 'b'.
// State record (halfBandStateSize(K) doubles):
//   [0, K/2)          chain A coefficients      [K/2, K)  chain B coefficients
//   [K]               chain B's output of the previous sample
//   [K+1, K+1+4K)     per stage (A stages first, then B), x[n-2], x[n-1], y[n-2], y[n-1]
constexpr int halfBandStateSize(int order)
{
    return order + 1 + 4 * order;
}

// "DCDAW_flthbfKi" (state, coeffs): copies the K coefficients and clears all history.
// "DCDAW_flthbfK" (out, state, in): n samples; out may equal in. Instantiated for the eight
// orders only.
template <int K>
void dcdawFltHbfI(CDCDAWCall* call);
template <int K>
void dcdawFltHbf(CDCDAWCall* call);

// ---- Fast convolution ----------------------------------------------------------------------
//
// n carries the count in its low 24 bits and log2 of the half-size B in its high byte
// (CDCDAWCall::packConvolutionCount). Spectra use the packed layout of a real DFT of N = 2B
// points: [0] DC (real), [1] Nyquist (real), then re, im of bins 1 .. B-1.
//
// "DCDAW_convacquire" (frame, history, input; x = gain): for i < count: v = input[i] x;
// frame[i] = v; frame[B + i] = history[i] (the previous value); history[i] = v.
// "DCDAW_convmult" (out, a, b; x = first bin, rounded): out = a b for count bins from the first
// bin, DC and Nyquist (bin B) as real products, bins in between complex. Bins outside 0 .. B
// are ignored. out may equal a or b.
// "DCDAW_convmultadd": the same, adding the products into out.
void dcdawConvAcquire(CDCDAWCall* call);
void dcdawConvMult(CDCDAWCall* call);
void dcdawConvMultAdd(CDCDAWCall* call);

// "DCDAW_rdftf" / "DCDAW_rdfti" (data, set-up, work): real DFT of n = N points in place, N a
// power of two from 2 to 2^CDCDAWRealDFT::kMaxLog2Size. Argument 1 holds the set-up tables of
// exactly this N, copied by the module from CDCDAWRealDFTWorkspace::setup (the kernel checks
// the size recorded in them and does nothing on a mismatch); argument 2 is scratch of N
// doubles. Forward: X[k] = sum x[m] e^(-2 pi i k m / N), packed as above, unscaled. Inverse:
// x[m] = (1/N) sum over all N bins, so rdfti(rdftf(x)) = x.
void dcdawRealDFTForward(CDCDAWCall* call);
void dcdawRealDFTInverse(CDCDAWCall* call);

} // namespace zel
