// The multiband process with N bands (each a split stage and a one-module chain) over two
// channels, blocks of 512 samples fed and collected as the host side does. The kernels do
// little, so "ns/sample" is mostly the cost of running N copies of the band's stages and
// summing their outputs.
#include "Audio/BenchGraph.h"

#include <string>

namespace
{

using kelvbench::link;
using kelvbench::param;

void BM_MultibandProcess(benchmark::State& state)
{
    const auto bands = static_cast<std::int32_t>(state.range(0));
    std::string freqs;
    for (std::int32_t b = 0; b < bands; ++b)
    {
        if (b > 0)
            freqs += ',';
        freqs += std::to_string(20 + 100 * b);
    }
    kelvbench::CBenchGraph graph;
    if (graph.registration().add<kelvbench::CHalfGainDef>("bench:gain"))
        return state.SkipWithError("type registration failed");
    if (!graph.build(state,
                     {{"audio:process-def",
                       "modMain",
                       {},
                       {param("freqs", freqs, "0", "100000"),
                        param("count", std::to_string(bands), "0", "100000"),
                        {"audio:process-def",
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
                        link("mb", "*")}}},
                     2))
        return;
    for (auto _ : state)
        graph.runBlock();
    graph.finish(state);
}
BENCHMARK(BM_MultibandProcess)->Arg(4)->Arg(32);

} // namespace
