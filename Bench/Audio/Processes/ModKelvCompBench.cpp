// The gain computer module at 48 kHz in blocks of 512 samples, fed and collected as the host
// side does. Arguments: channels, modules in series (each one's gain is the next one's level),
// RMS detector off/on. One channel with one module is the smallest case; 2 channels with 32
// modules are the instances of a 32-band stereo spectral chain. "ns/sample" is the time per
// sample frame of the whole chain.
#include "Audio/AudioEnv.h"
#include "Audio/AudioParamCollector.h"
#include "Audio/AudioProcess.h"
#include "Audio/AudioProcessDef.h"
#include "Audio/DCDAWContext.h"
#include "Core/TypeTable.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

namespace
{

constexpr std::int32_t kN = 512;

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

CElement param(const char* name, const char* value)
{
    return {"audio:param",
            name,
            {{"element-size", "1"},
             {"converter", "/cvt.real"},
             {"min-values", "0"},
             {"max-values", "100"},
             {"def-values", value}},
            {}};
}

CElement gainComputer(const std::string& name)
{
    const char* inputs[] = {"thr", "ratio", "range", "att", "rel", "inv", "rms"};
    CElement module{"audio:modKelvComp", name, {{"xfade-length", "0.015"}}, {}};
    for (int i = 0; i < 7; ++i)
        module.children.push_back({"audio:param-alloc",
                                   inputs[i],
                                   {{"index", std::to_string(i)}, {"param-name", inputs[i]}},
                                   {}});
    return module;
}

void BM_ModKelvComp(benchmark::State& state)
{
    const auto channels = static_cast<std::int32_t>(state.range(0));
    const auto count = static_cast<std::int32_t>(state.range(1));
    const bool rms = state.range(2) != 0;
    zel::CTypeRegistration registration;
    if (registerProductTypes(registration))
    {
        state.SkipWithError("type registration failed");
        return;
    }
    zel::CObjectPtr root = zel::CObject::make<zel::CObject>();
    root->setRootName("r");
    CElement main{"audio:process-def",
                  "modMain",
                  {},
                  {param("thr", "0.1"), param("ratio", "0.25"), param("range", "31.6"),
                   param("att", "0.01"), param("rel", "0.15"), param("inv", "0"),
                   param("rms", rms ? "1" : "0")}};
    std::string previous = "*";
    for (std::int32_t i = 0; i < count; ++i)
    {
        const std::string name = "kc" + std::to_string(i);
        main.children.push_back(gainComputer(name));
        main.children.push_back(
            {"audio:process-link", "link", {{"src", previous}, {"dst", name}}, {}});
        previous = name;
    }
    main.children.push_back({"audio:process-link", "link", {{"src", previous}, {"dst", "*"}}, {}});
    const CElement tree{"core:object",
                        "defs",
                        {},
                        {{"audio:dcdaw-context", "ctx", {}, {}},
                         {"audio:audio-env", "env", {}, {}},
                         {"audio:param-collector", "collector", {}, {}},
                         main}};
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
    zel::CAudioProcessBase* process = nullptr;
    const auto* def = dynamic_cast<const zel::CAudioProcessDefBase*>(defs->findChild("modMain"));
    if (zel::CAudioProcessBase::instantiate(*def, *instances, "modMain", setup, "plugin.modMain",
                                            process) ||
        process->connect())
    {
        state.SkipWithError("instantiation failed");
        return;
    }
    // One rectified 1 kHz level block per channel, pushed again on every iteration.
    std::vector<zel::CAudioConnection*> feeds, taps;
    std::vector<std::uint32_t> levels;
    for (std::int32_t c = 0; c < channels; ++c)
    {
        feeds.push_back(&process->feedInput(0, c));
        taps.push_back(&process->tapOutput(0, c));
        std::uint32_t ref = 0;
        (void)context->takeBuffer(kN * 8, ref);
        double* data = context->data(ref);
        for (std::int32_t i = 0; i < kN; ++i)
            data[i] = std::fabs(0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * i / 48000.0 + c));
        levels.push_back(ref);
    }
    double sink = 0.0;
    for (auto _ : state)
    {
        for (std::size_t c = 0; c < feeds.size(); ++c)
            (void)feeds[c]->push(levels[c], 0, kN);
        (void)process->process(kN);
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
    for (const std::uint32_t ref : levels)
        (void)context->releaseReference(ref);
    instances.reset();
}
BENCHMARK(BM_ModKelvComp)
    ->ArgNames({"channels", "modules", "rms"})
    ->Args({1, 1, 0})
    ->Args({1, 1, 1})
    ->Args({2, 32, 0})
    ->Args({2, 32, 1});

} // namespace
