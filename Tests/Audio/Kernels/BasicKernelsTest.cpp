#include "Audio/Kernels/BasicKernels.h"
#include "Audio/Kernels/DCDAWKernel.h"
#include "KernelTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace
{

using kelvtest::randomSignal;
using kelvtest::runKernel;
using Args = std::vector<std::vector<double>>;

// ---- The table ----

struct CExpectedKernel
{
    const char* name;
    int args;
    int mask;
};
// The basic family as the kernel vocabulary lists it.
// clang-format off
const CExpectedKernel kExpected[] = {
    {"DCDAW_copy", 2, 1}, {"DCDAW_fill0", 1, 1}, {"DCDAW_fillc", 1, 1}, {"DCDAW_filld", 2, 1},
    {"DCDAW_abs", 2, 1}, {"DCDAW_add2", 3, 1}, {"DCDAW_add3", 4, 1}, {"DCDAW_add4", 5, 1},
    {"DCDAW_add2i", 2, 1}, {"DCDAW_addcid", 2, 1},
    {"DCDAW_max2", 3, 1}, {"DCDAW_max3", 4, 1}, {"DCDAW_max4", 5, 1},
    {"DCDAW_min2", 3, 1}, {"DCDAW_min3", 4, 1}, {"DCDAW_min4", 5, 1},
    {"DCDAW_mul2", 3, 1}, {"DCDAW_div2", 3, 1}, {"DCDAW_mul2addi", 3, 1},
    {"DCDAW_mulc", 2, 1}, {"DCDAW_mulci", 1, 1}, {"DCDAW_add2mul", 3, 1},
    {"DCDAW_add3mul", 4, 1}, {"DCDAW_mix", 3, 1},
    {"DCDAW_xfadei", 1, 1}, {"DCDAW_xfade", 4, 3}, {"DCDAW_denorm", 3, 3},
    {"DCDAW_denormn", 2, 3}, {"DCDAW_sinei", 1, 1}, {"DCDAW_sine", 2, 3},
    {"DCDAW_fltnoisei", 1, 1}, {"DCDAW_fltnoise", 2, 3},
    {"DCDAW_interp2", 2, 1}, {"DCDAW_decim2", 2, 1}, {"DCDAW_decim2s", 2, 1},
    {"DCDAW_msenc", 4, 3}, {"DCDAW_msdec", 4, 3},
    {"DCDAW_msmodenc", 5, 3}, {"DCDAW_msmoddec", 5, 3}, {"DCDAW_msmodinl", 5, 3},
};
// clang-format on

TEST(BasicKernelTable, MatchesTheVocabularyAndIsFoundByName)
{
    const auto table = zel::dcdawBasicKernels();
    ASSERT_EQ(table.size(), std::size(kExpected));
    std::set<std::string> names;
    for (const zel::CDCDAWKernel& k : table)
    {
        EXPECT_TRUE(names.insert(k.name).second) << "duplicate " << k.name;
        EXPECT_NE(k.function, nullptr);
        EXPECT_EQ(zel::findDCDAWKernel(k.name), &k);
    }
    for (const CExpectedKernel& e : kExpected)
    {
        SCOPED_TRACE(e.name);
        const zel::CDCDAWKernel* k = zel::findDCDAWKernel(e.name);
        ASSERT_NE(k, nullptr);
        EXPECT_EQ(k->argCount, e.args);
        EXPECT_EQ(k->writeMask, e.mask);
    }
    EXPECT_EQ(zel::findDCDAWKernel("DCDAW_"), nullptr);
    EXPECT_EQ(zel::findDCDAWKernel("DCDAW_copyx"), nullptr);
    EXPECT_EQ(zel::findDCDAWKernel("copy"), nullptr);
}

// Every kernel of the family, with every argument filled with data: n <= 0 changes nothing.
TEST(BasicKernelTable, NonPositiveCountsTouchNothing)
{
    for (const zel::CDCDAWKernel& k : zel::dcdawBasicKernels())
    {
        SCOPED_TRACE(k.name);
        Args args;
        for (int i = 0; i < zel::CDCDAWCall::kMaxArgs; ++i)
            args.push_back(randomSignal(256, 10u + static_cast<std::uint32_t>(i), 0.1, 1.0));
        const Args before = args;
        for (std::int32_t n : {0, -1, -512})
        {
            runKernel(
                k, n, 44100.0,
                {args[0].data(), args[1].data(), args[2].data(), args[3].data(), args[4].data()});
            EXPECT_EQ(args, before) << "n = " << n;
        }
    }
}

// ---- Arithmetic ----

// Reference value of out[i] from the arguments as they were before the call (args[0] is the
// old content of out) and the scalar x.
using Reference = std::function<double(const Args& a, std::size_t i, double x)>;

struct CArithmeticCase
{
    const char* name;
    Reference reference;
};

std::ostream& operator<<(std::ostream& os, const CArithmeticCase& c)
{
    return os << c.name;
}

const CArithmeticCase kArithmetic[] = {
    {"DCDAW_copy", [](const Args& a, std::size_t i, double) { return a[1][i]; }},
    {"DCDAW_fill0", [](const Args&, std::size_t, double) { return 0.0; }},
    {"DCDAW_fillc", [](const Args&, std::size_t, double x) { return x; }},
    {"DCDAW_filld", [](const Args& a, std::size_t, double) { return a[1][0]; }},
    {"DCDAW_abs", [](const Args& a, std::size_t i, double) { return std::abs(a[1][i]); }},
    {"DCDAW_add2", [](const Args& a, std::size_t i, double) { return a[1][i] + a[2][i]; }},
    {"DCDAW_add3",
     [](const Args& a, std::size_t i, double) { return a[1][i] + a[2][i] + a[3][i]; }},
    {"DCDAW_add4",
     [](const Args& a, std::size_t i, double) { return a[1][i] + a[2][i] + a[3][i] + a[4][i]; }},
    {"DCDAW_add2i", [](const Args& a, std::size_t i, double) { return a[0][i] + a[1][i]; }},
    {"DCDAW_addcid", [](const Args& a, std::size_t i, double) { return a[0][i] + a[1][0]; }},
    {"DCDAW_max2",
     [](const Args& a, std::size_t i, double) {
         return std::max({a[1][i], a[2][i]});
     }},
    {"DCDAW_max3",
     [](const Args& a, std::size_t i, double) {
         return std::max({a[1][i], a[2][i], a[3][i]});
     }},
    {"DCDAW_max4",
     [](const Args& a, std::size_t i, double) {
         return std::max({a[1][i], a[2][i], a[3][i], a[4][i]});
     }},
    {"DCDAW_min2",
     [](const Args& a, std::size_t i, double) {
         return std::min({a[1][i], a[2][i]});
     }},
    {"DCDAW_min3",
     [](const Args& a, std::size_t i, double) {
         return std::min({a[1][i], a[2][i], a[3][i]});
     }},
    {"DCDAW_min4",
     [](const Args& a, std::size_t i, double) {
         return std::min({a[1][i], a[2][i], a[3][i], a[4][i]});
     }},
    {"DCDAW_mul2", [](const Args& a, std::size_t i, double) { return a[1][i] * a[2][i]; }},
    {"DCDAW_div2", [](const Args& a, std::size_t i, double) { return a[1][i] / a[2][i]; }},
    {"DCDAW_mul2addi",
     [](const Args& a, std::size_t i, double) { return a[0][i] + a[1][i] * a[2][i]; }},
    {"DCDAW_mulc", [](const Args& a, std::size_t i, double x) { return a[1][i] * x; }},
    {"DCDAW_mulci", [](const Args& a, std::size_t i, double x) { return a[0][i] * x; }},
    {"DCDAW_add2mul",
     [](const Args& a, std::size_t i, double x) { return x * (a[1][i] + a[2][i]); }},
    {"DCDAW_add3mul",
     [](const Args& a, std::size_t i, double x) { return x * (a[1][i] + a[2][i] + a[3][i]); }},
    {"DCDAW_mix",
     [](const Args& a, std::size_t i, double x) { return x * (a[1][i] - a[2][i]) + a[2][i]; }},
};

class ArithmeticKernel : public ::testing::TestWithParam<CArithmeticCase>
{
protected:
    static constexpr std::size_t kGuard = 3;
    static constexpr double kCanary = 12345.6789;
    static constexpr double kX = -0.7310585786300049;

    // Arguments of n samples each (inputs kept away from zero for div2), followed by a guard
    // zone of canaries.
    static Args makeArgs(int count, std::size_t n, std::uint32_t seed)
    {
        Args args;
        for (int i = 0; i < count; ++i)
        {
            std::vector<double> v =
                randomSignal(n, seed + static_cast<std::uint32_t>(i), 0.25, 2.0);
            for (std::size_t j = 0; j < n; j += 2)
                v[j] = -v[j];
            v.resize(n + kGuard, kCanary);
            args.push_back(std::move(v));
        }
        return args;
    }

    // Runs the kernel with args (args[alias] is used as out when alias > 0) and checks out
    // against the reference and the guard zone.
    void check(std::int32_t n, int alias)
    {
        const CArithmeticCase& c = GetParam();
        const zel::CDCDAWKernel& k = kelvtest::kernel(c.name);
        Args args = makeArgs(k.argCount, static_cast<std::size_t>(n),
                             1000u + static_cast<std::uint32_t>(n));
        if (alias > 0)
            args[0] = args[static_cast<std::size_t>(alias)];
        const Args before = args;
        double* p[zel::CDCDAWCall::kMaxArgs] = {};
        for (int i = 0; i < k.argCount; ++i)
            p[i] = args[static_cast<std::size_t>(i)].data();
        if (alias > 0)
            p[0] = p[alias];
        runKernel(k, n, kX, {p[0], p[1], p[2], p[3], p[4]});
        const std::vector<double>& out = args[static_cast<std::size_t>(alias)];
        for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i)
            ASSERT_EQ(out[i], c.reference(before, i, kX)) << "n = " << n << ", sample " << i;
        for (std::size_t i = static_cast<std::size_t>(n); i < out.size(); ++i)
            ASSERT_EQ(out[i], kCanary) << "guard zone written, n = " << n;
        // Inputs other than out stay as they were.
        for (int i = 1; i < k.argCount; ++i)
        {
            if (i != alias)
            {
                ASSERT_EQ(args[static_cast<std::size_t>(i)], before[static_cast<std::size_t>(i)]);
            }
        }
    }
};

