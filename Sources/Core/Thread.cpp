#include "Core/Thread.h"

#include "Core/Log.h"
#include "Platform/ErrorWindow.h"
#include "Platform/FloatingPoint.h"

#include <exception>
#include <string>

namespace zel
{

CThread::CThread(CText name) : m_name(std::move(name)) {}

CThread::~CThread()
{
    stopThread();
}

CErrorPtr CThread::runThread()
{
    // The trail names the thread; an unnamed one by its class.
    const std::string fullName = m_name.empty() ? std::string("CThread") : m_name.toUtf8();
    if (m_running)
        return ZEL_ERROR(fullName, "zelstr_CThread_runThread_AlreadyRunning",
                         "Thread is already running.");

    platform::EventHandle event = nullptr;
    if (const int code = platform::createEvent(&event); code != 0)
        return ZEL_ERROR(fullName, "zelstr_CThread_runThread_createEvent",
                         "Unable to create a thread update event (error %1)",
                         {std::to_string(code)});

    m_updateEvent = event;
    m_stopRequested.store(false, std::memory_order_release);
    m_running = true;
    platform::ThreadHandle thread = nullptr;
    if (const int code = platform::createThread(&CThread::threadProc, this, &thread); code != 0)
    {
        m_running = false;
        m_updateEvent = nullptr;
        platform::closeEvent(event);
        return ZEL_ERROR(fullName, "zelstr_CThread_runThread_createThread",
                         "Thread creation error %1", {std::to_string(code)});
    }
    m_thread = thread;
    // Best effort: without the right to raise it, the thread runs at normal priority.
    if (const int code = platform::setThreadTimeCritical(thread); code != 0 && isTracing())
        diagLog("Thread '" + m_name.toUtf8() + "' keeps normal priority (error " +
                std::to_string(code) + ")");
    return nullptr;
}

void CThread::stopThread()
{
    if (!m_running)
        return;
    m_stopRequested.store(true, std::memory_order_release);
    platform::setEvent(m_updateEvent);
    platform::waitThread(m_thread);
    platform::closeThread(m_thread);
    platform::closeEvent(m_updateEvent);
    m_thread = nullptr;
    m_updateEvent = nullptr;
    m_running = false;
}

void CThread::notifyThread()
{
    if (m_updateEvent != nullptr)
        platform::setEvent(m_updateEvent);
}

bool CThread::waitForUpdate(std::uint32_t timeoutMs)
{
    return platform::waitEvent(m_updateEvent, timeoutMs) == platform::EWaitResult::signalled;
}

unsigned CThread::threadProc(void* argument)
{
    CThread* self = static_cast<CThread*>(argument);
    platform::CFpWorkerGuard fpGuard;
    CErrorPtr error;
    try
    {
        error = self->threadBody();
    }
    catch (const std::exception& e)
    {
        error = makeError("zelstr_CThread_threadProc_Exception", "Thread '%1' failed: %2",
                          {self->m_name.toUtf8(), e.what()});
    }
    catch (...)
    {
        error = makeError("zelstr_CThread_threadProc_Exception", "Thread '%1' failed: %2",
                          {self->m_name.toUtf8(), "unknown exception"});
    }
    if (error)
        platform::showErrorWindow(error->details());
    return 0;
}

} // namespace zel
