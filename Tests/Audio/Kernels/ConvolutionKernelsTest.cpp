// The real DFT against a naive DFT, the spectrum products and frame building, a complete fast
// convolution against direct convolution, and the family-wide n <= 0 contract.

#include "Audio/Kernels/DCDAWRealDFT.h"
#include "Audio/Kernels/FilterKernelTestSupport.h"

#include <algorithm>
#include <map>
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

// Spectrum of a real signal in the packed layout, by the defining sum.
std::vector<double> naivePackedDFT(const std::vector<double>& x)
{
    const std::size_t n = x.size();
    std::vector<double> out(n);
    for (std::size_t k = 0; k <= n / 2; ++k)
    {
        std::complex<double> acc = 0.0;
        for (std::size_t m = 0; m < n; ++m)
            acc +=
                x[m] * std::polar(1.0, -2.0 * std::numbers::pi * double((k * m) % n) / double(n));
        if (k == 0)
            out[0] = acc.real();
        else if (k == n / 2)
            out[1] = acc.real();
        else
        {
            out[2 * k] = acc.real();
            out[2 * k + 1] = acc.imag();
        }
    }
    return out;
}

class RealDFTTest : public CFloatTrapParamTest<int>
{
};

TEST_P(RealDFTTest, ForwardMatchesNaiveDFTAndInverseRestoresTheSignal)
{
    const int log2Size = GetParam();
    const std::size_t n = std::size_t{1} << log2Size;
    std::vector<double> setup = setupFor(log2Size);
    const std::vector<double> signal = randomSignal(n, 100 + std::uint32_t(log2Size));
    std::vector<double> data = signal, work(n);
    runKernel("DCDAW_rdftf", std::int32_t(n), 0.0, {data.data(), setup.data(), work.data()});
    if (log2Size <= 11)
    {
        const std::vector<double> expected = naivePackedDFT(signal);
        for (std::size_t i = 0; i < n; ++i)
            ASSERT_NEAR(data[i], expected[i], 1e-11 * double(n)) << "element " << i;
    }
    runKernel("DCDAW_rdfti", std::int32_t(n), 0.0, {data.data(), setup.data(), work.data()});
    for (std::size_t i = 0; i < n; ++i)
        ASSERT_NEAR(data[i], signal[i], 1e-13 * log2Size) << "sample " << i;
}

INSTANTIATE_TEST_SUITE_P(Sizes, RealDFTTest,
                         ::testing::Values(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 16));

TEST(RealDFTSetup, WorkspaceCachesPerSizeAndKernelRefusesAForeignTable)
{
    zel::CDCDAWRealDFTWorkspace workspace;
    std::span<const double> first, again, other;
    ASSERT_EQ(workspace.setup(10, first), nullptr);
    ASSERT_EQ(workspace.setup(10, again), nullptr);
    ASSERT_EQ(workspace.setup(4, other), nullptr);
    EXPECT_EQ(first.data(), again.data());
    EXPECT_EQ(first.size(), zel::CDCDAWRealDFT::setupLength(10));
    for (int bad : {0, -1, zel::CDCDAWRealDFT::kMaxLog2Size + 1})
    {
        std::span<const double> none;
        const zel::CErrorPtr err = workspace.setup(bad, none);
        ASSERT_NE(err, nullptr) << bad;
        EXPECT_EQ(err->id(), "zelstr_CDCDAWRealDFTWorkspace_setup_UnsupportedSize");
    }
    // A table of 16 points handed to a 1024-point call (and the reverse) changes nothing.
    std::vector<double> small(other.begin(), other.end()), data = randomSignal(1024, 3);
    const std::vector<double> before = data;
    std::vector<double> work(1024);
    runKernel("DCDAW_rdftf", 1024, 0.0, {data.data(), small.data(), work.data()});
    EXPECT_EQ(data, before);
    std::vector<double> large(first.begin(), first.end());
    runKernel("DCDAW_rdfti", 16, 0.0, {data.data(), large.data(), work.data()});
    EXPECT_EQ(data, before);
}

// Packed spectra of size 2B multiplied bin by bin, DC and Nyquist as real numbers.
std::vector<double> naiveProduct(const std::vector<double>& a, const std::vector<double>& b)
{
    std::vector<double> out(a.size());
    out[0] = a[0] * b[0];
    out[1] = a[1] * b[1];
    for (std::size_t k = 2; k < a.size(); k += 2)
    {
        const std::complex<double> p =
            std::complex<double>(a[k], a[k + 1]) * std::complex<double>(b[k], b[k + 1]);
        out[k] = p.real();
        out[k + 1] = p.imag();
    }
    return out;
}

