#include "KernelTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace
{

using kelvtest::forEachBlock;
using kelvtest::randomSignal;
using kelvtest::runKernel;
using zel::CDCDAWFltNoiseState;
using zel::CDCDAWXfadeState;
constexpr double kPi = std::numbers::pi;

TEST(XfadeKernel, StartsOnTheOldSignalAndEndsOnTheNewAfterRoundedLengthSamples)
{
    // {seconds, sample rate, N = seconds * rate rounded half away from zero}
    for (const auto& [seconds, rate, samples] : {std::tuple{0.015, 44100.0, 662},
                                                 {0.015, 48000.0, 720},
                                                 {0.0001, 44100.0, 4},
                                                 {0.00005, 30000.0, 2},
                                                 {0.005, 48000.0, 240}})
    {
        std::vector<double> st(CDCDAWXfadeState::kSize, 0.0);
        st[CDCDAWXfadeState::kLength] = seconds;
        runKernel("DCDAW_xfadei", 1, rate, {st.data()});
        const std::size_t total = std::size_t(samples) + 300;
        std::vector<double> a = randomSignal(total, 41u), b = randomSignal(total, 42u);
        std::vector<double> out(total), inPlace = a;
        std::vector<double> st2 = st;
        forEachBlock(total,
                     [&](std::size_t at, std::int32_t n) {
                         runKernel("DCDAW_xfade", n, 0.0,
                                   {out.data() + at, st.data(), a.data() + at, b.data() + at});
                     });
        EXPECT_EQ(out[0], b[0]) << samples;
        for (std::size_t k = 0; k < total; ++k)
        {
            const double s =
                k < std::size_t(samples) ? 0.5 * std::cos(kPi * double(k) / samples) : -0.5;
            ASSERT_NEAR(out[k], (0.5 - s) * a[k] + (0.5 + s) * b[k], 1e-12) << samples << k;
            ASSERT_TRUE(k < std::size_t(samples) || out[k] == a[k]) << samples << ", " << k;
        }
        // One call with out equal to the new signal gives the same.
        runKernel("DCDAW_xfade", std::int32_t(total), 0.0,
                  {inPlace.data(), st2.data(), inPlace.data(), b.data()});
        EXPECT_EQ(inPlace, out);
    }
}

std::uint32_t nextSeed(std::uint32_t seed)
{
    return static_cast<std::uint32_t>((std::uint64_t{seed} * 30013u + 30011u) % 4294967296u);
}

TEST(DenormKernels, AddExactlyPlusOrMinusOneE11BySeedBit23)
{
    for (std::uint32_t seed0 : {0u, 0x80000000u, 0xFFFFFFFFu, 123456789u})
    {
        std::vector<double> in = randomSignal(2000, seed0);
        std::vector<double> noise(2000), sum(2000), sumInPlace = in;
        std::vector<double> st1(1), st2(1), st3(1);
        for (auto* st : {&st1, &st2, &st3})
            zel::CDCDAWDenormState::setSeed(st->data(), seed0);
        forEachBlock(
            in.size(),
            [&](std::size_t at, std::int32_t n)
            {
                runKernel("DCDAW_denormn", n, 0.0, {noise.data() + at, st1.data()});
                runKernel("DCDAW_denorm", n, 0.0, {sum.data() + at, st2.data(), in.data() + at});
            });
        runKernel("DCDAW_denorm", 2000, 0.0, {sumInPlace.data(), st3.data(), sumInPlace.data()});
        std::uint32_t seed = seed0;
        for (std::size_t i = 0; i < in.size(); ++i)
        {
            seed = nextSeed(seed);
            const bool up = ((seed >> 23) & 1u) != 0;
            ASSERT_EQ(noise[i], up ? 1e-11 : -1e-11) << seed0 << ", " << i;
            ASSERT_EQ(sum[i], (in[i] - 1e-11) + (up ? 2e-11 : 0.0)) << seed0 << ", " << i;
        }
        EXPECT_EQ(sumInPlace, sum);
        for (const auto* st : {&st1, &st2, &st3})
            EXPECT_EQ(zel::CDCDAWDenormState::seed(st->data()), seed);
    }
}

TEST(SineKernel, StartsAtZeroAndFollowsTheSine)
{
    for (const auto& [f, amplitude, rate] :
         {std::tuple{1000.0, 0.7, 48000.0}, {60.0, 2.0, 44100.0}, {15000.0, 1.0, 96000.0}})
    {
        std::vector<double> st(zel::CDCDAWSineState::kSize, 0.0), out(4800, 9.0);
        st[zel::CDCDAWSineState::kFrequency] = f;
        st[zel::CDCDAWSineState::kAmplitude] = amplitude;
        runKernel("DCDAW_sinei", 1, rate, {st.data()});
        forEachBlock(out.size(),
                     [&](std::size_t at, std::int32_t n) {
                         runKernel("DCDAW_sine", n, 0.0, {out.data() + at, st.data()});
                     });
        EXPECT_EQ(out[0], 0.0);
        for (std::size_t k = 0; k < out.size(); ++k)
            ASSERT_NEAR(out[k], amplitude * std::sin(2 * kPi * f / rate * double(k)), 1e-9) << k;
    }
}

// The lagged-table uniform generator as published: 1-based table of 97 entries, lags 97 and
// 33, a 24-bit carry sequence; seeds 0 <= ij <= 31328 and 0 <= kl <= 30081.
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
            for (int jj = 1; jj <= 24; ++jj, t *= 0.5)
            {
                const int m = (((i * j) % 179) * k) % 179;
                i = j, j = k, k = m;
                l = (53 * l + 1) % 169;
                s += (l * m) % 64 >= 32 ? t : 0.0;
            }
            m_u[ii] = s;
        }
    }
    double next()
    {
        double uni = m_u[m_i97] - m_u[m_j97];
        if (uni <= 0.0)
            uni += 1.0;
        m_u[m_i97] = uni;
        m_i97 = m_i97 == 1 ? 97 : m_i97 - 1;
        m_j97 = m_j97 == 1 ? 97 : m_j97 - 1;
        m_c -= 7654321.0 / 16777216.0;
        if (m_c < 0.0)
            m_c += 16777213.0 / 16777216.0;
        uni -= m_c;
        return uni < 0.0 ? uni + 1.0 : uni;
    }

