#pragma once
// Benchmark driver for process trees: builds definitions below a root (a kernel context "ctx",
// an audio environment "env", a parameter collector "collector", a real-valued converter
// "cvt.real" at the root, then the caller's definitions, one of them "modMain"), instantiates
// "plugin.modMain" and runs blocks the way the host side does: one pool buffer pushed per input
// channel (an impulse at its start), process, every output segment consumed. finish() publishes
// "ns/sample", the time per sample frame.

#include "Audio/AudioEnv.h"
#include "Audio/AudioParamCollector.h"
#include "Audio/AudioProcess.h"
#include "Audio/AudioProcessDef.h"
#include "Audio/AudioProcessTerminal.h"
#include "Audio/DCDAWContext.h"
#include "Core/TypeTable.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kelvbench
{

struct CElement
{
    std::string tag;
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<CElement> children;
};

inline zel::CErrorPtr load(zel::CObject& parent, const CElement& element)
{
    zel::CObject* child = nullptr;
    ZEL_TRY(parent.createChild(element.tag.c_str(), element.name.c_str(), true, child), "bench");
    for (const auto& [name, value] : element.attributes)
        ZEL_TRY(child->setAttribute(name.c_str(), value.c_str()), "bench");
    ZEL_TRY(child->init(), "bench");
    ZEL_TRY(child->initTemplateChilds(), "bench");
    for (const CElement& grandChild : element.children)
        ZEL_TRY(load(*child, grandChild), "bench");
    ZEL_TRY(child->initChilds(), "bench");
    child->setState(zel::kStateLoaded);
    return nullptr;
}

inline CElement link(const char* src, const char* dst)
{
    return {"audio:process-link", "link", {{"src", src}, {"dst", dst}}, {}};
}

// A one-value parameter on the real-valued converter.
inline CElement param(const std::string& name, const std::string& defaults,
                      const std::string& minimum = "-1000000",
                      const std::string& maximum = "1000000")
{
    return {"audio:param",
            name,
            {{"element-size", "1"},
             {"converter", "/cvt.real"},
             {"min-values", minimum},
             {"max-values", maximum},
             {"def-values", defaults}},
            {}};
}

inline CElement alloc(const char* index, const char* name)
{
    return {"audio:param-alloc", name, {{"index", index}, {"param-name", name}}, {}};
}

// A light module for measuring the graph's own cost: out = in x 0.5 with one kernel call.
// Register it under a test tag: graph.registration().add<CHalfGainDef>("bench:gain").
class CHalfGainModule : public zel::CAudioModuleBase
{
public:
    zel::CErrorPtr process(zel::CAudioModuleBlock& block) override
    {
        static const zel::CDCDAWKernel* const mulc = zel::findDCDAWKernel("DCDAW_mulc");
        std::uint32_t out = 0;
        ZEL_TRY(block.output(0, out), "bench");
        return block.issue(*mulc, 0.5, {out, block.input(0)});
    }
};

class CHalfGainDef : public zel::CAudioProcessDefBase
{
public:
    zel::CErrorPtr makeProcess(zel::TObjectPtr<zel::CAudioProcessBase>& process) const override
    {
        process = zel::CObject::make<zel::CAudioProcessTerminal<CHalfGainModule>>();
        return nullptr;
    }
};

class CBenchGraph
{
public:
    // Add test-only types here before build().
    zel::CTypeRegistration& registration() { return m_registration; }

    // False (and the benchmark marked skipped) when anything fails.
    bool build(benchmark::State& state, std::vector<CElement> definitions, std::int32_t channels,
               std::int32_t blockLength = 512, double sampleRate = 48000.0)
    {
        m_blockLength = blockLength;
        if (registerProductTypes(m_registration))
            return skip(state, "type registration failed");
        m_root = zel::CObject::make<zel::CObject>();
        m_root->setRootName("r");
        definitions.insert(definitions.begin(), {{"audio:dcdaw-context", "ctx", {}, {}},
                                                 {"audio:audio-env", "env", {}, {}},
                                                 {"audio:param-collector", "collector", {}, {}}});
        const CElement converters{"core:object", "cvt", {}, {{"audio:cvt-real", "real", {}, {}}}};
        if (load(*m_root, converters) ||
            load(*m_root, CElement{"core:object", "defs", {}, std::move(definitions)}))
            return skip(state, "definition failed");
        zel::CObject* defs = m_root->findChild("defs");
        m_context = dynamic_cast<zel::CDCDAWContextObject*>(defs->findChild("ctx"));
        auto* env = dynamic_cast<zel::CAudioEnv*>(defs->findChild("env"));
        env->setSampleRate(sampleRate);
        env->setMaxBlockLength(blockLength);
        auto setup = std::make_shared<zel::CAudioProcessSetup>();
        setup->context = m_context;
        setup->env = env;
        setup->collector = dynamic_cast<zel::CAudioParamCollector*>(defs->findChild("collector"));
        setup->channelCount = channels;

        m_instances = zel::CObject::make<zel::CObject>();
        m_instances->setRootName("plugin");
        const auto* def =
            dynamic_cast<const zel::CAudioProcessDefBase*>(defs->findChild("modMain"));
        if (!def ||
            zel::CAudioProcessBase::instantiate(*def, *m_instances, "modMain", setup,
                                                "plugin.modMain", m_main) ||
            m_main->connect())
            return skip(state, "instantiation failed");
        for (std::int32_t c = 0; c < channels; ++c)
        {
            m_feeds.push_back(&m_main->feedInput(0, c));
            m_taps.push_back(&m_main->tapOutput(0, c));
        }
        return true;
    }

    // Feeds the same block of signal(channel, i) on every run instead of an impulse.
    template <class Signal>
    void setInputSignal(Signal signal)
    {
        for (std::size_t c = 0; c < m_feeds.size(); ++c)
        {
            std::uint32_t ref = 0;
            (void)m_context->takeBuffer(static_cast<std::uint32_t>(m_blockLength) * 8u, ref);
            double* data = m_context->data(ref);
            for (std::int32_t i = 0; i < m_blockLength; ++i)
                data[i] = signal(static_cast<std::int32_t>(c), i);
            m_signals.push_back(ref);
        }
    }

    // One block, as runBlock, reporting whether the process succeeded.
    bool runBlockChecked()
    {
        m_lastOk = true;
        runBlock();
        return m_lastOk;
    }

    void runBlock()
    {
        for (std::size_t c = 0; c < m_signals.size(); ++c)
            (void)m_feeds[c]->push(m_signals[c], 0, m_blockLength);
        for (std::size_t c = m_signals.size(); c < m_feeds.size(); ++c)
        {
            zel::CAudioConnection* feed = m_feeds[c];
            std::uint32_t ref = 0;
            (void)m_context->takeBuffer(static_cast<std::uint32_t>(m_blockLength) * 8u, ref);
            m_context->data(ref)[0] = 1.0; // an impulse at the start of every block
            (void)feed->push(ref, 0, m_blockLength);
            (void)m_context->releaseReference(ref);
        }
        if (m_main->process(m_blockLength))
            m_lastOk = false;
        for (zel::CAudioConnection* tap : m_taps)
            while (tap->frontLength() > 0)
            {
                m_sink += m_context->data(tap->frontRef())[0];
                tap->consume(tap->frontLength());
            }
    }

    void finish(benchmark::State& state)
    {
        benchmark::DoNotOptimize(m_sink);
        state.counters["ns/sample"] = benchmark::Counter(
            static_cast<double>(m_blockLength),
            benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    }

    ~CBenchGraph()
    {
        // The processes go before the definitions and the kernel context they use.
        m_instances.reset();
        for (const std::uint32_t ref : m_signals)
            (void)m_context->releaseReference(ref);
    }

    zel::CDCDAWContextObject& context() { return *m_context; }
    zel::CAudioProcessBase& main() { return *m_main; }

private:
    static bool skip(benchmark::State& state, const char* why)
    {
        state.SkipWithError(why);
        return false;
    }

    zel::CTypeRegistration m_registration;
    zel::CObjectPtr m_root;
    zel::CObjectPtr m_instances;
    zel::CDCDAWContextObject* m_context = nullptr;
    zel::CAudioProcessBase* m_main = nullptr;
    std::vector<zel::CAudioConnection*> m_feeds;
    std::vector<zel::CAudioConnection*> m_taps;
    std::vector<std::uint32_t> m_signals;
    std::int32_t m_blockLength = 512;
    double m_sink = 0.0;
    bool m_lastOk = true;
};

} // namespace kelvbench
