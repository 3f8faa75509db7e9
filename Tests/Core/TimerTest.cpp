// Timers: rate and interval to period, arming and restarting, ticks through the message pump
// with an injected clock, the floating-point state of tick handlers, and release.

#include "Core/Timer.h"
#include "Core/Log.h"
#include "ObjectTestSupport.h"
#include "Platform/FloatingPoint.h"

#include <cfenv>
#include <string>
#include <vector>

using namespace ktest;
using zel::CText;
using zel::CTimer;
namespace platform = zel::platform;

namespace
{

double g_now = 0.0;
double testClock()
{
    return g_now;
}

// Counts ticks, records the floating-point state they run in, fails when told to.
class CTickCounter : public CObject
{
public:
    static void registerClass(zel::CClassInfo& info)
    {
        CObject::registerClass(info);
        info.event<&CTickCounter::onTick>("on-tick");
    }
    CErrorPtr onTick(CObject&)
    {
        ++ticks;
        fpControl = platform::getFpControl();
        if (failNext)
        {
            failNext = false;
            return ZEL_ERROR(fullName().toUtf8(), "zelstr_Test_tick", "Tick %1 failed.",
                             {std::to_string(ticks)});
        }
        return nullptr;
    }
    int ticks = 0;
    unsigned fpControl = 0;
    bool failNext = false;
};

class CTimers : public CObjectModelTest
{
protected:
    void SetUp() override
    {
        if (!platform::messagesNeedPump())
            GTEST_SKIP() << "the system delivers timer messages itself";
        CObjectModelTest::SetUp();
        ASSERT_FALSE(registration.add<CTickCounter>("test:tick-counter"));
        g_now = 50.0;
        platform::setMessageClock(&testClock);
        platform::servicePendingMessages();
    }
    void TearDown() override { platform::setMessageClock(nullptr); }

    CTimer* timer(const char* name, std::vector<std::pair<CText, CText>> attributes)
    {
        CObject* created = nullptr;
        const CErrorPtr err =
            loadElement(*root, {"core:timer", name, std::move(attributes), {}}, &created);
        EXPECT_FALSE(err) << (err ? err->details() : "");
        return dynamic_cast<CTimer*>(created);
    }
    CTickCounter* counterFor(CTimer& source)
    {
        CObject* created = child(*root, "test:tick-counter", "counter");
        auto* counter = dynamic_cast<CTickCounter*>(created);
        EXPECT_FALSE(CObject::listenObject(source, "tick", *counter, "on-tick"));
        return counter;
    }
    // Advances the clock to `at` seconds after start and serves the messages.
    std::size_t pumpAt(double start, double at)
    {
        g_now = start + at;
        return platform::servicePendingMessages();
    }

