#include "Audio/Kernels/DCDAWMeterKernels.h"

#include "KernelTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <vector>

namespace
{

using kelvtest::randomSignal;
using kelvtest::runKernel;
using Args = std::vector<std::vector<double>>;

// Names are unique, prefixed and found by name; with n <= 0 no kernel touches any of five
// filled arguments.
TEST(KernelTables, LookupAndNonPositiveCounts)
{
    std::set<std::string> names;
    for (const auto family :
         {zel::dcdawBasicKernels, zel::dcdawFilterKernels, zel::dcdawDynamicsKernels})
        for (const zel::CDCDAWKernel& k : family())
        {
            const std::string name(k.name);
            ASSERT_TRUE(name.starts_with("DCDAW_")) << name;
            EXPECT_TRUE(names.insert(name).second) << "duplicate " << name;
            EXPECT_EQ(zel::findDCDAWKernel(name), &k) << name;
            for (std::int32_t n : {0, -512})
            {
                Args args;
                for (std::uint32_t i = 0; i < 5; ++i)
                    args.push_back(randomSignal(256, 10u + i, 0.1, 1.0));
                zel::setMeterSizes(args[1].data(), 1, 1);
                const Args before = args;
                runKernel(k, n, 44100.0,
                          {args[0].data(), args[1].data(), args[2].data(), args[3].data(),
                           args[4].data()});
                EXPECT_EQ(args, before) << name << ", n = " << n;
            }
        }
    EXPECT_EQ(names.size(), 82u);
    EXPECT_EQ(zel::findDCDAWKernel("DCDAW_copyx"), nullptr);
    EXPECT_EQ(zel::findDCDAWKernel("copy"), nullptr);
}

// ---- Arithmetic: every kernel against a reference, out separate and out equal to each input

// out[i] from v = {old out[i], arg1[i], arg2[i], arg3[i], arg4[i]}, first = arg1[0], scalar x.
using Reference = double (*)(const double* v, double first, double x);
struct CArithmeticCase
{
    const char* name;
    Reference reference;
};
std::ostream& operator<<(std::ostream& os, const CArithmeticCase& c)
{
    return os << c.name;
}

// clang-format off
const CArithmeticCase kArithmetic[] = {
    {"copy", [](const double* v, double, double) { return v[1]; }},
    {"fill0", [](const double*, double, double) { return 0.0; }},
    {"fillc", [](const double*, double, double x) { return x; }},
    {"filld", [](const double*, double first, double) { return first; }},
    {"abs", [](const double* v, double, double) { return std::abs(v[1]); }},
    {"add2", [](const double* v, double, double) { return v[1] + v[2]; }},
    {"add3", [](const double* v, double, double) { return v[1] + v[2] + v[3]; }},
    {"add4", [](const double* v, double, double) { return v[1] + v[2] + v[3] + v[4]; }},
    {"add2i", [](const double* v, double, double) { return v[0] + v[1]; }},
    {"addcid", [](const double* v, double first, double) { return v[0] + first; }},
    {"max2", [](const double* v, double, double) { return std::max({v[1], v[2]}); }},
    {"max3", [](const double* v, double, double) { return std::max({v[1], v[2], v[3]}); }},
    {"max4", [](const double* v, double, double) { return std::max({v[1], v[2], v[3], v[4]}); }},
    {"min2", [](const double* v, double, double) { return std::min({v[1], v[2]}); }},
    {"min3", [](const double* v, double, double) { return std::min({v[1], v[2], v[3]}); }},
    {"min4", [](const double* v, double, double) { return std::min({v[1], v[2], v[3], v[4]}); }},
    {"mul2", [](const double* v, double, double) { return v[1] * v[2]; }},
    {"div2", [](const double* v, double, double) { return v[1] / v[2]; }},
    {"mul2addi", [](const double* v, double, double) { return v[0] + v[1] * v[2]; }},
    {"mulc", [](const double* v, double, double x) { return v[1] * x; }},
    {"mulci", [](const double* v, double, double x) { return v[0] * x; }},
    {"add2mul", [](const double* v, double, double x) { return x * (v[1] + v[2]); }},
    {"add3mul", [](const double* v, double, double x) { return x * (v[1] + v[2] + v[3]); }},
    {"mix", [](const double* v, double, double x) { return x * (v[1] - v[2]) + v[2]; }},
};
// clang-format on

class ArithmeticKernel : public ::testing::TestWithParam<CArithmeticCase>
{
};

TEST_P(ArithmeticKernel, MatchesReferenceInAndOutOfPlace)
{
    constexpr double kCanary = 12345.6789, kX = -0.7310585786300049;
    const zel::CDCDAWKernel* found = zel::findDCDAWKernel(std::string("DCDAW_") + GetParam().name);
    ASSERT_NE(found, nullptr);
    const zel::CDCDAWKernel& k = *found;
    EXPECT_EQ(k.writeMask, 1); // the output only
    const std::size_t argCount = static_cast<std::size_t>(k.argCount);
    for (std::size_t alias = 0; alias < argCount; ++alias) // out is argument `alias`
    {
        for (std::int32_t n : kelvtest::kTestLengths)
        {
            const std::size_t un = static_cast<std::size_t>(n);
            Args args(5, std::vector<double>(un + 3, kCanary)); // a guard zone behind n
            double* p[5] = {};
            for (std::size_t i = 0; i < argCount; ++i)
            {
                // Away from zero (div2), alternating signs.
                const auto r = randomSignal(un, std::uint32_t(1000 * un + i), 0.25, 2.0);
                for (std::size_t j = 0; j < un; ++j)
                    args[i][j] = j % 2 ? r[j] : -r[j];
                p[i] = args[i].data();
            }
            args[0] = args[alias];
            p[0] = p[alias];
            const Args before = args;
            runKernel(k, n, kX, {p[0], p[1], p[2], p[3], p[4]});
            for (std::size_t i = 0; i < un + 3; ++i)
            {
                const double v[5] = {before[0][i], before[1][i], before[2][i], before[3][i],
                                     before[4][i]};
                ASSERT_EQ(args[alias][i],
                          i < un ? GetParam().reference(v, before[1][0], kX) : kCanary)
                    << "out = argument " << alias << ", n = " << n << ", sample " << i;
            }
            for (std::size_t i = 1; i < argCount; ++i)
                ASSERT_TRUE(i == alias || args[i] == before[i]) << "input " << i << " written";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(All, ArithmeticKernel, ::testing::ValuesIn(kArithmetic),
                         [](const auto& param) { return std::string(param.param.name); });

// ---- Resampling by 2 and mid/side ----

TEST(ResamplingKernels, InterpolateAndDecimateInAndOutOfPlace)
{
    for (std::int32_t n : kelvtest::kTestLengths)
    {
        const std::size_t un = static_cast<std::size_t>(n);
        std::vector<double> in = randomSignal(2 * un, 7u), up(2 * un + 1, 9.0), same = in;
        runKernel("DCDAW_interp2", n, 0.0, {up.data(), in.data()});
        runKernel("DCDAW_interp2", n, 0.0, {same.data(), same.data()});
        for (std::size_t k = 0; k < un; ++k)
            ASSERT_TRUE(up[2 * k] == in[k] * 2.0 && up[2 * k + 1] == 0.0) << n << ", " << k;
        EXPECT_EQ(up[2 * un], 9.0);
        EXPECT_TRUE(std::equal(same.begin(), same.end(), up.begin())) << n;

        for (const auto& [name, phase] : {std::pair{"DCDAW_decim2", 0u}, {"DCDAW_decim2s", 1u}})
        {
            std::vector<double> down(un + 1, 9.0), inPlace = in;
            runKernel(name, n, 0.0, {down.data(), in.data()});
            runKernel(name, n, 0.0, {inPlace.data(), inPlace.data()});
            for (std::size_t k = 0; k < un; ++k)
                ASSERT_TRUE(down[k] == in[2 * k + phase] && inPlace[k] == down[k]) << name << k;
            EXPECT_EQ(down[un], 9.0);
        }
    }
}

TEST(MidSideKernels, MatchReferenceInAndOutOfPlaceAndEncodeDecodeRoundTrips)
{
    using F = double (*)(double, double, double, double);
    // {kernel, first output, second output} from the two inputs and the weights c0, c1.
    // clang-format off
    const std::tuple<const char*, F, F> cases[] = {
        {"DCDAW_msenc", [](double l, double r, double, double) { return (l + r) / 2; },
                        [](double l, double r, double, double) { return (l - r) / 2; }},
        {"DCDAW_msdec", [](double m, double s, double, double) { return m + s; },
                        [](double m, double s, double, double) { return m - s; }},
        {"DCDAW_msmodenc", [](double l, double r, double c0, double) { return c0 * (l + r) / 2; },
                           [](double l, double r, double, double c1) { return c1 * (l - r) / 2; }},
        {"DCDAW_msmoddec", [](double m, double s, double c0, double c1) { return c0 * m + c1 * s; },
                           [](double m, double s, double c0, double c1) { return c0 * m - c1 * s; }},
        {"DCDAW_msmodinl",
         [](double l, double r, double c0, double c1) { return c0 * (l + r) / 2 + c1 * (l - r) / 2; },
         [](double l, double r, double c0, double c1) { return c0 * (l + r) / 2 - c1 * (l - r) / 2; }},
    };
    // clang-format on
    const std::vector<double> left = randomSignal(257, 21u), right = randomSignal(257, 22u);
    std::vector<double> w = {0.8125, -1.375};
    for (const auto& [name, first, second] : cases)
    {
        std::vector<double> o0(258, 5.0), o1(258, 5.0), l = left, r = right;
        runKernel(name, 257, 0.0, {o0.data(), o1.data(), l.data(), r.data(), w.data()});
        runKernel(name, 257, 0.0, {l.data(), r.data(), l.data(), r.data(), w.data()});
        for (std::size_t i = 0; i < 257; ++i)
        {
            ASSERT_NEAR(o0[i], first(left[i], right[i], w[0], w[1]), 1e-15) << name << i;
            ASSERT_NEAR(o1[i], second(left[i], right[i], w[0], w[1]), 1e-15) << name << i;
            ASSERT_TRUE(l[i] == o0[i] && r[i] == o1[i]) << name << " in place, sample " << i;
        }
        EXPECT_TRUE(o0[257] == 5.0 && o1[257] == 5.0) << name;
    }
    std::vector<double> l = left, r = right;
    runKernel("DCDAW_msenc", 257, 0.0, {l.data(), r.data(), l.data(), r.data()});
    runKernel("DCDAW_msdec", 257, 0.0, {l.data(), r.data(), l.data(), r.data()});
    for (std::size_t i = 0; i < 257; ++i)
        ASSERT_TRUE(std::abs(l[i] - left[i]) < 4e-16 && std::abs(r[i] - right[i]) < 4e-16);
}

} // namespace
