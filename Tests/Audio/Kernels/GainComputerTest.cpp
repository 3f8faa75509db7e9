// The gain computer against a per-sample reference written from the gain law, and the rules
// the law implies at its edges.
#include "Audio/Kernels/DCDAWGainComputer.h"

#include "KernelTestSupport.h"

#include <gtest/gtest.h>

#include <tuple>

#if defined(__SSE2__) || defined(_M_X64)
#include <xmmintrin.h>
#define KELV_HAS_MXCSR 1
#endif

namespace
{

using namespace kelvtest;
constexpr double kFs = 48000.0;

using CParams = CKelvCompLaw;

std::vector<double> record(const CParams& p, double* previous = nullptr)
{
    return kelvCompRecord(p, kFs, previous);
}

// The law as described, one sample at a time, branches as written.
struct CReference
{
    CParams p;
    bool rms;
    double g = 1.0, m = 0.0;

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
        double t = p.threshold;
        if (p.inverse)
        {
            e = e <= 1e-7 ? 1e7 : 1.0 / e;
            t = 1.0 / t;
        }
        if (!(e > t))
            return g = g + (1.0 - g) * rel;
        const double r = (t + (e - t) * p.slope) / e;
        const double target = p.slope > 1.0 ? std::min(p.range, r) : std::max(1.0 / p.range, r);
        const bool attack = p.slope > 1.0 ? target >= g : g >= target;
        return g = g + (target - g) * (attack ? att : rel);
    }
};

// Every loop variant (upward or downward, inverse or not, with or without the detector, attack
// faster or slower than release) follows the reference over irregular blocks, with a separate
// output and in place.
TEST(GainComputer, EveryVariantMatchesTheReference)
{
    std::vector<double> in = randomSignal(6000, 11, 0.0, 0.3);
    std::fill(in.begin() + 2000, in.begin() + 2300, 0.0);
    for (const double slope : {0.0, 0.25, 1.0, 4.0})
        for (const bool inverse : {false, true})
            for (const bool rms : {false, true})
                for (const double attack : {0.01, 0.3})
                    for (const bool inPlace : {false, true})
                    {
                        const CParams p{slope, inverse, attack, 0.002};
                        SCOPED_TRACE(testing::Message()
                                     << "R " << slope << " inverse " << inverse << " rms " << rms
                                     << " attack " << attack << " in place " << inPlace);
                        std::vector<double> st = record(p), buf = in, out(in.size());
                        double* o = inPlace ? buf.data() : out.data();
                        forEachBlock(in.size(),
                                     [&](std::size_t at, std::int32_t len)
                                     {
                                         runKernel(rms ? "DCDAW_kelvcomprms" : "DCDAW_kelvcomp",
                                                   len, 0.0, {o + at, st.data(), buf.data() + at});
                                     });
                        CReference ref{p, rms};
                        for (std::size_t i = 0; i < in.size(); ++i)
                            ASSERT_NEAR(o[i], ref.step(in[i]), 1e-12 * std::max(1.0, ref.g)) << i;
                        EXPECT_NEAR(st[zel::kKelvCompMeanSquare], ref.m, 1e-15);
                    }
}

