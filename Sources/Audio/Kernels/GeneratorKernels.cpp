#include "Audio/Kernels/GeneratorKernels.h"

#include "Audio/Kernels/BasicKernels.h"
#include "Audio/Kernels/DCDAWKernel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace zel
{
namespace
{
// One-pole smoothing coefficient for a frequency f at sample rate fs.
double onePoleCoefficient(double f, double fs)
{
    const double b = 2.0 - std::cos(2.0 * std::numbers::pi * f / fs);
    return 1.0 - b + std::sqrt(b * b - 1.0);
}

// The seed's sign bit of the anti-denormal noise scaled to 2e-11 (exact: 2^23 * this = 2e-11).
constexpr double kDenormScale = 2.384185791015625e-18;
constexpr double kDenormOffset = 1e-11;

// The anti-denormal seed sequence seed' = seed * 30013 + 30011 (mod 2^32), run as two
// interleaved lanes (even and odd samples) that each advance two steps at a time, so that the
// two multiplications of a pair do not wait for each other. The sequence is the same.
class CDenormSeeds
{
public:
    static constexpr std::uint32_t kMul = 30013u;
    static constexpr std::uint32_t kAdd = 30011u;
    static constexpr std::uint32_t kMul2 = kMul * kMul;
    static constexpr std::uint32_t kAdd2 = kAdd * kMul + kAdd;

    explicit CDenormSeeds(std::uint32_t seed)
        : m_seed0(seed * kMul + kAdd), m_seed1(m_seed0 * kMul + kAdd)
    {
    }
    double noise0() const { return static_cast<double>(m_seed0 & 0x800000u) * kDenormScale; }
    double noise1() const { return static_cast<double>(m_seed1 & 0x800000u) * kDenormScale; }
    void advance()
    {
        m_seed0 = m_seed0 * kMul2 + kAdd2;
        m_seed1 = m_seed1 * kMul2 + kAdd2;
    }
    // The seed of the last sample produced: the even lane's own when a single sample ended the
    // block, else the step before it (the even lane is then one step ahead).
    std::uint32_t last(bool endedOnEvenLane) const
    {
        return endedOnEvenLane ? m_seed0 : (m_seed0 - kAdd) * inverse(kMul);
    }

private:
    // The multiplicative inverse of an odd number modulo 2^32.
    static constexpr std::uint32_t inverse(std::uint32_t odd)
    {
        std::uint32_t x = odd; // Newton iteration: each step doubles the correct low bits
        for (int k = 0; k < 5; ++k)
            x *= 2u - odd * x;
        return x;
    }

    std::uint32_t m_seed0;
    std::uint32_t m_seed1;
};

// Carry constants of the lagged-table generator.
constexpr double kCarryStart = 362436.0 / 16777216.0;
constexpr double kCarryStep = 7654321.0 / 16777216.0;
constexpr double kCarryMod = 16777213.0 / 16777216.0;
} // namespace

// ---- Crossfade ----

void dcdawXfadeInit(CDCDAWCall* call)
{
    if (call->n <= 0)
        return;
    double* st = call->data[0];
    using S = CDCDAWXfadeState;
    double samples = std::round(st[S::kLength] * call->x); // half away from zero
    if (!(samples >= 1.0))
        samples = 1.0; // also catches NaN
    samples = std::min(samples, 2147483647.0);
    const double c = std::cos(std::numbers::pi / samples);
    st[S::kSamples] = samples;
    st[S::kS] = 0.5;
    st[S::kSPrev] = 0.5 * c;
    st[S::kTwoCos] = 2.0 * c;
    st[S::kPosition] = 0.0;
}

void dcdawXfade(CDCDAWCall* call)
{
    const std::int32_t n = call->n;
    if (n <= 0)
        return;
    using S = CDCDAWXfadeState;
    double* out = call->data[0];
    double* st = call->data[1];
    const double* a = call->data[2];
    const double* b = call->data[3];
    const double remaining = std::max(0.0, st[S::kSamples] - st[S::kPosition]);
    const std::int32_t blended =
        remaining < static_cast<double>(n) ? static_cast<std::int32_t>(remaining) : n;
    double s = st[S::kS];
    double sPrev = st[S::kSPrev];
    const double twoCos = st[S::kTwoCos];
    for (std::int32_t i = 0; i < blended; ++i)
    {
        out[i] = (0.5 - s) * a[i] + (0.5 + s) * b[i];
        const double next = twoCos * s - sPrev;
        sPrev = s;
        s = next;
    }
    // The blend is over: the new signal alone (also when the old one is not finite).
    if (out != a)
    {
        for (std::int32_t i = blended; i < n; ++i)
            out[i] = a[i];
    }
    st[S::kS] = s;
    st[S::kSPrev] = sPrev;
    st[S::kPosition] += blended;
}

// ---- Anti-denormal noise ----

void dcdawDenorm(CDCDAWCall* call)
{
    const std::int32_t n = call->n;
    if (n <= 0)
        return;
    double* out = call->data[0];
    double* st = call->data[1];
    const double* in = call->data[2];
    CDenormSeeds seeds(CDCDAWDenormState::seed(st));
    std::int32_t i = 0;
    for (; i + 2 <= n; i += 2)
    {
        const double in0 = in[i], in1 = in[i + 1];
        out[i] = (in0 - kDenormOffset) + seeds.noise0();
        out[i + 1] = (in1 - kDenormOffset) + seeds.noise1();
        seeds.advance();
    }
    if (i < n)
        out[i] = (in[i] - kDenormOffset) + seeds.noise0();
    CDCDAWDenormState::setSeed(st, seeds.last(i < n));
}

void dcdawDenormNoise(CDCDAWCall* call)
{
    const std::int32_t n = call->n;
    if (n <= 0)
        return;
    double* out = call->data[0];
    double* st = call->data[1];
    CDenormSeeds seeds(CDCDAWDenormState::seed(st));
    std::int32_t i = 0;
    for (; i + 2 <= n; i += 2)
    {
        out[i] = seeds.noise0() - kDenormOffset;
        out[i + 1] = seeds.noise1() - kDenormOffset;
        seeds.advance();
    }
    if (i < n)
        out[i] = seeds.noise0() - kDenormOffset;
    CDCDAWDenormState::setSeed(st, seeds.last(i < n));
}

// ---- Sine ----

void dcdawSineInit(CDCDAWCall* call)
{
    if (call->n <= 0)
        return;
    using S = CDCDAWSineState;
    double* st = call->data[0];
    const double w = 2.0 * std::numbers::pi * st[S::kFrequency] / call->x;
    const double amplitude = st[S::kAmplitude];
    st[S::kY1] = amplitude * std::sin(0.0);
    st[S::kY2] = amplitude * std::sin(-w);
    st[S::kTwoCos] = 2.0 * std::cos(w);
}

void dcdawSine(CDCDAWCall* call)
{
    const std::int32_t n = call->n;
    if (n <= 0)
        return;
    using S = CDCDAWSineState;
    double* out = call->data[0];
    double* st = call->data[1];
    double y1 = st[S::kY1];
    double y2 = st[S::kY2];
    const double twoCos = st[S::kTwoCos];
    for (std::int32_t i = 0; i < n; ++i)
    {
        out[i] = y1;
        const double y0 = twoCos * y1 - y2;
        y2 = y1;
        y1 = y0;
    }
    st[S::kY1] = y1;
    st[S::kY2] = y2;
}

// ---- Filtered noise ----

void dcdawFltNoiseInit(CDCDAWCall* call)
{
    if (call->n <= 0)
        return;
    using S = CDCDAWFltNoiseState;
    double* st = call->data[0];
    const std::int32_t seed = S::seed(st);
    std::int32_t ij = seed % 31329;
    std::int32_t kl = (seed / 31329) % 30082;
    if (ij < 0 || kl < 0)
    {
        ij = 1802;
        kl = 9373;
    }
    // Table set-up from two seeds: a 3-lag multiplicative generator mod 179 mixed with a
    // linear one mod 169 gives 24 bits per entry.
    std::int32_t i = (ij / 177) % 177 + 2;
    std::int32_t j = ij % 177 + 2;
    std::int32_t k = (kl / 169) % 178 + 1;
    std::int32_t l = kl % 169;
    for (int entry = 0; entry < S::kTableSize; ++entry)
    {
        double sum = 0.0;
        double bit = 0.5;
        for (int b = 0; b < 24; ++b)
        {
            const std::int32_t m = (((i * j) % 179) * k) % 179;
            i = j;
            j = k;
            k = m;
            l = (53 * l + 1) % 169;
            if ((l * m) % 64 >= 32)
                sum += bit;
            bit *= 0.5;
        }
        st[S::kTable + entry] = sum;
    }
    st[S::kCarry] = kCarryStart;
    st[S::kCarryStep] = kCarryStep;
    st[S::kCarryMod] = kCarryMod;
    st[S::kI] = 96.0; // lag 97
    st[S::kJ] = 32.0; // lag 33
    st[S::kGain] = 2.0 * st[S::kAmplitude];
    st[S::kCoef] = onePoleCoefficient(st[S::kFrequency], call->x);
    st[S::kY] = 0.0;
}

void dcdawFltNoise(CDCDAWCall* call)
{
    const std::int32_t n = call->n;
    if (n <= 0)
        return;
    using S = CDCDAWFltNoiseState;
    double* out = call->data[0];
    double* st = call->data[1];
    double* table = st + S::kTable;
    int i = static_cast<int>(st[S::kI]);
    int j = static_cast<int>(st[S::kJ]);
    if (i < 0 || i >= S::kTableSize || j < 0 || j >= S::kTableSize)
        return; // not initialised
    double carry = st[S::kCarry];
    const double carryStep = st[S::kCarryStep];
    const double carryMod = st[S::kCarryMod];
    const double gain = st[S::kGain];
    const double coef = st[S::kCoef];
    double y = st[S::kY];
    // The wraps are written as additions of 0 or the wrap amount so that they compile to
    // selects rather than unpredictable branches; adding 0.0 leaves every value unchanged.
    for (std::int32_t s = 0; s < n; ++s)
    {
        double u = table[i] - table[j];
        u += u <= 0.0 ? 1.0 : 0.0;
        table[i] = u;
        i = i == 0 ? S::kTableSize - 1 : i - 1;
        j = j == 0 ? S::kTableSize - 1 : j - 1;
        carry -= carryStep;
        carry += carry < 0.0 ? carryMod : 0.0;
        u -= carry;
        u += u < 0.0 ? 1.0 : 0.0;
        y += ((u - 0.5) * gain - y) * coef;
        out[s] = y;
    }
    st[S::kI] = i;
    st[S::kJ] = j;
    st[S::kCarry] = carry;
    st[S::kY] = y;
}

} // namespace zel
