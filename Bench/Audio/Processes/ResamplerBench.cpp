// The oversampling round trip: up-sampler -> down-sampler over two channels at 44100 Hz, blocks
// of 512 samples fed and collected as the host side does. "ns/sample" is the time per stereo
// frame at the base rate.
//   BM_ResamplerRoundTrip/stages/linearPhase: 1, 2 or 3 stages (2x, 4x, 8x); 0 the IIR
//   half-band stages (orders 8 then 4), 1 the linear-phase FIR stages (253 then 30 taps,
//   partitions of 128).
#include "Audio/BenchGraph.h"

#include <string>
#include <vector>

namespace
{

using kelvbench::CElement;

CElement filterSwitch(const char* name, const char* halfBand, const char* length, const char* freq)
{
    return {"audio:modProcessSwitch",
            name,
            {{"is-prototype", "true"}, {"process-list", "0:.mod1;1:.mod2"}, {"def-index", "1"}},
            {kelvbench::alloc("0", "lp-oversampling-enable"),
             {"audio:modFilterIIR", "mod1", {{"fltgen", halfBand}}, {}},
             {"audio:modFilterFIR",
              "mod2",
              {{"fltgen", "defs.firlp"},
               {"length", length},
               {"freq", freq},
               {"power", "1"},
               {"fixsr", "true"},
               {"latency", "7"}},
              {}}}};
}

CElement resampler(const char* name, bool up)
{
    return {"audio:modResampler",
            name,
            {{"is-upsampler", up ? "true" : "false"}},
            {kelvbench::alloc("0", "mode")}};
}

void BM_ResamplerRoundTrip(benchmark::State& state)
{
    const std::string mode = std::to_string(state.range(0) + 1);
    const std::string lp = std::to_string(state.range(1));
    std::vector<CElement> defs{
        {"audio:fltgen-hbf",
         "steep",
         {{"a", "0.035832788431062100, 0.272040143396457710, 0.572057197235700250, "
                "0.827124761997323770"},
          {"b", "0.134090141943066930, 0.424324871271868350, 0.706292142138639220, "
                "0.941503094173755220"}},
         {}},
        {"audio:fltgen-hbf",
         "soft",
         {{"a", "0.042454709865267684, 0.393319893190328010"},
          {"b", "0.170739850497499070, 0.745713588720222980"}},
         {}},
        {"audio:fltgen-firlp", "firlp", {{"power", "1"}}, {}},
        {"audio:modInterpolator", "modUpsamplerInterpolator", {{"is-prototype", "true"}}, {}},
        {"audio:modDecimator", "modDownsamplerDecimator", {{"is-prototype", "true"}}, {}},
        filterSwitch("modResamplerFilterSteep", "defs.steep", "5.73696145124716553", "10788"),
        filterSwitch("modResamplerFilterSoft", "defs.soft", "0.68027210884353741", "12000"),
        {"audio:process-def",
         "modMain",
         {},
         {kelvbench::param("mode", mode), kelvbench::param("lp-oversampling-enable", lp),
          resampler("up", true), resampler("down", false), kelvbench::link("*", "up"),
          kelvbench::link("up", "down"), kelvbench::link("down", "*")}}};
    kelvbench::CBenchGraph graph;
    if (!graph.build(state, std::move(defs), 2, 512, 44100.0))
        return;
    for (auto _ : state)
        graph.runBlock();
    graph.finish(state);
}
BENCHMARK(BM_ResamplerRoundTrip)->ArgsProduct({{1, 2, 3}, {0, 1}});

} // namespace
