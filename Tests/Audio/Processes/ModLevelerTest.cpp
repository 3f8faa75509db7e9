#include "Audio/Processes/ModTestSupport.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <tuple>

namespace kelvtest
{
namespace
{

class ModLevelerTest : public CModTest
{
protected:
    // Five distinct level signals; channel 4 holds the largest value at some samples so that
    // the fifth input matters to the extreme.
    static std::vector<CSamples> levels(std::size_t channels, std::size_t n)
    {
        std::vector<CSamples> in(channels, CSamples(n));
        for (std::size_t c = 0; c < channels; ++c)
            for (std::size_t i = 0; i < n; ++i)
                in[c][i] = std::fabs(std::sin(0.7 * static_cast<double>(i + 1) *
                                              static_cast<double>(c + 1))) +
                           0.01 * static_cast<double>(c);
        return in;
    }
};

TEST_F(ModLevelerTest, LinksEachGroupsChannelsByExtremeAverageAndAmount)
{
    // name, channel groups, whole-channel terminal, mode, mix, linking
    const std::tuple<const char*, std::vector<std::int32_t>, bool, double, double, double> cases[] =
        {
            {"max, fully linked", {0, 0, 0, 0, 0}, true, 0, 0, 1},
            {"min, fully linked", {0, 0, 0, 0, 0}, false, 1, 0, 1},
            {"mode 0.5 rounds to min", {0, 0, 0, 0, 0}, true, 0.5, 0, 1},
            {"average", {0, 0, 0, 0, 0}, true, 0, 1, 1},
            {"blend, partial link", {0, 0, 0, 0, 0}, false, 0, 0.25, 0.6},
            {"min blend, partial link", {0, 0, 0, 0, 0}, true, 1, 0.5, 0.3},
            {"four channels", {0, 0, 0, 0}, true, 0, 0.5, 0.5},
            {"three channels", {0, 0, 0}, false, 0, 0.7, 1},
            {"two groups, per channel", {0, 1, 0, 1, 1}, false, 0, 0.5, 0.8},
            {"two groups, whole", {1, 1, 0, 0, 0}, true, 1, 0.2, 1},
            {"nine channels", {0, 0, 0, 0, 0, 0, 0, 0, 0}, true, 0, 0.5, 0.9},
            {"unlinked: the inputs pass", {0, 0, 0, 0, 0}, false, 0, 0.5, 0},
        };
    for (const auto& [name, groups, whole, mode, mix, linking] : cases)
    {
        SCOPED_TRACE(name);
        useChannels(groups, 2);
        ASSERT_EQ(idAndText(rebuild(
                      chain({param("mode", std::to_string(mode).c_str()),
                             param("mix", std::to_string(mix).c_str()),
                             param("linking", std::to_string(linking).c_str())},
                            {module("audio:modLeveler", "lev", inOrder({"mode", "mix", "linking"}),
                                    whole ? "is-terminal-whole=true" : "")}))),
                  "no error");

        const std::size_t n = 16, channelCount = groups.size();
        const std::vector<CSamples> in = levels(channelCount, n);
        const CBlockResult got = runBlock(in);
        EXPECT_EQ(got.passed, std::vector<bool>(channelCount, linking == 0.0));
        for (std::size_t c = 0; c < channelCount; ++c)
        {
            ASSERT_EQ(got.out[c].size(), n) << c;
            for (std::size_t i = 0; i < n; ++i)
            {
                // Reference straight from the definition, over the channel's group.
                double extreme = mode >= 0.5 ? 1e300 : -1e300, sum = 0.0, count = 0.0;
                for (std::size_t o = 0; o < channelCount; ++o)
                {
                    if (groups[o] != groups[c])
                        continue;
                    extreme =
                        mode >= 0.5 ? std::min(extreme, in[o][i]) : std::max(extreme, in[o][i]);
                    sum += in[o][i];
                    count += 1.0;
                }
                const double level = mix * (sum / count) + (1.0 - mix) * extreme;
                const double expected = linking * level + (1.0 - linking) * in[c][i];
                EXPECT_NEAR(got.out[c][i], expected, 1e-12) << c << " " << i;
            }
        }
    }
}

} // namespace
} // namespace kelvtest
