// The audio thread never waits for the user-interface side. A second thread takes every lock
// the editor side owns (the three registries', every parameter's, both collectors', the undo
// history's, the wrapper's and the application data's) and keeps them until the audio thread
// has processed its blocks, or for a long time-out. A process call that waited on any of them
// could only return after the time-out, so the result does not depend on the machine's speed.
#include "Audio/AudioInterfaceBase.h"
#include "Audio/AudioParamRegistry.h"
#include "Audio/AudioVizCollector.h"
#include "Audio/Plugin/PluginTestSupport.h"
#include "Core/ApplicationData.h"
#include "Support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace kelvtest
{
namespace
{

using zel::CCriticalSection;

// Holds a set of critical sections until released or until a long time-out passes. The locks
// are spread over threads of at most 32 each (ThreadSanitizer tracks a bounded number of locks
// held by one thread).
class CLockHolder
{
public:
    explicit CLockHolder(const std::vector<CCriticalSection*>& locks)
    {
        const std::shared_future<void> release = m_release.get_future().share();
        for (std::size_t first = 0; first < locks.size(); first += kPerThread)
        {
            std::vector<CCriticalSection*> mine(
                locks.begin() + static_cast<std::ptrdiff_t>(first),
                locks.begin() +
                    static_cast<std::ptrdiff_t>(std::min(first + kPerThread, locks.size())));
            std::promise<void> held;
            std::future<void> isHeld = held.get_future();
            m_threads.emplace_back(
                [this, mine, release, held = std::move(held)]() mutable
                {
                    for (CCriticalSection* cs : mine)
                        cs->enter();
                    held.set_value();
                    if (release.wait_for(std::chrono::seconds(60)) == std::future_status::timeout)
                        m_timedOut = true;
                    for (auto it = mine.rbegin(); it != mine.rend(); ++it)
                        (*it)->leave();
                });
            isHeld.wait();
        }
    }
    // Lets go and reports whether a holder had to give up by itself.
    bool releaseAndTimedOut()
    {
        m_release.set_value();
        for (std::thread& t : m_threads)
            t.join();
        return m_timedOut;
    }

private:
    static constexpr std::size_t kPerThread = 32;
    std::promise<void> m_release;
    std::vector<std::thread> m_threads;
    std::atomic<bool> m_timedOut{false};
};

std::vector<CCriticalSection*> editorSideLocks(CPluginDriver& d)
{
    zel::CAudioWrapper& w = d.wrapper();
    std::vector<CCriticalSection*> locks = {&w.wrapperLock(), &w.interfaceBase().undoLock(),
                                            &w.collector().lock(), &w.vizCollector().lock()};
    for (const char* name : {"param-registry", "routing-registry", "ui-registry"})
        if (zel::CAudioParamRegistry* r = d.registry(name))
            locks.push_back(&r->registryLock());
    w.collector().forEachParam([&](const zel::CText&, zel::CAudioParam& p)
                               { locks.push_back(&p.lock()); });
    if (zel::CApplication* app = zel::CApplication::instance())
        locks.push_back(&app->globalData().criticalSection());
    return locks;
}

TEST_F(CPluginTest, AudioThreadKeepsRunningWhileTheEditorHoldsEveryLock)
{
    CPluginDriver& d = make(48000.0, 2);
    const std::int32_t frames = 512;
    std::vector<double> left(frames), right(frames), outL(frames), outR(frames);
    for (std::int32_t i = 0; i < frames; ++i)
        left[static_cast<std::size_t>(i)] = right[static_cast<std::size_t>(i)] =
            0.5 * std::sin(0.05 * i);
    const std::vector<const double*> in = {left.data(), right.data()};
    const std::vector<double*> out = {outL.data(), outR.data()};
    d.processSilence(48000);

    // Steady state, nothing held: the blocks allocate nothing.
    {
        CCountAllocations count;
        for (int i = 0; i < 8; ++i)
            ASSERT_EQ(idAndText(d.processInto(in, frames, out)), "no error");
        EXPECT_EQ(count.count(), 0u);
    }

    // Changes waiting for the audio thread when the locks are taken: a knob and a whole program.
    ASSERT_EQ(idAndText(d.set("plugin.modMain.modOutGain.gain", 0, 0, -6.0)), "no error");
    ASSERT_EQ(idAndText(d.registry()->activateFactoryPreset(4)), "no error");

    std::vector<CCriticalSection*> locks = editorSideLocks(d);
    ASSERT_GT(locks.size(), 30u);
    CLockHolder holder(locks);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(idAndText(d.processInto(in, frames, out)), "no error");
    EXPECT_FALSE(holder.releaseAndTimedOut()) << "a process call waited for an editor-side lock";
    EXPECT_TRUE(std::isfinite(outL[100]) && std::abs(outL[100]) > 0.0);
}

} // namespace
} // namespace kelvtest
