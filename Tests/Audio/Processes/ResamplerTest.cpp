#include "Audio/Processes/ModDecimator.h"
#include "Audio/Processes/ModLatencyUniformer.h"
#include "Audio/Processes/ModProcessSwitch.h"
#include "Audio/Processes/OversamplingTestSupport.h"
#include "Core/Log.h"
#include "Support/AllocationCounter.h"

#include <cstdio>
#include <string>

namespace kelvtest
{
namespace
{

using zel::CModResampler;

class ResamplerTest : public COversamplingTest
{
};

const char* kindName(double linearPhase)
{
    return linearPhase > 0.5 ? "FIR" : "IIR";
}

// The peak of an impulse through up(k) -> down(k) lies where the down-sampler says. For the
// linear-phase stages the figures follow from the designs by hand: a stage filter delays by its
// 128-sample partition plus (taps - 1) / 2 at its rate (253 taps steep, 30 soft), the round
// trip of a stage is twice that plus the inner round trip, halved (less one when odd).
//   k = 1: 2 x 254 = 508 -> 254
//   k = 2: 2 x 142.5 = 285 -> 142; 142 + 508 = 650 -> 325
//   k = 3: 285 -> 142; 142 + 285 = 427 -> 213; 213 + 508 = 721 -> 360
TEST_F(ResamplerTest, ImpulsePeakSitsAtTheReportedRoundTripLatency)
{
    const std::int32_t kFir[] = {0, 254, 325, 360};
    for (const double lp : {0.0, 1.0})
        for (std::int32_t k = 0; k <= 3; ++k)
        {
            SCOPED_TRACE(std::string(kindName(lp)) + " stages " + std::to_string(k));
            reset();
            ASSERT_EQ(idAndText(buildChain(roundTrip(k + 1.0, lp))), "no error");
            CModResampler& down = child("modDownsampler");
            ASSERT_EQ(down.stageCount(), k);
            ASSERT_EQ(child("modUpsampler").chain().size(), static_cast<std::size_t>(2 * k));
            const CSamples y = feed(impulse(2048));
            ASSERT_EQ(y.size(), 2048u);
            const auto peak = static_cast<std::int32_t>(peakIndex(y));
            std::printf("[latency] %s k=%d peak=%d reported=%d height=%.6f\n", kindName(lp), k,
                        peak, down.currentLatency(), y[static_cast<std::size_t>(peak)]);
            if (lp > 0.5)
            {
                EXPECT_EQ(down.currentLatency(), kFir[k]);
                EXPECT_EQ(peak, kFir[k]);
            }
            else
                EXPECT_NEAR(peak, down.currentLatency(), 1);
            EXPECT_EQ(child("modUpsampler").currentLatency(), 0);
        }
}

// With the uniformer behind the round trip the total is the table's 502 samples at 44100 and
// 48000 Hz for every factor and filter kind.
TEST_F(ResamplerTest, UniformerMakesTheTotalLatencyConstant)
{
    for (const double rate : {44100.0, 48000.0})
        for (const double lp : {0.0, 1.0})
            for (std::int32_t k = 0; k <= 3; ++k)
            {
                SCOPED_TRACE(std::string(kindName(lp)) + " stages " + std::to_string(k) + " at " +
                             std::to_string(rate));
                reset();
                setRate(rate);
                ASSERT_EQ(idAndText(buildChain(roundTrip(k + 1.0, lp, kLatencies))), "no error");
                const CSamples y = feed(impulse(2048));
                const auto& uniformer = child<zel::CModLatencyUniformer>("modLatencyUniformer");
                EXPECT_EQ(uniformer.graphLatency(), child("modDownsampler").currentLatency());
                EXPECT_EQ(uniformer.reportedLatency(), 502);
                EXPECT_EQ(m_env->latency(), 502);
                if (lp > 0.5)
                    EXPECT_EQ(peakIndex(y), 502u);
                else
                    EXPECT_NEAR(static_cast<double>(peakIndex(y)), 502.0, 1.0);
            }
}

} // namespace
} // namespace kelvtest
