#pragma once
// Test support for the process graph: a root holding a kernel context, an environment at
// 1000 Hz (so sample positions and milliseconds coincide), a parameter collector and a real
// converter; a test-only gain module ("test:gain": out = in x input 0, default 1, via
// "DCDAW_mulc"); and helpers that build a definition tree, instantiate it as "plugin.modMain",
// feed it blocks and collect its output.

#include "Audio/AudioEnv.h"
#include "Audio/AudioParam.h"
#include "Audio/AudioParamCollector.h"
#include "Audio/AudioProcess.h"
#include "Audio/AudioProcessDef.h"
#include "Audio/AudioProcessTerminal.h"
#include "Audio/AudioTestSupport.h"
#include "Audio/DCDAWContext.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kelvtest
{

class CTestGainModule : public zel::CAudioModuleBase
{
public:
    zel::CErrorPtr start(zel::CAudioProcessTerminalBase& owner, std::int32_t channel) override
    {
        m_channel = channel < 0 ? 0 : channel;
        m_mulc = zel::findDCDAWKernel("DCDAW_mulc");
        m_fill0 = zel::findDCDAWKernel("DCDAW_fill0");
        return update(owner);
    }
    // The gain is taken over only here, so a change shows once the per-block update ran.
    zel::CErrorPtr update(zel::CAudioProcessTerminalBase& owner) override
    {
        m_gain = owner.paramValue(0, m_channel, 1.0);
        ++updates;
        return nullptr;
    }
    zel::CErrorPtr process(zel::CAudioModuleBlock& block) override
    {
        std::uint32_t out = 0;
        ZEL_TRY(block.output(0, out), "test");
        const std::uint32_t in = block.input(0);
        if (in == zel::CAudioProcessBase::kNoInput)
            return block.issue(*m_fill0, 0.0, {out});
        return block.issue(*m_mulc, m_gain, {out, in});
    }

    int updates = 0;

private:
    std::int32_t m_channel = 0;
    double m_gain = 1.0;
    const zel::CDCDAWKernel* m_mulc = nullptr;
    const zel::CDCDAWKernel* m_fill0 = nullptr;
};

class CTestGainDef : public zel::CAudioProcessDefBase
{
public:
    zel::CErrorPtr makeProcess(zel::TObjectPtr<zel::CAudioProcessBase>& process) const override
    {
        process = zel::CObject::make<zel::CAudioProcessTerminal<CTestGainModule>>();
        return nullptr;
    }
};

using CChild = ktest::CFakeChild;

// Definition shorthands.
inline CChild param(const char* name, const char* def)
{
    return {"audio:param",
            name,
            attrs(std::string("element-size=1|converter=/cvt.real|min-values=-100|"
                              "max-values=100|def-values=") +
                  def),
            {}};
}
inline CChild gain(const char* name, const std::string& paramName = "", const char* extra = "")
{
    CChild child{"test:gain", name, attrs(extra), {}};
    if (!paramName.empty())
        child.children.push_back(
            {"audio:param-alloc", "alloc", attrs("index=0|param-name=" + paramName), {}});
    return child;
}
inline CChild link(const std::string& list)
{
    return {"audio:process-link", "link", attrs(list), {}};
}
inline CChild container(const char* name, std::vector<CChild> children, const char* extra = "")
{
    return {"audio:process-def", name, attrs(extra), std::move(children)};
}

class CProcessTest : public CAudioTest
{
protected:
    static constexpr double kRate = 1000.0;
    static constexpr std::int32_t kChannels = 2;

    std::vector<ktest::CFakeChild> converters() const override
    {
        return {{"audio:cvt-real", "real", {}, {}}};
    }
    void SetUp() override
    {
        CAudioTest::SetUp();
        ASSERT_FALSE(m_registration.add<CTestGainDef>("test:gain"));
        m_context = dynamic_cast<zel::CDCDAWContextObject*>(load("audio:dcdaw-context", {}));
        m_env = dynamic_cast<zel::CAudioEnv*>(load("audio:audio-env", attrs("viz-fps=30")));
        m_collector = dynamic_cast<zel::CAudioParamCollector*>(load("audio:param-collector", {}));
        ASSERT_TRUE(m_context && m_env && m_collector);
        m_env->setSampleRate(kRate);
        m_env->setMaxBlockLength(64);
        auto setup = std::make_shared<zel::CAudioProcessSetup>();
        setup->context = m_context;
        setup->env = m_env;
        setup->collector = m_collector;
        setup->channelCount = kChannels;
        setup->groupCount = 2;
        setup->channelGroups = {0, 1};
        m_setup = setup;
        m_instances = zel::CObject::make<zel::CObject>();
        m_instances->setRootName("plugin");
    }
    void TearDown() override
    {
        m_taps.clear();
        m_feeds.clear();
        m_instances.reset(); // processes go before the context
    }

    // Loads the definition below "audio"; the error of the load, if any.
    zel::CErrorPtr define(const CChild& def)
    {
        zel::CObject* audio = m_root->findChild("audio");
        if (audio == nullptr)
        {
            EXPECT_FALSE(ktest::loadElement(*m_root, {"core:object", "audio", {}, {}}, &audio));
        }
        zel::CObject* made = nullptr;
        zel::CErrorPtr err = ktest::loadElement(*audio, def, &made);
        m_def = dynamic_cast<zel::CAudioProcessDefBase*>(made);
        return err;
    }
    // Drops the built graph and its definitions, so that a loop can build another.
    void resetGraph()
    {
        m_taps.clear();
        m_feeds.clear();
        m_instances.reset();
        if (zel::CObject* audio = m_root->findChild("audio"))
            (void)audio->destroy();
        m_instances = zel::CObject::make<zel::CObject>();
        m_instances->setRootName("plugin");
    }
    // Instantiates the last definition as "plugin.<name>" and connects it.
    zel::CErrorPtr instantiate(const zel::CText& name = zel::CText("modMain"))
    {
        m_feeds.clear();
        m_taps.clear();
        zel::CAudioProcessBase* made = nullptr;
        zel::CText path("plugin.");
        path += name;
        ZEL_TRY(
            zel::CAudioProcessBase::instantiate(*m_def, *m_instances, name, m_setup, path, made),
            "test");
        m_main = made;
        for (std::int32_t c = 0; c < m_setup->channelCount; ++c)
        {
            m_feeds.push_back(&made->feedInput(0, c));
            m_taps.push_back(&made->tapOutput(0, c));
        }
        return made->connect();
    }
    zel::CErrorPtr build(const CChild& def)
    {
        ZEL_TRY(define(def), "test");
        return instantiate();
    }

    // Feeds one block (channel c gets in scaled by c + 1, or nothing but n samples if in is
    // empty), processes it and returns each channel's output (or drops it if quiet).
    std::vector<CSamples> run(const CSamples& in, std::int32_t n = -1, bool quiet = false)
    {
        if (n < 0)
            n = static_cast<std::int32_t>(in.size());
        const auto channels = static_cast<std::size_t>(kChannels);
        for (std::size_t c = 0; c < channels; ++c)
        {
            std::uint32_t ref = 0;
            EXPECT_FALSE(m_context->takeBuffer(static_cast<std::uint32_t>(64 * 8), ref));
            for (std::size_t i = 0; i < in.size(); ++i)
                m_context->data(ref)[i] = in[i] * static_cast<double>(c + 1);
            EXPECT_FALSE(m_feeds[c]->push(ref, 0, n));
            EXPECT_FALSE(m_context->releaseReference(ref));
        }
        EXPECT_EQ(idAndText(m_main->process(n)), "no error");
        std::vector<CSamples> out(quiet ? 0 : channels);
        for (std::size_t c = 0; c < channels; ++c)
            for (zel::CAudioConnection& tap = *m_taps[c]; tap.frontLength() > 0;
                 tap.consume(tap.frontLength()))
                if (!quiet)
                {
                    const double* data = m_context->data(tap.frontRef());
                    out[c].insert(out[c].end(), data, data + tap.frontLength());
                }
        return out;
    }
    // Feeds and drains a block of n samples without allocating.
    void runQuiet(std::int32_t n) { run({}, n, true); }

    zel::CAudioParam& liveParam(const char* path)
    {
        zel::CAudioParam* found = m_collector->findParam(path);
        EXPECT_NE(found, nullptr) << path;
        return *found;
    }
    // Sets a parameter's value in every group and hands the change to the processes with the
    // given stamp (seconds).
    void change(const char* path, double value, double stamp)
    {
        zel::CAudioParam& p = liveParam(path);
        for (std::int32_t g = 0; g < p.groupCount(); ++g)
            EXPECT_FALSE(p.setValue(g, 0, 0, value));
        EXPECT_TRUE(m_collector->takeIn(stamp));
    }

    zel::CDCDAWContextObject* m_context = nullptr;
    zel::CAudioEnv* m_env = nullptr;
    zel::CAudioParamCollector* m_collector = nullptr;
    std::shared_ptr<const zel::CAudioProcessSetup> m_setup;
    zel::CObjectPtr m_instances;
    zel::CAudioProcessDefBase* m_def = nullptr;
    zel::CAudioProcessBase* m_main = nullptr;
    std::vector<zel::CAudioConnection*> m_feeds;
    std::vector<zel::CAudioConnection*> m_taps;
};

// Every sample of a block equal to value.
inline CSamples constant(std::size_t n, double value)
{
    return CSamples(n, value);
}

} // namespace kelvtest
