#include "Audio/Kernels/BasicKernels.h"
#include "KernelTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace
{

using kelvtest::randomSignal;
using kelvtest::runKernel;
using zel::CDCDAWFltNoiseState;
using zel::CDCDAWXfadeState;

// Runs a per-block kernel over `total` samples in blocks of the given sizes (cycled), the way a
// module calls it block after block; out and in are advanced, the state is not.
template <class Call>
void inBlocks(std::int32_t total, const std::vector<std::int32_t>& sizes, Call call)
{
    std::int32_t done = 0;
    for (std::size_t b = 0; done < total; ++b)
    {
        const std::int32_t n = std::min(sizes[b % sizes.size()], total - done);
        call(done, n);
        done += n;
    }
}
const std::vector<std::int32_t> kBlocks = {1, 7, 64, 2, 513, 33};

// ---- Crossfade ----

TEST(XfadeKernel, StartsOnTheOldSignalAndEndsOnTheNewAfterRoundedLengthSamples)
{
    struct
    {
        double seconds;
        double rate;
        std::int32_t samples; // round half away from zero
    } const cases[] = {
        {0.015, 44100.0, 662},                        // 661.5
        {0.015, 48000.0, 720}, {0.0001, 44100.0, 4},  // 4.41
        {0.0001, 96000.0, 10}, {0.00005, 30000.0, 2}, // 1.5
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.samples);
        std::vector<double> state(CDCDAWXfadeState::kSize, 0.0);
        state[CDCDAWXfadeState::kLength] = c.seconds;
        runKernel("DCDAW_xfadei", 1, c.rate, {state.data()});
        EXPECT_EQ(state[CDCDAWXfadeState::kSamples], c.samples);

        // New signal 0, old signal 1: the output is the old signal's weight, 0.5 + s(k).
        const std::int32_t total = c.samples + 40;
        std::vector<double> newSig(static_cast<std::size_t>(total), 0.0);
        std::vector<double> oldSig(static_cast<std::size_t>(total), 1.0);
        std::vector<double> out(static_cast<std::size_t>(total), -1.0);
        inBlocks(total, kBlocks,
                 [&](std::int32_t at, std::int32_t n)
                 {
                     runKernel(
                         "DCDAW_xfade", n, 0.0,
                         {out.data() + at, state.data(), newSig.data() + at, oldSig.data() + at});
                 });
        EXPECT_EQ(out[0], 1.0);
        const double pi = std::numbers::pi;
        for (std::int32_t k = 0; k < c.samples; ++k)
        {
            const double expected = 0.5 + 0.5 * std::cos(pi * k / c.samples);
            ASSERT_NEAR(out[static_cast<std::size_t>(k)], expected, 1e-12) << k;
        }
        EXPECT_GT(out[static_cast<std::size_t>(c.samples - 1)], 0.0);
        for (std::int32_t k = c.samples; k < total; ++k)
            ASSERT_EQ(out[static_cast<std::size_t>(k)], 0.0) << k;
    }
}

TEST(XfadeKernel, BlendsRealSignalsInPlace)
{
    const std::int32_t n = 300;
    const std::size_t un = static_cast<std::size_t>(n);
    const std::vector<double> a = randomSignal(un, 41u), b = randomSignal(un, 42u);
    std::vector<double> state(CDCDAWXfadeState::kSize, 0.0);
    state[CDCDAWXfadeState::kLength] = 0.005; // 240 samples
    runKernel("DCDAW_xfadei", 1, 48000.0, {state.data()});
    const std::vector<double> fresh = state;

    std::vector<double> out(un);
    runKernel(
        "DCDAW_xfade", n, 0.0,
        {out.data(), state.data(), const_cast<double*>(a.data()), const_cast<double*>(b.data())});
    EXPECT_EQ(out[0], b[0]);
    for (std::size_t k = 0; k < un; ++k)
    {
        const double w = k < 240 ? 0.5 * std::cos(std::numbers::pi * double(k) / 240.0) : -0.5;
        ASSERT_NEAR(out[k], (0.5 - w) * a[k] + (0.5 + w) * b[k], 1e-12) << k;
    }
    EXPECT_EQ(out[299], a[299]);

    for (int alias : {2, 3})
    {
        std::vector<double> inPlace = alias == 2 ? a : b;
        std::vector<double> st = fresh;
        double* pa = alias == 2 ? inPlace.data() : const_cast<double*>(a.data());
        double* pb = alias == 3 ? inPlace.data() : const_cast<double*>(b.data());
        runKernel("DCDAW_xfade", n, 0.0, {inPlace.data(), st.data(), pa, pb});
        EXPECT_EQ(inPlace, out) << "out aliases argument " << alias;
        EXPECT_EQ(st, state);
    }
}

