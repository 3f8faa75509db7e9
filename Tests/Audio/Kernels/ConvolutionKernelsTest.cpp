// The real DFT against a naive DFT, the spectrum products and frame building, and a complete
// fast convolution against direct convolution.

#include "Audio/Kernels/DCDAWRealDFT.h"
#include "Audio/Kernels/FilterKernelTestSupport.h"

#include <string>

namespace
{

using namespace kelvtest;
using zel::CDCDAWCall;

std::vector<double> setupFor(int log2Size)
{
    zel::CDCDAWRealDFTWorkspace workspace;
    std::span<const double> tables;
    EXPECT_EQ(workspace.setup(log2Size, tables), nullptr);
    return {tables.begin(), tables.end()};
}

class RealDFTTest : public CFloatTrapParamTest<int>
{
};

TEST_P(RealDFTTest, ForwardMatchesNaiveDFTAndInverseRestoresTheSignal)
{
    const std::size_t n = std::size_t{1} << GetParam();
    std::vector<double> setup = setupFor(GetParam()), work(n);
    const std::vector<double> signal = randomSignal(n, std::uint32_t(n));
    std::vector<double> x = signal;
    runKernel("DCDAW_rdftf", std::int32_t(n), 0.0, {x.data(), setup.data(), work.data()});
    for (std::size_t k = 0; k <= n / 2 && n <= 2048; ++k)
    {
        const std::complex<double> bin = dftBin(signal.data(), n, double(k));
        const std::complex<double> packed = k == 0       ? x[0]
                                            : k == n / 2 ? x[1]
                                                         : std::complex(x[2 * k], x[2 * k + 1]);
        ASSERT_LT(std::abs(packed - bin), 1e-12 * double(n)) << "bin " << k;
    }
    runKernel("DCDAW_rdfti", std::int32_t(n), 0.0, {x.data(), setup.data(), work.data()});
    for (std::size_t i = 0; i < n; ++i)
        ASSERT_NEAR(x[i], signal[i], 1e-14 * GetParam()) << "sample " << i;
}

INSTANTIATE_TEST_SUITE_P(Log2Sizes, RealDFTTest,
                         ::testing::Values(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 16));

TEST(RealDFTSetup, CachedPerSizeAndCheckedByTheKernel)
{
    zel::CDCDAWRealDFTWorkspace workspace;
    std::span<const double> first, again, small;
    ASSERT_EQ(workspace.setup(10, first), nullptr);
    ASSERT_EQ(workspace.setup(10, again), nullptr);
    ASSERT_EQ(workspace.setup(4, small), nullptr);
    EXPECT_EQ(first.data(), again.data());
    for (int bad : {0, -1, zel::CDCDAWRealDFT::kMaxLog2Size + 1})
    {
        const zel::CErrorPtr err = workspace.setup(bad, again);
        ASSERT_NE(err, nullptr);
        EXPECT_EQ(err->id(), "zelstr_CDCDAWRealDFTWorkspace_setup_UnsupportedSize");
    }
    // A table built for another size (or a size that is no power of two) changes nothing.
    std::vector<double> x = randomSignal(1024, 3), work(1024), before = x;
    std::vector<double> tables(small.begin(), small.end()), large(first.begin(), first.end());
    runKernel("DCDAW_rdftf", 1024, 0.0, {x.data(), tables.data(), work.data()});
    runKernel("DCDAW_rdfti", 16, 0.0, {x.data(), large.data(), work.data()});
    runKernel("DCDAW_rdftf", 1000, 0.0, {x.data(), large.data(), work.data()});
    EXPECT_EQ(x, before);
}

// Packed spectra of N = 2B points multiplied bin by bin, DC and Nyquist as real numbers.
TEST(ConvMult, WholeRangeAndAnySplitEqualTheBinProducts)
{
    constexpr int kLog2Half = 6, kHalf = 64;
    const std::vector<double> a = randomSignal(2 * kHalf, 21), b = randomSignal(2 * kHalf, 22);
    std::vector<double> expected = {a[0] * b[0], a[1] * b[1]};
    for (std::size_t k = 2; k < a.size(); k += 2)
    {
        const auto p = std::complex(a[k], a[k + 1]) * std::complex(b[k], b[k + 1]);
        expected.insert(expected.end(), {p.real(), p.imag()});
    }
    // (first bin, count) partitions of 0 .. B; parts may start before 0 or run past B.
    const std::vector<std::vector<std::pair<int, int>>> splits = {
        {{0, kHalf + 1}},
        {{0, 1}, {1, kHalf - 1}, {kHalf, 1}},
        {{0, 10}, {10, 30}, {40, 25}},
        {{0, 33}, {33, 100}},
        {{-5, 6}, {1, 63}, {64, 7}}};
    for (const auto& split : splits)
    {
        std::vector<double> out(a.size(), 7.0), sum = a, inPlace = a;
        for (const auto& [first, count] : split)
        {
            const std::int32_t n = CDCDAWCall::packConvolutionCount(count, kLog2Half);
            auto pa = const_cast<double*>(a.data()), pb = const_cast<double*>(b.data());
            runKernel("DCDAW_convmult", n, first, {out.data(), pa, pb});
            runKernel("DCDAW_convmultadd", n, first, {sum.data(), pa, pb});
            runKernel("DCDAW_convmult", n, first, {inPlace.data(), inPlace.data(), pb});
        }
        EXPECT_EQ(out, expected) << split.size() << " parts";
        EXPECT_EQ(inPlace, expected) << split.size() << " parts";
        for (std::size_t i = 0; i < sum.size(); ++i)
            ASSERT_NEAR(sum[i], a[i] + expected[i], 1e-15) << i;
    }
    std::vector<double> out(a.size(), 7.0); // bins 5 .. 7 only
    runKernel("DCDAW_convmult", CDCDAWCall::packConvolutionCount(3, kLog2Half), 5.0,
              {out.data(), const_cast<double*>(a.data()), const_cast<double*>(b.data())});
    for (std::size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(out[i], i >= 10 && i < 16 ? expected[i] : 7.0) << i;
}

TEST(ConvAcquire, FrameHoldsCurrentThenPreviousValuesAndHistoryKeepsCurrent)
{
    std::vector<double> frame(8, -1.0), history = {10, 20, 30, 40}, in1 = {1, 2, 3, 4};
    runKernel("DCDAW_convacquire", CDCDAWCall::packConvolutionCount(4, 2), 0.5,
              {frame.data(), history.data(), in1.data()});
    EXPECT_EQ(frame, (std::vector<double>{0.5, 1, 1.5, 2, 10, 20, 30, 40}));
    std::vector<double> in2 = {5, 6, 7, 8}; // in two calls of two samples
    for (int i : {0, 2})
        runKernel("DCDAW_convacquire", CDCDAWCall::packConvolutionCount(2, 2), 2.0,
                  {&frame[std::size_t(i)], &history[std::size_t(i)], &in2[std::size_t(i)]});
    EXPECT_EQ(frame, (std::vector<double>{10, 12, 14, 16, 0.5, 1, 1.5, 2}));
    EXPECT_EQ(history, (std::vector<double>{10, 12, 14, 16}));
}

// Block-wise fast convolution from the kernels alone: frames of [current, previous] block, the
// product in two calls, the first half of the inverse kept; with unit frame gain it equals
// direct convolution.
TEST(FastConvolution, EqualsDirectConvolutionWithUnitGain)
{
    constexpr int kLog2Half = 7, kHalf = 128, kSize = 256;
    const std::vector<double> taps = randomSignal(kHalf + 1, 31), in = randomSignal(1280, 32);
    std::vector<double> setup = setupFor(kLog2Half + 1), work(kSize), filter(kSize, 0.0);
    std::copy(taps.begin(), taps.end(), filter.begin());
    runKernel("DCDAW_rdftf", kSize, 0.0, {filter.data(), setup.data(), work.data()});
    std::vector<double> frame(kSize), history(kHalf, 0.0), out;
    for (std::size_t pos = 0; pos < in.size(); pos += kHalf)
    {
        runKernel("DCDAW_convacquire", CDCDAWCall::packConvolutionCount(kHalf, kLog2Half), 1.0,
                  {frame.data(), history.data(), const_cast<double*>(&in[pos])});
        runKernel("DCDAW_rdftf", kSize, 0.0, {frame.data(), setup.data(), work.data()});
        for (auto [first, count] : {std::pair{0, 50}, {50, kHalf + 1 - 50}})
            runKernel("DCDAW_convmult", CDCDAWCall::packConvolutionCount(count, kLog2Half), first,
                      {frame.data(), frame.data(), filter.data()});
        runKernel("DCDAW_rdfti", kSize, 0.0, {frame.data(), setup.data(), work.data()});
        out.insert(out.end(), frame.begin(), frame.begin() + kHalf);
    }
    for (std::size_t i = 0; i < in.size(); ++i)
    {
        double direct = 0.0;
        for (std::size_t k = 0; k < taps.size() && k <= i; ++k)
            direct += taps[k] * in[i - k];
        ASSERT_NEAR(out[i], direct, 1e-11) << "sample " << i;
    }
}

} // namespace
