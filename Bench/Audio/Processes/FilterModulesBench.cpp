// The filter modules in a one-module chain over two channels, blocks of 512 samples fed and
// collected as the host side does. "ns/sample" is the time per sample frame.
//   BM_ModFilterIIR/sections: a cascade of that many low-pass sections.
//   BM_ModFilterFIR/log2B:    253 taps (the steep resampler stage at 44100 Hz) convolved with
//                             partitions of 2^log2B samples.
#include "Audio/AudioEnv.h"
#include "Audio/AudioProcessBase.h"
#include "Audio/AudioProcessDef.h"
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

void runChain(benchmark::State& state, const std::vector<CElement>& generators,
              const CElement& module)
{
    zel::CTypeRegistration registration;
    if (registerProductTypes(registration))
    {
        state.SkipWithError("type registration failed");
        return;
    }
    zel::CObjectPtr root = zel::CObject::make<zel::CObject>();
    root->setRootName("r");
    std::vector<CElement> children = generators;
    children.push_back({"audio:dcdaw-context", "ctx", {}, {}});
    children.push_back({"audio:audio-env", "env", {}, {}});
    children.push_back({"audio:process-def",
                        "modMain",
                        {},
                        {module,
                         {"audio:process-link", "link", {{"src", "*"}, {"dst", "f"}}, {}},
                         {"audio:process-link", "link", {{"src", "f"}, {"dst", "*"}}, {}}}});
    if (zel::CErrorPtr err = load(*root, {"core:object", "defs", {}, children}))
    {
        state.SkipWithError(err->text().c_str());
        return;
    }
    zel::CObject* defs = root->findChild("defs");
    auto* context = dynamic_cast<zel::CDCDAWContextObject*>(defs->findChild("ctx"));
    auto* env = dynamic_cast<zel::CAudioEnv*>(defs->findChild("env"));
    env->setSampleRate(44100.0);
    env->setMaxBlockLength(kN);
    auto setup = std::make_shared<zel::CAudioProcessSetup>();
    setup->context = context;
    setup->env = env;
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
            context->data(ref)[0] = 1.0;
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

void BM_ModFilterIIR(benchmark::State& state)
{
    CElement serial{"audio:fltgen-serial", "serial", {}, {}};
    const char* const names[] = {"s0", "s1", "s2", "s3", "s4", "s5", "s6", "s7"};
    for (std::size_t i = 0; i < static_cast<std::size_t>(state.range(0)) && i < 8; ++i)
        serial.children.push_back(
            {"audio:fltgen-serial-item", names[i], {{"fltgen", "defs.lp"}}, {}});
    runChain(
        state,
        {{"audio:fltgen-rbj", "lp", {{"type", "4"}, {"freq", "1000"}, {"bw", "1"}}, {}}, serial},
        {"audio:modFilterIIR", "f", {{"fltgen", "defs.serial"}}, {}});
}
BENCHMARK(BM_ModFilterIIR)->Arg(1)->Arg(4);

void BM_ModFilterFIR(benchmark::State& state)
{
    runChain(state,
             {{"audio:fltgen-firlp",
               "lp",
               {{"length", "5.73696145124716553"}, {"freq", "10788"}, {"power", "1"}},
               {}}},
             {"audio:modFilterFIR",
              "f",
              {{"fltgen", "defs.lp"}, {"latency", std::to_string(state.range(0))}},
              {}});
}
BENCHMARK(BM_ModFilterFIR)->Arg(6)->Arg(8)->Arg(10);

} // namespace
