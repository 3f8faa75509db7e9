#pragma once
// CTimer ("core:timer"): an object that sends the event "tick" to its subscribers once per
// period, on the thread that created it (the user-interface thread). The period comes from the
// attribute "interval" (seconds) or "fps" (rate); the timer starts once its template children
// exist and stops when the object is released.
//
// Each timer owns a hidden message window of the class "Timer" (registered once per process)
// whose system timer drives the ticks. A tick handler's error is written to the diagnostic log
// and dropped, so the timer keeps running. This is not a high-resolution or audio-rate clock.

#include "Core/Object.h"
#include "Platform/MessageWindow.h"

namespace zel
{

class CTimer : public CObject, private platform::CMessageReceiver
{
public:
    // Two periods closer than this are the same period.
    static constexpr double kTolerance = 2.220446049250313e-16;
    // Rates and intervals up to this value select the defaults (30 per second, 1/30 s).
    static constexpr double kSmallestValue = 0.0001;
    static constexpr double kDefaultRate = 30.0;
    // The window class of every timer window.
    static constexpr const char* kWindowClass = "Timer";

    CTimer();
    ~CTimer() override;

    // Registers the attributes "fps" and "interval".
    static void registerClass(CClassInfo& info);

    // Applies the attributes, then creates the timer window.
    CErrorPtr init() override;
    // Creates the template children, then starts the timer.
    CErrorPtr initTemplateChilds() override;
    // Stops the timer and destroys its window.
    void release() override;

    // Virtual operations added by this class: the handlers of "fps" and "interval".
    virtual CErrorPtr onFps(const CText& value);
    virtual CErrorPtr onInterval(const CText& value);

    // The period in seconds (0 until one is set: the timer then stays stopped).
    double interval() const { return m_interval; }
    bool isRunning() const { return m_running; }
    platform::WindowHandle window() const { return m_window; }
    // The period the system timer is armed with, in milliseconds.
    unsigned armedPeriodMs() const { return m_armedPeriodMs; }
    // How many times the system timer has been armed (each start and restart).
    unsigned armCount() const { return m_armCount; }

    // The period for a rate: 60, 40 and 30 per second give 10, 15 and 20 ms; other rates give
    // 1/rate; rates up to kSmallestValue count as 30 per second.
    static double rateToInterval(double rate);
    // Interval in milliseconds, rounded half away from zero, within the system's limits.
    static unsigned intervalToMs(double interval);

private:
    void onMessage(unsigned message, std::uintptr_t wparam, std::intptr_t lparam) override;
    CErrorPtr setInterval(double interval);
    // Arms the system timer with the current interval (first stopping a running one).
    CErrorPtr initTimer();
    void stopTimer();
    void destroyWindow();

    platform::WindowHandle m_window = platform::WindowHandle::none;
    unsigned m_timerId = 0;
    double m_interval = 0.0;
    bool m_running = false;
    unsigned m_armedPeriodMs = 0;
    unsigned m_armCount = 0;
};

} // namespace zel
