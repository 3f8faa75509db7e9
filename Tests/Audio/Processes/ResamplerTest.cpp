#include "Audio/Processes/ModDecimator.h"
#include "Audio/Processes/ModLatencyUniformer.h"
#include "Audio/Processes/ModProcessSwitch.h"
#include "Audio/Processes/OversamplingTestSupport.h"
#include "Core/Log.h"
#include "Support/AllocationCounter.h"

#include <string>

namespace kelvtest
{
namespace
{

using zel::CModResampler;

class ResamplerTest : public COversamplingTest
{
};

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

// Mode 1x -> 4x -> 2x, then Auto following "host-mode": the chains grow and shrink to 2k
// children (steep filter next to the base rate, soft ones above), the process in between runs
// (and restarts its modules) at 2^k times the rate, and the output stays finite and within the
// sine's range while a 100 Hz sine of amplitude 0.5 runs through: a change restarts the chain
// from silence and moves the uniformer's read position, so one step may span the sine's whole
// range (2 x 0.5) but never more; between changes the steps are the sine's own (< 0.01).
TEST_F(ResamplerTest, StageChangesResizeTheChainsAndRaiseTheInnerRate)
{
    COversamplingChain c = roundTrip(2.0, 1.0, kLatencies);
    c.inner = true;
    ASSERT_EQ(idAndText(buildChain(c)), "no error");
    CModResampler& up = child("modUpsampler");
    CModResampler& down = child("modDownsampler");
    zel::CAudioProcessBase& inner = *main().findProcess(zel::CText("inner"));
    ASSERT_EQ(up.between().size(), 1u);
    EXPECT_EQ(up.between()[0], &inner);
    EXPECT_TRUE(down.between().empty());
    EXPECT_EQ(inner.sampleRate(), 88200.0);

    struct CStep
    {
        const char* name;
        double value;
        std::int32_t stages;
    };
    const CStep steps[] = {{"mode", 1.0, 0},      {"mode", 3.0, 2}, {"mode", 2.0, 1},
                           {"host-mode", 3.0, 1}, {"mode", 0.0, 3}, {"host-mode", 1.0, 1},
                           {"host-mode", 7.0, 3}, {"mode", 4.0, 3}};
    std::size_t at = 0;
    const CSamples x = sine(1024 * std::size(steps), 100.0 / 44100.0, 0.5);
    double previous = 0.0;
    for (const CStep& step : steps)
    {
        SCOPED_TRACE(std::string(step.name) + " = " + std::to_string(step.value));
        CTestRateModule::starts().clear();
        set(step.name, step.value);
        const CSamples y = feed(CSamples(x.begin() + static_cast<std::ptrdiff_t>(at),
                                         x.begin() + static_cast<std::ptrdiff_t>(at + 1024)));
        at += 1024;
        ASSERT_EQ(y.size(), 1024u);
        EXPECT_EQ(up.stageCount(), step.stages);
        EXPECT_EQ(down.stageCount(), step.stages);
        ASSERT_EQ(up.chain().size(), static_cast<std::size_t>(2 * step.stages));
        for (std::size_t i = 0; i < up.chain().size(); ++i)
        {
            // Up: step then filter per stage from the base rate; down: the mirror image.
            const zel::CAudioProcessBase* u = up.chain()[i];
            const zel::CAudioProcessBase* d = down.chain()[down.chain().size() - 1 - i];
            // The framework keeps sibling names unique ("modFilter", "modFilter#1", ...).
            const char* base = i % 2 == 0 ? "modInterpDecim" : "modFilter";
            EXPECT_TRUE(u->name().startsWith(base)) << u->name().toUtf8();
            EXPECT_TRUE(d->name().startsWith(base)) << d->name().toUtf8();
            const double rate = 44100.0 * static_cast<double>(2 << (i / 2));
            EXPECT_EQ(u->sampleRate(), rate);
            EXPECT_EQ(d->sampleRate(), rate);
            if (i % 2 == 1)
            {
                EXPECT_EQ(u->definition()->name(), zel::CText(i == 1 ? "modResamplerFilterSteep"
                                                                     : "modResamplerFilterSoft"));
            }
        }
        const double innerRate = 44100.0 * static_cast<double>(1 << step.stages);
        EXPECT_EQ(inner.sampleRate(), innerRate);
        for (const double started : CTestRateModule::starts())
            EXPECT_EQ(started, innerRate);
        EXPECT_EQ(child<zel::CModLatencyUniformer>("modLatencyUniformer").reportedLatency(), 502);
        double worst = 0.0;
        double late = 0.0; // after the change has passed through the 502-sample latency
        for (std::size_t i = 0; i < y.size(); ++i)
        {
            ASSERT_TRUE(std::isfinite(y[i]));
            EXPECT_LE(std::abs(y[i]), 0.55);
            const double delta = std::abs(y[i] - previous);
            worst = std::max(worst, delta);
            if (i >= 600)
                late = std::max(late, delta);
            previous = y[i];
        }
        EXPECT_LE(worst, 1.0);
        EXPECT_LE(late, 0.01);
    }
}

// At 8x with either filter kind, running (and switching the kind, a crossfade inside every
// stage) allocates nothing once the pools have warmed up.
TEST_F(ResamplerTest, EightTimesSteadyStateAllocatesNothing)
{
    COversamplingChain c = roundTrip(4.0, 1.0, kLatencies);
    c.inner = true;
    ASSERT_EQ(idAndText(buildChain(c)), "no error");
    const CSamples x = sine(kBlock, 1000.0 / 44100.0);
    for (int round = 0; round < 2; ++round)
        for (const double lp : {0.0, 1.0})
        {
            set("lp-oversampling-enable", lp);
            for (int b = 0; b < 8; ++b)
                (void)feed(x);
        }
    for (const double lp : {0.0, 1.0})
    {
        set("lp-oversampling-enable", lp); // outside the audio path: allocates its entry
        CCountAllocations count;
        for (int b = 0; b < 8; ++b)
        {
            for (std::int32_t ch = 0; ch < kChannels; ++ch)
            {
                std::uint32_t ref = 0;
                (void)m_context->takeBuffer(kBlock * 8, ref);
                (void)m_feeds[static_cast<std::size_t>(ch)]->push(ref, 0, kBlock);
                (void)m_context->releaseReference(ref);
            }
            (void)m_main->process(kBlock);
            for (zel::CAudioConnection* tap : m_taps)
                while (tap->frontLength() > 0)
                    tap->consume(tap->frontLength());
        }
        EXPECT_EQ(count.count(), 0u) << kindName(lp);
    }
}

// A parameter change stamped at base sample 300 reaches the gain between the 4x resamplers at
// raised sample 1200: positions are converted at the rate boundary, both when the container
// cuts its sub-blocks and when it hands the position to the child. DC of 1 enters; the gain
// turns it off for what passes it from then on. The output steps down one down-sampler delay
// later: the linear-phase down path delays by 142.5 / 4 + 254 / 2 = 162.6 base samples, so the
// step lies between outputs 462 and 463 (a change applied at raised 300 or at base 512 would
// put it near 237 or 675).
TEST_F(ResamplerTest, ParameterChangesReachTheRaisedRegionOnTime)
{
    COversamplingChain c = roundTrip(3.0, 1.0);
    c.innerGain = true;
    ASSERT_EQ(idAndText(buildChain(c)), "no error");
    EXPECT_EQ(main().findProcess(zel::CText("gain"))->sampleRate(), 4 * 44100.0);
    change("plugin.modMain.g", 0.0, 299.5 / 44100.0);
    const CSamples y = feed(CSamples(1024, 1.0));
    ASSERT_EQ(y.size(), 1024u);
    EXPECT_NEAR(y[420], 1.0, 0.01);
    EXPECT_GT(y[461], 0.9);
    EXPECT_LT(std::abs(y[463]), 0.1);
    EXPECT_NEAR(y[500], 0.0, 0.01);
}

} // namespace
} // namespace kelvtest
