#include "Audio/Processes/ModTestSupport.h"

#include <map>
#include <string>
#include <tuple>

namespace kelvtest
{
namespace
{

class MidSideTest : public CModTest
{
};

TEST_F(MidSideTest, EncoderThenDecoderRestoresThePair)
{
    useChannels({0, 0}, 1);
    ASSERT_FALSE(
        build(chain({param("decode", "1")}, {module("audio:modMSCoder", "enc"),
                                             module("audio:modMSCoder", "dec", {{1, "decode"}})})));
    const std::vector<CSamples> in = signal(24);
    expectNear(runBlock(in).out, in, "round trip");
}

TEST_F(MidSideTest, EncoderCodesOnlyTheSelectedPairs)
{
    // groups, group count, pairs (one selection per group), bypass, the coded pairs
    const std::tuple<std::vector<std::int32_t>, std::int32_t, const char*, const char*,
                     std::vector<std::pair<int, int>>>
        cases[] = {
            {{0, 0, 1, 1}, 2, "1;0", "0", {{0, 1}}},
            {{0, 0, 1, 1}, 2, "1;1", "0", {{0, 1}, {2, 3}}},
            {{0, 0, 0, 0}, 1, "2", "0", {{2, 3}}},
            {{0, 1, 0, 1}, 2, "1;1", "0", {{0, 2}, {1, 3}}},
            {{0, 0, 0, 1}, 2, "1;1", "0", {{0, 1}}}, // group 1 has a single channel
            {{0, 0, 1, 1}, 2, "0;0", "0", {}},       // "---" everywhere
            {{0, 0, 1, 1}, 2, "3;2", "0", {}},       // pairs the groups do not have
            {{0, 0, 1, 1}, 2, "1;1", "1", {}},       // bypassed
        };
    int number = 0;
    for (const auto& [groups, groupCount, pairs, bypass, coded] : cases)
    {
        std::string name = "case";
        name += std::to_string(++number);
        useChannels(groups, groupCount);
        ASSERT_FALSE(
            rebuild(chain({param("pairs", pairs), param("bypass", bypass)},
                          {module("audio:modMSCoder", "enc", {{0, "pairs"}, {2, "bypass"}})})))
            << name;
        const std::vector<CSamples> in = signal(16);
        std::vector<CSamples> expected = in;
        for (const auto& [a, b] : coded)
            for (std::size_t i = 0; i < 16; ++i)
            {
                const double l = in[static_cast<std::size_t>(a)][i];
                const double r = in[static_cast<std::size_t>(b)][i];
                expected[static_cast<std::size_t>(a)][i] = (l + r) / 2;
                expected[static_cast<std::size_t>(b)][i] = (l - r) / 2;
            }
        const CBlockResult got = runBlock(in);
        expectNear(got.out, expected, name);
        // Uncoded channels pass by reference.
        EXPECT_TRUE(!coded.empty() || got.passed == std::vector<bool>(4, true)) << name;
    }
}

TEST_F(MidSideTest, WeightsAndPanFollowTheSettings)
{
    const char* names[] = {"mode",    "midgain",  "mid180", "midmute", "sidegain",
                           "side180", "sidemute", "mix",    "pan",     "swap"};
    // Settings changed from mode 2, gains 1, mix 0.5, everything else 0; the expected mid and
    // side weights c0, c1 and pan factors w0, w1 of the two channels, worked out by hand
    // (cos(pi / 4) = 0.70710678118654752: at mix 0.25, c0 = 1.7071 x 0.75, c1 = 0.2929).
    const std::tuple<std::map<std::string, std::string>, double, double, double, double> cases[] = {
        {{}, 1, 1, 1, 1},
        {{{"midgain", "2"}, {"mix", "0"}}, 2, 0, 1, 1},
        {{{"sidegain", "0.5"}, {"mix", "1"}}, 0, 1, 1, 1},
        {{{"mode", "0"}, {"midgain", "0.5"}, {"sidegain", "3"}}, 0.5, 3, 1, 1},
        {{{"mode", "1"}, {"mid180", "1"}}, -1, 1, 1, 1},
        {{{"midmute", "1"}, {"side180", "1"}}, 0, -1, 1, 1},
        {{{"sidegain", "2"}, {"sidemute", "1"}}, 1, 0, 1, 1},
        {{{"mix", "0.25"}}, 1.2803300858899107, 0.29289321881345248, 1, 1},
        {{{"pan", "0.5"}}, 1, 1, 0.5, 1},
        {{{"pan", "-1"}}, 1, 1, 1, 0},
        {{{"pan", "0.00005"}}, 1, 1, 1, 1},
        {{{"mode", "0"}, {"pan", "-0.5"}}, 1, 1, 1, 0.5},
        {{{"midgain", "2"}, {"mix", "0"}, {"pan", "0.25"}}, 2, 0, 0.85355339059327373, 1},
        {{{"mode", "0"}, {"swap", "1"}}, 1, 1, 1, 1},
        {{{"mode", "1"}, {"sidegain", "2"}, {"swap", "1"}}, 1, 2, 1, 1},
        {{{"swap", "1"}}, 1, 1, 1, 1},
    };
    for (const auto& [changed, c0, c1, w0, w1] : cases)
    {
        std::map<std::string, std::string> v = {
            {"mode", "2"}, {"midgain", "1"}, {"sidegain", "1"}, {"mix", "0.5"}};
        std::string name;
        for (const auto& [key, value] : changed)
        {
            v[key] = value;
            name += key + "=" + value + " ";
        }
        useChannels({0, 0}, 1);
        std::vector<CChild> params;
        CBindings bindings;
        for (int i = 0; i < 10; ++i)
        {
            params.push_back(param(names[i], v.count(names[i]) ? v[names[i]].c_str() : "0"));
            bindings.push_back({i, names[i]});
        }
        ASSERT_FALSE(rebuild(chain(std::move(params), {module("audio:modMSMod", "ms", bindings)})))
            << name;
        const std::vector<CSamples> in = signal(16);
        const bool swap = v["swap"] == "1";
        std::vector<CSamples> expected(2, CSamples(16));
        for (std::size_t i = 0; i < 16; ++i)
        {
            double l = in[0][i], r = in[1][i];
            double o0 = 0, o1 = 0;
            if (v["mode"] == "1")
            {
                o0 = c0 * l + c1 * r; // inputs are M and S
                o1 = c0 * l - c1 * r;
                if (swap)
                    std::swap(o0, o1);
            }
            else
            {
                if (swap)
                    std::swap(l, r);
                const double m = (l + r) / 2, s = (l - r) / 2;
                o0 = v["mode"] == "0" ? c0 * m : c0 * m + c1 * s;
                o1 = v["mode"] == "0" ? c1 * s : c0 * m - c1 * s;
            }
            expected[0][i] = o0 * w0;
            expected[1][i] = o1 * w1;
        }
        const CBlockResult got = runBlock(in);
        expectNear(got.out, expected, name);
        // The identity passes by reference.
        const bool identity = v["mode"] == "2" && !swap && c0 == 1 && c1 == 1 && w0 == 1 && w1 == 1;
        EXPECT_TRUE(!identity || got.passed == std::vector<bool>(2, true)) << name;
    }
}

TEST_F(MidSideTest, EachPairIsWeightedWithItsGroupsSettings)
{
    // Group 0 removes the side (mix 0), group 1 keeps only the side, doubled (mix 1).
    useChannels({0, 0, 1, 1}, 2);
    ASSERT_FALSE(build(chain({param("mix", "0;1"), param("pairs", "1;1")},
                             {module("audio:modMSMod", "ms", {{7, "mix"}, {10, "pairs"}})})));
    const std::vector<CSamples> in = signal(8);
    std::vector<CSamples> expected(4, CSamples(8));
    for (std::size_t i = 0; i < 8; ++i)
    {
        const double m0 = (in[0][i] + in[1][i]) / 2, s1 = (in[2][i] - in[3][i]) / 2;
        expected[0][i] = expected[1][i] = m0;
        expected[2][i] = 2 * s1;
        expected[3][i] = -2 * s1;
    }
    expectNear(runBlock(in).out, expected, "per group");
}

} // namespace
} // namespace kelvtest
