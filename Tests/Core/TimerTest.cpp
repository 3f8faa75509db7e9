// Timers: rate and interval to period, arming and restarting, ticks through the message pump
// with an injected clock, the floating-point state of tick handlers, and release.

#include "Core/Timer.h"
#include "ObjectTestSupport.h"
#include "Platform/FloatingPoint.h"
#include "Support/Capture.h"

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
        if (!failNext)
            return nullptr;
        failNext = false;
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_Test_tick", "Tick %1 failed.",
                         {std::to_string(ticks)});
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
        g_now = start;
        platform::setMessageClock(&testClock);
        platform::servicePendingMessages();
    }
    void TearDown() override { platform::setMessageClock(nullptr); }

    CErrorPtr load(const char* name, const char* attribute, const char* value, CTimer*& made)
    {
        CObject* created = nullptr;
        std::vector<std::pair<CText, CText>> attributes;
        if (attribute != nullptr)
            attributes.emplace_back(attribute, value);
        CErrorPtr err = loadElement(*root, {"core:timer", name, attributes, {}}, &created);
        made = dynamic_cast<CTimer*>(created);
        return err;
    }
    // A timer with one attribute set, and a counter listening to its ticks.
    CTimer* timer(const char* name, const char* attribute = nullptr, const char* value = nullptr)
    {
        CTimer* made = nullptr;
        const CErrorPtr err = load(name, attribute, value, made);
        EXPECT_FALSE(err) << (err ? err->details() : "");
        counter = dynamic_cast<CTickCounter*>(child(*root, "test:tick-counter", "counter"));
        EXPECT_FALSE(CObject::listenObject(*made, "tick", *counter, "on-tick"));
        return made;
    }
    // Advances the clock to `at` seconds after the start and serves the messages.
    std::size_t pumpAt(double at)
    {
        g_now = start + at;
        return platform::servicePendingMessages();
    }

    const double start = 50.0;
    CTickCounter* counter = nullptr;
    CFakeApplication application; // keeps loaded objects writable
};

TEST_F(CTimers, RatesAndIntervalsGiveTheArmedPeriod)
{
    const std::tuple<const char*, const char*, unsigned> cases[] = {
        {"fps", "30", 20},     {"fps", "25", 40},         {"fps", "0", 20},
        {"fps", "60", 10},     {"fps", "40", 15},         {"fps", "-5", 20},
        {"fps", "0,5", 2000},  {"fps", "29.5", 34},       {"interval", "0.05", 50},
        {"interval", "0", 33}, {"interval", "0.0025", 3}, {"interval", "0.0205", 21},
    };
    for (const auto& [attribute, value, periodMs] : cases)
    {
        CTimer* t = timer("t", attribute, value);
        EXPECT_TRUE(t->isRunning()) << attribute << "=" << value;
        EXPECT_EQ(t->armedPeriodMs(), periodMs) << attribute << "=" << value;
        t->destroy();
    }
    // Without a period it stays stopped, and a period set later does not start it.
    CTimer* t = timer("t");
    EXPECT_FALSE(t->isRunning());
    ASSERT_FALSE(t->setAttribute("fps", "30"));
    EXPECT_FALSE(t->isRunning());
    EXPECT_EQ(t->armCount(), 0u);
    // Invalid values are rejected.
    for (const char* attribute : {"fps", "interval"})
    {
        CTimer* bad = nullptr;
        const CErrorPtr err = load("bad", attribute, "fast", bad);
        ASSERT_TRUE(err) << attribute;
        EXPECT_EQ(err->text(), std::string(attribute) == "fps" ? "Invalid timer rate 'fast'."
                                                               : "Invalid timer interval 'fast'.");
        if (CObject* made = root->findChild("bad"))
            made->destroy();
    }
}

TEST_F(CTimers, TheSamePeriodDoesNotRestartTheTimer)
{
    CTimer* t = timer("t", "fps", "30");
    ASSERT_EQ(t->armCount(), 1u);
    g_now = start + 0.015;
    ASSERT_FALSE(t->setAttribute("fps", "30"));
    ASSERT_FALSE(t->setAttribute("interval", "0,02")); // the same 20 ms
    EXPECT_EQ(t->armCount(), 1u);
    // Still due 20 ms after the start, not after the second setting.
    EXPECT_EQ(pumpAt(0.021), 1u);
    ASSERT_FALSE(t->setAttribute("fps", "25"));
    EXPECT_EQ(t->armCount(), 2u);
    EXPECT_EQ(pumpAt(0.059), 0u); // re-armed at +21 ms: due at +61 ms
    EXPECT_EQ(pumpAt(0.062), 1u);
    EXPECT_EQ(counter->ticks, 2);
}

TEST_F(CTimers, TicksArriveThroughThePumpWithTheFrameworkFloatingPointState)
{
    timer("t", "fps", "60");
    const int previous = std::fegetround();
    ASSERT_EQ(std::fesetround(FE_UPWARD), 0);
    // The tick times themselves are the message window's; here one tick arrives.
    pumpAt(0.005);
    EXPECT_EQ(counter->ticks, 0);
    pumpAt(0.011);
    EXPECT_EQ(counter->ticks, 1);
    const int after = std::fegetround();
    std::fesetround(previous);
    EXPECT_EQ(counter->fpControl & (platform::kFpFrameworkMask | platform::kFpAmbiguous),
              platform::kFpFrameworkValue);
    EXPECT_EQ(after, FE_UPWARD); // restored after the message
}

TEST_F(CTimers, AHandlerErrorIsLoggedAndTheTimerKeepsRunning)
{
    kelvtest::CCapture capture;
    CTimer* t = timer("t", "fps", "30");
    counter->failNext = true;
    pumpAt(0.021);
    pumpAt(0.041);
    const std::vector<std::string> lines = capture.log();
    EXPECT_EQ(counter->ticks, 2);
    EXPECT_TRUE(t->isRunning());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with("Tick 1 failed.\nTimerTest.cpp( ")) << lines[0];
    EXPECT_NE(lines[0].find(" // root.counter"), std::string::npos) << lines[0];
}

TEST_F(CTimers, ReleaseStopsTheTimerAndDestroysItsWindow)
{
    CTimer* first = timer("a", "fps", "30");
    CTimer* second = timer("b", "fps", "30"); // the window class exists already: fine
    const platform::WindowHandle firstWindow = first->window();
    const platform::WindowHandle secondWindow = second->window();
    EXPECT_TRUE(platform::isMessageWindow(secondWindow));
    first->destroy();
    EXPECT_FALSE(platform::isMessageWindow(firstWindow));
    EXPECT_EQ(pumpAt(0.021), 1u); // only the second timer
    second->destroy();
    EXPECT_FALSE(platform::isMessageWindow(secondWindow));
    EXPECT_EQ(pumpAt(0.100), 0u);
}

} // namespace
