#include "Platform/Thread.h"
#include "Platform/Time.h"

#include <gtest/gtest.h>

namespace zel::platform
{
namespace
{

// Threads themselves are exercised through CThread; events carry its wake-ups.
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

} // namespace
} // namespace zel::platform
