// The dynamics family as a whole: its descriptor table, calls without samples, and recursive
// state that stays out of the subnormal range on the graph's noise floor.
#include "Audio/Kernels/DCDAWGainComputer.h"
#include "Audio/Kernels/DCDAWMeterKernels.h"

#include "Audio/Kernels/DynamicsTestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

namespace
{

using namespace kelvtest;

TEST(DynamicsKernels, TableMatchesTheVocabulary)
{
    const std::map<std::string, std::pair<int, int>> expected = {
        {"DCDAW_meteri", {2, 3}},       {"DCDAW_meter", {3, 3}},      {"DCDAW_meterc", {3, 3}},
        {"DCDAW_meterd", {4, 3}},       {"DCDAW_metersub", {4, 7}},   {"DCDAW_metersubc", {4, 7}},
        {"DCDAW_metersubd", {5, 7}},    {"DCDAW_metercorri", {1, 1}}, {"DCDAW_metercorr", {3, 1}},
        {"DCDAW_metercorrsub", {4, 3}}, {"DCDAW_kelvcompi", {1, 1}},  {"DCDAW_kelvcompu", {2, 1}},
        {"DCDAW_kelvcomp", {3, 3}},     {"DCDAW_kelvcomprms", {3, 3}}};
    std::map<std::string, std::pair<int, int>> actual;
    for (const zel::CDCDAWKernel& k : zel::dcdawDynamicsKernels())
        actual[k.name] = {k.argCount, k.writeMask};
    EXPECT_EQ(actual, expected);
}

// With n <= 0 no kernel touches any argument, initialisers and publishing variants included.
TEST(DynamicsKernels, NoSamplesLeaveEverythingAlone)
{
    for (const zel::CDCDAWKernel& k : zel::dcdawDynamicsKernels())
        for (const std::int32_t n : {0, -1})
        {
            std::vector<std::vector<double>> args(5, std::vector<double>(64, 0.375));
            zel::setMeterSizes(args[1].data(), 1, 1);
            const auto before = args;
            zel::CDCDAWCall call{&k, n, 48000.0};
            for (int i = 0; i < k.argCount; ++i)
                call.data[i] = args[std::size_t(i)].data();
            k.function(&call);
            EXPECT_EQ(args, before) << k.name << " n=" << n;
        }
}

// An impulse, then seconds of the anti-denormal floor (1e-11): no value in any recursive
// state becomes subnormal.
TEST(DynamicsKernels, StateStaysNormalOnTheNoiseFloor)
{
    std::vector<double> in(240000, 1e-11), out(in.size());
    in[0] = 1.0;
    const auto n = static_cast<std::int32_t>(in.size());
    std::vector<double> comp(zel::kKelvCompFieldCount, 0.0), ring(30);
    std::vector<double> meter(zel::kMeterFieldCount, 0.0), corr(zel::kCorrFieldCount, 0.0);
    comp[zel::kKelvCompAttackTime] = comp[zel::kKelvCompReleaseTime] = 0.001;
    comp[zel::kKelvCompSlope] = 0.25;
    runKernel("DCDAW_kelvcompi", 1, 48000.0, {comp.data()});
    runKernel("DCDAW_kelvcomprms", n, 0.0, {out.data(), comp.data(), in.data()});
    zel::setMeterSizes(meter.data(), 30, 1600);
    meter[zel::kMeterIntegrationTime] = meter[zel::kMeterReleaseTime] = 0.001;
    runKernel("DCDAW_meteri", 1, 48000.0, {ring.data(), meter.data()});
    runKernel("DCDAW_meter", n, 0.0, {ring.data(), meter.data(), in.data()});
    corr[zel::kCorrFrequency] = 1000.0;
    runKernel("DCDAW_metercorri", 1, 48000.0, {corr.data()});
    runKernel("DCDAW_metercorr", n, 0.0, {corr.data(), in.data(), in.data()});
    // Integer and flag fields are bit patterns, not values.
    for (int f : {zel::kMeterSizes, zel::kMeterFlags, zel::kMeterPeakLife, zel::kMeterBlockLeft,
                  zel::kMeterRingPos, zel::kMeterRingLast})
        meter[std::size_t(f)] = 0.0;
    comp[zel::kKelvCompInverse] = 0.0;
    for (const auto* values : {&comp, &meter, &ring, &corr})
        for (double v : *values)
            EXPECT_NE(std::fpclassify(v), FP_SUBNORMAL);
}

} // namespace
