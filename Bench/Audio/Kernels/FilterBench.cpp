// The filter kernel family at block length 512: biquads (steady and during a coefficient
// transition), half-band filters, convolution support, and the real DFT, the latter beside the
// reference FFT library when the build found it. Counters give time per sample (or per bin).

#include "Audio/Kernels/DCDAWFilterKernels.h"
#include "Audio/Kernels/DCDAWRealDFT.h"

#include <benchmark/benchmark.h>

#if defined(KELV_BENCH_FFTW)
#include <fftw3.h>
#endif

#include <array>
#include <cmath>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace
{

constexpr int kBlock = 512;

const zel::CDCDAWKernel& kernelNamed(std::string_view name)
{
    for (const zel::CDCDAWKernel& k : zel::dcdawFilterKernels())
        if (name == k.name)
            return k;
    return zel::dcdawFilterKernels()[0];
}

std::vector<double> noise(std::size_t n)
{
    std::mt19937 gen(1);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> v(n);
    for (double& s : v)
        s = dist(gen);
    return v;
}

void call(const zel::CDCDAWKernel& k, std::int32_t n, double x, std::span<double* const> args)
{
    zel::CDCDAWCall c;
    c.kernel = &k;
    c.n = n;
    c.x = x;
    for (std::size_t i = 0; i < args.size(); ++i)
        c.data[i] = args[i];
    k.function(&c);
}

void perSample(benchmark::State& state, std::int64_t count)
{
    state.counters["time/sample"] = benchmark::Counter(
        double(count), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Biquad of each output form; range(1) = 1 keeps a coefficient transition running throughout.
void BM_Biquad(benchmark::State& state, const char* name)
{
    std::vector<double> in = noise(kBlock), out(kBlock), st(zel::CDCDAWBiquadState::kSize);
    double a[5] = {0.1, 0.2, 0.1, -1.6, 0.7}, b[5] = {0.2, 0.1, 0.2, -1.5, 0.6};
    call(kernelNamed("DCDAW_fltbiqi"), 1, 1e9, std::array{st.data(), a});
    const zel::CDCDAWKernel& k = kernelNamed(name);
    const bool fading = state.range(0) != 0;
    for (auto _ : state)
    {
        if (fading && zel::CDCDAWBiquadState::remaining(st.data()) < kBlock)
            call(kernelNamed("DCDAW_fltbiqu"), 1, 0, std::array{st.data(), b});
        call(k, kBlock, 0.0, std::array{out.data(), st.data(), in.data()});
        benchmark::DoNotOptimize(out.data());
    }
    perSample(state, kBlock);
}
BENCHMARK_CAPTURE(BM_Biquad, common, "DCDAW_fltbiqcommon")->Arg(0)->Arg(1);
BENCHMARK_CAPTURE(BM_Biquad, lp, "DCDAW_fltbiqlp")->Arg(0);
BENCHMARK_CAPTURE(BM_Biquad, bp, "DCDAW_fltbiqbp")->Arg(0);

void BM_HalfBand(benchmark::State& state)
{
    const auto order = static_cast<int>(state.range(0));
    const std::string name = "DCDAW_flthbf" + std::to_string(order);
    std::vector<double> in = noise(kBlock), out(kBlock), st(zel::halfBandStateSize(order));
    std::vector<double> coeffs(static_cast<std::size_t>(order));
    for (std::size_t i = 0; i < coeffs.size(); ++i)
        coeffs[i] = 0.05 + 0.9 * double(i) / double(order);
    call(kernelNamed(name + "i"), 1, 0, std::array{st.data(), coeffs.data()});
    const zel::CDCDAWKernel& k = kernelNamed(name);
    for (auto _ : state)
    {
        call(k, kBlock, 0.0, std::array{out.data(), st.data(), in.data()});
        benchmark::DoNotOptimize(out.data());
    }
    perSample(state, kBlock);
}
BENCHMARK(BM_HalfBand)->Arg(2)->Arg(8)->Arg(16);

void BM_ConvAcquire(benchmark::State& state)
{
    std::vector<double> in = noise(kBlock), frame(2 * kBlock), history(kBlock);
    const zel::CDCDAWKernel& k = kernelNamed("DCDAW_convacquire");
    for (auto _ : state)
    {
        call(k, zel::CDCDAWCall::packConvolutionCount(kBlock, 9), 0.5,
             std::array{frame.data(), history.data(), in.data()});
        benchmark::DoNotOptimize(frame.data());
    }
    perSample(state, kBlock);
}
BENCHMARK(BM_ConvAcquire);

// Whole spectrum of a 1024-point transform: 513 bins.
void BM_ConvMult(benchmark::State& state, const char* name)
{
    std::vector<double> a = noise(2 * kBlock), b = noise(2 * kBlock), out(2 * kBlock);
    const zel::CDCDAWKernel& k = kernelNamed(name);
    for (auto _ : state)
    {
        call(k, zel::CDCDAWCall::packConvolutionCount(kBlock + 1, 9), 0.0,
             std::array{out.data(), a.data(), b.data()});
        benchmark::DoNotOptimize(out.data());
    }
    perSample(state, kBlock + 1);
}
BENCHMARK_CAPTURE(BM_ConvMult, mult, "DCDAW_convmult");
BENCHMARK_CAPTURE(BM_ConvMult, multadd, "DCDAW_convmultadd");

// Forward then inverse transform of range(0) points.
void BM_RealDFT(benchmark::State& state)
{
    const auto size = static_cast<std::int32_t>(state.range(0));
    const int log2Size = static_cast<int>(std::lround(std::log2(size)));
    std::vector<double> setup(zel::CDCDAWRealDFT::setupLength(log2Size));
    zel::CDCDAWRealDFT::buildSetup(log2Size, setup.data());
    std::vector<double> data = noise(std::size_t(size)), work(static_cast<std::size_t>(size));
    const zel::CDCDAWKernel& fwd = kernelNamed("DCDAW_rdftf");
    const zel::CDCDAWKernel& inv = kernelNamed("DCDAW_rdfti");
    for (auto _ : state)
    {
        call(fwd, size, 0.0, std::array{data.data(), setup.data(), work.data()});
        call(inv, size, 0.0, std::array{data.data(), setup.data(), work.data()});
        benchmark::DoNotOptimize(data.data());
    }
    perSample(state, size);
}
BENCHMARK(BM_RealDFT)->Arg(256)->Arg(1024)->Arg(4096);

#if defined(KELV_BENCH_FFTW)
// The same round trip with the reference library's in-place half-complex transforms.
void BM_RealDFTReference(benchmark::State& state)
{
    const auto size = static_cast<int>(state.range(0));
    double* data = fftw_alloc_real(std::size_t(size));
    fftw_plan fwd = fftw_plan_r2r_1d(size, data, data, FFTW_R2HC, FFTW_MEASURE);
    fftw_plan inv = fftw_plan_r2r_1d(size, data, data, FFTW_HC2R, FFTW_MEASURE);
    const std::vector<double> input = noise(std::size_t(size));
    std::copy(input.begin(), input.end(), data);
    const double scale = 1.0 / size; // our inverse divides by N; pay the same pass here
    for (auto _ : state)
    {
        fftw_execute(fwd);
        fftw_execute(inv);
        for (int i = 0; i < size; ++i)
            data[i] *= scale;
        benchmark::DoNotOptimize(data);
    }
    fftw_destroy_plan(fwd);
    fftw_destroy_plan(inv);
    fftw_free(data);
    perSample(state, size);
}
BENCHMARK(BM_RealDFTReference)->Arg(256)->Arg(1024)->Arg(4096);
#endif

} // namespace
