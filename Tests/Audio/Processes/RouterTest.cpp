#include "Audio/Processes/ModRouter.h"
#include "Audio/Processes/RoutingTestSupport.h"

#include <string>

namespace kelvtest
{
namespace
{

class RouterTest : public CRoutingTest
{
protected:
    // Builds a 4-channel router with the given routing and returns its output for signal(n).
    std::vector<CSamples> route(const std::string& name, const char* routing, bool output,
                                std::vector<std::uint32_t>* fed = nullptr)
    {
        configure(4, {0, 0, 1, 1}, 2);
        const CChild router = routingModule("audio:modRouter", "router", {{0, "routing"}},
                                            output ? "is-output=true" : "");
        EXPECT_FALSE(buildN(chain({param("routing", routing)}, {router}, name.c_str()))) << name;
        return runN(signal(12), fed);
    }
};

TEST_F(RouterTest, DestinationsAreFormedFromTheirSources)
{
    struct CCase
    {
        const char* routing;
        bool output;
        // Per destination: the source channels whose mean it carries (empty: silence).
        std::vector<std::vector<int>> sources;
    };
    const CCase cases[] = {
        // Input routing: element d names the source of destination d.
        {"2,1,0,1", false, {{1}, {0}, {}, {0}}},
        {"4,4,4,4", false, {{3}, {3}, {3}, {3}}},
        {"5,-1,0,9", false, {{}, {}, {}, {}}}, // channels the process does not have
        // Output routing: element s names the destination of source s.
        {"1,1,1,2", true, {{0, 1, 2}, {3}, {}, {}}},
        {"2,2,0,0", true, {{}, {0, 1}, {}, {}}},
        {"1,1,1,1", true, {{0, 1, 2, 3}, {}, {}, {}}},
        {"2,1,4,3", true, {{1}, {0}, {3}, {2}}},
    };
    int number = 0;
    for (const CCase& c : cases)
    {
        std::string name = "r";
        name += std::to_string(++number);
        const std::vector<CSamples> in = signal(12);
        std::vector<CSamples> expected(4, CSamples(12, 0.0));
        for (std::size_t d = 0; d < 4; ++d)
            for (const int s : c.sources[d])
                for (std::size_t i = 0; i < 12; ++i)
                    expected[d][i] += in[static_cast<std::size_t>(s)][i] /
                                      static_cast<double>(c.sources[d].size());
        expectNear(route(name, c.routing, c.output), expected, name);
    }
}

TEST_F(RouterTest, ChannelsRoutedToThemselvesPassByReference)
{
    std::vector<std::uint32_t> fed;
    const std::vector<CSamples> out = route("identity", "1,2,3,4", false, &fed);
    EXPECT_EQ(out, signal(12));
    EXPECT_EQ(m_tapSlots, fed);
}

TEST_F(RouterTest, GroupingAssignsChannelsToGroups)
{
    struct CCase
    {
        const char* grouping; // nullptr: unbound
        std::vector<std::int32_t> groups;
        std::int32_t count;
    };
    const CCase cases[] = {
        {"0,0,1,1", {0, 0, 1, 1}, 2},  {"3,0,3,1", {3, 0, 3, 1}, 4},
        {"9,-2,7,0", {7, 0, 7, 0}, 8}, // clamped to the eight groups
        {"2", {2, 0, 0, 0}, 3},        // channels past the list are in group 0
        {nullptr, {0, 0, 0, 0}, 1},
    };
    int number = 0;
    for (const CCase& c : cases)
    {
        std::string name = "g";
        name += std::to_string(++number);
        configure(4, {0, 0, 0, 0}, 1);
        std::vector<CChild> params;
        std::vector<std::pair<int, std::string>> bindings;
        if (c.grouping != nullptr)
        {
            params.push_back(param("grouping", c.grouping));
            bindings.push_back({1, "grouping"});
        }
        ASSERT_FALSE(
            buildN(chain(std::move(params), {routingModule("audio:modRouter", "router", bindings)},
                         name.c_str())));
        auto* router = dynamic_cast<zel::CModRouter*>(m_main->findChild("router"));
        ASSERT_NE(router, nullptr);
        std::vector<std::int32_t> groups;
        EXPECT_EQ(router->channelGroups(groups), c.count) << name;
        EXPECT_EQ(groups, c.groups) << name;
    }
}

TEST_F(RouterTest, RoutingChangeBlendsOverTheCrossfadeLength)
{
    configure(2, {0, 0}, 1);
    ASSERT_FALSE(buildN(chain(
        {param("routing", "1,2")},
        {routingModule("audio:modRouter", "router", {{0, "routing"}}, "xfade-length=0.01")})));
    EXPECT_EQ(runN(signal(8)), signal(8));

    change("plugin.modMain.routing", 2.0, 0.008); // destination 0 now takes channel 1
    const std::vector<CSamples> out = runBlocks(2, 8, 8);
    const std::vector<CSamples> in = signal(16, 8);
    for (std::size_t k = 0; k < 16; ++k)
    {
        const double a = oldWeight(k, 10);
        EXPECT_NEAR(out[0][k], (1 - a) * in[1][k] + a * in[0][k], 1e-12) << k;
        EXPECT_NEAR(out[1][k], in[1][k], 1e-12) << k; // unchanged routing stays put
    }
}

} // namespace
} // namespace kelvtest
