// The level and correlation meters against references written from their descriptions.
#include "Audio/Kernels/DCDAWMeterKernels.h"
#include "Audio/Kernels/MeterReference.h"

#include "KernelTestSupport.h"

#include <gtest/gtest.h>

#include <tuple>

namespace
{

using namespace kelvtest;
constexpr double kFs = 44100.0;

using EKind = CMeterReference::EKind;

struct CSetup
{
    std::uint32_t ring, sub;
    double initial, release;
};

struct CMeter
{
    std::vector<double> ring, state = std::vector<double>(zel::kMeterFieldCount, -9.0);

    CMeter(const CSetup& s, EKind kind) : ring(s.ring + 2, -7.0)
    {
        state[zel::kMeterInitialLevel] = s.initial;
        zel::setMeterSizes(state.data(), s.ring, s.sub);
        state[zel::kMeterIntegrationTime] = 0.002;
        state[zel::kMeterReleaseTime] = s.release;
        state[zel::kMeterThirdTime] = 0.01;
        zel::setMeterFlags(state.data(), kind == CMeterReference::kRatioInverted ? 1 : 0);
        runKernel("DCDAW_meteri", 1, kFs, {ring.data(), state.data()});
    }
};

CMeterReference reference(EKind kind, const CSetup& s)
{
    CMeterReference ref{kind};
    ref.times(kFs, 0.002, s.release, 0.01);
    ref.reset(s.initial, s.sub, s.ring);
    return ref;
}

// Running values, sub-block position and windowed peak equal the reference after every call,
// over bursts and quiet stretches in blocks of irregular lengths.
TEST(MeterKernels, EveryVariantMatchesTheReference)
{
    const std::tuple<const char*, EKind, CSetup> cases[] = {
        {"DCDAW_meter", CMeterReference::kMax, {5, 37, 0.0, 0.05}},
        {"DCDAW_meter", CMeterReference::kMax, {1, 64, 0.0, 0.05}},
        {"DCDAW_meter", CMeterReference::kMax, {8, 20, 0.0, 0.00005}},
        {"DCDAW_meterc", CMeterReference::kMin, {5, 37, 1.0, 0.05}},
        {"DCDAW_meterc", CMeterReference::kMin, {3, 100, 1.0, 0.0}},
        {"DCDAW_meterd", CMeterReference::kRatio, {6, 50, 0.0, 0.05}},
        {"DCDAW_meterd", CMeterReference::kRatioInverted, {6, 50, 0.0, 0.05}}};
    std::vector<double> a = randomSignal(9000, 21, 0.0, 0.5), b = randomSignal(9000, 22, 0.0, 0.3);
    for (std::size_t i = 0; i < a.size(); ++i)
        a[i] *= (i / 700) % 3 == 0 ? 1.0 : 0.05;
    for (const auto& [kernel, kind, setup] : cases)
    {
        SCOPED_TRACE(testing::Message() << kernel << " R " << setup.ring << " release "
                                        << setup.release << " kind " << int(kind));
        // Gain-like values in [0.5, 1] for the minimum meter, which starts at 1.
        std::vector<double> in = a;
        if (kind == CMeterReference::kMin)
            std::transform(a.begin(), a.end(), in.begin(), [](double v) { return 1.0 - v; });
        CMeter meter(setup, kind);
        CMeterReference ref = reference(kind, setup);
        const double* st = meter.state.data();
        forEachBlock(
            in.size(),
            [&, kernel = kernel](std::size_t at, std::int32_t len)
            {
                runKernel(kernel, len, 1.0,
                          {meter.ring.data(), meter.state.data(), in.data() + at, b.data() + at});
                for (std::size_t i = at; i < at + std::size_t(len); ++i)
                    ref.step(in[i], b[i]);
                ASSERT_DOUBLE_EQ(st[zel::kMeterMeanSquare], ref.m) << at;
                ASSERT_DOUBLE_EQ(st[zel::kMeterReleased], ref.h) << at;
                ASSERT_DOUBLE_EQ(st[zel::kMeterBlockMax], ref.q) << at;
                ASSERT_DOUBLE_EQ(st[zel::kMeterPeak], ref.peak) << at;
                ASSERT_EQ(zel::meterCount(st, zel::kMeterBlockLeft), ref.left) << at;
            });
        EXPECT_TRUE(kind != CMeterReference::kRatio || st[zel::kMeterMeanSquare2] == ref.m2);
        EXPECT_EQ(meter.ring[setup.ring], -7.0); // nothing written past the ring
    }
    CMeter degenerate({0, 0, 0.0, 0.05}, CMeterReference::kMax); // zero sizes count as one
    EXPECT_EQ(zel::meterRingLength(degenerate.state.data()), 1u);
    EXPECT_EQ(zel::meterSubBlockLength(degenerate.state.data()), 1u);
}

// One full-scale sample, then silence: the published peak holds for R sub-blocks (R*S
// samples), then drops to the largest value left in the ring. The publishing variants write
// the record from the state before the block, then process exactly like their plain twins.
TEST(MeterKernels, PublishesAHeldPeak)
{
    const std::tuple<const char*, const char*, EKind> pairs[] = {
        {"DCDAW_metersub", "DCDAW_meter", CMeterReference::kMax},
        {"DCDAW_metersubc", "DCDAW_meterc", CMeterReference::kMin},
        {"DCDAW_metersubd", "DCDAW_meterd", CMeterReference::kRatio}};
    for (const auto& [sub, plain, kind] : pairs)
    {
        SCOPED_TRACE(sub);
        const CSetup setup{4, 10, 0.0, 0.01};
        CMeter meter(setup, kind), twin(setup, kind);
        CMeterReference ref = reference(kind, setup);
        std::vector<double> block(10, 0.0), other(10, 0.5), result(2, -1.0);
        block[0] = 1.0;
        for (int k = 0; k < 8; ++k)
        {
            const double h = meter.state[zel::kMeterReleased];
            const double peak = meter.state[zel::kMeterPeak];
            runKernel(
                sub, 10, 2.0,
                {meter.ring.data(), meter.state.data(), result.data(), block.data(), other.data()});
            runKernel(plain, 10, 2.0,
                      {twin.ring.data(), twin.state.data(), block.data(), other.data()});
            EXPECT_EQ(result[zel::kMeterResultLevel], std::sqrt(h) * 2.0);
            EXPECT_EQ(result[zel::kMeterResultPeak], std::sqrt(peak) * 2.0);
            EXPECT_EQ(meter.state, twin.state);
            EXPECT_EQ(meter.ring, twin.ring);
            // The burst's power 1 is in the window after blocks 0 to 3.
            EXPECT_TRUE(kind != CMeterReference::kMax || (peak == 1.0) == (k >= 1 && k <= 4)) << k;
            for (int i = 0; i < 10; ++i)
                ref.step(block[std::size_t(i)], 0.5);
            EXPECT_DOUBLE_EQ(meter.state[zel::kMeterPeak], ref.peak);
            block[0] = 0.0;
        }
    }
}

// Correlation follows the reference, and takes the values the measure must have on known pairs.
TEST(MeterCorrelation, MeasuresKnownPairs)
{
    std::vector<double> left = randomSignal(96000, 41, -1.0, 1.0),
                        other = randomSignal(96000, 42, -1.0, 1.0);
    std::vector<double> inverted(left.size()), half(left.size()), silence(left.size(), 0.0);
    std::transform(left.begin(), left.end(), inverted.begin(), [](double v) { return -v; });
    std::transform(left.begin(), left.end(), half.begin(), [](double v) { return 0.5 * v; });
    // {right channel, the correlation it must give, tolerance}
    const std::tuple<std::vector<double>*, double, double> cases[] = {{&left, 1.0, 1e-12},
                                                                      {&half, 1.0, 1e-12},
                                                                      {&inverted, -1.0, 1e-12},
                                                                      {&other, 0.0, 0.1},
                                                                      {&silence, 0.0, 1e-12}};
    for (const auto& [right, expected, tolerance] : cases)
    {
        SCOPED_TRACE(expected);
        std::vector<double> st(zel::kCorrFieldCount, 5.0);
        runKernel("DCDAW_metercorri", 1, kFs, {st.data()});
        EXPECT_EQ(st[zel::kCorrValue], 0.0);
        double sll = 0, srr = 0, slr = 0;
        const double coef = onePoleReference(5.0, kFs);
        forEachBlock(left.size(),
                     [&, right = right](std::size_t at, std::int32_t len)
                     {
                         runKernel("DCDAW_metercorr", len, 0.0,
                                   {st.data(), left.data() + at, right->data() + at});
                         for (std::size_t i = at; i < at + std::size_t(len); ++i)
                         {
                             const double l = left[i], r = (*right)[i];
                             sll += (l * l - sll) * coef;
                             srr += (r * r - srr) * coef;
                             slr += (l * r - slr) * coef;
                         }
                         ASSERT_NEAR(st[zel::kCorrValue], slr / std::sqrt(sll * srr + 1e-30),
                                     1e-12);
                     });
        EXPECT_NEAR(st[zel::kCorrValue], expected, tolerance);

        // The publishing variant writes the value from before the block, then measures.
        std::vector<double> twin = st;
        double result = -2.0;
        runKernel("DCDAW_metercorrsub", 64, 0.0, {st.data(), &result, silence.data(), left.data()});
        runKernel("DCDAW_metercorr", 64, 0.0, {twin.data(), silence.data(), left.data()});
        EXPECT_EQ(result, slr / std::sqrt(sll * srr + 1e-30));
        EXPECT_EQ(st, twin);
    }
    // Silence on both sides gives 0 through the guard, not 0/0.
    std::vector<double> st(zel::kCorrFieldCount, 5.0);
    runKernel("DCDAW_metercorri", 1, kFs, {st.data()});
    runKernel("DCDAW_metercorr", 64, 0.0, {st.data(), silence.data(), silence.data()});
    EXPECT_EQ(st[zel::kCorrValue], 0.0);
}

} // namespace
