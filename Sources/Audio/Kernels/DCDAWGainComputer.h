#pragma once
// The gain computer kernels of the dynamics family: "DCDAW_kelvcompi" (initialise a state
// record), "DCDAW_kelvcompu" (fill a fresh record and carry the running gain and detector
// over from the previous one), "DCDAW_kelvcomp" and "DCDAW_kelvcomprms" (level in, gain
// factor out, without and with the mean-square detector). This header only declares the
// kernels and the layout of their state record; the descriptors are exported through
// dcdawDynamicsKernels() (Audio/Kernels/DCDAWKernel.h). It is not the module that binds
// parameters and issues the calls.

#include <cstdint>

namespace zel
{

struct CDCDAWCall;

// Field indices of the gain computer's state record: thirteen 64-bit fields in this order.
// The module writes the first six before "DCDAW_kelvcompi" / "DCDAW_kelvcompu"; the kernels
// own the rest.
enum EKelvCompField : int
{
    kKelvCompThreshold = 0,   // T as a linear amplitude; holds 1/T once initialised in inverse mode
    kKelvCompSlope = 1,       // R: slope of the output-over-input line above the threshold
    kKelvCompRange = 2,       // L: largest gain change as a linear factor
    kKelvCompAttackTime = 3,  // seconds
    kKelvCompReleaseTime = 4, // seconds
    kKelvCompInverse = 5,     // inverse flag: one byte (the field's first) in an eight-byte field
    kKelvCompGain = 6,        // running gain g, 1.0 after initialisation
    kKelvCompAttackCoef = 7,
    kKelvCompReleaseCoef = 8,
    kKelvCompUnused = 9,
    kKelvCompInvRange = 10,       // 1/L
    kKelvCompMeanSquare = 11,     // mean-square detector state m, 0 after initialisation
    kKelvCompMeanSquareCoef = 12, // one-pole coefficient at a fixed 500 Hz
    kKelvCompFieldCount = 13
};

// The inverse flag is the first byte of its field; writing clears the other seven bytes.
void setKelvCompInverse(double* state, bool inverse);
bool kelvCompInverse(const double* state);

// One-pole smoothing coefficient for a frequency f at sample rate fs:
// c = 1 - b + sqrt(b^2 - 1), b = 2 - cos(2*pi*f/fs). A non-positive or non-finite f or fs
// (a zero time, an unset rate) gives 1.0: the smoothed value then follows its input at once.
double dynamicsOnePoleCoefficient(double f, double fs);

// Kernels (descriptors in dcdawDynamicsKernels()). x is the sample rate for the initialiser
// and the update; n <= 0 makes every one of them do nothing (the module issues the
// initialiser and the update with n = 1).
//
// kelvcompi(state): coefficients from the attack and release times and the fixed 500 Hz,
//   1/L, T replaced by 1/T when the inverse flag is set, g = 1, m = 0.
// kelvcompu(state, previous): as kelvcompi on state, then g and m copied from previous.
// kelvcomp(out, state, in) / kelvcomprms(out, state, in): out[i] = gain after sample in[i]
//   (see DCDAWGainComputer.cpp for the law). in must be non-negative; out may equal in.
void dcdawKelvCompInit(CDCDAWCall* call);
void dcdawKelvCompUpdate(CDCDAWCall* call);
void dcdawKelvComp(CDCDAWCall* call);
void dcdawKelvCompRms(CDCDAWCall* call);
// Paired forms (DCDAWKernel.h): two channels' gain computers in one pass when both run the
// same variant of the law (direction, inverse mode, which of attack and release is faster)
// over the same count; otherwise one after the other.
void dcdawKelvCompPair(CDCDAWCall* first, CDCDAWCall* second);
void dcdawKelvCompRmsPair(CDCDAWCall* first, CDCDAWCall* second);

} // namespace zel
