// The channel-moving modules on a stereo block of 512 samples: mid/side encoder -> router ->
// mid/side weighting, with the modules' unbound settings (encode the first pair, route every
// channel to itself, inline weighting at unity, which passes by reference). The counter
// "ns/sample" is the time per sample frame, module plumbing included.
#include "Audio/BenchGraph.h"

namespace
{

using kelvbench::link;

void BM_MidSideRoutingChain(benchmark::State& state)
{
    kelvbench::CBenchGraph graph;
    if (!graph.build(state,
                     {{"audio:process-def",
                       "modMain",
                       {},
                       {{"audio:modMSCoder", "enc", {}, {}},
                        {"audio:modRouter", "router", {}, {}},
                        {"audio:modMSMod", "ms", {}, {}},
                        link("*", "enc"),
                        link("enc", "router"),
                        link("router", "ms"),
                        link("ms", "*")}}},
                     2))
        return;
    for (auto _ : state)
        graph.runBlock();
    graph.finish(state);
}
BENCHMARK(BM_MidSideRoutingChain);

} // namespace
