// The gain computer kernels against a per-sample reference written from the gain law, plus
// the rules the law implies at its edges.
#include "Audio/Kernels/DCDAWGainComputer.h"

#include "Audio/Kernels/DynamicsTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace
{

using namespace kelvtest;
constexpr double kFs = 48000.0;

struct CParams
{
    double threshold = 0.1;
    double slope = 0.25;
    double range = 31.62;
    double attack = 0.01;
    double release = 0.15;
    bool inverse = false;
};

std::vector<double> makeRecord(const CParams& p)
{
    std::vector<double> st(zel::kKelvCompFieldCount, -123.0);
    st[zel::kKelvCompThreshold] = p.threshold;
    st[zel::kKelvCompSlope] = p.slope;
    st[zel::kKelvCompRange] = p.range;
    st[zel::kKelvCompAttackTime] = p.attack;
    st[zel::kKelvCompReleaseTime] = p.release;
    zel::setKelvCompInverse(st.data(), p.inverse);
    return st;
}

std::vector<double> initialised(const CParams& p)
{
    std::vector<double> st = makeRecord(p);
    runKernel("DCDAW_kelvcompi", 1, kFs, {st.data()});
    return st;
}

// The law as described, one sample at a time, with its branches as written.
struct CReference
{
    CParams p;
    bool rms = false;
    double g = 1.0;
    double m = 0.0;

    double step(double x)
    {
        const double att = onePoleReference(1.0 / p.attack, kFs);
        const double rel = onePoleReference(1.0 / p.release, kFs);
        double e = x;
        if (rms)
        {
            m = m + (x * x - m) * onePoleReference(500.0, kFs);
            e = std::sqrt(m);
        }
        double threshold = p.threshold;
        if (p.inverse)
        {
            e = e <= 1e-7 ? 1e7 : 1.0 / e;
            threshold = 1.0 / p.threshold;
        }
        if (e > threshold)
        {
            const double r = (threshold + (e - threshold) * p.slope) / e;
            double target;
            double c;
            if (p.slope > 1.0)
            {
                target = std::min(p.range, r);
                c = target >= g ? att : rel;
            }
            else
            {
                target = std::max(1.0 / p.range, r);
                c = g >= target ? att : rel;
            }
            g = g + (target - g) * c;
        }
        else
        {
            g = g + (1.0 - g) * rel;
        }
        return g;
    }
};

struct CVariant
{
    const char* name;
    CParams params;
    bool rms;
};

class GainComputerVariant : public testing::TestWithParam<CVariant>
{
};

// Every loop variant (upward/downward, inverse or not, with and without the detector, attack
// faster or slower than release) equals the reference sample by sample, in blocks of
// irregular lengths, with a separate output and in place.
TEST_P(GainComputerVariant, MatchesPerSampleReference)
{
    const CVariant& v = GetParam();
    // Levels that cross the threshold all the time, with stretches of zeros.
    std::vector<double> in = rectifiedNoise(6000, 0.15, 11);
    std::fill(in.begin() + 2000, in.begin() + 2300, 0.0);
    const char* kernel = v.rms ? "DCDAW_kelvcomprms" : "DCDAW_kelvcomp";

    for (const bool inPlace : {false, true})
    {
        SCOPED_TRACE(inPlace ? "in place" : "separate output");
        std::vector<double> st = initialised(v.params);
        std::vector<double> buf = in;
        std::vector<double> out(in.size(), -1.0);
        forEachBlock(in.size(),
                     [&](std::size_t at, std::int32_t len)
                     {
                         double* o = inPlace ? buf.data() + at : out.data() + at;
                         runKernel(kernel, len, 0.0, {o, st.data(), buf.data() + at});
                     });
        const std::vector<double>& got = inPlace ? buf : out;

        CReference ref{v.params, v.rms};
        for (std::size_t i = 0; i < in.size(); ++i)
        {
            const double want = ref.step(in[i]);
            ASSERT_NEAR(got[i], want, 1e-12 * std::max(1.0, want)) << "sample " << i;
        }
        EXPECT_NEAR(st[zel::kKelvCompGain], ref.g, 1e-12 * std::max(1.0, ref.g));
        EXPECT_NEAR(st[zel::kKelvCompMeanSquare], ref.m, 1e-15);
    }
}

CParams params(double slope, bool inverse, double attack = 0.01, double release = 0.15)
{
    CParams p;
    p.slope = slope;
    p.inverse = inverse;
    p.attack = attack;
    p.release = release;
    return p;
}

INSTANTIATE_TEST_SUITE_P(
    Variants, GainComputerVariant,
    testing::Values(CVariant{"down", params(0.25, false), false},
                    CVariant{"limiter", params(0.0, false), false},
                    CVariant{"unitySlope", params(1.0, false), false},
                    CVariant{"up", params(4.0, false), false},
                    CVariant{"downInverse", params(0.25, true), false},
                    CVariant{"upInverse", params(4.0, true), false},
                    CVariant{"downSlowAttack", params(0.25, false, 0.3, 0.002), false},
                    CVariant{"upSlowAttack", params(4.0, false, 0.3, 0.002), false},
                    CVariant{"upInverseSlowAttack", params(4.0, true, 0.3, 0.002), false},
                    CVariant{"downRms", params(0.25, false), true},
                    CVariant{"upRms", params(4.0, false), true},
                    CVariant{"downInverseRms", params(0.25, true), true},
                    CVariant{"upInverseRmsSlowAttack", params(4.0, true, 0.3, 0.002), true}),
    [](const testing::TestParamInfo<CVariant>& p) { return std::string(p.param.name); });

// Initialisation and update: coefficients, reciprocals, and which running values survive.
TEST(GainComputer, InitialisesAndUpdatesRecords)
{
    CParams p;
    p.inverse = true;
    p.threshold = 0.05;
    p.range = 4.0;
    std::vector<double> st = initialised(p);
    EXPECT_DOUBLE_EQ(st[zel::kKelvCompThreshold], 20.0);
    EXPECT_DOUBLE_EQ(st[zel::kKelvCompInvRange], 0.25);
    EXPECT_EQ(st[zel::kKelvCompGain], 1.0);
    EXPECT_EQ(st[zel::kKelvCompMeanSquare], 0.0);
    EXPECT_TRUE(zel::kelvCompInverse(st.data()));
    // (1 - c) is the pole of the smoother: the root below 1 of z^2 - 2bz + 1.
    for (const auto& [field, f] : {std::pair{zel::kKelvCompAttackCoef, 100.0},
                                   std::pair{zel::kKelvCompReleaseCoef, 1.0 / 0.15},
                                   std::pair{zel::kKelvCompMeanSquareCoef, 500.0}})
    {
        const double b = 2.0 - std::cos(2.0 * 3.14159265358979323846 * f / kFs);
        const double pole = 1.0 - st[field];
        EXPECT_GT(pole, 0.0);
        EXPECT_LT(pole, 1.0);
        EXPECT_NEAR(pole * pole - 2.0 * b * pole + 1.0, 0.0, 1e-14) << "field " << field;
    }

    // Run loud material with the detector so that g and m move away from their start.
    const std::vector<double> in = rectifiedNoise(4000, 0.5, 3);
    std::vector<double> out(in.size());
    runKernel("DCDAW_kelvcomprms", 4000, 0.0,
              {out.data(), st.data(), const_cast<double*>(in.data())});
    ASSERT_NE(st[zel::kKelvCompGain], 1.0);
    ASSERT_NE(st[zel::kKelvCompMeanSquare], 0.0);

    CParams q;
    q.threshold = 0.5;
    q.attack = 0.002;
    std::vector<double> fresh = makeRecord(q);
    runKernel("DCDAW_kelvcompu", 1, kFs, {fresh.data(), st.data()});
    EXPECT_EQ(fresh[zel::kKelvCompGain], st[zel::kKelvCompGain]);
    EXPECT_EQ(fresh[zel::kKelvCompMeanSquare], st[zel::kKelvCompMeanSquare]);
    EXPECT_DOUBLE_EQ(fresh[zel::kKelvCompThreshold], 0.5); // not inverse: T stays
    EXPECT_DOUBLE_EQ(fresh[zel::kKelvCompAttackCoef], onePoleReference(500.0, kFs));
    EXPECT_DOUBLE_EQ(fresh[zel::kKelvCompInvRange], 1.0 / 31.62);

    // A zero time or sample rate gives a coefficient of 1 rather than NaN.
    EXPECT_EQ(zel::dcdawOnePoleCoefficient(1.0 / 0.0, kFs), 1.0);
    EXPECT_EQ(zel::dcdawOnePoleCoefficient(100.0, 0.0), 1.0);
}

// One sample from a known gain, for the rules the law states at its edges.
struct CEdge
{
    const char* name;
    CParams params;
    double gainBefore;
    double level;
    bool useAttack;
    double target;
};

TEST(GainComputer, EdgeRulesForOneSample)
{
    // At the threshold r = 1 on either side, so only the coefficient tells the sides apart:
    // counted as above, a gain over 1 (downward) or under 1 (upward) would move by attack.
    const CParams down = params(0.25, false);
    const CParams up = params(4.0, false);
    const CParams downInverse = params(0.25, true);
    const CParams upInverse = params(4.0, true);
    // In inverse mode a zero level counts as 1e7: above 1/T = 10, target from the law.
    const double zeroTarget = (10.0 + (1e7 - 10.0) * 0.25) / 1e7;
    const CEdge cases[] = {
        {"downward, level at threshold: release towards 1", down, 1.5, 0.1, false, 1.0},
        {"upward, level at threshold: release towards 1", up, 0.5, 0.1, false, 1.0},
        {"inverse downward, level at threshold", downInverse, 1.5, 0.1, false, 1.0},
        {"inverse upward, level at threshold", upInverse, 0.5, 0.1, false, 1.0},
        {"inverse: zero level is 1e7", downInverse, 1.0, 0.0, true, zeroTarget},
        {"inverse: level at 1e-7 is 1e7 as well", downInverse, 1.0, 1e-7, true, zeroTarget},
    };
    for (const CEdge& c : cases)
    {
        SCOPED_TRACE(c.name);
        std::vector<double> st = initialised(c.params);
        st[zel::kKelvCompGain] = c.gainBefore;
        double x = c.level;
        double out = -1.0;
        runKernel("DCDAW_kelvcomp", 1, 0.0, {&out, st.data(), &x});
        const double coef =
            c.useAttack ? st[zel::kKelvCompAttackCoef] : st[zel::kKelvCompReleaseCoef];
        EXPECT_NEAR(out, c.gainBefore + (c.target - c.gainBefore) * coef, 1e-15);
        EXPECT_EQ(out, st[zel::kKelvCompGain]);
    }
}

// Long-run behaviour: where the gain settles and what the detector measures.
TEST(GainComputer, SettlesWhereTheLawSays)
{
    const std::vector<double> loud = rectifiedNoise(48000, 0.4, 5);
    std::vector<double> out(loud.size());
    auto run = [&](const char* kernel, std::vector<double>& st, const std::vector<double>& in)
    {
        runKernel(kernel, static_cast<std::int32_t>(in.size()), 0.0,
                  {out.data(), st.data(), const_cast<double*>(in.data())});
    };

    // R = 1: r is 1 for every level, so even a gain forced away from 1 returns to it.
    CParams unity;
    unity.slope = 1.0;
    std::vector<double> st = initialised(unity);
    st[zel::kKelvCompGain] = 0.5;
    run("DCDAW_kelvcomp", st, loud);
    EXPECT_NEAR(out.back(), 1.0, 1e-9);

    // Unconnected inputs (T = 0, R = 1, L = 30) leave the signal at unity gain throughout.
    CParams unconnected;
    unconnected.threshold = 0.0;
    unconnected.slope = 1.0;
    unconnected.range = 30.0;
    st = initialised(unconnected);
    run("DCDAW_kelvcomp", st, loud);
    for (double g : out)
        ASSERT_NEAR(g, 1.0, 1e-12);

    // The default 1:1 curve gives a slope of 0.999: within 0.1 % of unity on full-scale levels.
    CParams nearUnity;
    nearUnity.threshold = 0.0630957;
    nearUnity.slope = 0.999;
    st = initialised(nearUnity);
    const std::vector<double> fullScale = uniformNoise(48000, 0.0, 1.0, 6);
    run("DCDAW_kelvcomp", st, fullScale);
    EXPECT_GE(*std::min_element(out.begin(), out.end()), 0.999);

    // A limiter (R = 0) on a steady level L0 settles at T/L0; an upward ratio stops at L.
    CParams limiter;
    limiter.slope = 0.0;
    st = initialised(limiter);
    run("DCDAW_kelvcomp", st, std::vector<double>(48000, 0.4));
    EXPECT_NEAR(out.back(), 0.1 / 0.4, 1e-9);
    CParams upward;
    upward.slope = 12.0;
    upward.range = 2.0;
    st = initialised(upward);
    run("DCDAW_kelvcomp", st, std::vector<double>(48000, 0.4));
    EXPECT_NEAR(out.back(), 2.0, 1e-9);

    // The detector settles near A/sqrt(2) on a sine well above 500 Hz; without it m is untouched.
    std::vector<double> sine(24000);
    for (std::size_t i = 0; i < sine.size(); ++i)
        sine[i] = 0.5 * std::sin(2.0 * 3.14159265358979323846 * 9000.0 * double(i) / kFs);
    st = initialised(CParams{});
    run("DCDAW_kelvcomprms", st, sine);
    EXPECT_NEAR(std::sqrt(st[zel::kKelvCompMeanSquare]), 0.5 / std::sqrt(2.0), 0.02);
    st = initialised(CParams{});
    run("DCDAW_kelvcomp", st, sine);
    EXPECT_EQ(st[zel::kKelvCompMeanSquare], 0.0);
}

} // namespace
