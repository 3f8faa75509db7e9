// The dynamics family as a whole: its descriptor table and calls without samples.
#include "Audio/Kernels/DCDAWMeterKernels.h"

#include "Audio/Kernels/DynamicsTestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

namespace
{

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

} // namespace