    CFakeApplication application; // keeps loaded objects writable
};

TEST_F(CTimers, RatesAndIntervalsGiveTheArmedPeriod)
{
    struct SCase
    {
        const char* attribute;
        const char* value;
        unsigned periodMs;
    };
    const SCase cases[] = {
        {"fps", "30", 20},          {"fps", "25", 40},         {"fps", "0", 20},
        {"fps", "60", 10},          {"fps", "40", 15},         {"fps", "-5", 20},
        {"fps", "0.0001", 20},      {"fps", "0,5", 2000},      {"fps", "1000", 1},
        {"fps", "29.5", 34},        {"interval", "0.05", 50},  {"interval", "0", 33},
        {"interval", "0.0001", 33}, {"interval", "0.0025", 3}, {"interval", "0.0205", 21},
    };
    for (const SCase& c : cases)
    {
        CTimer* t = timer("t", {{c.attribute, c.value}});
        ASSERT_NE(t, nullptr);
        EXPECT_TRUE(t->isRunning()) << c.attribute << "=" << c.value;
        EXPECT_EQ(t->armedPeriodMs(), c.periodMs) << c.attribute << "=" << c.value;
        t->destroy();
    }
    EXPECT_DOUBLE_EQ(CTimer::rateToInterval(7.0), 1.0 / 7.0);
    EXPECT_EQ(CTimer::intervalToMs(1e30), 0x7FFFFFFFu);
}

TEST_F(CTimers, WithoutAPeriodItStaysStopped)
{
    CTimer* t = timer("t", {});
    ASSERT_NE(t, nullptr);
    EXPECT_FALSE(t->isRunning());
    EXPECT_TRUE(platform::isMessageWindow(t->window()));
    EXPECT_EQ(t->armCount(), 0u);
    // A period set later does not start it; only a running timer is re-armed.
    ASSERT_FALSE(t->setAttribute("fps", "30"));
    EXPECT_FALSE(t->isRunning());
}

TEST_F(CTimers, TheSamePeriodDoesNotRestartTheTimer)
{
    const double start = g_now;
    CTimer* t = timer("t", {{"fps", "30"}});
    CTickCounter* counter = counterFor(*t);
    ASSERT_EQ(t->armCount(), 1u);
    g_now = start + 0.015;
    ASSERT_FALSE(t->setAttribute("fps", "30"));
    ASSERT_FALSE(t->setAttribute("interval", "0,02")); // the same 20 ms
    EXPECT_EQ(t->armCount(), 1u);
    // Still due 20 ms after the start, not after the second setting.
    EXPECT_EQ(pumpAt(start, 0.021), 1u);
    EXPECT_EQ(counter->ticks, 1);

    ASSERT_FALSE(t->setAttribute("fps", "25"));
    EXPECT_EQ(t->armCount(), 2u);
    EXPECT_EQ(t->armedPeriodMs(), 40u);
    EXPECT_EQ(pumpAt(start, 0.059), 0u); // re-armed at +21 ms: due at +61 ms
    EXPECT_EQ(pumpAt(start, 0.062), 1u);
}

TEST_F(CTimers, TicksArriveThroughThePump)
{
    const double start = g_now;
    CTimer* t = timer("t", {{"fps", "60"}});
    CTickCounter* counter = counterFor(*t);
    const std::pair<double, int> steps[] = {{0.005, 0}, {0.011, 1}, {0.019, 1},
                                            {0.021, 2}, {0.031, 3}, {0.500, 4}};
    for (const auto& [at, ticks] : steps)
    {
        pumpAt(start, at);
        EXPECT_EQ(counter->ticks, ticks) << at;
    }
}

TEST_F(CTimers, AHandlerErrorIsLoggedAndTheTimerKeepsRunning)
{
    std::vector<std::string> lines;
    const zel::CLogSink previous =
        zel::setDiagLogSink([&lines](std::string_view line) { lines.emplace_back(line); });
    const double start = g_now;
    CTimer* t = timer("t", {{"fps", "30"}});
    CTickCounter* counter = counterFor(*t);
    counter->failNext = true;
    pumpAt(start, 0.021);
    pumpAt(start, 0.041);
    zel::setDiagLogSink(previous);
    EXPECT_EQ(counter->ticks, 2);
    EXPECT_TRUE(t->isRunning());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Tick 1 failed.\nTimerTest.cpp( ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(" // root.counter"), std::string::npos) << lines[0];
}

TEST_F(CTimers, TicksRunWithTheFrameworkFloatingPointState)
{
    const double start = g_now;
    CTimer* t = timer("t", {{"fps", "30"}});
    CTickCounter* counter = counterFor(*t);
    const int previous = std::fegetround();
    ASSERT_EQ(std::fesetround(FE_UPWARD), 0);
    pumpAt(start, 0.021);
    const int after = std::fegetround();
    std::fesetround(previous);
    ASSERT_EQ(counter->ticks, 1);
    EXPECT_EQ(counter->fpControl & (platform::kFpFrameworkMask | platform::kFpAmbiguous),
              platform::kFpFrameworkValue);
    EXPECT_EQ(after, FE_UPWARD); // restored after the message
}

TEST_F(CTimers, ReleaseStopsTheTimerAndDestroysItsWindow)
{
    const double start = g_now;
    CTimer* first = timer("a", {{"fps", "30"}});
    CTimer* second = timer("b", {{"fps", "30"}}); // the window class exists already: fine
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    CTickCounter* counter = counterFor(*second);
    const platform::WindowHandle firstWindow = first->window();
    const platform::WindowHandle secondWindow = second->window();
    EXPECT_NE(firstWindow, secondWindow);
    first->destroy();
    EXPECT_FALSE(platform::isMessageWindow(firstWindow));
    EXPECT_EQ(pumpAt(start, 0.021), 1u); // only the second timer
    second->destroy();
    EXPECT_FALSE(platform::isMessageWindow(secondWindow));
    EXPECT_EQ(pumpAt(start, 0.100), 0u);
    EXPECT_EQ(counter->ticks, 1);
}

TEST_F(CTimers, InvalidValuesAreRejected)
{
    for (const char* attribute : {"fps", "interval"})
    {
        CObject* created = nullptr;
        const CErrorPtr err =
            loadElement(*root, {"core:timer", "bad", {{attribute, "fast"}}, {}}, &created);
        ASSERT_TRUE(err) << attribute;
        const std::string expected = std::string(attribute) == "fps"
                                         ? "Invalid timer rate 'fast'."
                                         : "Invalid timer interval 'fast'.";
        EXPECT_EQ(err->text(), expected);
        if (CObject* bad = root->findChild("bad"))
            bad->destroy();
    }
}

} // namespace
