// The dynamics kernels at a block of 512 samples: the gain computer in its loop variants, the
// level meters and the correlation meter. "time/sample" is the CPU time per sample.
#include "Audio/Kernels/DCDAWGainComputer.h"
#include "Audio/Kernels/DCDAWKernel.h"
#include "Audio/Kernels/DCDAWMeterKernels.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string_view>
#include <vector>

namespace
{

constexpr int kBlock = 512;
constexpr double kRate = 48000.0;

const zel::CDCDAWKernel& kernel(std::string_view name)
{
    for (const zel::CDCDAWKernel& k : zel::dcdawDynamicsKernels())
        if (name == k.name)
            return k;
    std::abort();
}

// Rectified noise whose level wanders across a threshold of 0.1, so that the above/below
// decision changes from sample to sample as it does with music.
std::vector<double> levelSignal(int n, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 0.12);
    std::vector<double> v(static_cast<std::size_t>(n));
    for (double& x : v)
        x = std::fabs(noise(rng));
    return v;
}

void call(const zel::CDCDAWKernel& k, int n, double x, std::initializer_list<double*> args)
{
    zel::CDCDAWCall c;
    c.kernel = &k;
    c.n = n;
    c.x = x;
    int i = 0;
    for (double* a : args)
        c.data[i++] = a;
    k.function(&c);
}

void setCounters(benchmark::State& state)
{
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
    state.counters["time/sample"] = benchmark::Counter(
        kBlock, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Arguments: slope R (x100), inverse (0/1), RMS detector (0/1).
void BM_KelvComp(benchmark::State& state)
{
    std::vector<double> st(zel::kKelvCompFieldCount, 0.0);
    st[zel::kKelvCompThreshold] = 0.1;
    st[zel::kKelvCompSlope] = static_cast<double>(state.range(0)) / 100.0;
    st[zel::kKelvCompRange] = 31.62;
    st[zel::kKelvCompAttackTime] = 0.01;
    st[zel::kKelvCompReleaseTime] = 0.15;
    zel::setKelvCompInverse(st.data(), state.range(1) != 0);
    call(kernel("DCDAW_kelvcompi"), 1, kRate, {st.data()});
    const zel::CDCDAWKernel& run =
        kernel(state.range(2) != 0 ? "DCDAW_kelvcomprms" : "DCDAW_kelvcomp");
    const std::vector<double> in = levelSignal(kBlock, 1);
    std::vector<double> out(kBlock);
    for (auto _ : state)
    {
        call(run, kBlock, 0.0, {out.data(), st.data(), const_cast<double*>(in.data())});
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    setCounters(state);
}
BENCHMARK(BM_KelvComp)
    ->ArgNames({"R%", "inverse", "rms"})
    ->Args({25, 0, 0})
    ->Args({400, 0, 0})
    ->Args({25, 1, 0})
    ->Args({400, 1, 0})
    ->Args({25, 0, 1})
    ->Args({25, 1, 1});

// Argument: 0 meter, 1 meterc, 2 meterd, 3 metersub.
void BM_Meter(benchmark::State& state)
{
    static constexpr std::string_view kNames[] = {"DCDAW_meter", "DCDAW_meterc", "DCDAW_meterd",
                                                  "DCDAW_metersub"};
    const auto variant = static_cast<std::size_t>(state.range(0));
    std::vector<double> st(zel::kMeterFieldCount, 0.0);
    zel::setMeterSizes(st.data(), 30, 1600);
    st[zel::kMeterIntegrationTime] = 0.1;
    st[zel::kMeterReleaseTime] = 0.5;
    st[zel::kMeterThirdTime] = 0.1;
    std::vector<double> ring(30);
    std::vector<double> result(zel::kMeterResultFieldCount);
    call(kernel("DCDAW_meteri"), 1, kRate, {ring.data(), st.data()});
    std::vector<double> a = levelSignal(kBlock, 2);
    std::vector<double> b = levelSignal(kBlock, 3);
    const zel::CDCDAWKernel& k = kernel(kNames[variant]);
    for (auto _ : state)
    {
        if (variant == 2)
            call(k, kBlock, 0.0, {ring.data(), st.data(), a.data(), b.data()});
        else if (variant == 3)
            call(k, kBlock, 1.0, {ring.data(), st.data(), result.data(), a.data()});
        else
            call(k, kBlock, 0.0, {ring.data(), st.data(), a.data()});
        benchmark::ClobberMemory();
    }
    setCounters(state);
}
BENCHMARK(BM_Meter)->ArgName("variant")->DenseRange(0, 3);

void BM_MeterCorr(benchmark::State& state)
{
    std::vector<double> st(zel::kCorrFieldCount, 0.0);
    st[zel::kCorrFrequency] = 1.0;
    call(kernel("DCDAW_metercorri"), 1, kRate, {st.data()});
    std::vector<double> l = levelSignal(kBlock, 4);
    std::vector<double> r = levelSignal(kBlock, 5);
    const zel::CDCDAWKernel& k = kernel("DCDAW_metercorr");
    for (auto _ : state)
    {
        call(k, kBlock, 0.0, {st.data(), l.data(), r.data()});
        benchmark::ClobberMemory();
    }
    setCounters(state);
}
BENCHMARK(BM_MeterCorr);

} // namespace
