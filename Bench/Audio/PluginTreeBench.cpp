// The whole plug-in instance built from the carried description and fed the way the host
// boundary feeds it: stereo, 44100 Hz, 512-frame blocks of a loud two-tone signal, default
// settings, with the default 32 bands and the largest layout of 64, and at 32 bands with each
// oversampling level ("mode" is the "Auto;1x;2x;4x;8x" index). Counters, from CPU time:
// "ns/frame" (per sample frame), "ms/block" (per 512-frame block), "realtime" (the share of
// real time the processing takes: 44100 / frames processed per CPU second), "speed" (its
// inverse: how many times faster than real time); "calls/block" counts the kernel calls.
#include "Audio/DCDAWContext.h"
#include "Audio/TemporaryConfigHome.h"
#include "Harness/PluginDriver.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace
{

constexpr double kRate = 44100.0;
constexpr std::int32_t kBlock = 512;

void BM_PluginTree(benchmark::State& state)
{
    const auto bands = static_cast<double>(state.range(0));
    const auto mode = static_cast<double>(state.range(1));
    kelvbench::CTemporaryConfigHome home;
    kelvtest::CPluginDriver driver(kRate, 2);
    if (driver.error())
    {
        state.SkipWithError(driver.error()->text().c_str());
        return;
    }
    if (driver.set(std::string(kelvtest::CPluginDriver::kKelv) + "bandcount", 0, 0, bands))
    {
        state.SkipWithError("cannot set the band count");
        return;
    }
    if (driver.set("plugin.modMain.oversampling", 0, 0, mode))
    {
        state.SkipWithError("cannot set the oversampling level");
        return;
    }
    driver.processSilence(static_cast<std::int32_t>(kRate)); // layout and fades settle

    std::vector<double> left(kBlock), right(kBlock), outLeft(kBlock), outRight(kBlock);
    for (std::int32_t i = 0; i < kBlock; ++i)
    {
        const double t = i / kRate;
        left[static_cast<std::size_t>(i)] = 0.5 * std::sin(2.0 * std::numbers::pi * 440.0 * t);
        right[static_cast<std::size_t>(i)] = 0.5 * std::sin(2.0 * std::numbers::pi * 2500.0 * t);
    }
    const std::vector<const double*> in = {left.data(), right.data()};
    const std::vector<double*> out = {outLeft.data(), outRight.data()};
    (void)driver.processInto(in, kBlock, out);

    const std::uint64_t callsBefore = driver.context().issuedCallCount();
    const std::clock_t cpuStart = std::clock(); // the process's CPU time: this thread alone
    for (auto _ : state)
    {
        (void)driver.processInto(in, kBlock, out);
        benchmark::DoNotOptimize(outLeft.data());
        benchmark::DoNotOptimize(outRight.data());
    }
    const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    const auto blocks = static_cast<double>(state.iterations());
    const double perFrame = cpu / (blocks * kBlock);
    state.counters["ns/frame"] = perFrame * 1e9;
    state.counters["ms/block"] = perFrame * kBlock * 1e3;
    state.counters["realtime"] = perFrame * kRate;
    state.counters["speed"] = 1.0 / (perFrame * kRate);
    state.counters["calls/block"] =
        static_cast<double>(driver.context().issuedCallCount() - callsBefore) / blocks;
    if (driver.error())
        state.SkipWithError("processing failed");
}
BENCHMARK(BM_PluginTree)
    ->ArgNames({"bands", "mode"})
    ->Args({32, 1})
    ->Args({64, 1})
    ->Args({32, 2})
    ->Args({32, 3})
    ->Args({32, 4})
    ->Unit(benchmark::kMillisecond);

} // namespace
