// Structural parameter changes of the modules that blend rather than retune: each such change
// must land at its stamp and blend from what the old setting gives to what the new one gives
// over "xfade-length"; both ends are the same module run with either setting from the start,
// the blend the raised cosine. And none of it allocates on the audio path.
#include "Audio/Processes/ModTestSupport.h"

#include <functional>
#include <tuple>

namespace kelvtest
{
namespace
{

class ModStructuralChangeTest : public CModTest
{
};

// "modMain" holding module "m" (with the given children and attributes) and the parameters
// `more`, plus the parameter `name` at `value`.
using FGraph = std::function<CChild(const char* name, const char* value)>;

FGraph single(const char* tag, CBindings bindings, std::vector<CChild> more = {},
              std::vector<CChild> children = {}, const std::string& extra = "")
{
    return [=](const char* name, const char* value)
    {
        std::vector<CChild> params = more;
        params.push_back(param(name, value));
        // 0.01 s at 1000 Hz: N = 10 samples.
        CChild m = module(tag, "m", bindings, "xfade-length=0.01" + extra);
        m.children.insert(m.children.begin(), children.begin(), children.end());
        return chain(std::move(params), {std::move(m)});
    };
}

TEST_F(ModStructuralChangeTest, ChangesBlendFromTheOldSettingToTheNew)
{
    // channel groups, graph, the parameter, its value before and after
    const std::tuple<std::vector<std::int32_t>, FGraph, const char*, const char*, const char*>
        rows[] = {
            {{0, 0}, single("audio:modGain", inOrder({"gain"})), "gain", "1", "0.5"},
            {{0, 0}, single("audio:modMSMod", inOrder({"mode"})), "mode", "2", "0"},
            // Destination 0 takes channel 1.
            {{0, 0}, single("audio:modRouter", inOrder({"routing"})), "routing", "1,2", "2,2"},
            {{0, 0},
             single("audio:modProcessSwitch", inOrder({"sel"}),
                    {param("ga", "2"), param("gb", "3")}, {gain("a", "ga"), gain("b", "gb")},
                    "|process-list=0:.a;1:.b"),
             "sel",
             "0",
             "1"},
            // Maximum to minimum of five channels.
            {{0, 0, 0, 0, 0},
             single("audio:modLeveler", inOrder({"mode", "mix", "linking"}),
                    {param("mix", "0"), param("linking", "1")}),
             "mode",
             "0",
             "1"},
        };
    for (const auto& [groups, graph, name, from, to] : rows)
    {
        SCOPED_TRACE(std::string(name) + ": " + from + " -> " + to);
        useChannels(groups, 1);
        // Structured bindings are captured through references of their own (older compilers
        // refuse to capture a binding).
        const auto& makeGraph = graph;
        const char* const paramName = name;
        const auto runWith = [&](const char* value)
        {
            EXPECT_EQ(idAndText(rebuild(makeGraph(paramName, value))), "no error");
            return runBlocks(3, 8, 0);
        };
        const std::vector<CSamples> before = runWith(from);
        const std::vector<CSamples> after = runWith(to);
        ASSERT_NE(before, after);
        ASSERT_EQ(idAndText(rebuild(graph(name, from))), "no error");
        (void)runBlock(signal(8));
        change(("plugin.modMain." + std::string(name)).c_str(), std::stod(to), 0.008);
        const std::vector<CSamples> got = runBlocks(2, 8, 8);
        for (std::size_t c = 0; c < groups.size(); ++c)
            for (std::size_t k = 0; k < 16; ++k)
            {
                const double a = oldWeight(k, 10);
                EXPECT_NEAR(got[c][k], (1 - a) * after[c][k + 8] + a * before[c][k + 8], 1e-12)
                    << c << " " << k;
            }
    }
}

TEST_F(ModStructuralChangeTest, SteadyStateWithStructuralChangesAllocatesNothing)
{
    useChannels({0, 0}, 1);
    CChild sw = module("audio:modProcessSwitch", "sw", {{0, "sel"}},
                       "process-list=0:.a;1:.b|xfade-length=0.004");
    sw.children.insert(sw.children.begin(), {gain("a", "ga"), gain("b", "gb")});
    ASSERT_FALSE(build(chain(
        {param("routing", "1,2"), param("pairs", "1"), param("mode", "2"), param("mix", "0.5"),
         param("pan", "0"), param("sel", "0"), param("ga", "2"), param("gb", "3")},
        {module("audio:modRouter", "router", {{0, "routing"}}, "xfade-length=0.004"),
         module("audio:modMSCoder", "enc", {{0, "pairs"}}, "xfade-length=0.004"),
         module("audio:modMSMod", "ms", {{0, "mode"}, {7, "mix"}, {8, "pan"}},
                "xfade-length=0.004"),
         std::move(sw)})));
    // Structural changes (routing, pairs, mode, selection) and plain ones (mix, pan), stamped
    // mid-block so that sub-blocks split and blends cross block boundaries.
    const auto edit = [&](int i)
    {
        const std::pair<const char*, double> values[] = {
            {"routing", 1.0 + i % 2}, {"pairs", double(i % 2)}, {"mode", double(i % 3)},
            {"mix", 0.1 * i},         {"pan", 0.2 * (i % 2)},   {"sel", double(i % 2)}};
        for (const auto& [name, value] : values)
            EXPECT_FALSE(liveParam(("plugin.modMain." + std::string(name)).c_str())
                             .setValue(0, 0, 0, value));
    };
    EXPECT_EQ(cycleAllocations(edit, {64, 64}, 6, 0.032, false), 0u);
}

} // namespace
} // namespace kelvtest
