// The whole plug-in instance (default settings, stereo, 44100 Hz, 512-frame blocks, as
// PluginTreeBench.cpp feeds it) on the same instance with three inputs: a loud two-tone signal,
// the same signal scaled into the subnormal range, and silence; each with the anti-denormal
// noise on and off ("denorm" 1/0). Subnormal input must cost no more than the tone: the input
// stage flushes it to zero and the graph's noise keeps the recursive states away from the
// subnormal range. "ns/frame" is CPU time per sample frame.
#include "Audio/AudioWrapper.h"
#include "Audio/TemporaryConfigHome.h"
#include "Harness/PluginDriver.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <numbers>
#include <vector>

namespace
{

constexpr double kRate = 44100.0;
constexpr std::int32_t kBlock = 512;

enum EInput : std::int64_t
{
    kTone = 0,
    kSubnormal = 1,
    kSilence = 2,
};

void BM_PluginInput(benchmark::State& state)
{
    const auto input = static_cast<EInput>(state.range(0));
    const auto denorm = static_cast<double>(state.range(1));
    kelvbench::CTemporaryConfigHome home;
    {
        kelvtest::CPluginDriver driver(kRate, 2);
        if (driver.error() || driver.set("plugin.modMain.denorm-enable", 0, 0, denorm))
        {
            state.SkipWithError("cannot build the instance or set denorm-enable");
            return;
        }
        // 4.9e-324 is the smallest subnormal; scaling by 2^-1040 keeps a 0.5 tone's shape in
        // the subnormal range.
        const double scale = input == kTone        ? 1.0
                             : input == kSubnormal ? std::ldexp(1.0, -1040)
                                                   : 0.0;
        std::vector<double> left(kBlock), right(kBlock), outLeft(kBlock), outRight(kBlock);
        for (std::int32_t i = 0; i < kBlock; ++i)
        {
            const double t = i / kRate;
            left[static_cast<std::size_t>(i)] =
                scale * 0.5 * std::sin(2.0 * std::numbers::pi * 440.0 * t);
            right[static_cast<std::size_t>(i)] =
                scale * 0.5 * std::sin(2.0 * std::numbers::pi * 2500.0 * t);
        }
        const std::vector<const double*> in = {left.data(), right.data()};
        const std::vector<double*> out = {outLeft.data(), outRight.data()};
        // A second of the signal first: fades settle and the states reach their steady level.
        for (std::int32_t done = 0; done < static_cast<std::int32_t>(kRate); done += kBlock)
            (void)driver.processInto(in, kBlock, out);

        const std::clock_t cpuStart = std::clock();
        for (auto _ : state)
        {
            (void)driver.processInto(in, kBlock, out);
            benchmark::DoNotOptimize(outLeft.data());
            benchmark::DoNotOptimize(outRight.data());
        }
        const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        state.counters["ns/frame"] = cpu / (static_cast<double>(state.iterations()) * kBlock) * 1e9;
        if (driver.error())
            state.SkipWithError("processing failed");
    }
}
BENCHMARK(BM_PluginInput)
    ->ArgNames({"input", "denorm"})
    ->Args({kTone, 1})
    ->Args({kSubnormal, 1})
    ->Args({kSilence, 1})
    ->Args({kTone, 0})
    ->Args({kSubnormal, 0})
    ->Args({kSilence, 0})
    ->Unit(benchmark::kMillisecond);

// The input guard alone on one 512-frame channel of a tone, against the plain conversion it
// replaced; "ns/block" per channel and block.
template <class T, bool kGuarded>
void BM_InputStage(benchmark::State& state)
{
    std::vector<T> in(kBlock);
    std::vector<double> out(kBlock);
    for (std::int32_t i = 0; i < kBlock; ++i)
        in[static_cast<std::size_t>(i)] = static_cast<T>(0.5 * std::sin(0.05 * i));
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(in.data());
        if constexpr (kGuarded)
            zel::CAudioWrapper::guardInput(in.data(), out.data(), kBlock);
        else
            for (std::int32_t i = 0; i < kBlock; ++i)
                out[static_cast<std::size_t>(i)] =
                    static_cast<double>(in[static_cast<std::size_t>(i)]);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_InputStage<float, false>);
BENCHMARK(BM_InputStage<float, true>);
BENCHMARK(BM_InputStage<double, false>);
BENCHMARK(BM_InputStage<double, true>);

} // namespace
