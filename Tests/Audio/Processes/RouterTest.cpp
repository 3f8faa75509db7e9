#include "Audio/Processes/ModRouter.h"
#include "Audio/Processes/ModTestSupport.h"

#include <string>
#include <tuple>

namespace kelvtest
{
namespace
{

class RouterTest : public CModTest
{
protected:
    // Builds a 4-channel router with the given routing and runs signal(12) through it.
    CBlockResult route(const char* routing, bool output)
    {
        useChannels({0, 0, 1, 1}, 2);
        EXPECT_FALSE(rebuild(chain({param("routing", routing)},
                                   {module("audio:modRouter", "router", {{0, "routing"}},
                                           output ? "is-output=true" : "")})))
            << routing;
        return runBlock(signal(12));
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
    for (const CCase& c : cases)
    {
        const std::vector<CSamples> in = signal(12);
        std::vector<CSamples> expected(4, CSamples(12, 0.0));
        for (std::size_t d = 0; d < 4; ++d)
            for (const int s : c.sources[d])
                for (std::size_t i = 0; i < 12; ++i)
                    expected[d][i] += in[static_cast<std::size_t>(s)][i] /
                                      static_cast<double>(c.sources[d].size());
        expectNear(route(c.routing, c.output).out, expected, c.routing);
    }
}

TEST_F(RouterTest, ChannelsRoutedToThemselvesPassByReference)
{
    const CBlockResult got = route("1,2,3,4", false);
    EXPECT_EQ(got.out, signal(12));
    EXPECT_EQ(got.passed, std::vector<bool>(4, true));
}

TEST_F(RouterTest, GroupingAssignsChannelsToGroups)
{
    // grouping (nullptr: unbound), groups, count
    const std::tuple<const char*, std::vector<std::int32_t>, std::int32_t> cases[] = {
        {"0,0,1,1", {0, 0, 1, 1}, 2},  {"3,0,3,1", {3, 0, 3, 1}, 4},
        {"9,-2,7,0", {7, 0, 7, 0}, 8}, // clamped to the eight groups
        {"2", {2, 0, 0, 0}, 3},        // channels past the list are in group 0
        {nullptr, {0, 0, 0, 0}, 1},
    };
    for (const auto& [grouping, groups, count] : cases)
    {
        const std::string name = grouping ? grouping : "unbound";
        useChannels({0, 0, 0, 0}, 1);
        std::vector<CChild> params;
        CBindings bindings;
        if (grouping != nullptr)
        {
            params.push_back(param("grouping", grouping));
            bindings.push_back({1, "grouping"});
        }
        ASSERT_FALSE(
            rebuild(chain(std::move(params), {module("audio:modRouter", "router", bindings)})));
        auto* router = dynamic_cast<zel::CModRouter*>(m_main->findChild("router"));
        ASSERT_NE(router, nullptr);
        std::vector<std::int32_t> got;
        EXPECT_EQ(router->channelGroups(got), count) << name;
        EXPECT_EQ(got, groups) << name;
    }
}

} // namespace
} // namespace kelvtest