TEST_P(ArithmeticKernel, MatchesReferenceOutOfPlace)
{
    for (std::int32_t n : kelvtest::testLengths())
        check(n, 0);
}

TEST_P(ArithmeticKernel, MatchesReferenceWithOutEqualToEachInput)
{
    const int argCount = kelvtest::kernel(GetParam().name).argCount;
    for (int alias = 1; alias < argCount; ++alias)
    {
        SCOPED_TRACE("out aliases argument " + std::to_string(alias));
        for (std::int32_t n : kelvtest::testLengths())
            check(n, alias);
    }
}

INSTANTIATE_TEST_SUITE_P(All, ArithmeticKernel, ::testing::ValuesIn(kArithmetic),
                         [](const auto& param) { return std::string(param.param.name).substr(6); });

TEST(ArithmeticKernelEdges, FilldUsesTheFirstElementAndDivisionIsUnguarded)
{
    std::vector<double> out(5, 0.0);
    std::vector<double> src = {3.5, 1.0, 2.0, 4.0, 5.0};
    runKernel("DCDAW_filld", 5, 99.0, {out.data(), src.data()});
    EXPECT_EQ(out, std::vector<double>(5, 3.5));

    std::vector<double> a = {1.0, -1.0, 0.0};
    std::vector<double> b = {0.0, 0.0, 0.0};
    runKernel("DCDAW_div2", 3, 0.0, {out.data(), a.data(), b.data()});
    EXPECT_EQ(out[0], INFINITY);
    EXPECT_EQ(out[1], -INFINITY);
    EXPECT_TRUE(std::isnan(out[2]));
}

