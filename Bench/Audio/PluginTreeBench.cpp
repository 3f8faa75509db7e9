// The whole plug-in tree from the carried description, run as the host boundary feeds it:
// stereo, 44100 Hz, 32 bands, default settings (meters off), pieces of 512 frames of noise, at
// each oversampling level ("mode" is the "Auto;1x;2x;4x;8x" index). Counters: "ns/sample"
// (CPU time per sample frame) and "realtime" (how many times faster than real time the tree
// runs on one core).
#include "Audio/Plugin/PluginDriver.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace
{

namespace fs = std::filesystem;

constexpr double kRate = 44100.0;
constexpr std::int32_t kFrames = 4096;

// The registries read and write the user's application data: keep them in a scratch folder,
// removed when the benchmark program ends.
struct CScratchConfigHome
{
    CScratchConfigHome()
    {
        std::random_device rd;
        home = fs::temp_directory_path() / ("kelv_bench_appdata_" + std::to_string(rd()));
        fs::create_directories(home);
#ifdef _WIN32
        _putenv_s("XDG_CONFIG_HOME", home.string().c_str());
#else
        setenv("XDG_CONFIG_HOME", home.string().c_str(), 1);
#endif
    }
    ~CScratchConfigHome()
    {
        std::error_code ec;
        fs::remove_all(home, ec);
    }
    CScratchConfigHome(const CScratchConfigHome&) = delete;
    CScratchConfigHome& operator=(const CScratchConfigHome&) = delete;
    fs::path home;
};

void useScratchConfigHome()
{
    static const CScratchConfigHome scratch;
}

void BM_PluginTree(benchmark::State& state)
{
    useScratchConfigHome();
    const auto mode = static_cast<double>(state.range(0)); // "Auto;1x;2x;4x;8x" index
    kelvtest::CPluginDriver driver(kRate, 2);
    if (driver.error())
        return state.SkipWithError(driver.error()->text().c_str());
    if (driver.set("plugin.modMain.oversampling", 0, 0, mode))
        return state.SkipWithError("cannot set the oversampling level");
    std::vector<double> left(kFrames), right(kFrames), outL(kFrames), outR(kFrames);
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> noise(-0.5, 0.5);
    for (std::int32_t i = 0; i < kFrames; ++i)
    {
        left[static_cast<std::size_t>(i)] = noise(rng);
        right[static_cast<std::size_t>(i)] = noise(rng);
    }
    const std::vector<const double*> in = {left.data(), right.data()};
    const std::vector<double*> out = {outL.data(), outR.data()};
    driver.processSilence(8192); // stage changes and fades settle
    if (driver.processInto(in, kFrames, out))
        return state.SkipWithError("processing failed");
    for (auto _ : state)
    {
        (void)driver.processInto(in, kFrames, out);
        benchmark::DoNotOptimize(outL.data());
        benchmark::ClobberMemory();
    }
    // Seconds per sample frame (shown with an SI prefix, "845n" is 845 ns).
    state.counters["ns/sample"] = benchmark::Counter(
        kFrames, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    // Seconds of audio per second of processing (shown as a rate, "26.8/s" runs 26.8 times
    // faster than real time).
    state.counters["realtime"] =
        benchmark::Counter(kFrames / kRate, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_PluginTree)
    ->ArgName("mode")
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond);

} // namespace
