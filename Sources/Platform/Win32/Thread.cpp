#include "Platform/Thread.h"

#include <windows.h>

#include <new>
#include <process.h>

namespace zel::platform
{
namespace
{

struct SThreadStart
{
    ThreadProc proc;
    void* argument;
};

unsigned __stdcall threadTrampoline(void* raw)
{
    SThreadStart* start = static_cast<SThreadStart*>(raw);
    const ThreadProc proc = start->proc;
    void* const argument = start->argument;
    delete start;
    return proc(argument);
}

HANDLE handleOf(ThreadHandle thread)
{
    return reinterpret_cast<HANDLE>(thread);
}

HANDLE handleOf(EventHandle event)
{
    return reinterpret_cast<HANDLE>(event);
}

} // namespace

int createThread(ThreadProc proc, void* argument, ThreadHandle* thread)
{
    if (thread == nullptr || proc == nullptr)
        return ERROR_INVALID_PARAMETER;
    *thread = nullptr;
    SThreadStart* start = new (std::nothrow) SThreadStart{proc, argument};
    if (start == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    // The run-time library's thread start keeps its per-thread state right.
    const std::uintptr_t h = _beginthreadex(nullptr, 0, &threadTrampoline, start, 0, nullptr);
    if (h == 0)
    {
        delete start;
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    *thread = reinterpret_cast<ThreadHandle>(h);
    return 0;
}

int waitThread(ThreadHandle thread)
{
    if (thread == nullptr)
        return ERROR_INVALID_HANDLE;
    if (WaitForSingleObject(handleOf(thread), INFINITE) != WAIT_OBJECT_0)
        return static_cast<int>(GetLastError());
    return 0;
}

int setThreadTimeCritical(ThreadHandle thread)
{
    if (thread == nullptr)
        return ERROR_INVALID_HANDLE;
    if (!SetThreadPriority(handleOf(thread), THREAD_PRIORITY_TIME_CRITICAL))
        return static_cast<int>(GetLastError());
    return 0;
}

void closeThread(ThreadHandle thread)
{
    if (thread != nullptr)
        CloseHandle(handleOf(thread));
}

int createEvent(EventHandle* event)
{
    if (event == nullptr)
        return ERROR_INVALID_PARAMETER;
    HANDLE h = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (h == nullptr)
    {
        *event = nullptr;
        return static_cast<int>(GetLastError());
    }
    *event = reinterpret_cast<EventHandle>(h);
    return 0;
}

int setEvent(EventHandle event)
{
    if (event == nullptr)
        return ERROR_INVALID_HANDLE;
    return SetEvent(handleOf(event)) ? 0 : static_cast<int>(GetLastError());
}

EWaitResult waitEvent(EventHandle event, std::uint32_t timeoutMs)
{
    if (event == nullptr)
        return EWaitResult::failed;
    switch (WaitForSingleObject(handleOf(event), timeoutMs == kInfinite ? INFINITE : timeoutMs))
    {
    case WAIT_OBJECT_0:
        return EWaitResult::signalled;
    case WAIT_TIMEOUT:
        return EWaitResult::timedOut;
    default:
        return EWaitResult::failed;
    }
}

void closeEvent(EventHandle event)
{
    if (event != nullptr)
        CloseHandle(handleOf(event));
}

} // namespace zel::platform
