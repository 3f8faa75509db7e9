#include "Core/Timer.h"

#include "Core/Log.h"
#include "Core/Numbers.h"
#include "Platform/FloatingPoint.h"

#include <cmath>
#include <mutex>
#include <string>

namespace zel
{
namespace
{

constexpr unsigned kMaxPeriodMs = 0x7FFFFFFFu;

bool samePeriod(double a, double b)
{
    return std::fabs(a - b) <= CTimer::kTolerance;
}

// The "Timer" window class is registered the first time a timer window is made; a failed
// registration is tried again by the next timer.
CErrorPtr registerTimerClass(const CText& fullName)
{
    static std::mutex lock;
    static bool registered = false;
    std::lock_guard<std::mutex> guard(lock);
    if (registered)
        return nullptr;
    if (const int code = platform::registerWindowClass(CText(CTimer::kWindowClass)); code != 0)
        return ZEL_ERROR(fullName.toUtf8(), "zelstr_CTimerClass_init_ClassRegError",
                         "Unable to register timer window class '%1': error %2.",
                         {CTimer::kWindowClass, std::to_string(code)});
    registered = true;
    return nullptr;
}

} // namespace

CTimer::CTimer() = default;

CTimer::~CTimer()
{
    stopTimer();
    destroyWindow();
}

void CTimer::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
    info.attribute<&CTimer::onFps>("fps");
    info.attribute<&CTimer::onInterval>("interval");
}

CErrorPtr CTimer::init()
{
    ZEL_TRY(CObject::init(), fullName().toUtf8());
    if (m_window != platform::WindowHandle::none)
        return nullptr;
    ZEL_TRY(registerTimerClass(fullName()), fullName().toUtf8());
    platform::WindowHandle window = platform::WindowHandle::none;
    if (const int code = platform::createMessageWindow(CText(kWindowClass), this, &window);
        code != 0)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CTimer_init_CreateWindow",
                         "Timer window creation error %1.", {std::to_string(code)});
    m_window = window;
    return nullptr;
}

CErrorPtr CTimer::initTemplateChilds()
{
    ZEL_TRY(CObject::initTemplateChilds(), fullName().toUtf8());
    ZEL_TRY(initTimer(), fullName().toUtf8());
    return nullptr;
}

void CTimer::release()
{
    stopTimer();
    destroyWindow();
    CObject::release();
}

CErrorPtr CTimer::onFps(const CText& value)
{
    double rate = 0.0;
    if (!parseNumber(value, rate))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CTimer_onFps_InvalidValue",
                         "Invalid timer rate '%1'.", {value.toUtf8()});
    return setInterval(rateToInterval(rate));
}

CErrorPtr CTimer::onInterval(const CText& value)
{
    double interval = 0.0;
    if (!parseNumber(value, interval))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CTimer_onInterval_InvalidValue",
                         "Invalid timer interval '%1'.", {value.toUtf8()});
    return setInterval(interval <= kSmallestValue ? 1.0 / kDefaultRate : interval);
}

double CTimer::rateToInterval(double rate)
{
    if (rate <= kSmallestValue)
        rate = kDefaultRate;
    // The fixed rates run faster than their nominal frame period.
    if (samePeriod(rate, 60.0))
        return 0.01;
    if (samePeriod(rate, 40.0))
        return 0.015;
    if (samePeriod(rate, 30.0))
        return 0.02;
    return std::fabs(1.0 / rate);
}

unsigned CTimer::intervalToMs(double interval)
{
    const double ms = std::round(interval * 1000.0); // halves away from zero
    if (!(ms > 0.0))
        return 0;
    return ms >= static_cast<double>(kMaxPeriodMs) ? kMaxPeriodMs : static_cast<unsigned>(ms);
}

CErrorPtr CTimer::setInterval(double interval)
{
    if (samePeriod(interval, m_interval))
        return nullptr; // the same period: a running timer is not restarted
    m_interval = interval;
    if (m_running)
        ZEL_TRY(initTimer(), fullName().toUtf8());
    return nullptr;
}

CErrorPtr CTimer::initTimer()
{
    stopTimer();
    if (m_interval <= kTolerance || m_window == platform::WindowHandle::none)
        return nullptr;
    const unsigned periodMs = intervalToMs(m_interval);
    if (const int code = platform::setTimer(m_window, m_timerId, periodMs); code != 0)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CTimer_initTimer_createTimer",
                         "Timer creation error %1.", {std::to_string(code)});
    m_running = true;
    m_armedPeriodMs = periodMs;
    ++m_armCount;
    return nullptr;
}

void CTimer::stopTimer()
{
    if (!m_running)
        return;
    platform::killTimer(m_window, m_timerId);
    m_running = false;
}

void CTimer::destroyWindow()
{
    if (m_window == platform::WindowHandle::none)
        return;
    platform::destroyMessageWindow(m_window);
    m_window = platform::WindowHandle::none;
}

void CTimer::onMessage(unsigned message, std::uintptr_t, std::intptr_t)
{
    platform::CFpWorkerGuard fpGuard;
    if (message != platform::kTimerMessage)
        return;
    if (CErrorPtr err = sendEvent(CText("tick")))
        diagLog(err->details());
}

} // namespace zel
