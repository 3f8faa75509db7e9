#include "Audio/Processes/ModTestSupport.h"

#include <cmath>
#include <tuple>

namespace kelvtest
{
namespace
{

class ModUtilityTest : public CModTest
{
protected:
    static CSamples signedRamp(std::size_t n)
    {
        CSamples s(n);
        for (std::size_t i = 0; i < n; ++i)
            s[i] = static_cast<double>(i) - 3.0; // holds one zero
        return s;
    }
};

TEST_F(ModUtilityTest, MultiplyAndDivideTheTwoInputsWithoutGuardingZero)
{
    // extra attributes, the second input as a multiple of the first, whether it is connected
    const std::tuple<const char*, const char*, bool> cases[] = {{"is-division=false", "3", true},
                                                                {"", "-0.5", true},
                                                                {"is-division=true", "2", true},
                                                                {"is-division=true", "0", true},
                                                                {"is-division=true", "2", false}};
    const CSamples in = signedRamp(8);
    for (const auto& [extra, factor, secondInput] : cases)
    {
        SCOPED_TRACE(std::string(extra) + " " + factor);
        std::vector<CChild> children{
            param("level", factor), gain("g", "level"),  module("audio:modMult", "m", {}, extra),
            link("src=*|dst=g"),    link("src=*|dst=m"), link("src=m|dst=*")};
        if (secondInput)
            children.push_back(link("src=g|dst=m/1"));
        ASSERT_FALSE(rebuild(container("modMain", children)));
        const bool division = std::string(extra) == "is-division=true";
        const double level = std::stod(factor);
        const CBlockResult got = runSame(in);
        EXPECT_EQ(got.passed[0], !secondInput);
        for (std::size_t i = 0; i < in.size(); ++i)
        {
            const double a = in[i], b = in[i] * level;
            if (!secondInput)
                EXPECT_EQ(got.out[0][i], a) << i;
            else if (!division)
                EXPECT_EQ(got.out[0][i], a * b) << i;
            else if (b == 0.0 && a == 0.0)
                EXPECT_TRUE(std::isnan(got.out[0][i])) << i;
            else if (b == 0.0)
                EXPECT_TRUE(std::isinf(got.out[0][i])) << i;
            else
                EXPECT_DOUBLE_EQ(got.out[0][i], 1.0 / level) << i;
        }
    }

    resetGraph();
    EXPECT_EQ(idAndText(define(module("audio:modMult", "m", {}, "is-division=maybe"))),
              "zelstr_CClassInfo_flag_InvalidBoolean: Invalid boolean value 'maybe'.");
}

TEST_F(ModUtilityTest, RectifierAndAntiDenormalNoise)
{
    ASSERT_FALSE(
        build(chain({}, {module("audio:modAbs", "abs"), module("audio:modDenorm", "dn")})));
    CSamples in = signedRamp(24);
    for (double& v : in)
        v *= 1e-3; // small enough that the noise is not rounded away
    const CBlockResult got = runSame(in);
    for (std::size_t i = 0; i < in.size(); ++i)
    {
        // +-1e-11 around |in|, up to the rounding of the sum.
        EXPECT_NEAR(std::fabs(got.out[0][i] - std::fabs(in[i])), 1e-11, 1e-18) << i;
        EXPECT_NEAR(std::fabs(got.out[1][i] - std::fabs(in[i])), 1e-11, 1e-18) << i;
    }
    EXPECT_NE(got.out[0], got.out[1]); // each channel has its own seed
    EXPECT_NE(got.out[0][3], 0.0);     // silence gets noise too
}

TEST_F(ModUtilityTest, BypassPassesTheDryInputAndSoloSilencesTheOtherGroups)
{
    // Channel c is in group c. Port 0: the input times 3 (processed); port 1: the input (dry).
    ASSERT_FALSE(build(
        container("modMain",
                  {param("level", "3"), param("en", "0"), param("solo", "0"), gain("g", "level"),
                   module("audio:modBypass", "byp", inOrder({"en", "solo"}), "xfade-length=0.0001"),
                   link("src=*|dst=g"), link("src=g|dst=byp"), link("src=*|dst=byp/1"),
                   link("src=byp|dst=*")})));
    // enable, solo of groups 0 and 1, per channel: P processed, D dry, N noise
    const std::tuple<double, double, double, const char*> cases[] = {
        {0, 0, 0, "PP"}, {1, 0, 0, "DD"},     {0, 1, 0, "PN"}, {1, 0, 1, "ND"},
        {0, 1, 1, "PP"}, {1, 0.5, 0.4, "DN"}, {0, 0, 0, "PP"}};
    const CSamples in = constant(6, 0.25);
    for (const auto& [enable, solo0, solo1, expected] : cases)
    {
        SCOPED_TRACE(expected);
        setValue("plugin.modMain.en", enable);
        setValue("plugin.modMain.solo", solo0, 0);
        setValue("plugin.modMain.solo", solo1, 1);
        (void)runSame(in); // a one-sample blend
        const CBlockResult got = runSame(in);
        for (std::size_t c = 0; c < 2; ++c)
        {
            if (expected[c] == 'N')
            {
                for (const double v : got.out[c])
                    EXPECT_NEAR(std::fabs(v), 1e-11, 1e-24) << c;
                continue;
            }
            EXPECT_EQ(got.out[c], constant(6, expected[c] == 'P' ? 0.75 : 0.25)) << c;
            EXPECT_EQ(got.passed[c], expected[c] == 'D') << c;
        }
    }
}

TEST_F(ModUtilityTest, PerChannelModulesRefuseAWholeChannelTerminal)
{
    for (const char* tag : {"audio:modGain", "audio:modMult", "audio:modAbs", "audio:modDenorm",
                            "audio:modBypass", "audio:modKelvComp"})
    {
        SCOPED_TRACE(tag);
        zel::CErrorPtr err =
            rebuild(container("modMain", {module(tag, "m", {}, "is-terminal-whole=true")}));
        EXPECT_EQ(idAndText(err), "zelstr_CModSwitchedOutput_requirePerChannel: The module 'm' "
                                  "works per channel and cannot be a whole-channel terminal.");
    }
}

TEST_F(ModUtilityTest, SteadyStateProcessingAllocatesNothing)
{
    useChannels({0, 0}, 1);
    CChild main = chain(
        {param("gain", "2"), param("mute", "0"), param("en", "0"), param("link", "0.5"),
         param("mix", "0.5"), param("mode", "0")},
        {module("audio:modGain", "g", inOrder({"gain", "mute"}), "xfade-length=0.005"),
         module("audio:modAbs", "abs"),
         module("audio:modLeveler", "lev", inOrder({"mode", "mix", "link"}),
                "is-terminal-whole=true"),
         module("audio:modMult", "m", {}, "is-division=true"), module("audio:modDenorm", "dn"),
         module("audio:modBypass", "byp", inOrder({"en"}), "xfade-length=0.005")});
    // The input is also the divisor and the bypass's dry signal.
    main.children.insert(main.children.end(), {link("src=*|dst=m/1"), link("src=*|dst=byp/1")});
    ASSERT_FALSE(build(main));
    zel::CAudioParam* params[] = {
        &liveParam("plugin.modMain.gain"), &liveParam("plugin.modMain.mute"),
        &liveParam("plugin.modMain.en"), &liveParam("plugin.modMain.link")};
    const auto edit = [&](int i)
    {
        const double values[] = {1.0 + (i % 3), double(i % 2), double((i / 2) % 2), 0.25 * (i % 5)};
        for (std::size_t p = 0; p < 4; ++p)
            EXPECT_FALSE(params[p]->setValue(0, 0, 0, values[p]));
    };
    EXPECT_EQ(cycleAllocations(edit, {32, 32, 32}), 0u);
}

} // namespace
} // namespace kelvtest
