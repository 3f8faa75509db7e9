#include "Core/Thread.h"
#include "Platform/FloatingPoint.h"
#include "Support/Capture.h"
#include "Support/ErrorText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cfenv>
#include <chrono>
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
    const char* end = ""; // "error" or "exception" to end that way
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
        std::this_thread::sleep_for(std::chrono::milliseconds(probe.finishDelayMs));
        probe.finished = true;
        if (std::string(probe.end) == "exception")
            throw std::runtime_error("boom");
        if (std::string(probe.end) == "error")
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
    while (!pred() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return pred();
}

// Starts a thread and waits until its body runs.
void startAndWait(CThread& thread, SProbe& probe)
{
    probe.started = false;
    probe.finished = false;
    ASSERT_EQ(thread.runThread(), nullptr);
    ASSERT_TRUE(eventually([&] { return probe.started.load(); }));
}

class Thread : public ::testing::Test
{
protected:
    kelvtest::CCapture capture;
};

TEST_F(Thread, StartingTwiceFailsAndLeavesItRunning)
{
    SProbe probe;
    CTestThread thread(probe);
    for (int run = 0; run < 2; ++run) // it can run again after stopping
    {
        // Thread creation copies the creator's floating-point state; the body must not see it.
        const int previous = std::fegetround();
        ASSERT_EQ(std::fesetround(FE_UPWARD), 0);
        startAndWait(thread, probe);
        std::fesetround(previous);
        EXPECT_EQ(probe.fpControl & (platform::kFpFrameworkMask | platform::kFpAmbiguous),
                  platform::kFpFrameworkValue);
        const CErrorPtr again = thread.runThread();
        EXPECT_EQ(kelvtest::idAndText(again),
                  "zelstr_CThread_runThread_AlreadyRunning: Thread is already running.");
        EXPECT_TRUE(again && again->trail().at(0).ends_with(" // worker"));
        EXPECT_TRUE(thread.isRunning());
        // The first body still answers wake-ups.
        thread.notifyThread();
        EXPECT_TRUE(eventually([&] { return probe.wakeUps.load() == run + 1; }));
        thread.stopThread();
        EXPECT_FALSE(thread.isRunning());
        EXPECT_TRUE(probe.finished);
    }
    thread.stopThread(); // stopping a stopped thread does nothing
    EXPECT_TRUE(capture.windows().empty());
}

TEST_F(Thread, DestroyingARunningThreadWaitsForItsBody)
{
    SProbe probe;
    probe.finishDelayMs = 50;
    auto thread = std::make_unique<CTestThread>(probe);
    startAndWait(*thread, probe);
    thread.reset();
    EXPECT_TRUE(probe.finished);
}

TEST_F(Thread, BodyErrorsAndExceptionsGoToTheErrorWindow)
{
    for (const char* end : {"error", "exception"})
    {
        SProbe probe;
        probe.end = end;
        CTestThread thread(probe);
        startAndWait(thread, probe);
        thread.stopThread();
    }
    const std::vector<std::string> details = capture.windows();
    ASSERT_EQ(details.size(), 2u);
    EXPECT_NE(details[0].find("|Body failed with 7.\nThreadTest.cpp( "), std::string::npos)
        << details[0];
    EXPECT_NE(details[0].find(" ) // worker"), std::string::npos);
    EXPECT_NE(details[1].find("worker"), std::string::npos);
    EXPECT_NE(details[1].find("boom"), std::string::npos);
}

} // namespace
} // namespace zel