// ---- Anti-denormal noise ----

std::uint32_t nextSeed(std::uint32_t seed)
{
    return static_cast<std::uint32_t>((std::uint64_t{seed} * 30013u + 30011u) % 4294967296u);
}

TEST(DenormKernels, NoiseIsExactlyPlusOrMinusOneE11BySeedBit23)
{
    for (std::uint32_t seed0 : {0u, 1u, 0x80000000u, 0xFFFFFFFFu, 123456789u})
    {
        SCOPED_TRACE(seed0);
        const std::int32_t total = 2000;
        std::vector<double> state(1, 0.0), out(total, 0.0);
        zel::CDCDAWDenormState::setSeed(state.data(), seed0);
        inBlocks(total, kBlocks,
                 [&](std::int32_t at, std::int32_t n) {
                     runKernel("DCDAW_denormn", n, 0.0, {out.data() + at, state.data()});
                 });
        std::uint32_t seed = seed0;
        int positive = 0;
        for (double v : out)
        {
            seed = nextSeed(seed);
            const bool up = ((seed >> 23) & 1u) != 0;
            ASSERT_EQ(v, up ? 1e-11 : -1e-11);
            positive += up ? 1 : 0;
        }
        EXPECT_EQ(zel::CDCDAWDenormState::seed(state.data()), seed);
        EXPECT_GT(positive, 800);
        EXPECT_LT(positive, 1200);
    }
}

TEST(DenormKernels, AddsTheNoiseToTheInputInAndOutOfPlace)
{
    const std::int32_t n = 999;
    const std::vector<double> in = randomSignal(999, 51u);
    std::vector<double> state(1, 0.0), out(999, 0.0);
    zel::CDCDAWDenormState::setSeed(state.data(), 77u);
    runKernel("DCDAW_denorm", n, 0.0, {out.data(), state.data(), const_cast<double*>(in.data())});
    std::uint32_t seed = 77u;
    for (std::size_t i = 0; i < in.size(); ++i)
    {
        seed = nextSeed(seed);
        const bool up = ((seed >> 23) & 1u) != 0;
        ASSERT_EQ(out[i], (in[i] - 1e-11) + (up ? 2e-11 : 0.0)) << i;
        ASSERT_NEAR(out[i] - in[i], up ? 1e-11 : -1e-11, 1e-15) << i;
    }
    std::vector<double> inPlace = in, st(1, 0.0);
    zel::CDCDAWDenormState::setSeed(st.data(), 77u);
    runKernel("DCDAW_denorm", n, 0.0, {inPlace.data(), st.data(), inPlace.data()});
    EXPECT_EQ(inPlace, out);
    EXPECT_EQ(st, state);
}

// ---- Sine ----

TEST(SineKernel, StartsAtZeroAndFollowsTheSine)
{
    for (const auto& [f, amplitude, rate] :
         {std::tuple{1000.0, 0.7, 48000.0}, std::tuple{60.0, 2.0, 44100.0},
          std::tuple{15000.0, 1.0, 96000.0}})
    {
        SCOPED_TRACE(f);
        std::vector<double> state(zel::CDCDAWSineState::kSize, 0.0);
        state[zel::CDCDAWSineState::kFrequency] = f;
        state[zel::CDCDAWSineState::kAmplitude] = amplitude;
        runKernel("DCDAW_sinei", 1, rate, {state.data()});
        const std::int32_t total = 4800;
        std::vector<double> out(total, 9.0);
        inBlocks(total, kBlocks,
                 [&](std::int32_t at, std::int32_t n) {
                     runKernel("DCDAW_sine", n, 0.0, {out.data() + at, state.data()});
                 });
        EXPECT_EQ(out[0], 0.0);
        const double w = 2.0 * std::numbers::pi * f / rate;
        for (std::size_t k = 0; k < out.size(); ++k)
            ASSERT_NEAR(out[k], amplitude * std::sin(w * double(k)), 1e-9 * amplitude) << k;
    }
}

// ---- Filtered noise ----

