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

TEST(PlatformEvent, IsAutoResetAndStartsUnsignalled)
{
    EventHandle event = nullptr;
    ASSERT_EQ(createEvent(&event), 0);
    EXPECT_EQ(waitEvent(event, 0), EWaitResult::timedOut);
    // Two signals before a wait are one signal: the first wait consumes it.
    ASSERT_EQ(setEvent(event), 0);
    ASSERT_EQ(setEvent(event), 0);
    EXPECT_EQ(waitEvent(event, 0), EWaitResult::signalled);
    EXPECT_EQ(waitEvent(event, 0), EWaitResult::timedOut);
    closeEvent(event);
    EXPECT_EQ(waitEvent(nullptr, 0), EWaitResult::failed);
}

TEST(PlatformEvent, TimedWaitLastsAboutTheTimeout)
{
    EventHandle event = nullptr;
    ASSERT_EQ(createEvent(&event), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(waitEvent(event, 60), EWaitResult::timedOut);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(55));
    EXPECT_LT(elapsed, std::chrono::seconds(5));
    closeEvent(event);
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
    if (shared->done != nullptr)
        setEvent(shared->done);
    return 0;
}

TEST(PlatformThread, RunsWithItsArgumentAndCanBeWaitedForTwice)
{
    SShared shared;
    ASSERT_EQ(createEvent(&shared.go), 0);
    ThreadHandle thread = nullptr;
    ASSERT_EQ(createThread(&waitThenSet, &shared, &thread), 0);
    ASSERT_NE(thread, nullptr);
    const int priority = setThreadTimeCritical(thread);
    EXPECT_TRUE(priority == 0 || priority == EPERM) << priority;
    // The thread is blocked on the event until it is signalled.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(shared.value.load(), 0);
    setEvent(shared.go);
    EXPECT_EQ(waitThread(thread), 0);
    EXPECT_EQ(shared.value.load(), 42);
    EXPECT_EQ(waitThread(thread), 0);
    closeThread(thread);
    closeEvent(shared.go);
}

TEST(PlatformThread, ClosedHandleLeavesTheThreadRunning)
{
    SShared shared;
    ASSERT_EQ(createEvent(&shared.go), 0);
    ASSERT_EQ(createEvent(&shared.done), 0);
    ThreadHandle thread = nullptr;
    ASSERT_EQ(createThread(&waitThenSet, &shared, &thread), 0);
    closeThread(thread);
    setEvent(shared.go);
    ASSERT_EQ(waitEvent(shared.done, 10000), EWaitResult::signalled);
    EXPECT_EQ(shared.value.load(), 42);
    // Give the detached thread time to return before the events go away.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    closeEvent(shared.done);
    closeEvent(shared.go);
}

TEST(PlatformTime, FollowsTheSteadyClock)
{
    const double t0 = monotonicSeconds();
    const auto s0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const double elapsed = monotonicSeconds() - t0;
    const double reference =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - s0).count();
    EXPECT_GE(elapsed, 0.029);
    EXPECT_NEAR(elapsed, reference, 0.005);
}

} // namespace
} // namespace zel::platform
