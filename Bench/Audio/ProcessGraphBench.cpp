// The process graph's block loop on a small chain: input -> container(gain -> node) -> gain ->
// output over two channels, blocks of 512 samples fed and collected as the host side does. The
// counter "ns/sample" is the time per sample frame; the kernels do little, so this is mostly
// the graph's own overhead (sub-block loop, segment passing, reference counting).
#include "Audio/BenchGraph.h"

namespace
{

using kelvbench::link;

void BM_ProcessGraphSmallChain(benchmark::State& state)
{
    kelvbench::CBenchGraph graph;
    if (graph.registration().add<kelvbench::CHalfGainDef>("bench:gain"))
        return state.SkipWithError("type registration failed");
    if (!graph.build(state,
                     {{"audio:process-def",
                       "modMain",
                       {},
                       {{"audio:process-def",
                         "inner",
                         {},
                         {{"bench:gain", "g", {}, {}},
                          {"audio:modNode", "node", {}, {}},
                          link("*", "g"),
                          link("g", "node"),
                          link("node", "*")}},
                        {"bench:gain", "out", {}, {}},
                        link("*", "inner"),
                        link("inner", "out"),
                        link("out", "*")}}},
                     2))
        return;
    for (auto _ : state)
        graph.runBlock();
    graph.finish(state);
}
BENCHMARK(BM_ProcessGraphSmallChain);

} // namespace
