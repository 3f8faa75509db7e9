// The multiband process with N bands (each a split stage and a one-module chain) over two
// channels, blocks of 512 samples fed and collected as the host side does. The kernels do
// little, so "ns/sample" is mostly the cost of running N copies of the band's stages and
// summing their outputs.
#include "Audio/BenchGraph.h"

#include <cmath>
#include <string>

namespace
{

using kelvbench::CElement;
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

// A comma-separated list of `count` values first, first + step, ...
std::string ramp(std::int32_t count, double first, double step)
{
    std::string text;
    for (std::int32_t i = 0; i < count; ++i)
    {
        if (i > 0)
            text += ',';
        text += std::to_string(first + step * i);
    }
    return text;
}

// The full band chain of the spectral processor at default settings: band-pass IIR -> input
// tilt gain (per band, not unity) -> rectifier -> leveler (Maximum, two channels linked 100 %)
// -> gain computer -> multiplier (band signal x gain) -> mid/side weighting (identity at the
// default side mix) -> make-up gain (unity) -> output tilt gain (per band, feeding nothing, as
// when no meter listens); the band outputs are summed and scaled by a post gain. Stereo,
// 44100 Hz, 512-frame blocks, a 1 kHz sine in. "ns/band/frame" is the time per band and per
// stereo frame; the time per iteration is the time per block.
void BM_MultibandBandChain(benchmark::State& state)
{
    const auto bandCount = static_cast<std::int32_t>(state.range(0));
    const std::string bands = std::to_string(bandCount);
    const char* const inputs[] = {"thr", "ratio", "range", "att", "rel", "inv", "rms"};
    CElement kc{"audio:modKelvComp", "kc", {}, {}};
    for (int i = 0; i < 7; ++i)
        kc.children.push_back(kelvbench::alloc(std::to_string(i).c_str(), inputs[i]));
    const CElement band{"audio:process-def",
                        "mb",
                        {{"is-multiband", "true"},
                         {"multiband-freq-param", "freqs"},
                         {"multiband-count-param", "bands"}},
                        {{"audio:modFilterIIR",
                          "bp",
                          {{"fltgen", "defs.bpgen"}},
                          {kelvbench::alloc("1", "freqs"), kelvbench::alloc("3", "bw")}},
                         {"audio:modGain", "slope", {}, {kelvbench::alloc("0", "slopegain")}},
                         {"audio:modAbs", "abs", {}, {}},
                         {"audio:modLeveler",
                          "lev",
                          {},
                          {kelvbench::alloc("0", "levmode"), kelvbench::alloc("1", "levmix"),
                           kelvbench::alloc("2", "chlink")}},
                         kc,
                         {"audio:modMult", "mult", {}, {}},
                         {"audio:modMSMod",
                          "ms",
                          {},
                          {kelvbench::alloc("0", "msmode"), kelvbench::alloc("7", "sidemix"),
                           kelvbench::alloc("8", "pan")}},
                         {"audio:modGain", "g", {}, {kelvbench::alloc("0", "outgain")}},
                         {"audio:modGain", "slopeout", {}, {kelvbench::alloc("0", "slopeoutgain")}},
                         link("*", "bp"),
                         link("bp", "slope"),
                         link("slope", "abs"),
                         link("abs", "lev"),
                         link("lev", "kc"),
                         link("bp", "mult"),
                         link("kc", "mult/1"),
                         link("mult", "ms"),
                         link("ms", "g"),
                         link("g", "slopeout"),
                         link("g", "*")}};
    kelvbench::CBenchGraph graph;
    if (!graph.build(state,
                     {{"audio:fltgen-rbj",
                       "bpgen",
                       {{"type", "2"}, {"is-type2", "true"}, {"freq", "1000"}},
                       {}},
                      {"audio:process-def",
                       "modMain",
                       {},
                       {param("layout", bands),
                        param("lo", "20"),
                        param("hi", "20000"),
                        param("freqs", "1000", "0", "100000"),
                        param("bw", "1"),
                        param("postgain", "1"),
                        param("bands", "1"),
                        param("slopegain", ramp(64, 0.25, 0.1)),
                        param("slopeoutgain", ramp(64, 0.3, 0.1)),
                        param("levmode", "0"),
                        param("levmix", "0"),
                        param("chlink", "1"),
                        param("msmode", "2"),
                        param("sidemix", "0.5"),
                        param("pan", "0"),
                        param("outgain", "1"),
                        param("thr", "0.0630957"),
                        param("ratio", "0.25"),
                        param("range", "31.6227766"),
                        param("att", "0.01"),
                        param("rel", "0.15"),
                        param("inv", "0"),
                        param("rms", "0"),
                        {"audio:param-filter-mb",
                         "layoutFilter",
                         {{"sources", "layout,lo,hi"}, {"destinations", "freqs,bw,postgain,bands"}},
                         {}},
                        band,
                        {"audio:modGain", "post", {}, {kelvbench::alloc("0", "postgain")}},
                        link("*", "mb"),
                        link("mb", "post"),
                        link("post", "*")}}},
                     2, 512, 44100.0))
        return;
    graph.setInputSignal(
        [](std::int32_t c, std::int32_t i)
        { return (0.5 - 0.1 * c) * std::sin(2.0 * 3.141592653589793 * 1000.0 * i / 44100.0); });
    if (!graph.runBlockChecked())
        return state.SkipWithError("processing failed");
    for (auto _ : state)
        graph.runBlock();
    graph.finish(state);
    state.counters["ns/band/frame"] = benchmark::Counter(
        static_cast<double>(512 * bandCount),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_MultibandBandChain)->Arg(8)->Arg(32)->Arg(64)->Unit(benchmark::kMicrosecond);

} // namespace
