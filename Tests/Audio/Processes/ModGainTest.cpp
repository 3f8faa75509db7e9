#include "Audio/Processes/ModSwitchedOutput.h"
#include "Audio/Processes/ModTestSupport.h"

#include <cmath>
#include <tuple>

namespace kelvtest
{
namespace
{

using zel::CModSwitchedOutput;

class ModGainTest : public CModTest
{
protected:
    zel::CErrorPtr buildGain(const char* gain, const char* mute, const char* invert,
                             const char* extra = "")
    {
        return rebuild(
            chain({param("gain", gain), param("mute", mute), param("inv", invert)},
                  {module("audio:modGain", "g", inOrder({"gain", "mute", "inv"}), extra)}));
    }
    static CSamples ramp(std::size_t n)
    {
        CSamples s(n);
        for (std::size_t i = 0; i < n; ++i)
            s[i] = 0.25 * static_cast<double>(i) - 1.0;
        return s;
    }
};

TEST_F(ModGainTest, GainPolarityAndMuteSelectTheOutput)
{
    // gain, mute, invert, the factor (0: muted), passed by reference
    const std::tuple<const char*, const char*, const char*, double, bool> cases[] = {
        {"1", "0", "0", 1.0, true},
        {"1.0000000000000002", "0", "0", 1.0, true}, // within epsilon of 1
        {"1.0000000000000004", "0", "0", 1.0000000000000004, false},
        {"1", "0", "1", -1.0, false},
        {"-1", "0", "0.5", 1.0, true}, // the switch is on from 0.5: -(-1)
        {"-1", "0", "0.49", -1.0, false},
        {"0.5", "0", "0", 0.5, false},
        {"0.5", "0", "1", -0.5, false},
        {"0.5", "1", "1", 0.0, false},
    };
    const CSamples in = ramp(12);
    for (const auto& [gain, mute, invert, factor, passed] : cases)
    {
        SCOPED_TRACE(std::string(gain) + " " + mute + " " + invert);
        const std::uint32_t seed = CModSwitchedOutput::peekNextSeed();
        ASSERT_EQ(idAndText(buildGain(gain, mute, invert)), "no error");
        const CBlockResult got = runSame(in);
        for (std::size_t c = 0; c < 2; ++c)
        {
            EXPECT_EQ(got.passed[c], passed);
            if (factor == 0.0)
            {
                // Channels take consecutive seeds, so their noise differs.
                const CSamples noise = referenceNoise(seed + static_cast<std::uint32_t>(c), 12);
                for (std::size_t i = 0; i < 12; ++i)
                    EXPECT_NEAR(got.out[c][i], noise[i], 1e-24) << c << " " << i;
                continue;
            }
            for (std::size_t i = 0; i < 12; ++i)
                EXPECT_EQ(got.out[c][i], in[i] * factor) << c << " " << i;
        }
    }
}

TEST_F(ModGainTest, MuteBlendsIntoNoiseAndItsSeedSlotIsReleasedWhenMuteEnds)
{
    // 0.01 s at 1000 Hz: blends of N = 10 samples.
    ASSERT_FALSE(buildGain("1", "0", "0", "xfade-length=0.01"));
    const CSamples ones = constant(8, 1.0);
    EXPECT_TRUE(runSame(ones).passed[0]);

    const auto twoBlocks = [&](std::size_t c)
    {
        CSamples out = runSame(ones).out[c];
        const CSamples more = runSame(ones).out[c];
        out.insert(out.end(), more.begin(), more.end());
        return out;
    };

    setValue("plugin.modMain.gain", 0.5);
    CSamples out = twoBlocks(0);
    const std::uint32_t freeUnmuted = m_context->freeSlotCount();
    const std::uint32_t seed = CModSwitchedOutput::peekNextSeed();
    setValue("plugin.modMain.mute", 1.0);
    out = twoBlocks(1);
    const CSamples noise = referenceNoise(seed + 1, 16);
    for (std::size_t k = 0; k < 16; ++k)
    {
        const double a = oldWeight(k, 10);
        const double expected = (1 - a) * noise[k] + a * 0.5;
        EXPECT_NEAR(out[k], expected, 1e-12) << k;
    }
    EXPECT_EQ(m_context->freeSlotCount(), freeUnmuted - 2); // one seed slot per channel

    setValue("plugin.modMain.mute", 0.0);
    out = twoBlocks(0);
    EXPECT_NEAR(out[0], referenceNoise(seed, 17)[16], 1e-24); // starts on the old noise
    EXPECT_EQ(out.back(), 0.5);
    EXPECT_EQ(m_context->freeSlotCount(), freeUnmuted);
}

} // namespace
} // namespace kelvtest