// Initialisation derives 1/L and 1/T (the coefficients are checked through the reference); an
// update carries g and m over.
TEST(GainComputer, InitialisesAndUpdatesRecords)
{
    std::vector<double> st = record({0.25, true, 0.01, 0.15, 0.05, 4.0});
    EXPECT_DOUBLE_EQ(st[zel::kKelvCompThreshold], 20.0);
    EXPECT_DOUBLE_EQ(st[zel::kKelvCompInvRange], 0.25);
    EXPECT_EQ(st[zel::kKelvCompGain], 1.0);
    EXPECT_EQ(st[zel::kKelvCompMeanSquare], 0.0);
    std::vector<double> in = randomSignal(4000, 3, 0.0, 1.0), out(in.size());
    runKernel("DCDAW_kelvcomprms", 4000, 0.0, {out.data(), st.data(), in.data()});
    ASSERT_NE(st[zel::kKelvCompGain], 1.0);

    const std::vector<double> fresh = record({4.0, false, 0.002}, st.data());
    EXPECT_EQ(fresh[zel::kKelvCompGain], st[zel::kKelvCompGain]);
    EXPECT_EQ(fresh[zel::kKelvCompMeanSquare], st[zel::kKelvCompMeanSquare]);
    EXPECT_EQ(fresh[zel::kKelvCompThreshold], 0.1);
    EXPECT_DOUBLE_EQ(fresh[zel::kKelvCompAttackCoef], onePoleReference(500.0, kFs));
    // A zero time gives a coefficient of 1 rather than NaN.
    EXPECT_EQ(record({0.25, false, 0.0})[zel::kKelvCompAttackCoef], 1.0);
}

// One sample from a known gain. At the threshold r = 1 on either side, so only the coefficient
// tells the sides apart: counted as above, a gain over 1 (downward) or under 1 (upward) would
// move by attack.
TEST(GainComputer, EdgeRulesForOneSample)
{
    const double zeroTarget = (10.0 + (1e7 - 10.0) * 0.25) / 1e7; // inverse: level 1e7, 1/T 10
    // {what, law, gain before, level, moves by attack, target}
    const std::tuple<const char*, CParams, double, double, bool, double> cases[] = {
        {"downward at threshold", {0.25, false}, 1.5, 0.1, false, 1.0},
        {"upward at threshold", {4.0, false}, 0.5, 0.1, false, 1.0},
        {"inverse downward at threshold", {0.25, true}, 1.5, 0.1, false, 1.0},
        {"inverse upward at threshold", {4.0, true}, 0.5, 0.1, false, 1.0},
        {"inverse, zero level counts as 1e7", {0.25, true}, 1.0, 0.0, true, zeroTarget},
        {"inverse, level 1e-7 counts as 1e7", {0.25, true}, 1.0, 1e-7, true, zeroTarget},
    };
    for (const auto& [name, law, gainBefore, level, attack, target] : cases)
    {
        SCOPED_TRACE(name);
        std::vector<double> st = record(law);
        st[zel::kKelvCompGain] = gainBefore;
        double x = level, out = -1.0;
        runKernel("DCDAW_kelvcomp", 1, 0.0, {&out, st.data(), &x});
        const double coef = st[attack ? zel::kKelvCompAttackCoef : zel::kKelvCompReleaseCoef];
        EXPECT_NEAR(out, gainBefore + (target - gainBefore) * coef, 1e-15);
    }
}

// Silence without the anti-denormal noise gives a zero level on every sample. The law's
// quotient is then not used, but it is still computed (the loop is branch-free), and a
// subnormal divisor would send every sample down the processor's slow path. The processor's
// denormal-operand flag records whether any operand was subnormal.
TEST(GainComputer, SilenceTakesNoSubnormalOperand)
{
#ifdef KELV_HAS_MXCSR
    constexpr unsigned kDenormalFlag = 0x2;
    const unsigned saved = _mm_getcsr();
    for (const char* kernel : {"DCDAW_kelvcomp", "DCDAW_kelvcomprms"})
        for (double slope : {0.25, 4.0})
        {
            SCOPED_TRACE(std::string(kernel) + " slope " + std::to_string(slope));
            std::vector<double> st = record({slope, false});
            std::vector<double> level(256, 0.0), out(256, -1.0);
            _mm_setcsr(saved & ~0x3Fu); // status flags cleared
            runKernel(kernel, 256, 0.0, {out.data(), st.data(), level.data()});
            const unsigned flags = _mm_getcsr();
            _mm_setcsr(saved);
            EXPECT_EQ(flags & kDenormalFlag, 0u);
            EXPECT_EQ(out.back(), 1.0);
        }
#else
    GTEST_SKIP() << "no SSE control register on this processor";
#endif
}

} // namespace
