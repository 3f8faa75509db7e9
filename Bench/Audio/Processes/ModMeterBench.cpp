// A stereo level meter at 48000 Hz with the defaults (S = 1600, R = 30): blocks of 512 frames
// fed and collected as the host side does, every block publishing its record. Arg 0: the level
// meter alone; arg 1: followed by a correlation meter of the pair. "ns/sample" is the time per
// sample frame.
#include "Audio/BenchGraph.h"

#include <vector>

namespace
{

using kelvbench::alloc;
using kelvbench::CElement;
using kelvbench::link;

CElement param(const char* name, const char* value)
{
    return kelvbench::param(name, value, "0", "10");
}

void BM_ModMeter(benchmark::State& state)
{
    const bool withCorrelation = state.range(0) != 0;
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
    kelvbench::CBenchGraph graph;
    if (!graph.build(state, {{"audio:process-def", "modMain", {}, children}}, 2))
        return;
    for (auto _ : state)
        graph.runBlock();
    graph.finish(state);
}
BENCHMARK(BM_ModMeter)->Arg(0)->Arg(1);

} // namespace
