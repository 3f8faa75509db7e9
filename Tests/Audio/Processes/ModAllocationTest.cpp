#include "Audio/Processes/ModTestSupport.h"

namespace kelvtest
{
namespace
{

class ModAllocationTest : public CModTest
{
};

TEST_F(ModAllocationTest, SteadyStateWithStructuralChangesAllocatesNothing)
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
