#include "Platform/Thread.h"

#include <cerrno>
#include <new>

#include <pthread.h>
#include <sched.h>
#include <time.h>

namespace zel::platform
{

struct SThread
{
    pthread_t id{};
    pthread_mutex_t joinLock = PTHREAD_MUTEX_INITIALIZER;
    bool joined = false;
};

struct SEvent
{
    pthread_mutex_t lock{};
    pthread_cond_t cond{};
    bool signalled = false;
};

namespace
{

// What the new thread needs to start; the thread frees it, so closing the handle early is safe.
struct SThreadStart
{
    ThreadProc proc;
    void* argument;
};

void* threadTrampoline(void* raw)
{
    SThreadStart* start = static_cast<SThreadStart*>(raw);
    const ThreadProc proc = start->proc;
    void* const argument = start->argument;
    delete start;
    proc(argument);
    return nullptr;
}

} // namespace

int createThread(ThreadProc proc, void* argument, ThreadHandle* thread)
{
    if (thread == nullptr || proc == nullptr)
        return EINVAL;
    *thread = nullptr;
    SThread* handle = new (std::nothrow) SThread;
    SThreadStart* start = new (std::nothrow) SThreadStart{proc, argument};
    if (handle == nullptr || start == nullptr)
    {
        delete handle;
        delete start;
        return ENOMEM;
    }
    const int rc = pthread_create(&handle->id, nullptr, &threadTrampoline, start);
    if (rc != 0)
    {
        delete handle;
        delete start;
        return rc;
    }
    *thread = handle;
    return 0;
}

int waitThread(ThreadHandle thread)
{
    if (thread == nullptr)
        return EINVAL;
    pthread_mutex_lock(&thread->joinLock);
    int rc = 0;
    if (!thread->joined)
    {
        rc = pthread_join(thread->id, nullptr);
        if (rc == 0)
            thread->joined = true;
    }
    pthread_mutex_unlock(&thread->joinLock);
    return rc;
}

int setThreadTimeCritical(ThreadHandle thread)
{
    if (thread == nullptr)
        return EINVAL;
    // The lowest real-time priority: above every normally scheduled thread (the user interface
    // included) and below the real-time audio threads of the host.
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO);
    return pthread_setschedparam(thread->id, SCHED_FIFO, &param);
}

void closeThread(ThreadHandle thread)
{
    if (thread == nullptr)
        return;
    pthread_mutex_lock(&thread->joinLock);
    if (!thread->joined)
        pthread_detach(thread->id);
    pthread_mutex_unlock(&thread->joinLock);
    pthread_mutex_destroy(&thread->joinLock);
    delete thread;
}

int createEvent(EventHandle* event)
{
    if (event == nullptr)
        return EINVAL;
    *event = nullptr;
    SEvent* handle = new (std::nothrow) SEvent;
    if (handle == nullptr)
        return ENOMEM;
    int rc = pthread_mutex_init(&handle->lock, nullptr);
    if (rc != 0)
    {
        delete handle;
        return rc;
    }
    pthread_condattr_t attr;
    rc = pthread_condattr_init(&attr);
    if (rc == 0)
    {
        rc = pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
        if (rc == 0)
            rc = pthread_cond_init(&handle->cond, &attr);
        pthread_condattr_destroy(&attr);
    }
    if (rc != 0)
    {
        pthread_mutex_destroy(&handle->lock);
        delete handle;
        return rc;
    }
    *event = handle;
    return 0;
}

int setEvent(EventHandle event)
{
    if (event == nullptr)
        return EINVAL;
    pthread_mutex_lock(&event->lock);
    event->signalled = true;
    pthread_cond_signal(&event->cond);
    pthread_mutex_unlock(&event->lock);
    return 0;
}

EWaitResult waitEvent(EventHandle event, std::uint32_t timeoutMs)
{
    if (event == nullptr)
        return EWaitResult::failed;
    timespec deadline{};
    if (timeoutMs != kInfinite)
    {
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += static_cast<time_t>(timeoutMs / 1000u);
        deadline.tv_nsec += static_cast<long>(timeoutMs % 1000u) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L)
        {
            deadline.tv_nsec -= 1000000000L;
            ++deadline.tv_sec;
        }
    }
    EWaitResult result = EWaitResult::signalled;
    pthread_mutex_lock(&event->lock);
    while (!event->signalled)
    {
        const int rc = timeoutMs == kInfinite
                           ? pthread_cond_wait(&event->cond, &event->lock)
                           : pthread_cond_timedwait(&event->cond, &event->lock, &deadline);
        if (rc == ETIMEDOUT)
        {
            // A signal that arrived together with the time-out still counts.
            if (!event->signalled)
                result = EWaitResult::timedOut;
            break;
        }
        if (rc != 0)
        {
            result = EWaitResult::failed;
            break;
        }
    }
    if (result == EWaitResult::signalled)
        event->signalled = false; // auto-reset: this wait consumes the signal
    pthread_mutex_unlock(&event->lock);
    return result;
}

void closeEvent(EventHandle event)
{
    if (event == nullptr)
        return;
    pthread_cond_destroy(&event->cond);
    pthread_mutex_destroy(&event->lock);
    delete event;
}

} // namespace zel::platform
