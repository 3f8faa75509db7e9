// A stereo level meter at 48000 Hz with the defaults (S = 1600, R = 30): blocks of 512 frames
// fed and collected as the host side does, every block publishing its record. Arg 0: the level
// meter alone; arg 1: followed by a correlation meter of the pair. "ns/sample" is the time per
// sample frame.
#include "Audio/AudioEnv.h"
#include "Audio/AudioParamCollector.h"
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

CElement param(const char* name, const char* value)
{
    return {"audio:param",
            name,
            {{"element-size", "1"},
             {"converter", "/cvt.real"},
             {"min-values", "0"},
             {"max-values", "10"},
             {"def-values", value}},
            {}};
}

CElement alloc(const char* index, const char* name)
{
    return {"audio:param-alloc", name, {{"index", index}, {"param-name", name}}, {}};
}

CElement link(const char* src, const char* dst)
{
    return {"audio:process-link", "link", {{"src", src}, {"dst", dst}}, {}};
}

void BM_ModMeter(benchmark::State& state)
{
    constexpr std::int32_t channels = 2;
    const bool withCorrelation = state.range(0) != 0;
    zel::CTypeRegistration registration;
    if (registerProductTypes(registration))
    {
        state.SkipWithError("type registration failed");
        return;
    }
    zel::CObjectPtr root = zel::CObject::make<zel::CObject>();
    root->setRootName("r");
    std::vector<CElement> children{
        param("pt", "1"),
        param("rt", "0.1"),
        param("rel", "0.5"),
        param("avg", "1"),
        {"audio:modMeter", "meter", {}, {alloc("0", "pt"), alloc("1", "rt"), alloc("5", "rel")}},
        link("*", "meter")};
    if (withCorrelation)
    {
        children.push_back({"audio:modMeterCorr", "corr", {}, {alloc("0", "avg")}});
        children.push_back(link("meter", "corr"));
        children.push_back(link("corr", "*"));
    }
    else
    {
        children.push_back(link("meter", "*"));
    }
    const CElement tree{"core:object",
                        "defs",
                        {},
                        {{"audio:dcdaw-context", "ctx", {}, {}},
                         {"audio:audio-env", "env", {}, {}},
                         {"audio:param-collector", "collector", {}, {}},
                         {"audio:process-def", "modMain", {}, children}}};
    const CElement converters{"core:object", "cvt", {}, {{"audio:cvt-real", "real", {}, {}}}};
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
    setup->channelCount = channels;

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
    for (std::int32_t c = 0; c < channels; ++c)
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
BENCHMARK(BM_ModMeter)->Arg(0)->Arg(1);

} // namespace