private:
    double m_u[98] = {};
    double m_c = 362436.0 / 16777216.0;
    int m_i97 = 97, m_j97 = 33;
};

TEST(FltNoiseKernel, IsTheReferenceGeneratorThroughTheOnePoleFilter)
{
    // The generator's published check: after 20000 draws from (1802, 9373), these times 2^24.
    CUniformReference check(1802, 9373);
    for (int i = 0; i < 20000; ++i)
        check.next();
    for (double expected : {6533892.0, 14220222.0, 7275067.0, 6172232.0, 8354498.0, 10633180.0})
        EXPECT_EQ(check.next() * 16777216.0, expected);

    const double rate = 44100.0, cutoff = 2500.0, amplitude = 0.25;
    const double b = 2.0 - std::cos(2.0 * kPi * cutoff / rate);
    const double coef = 1.0 - b + std::sqrt(b * b - 1.0);
    // {seed, first seed, second seed}; a negative seed falls back to 1802, 9373.
    for (const auto& [seed, ij, kl] :
         {std::tuple{0, 0, 0},
          {1, 1, 0},
          {31329 * 9373 + 1802, 1802, 9373},
          {2147483647, 2147483647 % 31329, (2147483647 / 31329) % 30082},
          {-5, 1802, 9373}})
    {
        std::vector<double> st(CDCDAWFltNoiseState::kSize, 0.0), out(3000);
        CDCDAWFltNoiseState::setSeed(st.data(), seed);
        st[CDCDAWFltNoiseState::kAmplitude] = amplitude;
        st[CDCDAWFltNoiseState::kFrequency] = cutoff;
        runKernel("DCDAW_fltnoisei", 1, rate, {st.data()});
        ASSERT_NEAR(st[CDCDAWFltNoiseState::kCoef], coef, 1e-15);
        forEachBlock(out.size(),
                     [&](std::size_t at, std::int32_t n) {
                         runKernel("DCDAW_fltnoise", n, 0.0, {out.data() + at, st.data()});
                     });
        CUniformReference u(ij, kl);
        double y = 0.0;
        for (std::size_t k = 0; k < out.size(); ++k)
        {
            y += ((u.next() - 0.5) * 2.0 * amplitude - y) * st[CDCDAWFltNoiseState::kCoef];
            ASSERT_EQ(out[k], y) << seed << ", " << k;
        }
    }
}

} // namespace
