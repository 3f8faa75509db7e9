// A host's two threads at once, through the module's binary interface: the audio thread
// processes (and automates, as hosts play automation there) while the user-interface thread
// automates every parameter, switches programs, reads and writes program and bank chunks and
// asks for display texts. Nothing may crash or race (this file also runs under
// ThreadSanitizer), the output stays finite, steady processing allocates nothing, and the
// state the instance ends in is whole: its bank carries into a new instance unchanged.
#include "Audio/VST/VstTestHost.h"
#include "Support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>

namespace ktest
{
namespace
{

constexpr std::int32_t kFrames = 256;

using ConcurrentHostTest = CVstModuleTest;

// One block of a tone through the 32-bit entry; false when any output sample is not finite.
bool processTone(vst::AEffect* e, CVstTestHost::SBuffers<float>& in,
                 CVstTestHost::SBuffers<float>& out, std::int64_t& phase)
{
    for (std::int32_t i = 0; i < kFrames; ++i, ++phase)
        for (auto& channel : in.data)
            channel[static_cast<std::size_t>(i)] =
                0.3f * static_cast<float>(std::sin(0.031 * static_cast<double>(phase)));
    e->processReplacing(e, in.pointers.data(), out.pointers.data(), kFrames);
    for (const auto& channel : out.data)
        for (float v : channel)
            if (!std::isfinite(v))
                return false;
    return true;
}

TEST_F(ConcurrentHostTest, AudioAndUserInterfaceThreadsAtOnce)
{
    vst::AEffect* e = host.createRunning(48000.0f, kFrames);
    ASSERT_NE(e, nullptr);
    const std::int32_t channels = e->numInputs;
    CVstTestHost::SBuffers<float> in(channels, kFrames), out(channels, kFrames);
    std::int64_t phase = 0;

    // Steady state first: once warm, processing allocates nothing, also while the host plays
    // automation on the audio thread ("1OGain", every block).
    const auto automate = [e](int i)
    { e->setParameter(e, 7, 0.4f + 0.01f * static_cast<float>(i % 10)); };
    for (int i = 0; i < 60; ++i)
    {
        automate(i);
        ASSERT_TRUE(processTone(e, in, out, phase));
    }
    {
        kelvtest::CCountAllocations count;
        for (int i = 0; i < 20; ++i)
        {
            automate(i);
            processTone(e, in, out, phase);
        }
        EXPECT_EQ(count.count(), 0u);
    }

    std::atomic<bool> stop{false};
    std::atomic<int> badBlocks{0};
    std::atomic<int> blocks{0};
    std::thread audio(
        [&]
        {
            std::int64_t audioPhase = 0;
            std::uint32_t n = 0;
            while (!stop.load())
            {
                // Automation played by the host on the audio thread: output gain and mix.
                e->setParameter(e, 1, static_cast<float>((n++ % 64) / 63.0));
                if (!processTone(e, in, out, audioPhase))
                    ++badBlocks;
                ++blocks;
            }
        });

    std::mt19937 rng(7);
    std::uniform_int_distribution<std::int32_t> param(0, e->numParams - 1);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    std::vector<std::uint8_t> lastProgram;
    for (int op = 0; op < 240; ++op)
    {
        switch (op % 6)
        {
        case 0:
        case 1:
            e->setParameter(e, param(rng), value(rng));
            break;
        case 2:
            CVstTestHost::dispatch(e, vst::effSetProgram, 0, op % e->numPrograms);
            break;
        case 3:
            lastProgram = CVstTestHost::chunk(e, 1);
            break;
        case 4:
            if (!lastProgram.empty())
            {
                EXPECT_EQ(CVstTestHost::dispatch(e, vst::effSetChunk, 1,
                                                 static_cast<std::intptr_t>(lastProgram.size()),
                                                 lastProgram.data()),
                          1);
            }
            break;
        default:
        {
            std::vector<std::uint8_t> bank = CVstTestHost::chunk(e, 0);
            EXPECT_FALSE(bank.empty());
            CVstTestHost::text(e, vst::effGetParamDisplay, param(rng));
            break;
        }
        }
    }
    stop = true;
    audio.join();
    EXPECT_EQ(badBlocks.load(), 0);
    EXPECT_GT(blocks.load(), 0);

    // The bank the instance ends with is whole: a new instance takes it and gives it back and,
    // once the host selects the same program (a bank does not carry the selection), holds the
    // same program.
    const std::vector<std::uint8_t> bank = CVstTestHost::chunk(e, 0);
    ASSERT_FALSE(bank.empty());
    vst::AEffect* copy = host.create();
    ASSERT_NE(copy, nullptr);
    ASSERT_EQ(CVstTestHost::dispatch(copy, vst::effSetChunk, 0,
                                     static_cast<std::intptr_t>(bank.size()),
                                     const_cast<std::uint8_t*>(bank.data())),
              1);
    EXPECT_EQ(CVstTestHost::chunk(copy, 0), bank);
    CVstTestHost::dispatch(copy, vst::effSetProgram, 0,
                           CVstTestHost::dispatch(e, vst::effGetProgram));
    EXPECT_EQ(CVstTestHost::chunk(copy, 1), CVstTestHost::chunk(e, 1));
}

} // namespace
} // namespace ktest
