// The gain computer module at 48 kHz in blocks of 512 samples, fed and collected as the host
// side does. Arguments: channels, modules in series (each one's gain is the next one's level),
// RMS detector off/on. One channel with one module is the smallest case; 2 channels with 32
// modules are the instances of a 32-band stereo spectral chain. "ns/sample" is the time per
// sample frame of the whole chain.
#include "Audio/BenchGraph.h"

#include <cmath>
#include <numbers>
#include <string>

namespace
{

using kelvbench::CElement;
using kelvbench::link;
using kelvbench::param;

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
    CElement main{"audio:process-def",
                  "modMain",
                  {},
                  {param("thr", "0.1", "0", "100"), param("ratio", "0.25", "0", "100"),
                   param("range", "31.6", "0", "100"), param("att", "0.01", "0", "100"),
                   param("rel", "0.15", "0", "100"), param("inv", "0", "0", "100"),
                   param("rms", rms ? "1" : "0", "0", "100")}};
    std::string previous = "*";
    for (std::int32_t i = 0; i < count; ++i)
    {
        const std::string name = "kc" + std::to_string(i);
        main.children.push_back(gainComputer(name));
        main.children.push_back(link(previous.c_str(), name.c_str()));
        previous = name;
    }
    main.children.push_back(link(previous.c_str(), "*"));
    kelvbench::CBenchGraph graph;
    if (!graph.build(state, {main}, channels))
        return;
    // One rectified 1 kHz level block per channel, pushed again on every iteration.
    graph.setInputSignal(
        [](std::int32_t c, std::int32_t i)
        { return std::fabs(0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * i / 48000.0 + c)); });
    for (auto _ : state)
        graph.runBlock();
    graph.finish(state);
}
BENCHMARK(BM_ModKelvComp)
    ->ArgNames({"channels", "modules", "rms"})
    ->Args({1, 1, 0})
    ->Args({1, 1, 1})
    ->Args({2, 32, 0})
    ->Args({2, 32, 1});

} // namespace
