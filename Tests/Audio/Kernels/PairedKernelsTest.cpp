// The paired forms of the biquads and the gain computer against their single forms: two calls
// run together must leave exactly (bit for bit) the outputs and states that running them one
// after the other leaves, including the cases where the paired form falls back.
#include "Audio/Kernels/DCDAWFilterKernels.h"
#include "Audio/Kernels/DCDAWGainComputer.h"

#include "KernelTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace
{

using kelvtest::randomSignal;
using kelvtest::runKernel;
using zel::CDCDAWBiquadState;
using zel::CDCDAWCall;
using Samples = std::vector<double>;

constexpr double kFs = 44100.0;

// One lane: output, state and input buffers.
struct CLane
{
    Samples out, state, in;
};

CDCDAWCall callOf(const zel::CDCDAWKernel& kernel, std::int32_t n, CLane& lane, bool inPlace)
{
    CDCDAWCall call;
    call.kernel = &kernel;
    call.n = n;
    call.data[0] = lane.out.data();
    call.data[1] = lane.state.data();
    call.data[2] = inPlace ? lane.out.data() : lane.in.data();
    return call;
}

// Runs a and b through the paired form and copies of them through the single form, twice in
// a row (so that states carried between calls are compared too), and compares everything.
void expectPairedEqualsSingles(const char* name, CLane a, CLane b, std::int32_t nA, std::int32_t nB,
                               bool inPlaceA = false)
{
    const zel::CDCDAWKernel* kernel = zel::findDCDAWKernel(name);
    ASSERT_NE(kernel, nullptr);
    const zel::DCDAWPairFunction paired = zel::findDCDAWPairFunction(*kernel);
    ASSERT_NE(paired, nullptr) << name;
    CLane sa = a, sb = b;
    for (int round = 0; round < 2; ++round)
    {
        if (inPlaceA)
        {
            a.out = a.in;
            sa.out = sa.in;
        }
        CDCDAWCall pa = callOf(*kernel, nA, a, inPlaceA), pb = callOf(*kernel, nB, b, false);
        paired(&pa, &pb);
        CDCDAWCall ca = callOf(*kernel, nA, sa, inPlaceA), cb = callOf(*kernel, nB, sb, false);
        kernel->function(&ca);
        kernel->function(&cb);
        EXPECT_EQ(a.out, sa.out) << "round " << round;
        EXPECT_EQ(b.out, sb.out) << "round " << round;
        EXPECT_EQ(a.state, sa.state) << "round " << round;
        EXPECT_EQ(b.state, sb.state) << "round " << round;
    }
}

TEST(PairedKernels, BiquadPairsMatchTheSingleFormsInEveryForm)
{
    const char* const forms[] = {"DCDAW_fltbiqcommon", "DCDAW_fltbiqlp", "DCDAW_fltbiqhp",
                                 "DCDAW_fltbiqbp", "DCDAW_fltbiqnotch"};
    // Two different resonant sections (b0, b1, b2, a1, a2).
    double first[5] = {0.02, 0.0, -0.02, -1.95, 0.96};
    double second[5] = {0.3, 0.1, 0.2, -1.2, 0.5};
    double retuned[5] = {0.05, 0.01, -0.04, -1.8, 0.85};
    // {what, counts of lanes A and B, lane B moving to new coefficients, lane A in place}
    const std::tuple<const char*, std::int32_t, std::int32_t, bool, bool> cases[] = {
        {"steady, one block", 512, 512, false, false},
        {"steady, odd count", 37, 37, false, false},
        {"steady, in place", 100, 100, false, true},
        {"one lane in a transition", 300, 300, true, false},
        {"different counts", 64, 65, false, false},
    };
    for (const char* form : forms)
        for (const auto& [what, nA, nB, transitionB, inPlaceA] : cases)
        {
            SCOPED_TRACE(std::string(form) + ": " + what);
            CLane a{Samples(600), Samples(CDCDAWBiquadState::kSize), randomSignal(600, 1)};
            CLane b{Samples(600), Samples(CDCDAWBiquadState::kSize), randomSignal(600, 2)};
            runKernel("DCDAW_fltbiqi", 1, kFs, {a.state.data(), first});
            runKernel("DCDAW_fltbiqi", 1, kFs, {b.state.data(), second});
            if (transitionB)
                runKernel("DCDAW_fltbiqu", 1, kFs, {b.state.data(), retuned});
            expectPairedEqualsSingles(form, a, b, nA, nB, inPlaceA);
        }
}

TEST(PairedKernels, GainComputerPairsMatchTheSingleFormsInEveryVariant)
{
    // Release faster than attack takes the recursion's other side; "other" has another
    // threshold, ratio and pair of times in the same variant.
    using CLaw = kelvtest::CKelvCompLaw;
    const CLaw down{}, up{3.0}, inverse{0.25, true}, fastRelease{0.25, false, 0.2, 0.001};
    const CLaw other{0.5, false, 0.003, 0.4, 0.3};
    // {what, laws of lanes A and B, their counts, lane A in place}
    const std::tuple<const char*, CLaw, CLaw, std::int32_t, std::int32_t, bool> cases[] = {
        {"downward, one block", down, other, 512, 512, false},
        {"upward", up, up, 200, 200, false},
        {"inverse", inverse, inverse, 129, 129, false},
        {"faster release", fastRelease, fastRelease, 64, 64, false},
        {"short block", down, down, 1, 1, false},
        {"in place", down, other, 65, 65, true},
        {"directions differ (falls back)", down, up, 100, 100, false},
        {"inverse only on one lane (falls back)", down, inverse, 100, 100, false},
        {"faster coefficient differs (falls back)", down, fastRelease, 100, 100, false},
        {"counts differ (falls back)", down, down, 64, 100, false},
    };
    for (const char* name : {"DCDAW_kelvcomp", "DCDAW_kelvcomprms"})
        for (const auto& [what, lawA, lawB, nA, nB, inPlaceA] : cases)
        {
            SCOPED_TRACE(std::string(name) + ": " + what);
            // Levels around the thresholds, with silent stretches.
            Samples inA = randomSignal(600, 3, 0.0, 0.6), inB = randomSignal(600, 4, 0.0, 0.6);
            for (std::size_t i = 100; i < 160; ++i)
                inA[i] = inB[i + 50] = 0.0;
            CLane a{Samples(600), kelvtest::kelvCompRecord(lawA, kFs), inA};
            CLane b{Samples(600), kelvtest::kelvCompRecord(lawB, kFs), inB};
            expectPairedEqualsSingles(name, a, b, nA, nB, inPlaceA);
        }
}

TEST(PairedKernels, OnlyRecurrenceBoundKernelsHavePairedForms)
{
    for (const char* name : {"DCDAW_fltbiqbp", "DCDAW_kelvcomp", "DCDAW_kelvcomprms"})
        EXPECT_NE(zel::findDCDAWPairFunction(*zel::findDCDAWKernel(name)), nullptr) << name;
    for (const char* name : {"DCDAW_mul2", "DCDAW_abs", "DCDAW_fltbiqi", "DCDAW_kelvcompu"})
        EXPECT_EQ(zel::findDCDAWPairFunction(*zel::findDCDAWKernel(name)), nullptr) << name;
}

} // namespace