// The lagged-table uniform generator as published: 1-based table of 97 entries, lags 97 and
// 33, 24-bit carry sequence; seeds 0 <= ij <= 31328 and 0 <= kl <= 30081.
class CUniformReference
{
public:
    CUniformReference(int ij, int kl)
    {
        int i = ((ij / 177) % 177) + 2, j = (ij % 177) + 2;
        int k = ((kl / 169) % 178) + 1, l = kl % 169;
        for (int ii = 1; ii <= 97; ++ii)
        {
            double s = 0.0, t = 0.5;
            for (int jj = 1; jj <= 24; ++jj)
            {
                const int m = (((i * j) % 179) * k) % 179;
                i = j;
                j = k;
                k = m;
                l = (53 * l + 1) % 169;
                if ((l * m) % 64 >= 32)
                    s = s + t;
                t = 0.5 * t;
            }
            m_u[ii] = s;
        }
    }
    double next()
    {
        double uni = m_u[m_i97] - m_u[m_j97];
        if (uni <= 0.0)
            uni = uni + 1.0;
        m_u[m_i97] = uni;
        m_i97 = m_i97 == 1 ? 97 : m_i97 - 1;
        m_j97 = m_j97 == 1 ? 97 : m_j97 - 1;
        m_c = m_c - m_cd;
        if (m_c < 0.0)
            m_c = m_c + m_cm;
        uni = uni - m_c;
        if (uni < 0.0)
            uni = uni + 1.0;
        return uni;
    }

private:
    double m_u[98] = {};
    double m_c = 362436.0 / 16777216.0;
    double m_cd = 7654321.0 / 16777216.0;
    double m_cm = 16777213.0 / 16777216.0;
    int m_i97 = 97;
    int m_j97 = 33;
};

TEST(FltNoiseKernel, ReferenceGeneratorReproducesThePublishedCheckValues)
{
    CUniformReference u(1802, 9373);
    for (int i = 0; i < 20000; ++i)
        u.next();
    for (double expected : {6533892.0, 14220222.0, 7275067.0, 6172232.0, 8354498.0, 10633180.0})
        EXPECT_EQ(u.next() * 4096.0 * 4096.0, expected);
}

TEST(FltNoiseKernel, MatchesTheReferenceGeneratorThroughTheOnePoleFilter)
{
    struct
    {
        std::int32_t seed;
        int ij, kl;
    } const cases[] = {
        {0, 0, 0},
        {1, 1, 0},
        {31329 * 9373 + 1802, 1802, 9373},
        {2147483647, 2147483647 % 31329, (2147483647 / 31329) % 30082},
        {-5, 1802, 9373}, // a negative seed falls back
    };
    const double rate = 44100.0, cutoff = 2500.0, amplitude = 0.25;
    const double b = 2.0 - std::cos(2.0 * std::numbers::pi * cutoff / rate);
    const double coef = 1.0 - b + std::sqrt(b * b - 1.0);
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.seed);
        std::vector<double> state(CDCDAWFltNoiseState::kSize, 0.0);
        CDCDAWFltNoiseState::setSeed(state.data(), c.seed);
        state[CDCDAWFltNoiseState::kAmplitude] = amplitude;
        state[CDCDAWFltNoiseState::kFrequency] = cutoff;
        runKernel("DCDAW_fltnoisei", 1, rate, {state.data()});
        EXPECT_NEAR(state[CDCDAWFltNoiseState::kCoef], coef, 1e-15);

        const std::int32_t total = 3000;
        std::vector<double> out(total);
        inBlocks(total, kBlocks,
                 [&](std::int32_t at, std::int32_t n) {
                     runKernel("DCDAW_fltnoise", n, 0.0, {out.data() + at, state.data()});
                 });
        CUniformReference u(c.ij, c.kl);
        double y = 0.0;
        for (std::size_t k = 0; k < out.size(); ++k)
        {
            const double noise = (u.next() - 0.5) * (2.0 * amplitude);
            y = y + (noise - y) * state[CDCDAWFltNoiseState::kCoef];
            ASSERT_EQ(out[k], y) << k;
            ASSERT_LE(std::abs(out[k]), amplitude);
        }
    }
}

// The kernel's own output, unfiltered back to the uniform draws, gives the published values.
TEST(FltNoiseKernel, PublishedCheckValuesSurviveTheFilter)
{
    std::vector<double> state(CDCDAWFltNoiseState::kSize, 0.0);
    CDCDAWFltNoiseState::setSeed(state.data(), -1); // the fallback seeds 1802, 9373
    state[CDCDAWFltNoiseState::kAmplitude] = 0.5;   // 2A = 1
    state[CDCDAWFltNoiseState::kFrequency] = 8000.0;
    runKernel("DCDAW_fltnoisei", 1, 48000.0, {state.data()});
    const double c = state[CDCDAWFltNoiseState::kCoef];
    std::vector<double> out(20006);
    runKernel("DCDAW_fltnoise", 20006, 0.0, {out.data(), state.data()});
    const double expected[] = {6533892.0, 14220222.0, 7275067.0, 6172232.0, 8354498.0, 10633180.0};
    for (std::size_t i = 0; i < 6; ++i)
    {
        const double y1 = out[20000 + i - 1], y = out[20000 + i];
        const double u = (y - y1) / c + y1 + 0.5;
        EXPECT_EQ(std::round(u * 16777216.0), expected[i]) << i;
    }
}

} // namespace