// ---- Resampling by 2 ----

TEST(ResamplingKernels, InterpolateAndDecimateAgainstReference)
{
    for (std::int32_t n : kelvtest::testLengths())
    {
        SCOPED_TRACE(n);
        const std::size_t un = static_cast<std::size_t>(n);
        const std::vector<double> in = randomSignal(2 * un, 7u);
        std::vector<double> up(2 * un + 1, 9.0);
        runKernel("DCDAW_interp2", n, 0.0, {up.data(), const_cast<double*>(in.data())});
        for (std::size_t k = 0; k < un; ++k)
        {
            ASSERT_EQ(up[2 * k], in[k] * 2.0);
            ASSERT_EQ(up[2 * k + 1], 0.0);
        }
        EXPECT_EQ(up[2 * un], 9.0);

        // In place: the first n samples of the buffer are the input.
        std::vector<double> inPlace = in;
        runKernel("DCDAW_interp2", n, 0.0, {inPlace.data(), inPlace.data()});
        EXPECT_TRUE(std::equal(inPlace.begin(), inPlace.end(), up.begin()));

        for (const auto& [name, phase] : {std::pair{"DCDAW_decim2", 0u}, {"DCDAW_decim2s", 1u}})
        {
            std::vector<double> down(un + 1, 9.0);
            runKernel(name, n, 0.0, {down.data(), const_cast<double*>(in.data())});
            std::vector<double> same = in;
            runKernel(name, n, 0.0, {same.data(), same.data()});
            for (std::size_t k = 0; k < un; ++k)
            {
                ASSERT_EQ(down[k], in[2 * k + phase]) << name;
                ASSERT_EQ(same[k], in[2 * k + phase]) << name << " in place";
            }
            EXPECT_EQ(down[un], 9.0);
        }
    }
}

