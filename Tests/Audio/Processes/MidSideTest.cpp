#include "Audio/Processes/ModTestSupport.h"

#include <string>

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
    struct CCase
    {
        std::vector<std::int32_t> groups;
        std::int32_t groupCount;
        const char* pairs; // one selection per group
        const char* bypass;
        std::vector<std::pair<int, int>> coded;
    };
    const CCase cases[] = {
        {{0, 0, 1, 1}, 2, "1;0", "0", {{0, 1}}}, {{0, 0, 1, 1}, 2, "1;1", "0", {{0, 1}, {2, 3}}},
        {{0, 0, 0, 0}, 1, "2", "0", {{2, 3}}},   {{0, 1, 0, 1}, 2, "1;1", "0", {{0, 2}, {1, 3}}},
        {{0, 0, 0, 1}, 2, "1;1", "0", {{0, 1}}}, // group 1 has a single channel
        {{0, 0, 1, 1}, 2, "0;0", "0", {}},       // "---" everywhere
        {{0, 0, 1, 1}, 2, "3;2", "0", {}},       // pairs the groups do not have
        {{0, 0, 1, 1}, 2, "1;1", "1", {}},       // bypassed
    };
    int number = 0;
    for (const CCase& c : cases)
    {
        std::string name = "case";
        name += std::to_string(++number);
        useChannels(c.groups, c.groupCount);
        ASSERT_FALSE(
            rebuild(chain({param("pairs", c.pairs), param("bypass", c.bypass)},
                          {module("audio:modMSCoder", "enc", {{0, "pairs"}, {2, "bypass"}})})))
            << name;
        const std::vector<CSamples> in = signal(16);
        std::vector<CSamples> expected = in;
        for (const auto& [a, b] : c.coded)
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
        EXPECT_TRUE(!c.coded.empty() || got.passed == std::vector<bool>(4, true)) << name;
    }
}

// Expected output of the weighting module for one pair, computed from the kernel formulas.
struct CWeighting
{
    const char* mode;
    const char* midgain;
    const char* mid180;
    const char* midmute;
    const char* sidegain;
    const char* side180;
    const char* sidemute;
    const char* mix;
    const char* pan;
    const char* swap;
    double c0; // expected weights, worked out by hand
    double c1;
    double w0; // expected pan factors of the first and second channel
    double w1;
};

