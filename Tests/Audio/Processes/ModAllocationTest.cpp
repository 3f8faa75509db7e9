#include "Audio/Processes/RoutingTestSupport.h"
#include "Support/AllocationCounter.h"

namespace kelvtest
{
namespace
{

class ModAllocationTest : public CRoutingTest
{
};

TEST_F(ModAllocationTest, SteadyStateWithStructuralChangesAllocatesNothing)
{
    configure(2, {0, 0}, 1);
    CChild sw{"audio:modProcessSwitch",
              "sw",
              attrs("process-list=0:.a;1:.b|xfade-length=0.004"),
              {gain("a", "ga"),
               gain("b", "gb"),
               {"audio:param-alloc", "alloc", attrs("index=0|param-name=sel"), {}}}};
    ASSERT_FALSE(buildN(chain(
        {param("routing", "1,2"), param("pairs", "1"), param("mode", "2"), param("mix", "0.5"),
         param("pan", "0"), param("sel", "0"), param("ga", "2"), param("gb", "3")},
        {routingModule("audio:modRouter", "router", {{0, "routing"}}, "xfade-length=0.004"),
         routingModule("audio:modMSCoder", "enc", {{0, "pairs"}}, "xfade-length=0.004"),
         routingModule("audio:modMSMod", "ms", {{0, "mode"}, {7, "mix"}, {8, "pan"}},
                       "xfade-length=0.004"),
         std::move(sw)})));
    double stamp = 0.0;
    // Parameter edits happen outside the audio path (they allocate change entries there).
    const auto set = [&](int i)
    {
        // Structural changes (routing, pairs, mode, selection) and plain ones (mix, pan),
        // stamped mid-block so that sub-blocks split and blends cross block boundaries.
        EXPECT_FALSE(liveParam("plugin.modMain.routing").setValue(0, 0, 0, 1.0 + i % 2));
        EXPECT_FALSE(liveParam("plugin.modMain.pairs").setValue(0, 0, 0, i % 2));
        EXPECT_FALSE(liveParam("plugin.modMain.mode").setValue(0, 0, 0, i % 3));
        EXPECT_FALSE(liveParam("plugin.modMain.mix").setValue(0, 0, 0, 0.1 * i));
        EXPECT_FALSE(liveParam("plugin.modMain.pan").setValue(0, 0, 0, 0.2 * (i % 2)));
        EXPECT_FALSE(liveParam("plugin.modMain.sel").setValue(0, 0, 0, i % 2));
    };
    const auto run = [&]
    {
        for (int b = 0; b < 2; ++b)
        {
            stamp += 0.064;
            (void)m_collector->takeIn(stamp - 0.032);
            runQuietN(64);
        }
    };
    for (int i = 0; i < 6; ++i)
    {
        set(i);
        run();
    }
    for (int i = 0; i < 6; ++i)
    {
        set(i);
        CCountAllocations count;
        run();
        EXPECT_EQ(count.count(), 0u) << i;
    }
}

} // namespace
} // namespace kelvtest
