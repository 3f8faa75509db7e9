// The channel-moving modules on a stereo block of 512 samples: mid/side encoder -> router ->
// mid/side weighting, with the modules' unbound settings (encode the first pair, route every
// channel to itself, inline weighting at unity, which passes by reference). The counter
// "ns/sample" is the time per sample frame, module plumbing included.
#include "Audio/AudioEnv.h"
#include "Audio/AudioProcess.h"
#include "Audio/AudioProcessDef.h"
#include "Audio/DCDAWContext.h"
#include "Core/TypeTable.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <utility>
#include <vector>

namespace
{

constexpr std::int32_t kN = 512;
constexpr std::int32_t kChannels = 2;

struct CElement
{
    const char* tag;
    const char* name;
    std::vector<std::pair<const char*, const char*>> attributes;
    std::vector<CElement> children;
};

zel::CErrorPtr load(zel::CObject& parent, const CElement& element)
{
    zel::CObject* child = nullptr;
    ZEL_TRY(parent.createChild(element.tag, element.name, true, child), "bench");
    for (const auto& [name, value] : element.attributes)
        ZEL_TRY(child->setAttribute(name, value), "bench");
    ZEL_TRY(child->init(), "bench");
    ZEL_TRY(child->initTemplateChilds(), "bench");
    for (const CElement& grandChild : element.children)
        ZEL_TRY(load(*child, grandChild), "bench");
    ZEL_TRY(child->initChilds(), "bench");
    child->setState(zel::kStateLoaded);
    return nullptr;
}

CElement link(const char* src, const char* dst)
{
    return {"audio:process-link", "link", {{"src", src}, {"dst", dst}}, {}};
}

void BM_MidSideRoutingChain(benchmark::State& state)
{
    zel::CTypeRegistration registration;
    if (registerProductTypes(registration))
    {
        state.SkipWithError("type registration failed");
        return;
    }
    zel::CObjectPtr root = zel::CObject::make<zel::CObject>();
    root->setRootName("r");
    const CElement tree{"core:object",
                        "defs",
                        {},
                        {{"audio:dcdaw-context", "ctx", {}, {}},
                         {"audio:audio-env", "env", {}, {}},
                         {"audio:process-def",
                          "modMain",
                          {},
                          {{"audio:modMSCoder", "enc", {}, {}},
                           {"audio:modRouter", "router", {}, {}},
                           {"audio:modMSMod", "ms", {}, {}},
                           link("*", "enc"),
                           link("enc", "router"),
                           link("router", "ms"),
                           link("ms", "*")}}}};
    if (load(*root, tree))
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
    setup->channelCount = kChannels;
    setup->channelGroups = {0, 0};

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
BENCHMARK(BM_MidSideRoutingChain);

} // namespace
