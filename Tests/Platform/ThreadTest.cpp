#include "Platform/Thread.h"
#include "Platform/Time.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

namespace zel::platform
{
namespace
{

TEST(PlatformEvent, IsAutoResetStartsUnsignalledAndTimesOut)
{
    EventHandle event = nullptr;
    ASSERT_EQ(createEvent(&event), 0);
    EXPECT_EQ(waitEvent(event, 0), EWaitResult::timedOut);
    // Two signals before a wait are one signal: the first wait consumes it.
    ASSERT_EQ(setEvent(event), 0);
    ASSERT_EQ(setEvent(event), 0);
    EXPECT_EQ(waitEvent(event, 0), EWaitResult::signalled);
    const double start = monotonicSeconds();
    EXPECT_EQ(waitEvent(event, 60), EWaitResult::timedOut);
    const double elapsed = monotonicSeconds() - start;
    EXPECT_GE(elapsed, 0.055);
    EXPECT_LT(elapsed, 5.0);
    closeEvent(event);
    EXPECT_EQ(waitEvent(nullptr, 0), EWaitResult::failed);
}

struct SShared
{
    EventHandle go = nullptr;
    EventHandle done = nullptr;
    std::atomic<int> value{0};
};

unsigned waitThenSet(void* argument)
{
    auto* shared = static_cast<SShared*>(argument);
    if (waitEvent(shared->go) == EWaitResult::signalled)
        shared->value.store(42);
    setEvent(shared->done);
    return 0;
}

TEST(PlatformThread, RunsWithItsArgumentAndCanBeWaitedForTwiceOrClosedEarly)
{
    for (const bool closeEarly : {false, true})
    {
        SShared shared;
        ASSERT_EQ(createEvent(&shared.go), 0);
        ASSERT_EQ(createEvent(&shared.done), 0);
        ThreadHandle thread = nullptr;
        ASSERT_EQ(createThread(&waitThenSet, &shared, &thread), 0);
        const int priority = setThreadTimeCritical(thread);
        EXPECT_TRUE(priority == 0 || priority == EPERM) << priority;
        if (closeEarly)
            closeThread(thread); // the thread keeps running
        // The thread is blocked on the event until it is signalled.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(shared.value.load(), 0);
        setEvent(shared.go);
        ASSERT_EQ(waitEvent(shared.done, 10000), EWaitResult::signalled);
        EXPECT_EQ(shared.value.load(), 42);
        if (!closeEarly)
        {
            EXPECT_EQ(waitThread(thread), 0);
            EXPECT_EQ(waitThread(thread), 0);
            closeThread(thread);
        }
        // Give a detached thread time to return before the events go away.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        closeEvent(shared.done);
        closeEvent(shared.go);
    }
}

} // namespace
} // namespace zel::platform
