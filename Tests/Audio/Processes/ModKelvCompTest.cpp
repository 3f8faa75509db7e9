#include "Audio/Processes/ModKelvComp.h"
#include "Audio/Kernels/KernelTestSupport.h"
#include "Audio/Processes/ModTestSupport.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace kelvtest
{
namespace
{

struct CSettings
{
    double threshold = 0.1, ratio = 0.25, range = 30.0, attack = 0.01, release = 0.05;
    double inverse = 0.0, rms = 0.0;
};

// One-pole coefficient of a time constant at a sample rate.
double coefficient(double seconds, double rate)
{
    return onePoleReference(1.0 / seconds, rate);
}

class ModKelvCompTest : public CModTest
{
protected:
    // The module "kc" with all seven inputs bound to parameters of the container (or none),
    // fed by the container's input and feeding its output.
    zel::CErrorPtr buildComp(const CSettings& s, bool bound = true, const char* extra = "")
    {
        resetGraph();
        std::vector<CChild> children;
        if (bound)
        {
            const std::pair<const char*, double> values[] = {
                {"thr", s.threshold}, {"ratio", s.ratio}, {"range", s.range}, {"att", s.attack},
                {"rel", s.release},   {"inv", s.inverse}, {"rms", s.rms}};
            for (const auto& [name, value] : values)
            {
                char text[32];
                std::snprintf(text, sizeof text, "%.17g", value);
                children.push_back(param(name, text));
            }
        }
        return build(
            chain(std::move(children),
                  {module("audio:modKelvComp", "kc",
                          bound ? inOrder({"thr", "ratio", "range", "att", "rel", "inv", "rms"})
                                : CBindings{},
                          extra)}));
    }
    zel::CModKelvCompModule& compModule(std::size_t channel)
    {
        return dynamic_cast<zel::CModKelvComp&>(*m_main->findChild("kc")).module(channel);
    }
    // blocks x 64 samples of a constant level per channel; the last block's output.
    CBlockResult settle(double level0, double level1, int blocks = 16)
    {
        CBlockResult last;
        for (int b = 0; b < blocks; ++b)
            last = runBlock({constant(64, level0), constant(64, level1)});
        return last;
    }
};

TEST_F(ModKelvCompTest, SettlesOnTheLinearAmplitudeCurve)
{
    struct CCase
    {
        const char* name;
        CSettings s;
        bool bound;
        double level[2];
        double expected[2]; // computed by hand from the curve
    };
    // The law's variants are the gain computer's own test; here the inputs reach it, in their
    // units (the range in dB).
    const CCase cases[] = {
        {"4:1 above and below", {0.1, 0.25, 30}, true, {0.5, 0.05}, {0.4, 1.0}},
        {"range limits the cut", {0.1, 0.0, 2}, true, {0.5, 0.15}, {0.5, 0.1 / 0.15}},
        {"upward 1:4, level at the threshold", {0.1, 4.0, 30}, true, {0.2, 0.1}, {2.5, 1.0}},
        {"inverse", {0.1, 0.25, 30, 0.01, 0.05, 1.0}, true, {0.05, 0.5}, {0.625, 1.0}},
        {"inverse on silence",
         {0.1, 0.25, 30, 0.01, 0.05, 0.5},
         true,
         {0.0, 0.2},
         {0.25000075, 1.0}},
        {"unbound inputs give unity", {}, false, {0.5, 0.0}, {1.0, 1.0}},
    };
    for (const CCase& tc : cases)
    {
        SCOPED_TRACE(tc.name);
        ASSERT_EQ(idAndText(buildComp(tc.s, tc.bound)), "no error");
        const CBlockResult got = settle(tc.level[0], tc.level[1]);
        for (std::size_t c = 0; c < 2; ++c)
        {
            ASSERT_EQ(got.out[c].size(), 64u);
            EXPECT_FALSE(got.passed[c]);
            EXPECT_NEAR(got.out[c].back(), tc.expected[c], 1e-9) << c;
        }
    }
}

TEST_F(ModKelvCompTest, AttackThenReleaseFollowTheirTimeConstants)
{
    CSettings s{0.1, 0.0, 30.0, 0.02, 0.08};
    ASSERT_EQ(idAndText(buildComp(s)), "no error");
    const double ca = coefficient(0.02, kRate), cr = coefficient(0.08, kRate);
    // Above the threshold from a fresh start at 1: towards T / 0.5 with the attack time.
    const CBlockResult down = runBlock({constant(64, 0.5), constant(64, 0.5)});
    for (std::size_t k = 0; k < 64; ++k)
        ASSERT_NEAR(down.out[0][k], 0.2 + 0.8 * std::pow(1.0 - ca, double(k + 1)), 1e-12) << k;
    // Silence: back towards 1 with the release time, from where the attack left off.
    const double g0 = down.out[0].back();
    const CBlockResult up = runBlock({constant(64, 0.0), constant(64, 0.0)});
    for (std::size_t k = 0; k < 64; ++k)
        ASSERT_NEAR(up.out[1][k], 1.0 + (g0 - 1.0) * std::pow(1.0 - cr, double(k + 1)), 1e-12) << k;
}

TEST_F(ModKelvCompTest, SettingChangeContinuesTheRunningGainAndDetector)
{
    const double cr = coefficient(0.05, kRate);
    for (const double rms : {0.0, 1.0})
    {
        SCOPED_TRACE(rms);
        ASSERT_EQ(idAndText(buildComp({0.1, 0.25, 30, 0.01, 0.05, 0.0, rms})), "no error");
        settle(0.5, 0.5, 32); // g = 0.4; the detector holds 0.5^2
        const std::uint32_t freeSlots = m_context->freeSlotCount();
        setValue("plugin.modMain.thr", 0.2, 1); // channel 1's group only
        const CBlockResult got = runBlock({constant(64, 0.5), constant(64, 0.5)});
        EXPECT_FALSE(compModule(1).isCrossfading());
        EXPECT_EQ(m_context->freeSlotCount(), freeSlots); // the old record went back
        // New target (0.2 + 0.3 * 0.25) / 0.5 = 0.55 lies above g: the release time applies.
        for (std::size_t k = 0; k < 64; ++k)
        {
            ASSERT_NEAR(got.out[0][k], 0.4, 1e-12) << k;
            ASSERT_NEAR(got.out[1][k], 0.55 - 0.15 * std::pow(1.0 - cr, double(k + 1)), 1e-9) << k;
        }
    }
}

TEST_F(ModKelvCompTest, InverseSwitchBlendsFromTheOldGainToTheNew)
{
    ASSERT_EQ(idAndText(buildComp({0.1, 0.25, 30, 0.01, 0.05}, true, "xfade-length=0.015")),
              "no error");
    settle(0.5, 0.5, 32); // g = 0.4
    const std::uint32_t freeSlots = m_context->freeSlotCount();
    setValue("plugin.modMain.inv", 1.0);
    const CBlockResult got = runBlock({constant(64, 0.5), constant(64, 0.5)});
    // Old copy: stays at 0.4. New copy: 1 / 0.5 = 2 is below 1 / T = 10, so it releases from
    // 0.4 towards 1. N = 15 samples of raised-cosine blend, then the new copy alone.
    const double cr = coefficient(0.05, kRate);
    for (std::size_t k = 0; k < 64; ++k)
    {
        const double fresh = 1.0 - 0.6 * std::pow(1.0 - cr, double(k + 1));
        const double expected = (1 - oldWeight(k, 15)) * fresh + oldWeight(k, 15) * 0.4;
        ASSERT_NEAR(got.out[0][k], expected, 1e-9) << k;
        ASSERT_NEAR(got.out[1][k], expected, 1e-9) << k;
    }
    EXPECT_FALSE(compModule(0).isCrossfading());
    // The old records are gone; each channel keeps only the blend's own state slot.
    EXPECT_EQ(m_context->freeSlotCount(), freeSlots - 2);

    // Switching the detector is structural too; an inverse value on the same side of 0.5 is no
    // change of mode.
    setValue("plugin.modMain.rms", 1.0);
    runBlock({constant(4, 0.5), constant(4, 0.5)});
    EXPECT_TRUE(compModule(0).isCrossfading());
    EXPECT_TRUE(compModule(0).usesRms());
    runBlock({constant(64, 0.5), constant(64, 0.5)});
    setValue("plugin.modMain.inv", 0.5);
    runBlock({constant(4, 0.5), constant(4, 0.5)});
    EXPECT_FALSE(compModule(0).isCrossfading());
}

TEST_F(ModKelvCompTest, SteadyStateAndSettingChangesAllocateNothing)
{
    ASSERT_FALSE(buildComp({}, true, "xfade-length=0.005"));
    zel::CAudioParam* params[] = {&liveParam("plugin.modMain.thr"),
                                  &liveParam("plugin.modMain.inv"),
                                  &liveParam("plugin.modMain.rms")};
    const auto edit = [&](int i)
    {
        const double values[] = {0.05 * (1 + i % 3), double(i % 2), double((i / 2) % 2)};
        for (std::size_t p = 0; p < 3; ++p)
            EXPECT_FALSE(params[p]->setValue(0, 0, 0, values[p]));
    };
    EXPECT_EQ(cycleAllocations(edit, {32, 32, 32}), 0u);
}

} // namespace
} // namespace kelvtest
