// The leveler on its heaviest path: mode Maximum, mix 0.5 and linking 0.5, so every block forms
// the extreme and the average of all channels, blends them and mixes each channel back in.
// One whole-channel instance over 2, 5 and 8 channels in one group, blocks of 512 samples fed
// and collected as the host side does. "ns/sample" is the time per sample frame.
#include "Audio/BenchGraph.h"

namespace
{

using kelvbench::alloc;
using kelvbench::link;
using kelvbench::param;

void BM_ModLeveler(benchmark::State& state)
{
    kelvbench::CBenchGraph graph;
    if (!graph.build(state,
                     {{"audio:process-def",
                       "modMain",
                       {},
                       {param("mode", "0.5", "0", "1"),
                        param("mix", "0.5", "0", "1"),
                        param("linking", "0.5", "0", "1"),
                        {"audio:modLeveler",
                         "lev",
                         {{"is-terminal-whole", "true"}},
                         {alloc("0", "mode"), alloc("1", "mix"), alloc("2", "linking")}},
                        link("*", "lev"),
                        link("lev", "*")}}},
                     static_cast<std::int32_t>(state.range(0))))
        return;
    for (auto _ : state)
        graph.runBlock();
    graph.finish(state);
}
BENCHMARK(BM_ModLeveler)->Arg(2)->Arg(5)->Arg(8);

} // namespace
