#pragma once
// CThread: a worker thread of the framework with its wake-up event. A subclass supplies the
// body, which runs on the new thread at time-critical priority with the framework's
// floating-point state, waits on the update event for work, and returns once stopRequested()
// is true. An error the body returns is shown to the user in the error window.
//
// Stopping signals the update event and waits (without a time limit) for the body to return.
// A subclass whose body uses the subclass's own members must stop the thread in its own
// destructor: the base destructor stops it too, but only after the subclass part is gone.
// This is not a thread pool and not a general-purpose thread wrapper.

#include "Core/CheckedObject.h"
#include "Core/Error.h"
#include "Core/Text.h"
#include "Platform/Thread.h"

#include <atomic>
#include <cstdint>

namespace zel
{

class CThread : public CCheckedObject
{
public:
    explicit CThread(CText name = CText());
    // Stops a running thread.
    virtual ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    const CText& name() const { return m_name; }
    void setName(CText name) { m_name = std::move(name); }
    bool isRunning() const { return m_running; }

    // Starts the body on a new thread. Fails when the thread is already running (which keeps
    // running) or when the event or the thread cannot be created.
    CErrorPtr runThread();
    // Asks the body to stop, waits for it to return and releases the handles. Does nothing
    // when the thread is not running. Must not be called from the body.
    void stopThread();
    // Wakes the body (signals the update event).
    void notifyThread();

protected:
    // The work of the thread; runs on the new thread.
    virtual CErrorPtr threadBody() = 0;
    // Waits for the update event (auto-reset) for at most timeoutMs; true when it was signalled.
    bool waitForUpdate(std::uint32_t timeoutMs = platform::kInfinite);
    // True once stopThread has been called for the current run.
    bool stopRequested() const { return m_stopRequested.load(std::memory_order_acquire); }

private:
    static unsigned threadProc(void* argument);

    CText m_name;
    platform::ThreadHandle m_thread = nullptr;
    platform::EventHandle m_updateEvent = nullptr;
    bool m_running = false;
    std::atomic<bool> m_stopRequested{false};
};

} // namespace zel