TEST_F(MidSideTest, WeightsAndPanFollowTheSettings)
{
    // cos(pi / 4) = 0.70710678118654752: at mix 0.25, c0 = 1.7071 x 0.75, c1 = 0.2929.
    const CWeighting cases[] = {
        {"2", "1", "0", "0", "1", "0", "0", "0.5", "0", "0", 1, 1, 1, 1},
        {"2", "2", "0", "0", "1", "0", "0", "0", "0", "0", 2, 0, 1, 1},
        {"2", "1", "0", "0", "0.5", "0", "0", "1", "0", "0", 0, 1, 1, 1},
        {"0", "0.5", "0", "0", "3", "0", "0", "0.5", "0", "0", 0.5, 3, 1, 1},
        {"1", "1", "1", "0", "1", "0", "0", "0.5", "0", "0", -1, 1, 1, 1},
        {"2", "1", "0", "1", "1", "1", "0", "0.5", "0", "0", 0, -1, 1, 1},
        {"2", "1", "0", "0", "2", "0", "1", "0.5", "0", "0", 1, 0, 1, 1},
        {"2", "1", "0", "0", "1", "0", "0", "0.25", "0", "0", 1.2803300858899107,
         0.29289321881345248, 1, 1},
        {"2", "1", "0", "0", "1", "0", "0", "0.5", "0.5", "0", 1, 1, 0.5, 1},
        {"2", "1", "0", "0", "1", "0", "0", "0.5", "-1", "0", 1, 1, 1, 0},
        {"2", "1", "0", "0", "1", "0", "0", "0.5", "0.00005", "0", 1, 1, 1, 1},
        {"0", "1", "0", "0", "1", "0", "0", "0.5", "-0.5", "0", 1, 1, 1, 0.5},
        {"2", "2", "0", "0", "1", "0", "0", "0", "0.25", "0", 2, 0, 0.85355339059327373, 1},
        {"0", "1", "0", "0", "1", "0", "0", "0.5", "0", "1", 1, 1, 1, 1},
        {"1", "1", "0", "0", "2", "0", "0", "0.5", "0", "1", 1, 2, 1, 1},
        {"2", "1", "0", "0", "1", "0", "0", "0.5", "0", "1", 1, 1, 1, 1},
    };
    const char* names[] = {"mode",    "midgain",  "mid180", "midmute", "sidegain",
                           "side180", "sidemute", "mix",    "pan",     "swap"};
    int number = 0;
    for (const CWeighting& c : cases)
    {
        std::string name = "w";
        name += std::to_string(++number);
        useChannels({0, 0}, 1);
        const char* values[] = {c.mode,    c.midgain,  c.mid180, c.midmute, c.sidegain,
                                c.side180, c.sidemute, c.mix,    c.pan,     c.swap};
        std::vector<CChild> params;
        CBindings bindings;
        for (int i = 0; i < 10; ++i)
        {
            params.push_back(param(names[i], values[i]));
            bindings.push_back({i, names[i]});
        }
        ASSERT_FALSE(rebuild(chain(std::move(params), {module("audio:modMSMod", "ms", bindings)})))
            << name;
        const std::vector<CSamples> in = signal(16);
        const bool swap = std::string(c.swap) == "1";
        std::vector<CSamples> expected(2, CSamples(16));
        for (std::size_t i = 0; i < 16; ++i)
        {
            double l = in[0][i], r = in[1][i];
            double o0 = 0, o1 = 0;
            if (std::string(c.mode) == "1")
            {
                o0 = c.c0 * l + c.c1 * r; // inputs are M and S
                o1 = c.c0 * l - c.c1 * r;
                if (swap)
                    std::swap(o0, o1);
            }
            else
            {
                if (swap)
                    std::swap(l, r);
                const double m = (l + r) / 2, s = (l - r) / 2;
                o0 = std::string(c.mode) == "0" ? c.c0 * m : c.c0 * m + c.c1 * s;
                o1 = std::string(c.mode) == "0" ? c.c1 * s : c.c0 * m - c.c1 * s;
            }
            expected[0][i] = o0 * c.w0;
            expected[1][i] = o1 * c.w1;
        }
        const CBlockResult got = runBlock(in);
        expectNear(got.out, expected, name);
        // The identity passes by reference.
        EXPECT_TRUE((number != 1 && number != 11) || got.passed == std::vector<bool>(2, true))
            << name;
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

TEST_F(MidSideTest, ModeChangeBlendsFromTheOldCodingToTheNew)
{
    // 0.01 s at 1000 Hz: N = 10 samples.
    useChannels({0, 0}, 1);
    ASSERT_FALSE(build(chain({param("mode", "2")}, {module("audio:modMSMod", "ms", {{0, "mode"}},
                                                           "xfade-length=0.01")})));
    const std::vector<CSamples> first = signal(8);
    expectNear(runBlock(first).out, first, "inline identity");

    change("plugin.modMain.mode", 0.0, 0.008);
    const std::vector<CSamples> out = runBlocks(3, 8, 8);
    const std::vector<CSamples> in = signal(24, 8);
    for (std::size_t k = 0; k < 24; ++k)
    {
        const double l = in[0][k], r = in[1][k];
        const double fresh[2] = {(l + r) / 2, (l - r) / 2};
        const double old[2] = {l, r};
        const double a = oldWeight(k, 10);
        for (std::size_t c = 0; c < 2; ++c)
            EXPECT_NEAR(out[c][k], (1 - a) * fresh[c] + a * old[c], 1e-12) << c << " " << k;
    }
    EXPECT_EQ(out[0][0], in[0][0]); // the blend starts exactly on the old output
}

} // namespace
} // namespace kelvtest