// ---- Mid/side ----

struct CMSCase
{
    const char* name;
    // (first, second) outputs from the two inputs and the weights.
    std::function<std::pair<double, double>(double, double, double c0, double c1)> reference;
};

const CMSCase kMidSide[] = {
    {"DCDAW_msenc",
     [](double l, double r, double, double) {
         return std::pair{0.5 * l + 0.5 * r, 0.5 * l - 0.5 * r};
     }},
    {"DCDAW_msdec",
     [](double m, double s, double, double) {
         return std::pair{m + s, m - s};
     }},
    {"DCDAW_msmodenc",
     [](double l, double r, double c0, double c1) {
         return std::pair{c0 * (l + r) / 2.0, c1 * (l - r) / 2.0};
     }},
    {"DCDAW_msmoddec",
     [](double m, double s, double c0, double c1) {
         return std::pair{c0 * m + c1 * s, c0 * m - c1 * s};
     }},
    {"DCDAW_msmodinl",
     [](double l, double r, double c0, double c1)
     {
         const double m = (l + r) / 2.0, s = (l - r) / 2.0;
         return std::pair{c0 * m + c1 * s, c0 * m - c1 * s};
     }},
};

TEST(MidSideKernels, MatchReferenceInAndOutOfPlace)
{
    const std::int32_t n = 257;
    const std::size_t un = static_cast<std::size_t>(n);
    const std::vector<double> left = randomSignal(un, 21u);
    const std::vector<double> right = randomSignal(un, 22u);
    std::vector<double> weights = {0.8125, -1.375};
    for (const CMSCase& c : kMidSide)
    {
        SCOPED_TRACE(c.name);
        std::vector<double> o0(un + 1, 5.0), o1(un + 1, 5.0);
        std::vector<double> l = left, r = right;
        runKernel(c.name, n, 0.0, {o0.data(), o1.data(), l.data(), r.data(), weights.data()});
        runKernel(c.name, n, 0.0, {l.data(), r.data(), l.data(), r.data(), weights.data()});
        for (std::size_t i = 0; i < un; ++i)
        {
            const auto [e0, e1] = c.reference(left[i], right[i], weights[0], weights[1]);
            ASSERT_NEAR(o0[i], e0, 1e-15) << i;
            ASSERT_NEAR(o1[i], e1, 1e-15) << i;
            ASSERT_EQ(l[i], o0[i]) << "in place, sample " << i;
            ASSERT_EQ(r[i], o1[i]) << "in place, sample " << i;
        }
        EXPECT_EQ(o0[un], 5.0);
        EXPECT_EQ(o1[un], 5.0);
    }
}

TEST(MidSideKernels, EncodeThenDecodeRestoresThePair)
{
    const std::int32_t n = 1000;
    std::vector<double> l = randomSignal(1000, 31u), r = randomSignal(1000, 32u);
    const std::vector<double> l0 = l, r0 = r;
    runKernel("DCDAW_msenc", n, 0.0, {l.data(), r.data(), l.data(), r.data()});
    runKernel("DCDAW_msdec", n, 0.0, {l.data(), r.data(), l.data(), r.data()});
    for (std::size_t i = 0; i < l.size(); ++i)
    {
        ASSERT_NEAR(l[i], l0[i], 4e-16);
        ASSERT_NEAR(r[i], r0[i], 4e-16);
    }
    // Unit weights make the weighted inline pass an identity up to rounding.
    std::vector<double> unit = {1.0, 1.0};
    runKernel("DCDAW_msmodinl", n, 0.0, {l.data(), r.data(), l.data(), r.data(), unit.data()});
    for (std::size_t i = 0; i < l.size(); ++i)
        ASSERT_NEAR(l[i], l0[i], 1e-15);
}

} // namespace
