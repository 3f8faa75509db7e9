#pragma once
// Test support for the multiband and stacked processes: a band split stand-in
// ("test:split": out = in x (its band's element of input 0) / 100, 100 when unbound) and a
// parameter shorthand with a wide range.

#include "Audio/AudioProcessMB.h"
#include "Audio/Process/ProcessTestSupport.h"

namespace kelvtest
{

class CTestSplitModule : public zel::CAudioModuleBase
{
public:
    zel::CErrorPtr start(zel::CAudioProcessTerminalBase& owner, std::int32_t channel) override
    {
        m_channel = channel < 0 ? 0 : channel;
        m_mulc = zel::findDCDAWKernel("DCDAW_mulc");
        return update(owner);
    }
    zel::CErrorPtr update(zel::CAudioProcessTerminalBase& owner) override
    {
        m_gain = zel::CAudioProcessMB::bandParamValue(owner, 0, m_channel, 100.0) / 100.0;
        return nullptr;
    }
    zel::CErrorPtr process(zel::CAudioModuleBlock& block) override
    {
        std::uint32_t out = 0;
        ZEL_TRY(block.output(0, out), "test");
        return block.issue(*m_mulc, m_gain, {out, block.input(0)});
    }

private:
    std::int32_t m_channel = 0;
    double m_gain = 1.0;
    const zel::CDCDAWKernel* m_mulc = nullptr;
};

class CTestSplitDef : public zel::CAudioProcessDefBase
{
public:
    zel::CErrorPtr makeProcess(zel::TObjectPtr<zel::CAudioProcessBase>& process) const override
    {
        process = zel::CObject::make<zel::CAudioProcessTerminal<CTestSplitModule>>();
        return nullptr;
    }
};

inline CChild wideParam(const char* name, const std::string& defs)
{
    return {"audio:param",
            name,
            attrs("element-size=1|converter=/cvt.real|min-values=-100000|max-values=100000|"
                  "def-values=" +
                  defs),
            {}};
}

inline CChild split(const char* name, const std::string& paramName, const char* extra)
{
    CChild child{"test:split", name, attrs(extra), {}};
    if (!paramName.empty())
        child.children.push_back(
            {"audio:param-alloc", "alloc", attrs("index=0|param-name=" + paramName), {}});
    return child;
}

class CReplicaTest : public CProcessTest
{
protected:
    void SetUp() override
    {
        CProcessTest::SetUp();
        ASSERT_FALSE(m_registration.add<CTestSplitDef>("test:split"));
    }
    // Replaces a parameter's element list in every group and hands the change on.
    void setList(const char* path, const std::vector<double>& values, double stamp)
    {
        zel::CAudioParam& p = liveParam(path);
        for (std::int32_t g = 0; g < p.groupCount(); ++g)
            EXPECT_FALSE(p.setElements(g, values));
        EXPECT_TRUE(m_collector->takeIn(stamp));
    }
    // Runs two blocks of a constant 1.0 (the first lets blends settle) and returns the level of
    // each channel in the second, which must be constant.
    std::vector<double> level(std::size_t n = 8)
    {
        (void)run(constant(n, 1.0));
        const auto out = run(constant(n, 1.0));
        std::vector<double> first;
        for (const CSamples& channel : out)
        {
            EXPECT_EQ(channel.size(), n);
            for (double v : channel)
                EXPECT_DOUBLE_EQ(v, channel.front());
            first.push_back(channel.empty() ? -1.0 : channel.front());
        }
        return first;
    }
};

} // namespace kelvtest
