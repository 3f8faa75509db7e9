// Biquad and half-band kernels against plain per-sample references written here, the
// coefficient transition rules, the band-pass design examples and the half-band designs'
// image rejection.

#include "Audio/Kernels/FilterKernelTestSupport.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>

namespace
{

using namespace kelvtest;
using S = zel::CDCDAWBiquadState;

using CCoeffs = std::array<double, 5>; // b0, b1, b2, a1, a2

// Direct form I, the textbook difference equation.
struct CDirectForm1
{
    CCoeffs c;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    double step(double x)
    {
        const double y = c[0] * x + c[1] * x1 + c[2] * x2 - c[3] * y1 - c[4] * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// Direct form II, whose history a coefficient change carries over.
struct CDirectForm2
{
    CCoeffs c;
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

// The transition rules sample by sample: s = 0.5 cos(pi k / N) computed directly.
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
            next = current;
            next.c = c;
            k = 0;
        }
    }
    double step(double x)
    {
        if (k < 0)
            return current.step(x);
        const double oldOut = current.step(x);
        const double newOut = next.step(x);
        const double s = 0.5 * std::cos(std::numbers::pi * k / length);
        if (++k == length)
        {
            current = next;
            k = -1;
            if (pending)
            {
                update(*pending);
                pending.reset();
            }
        }
        return (0.5 - s) * newOut + (0.5 + s) * oldOut;
    }
};

// A stable pole pair r e^(+-i theta).
CCoeffs withPoles(double r, double theta, double b0, double b1, double b2)
{
    return {b0, b1, b2, -2.0 * r * std::cos(theta), r * r};
}

struct CBiquadForm
{
    const char* kernel;
    CCoeffs coeffs; // numerator of the shape the kernel assumes
};

class BiquadFormTest : public CFloatTrapParamTest<CBiquadForm>
{
};

TEST_P(BiquadFormTest, MatchesDirectFormInBlocksAndInPlace)
{
    const CBiquadForm& form = GetParam();
    const std::vector<double> input = randomSignal(3000, 7);
    CDirectForm1 ref{form.coeffs};
    std::vector<double> expected(input.size());
    for (std::size_t i = 0; i < input.size(); ++i)
        expected[i] = ref.step(input[i]);

    for (bool inPlace : {false, true})
    {
        std::vector<double> state(S::kSize, 0.0), out(input.size(), 0.0);
        CCoeffs c = form.coeffs;
        runKernel("DCDAW_fltbiqi", 1, 44100.0, {state.data(), c.data()});
        if (inPlace)
            out = input;
        const int blocks[] = {1, 7, 64, 513, 2, 999};
        std::size_t pos = 0;
        for (int b = 0; pos < input.size(); ++b)
        {
            const auto len = std::min<std::size_t>(blocks[b % 6], input.size() - pos);
            double* dst = out.data() + pos;
            const double* src = inPlace ? dst : input.data() + pos;
            runKernel(form.kernel, static_cast<std::int32_t>(len), 0.0,
                      {dst, state.data(), const_cast<double*>(src)});
            pos += len;
        }
        for (std::size_t i = 0; i < input.size(); ++i)
            ASSERT_NEAR(out[i], expected[i], 1e-9 * (1.0 + std::fabs(expected[i])))
                << form.kernel << " sample " << i << (inPlace ? " in place" : "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, BiquadFormTest,
    ::testing::Values(CBiquadForm{"DCDAW_fltbiqcommon", withPoles(0.97, 0.3, 0.4, -0.2, 0.1)},
                      CBiquadForm{"DCDAW_fltbiqlp", withPoles(0.9, 0.2, 0.05, 0.1, 0.05)},
                      CBiquadForm{"DCDAW_fltbiqhp", withPoles(0.95, 1.1, 0.6, -1.2, 0.6)},
                      CBiquadForm{"DCDAW_fltbiqbp", withPoles(0.99, 0.5, 0.03, 0.0, -0.03)},
                      CBiquadForm{"DCDAW_fltbiqnotch", withPoles(0.98, 0.8, 0.9, -1.3, 0.9)}),
    [](const auto& p) { return std::string(p.param.kernel).substr(12); });

class BiquadTransitionTest : public CFloatTrapTest
{
protected:
    std::vector<double> state = std::vector<double>(S::kSize, 0.0);
    CTransitionReference ref;
    std::vector<double> input = randomSignal(20000, 11);
    std::size_t pos = 0;

    void init(const CCoeffs& c, double rate)
    {
        CCoeffs copy = c;
        runKernel("DCDAW_fltbiqi", 1, rate, {state.data(), copy.data()});
        ref = {};
        ref.current.c = c;
        ref.length = S::transitionLength(state.data());
    }
    void update(const CCoeffs& c)
    {
        CCoeffs copy = c;
        runKernel("DCDAW_fltbiqu", 1, 0.0, {state.data(), copy.data()});
        ref.update(c);
    }
    // Runs `count` samples in blocks of `block` and compares each with the reference.
    void run(std::size_t count, std::size_t block)
    {
        std::vector<double> out(count);
        for (std::size_t done = 0; done < count; done += block)
        {
            const auto len = std::min(block, count - done);
            runKernel("DCDAW_fltbiqcommon", static_cast<std::int32_t>(len), 0.0,
                      {out.data() + done, state.data(), input.data() + pos + done});
        }
        for (std::size_t i = 0; i < count; ++i)
            ASSERT_NEAR(out[i], ref.step(input[pos + i]), 1e-10) << "sample " << pos + i;
        pos += count;
    }
};

const CCoeffs kSetA = withPoles(0.95, 0.2, 0.3, 0.1, -0.1);
const CCoeffs kSetB = withPoles(0.9, 0.9, 1.0, -0.5, 0.2);
const CCoeffs kSetC = withPoles(0.8, 2.0, 0.2, 0.2, 0.2);
const CCoeffs kSetD = withPoles(0.99, 0.05, 0.01, 0.0, -0.01);

TEST_F(BiquadTransitionTest, LengthIsTwentyFiveMillisecondsRoundedHalfAway)
{
    const std::pair<double, std::int32_t> cases[] = {
        {44100.0, 1103}, {48000.0, 1200}, {22050.0, 551}, {96000.0, 2400}, {20.0, 1}, {10.0, 0}};
    for (const auto& [rate, length] : cases)
    {
        init(kSetA, rate);
        EXPECT_EQ(S::transitionLength(state.data()), length) << rate;
        EXPECT_EQ(S::remaining(state.data()), 0) << rate;
    }
}

TEST_F(BiquadTransitionTest, FadesAlongRaisedCosineAndLandsOnNewFilter)
{
    init(kSetA, 44100.0);
    run(300, 64);
    update(kSetB);
    EXPECT_EQ(S::remaining(state.data()), 1103);
    run(1102, 100);
    EXPECT_EQ(S::remaining(state.data()), 1);
    run(1, 1);
    EXPECT_EQ(S::remaining(state.data()), 0);
    EXPECT_EQ(std::vector<double>(state.begin(), state.begin() + 5),
              (std::vector<double>{kSetB[0], kSetB[1], kSetB[2], -kSetB[3], -kSetB[4]}));
    run(500, 77);
}

TEST_F(BiquadTransitionTest, ChangeDuringTransitionWaitsAndNewestWins)
{
    init(kSetA, 44100.0);
    update(kSetB);
    run(500, 128);
    update(kSetC);
    update(kSetD);
    EXPECT_EQ(S::remaining(state.data()), 603); // not restarted
    run(603, 603);
    EXPECT_EQ(S::remaining(state.data()), 1103); // the pending set starts the next one
    run(1500, 333);
    EXPECT_EQ(S::remaining(state.data()), 0);
}

TEST_F(BiquadTransitionTest, TwoChangesInOneBlockLeaveTheSecondPending)
{
    init(kSetA, 44100.0);
    run(50, 50);
    update(kSetB);
    update(kSetC);
    EXPECT_EQ(state[S::kPending], 1.0);
    EXPECT_EQ(std::vector<double>(state.begin() + S::kPendingCoeffs, state.begin() + S::kSize),
              (std::vector<double>{kSetC[0], kSetC[1], kSetC[2], -kSetC[3], -kSetC[4]}));
    run(2206, 2206); // both transitions inside one call
    EXPECT_EQ(S::remaining(state.data()), 0);
    EXPECT_EQ(state[S::kPending], 0.0);
    run(100, 100);
}

TEST_F(BiquadTransitionTest, WithoutTransitionLengthChangesApplyAtOnce)
{
    init(kSetA, 10.0);
    run(20, 20);
    update(kSetB);
    EXPECT_EQ(S::remaining(state.data()), 0);
    run(20, 3);
}

// The two band-pass design examples at 44100 Hz, 1000 Hz, one octave, with their stated
// coefficients: the gain at each test frequency, measured through the kernel.
TEST(BiquadDesignExample, BandPassGainsAtOctaveEdges)
{
    struct CCase
    {
        const char* design;
        CCoeffs coeffs;
        double db707, db1000, db1414;
    };
    const CCase cases[] = {
        {"magnusB", {0.082791, -0.060551, -0.022240, -1.875690, 0.894880}, -2.61, 0.0, -2.61},
        {"magnusA", {0.078200, -0.060788, -0.017412, -1.884909, 0.904193}, -3.02, -0.01, -3.02},
    };
    constexpr std::size_t kRate = 44100;
    for (const CCase& c : cases)
    {
        for (const auto& [freq, db] :
             {std::pair{707, c.db707}, std::pair{1000, c.db1000}, std::pair{1414, c.db1414}})
        {
            std::vector<double> signal(2 * kRate), state(S::kSize, 0.0);
            for (std::size_t i = 0; i < signal.size(); ++i)
                signal[i] = std::sin(2.0 * std::numbers::pi * freq * static_cast<double>(i) /
                                     static_cast<double>(kRate));
            CCoeffs coeffs = c.coeffs;
            runKernel("DCDAW_fltbiqi", 1, double(kRate), {state.data(), coeffs.data()});
            runKernel("DCDAW_fltbiqcommon", static_cast<std::int32_t>(signal.size()), 0.0,
                      {signal.data(), state.data(), signal.data()});
            // The second second holds whole periods of every test frequency.
            const double gain =
                2.0 * std::abs(dftBin(signal.data() + kRate, kRate, freq)) / double(kRate);
            EXPECT_NEAR(toDb(gain), db, 0.01) << c.design << " at " << freq << " Hz";
        }
    }
}

// ---- Half-band filters ----------------------------------------------------------------------

struct CHalfBandDesign
{
    const char* name;
    double attenuationDb;
    double transitionWidth; // fraction of the filter's sample rate
    std::vector<double> a, b;
    int order() const { return static_cast<int>(2 * a.size()); }
};

// clang-format off
const CHalfBandDesign kDesigns[] = {
    {"hbf212t20", 212, 0.05,
     {0.009671236272564429, 0.082947356972484801, 0.210366155920985650, 0.364041004654972740,
      0.519643573857522910, 0.663202022419399520, 0.791622976783688200, 0.910330668655478850},
     {0.037984028660154184, 0.141586217109648530, 0.285641118181376830, 0.442747446534294100,
      0.593353291960788230, 0.729134762155008610, 0.851584164747336450, 0.969559720402660590}},
    {"hbf186t20", 186, 0.05,
     {0.012500522167405909, 0.105747433722917600, 0.261796878516555860, 0.440053513749852690,
      0.610578536468152080, 0.761838034206636870, 0.898198515064526860},
     {0.048836243587834394, 0.178515367048370090, 0.350431758889910900, 0.527433427130388320,
      0.688657059416373780, 0.831119517689171810, 0.965418189413303370}},
    {"hbf159t20", 159, 0.05,
     {0.016774666777235565, 0.139021488197177990, 0.332501111739473050, 0.537661053144879890,
      0.721418402421580060, 0.882185840207816210},
     {0.065013192744459603, 0.230941299908409170, 0.436494234842035420, 0.632960955139934890,
      0.803780867911122350, 0.959968740480067970}},
    {"hbf133t20", 133, 0.05,
     {0.023668314198834743, 0.189894762271801710, 0.431573180621185550, 0.663202022419399520,
      0.860015542499582230},
     {0.090565559049933811, 0.307857572374903960, 0.551678240250793480, 0.765214686377980620,
      0.952472837866753300}},
    {"hbf106t20", 106, 0.05,
     {0.035832788431062100, 0.272040143396457710, 0.572057197235700250, 0.827124761997323770},
     {0.134090141943066930, 0.424324871271868350, 0.706292142138639220, 0.941503094173755220}},
    {"hbf80t20", 80, 0.05,
     {0.060297390957124358, 0.412590720361056260, 0.772715653742923840},
     {0.215971444560929480, 0.604358626465836160, 0.923886138653290720}},
    {"hbf53t20", 53, 0.05,
     {0.120732117516754470, 0.663202022419399520},
     {0.390362187234500670, 0.890786832653498230}},
    {"hbf225t4", 225, 0.25,
     {0.011895121747543543, 0.107298815124090190, 0.302691477841015800, 0.624310405189227980},
     {0.047600688803108131, 0.191701916664550910, 0.444308384398486580, 0.856804935666758530}},
    {"hbf171t4", 171, 0.25,
     {0.020342469726993929, 0.184299628014595620, 0.535754127708285230},
     {0.081470965110413199, 0.332445500134007090, 0.816782360082087490}},
    {"hbf116t4", 116, 0.25,
     {0.042454709865267684, 0.393319893190328010},
     {0.170739850497499070, 0.745713588720222980}},
    {"hbf62t4", 62, 0.25, {0.138024994073021350}, {0.584683257487323190}},
};
// clang-format on

// Frequency response of the allpass pair at f (fraction of the sample rate), from the
// transfer function 0.5 (A(z^2) + z^-1 B(z^2)), A and B products of (c + z^-2) / (1 + c z^-2).
std::complex<double> halfBandResponse(const CHalfBandDesign& d, double f)
{
    const std::complex<double> zInv = std::polar(1.0, -2.0 * std::numbers::pi * f);
    const std::complex<double> z2 = zInv * zInv;
    std::complex<double> a = 1.0, b = 1.0;
    for (double c : d.a)
        a *= (c + z2) / (1.0 + c * z2);
    for (double c : d.b)
        b *= (c + z2) / (1.0 + c * z2);
    return 0.5 * (a + zInv * b);
}

// Per-sample allpass pair with explicit delay lines.
std::vector<double> halfBandReference(const CHalfBandDesign& d, const std::vector<double>& in)
{
    struct CStage
    {
        double c, x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    };
    std::vector<CStage> chainA, chainB;
    for (double c : d.a)
        chainA.push_back({c});
    for (double c : d.b)
        chainB.push_back({c});
    auto runChain = [](std::vector<CStage>& chain, double x)
    {
        for (CStage& s : chain)
        {
            const double y = s.c * (x - s.y2) + s.x2;
            s.x2 = s.x1;
            s.x1 = x;
            s.y2 = s.y1;
            s.y1 = y;
            x = y;
        }
        return x;
    };
    std::vector<double> out(in.size());
    double bPrevious = 0.0;
    for (std::size_t i = 0; i < in.size(); ++i)
    {
        const double a = runChain(chainA, in[i]);
        const double b = runChain(chainB, in[i]);
        out[i] = 0.5 * (a + bPrevious);
        bPrevious = b;
    }
    return out;
}

class HalfBandTest : public CFloatTrapParamTest<CHalfBandDesign>
{
protected:
    std::string kernel() const { return "DCDAW_flthbf" + std::to_string(GetParam().order()); }
    std::vector<double> initState() const
    {
        const CHalfBandDesign& d = GetParam();
        std::vector<double> state(zel::halfBandStateSize(d.order()), 99.0);
        std::vector<double> coeffs = d.a;
        coeffs.insert(coeffs.end(), d.b.begin(), d.b.end());
        runKernel(kernel() + "i", 1, 0.0, {state.data(), coeffs.data()});
        return state;
    }
};

TEST_P(HalfBandTest, MatchesAllpassPairReferenceInBlocksAndInPlace)
{
    const std::vector<double> input = randomSignal(2500, 5);
    const std::vector<double> expected = halfBandReference(GetParam(), input);
    std::vector<double> state = initState();
    std::vector<double> buffer = input;
    const int blocks[] = {1, 2, 7, 64, 513, 3, 16};
    for (std::size_t pos = 0, b = 0; pos < input.size(); ++b)
    {
        const auto len = std::min<std::size_t>(blocks[b % 7], input.size() - pos);
        runKernel(kernel(), static_cast<std::int32_t>(len), 0.0,
                  {buffer.data() + pos, state.data(), buffer.data() + pos});
        pos += len;
    }
    for (std::size_t i = 0; i < input.size(); ++i)
        ASSERT_NEAR(buffer[i], expected[i], 1e-12) << "sample " << i;
}

// The kernel's impulse response has the designed response, whose stop band (from a quarter of
// the rate plus half the transition width up) lies below the design's attenuation and whose
// pass band is flat.
TEST_P(HalfBandTest, RejectsImagesByTheDesignAttenuation)
{
    const CHalfBandDesign& d = GetParam();
    constexpr std::size_t kLength = 4096;
    std::vector<double> impulse(kLength, 0.0), state = initState();
    impulse[0] = 1.0;
    runKernel(kernel(), kLength, 0.0, {impulse.data(), state.data(), impulse.data()});
    for (double cycles : {0.0, 300.0, 1024.0, 1500.0, 2048.0})
    {
        const std::complex<double> measured = dftBin(impulse.data(), kLength, cycles);
        EXPECT_LT(std::abs(measured - halfBandResponse(d, cycles / kLength)), 1e-9) << cycles;
    }
    const double stopEdge = 0.25 + d.transitionWidth / 2;
    const double passEdge = 0.25 - d.transitionWidth / 2;
    for (int i = 0; i <= 2000; ++i)
    {
        const double stop = stopEdge + (0.5 - stopEdge) * i / 2000;
        ASSERT_LT(toDb(std::abs(halfBandResponse(d, stop))), -d.attenuationDb) << stop;
        const double pass = passEdge * i / 2000;
        ASSERT_LT(std::fabs(toDb(std::abs(halfBandResponse(d, pass)))), 1e-3) << pass;
    }
}

INSTANTIATE_TEST_SUITE_P(Designs, HalfBandTest, ::testing::ValuesIn(kDesigns),
                         [](const auto& p) { return std::string(p.param.name); });

// An impulse followed by ten seconds of the graph's anti-denormal noise (+-1e-11) never leaves
// a subnormal value in a recursive kernel's state.
TEST(RecursiveFilterKernels, StateStaysNormalOnTheNoiseFloor)
{
    std::vector<double> signal(441000);
    std::uint32_t seed = 1;
    for (double& s : signal)
    {
        seed = seed * 30013u + 30011u;
        s = (seed & 0x800000u) ? 1e-11 : -1e-11;
    }
    signal[0] = 1.0;
    // The biquad's transition counts are integers stored bit for bit, not samples.
    auto expectNormal = [](const std::vector<double>& state, const std::string& what,
                           std::size_t integerSlot = SIZE_MAX)
    {
        for (std::size_t i = 0; i < state.size(); ++i)
            if (i != integerSlot)
            {
                EXPECT_NE(std::fpclassify(state[i]), FP_SUBNORMAL) << what << " [" << i << "]";
            }
    };
    const CCoeffs bp = withPoles(0.999, 0.01, 0.001, 0.0, -0.001);
    for (const char* form : {"DCDAW_fltbiqcommon", "DCDAW_fltbiqbp"})
    {
        std::vector<double> state(S::kSize, 0.0), out(signal.size());
        CCoeffs c = bp;
        runKernel("DCDAW_fltbiqi", 1, 44100.0, {state.data(), c.data()});
        runKernel(form, static_cast<std::int32_t>(signal.size()), 0.0,
                  {out.data(), state.data(), signal.data()});
        expectNormal(state, form, S::kCounts);
    }
    for (const CHalfBandDesign& d : kDesigns)
    {
        const std::string name = "DCDAW_flthbf" + std::to_string(d.order());
        std::vector<double> state(zel::halfBandStateSize(d.order())), out(signal.size());
        std::vector<double> coeffs = d.a;
        coeffs.insert(coeffs.end(), d.b.begin(), d.b.end());
        runKernel(name + "i", 1, 0.0, {state.data(), coeffs.data()});
        runKernel(name, static_cast<std::int32_t>(signal.size()), 0.0,
                  {out.data(), state.data(), signal.data()});
        expectNormal(state, d.name);
    }
}

} // namespace
