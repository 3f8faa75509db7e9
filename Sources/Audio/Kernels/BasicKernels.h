#pragma once
// The record layouts of the basic kernel family (its table is dcdawBasicKernels() in
// DCDAWKernel.h): the state records of the crossfade, anti-denormal noise, sine and filtered
// noise kernels and the weight record of the weighted mid/side kernels. A module writes the
// fields marked "set by the module", issues the initialiser, and then only issues the
// per-block kernel with the same record. The other fields belong to the kernels.
//
// Argument orders (argument 0 first):
//   xfade      out, state, new signal, old signal (the blend starts on the old one)
//   denorm     out, state, in              denormn   out, state
//   sine       out, state                  fltnoise  out, state
//   msenc      mid, side, left, right      msdec     left, right, mid, side
//   msmodenc   mid, side, left, right, weights
//   msmoddec   left, right, mid, side, weights
//   msmodinl   left, right, left, right, weights (out may equal in)
//   interp2    out (2n samples), in (n)    decim2/decim2s  out (n), in (2n)

#include <cstdint>
#include <cstring>

namespace zel
{

// "DCDAW_xfadei" (x = sample rate) and "DCDAW_xfade".
struct CDCDAWXfadeState
{
    static constexpr int kLength = 0;   // crossfade length in seconds (set by the module)
    static constexpr int kSamples = 1;  // N = round(length * fs), at least 1
    static constexpr int kS = 2;        // s(k)
    static constexpr int kSPrev = 3;    // s(k - 1)
    static constexpr int kTwoCos = 4;   // 2 cos(pi / N)
    static constexpr int kPosition = 5; // k, samples blended so far
    static constexpr int kSize = 6;
};

// "DCDAW_denorm" / "DCDAW_denormn": one unsigned 32-bit seed in the first bytes of field 0.
struct CDCDAWDenormState
{
    static constexpr int kSize = 1;
    static void setSeed(double* state, std::uint32_t seed) { std::memcpy(state, &seed, 4); }
    static std::uint32_t seed(const double* state)
    {
        std::uint32_t seed = 0;
        std::memcpy(&seed, state, 4);
        return seed;
    }
};

// "DCDAW_sinei" (x = sample rate) and "DCDAW_sine".
struct CDCDAWSineState
{
    static constexpr int kFrequency = 0; // Hz (set by the module)
    static constexpr int kAmplitude = 1; // (set by the module)
    static constexpr int kY1 = 2;        // y(k - 1), the next output
    static constexpr int kY2 = 3;        // y(k - 2)
    static constexpr int kTwoCos = 4;    // 2 cos w
    static constexpr int kSize = 5;
};

// "DCDAW_fltnoisei" (x = sample rate) and "DCDAW_fltnoise". The uniform generator's lagged
// table and carry live in the record, so a record can be copied to fork the noise.
struct CDCDAWFltNoiseState
{
    static constexpr int kSeed = 0;      // signed 32-bit seed, first bytes (set by the module)
    static constexpr int kAmplitude = 1; // A (set by the module)
    static constexpr int kFrequency = 2; // cut-off in Hz (set by the module)
    static constexpr int kGain = 3;      // 2A
    static constexpr int kCoef = 4;      // one-pole coefficient
    static constexpr int kY = 5;         // filter output
    static constexpr int kCarry = 6;     // generator carry c
    static constexpr int kCarryStep = 7; // cd
    static constexpr int kCarryMod = 8;  // cm
    static constexpr int kI = 9;         // lag index i (0-based)
    static constexpr int kJ = 10;        // lag index j (0-based)
    static constexpr int kTable = 11;    // 97 table entries
    static constexpr int kTableSize = 97;
    static constexpr int kSize = kTable + kTableSize;

    static void setSeed(double* state, std::int32_t seed) { std::memcpy(state, &seed, 4); }
    static std::int32_t seed(const double* state)
    {
        std::int32_t seed = 0;
        std::memcpy(&seed, state, 4);
        return seed;
    }
};

// Weights of "DCDAW_msmodenc", "DCDAW_msmoddec" and "DCDAW_msmodinl": a 16-byte record.
struct CDCDAWMSWeights
{
    static constexpr int kMid = 0;  // c0
    static constexpr int kSide = 1; // c1
    static constexpr int kSize = 2;
};

} // namespace zel
