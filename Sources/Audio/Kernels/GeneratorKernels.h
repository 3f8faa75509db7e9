#pragma once
// The stateful kernels of the basic family: raised-cosine crossfade, anti-denormal noise, sine
// generator and low-pass filtered noise. Their state record layouts are in BasicKernels.h; the
// descriptors that name these functions are in dcdawBasicKernels(). Like every kernel, each of
// them does nothing when n <= 0 (the initialisers too: issue them with n = 1).

namespace zel
{

struct CDCDAWCall;

// xfadei: state. Reads the length (seconds) and x (sample rate); N = round(length * x), at
// least 1; sets s(0) = 0.5, s(-1) = 0.5 cos(pi / N), k = 0.
void dcdawXfadeInit(CDCDAWCall* call);
// xfade: out, state, a (new), b (old). out = (0.5 - s) a + (0.5 + s) b while k < N, with
// s(k + 1) = 2 cos(pi / N) s(k) - s(k - 1); from k = N on, out = a. out may alias a or b.
void dcdawXfade(CDCDAWCall* call);
// denorm: out, state, in. Per sample seed = seed * 30013 + 30011 (mod 2^32);
// out = (in - 1e-11) + (seed & 0x800000) * 2^-23 * 2e-11. out may alias in.
void dcdawDenorm(CDCDAWCall* call);
// denormn: out, state. The same noise alone: out = (seed & 0x800000) * ... - 1e-11.
void dcdawDenormNoise(CDCDAWCall* call);
// sinei: state. w = 2 pi f / x; y(-1) = 0, y(-2) = A sin(-w), stores 2 cos w.
void dcdawSineInit(CDCDAWCall* call);
// sine: out, state. out = y(k - 1), then y(k) = 2 cos w y(k - 1) - y(k - 2).
void dcdawSine(CDCDAWCall* call);
// fltnoisei: state. Seeds the lagged-table uniform generator from the seed, stores 2A, the
// one-pole coefficient for the cut-off at sample rate x, and y = 0.
void dcdawFltNoiseInit(CDCDAWCall* call);
// fltnoise: out, state. Per sample a uniform u in [0, 1); y += ((u - 0.5) 2A - y) c; out = y.
void dcdawFltNoise(CDCDAWCall* call);

} // namespace zel
