// The filter modules in a one-module chain over two channels, blocks of 512 samples fed and
// collected as the host side does. "ns/sample" is the time per sample frame.
//   BM_ModFilterIIR/sections: a cascade of that many low-pass sections.
//   BM_ModFilterFIR/log2B:    253 taps (the steep resampler stage at 44100 Hz) convolved with
//                             partitions of 2^log2B samples.
#include "Audio/BenchGraph.h"

#include <string>
#include <vector>

namespace
{

using kelvbench::CElement;

void runChain(benchmark::State& state, std::vector<CElement> generators, const CElement& module)
{
    kelvbench::CBenchGraph graph;
    generators.push_back({"audio:process-def",
                          "modMain",
                          {},
                          {module, kelvbench::link("*", "f"), kelvbench::link("f", "*")}});
    if (!graph.build(state, std::move(generators), 2, 512, 44100.0))
        return;
    for (auto _ : state)
        graph.runBlock();
    graph.finish(state);
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
