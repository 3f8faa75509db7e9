#include "Audio/AudioCrossfade.h"
#include "Audio/Process/ProcessTestSupport.h"

#include <cmath>
#include <numbers>

namespace kelvtest
{
namespace
{

// A gain whose changes are structural: a new gain starts a second running copy and the output
// blends from the old copy to the new one over "xfade-length".
class CXfadeGainModule : public zel::CAudioModuleBase
{
public:
    zel::CErrorPtr start(zel::CAudioProcessTerminalBase& owner, std::int32_t channel) override
    {
        m_channel = channel;
        m_length = zel::CAudioCrossfade::lengthOf(*owner.definition());
        m_mulc = zel::findDCDAWKernel("DCDAW_mulc");
        m_gain = m_oldGain = owner.paramValue(0, channel, 1.0);
        return nullptr;
    }
    zel::CErrorPtr update(zel::CAudioProcessTerminalBase& owner) override
    {
        const double gain = owner.paramValue(0, m_channel, 1.0);
        if (gain == m_gain)
            return nullptr;
        m_oldGain = m_gain;
        m_gain = gain;
        return m_fade.start(owner.context(), m_length, owner.sampleRate());
    }
    zel::CErrorPtr process(zel::CAudioModuleBlock& block) override
    {
        zel::CDCDAWContextObject& ctx = block.context();
        std::uint32_t out = 0, fresh = 0, old = 0;
        ZEL_TRY(block.output(0, out), "test");
        ZEL_TRY(block.issue(*m_mulc, m_gain, {out, block.input(0)}), "test");
        if (!m_fade.isRunning())
            return nullptr;
        ZEL_TRY(ctx.takeBuffer(64 * 8, fresh), "test");
        ZEL_TRY(ctx.takeBuffer(64 * 8, old), "test");
        ZEL_TRY(block.issue(*m_mulc, m_gain, {fresh, block.input(0)}), "test");
        ZEL_TRY(block.issue(*m_mulc, m_oldGain, {old, block.input(0)}), "test");
        zel::CErrorPtr err = m_fade.run(ctx, block.length(), out, fresh, old);
        (void)ctx.releaseReference(fresh);
        (void)ctx.releaseReference(old);
        return err;
    }
    void stop(zel::CAudioProcessTerminalBase& owner) override { m_fade.release(owner.context()); }

private:
    std::int32_t m_channel = 0;
    double m_length = 0.0;
    double m_gain = 1.0;
    double m_oldGain = 1.0;
    zel::CAudioCrossfade m_fade;
    const zel::CDCDAWKernel* m_mulc = nullptr;
};

class CXfadeGainDef : public zel::CAudioProcessDefBase
{
public:
    zel::CErrorPtr makeProcess(zel::TObjectPtr<zel::CAudioProcessBase>& process) const override
    {
        process = zel::CObject::make<zel::CAudioProcessTerminal<CXfadeGainModule>>();
        return nullptr;
    }
};

class CrossfadeTest : public CProcessTest
{
protected:
    void SetUp() override
    {
        CProcessTest::SetUp();
        ASSERT_FALSE(m_registration.add<CXfadeGainDef>("test:xfade-gain"));
    }
};

TEST_F(CrossfadeTest, LengthIsClampedToATenthOfAMillisecond)
{
    const std::pair<const char*, double> cases[] = {
        {"", 0.0001}, {"xfade-length=0.00005", 0.0001}, {"xfade-length=0.015", 0.015}};
    for (const auto& [list, seconds] : cases)
    {
        const zel::CObject* def = load("core:object", attrs(list));
        ASSERT_NE(def, nullptr);
        EXPECT_DOUBLE_EQ(zel::CAudioCrossfade::lengthOf(*def), seconds) << list;
    }
}

TEST_F(CrossfadeTest, StructuralChangeBlendsFromTheOldOutputToTheNew)
{
    // 0.01 s at 1000 Hz: N = 10 samples.
    CChild g = gain("g", "level", "xfade-length=0.01");
    g.tag = "test:xfade-gain";
    ASSERT_FALSE(build(
        container("modMain", {param("level", "1"), g, link("src=*|dst=g"), link("src=g|dst=*")})));
    EXPECT_EQ(run(constant(8, 1.0))[0], constant(8, 1.0));

    change("plugin.modMain.level", 0.0, 0.008); // lands at the start of the next block
    const CSamples a = run(constant(8, 1.0))[0];
    const CSamples b = run(constant(8, 1.0))[0];
    CSamples out(a);
    out.insert(out.end(), b.begin(), b.end());
    for (std::size_t k = 0; k < out.size(); ++k)
    {
        // (0.5 - s) x new + (0.5 + s) x old with new = 0, old = 1, s = 0.5 cos(pi k / N).
        const double expected =
            k < 10 ? 0.5 + 0.5 * std::cos(std::numbers::pi * static_cast<double>(k) / 10.0) : 0.0;
        EXPECT_NEAR(out[k], expected, 1e-12) << k;
    }
    EXPECT_EQ(run(constant(8, 1.0))[0], constant(8, 0.0));
}

} // namespace
} // namespace kelvtest
