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

// Each test gets windows of a class of its own (classes live as long as the process), with a
// recorder each.
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
        for (int i = 0; i < 2; ++i)
            ASSERT_EQ(createMessageWindow(m_class, &recorder[i], &window[i]), 0);
    }
    void TearDown() override
    {
        for (WindowHandle w : window)
            destroyMessageWindow(w);
        setMessageClock(nullptr);
    }

    CText m_class;
    CRecorder recorder[2];
    WindowHandle window[2] = {WindowHandle::none, WindowHandle::none};
};

TEST_F(MessageWindow, ClassesRegisterOnceAndHandlesAreNotReused)
{
    EXPECT_EQ(registerWindowClass(m_class), EEXIST);
    WindowHandle none = WindowHandle::none;
    EXPECT_EQ(createMessageWindow(CText("NoSuchClass"), &recorder[0], &none), ENOENT);
    EXPECT_EQ(none, WindowHandle::none);
    const WindowHandle first = window[0];
    destroyMessageWindow(first);
    ASSERT_EQ(createMessageWindow(m_class, &recorder[0], &window[0]), 0);
    EXPECT_NE(window[0], first);
    EXPECT_FALSE(isMessageWindow(first));
    EXPECT_TRUE(isMessageWindow(window[0]));
    EXPECT_EQ(postMessage(first, kUserMessage, 0, 0), EBADF);
    EXPECT_EQ(setTimer(first, 0, 20), EBADF);
}

TEST_F(MessageWindow, PostedMessagesArriveInOrderAndIdenticalOnesMerge)
{
    EXPECT_EQ(postMessage(window[0], kUserMessage, 1, -1), 0);
    EXPECT_EQ(postMessage(window[1], kUserMessage, 1, -1), 0); // other window: not merged
    EXPECT_EQ(postMessage(window[0], kUserMessage, 2, -1), 0);
    EXPECT_EQ(postMessage(window[0], kUserMessage, 1, -1), 0); // merged with the first
    EXPECT_EQ(postMessage(window[0], kUserMessage + 1, 1, -1), 0);
    EXPECT_EQ(servicePendingMessages(), 4u);
    const std::vector<SMessage> expected = {
        {kUserMessage, 1, -1}, {kUserMessage, 2, -1}, {kUserMessage + 1, 1, -1}};
    EXPECT_EQ(recorder[0].received, expected);
    EXPECT_EQ(recorder[1].received, std::vector<SMessage>{SMessage(kUserMessage, 1, -1)});
    // Once delivered, the same post queues again.
    EXPECT_EQ(postMessage(window[0], kUserMessage, 1, -1), 0);
    EXPECT_EQ(servicePendingMessages(), 1u);
}

TEST_F(MessageWindow, HandlersRunOneAtATimeAndPostsToDestroyedWindowsAreDropped)
{
    std::size_t nested = 99;
    recorder[0].onEach = [&]
    {
        nested = servicePendingMessages();
        // A post from a handler waits for the next pump, even for the same message.
        postMessage(window[0], kUserMessage, 7, 0);
        // The other window goes while its message is still queued.
        destroyMessageWindow(window[1]);
    };
    ASSERT_EQ(postMessage(window[0], kUserMessage, 7, 0), 0);
    ASSERT_EQ(postMessage(window[1], kUserMessage, 2, 0), 0);
    EXPECT_EQ(servicePendingMessages(), 1u);
    EXPECT_EQ(nested, 0u);
    EXPECT_TRUE(recorder[1].received.empty());
    recorder[0].onEach = nullptr;
    EXPECT_EQ(servicePendingMessages(), 1u);
    EXPECT_EQ(recorder[0].received.size(), 2u);
}

TEST_F(MessageWindow, AFullQueueRefusesNewPosts)
{
    for (std::size_t i = 0; i < kPostQueueCapacity; ++i)
        ASSERT_EQ(postMessage(window[0], kUserMessage, i, 0), 0) << i;
    EXPECT_EQ(postMessage(window[0], kUserMessage, kPostQueueCapacity, 0), EAGAIN);
    EXPECT_EQ(postMessage(window[0], kUserMessage, 0, 0), 0); // still merges
    EXPECT_EQ(servicePendingMessages(), kPostQueueCapacity);
    EXPECT_EQ(postMessage(window[0], kUserMessage, kPostQueueCapacity, 0), 0);
}

// The audio thread posts wake-ups this way: every post must arrive, in order, and posting
// must never touch the heap.
TEST_F(MessageWindow, PostsFromAnotherThreadAllArriveWithoutAllocating)
{
    constexpr std::uintptr_t kCount = 5000;
    std::vector<SMessage>& received = recorder[0].received;
    received.reserve(kCount);
    std::size_t posterAllocations = 0;
    std::thread poster(
        [this, &posterAllocations]
        {
            kelvtest::CCountAllocations counter;
            for (std::uintptr_t i = 0; i < kCount; ++i)
                while (postMessage(window[0], kUserMessage, i, 0) == EAGAIN)
                    std::this_thread::yield();
            posterAllocations = counter.count();
        });
    while (received.size() < kCount)
        servicePendingMessages();
    poster.join();
    EXPECT_EQ(posterAllocations, 0u);
    ASSERT_EQ(received.size(), kCount);
    for (std::uintptr_t i = 0; i < kCount; ++i)
        ASSERT_EQ(std::get<1>(received[i]), i);
}

TEST_F(MessageWindow, TimersFireOncePerDuePeriodAndStopWhenKilled)
{
    ASSERT_EQ(setTimer(window[0], 3, 20), 0);
    ASSERT_EQ(setTimer(window[1], 0, 1), 0); // raised to 10 ms
    EXPECT_EQ(killTimer(window[1], 0), 0);
    EXPECT_EQ(killTimer(window[1], 0), EINVAL);
    // Times after the start, kept clear of the due times; the timer is due at +20 ms and
    // +40 ms, then stalls: one message for the missed periods, the next a full period later.
    const double t0 = g_now;
    const std::pair<double, std::size_t> steps[] = {{0.019, 0}, {0.021, 1}, {0.039, 0}, {0.041, 1},
                                                    {0.541, 1}, {0.559, 0}, {0.562, 1}};
    for (const auto& [at, ticks] : steps)
    {
        g_now = t0 + at;
        EXPECT_EQ(servicePendingMessages(), ticks) << at;
    }
    EXPECT_EQ(recorder[0].received, std::vector<SMessage>(4, SMessage(kTimerMessage, 3, 0)));
    EXPECT_TRUE(recorder[1].received.empty());
}

} // namespace
} // namespace zel::platform
