// Bad audio: NaN, infinities, huge and subnormal samples from the host, silence, and a
// non-finite value made inside the graph. Expected outputs come from fresh instances fed what
// the input guard should make of the samples (written out here), never from the guard itself.
#include "Audio/VST/VstTestHost.h"
#include "Core/AppDataTestSupport.h"
#include "Harness/PluginDriver.h"
#include "Support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <iterator>
#include <limits>
#include <memory>
#include <numbers>
#include <string>
#include <type_traits>

namespace ktest
{
namespace
{

constexpr std::int32_t kChannels = 8;
constexpr float kRate = 48000.0f;
constexpr std::int32_t kBlock = 512;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Host samples beyond this magnitude (+120 dBFS) enter the graph held at it.
constexpr double kHeld = 1e6;

// What the graph should hear of a host sample: NaN and infinities as silence, huge values held
// at +-kHeld, subnormal values as zero.
double heard(double x)
{
    if (!std::isfinite(x) || std::fabs(x) < DBL_MIN)
        return 0.0;
    return std::fabs(x) > kHeld ? std::copysign(kHeld, x) : x;
}

using BadAudioTest = CVstModuleTest;

template <class T>
using CBuffers = CVstTestHost::SBuffers<T>;

// The index of the program with that name, or -1.
std::int32_t programNamed(vst::AEffect* e, const std::string& name)
{
    for (std::int32_t i = 0; i < e->numPrograms; ++i)
    {
        char text[vst::kVstMaxProgNameLen + 8] = {};
        CVstTestHost::dispatch(e, vst::effGetProgramNameIndexed, i, 0, text);
        if (name == text)
            return i;
    }
    return -1;
}

// Runs `in` through a fresh running instance on `program`, in host blocks of kBlock frames.
template <class T>
CBuffers<T> render(CVstTestHost& host, const std::string& program, const CBuffers<T>& in)
{
    const auto frames = static_cast<std::int32_t>(in.data[0].size());
    CBuffers<T> out(kChannels, frames);
    vst::AEffect* e = host.create();
    if (e == nullptr)
        return out;
    CVstTestHost::dispatch(e, vst::effSetProcessPrecision, 0, std::is_same_v<T, double> ? 1 : 0);
    CVstTestHost::dispatch(e, vst::effOpen);
    const std::int32_t index = programNamed(e, program);
    EXPECT_GE(index, 0) << program;
    CVstTestHost::dispatch(e, vst::effSetProgram, 0, index);
    CVstTestHost::dispatch(e, vst::effSetSampleRate, 0, 0, nullptr, kRate);
    CVstTestHost::dispatch(e, vst::effSetBlockSize, 0, kBlock);
    CVstTestHost::dispatch(e, vst::effMainsChanged, 0, 1);
    for (std::int32_t at = 0; at < frames; at += kBlock)
    {
        std::vector<T*> from, to;
        for (std::size_t c = 0; c < kChannels; ++c)
        {
            from.push_back(const_cast<T*>(in.data[c].data()) + at);
            to.push_back(out.pointers[c] + at);
        }
        const std::int32_t n = std::min(kBlock, frames - at);
        if constexpr (std::is_same_v<T, double>)
            e->processDoubleReplacing(e, from.data(), to.data(), n);
        else
            e->processReplacing(e, from.data(), to.data(), n);
    }
    host.close(e);
    return out;
}

// A tone on each of the two routed channels, at a moderate level.
template <class T>
CBuffers<T> tones(std::int32_t frames)
{
    CBuffers<T> s(kChannels, frames);
    for (std::size_t c = 0; c < 2; ++c)
        for (std::size_t i = 0; i < s.data[c].size(); ++i)
            s.data[c][i] =
                static_cast<T>(0.3 * std::sin(2.0 * std::numbers::pi * (c == 0 ? 440.0 : 2500.0) *
                                              static_cast<double>(i) / kRate));
    return s;
}

// Bursts of every kind of bad sample, one after the other in one stream, each starting inside
// a host block and spanning a block boundary; the even ones in channel 0 alone, the odd ones in
// every channel.
template <class T>
void checkBursts(CVstTestHost& host, const char* program)
{
    constexpr T kBad[] = {std::numeric_limits<T>::quiet_NaN(),
                          std::numeric_limits<T>::infinity(),
                          -std::numeric_limits<T>::infinity(),
                          std::numeric_limits<T>::max(),
                          static_cast<T>(-1e30),
                          std::numeric_limits<T>::denorm_min()};
    constexpr std::int32_t kFirst = 2 * kBlock + 100, kLength = 700, kSpacing = 2 * kBlock;
    constexpr auto kCount = static_cast<std::int32_t>(std::size(kBad));
    constexpr std::int32_t kFrames = kFirst + kCount * kSpacing + 2 * kBlock;
    CBuffers<T> dirty = tones<T>(kFrames);
    CBuffers<T> expected = dirty;
    for (std::int32_t b = 0; b < kCount; ++b)
        for (std::size_t c = 0; c < (b % 2 == 0 ? 1u : kChannels); ++c)
            for (std::int32_t i = 0; i < kLength; ++i)
            {
                const auto at = static_cast<std::size_t>(kFirst + b * kSpacing + i);
                dirty.data[c][at] = kBad[b];
                expected.data[c][at] = static_cast<T>(heard(static_cast<double>(kBad[b])));
            }
    const CBuffers<T> got = render(host, program, dirty);
    const CBuffers<T> want = render(host, program, expected);
    // Faults in the host's samples are stopped before the graph: the output is that of a
    // fresh instance fed the guarded samples at every frame, so the recovery time is zero.
    for (std::size_t c = 0; c < kChannels; ++c)
        for (std::size_t i = 0; i < got.data[c].size(); ++i)
        {
            const auto burst = (static_cast<std::int32_t>(i) - kFirst) / kSpacing;
            ASSERT_TRUE(std::isfinite(got.data[c][i]))
                << "channel " << c << " frame " << i << " burst " << burst;
            // Instances differ only by their anti-denormal noise seeds.
            ASSERT_NEAR(got.data[c][i], want.data[c][i], 1e-6 * (1.0 + std::fabs(want.data[c][i])))
                << "channel " << c << " frame " << i << " burst " << burst;
        }
    // The routed channels carry the program's sound, so the comparison means something.
    double level = 0.0;
    for (std::size_t i = kFrames - kBlock; i < static_cast<std::size_t>(kFrames); ++i)
        level = std::max(level, std::fabs(static_cast<double>(got.data[0][i])));
    EXPECT_GT(level, 0.05);
}

TEST_F(BadAudioTest, HostSampleFaultsLeaveNoTrace)
{
    // A 32-bit subnormal is a normal 64-bit value, which the graph computes with at full speed;
    // it is checked here for finiteness and agreement only.
    for (const char* program : {"Default", "Mastering Compression"})
    {
        SCOPED_TRACE(program);
        checkBursts<float>(host, program);
        checkBursts<double>(host, program);
    }
}

TEST_F(BadAudioTest, SilenceGivesTheAntiDenormalFloor)
{
    // The anti-denormal noise is +-1e-11 at the input of the oversampler. The band split sums
    // back to unity, so silence leaves as noise of about that size, lifted by the program's
    // gains (measured: 1.3e-11 for Default, 2.3e-11 for Mastering Compression with its output
    // gain). A state stuck on the signal that came before, or noise added at the wrong place,
    // stands far above this bound; missing noise falls far below the lower one.
    constexpr double kFloor = 4e-11;
    constexpr std::int32_t kSettle = 2 * kBlock, kFrames = 12 * kBlock;
    for (const char* program : {"Default", "Mastering Compression"})
    {
        SCOPED_TRACE(program);
        const CBuffers<double> out = render(host, program, CBuffers<double>(kChannels, kFrames));
        double peak = 0.0;
        for (std::size_t c = 0; c < 2; ++c)
            for (std::size_t i = kSettle; i < out.data[c].size(); ++i)
                peak = std::max(peak, std::fabs(out.data[c][i]));
        EXPECT_LE(peak, kFloor);
        EXPECT_GT(peak, 1e-12); // the noise is there
    }
}

TEST(BadAudioGraphTest, NonFiniteMadeInsideIsSilencedAndCleared)
{
    // A NaN frequency for the band-pass in front of the bands gives NaN coefficients, which
    // poison the filter's recursive state, and from there every band's filters and detectors:
    // without a reset the output stays NaN for good. The piece whose output holds the NaN is
    // written as silence and the pool is cleared of non-finite values, after which the
    // instance runs on, finite, with the filter at rest. Once the frequency is sound again,
    // the biquads' 25 ms coefficient transition brings the filter back; after kRecovery
    // frames the output is within kTolerance of an instance that never saw the NaN (the gain
    // computers still remember the different signal of the NaN period: about 1e-4 then).
    constexpr std::int32_t kRecovery = 4 * kBlock; // 43 ms at 48 kHz
    constexpr double kTolerance = 1e-3;            // 45 dB below the 0.19 output
    constexpr std::int32_t kBlocks = 20, kPoisoned = 8, kRestored = 12;
    CConfigHome home;
    kelvtest::CPluginDriver sick(kRate, 2), well(kRate, 2);
    ASSERT_EQ(sick.error(), nullptr);
    ASSERT_EQ(well.error(), nullptr);
    const std::string freq = "plugin.modMain.modKelvatrone.eq-params.freq";
    for (kelvtest::CPluginDriver* driver : {&sick, &well})
    {
        ASSERT_EQ(driver->set("plugin.modMain.oversampling", 0, 0, 2.0), nullptr); // 2x
        ASSERT_EQ(driver->set("plugin.modMain.modKelvatrone.eq-params.type", 0, 0, 1.0), nullptr);
    }
    const double sound = sick.param(freq)->value(0, 0, 0);
    std::vector<double> left(kBlock), right(kBlock), sickOut[2], wellOut[2];
    for (std::size_t c = 0; c < 2; ++c)
    {
        sickOut[c].assign(kBlock, 0.0);
        wellOut[c].assign(kBlock, 0.0);
    }
    const std::vector<const double*> in = {left.data(), right.data()};
    const std::vector<double*> sickTo = {sickOut[0].data(), sickOut[1].data()};
    const std::vector<double*> wellTo = {wellOut[0].data(), wellOut[1].data()};
    for (std::int32_t block = 0; block < kBlocks; ++block)
    {
        SCOPED_TRACE("block " + std::to_string(block));
        for (std::int32_t i = 0; i < kBlock; ++i)
        {
            const double t = (block * kBlock + i) / static_cast<double>(kRate);
            left[static_cast<std::size_t>(i)] = 0.3 * std::sin(2.0 * std::numbers::pi * 440.0 * t);
            right[static_cast<std::size_t>(i)] =
                0.3 * std::sin(2.0 * std::numbers::pi * 2500.0 * t);
        }
        if (block == kPoisoned || block == kRestored)
        {
            ASSERT_EQ(sick.set(freq, 0, 0, block == kPoisoned ? kNaN : sound), nullptr);
        }
        const std::uint64_t recoveries = sick.wrapper().nonFiniteRecoveries();
        std::size_t allocations = 0;
        {
            kelvtest::CCountAllocations count;
            ASSERT_EQ(sick.processInto(in, kBlock, sickTo), nullptr);
            allocations = count.count();
        }
        ASSERT_EQ(well.processInto(in, kBlock, wellTo), nullptr);
        const bool recovered = sick.wrapper().nonFiniteRecoveries() > recoveries;
        EXPECT_EQ(recovered, block == kPoisoned);
        if (recovered)
        {
            EXPECT_EQ(allocations, 0u);
        }
        const std::int32_t settled = block * kBlock - (kRestored * kBlock + kRecovery);
        for (std::size_t c = 0; c < 2; ++c)
            for (std::int32_t i = 0; i < kBlock; ++i)
            {
                const double v = sickOut[c][static_cast<std::size_t>(i)];
                const double w = wellOut[c][static_cast<std::size_t>(i)];
                ASSERT_TRUE(std::isfinite(v)) << "frame " << i;
                if (recovered)
                {
                    ASSERT_EQ(v, 0.0) << "frame " << i;
                }
                if (block < kPoisoned)
                {
                    ASSERT_NEAR(v, w, 1e-9) << "frame " << i;
                }
                if (settled + i >= 0)
                {
                    ASSERT_NEAR(v, w, kTolerance) << "frame " << i;
                }
            }
    }
    EXPECT_EQ(well.wrapper().nonFiniteRecoveries(), 0u);
}

} // namespace
} // namespace ktest
