#include "Platform/MessageWindow.h"
#include "Support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace zel::platform
{
namespace
{

using SMessage = std::tuple<unsigned, std::uintptr_t, std::intptr_t>;

class CRecorder : public CMessageReceiver
{
public:
    void onMessage(unsigned message, std::uintptr_t wparam, std::intptr_t lparam) override
    {
        received.emplace_back(message, wparam, lparam);
        if (onEach)
            onEach();
    }
    std::vector<SMessage> received;
    std::function<void()> onEach;
};

double g_now = 0.0;
double testClock()
{
    return g_now;
}

// Each test gets windows of a class of its own: classes live as long as the process.
class MessageWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!messagesNeedPump())
            GTEST_SKIP() << "the system delivers window messages itself";
        g_now = 100.0;
        setMessageClock(&testClock);
        m_class = CText("TestClass.") +
                  CText(::testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_EQ(registerWindowClass(m_class), 0);
        servicePendingMessages(); // nothing left from other tests reaches these windows
    }
    void TearDown() override
    {
        for (WindowHandle w : m_windows)
            destroyMessageWindow(w);
        setMessageClock(nullptr);
    }
    WindowHandle create(CRecorder& receiver)
    {
        WindowHandle window = WindowHandle::none;
        EXPECT_EQ(createMessageWindow(m_class, &receiver, &window), 0);
        m_windows.push_back(window);
        return window;
    }

    CText m_class;
    std::vector<WindowHandle> m_windows;
};

TEST_F(MessageWindow, ClassesAreRegisteredOncePerProcess)
{
    EXPECT_EQ(registerWindowClass(m_class), EEXIST);
    CRecorder receiver;
    WindowHandle window = WindowHandle::none;
    EXPECT_EQ(createMessageWindow(CText("NoSuchClass"), &receiver, &window), ENOENT);
    EXPECT_EQ(window, WindowHandle::none);
}

TEST_F(MessageWindow, HandlesAreNotReused)
{
    CRecorder receiver;
    const WindowHandle first = create(receiver);
    destroyMessageWindow(first);
    const WindowHandle second = create(receiver);
    EXPECT_NE(first, second);
    EXPECT_FALSE(isMessageWindow(first));
    EXPECT_TRUE(isMessageWindow(second));
    EXPECT_EQ(postMessage(first, kUserMessage, 0, 0), EBADF);
    EXPECT_EQ(setTimer(first, 0, 20), EBADF);
}

TEST_F(MessageWindow, PostedMessagesArriveInOrderAndIdenticalOnesMerge)
{
    CRecorder a;
    CRecorder b;
    const WindowHandle wa = create(a);
    const WindowHandle wb = create(b);
    EXPECT_EQ(postMessage(wa, kUserMessage, 1, -1), 0);
    EXPECT_EQ(postMessage(wb, kUserMessage, 1, -1), 0); // other window: not merged
    EXPECT_EQ(postMessage(wa, kUserMessage, 2, -1), 0);
    EXPECT_EQ(postMessage(wa, kUserMessage, 1, -1), 0); // merged with the first
    EXPECT_EQ(postMessage(wa, kUserMessage + 1, 1, -1), 0);
    EXPECT_EQ(servicePendingMessages(), 4u);
    const std::vector<SMessage> expectedA = {
        {kUserMessage, 1, -1}, {kUserMessage, 2, -1}, {kUserMessage + 1, 1, -1}};
    EXPECT_EQ(a.received, expectedA);
    EXPECT_EQ(b.received, std::vector<SMessage>{SMessage(kUserMessage, 1, -1)});
    // Once delivered, the same post queues again.
    EXPECT_EQ(postMessage(wa, kUserMessage, 1, -1), 0);
    EXPECT_EQ(servicePendingMessages(), 1u);
    EXPECT_EQ(servicePendingMessages(), 0u);
}

TEST_F(MessageWindow, PostsToADestroyedWindowAreDropped)
{
    CRecorder a;
    CRecorder b;
    const WindowHandle wa = create(a);
    const WindowHandle wb = create(b);
    ASSERT_EQ(postMessage(wa, kUserMessage, 1, 0), 0);
    ASSERT_EQ(postMessage(wb, kUserMessage, 2, 0), 0);
    // The first handler destroys the other window while its message is still queued.
    a.onEach = [wb] { destroyMessageWindow(wb); };
    EXPECT_EQ(servicePendingMessages(), 1u);
    EXPECT_TRUE(b.received.empty());
}

