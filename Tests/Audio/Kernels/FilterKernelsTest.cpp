// Biquad and half-band kernels against per-sample references written here, the coefficient
// transition rules, the band-pass design examples and the half-band designs' image rejection.

#include "Audio/Filters/FilterGenTestSupport.h"
#include "Audio/Kernels/FilterKernelTestSupport.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

namespace
{

using namespace kelvtest;
using S = zel::CDCDAWBiquadState;
using CCoeffs = std::array<double, 5>; // b0, b1, b2, a1, a2

struct CDirectForm2
{
    CCoeffs c{};
    double w1 = 0, w2 = 0;
    double step(double x)
    {
        const double w0 = x - c[3] * w1 - c[4] * w2;
        const double y = c[0] * w0 + c[1] * w1 + c[2] * w2;
        w2 = w1;
        w1 = w0;
        return y;
    }
};

// The transition rules sample by sample, with s = 0.5 cos(pi k / N) computed directly.
struct CTransitionReference
{
    CDirectForm2 current, next;
    int length = 0, k = -1;
    std::optional<CCoeffs> pending;

    void update(const CCoeffs& c)
    {
        if (k >= 0)
            pending = c;
        else if (length == 0)
            current.c = c;
        else
        {
            next = {c, current.w1, current.w2};
            k = 0;
        }
    }
    double step(double x)
    {
        if (k < 0)
            return current.step(x);
        const double oldOut = current.step(x), newOut = next.step(x);
        const double s = 0.5 * std::cos(std::numbers::pi * k / length);
        if (++k == length)
        {
            current = next;
            k = -1;
            if (const std::optional<CCoeffs> p = std::exchange(pending, std::nullopt))
                update(*p);
        }
        return (0.5 - s) * newOut + (0.5 + s) * oldOut;
    }
};

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
        CDirectForm2 ref{GetParam().coeffs};
        std::vector<double> state(S::kSize), out = input;
        CCoeffs c = GetParam().coeffs;
        runKernel("DCDAW_fltbiqi", 1, 44100.0, {state.data(), c.data()});
        for (std::size_t pos = 0, b = 0; pos < input.size(); ++b)
        {
            const auto len = std::min<std::size_t>((b * 337) % 520 + 1, input.size() - pos);
            double* src = inPlace ? &out[pos] : const_cast<double*>(&input[pos]);
            runKernel(GetParam().kernel, std::int32_t(len), 0.0, {&out[pos], state.data(), src});
            pos += len;
        }
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
    CTransitionReference ref;
    CCoeffs c = ref.current.c = kSets[0];
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

// The band-pass design examples (44100 Hz, 1000 Hz, one octave) with their stated
// coefficients: gains at 707, 1000 and 1414 Hz measured through the kernel over whole periods.
TEST(BiquadDesignExample, BandPassGainsAtCentreAndOctaveEdges)
{
    constexpr std::size_t kRate = 44100;
    const std::pair<CCoeffs, std::array<double, 3>> cases[] = {
        {{0.082791, -0.060551, -0.022240, -1.875690, 0.894880}, {-2.61, 0.0, -2.61}},   // B
        {{0.078200, -0.060788, -0.017412, -1.884909, 0.904193}, {-3.02, -0.01, -3.02}}, // A
    };
    for (const auto& [coeffs, dbs] : cases)
        for (int f = 0; f < 3; ++f)
        {
            const double freq = std::array{707.0, 1000.0, 1414.0}[std::size_t(f)];
            std::vector<double> x(2 * kRate), state(S::kSize);
            for (std::size_t i = 0; i < x.size(); ++i)
                x[i] = std::sin(2.0 * std::numbers::pi * freq * double(i) / double(kRate));
            CCoeffs c = coeffs;
            runKernel("DCDAW_fltbiqi", 1, double(kRate), {state.data(), c.data()});
            runKernel("DCDAW_fltbiqcommon", std::int32_t(x.size()), 0.0,
                      {x.data(), state.data(), x.data()});
            const double gain = 2.0 * std::abs(dftBin(&x[kRate], kRate, freq)) / double(kRate);
            EXPECT_NEAR(toDb(gain), dbs[std::size_t(f)], 0.01) << coeffs[0] << " at " << freq;
        }
}

struct CHalfBandDesign
{
    const char* name;
    double attenuationDb, transitionWidth; // width as a fraction of the sample rate
    std::vector<double> a, b;
    int order() const { return int(2 * a.size()); }
    std::vector<double> coeffs() const
    {
        std::vector<double> all = a;
        all.insert(all.end(), b.begin(), b.end());
        return all;
    }
};

// clang-format off
const CHalfBandDesign kDesigns[] = {
    {"hbf212t20", 212, 0.05, {0.009671236272564429, 0.082947356972484801, 0.210366155920985650,
     0.364041004654972740, 0.519643573857522910, 0.663202022419399520, 0.791622976783688200,
     0.910330668655478850}, {0.037984028660154184, 0.141586217109648530, 0.285641118181376830,
     0.442747446534294100, 0.593353291960788230, 0.729134762155008610, 0.851584164747336450,
     0.969559720402660590}},
    {"hbf186t20", 186, 0.05, {0.012500522167405909, 0.105747433722917600, 0.261796878516555860,
     0.440053513749852690, 0.610578536468152080, 0.761838034206636870, 0.898198515064526860},
     {0.048836243587834394, 0.178515367048370090, 0.350431758889910900, 0.527433427130388320,
     0.688657059416373780, 0.831119517689171810, 0.965418189413303370}},
    {"hbf159t20", 159, 0.05, {0.016774666777235565, 0.139021488197177990, 0.332501111739473050,
     0.537661053144879890, 0.721418402421580060, 0.882185840207816210}, {0.065013192744459603,
     0.230941299908409170, 0.436494234842035420, 0.632960955139934890, 0.803780867911122350,
     0.959968740480067970}},
    {"hbf133t20", 133, 0.05, {0.023668314198834743, 0.189894762271801710, 0.431573180621185550,
     0.663202022419399520, 0.860015542499582230}, {0.090565559049933811, 0.307857572374903960,
     0.551678240250793480, 0.765214686377980620, 0.952472837866753300}},
    {"hbf106t20", 106, 0.05, {0.035832788431062100, 0.272040143396457710, 0.572057197235700250,
     0.827124761997323770}, {0.134090141943066930, 0.424324871271868350, 0.706292142138639220,
     0.941503094173755220}},
    {"hbf80t20", 80, 0.05, {0.060297390957124358, 0.412590720361056260, 0.772715653742923840},
     {0.215971444560929480, 0.604358626465836160, 0.923886138653290720}},
    {"hbf53t20", 53, 0.05, {0.120732117516754470, 0.663202022419399520},
     {0.390362187234500670, 0.890786832653498230}},
    {"hbf225t4", 225, 0.25, {0.011895121747543543, 0.107298815124090190, 0.302691477841015800,
     0.624310405189227980}, {0.047600688803108131, 0.191701916664550910, 0.444308384398486580,
     0.856804935666758530}},
    {"hbf171t4", 171, 0.25, {0.020342469726993929, 0.184299628014595620, 0.535754127708285230},
     {0.081470965110413199, 0.332445500134007090, 0.816782360082087490}},
    {"hbf116t4", 116, 0.25, {0.042454709865267684, 0.393319893190328010},
     {0.170739850497499070, 0.745713588720222980}},
    {"hbf62t4", 62, 0.25, {0.138024994073021350}, {0.584683257487323190}},
};
// clang-format on

class HalfBandTest : public CFloatTrapParamTest<CHalfBandDesign>
{
protected:
    std::string kernel = "DCDAW_flthbf" + std::to_string(GetParam().order());
    std::vector<double> state = std::vector<double>(zel::halfBandStateSize(GetParam().order()), 9);
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
    for (std::size_t pos = 0, b = 0; pos < x.size(); ++b)
    {
        const auto len = std::min<std::size_t>((b * 337) % 520 + 1, x.size() - pos);
        runKernel(kernel, std::int32_t(len), 0.0, {&x[pos], state.data(), &x[pos]});
        pos += len;
    }
    for (std::size_t i = 0; i < x.size(); ++i)
        ASSERT_NEAR(x[i], expected[i], 1e-12) << "sample " << i;
}

// The kernel's impulse response has the designed response; its stop band (from a quarter of the
// rate plus half the transition width up) lies below the design's attenuation, its pass band is
// flat.
TEST_P(HalfBandTest, RejectsImagesByTheDesignAttenuation)
{
    const CHalfBandDesign& d = GetParam();
    std::vector<double> h(4096, 0.0);
    h[0] = 1.0;
    runKernel(kernel, std::int32_t(h.size()), 0.0, {h.data(), state.data(), h.data()});
    for (double bin : {0.0, 300.0, 1024.0, 1500.0, 2048.0})
        EXPECT_LT(
            std::abs(dftBin(h.data(), h.size(), bin) - halfBandResponse(d.a, d.b, bin / 4096, 1.0)),
            1e-9);
    const double stopEdge = 0.25 + d.transitionWidth / 2, passEdge = 0.25 - d.transitionWidth / 2;
    for (int i = 0; i <= 2000; ++i)
    {
        const double stop = stopEdge + (0.5 - stopEdge) * i / 2000, pass = passEdge * i / 2000;
        ASSERT_LT(toDb(std::abs(halfBandResponse(d.a, d.b, stop, 1.0))), -d.attenuationDb) << stop;
        ASSERT_LT(std::fabs(toDb(std::abs(halfBandResponse(d.a, d.b, pass, 1.0)))), 1e-3) << pass;
    }
}

INSTANTIATE_TEST_SUITE_P(Designs, HalfBandTest, ::testing::ValuesIn(kDesigns),
                         [](const auto& p) { return std::string(p.param.name); });

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
    for (const CHalfBandDesign& d : kDesigns)
        runs.push_back({"DCDAW_flthbf" + std::to_string(d.order()), d.coeffs()});
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
