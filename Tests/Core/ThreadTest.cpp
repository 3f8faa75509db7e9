#include "Core/Thread.h"
#include "Platform/ErrorWindow.h"
#include "Platform/FloatingPoint.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cfenv>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace zel
{
namespace
{

// What a test body reports; kept outside the thread object so that the body never touches
// the subclass after its destructor has run.
struct SProbe
{
    std::atomic<int> wakeUps{0};
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    std::atomic<unsigned> fpControl{0};
    int finishDelayMs = 0;
    enum class EEnd
    {
        none,
        error,
        exception
    } end = EEnd::none;
};

class CTestThread : public CThread
{
public:
    explicit CTestThread(SProbe& probe) : CThread(CText("worker")), m_probe(probe) {}

protected:
    CErrorPtr threadBody() override
    {
        SProbe& probe = m_probe;
        probe.fpControl = platform::getFpControl();
        probe.started = true;
        while (waitForUpdate() && !stopRequested())
            ++probe.wakeUps;
        if (probe.finishDelayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(probe.finishDelayMs));
        probe.finished = true;
        if (probe.end == SProbe::EEnd::exception)
            throw std::runtime_error("boom");
        if (probe.end == SProbe::EEnd::error)
            return ZEL_ERROR("worker", "zelstr_Test_body", "Body failed with %1.", {"7"});
        return nullptr;
    }

private:
    SProbe& m_probe;
};

template <typename Pred>
bool eventually(Pred pred)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!pred())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class Thread : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_previous = platform::setErrorWindowHook(
            [this](std::string_view, std::string_view, std::string_view details)
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_shown.emplace_back(details);
            });
    }
    void TearDown() override { platform::setErrorWindowHook(m_previous); }
    std::vector<std::string> shown()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_shown;
    }

private:
    platform::ErrorWindowHook m_previous;
    std::mutex m_mutex;
    std::vector<std::string> m_shown;
};

TEST_F(Thread, StartingTwiceFailsAndLeavesItRunning)
{
    SProbe probe;
    CTestThread thread(probe);
    ASSERT_EQ(thread.runThread(), nullptr);
    ASSERT_TRUE(eventually([&] { return probe.started.load(); }));
    const CErrorPtr again = thread.runThread();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->id(), "zelstr_CThread_runThread_AlreadyRunning");
    EXPECT_EQ(again->text(), "Thread is already running.");
    ASSERT_EQ(again->trail().size(), 1u);
    EXPECT_NE(again->trail()[0].find(" // worker"), std::string::npos);
    EXPECT_TRUE(thread.isRunning());
    // The first body still answers wake-ups.
    thread.notifyThread();
    EXPECT_TRUE(eventually([&] { return probe.wakeUps.load() == 1; }));
    thread.stopThread();
    EXPECT_FALSE(thread.isRunning());
    EXPECT_TRUE(probe.finished);
    EXPECT_TRUE(shown().empty());
}

TEST_F(Thread, DestroyingARunningThreadWaitsForItsBody)
{
    SProbe probe;
    probe.finishDelayMs = 50;
    auto thread = std::make_unique<CTestThread>(probe);
    ASSERT_EQ(thread->runThread(), nullptr);
    ASSERT_TRUE(eventually([&] { return probe.started.load(); }));
    thread.reset();
    EXPECT_TRUE(probe.finished);
}

TEST_F(Thread, CanRunAgainAfterStopping)
{
    SProbe probe;
    CTestThread thread(probe);
    for (int run = 0; run < 3; ++run)
    {
        probe.started = false;
        ASSERT_EQ(thread.runThread(), nullptr) << run;
        ASSERT_TRUE(eventually([&] { return probe.started.load(); }));
        thread.stopThread();
    }
    thread.stopThread(); // stopping a stopped thread does nothing
    EXPECT_EQ(probe.wakeUps.load(), 0);
}

TEST_F(Thread, BodyRunsWithTheFrameworkFloatingPointState)
{
    // Thread creation copies the creator's floating-point state; the body must not see it.
    const int previous = std::fegetround();
    ASSERT_EQ(std::fesetround(FE_UPWARD), 0);
    SProbe probe;
    CTestThread thread(probe);
    const CErrorPtr started = thread.runThread();
    std::fesetround(previous);
    ASSERT_EQ(started, nullptr);
    ASSERT_TRUE(eventually([&] { return probe.started.load(); }));
    thread.stopThread();
    EXPECT_EQ(probe.fpControl & (platform::kFpFrameworkMask | platform::kFpAmbiguous),
              platform::kFpFrameworkValue);
}

TEST_F(Thread, BodyErrorsAndExceptionsGoToTheErrorWindow)
{
    for (const SProbe::EEnd end : {SProbe::EEnd::error, SProbe::EEnd::exception})
    {
        SProbe probe;
        probe.end = end;
        CTestThread thread(probe);
        ASSERT_EQ(thread.runThread(), nullptr);
        ASSERT_TRUE(eventually([&] { return probe.started.load(); }));
        thread.stopThread();
    }
    const std::vector<std::string> details = shown();
    ASSERT_EQ(details.size(), 2u);
    EXPECT_EQ(details[0].rfind("Body failed with 7.\nThreadTest.cpp( ", 0), 0u) << details[0];
    EXPECT_NE(details[0].find(" ) // worker"), std::string::npos);
    EXPECT_NE(details[1].find("worker"), std::string::npos);
    EXPECT_NE(details[1].find("boom"), std::string::npos);
}

} // namespace
} // namespace zel