TEST_F(MessageWindow, HandlersRunOneAtATime)
{
    CRecorder a;
    const WindowHandle wa = create(a);
    std::size_t nested = 99;
    a.onEach = [&]
    {
        nested = servicePendingMessages();
        // A post from a handler waits for the next pump, even for the same message.
        postMessage(wa, kUserMessage, 7, 0);
    };
    ASSERT_EQ(postMessage(wa, kUserMessage, 7, 0), 0);
    EXPECT_EQ(servicePendingMessages(), 1u);
    EXPECT_EQ(nested, 0u);
    a.onEach = nullptr;
    EXPECT_EQ(servicePendingMessages(), 1u);
    EXPECT_EQ(a.received.size(), 2u);
}

TEST_F(MessageWindow, AFullQueueRefusesNewPosts)
{
    CRecorder a;
    const WindowHandle wa = create(a);
    for (std::size_t i = 0; i < kPostQueueCapacity; ++i)
        ASSERT_EQ(postMessage(wa, kUserMessage, i, 0), 0) << i;
    EXPECT_EQ(postMessage(wa, kUserMessage, kPostQueueCapacity, 0), EAGAIN);
    EXPECT_EQ(postMessage(wa, kUserMessage, 0, 0), 0); // still merges
    EXPECT_EQ(servicePendingMessages(), kPostQueueCapacity);
    EXPECT_EQ(postMessage(wa, kUserMessage, kPostQueueCapacity, 0), 0);
    EXPECT_EQ(servicePendingMessages(), 1u);
}

// The audio thread posts wake-ups this way: every post must arrive, in order, and posting
// must never touch the heap.
TEST_F(MessageWindow, PostsFromAnotherThreadAllArriveWithoutAllocating)
{
    CRecorder a;
    const WindowHandle wa = create(a);
    constexpr std::uintptr_t kCount = 5000;
    a.received.reserve(kCount);
    std::size_t posterAllocations = 0;
    std::thread poster(
        [wa, &posterAllocations]
        {
            kelvtest::CCountAllocations counter;
            for (std::uintptr_t i = 0; i < kCount; ++i)
                while (postMessage(wa, kUserMessage, i, 0) == EAGAIN)
                    std::this_thread::yield();
            posterAllocations = counter.count();
        });
    while (a.received.size() < kCount)
        servicePendingMessages();
    poster.join();
    EXPECT_EQ(posterAllocations, 0u);
    ASSERT_EQ(a.received.size(), kCount);
    for (std::uintptr_t i = 0; i < kCount; ++i)
        ASSERT_EQ(std::get<1>(a.received[i]), i);
}

TEST_F(MessageWindow, TimersFireOncePerDuePeriod)
{
    CRecorder a;
    const WindowHandle wa = create(a);
    ASSERT_EQ(setTimer(wa, 3, 20), 0);
    // Times after the start, kept clear of the due times; the timer is due at +20 ms and
    // +40 ms, then stalls: one message for the missed periods, the next a full period later.
    const double t0 = g_now;
    const std::pair<double, std::size_t> steps[] = {{0.019, 0}, {0.021, 1}, {0.039, 0}, {0.041, 1},
                                                    {0.541, 1}, {0.559, 0}, {0.562, 1}};
    std::size_t total = 0;
    for (const auto& [at, ticks] : steps)
    {
        g_now = t0 + at;
        EXPECT_EQ(servicePendingMessages(), ticks) << at;
        total += ticks;
    }
    ASSERT_EQ(a.received.size(), total);
    for (const SMessage& m : a.received)
        EXPECT_EQ(m, SMessage(kTimerMessage, 3, 0));
}

TEST_F(MessageWindow, TimersCanBeRestartedKilledAndDieWithTheirWindow)
{
    CRecorder a;
    CRecorder b;
    const WindowHandle wa = create(a);
    const WindowHandle wb = create(b);
    ASSERT_EQ(setTimer(wa, 0, 50), 0);
    ASSERT_EQ(setTimer(wa, 1, 1), 0); // raised to 10 ms
    ASSERT_EQ(setTimer(wb, 0, 50), 0);
    g_now += 0.009;
    EXPECT_EQ(servicePendingMessages(), 0u);
    g_now += 0.002;
    EXPECT_EQ(servicePendingMessages(), 1u);
    EXPECT_EQ(killTimer(wa, 1), 0);
    EXPECT_EQ(killTimer(wa, 1), EINVAL);
    g_now += 0.030;
    ASSERT_EQ(setTimer(wa, 0, 50), 0); // restarted: due 50 ms from now
    destroyMessageWindow(wb);
    g_now += 0.048;
    EXPECT_EQ(servicePendingMessages(), 0u);
    g_now += 0.004;
    EXPECT_EQ(servicePendingMessages(), 1u);
    EXPECT_EQ(a.received.back(), SMessage(kTimerMessage, 0, 0));
    EXPECT_TRUE(b.received.empty());
}

} // namespace
} // namespace zel::platform
