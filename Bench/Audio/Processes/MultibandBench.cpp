// The multiband process with N bands (each a split stage and a one-module chain) over two
// channels, blocks of 512 samples fed and collected as the host side does. The kernels do
// little, so "ns/sample" is mostly the cost of running N copies of the band's stages and
// summing their outputs.
#include "Audio/AudioEnv.h"
#include "Audio/AudioParamCollector.h"
#include "Audio/AudioProcessDef.h"
#include "Audio/AudioProcessMB.h"
#include "Audio/AudioProcessTerminal.h"
#include "Audio/DCDAWContext.h"
#include "Core/TypeTable.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace
{

constexpr std::int32_t kN = 512;
constexpr std::int32_t kChannels = 2;

class CBenchGainModule : public zel::CAudioModuleBase
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

class CBenchGainDef : public zel::CAudioProcessDefBase
{
public:
    zel::CErrorPtr makeProcess(zel::TObjectPtr<zel::CAudioProcessBase>& process) const override
    {
        process = zel::CObject::make<zel::CAudioProcessTerminal<CBenchGainModule>>();
        return nullptr;
    }
};

class CBenchContainerDef : public zel::CAudioProcessDef
{
public:
    zel::CErrorPtr makeProcess(zel::TObjectPtr<zel::CAudioProcessBase>& process) const override
    {
        return zel::makeContainerProcess(*this, process);
    }
};

struct CElement
{
    std::string tag;
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<CElement> children;
};

zel::CErrorPtr load(zel::CObject& parent, const CElement& element)
{
    zel::CObject* child = nullptr;
    ZEL_TRY(parent.createChild(zel::CText(element.tag), zel::CText(element.name), true, child),
            "bench");
    for (const auto& [name, value] : element.attributes)
        ZEL_TRY(child->setAttribute(zel::CText(name), zel::CText(value)), "bench");
    ZEL_TRY(child->init(), "bench");
    ZEL_TRY(child->initTemplateChilds(), "bench");
    for (const CElement& grandChild : element.children)
        ZEL_TRY(load(*child, grandChild), "bench");
    ZEL_TRY(child->initChilds(), "bench");
    child->setState(zel::kStateLoaded);
    return nullptr;
}

CElement param(const char* name, const std::string& values)
{
    return {"audio:param",
            name,
            {{"element-size", "1"},
             {"converter", "/cvt.real"},
             {"min-values", "0"},
             {"max-values", "100000"},
             {"def-values", values}},
            {}};
}

CElement link(const char* src, const char* dst)
{
    return {"audio:process-link", "link", {{"src", src}, {"dst", dst}}, {}};
}

void BM_MultibandProcess(benchmark::State& state)
{
    const auto bands = static_cast<std::int32_t>(state.range(0));
    zel::CTypeRegistration registration;
    if (registerProductTypes(registration) || registration.add<CBenchGainDef>("bench:gain") ||
        registration.add<CBenchContainerDef>("bench:container"))
    {
        state.SkipWithError("type registration failed");
        return;
    }
    std::string freqs;
    for (std::int32_t b = 0; b < bands; ++b)
    {
        if (b > 0)
            freqs += ',';
        freqs += std::to_string(20 + 100 * b);
    }
    zel::CObjectPtr root = zel::CObject::make<zel::CObject>();
    root->setRootName("r");
    const CElement converters{"core:object", "cvt", {}, {{"audio:cvt-real", "real", {}, {}}}};
    const CElement tree{"core:object",
                        "defs",
                        {},
                        {{"audio:dcdaw-context", "ctx", {}, {}},
                         {"audio:audio-env", "env", {}, {}},
                         {"audio:param-collector", "collector", {}, {}},
                         {"audio:process-def",
                          "modMain",
                          {},
                          {param("freqs", freqs),
                           param("count", std::to_string(bands)),
                           {"bench:container",
                            "mb",
                            {{"is-multiband", "true"},
                             {"multiband-freq-param", "freqs"},
                             {"multiband-count-param", "count"},
                             {"multiband-lp", ".protLP"}},
                            {{"bench:gain", "protLP", {{"is-prototype", "true"}}, {}},
                             {"bench:gain", "g", {}, {}},
                             link("*", "g"),
                             link("g", "*")}},
                           link("*", "mb"),
                           link("mb", "*")}}}};
    if (load(*root, converters) || load(*root, tree))
    {
        state.SkipWithError("definition failed");
        return;
    }
    zel::CObject* defs = root->findChild("defs");
    auto* context = dynamic_cast<zel::CDCDAWContextObject*>(defs->findChild("ctx"));
    auto* env = dynamic_cast<zel::CAudioEnv*>(defs->findChild("env"));
    env->setSampleRate(48000.0);
    env->setMaxBlockLength(kN);
    auto setup = std::make_shared<zel::CAudioProcessSetup>();
    setup->context = context;
    setup->env = env;
    setup->collector = dynamic_cast<zel::CAudioParamCollector*>(defs->findChild("collector"));
    setup->channelCount = kChannels;

    zel::CObjectPtr instances = zel::CObject::make<zel::CObject>();
    instances->setRootName("plugin");
    zel::CAudioProcessBase* main = nullptr;
    const auto* def = dynamic_cast<const zel::CAudioProcessDefBase*>(defs->findChild("modMain"));
    if (zel::CAudioProcessBase::instantiate(*def, *instances, "modMain", setup, "plugin.modMain",
                                            main) ||
        main->connect())
    {
        state.SkipWithError("instantiation failed");
        return;
    }
    std::vector<zel::CAudioConnection*> feeds, taps;
    for (std::int32_t c = 0; c < kChannels; ++c)
    {
        feeds.push_back(&main->feedInput(0, c));
        taps.push_back(&main->tapOutput(0, c));
    }
    double sink = 0.0;
    for (auto _ : state)
    {
        for (zel::CAudioConnection* feed : feeds)
        {
            std::uint32_t ref = 0;
            (void)context->takeBuffer(kN * 8, ref);
            (void)feed->push(ref, 0, kN);
            (void)context->releaseReference(ref);
        }
        (void)main->process(kN);
        for (zel::CAudioConnection* tap : taps)
            while (tap->frontLength() > 0)
            {
                sink += context->data(tap->frontRef())[0];
                tap->consume(tap->frontLength());
            }
    }
    benchmark::DoNotOptimize(sink);
    state.counters["ns/sample"] =
        benchmark::Counter(static_cast<double>(kN), benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
    instances.reset();
}
BENCHMARK(BM_MultibandProcess)->Arg(4)->Arg(32);

} // namespace