class ConvMultTest : public CFloatTrapTest
{
protected:
    static constexpr int kLog2Half = 6;
    static constexpr std::int32_t kHalf = 1 << kLog2Half;
    std::vector<double> a = randomSignal(2 * kHalf, 21), b = randomSignal(2 * kHalf, 22);

    void mult(const char* kernel, std::vector<double>& out, std::int32_t first, std::int32_t count,
              const std::vector<double>& x, const std::vector<double>& y)
    {
        runKernel(kernel, CDCDAWCall::packConvolutionCount(count, kLog2Half), first,
                  {out.data(), const_cast<double*>(x.data()), const_cast<double*>(y.data())});
    }
};

TEST_F(ConvMultTest, WholeRangeTreatsDCAndNyquistAsReal)
{
    std::vector<double> out(2 * kHalf, 0.0);
    mult("DCDAW_convmult", out, 0, kHalf + 1, a, b);
    EXPECT_EQ(out, naiveProduct(a, b));
    // In place into the first factor.
    std::vector<double> inPlace = a;
    mult("DCDAW_convmult", inPlace, 0, kHalf + 1, inPlace, b);
    EXPECT_EQ(inPlace, naiveProduct(a, b));
}

TEST_F(ConvMultTest, SplitCallsEqualOneCallAndAddAccumulates)
{
    const std::vector<double> expected = naiveProduct(a, b);
    // (first bin, count) partitions of 0 .. B, including a range running past the end.
    const std::vector<std::vector<std::pair<int, int>>> splits = {
        {{0, 1}, {1, kHalf - 1}, {kHalf, 1}},
        {{0, 10}, {10, 30}, {40, 25}},
        {{0, 33}, {33, 100}},
        {{-5, 6}, {1, 63}, {64, 7}},
    };
    for (const auto& split : splits)
    {
        std::vector<double> out(2 * kHalf, 7.0), sum = a;
        for (const auto& [first, count] : split)
        {
            mult("DCDAW_convmult", out, first, count, a, b);
            mult("DCDAW_convmultadd", sum, first, count, a, b);
        }
        EXPECT_EQ(out, expected) << split.size() << " parts from " << split[1].first;
        for (std::size_t i = 0; i < sum.size(); ++i)
            EXPECT_NEAR(sum[i], a[i] + expected[i], 1e-15) << i;
    }
    // Bins outside the range stay untouched.
    std::vector<double> out(2 * kHalf, 7.0);
    mult("DCDAW_convmult", out, 5, 3, a, b);
    for (std::size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(out[i], i >= 10 && i < 16 ? expected[i] : 7.0) << i;
}

TEST(ConvAcquire, BuildsCurrentThenPreviousFrameHalvesAndKeepsHistory)
{
    constexpr int kLog2Half = 2; // B = 4
    std::vector<double> frame(8, -1.0), history = {10, 20, 30, 40};
    std::vector<double> in1 = {1, 2, 3, 4}, in2 = {5, 6, 7, 8};
    runKernel("DCDAW_convacquire", CDCDAWCall::packConvolutionCount(4, kLog2Half), 0.5,
              {frame.data(), history.data(), in1.data()});
    EXPECT_EQ(frame, (std::vector<double>{0.5, 1, 1.5, 2, 10, 20, 30, 40}));
    EXPECT_EQ(history, (std::vector<double>{0.5, 1, 1.5, 2}));
    // Two samples at a time, the second call starting where the first ended.
    runKernel("DCDAW_convacquire", CDCDAWCall::packConvolutionCount(2, kLog2Half), 2.0,
              {frame.data(), history.data(), in2.data()});
    runKernel("DCDAW_convacquire", CDCDAWCall::packConvolutionCount(2, kLog2Half), 2.0,
              {frame.data() + 2, history.data() + 2, in2.data() + 2});
    EXPECT_EQ(frame, (std::vector<double>{10, 12, 14, 16, 0.5, 1, 1.5, 2}));
    EXPECT_EQ(history, (std::vector<double>{10, 12, 14, 16}));
}

// Block-wise fast convolution built from the kernels alone equals direct convolution: frames
// of [current block, previous block], spectra multiplied in two calls, the first half of the
// inverse transform kept.
TEST(FastConvolution, EqualsDirectConvolutionWithUnitGain)
{
    constexpr int kLog2Half = 7;
    constexpr std::int32_t kHalf = 1 << kLog2Half, kSize = 2 * kHalf;
    const std::vector<double> taps = randomSignal(kHalf + 1, 31);
    const std::vector<double> input = randomSignal(10 * kHalf, 32);

    std::vector<double> setup = setupFor(kLog2Half + 1), work(kSize);
    std::vector<double> filter(kSize, 0.0);
    std::copy(taps.begin(), taps.end(), filter.begin());
    runKernel("DCDAW_rdftf", kSize, 0.0, {filter.data(), setup.data(), work.data()});

    std::vector<double> frame(kSize), history(kHalf, 0.0), output;
    const std::int32_t acquire = CDCDAWCall::packConvolutionCount(kHalf, kLog2Half);
    for (std::size_t pos = 0; pos < input.size(); pos += kHalf)
    {
        runKernel("DCDAW_convacquire", acquire, 1.0,
                  {frame.data(), history.data(), const_cast<double*>(input.data() + pos)});
        runKernel("DCDAW_rdftf", kSize, 0.0, {frame.data(), setup.data(), work.data()});
        runKernel("DCDAW_convmult", CDCDAWCall::packConvolutionCount(50, kLog2Half), 0.0,
                  {frame.data(), frame.data(), filter.data()});
        runKernel("DCDAW_convmult", CDCDAWCall::packConvolutionCount(kHalf + 1 - 50, kLog2Half),
                  50.0, {frame.data(), frame.data(), filter.data()});
        runKernel("DCDAW_rdfti", kSize, 0.0, {frame.data(), setup.data(), work.data()});
        output.insert(output.end(), frame.begin(), frame.begin() + kHalf);
    }
    for (std::size_t i = 0; i < input.size(); ++i)
    {
        double direct = 0.0;
        for (std::size_t k = 0; k < taps.size() && k <= i; ++k)
            direct += taps[k] * input[i - k];
        ASSERT_NEAR(output[i], direct, 1e-11) << "sample " << i;
    }
}

// Every kernel of the family given n = 0 or a negative n leaves all its buffers as they were.
TEST(FilterKernelFamily, NonPositiveCountsChangeNothing)
{
    for (const zel::CDCDAWKernel& kernel : zel::dcdawFilterKernels())
    {
        for (std::int32_t n : {0, -1, -1000})
        {
            std::vector<std::vector<double>> buffers;
            CDCDAWCall call;
            call.kernel = &kernel;
            call.n = n;
            call.x = 44100.0;
            for (int i = 0; i < kernel.argCount; ++i)
            {
                buffers.push_back(randomSignal(256, std::uint32_t(i + 1)));
                call.data[i] = buffers.back().data();
            }
            const auto before = buffers;
            kernel.function(&call);
            EXPECT_EQ(buffers, before) << kernel.name << " n = " << n;
        }
    }
}

// The family's names, argument counts and write masks, as modules resolve them.
TEST(FilterKernelFamily, TableListsEveryKernelWithItsShape)
{
    std::map<std::string, std::pair<int, int>> expected = {
        {"DCDAW_fltbiqi", {2, 1}},      {"DCDAW_fltbiqu", {2, 1}},
        {"DCDAW_fltbiqcommon", {3, 3}}, {"DCDAW_fltbiqlp", {3, 3}},
        {"DCDAW_fltbiqhp", {3, 3}},     {"DCDAW_fltbiqbp", {3, 3}},
        {"DCDAW_fltbiqnotch", {3, 3}},  {"DCDAW_convacquire", {3, 3}},
        {"DCDAW_convmult", {3, 1}},     {"DCDAW_convmultadd", {3, 1}},
        {"DCDAW_rdftf", {3, 7}},        {"DCDAW_rdfti", {3, 7}},
    };
    for (int order = 2; order <= 16; order += 2)
    {
        expected["DCDAW_flthbf" + std::to_string(order)] = {3, 3};
        expected["DCDAW_flthbf" + std::to_string(order) + "i"] = {2, 1};
    }
    std::map<std::string, std::pair<int, int>> actual;
    for (const zel::CDCDAWKernel& k : zel::dcdawFilterKernels())
        actual[k.name] = {k.argCount, k.writeMask};
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(zel::dcdawFilterKernels().size(), expected.size());
}

} // namespace
