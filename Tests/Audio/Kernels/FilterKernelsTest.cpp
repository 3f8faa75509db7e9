// Biquad and half-band kernels against per-sample references, and the coefficient transition
// rules.

#include "Audio/Filters/FilterGenTestSupport.h"
#include "Audio/Kernels/FilterKernelTestSupport.h"

#include <algorithm>
#include <array>
#include <string>

namespace
{

using namespace kelvtest;
using S = zel::CDCDAWBiquadState;

CCoeffs withPoles(double r, double theta, double b0, double b1, double b2)
{
    return {b0, b1, b2, -2.0 * r * std::cos(theta), r * r};
}

const CCoeffs kSets[] = {withPoles(0.95, 0.2, 0.3, 0.1, -0.1), withPoles(0.9, 0.9, 1.0, -0.5, 0.2),
                         withPoles(0.8, 2.0, 0.2, 0.2, 0.2), withPoles(0.99, 0.05, 0.01, 0, -0.01)};

struct CBiquadForm
{
    const char* kernel;
    CCoeffs coeffs; // a numerator of the shape the kernel assumes
};

class BiquadFormTest : public CFloatTrapParamTest<CBiquadForm>
{
};

TEST_P(BiquadFormTest, MatchesDirectFormInBlocksAndInPlace)
{
    const std::vector<double> input = randomSignal(3000, 7);
    for (bool inPlace : {false, true})
    {
        CBiquadReference ref{GetParam().coeffs};
        std::vector<double> state(S::kSize), out = input;
        CCoeffs c = GetParam().coeffs;
        runKernel("DCDAW_fltbiqi", 1, 44100.0, {state.data(), c.data()});
        forEachBlock(input.size(),
                     [&](std::size_t at, std::int32_t len)
                     {
                         double* src = inPlace ? &out[at] : const_cast<double*>(&input[at]);
                         runKernel(GetParam().kernel, len, 0.0, {&out[at], state.data(), src});
                     });
        for (std::size_t i = 0; i < input.size(); ++i)
            ASSERT_NEAR(out[i], ref.step(input[i]), 1e-10) << "sample " << i << " " << inPlace;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, BiquadFormTest,
    ::testing::Values(CBiquadForm{"DCDAW_fltbiqcommon", withPoles(0.97, 0.3, 0.4, -0.2, 0.1)},
                      CBiquadForm{"DCDAW_fltbiqlp", withPoles(0.9, 0.2, 0.05, 0.1, 0.05)},
                      CBiquadForm{"DCDAW_fltbiqhp", withPoles(0.95, 1.1, 0.6, -1.2, 0.6)},
                      CBiquadForm{"DCDAW_fltbiqbp", withPoles(0.99, 0.5, 0.03, 0.0, -0.03)},
                      CBiquadForm{"DCDAW_fltbiqnotch", withPoles(0.98, 0.8, 0.9, -1.3, 0.9)}));

TEST(BiquadTransition, LengthIsTwentyFiveMillisecondsRoundedHalfAwayFromZero)
{
    for (auto [rate, length] : {std::pair{44100.0, 1103},
                                {48000.0, 1200},
                                {22050.0, 551},
                                {96000.0, 2400},
                                {20.0, 1},
                                {10.0, 0}})
    {
        std::vector<double> state(S::kSize);
        CCoeffs c = kSets[0];
        runKernel("DCDAW_fltbiqi", 1, rate, {state.data(), c.data()});
        EXPECT_EQ(S::transitionLength(state.data()), length) << rate;
    }
}

// Scenarios of updates ('u', set index), runs ('r', samples, block size) and checks of the
// remaining transition count ('c'), compared sample by sample with the reference.
struct CScenario
{
    const char* name;
    double rate;
    std::vector<std::array<int, 3>> steps;
};

class BiquadTransitionTest : public CFloatTrapParamTest<CScenario>
{
};

TEST_P(BiquadTransitionTest, FollowsTheRaisedCosineAndThePendingSetRule)
{
    const std::vector<double> input = randomSignal(8000, 11);
    std::vector<double> state(S::kSize), out(input.size());
    CBiquadReference ref{kSets[0]};
    CCoeffs c = kSets[0];
    runKernel("DCDAW_fltbiqi", 1, GetParam().rate, {state.data(), c.data()});
    ref.length = S::transitionLength(state.data());
    std::size_t pos = 0;
    for (const auto& [op, a, b] : GetParam().steps)
    {
        if (op == 'c')
        {
            ASSERT_EQ(S::remaining(state.data()), a) << "at " << pos;
        }
        if (op == 'u')
        {
            c = kSets[a];
            runKernel("DCDAW_fltbiqu", 1, 0.0, {state.data(), c.data()});
            ref.update(kSets[a]);
        }
        for (int done = 0; op == 'r' && done < a; done += b)
            runKernel("DCDAW_fltbiqcommon", std::min(b, a - done), 0.0,
                      {&out[pos + done], state.data(), const_cast<double*>(&input[pos + done])});
        for (int i = 0; op == 'r' && i < a; ++i, ++pos)
            ASSERT_NEAR(out[pos], ref.step(input[pos]), 1e-10) << "sample " << pos;
    }
}

// clang-format off
const CScenario kScenarios[] = {
    {"FadeEndsOnTheNewFilter", 44100.0,
     {{'r', 300, 64}, {'u', 1}, {'c', 1103}, {'r', 1102, 100}, {'c', 1}, {'r', 1, 1}, {'c', 0},
      {'r', 500, 77}}},
    {"ChangeDuringFadeWaitsAndNewestWins", 44100.0,
     {{'u', 1}, {'r', 500, 128}, {'u', 2}, {'u', 3}, {'c', 603}, {'r', 603, 603}, {'c', 1103},
      {'r', 1500, 333}, {'c', 0}}},
    {"TwoChangesInOneBlockLeaveTheSecondPending", 44100.0,
     {{'r', 50, 50}, {'u', 1}, {'u', 2}, {'c', 1103}, {'r', 2206, 2206}, {'c', 0},
      {'r', 100, 100}}},
    {"NoFadeBelowHalfASampleOfLength", 10.0, {{'r', 20, 20}, {'u', 1}, {'c', 0}, {'r', 20, 3}}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Scenarios, BiquadTransitionTest, ::testing::ValuesIn(kScenarios),
                         [](const auto& p) { return std::string(p.param.name); });

// Allpass pairs of every order the kernels take, coefficients spread over (0, 0.9], the two
// chains distinct.
struct CHalfBandDesign
{
    int order;
    std::vector<double> a, b;
    std::vector<double> coeffs() const
    {
        std::vector<double> all = a;
        all.insert(all.end(), b.begin(), b.end());
        return all;
    }
};

std::vector<CHalfBandDesign> halfBandDesigns()
{
    std::vector<CHalfBandDesign> out;
    for (int order = 2; order <= 16; order += 2)
    {
        CHalfBandDesign d{order, {}, {}};
        for (int i = 0; i < order / 2; ++i)
        {
            d.a.push_back(0.9 * (2 * i + 1) / (order + 1));
            d.b.push_back(0.9 * (2 * i + 2) / (order + 1));
        }
        out.push_back(d);
    }
    return out;
}

class HalfBandTest : public CFloatTrapParamTest<CHalfBandDesign>
{
protected:
    std::string kernel = "DCDAW_flthbf" + std::to_string(GetParam().order);
    std::vector<double> state = std::vector<double>(zel::halfBandStateSize(GetParam().order), 9);
    void SetUp() override
    {
        CFloatTrapParamTest<CHalfBandDesign>::SetUp();
        std::vector<double> coeffs = GetParam().coeffs();
        runKernel(kernel + "i", 1, 0.0, {state.data(), coeffs.data()});
    }
};

TEST_P(HalfBandTest, MatchesAllpassPairReferenceInBlocksAndInPlace)
{
    const std::vector<double> input = randomSignal(2500, 5);
    const std::vector<double> expected = halfBandReference(GetParam().a, GetParam().b, input);
    std::vector<double> x = input;
    forEachBlock(x.size(),
                 [&](std::size_t at, std::int32_t len) {
                     runKernel(kernel, len, 0.0, {&x[at], state.data(), &x[at]});
                 });
    for (std::size_t i = 0; i < x.size(); ++i)
        ASSERT_NEAR(x[i], expected[i], 1e-12) << "sample " << i;
}

INSTANTIATE_TEST_SUITE_P(Orders, HalfBandTest, ::testing::ValuesIn(halfBandDesigns()),
                         [](const auto& p) { return "Order" + std::to_string(p.param.order); });

// An impulse followed by ten seconds of the graph's anti-denormal noise (+-1e-11) leaves no
// subnormal value in a recursive kernel's state (the biquad's integer counts excepted).
TEST(RecursiveFilterKernels, StateStaysNormalOnTheNoiseFloor)
{
    std::vector<double> x(441000), out(x.size());
    std::uint32_t seed = 1;
    for (double& s : x)
        s = ((seed = seed * 30013u + 30011u) & 0x800000u) ? 1e-11 : -1e-11;
    x[0] = 1.0;
    std::vector<std::pair<std::string, std::vector<double>>> runs = {
        {"DCDAW_fltbiqbp", {0.001, 0.0, -0.001, -2 * 0.999 * std::cos(0.01), 0.999 * 0.999}}};
    for (const CHalfBandDesign& d : halfBandDesigns())
        runs.push_back({"DCDAW_flthbf" + std::to_string(d.order), d.coeffs()});
    for (auto& [kernel, coeffs] : runs)
    {
        const bool biquad = kernel == "DCDAW_fltbiqbp";
        std::vector<double> state(biquad ? S::kSize : zel::halfBandStateSize(int(coeffs.size())));
        runKernel(kernel.substr(0, biquad ? 12 : kernel.size()) + "i", 1, 44100.0,
                  {state.data(), coeffs.data()});
        runKernel(kernel, std::int32_t(x.size()), 0.0, {out.data(), state.data(), x.data()});
        for (std::size_t i = 0; i < state.size(); ++i)
            EXPECT_TRUE(std::fpclassify(state[i]) != FP_SUBNORMAL || (biquad && i == S::kCounts))
                << kernel << " [" << i << "]";
    }
}

} // namespace
