#pragma once
// The platform layer's threads and wake-up events, shaped after the system services the
// framework was designed on: a thread is created running a function with one argument and is
// referred to by an opaque handle until it is closed; an event is auto-reset (a successful
// wait consumes the signal) and starts non-signalled.
//
// This is not a thread class: the framework's worker thread object (CThread) is built on it.
// Functions that can fail return a system error code (errno values on POSIX, 0 = success).

#include <cstdint>

namespace zel::platform
{

struct SThread;
struct SEvent;
// Opaque handles; null is no handle.
using ThreadHandle = SThread*;
using EventHandle = SEvent*;

// A thread function; its result is the thread's exit code.
using ThreadProc = unsigned (*)(void* argument);

// Wait without a time limit.
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

enum class EWaitResult
{
    signalled,
    timedOut,
    failed
};

// Starts a thread running proc(argument). On success *thread receives its handle.
int createThread(ThreadProc proc, void* argument, ThreadHandle* thread);
// Waits until the thread has ended (no time limit). Waiting again, or from several threads,
// is allowed. A thread must not wait for itself.
int waitThread(ThreadHandle thread);
// Raises the thread to the highest priority the process may give it ("time critical"). On
// POSIX this needs real-time scheduling rights; without them it fails with EPERM and the
// thread keeps its normal priority, which callers treat as acceptable.
int setThreadTimeCritical(ThreadHandle thread);
// Releases the handle. A thread that is still running goes on running, detached.
void closeThread(ThreadHandle thread);

// Creates an auto-reset event, initially not signalled.
int createEvent(EventHandle* event);
// Signals the event: one waiter (present or future) is released and the signal consumed.
int setEvent(EventHandle event);
// Waits for the event for at most timeoutMs milliseconds (kInfinite: no limit).
EWaitResult waitEvent(EventHandle event, std::uint32_t timeoutMs = kInfinite);
// Destroys the event; nobody may be waiting on it.
void closeEvent(EventHandle event);

} // namespace zel::platform
