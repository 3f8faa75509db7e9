#pragma once
// Hidden message windows of the platform layer, shaped after the system's window messages: a
// window class is registered once per process by name, a hidden window of a class is created
// with a receiver object, and the window gets periodic timer messages and messages posted to
// it from any thread. Messages are delivered on the user-interface thread, one at a time, to
// the receiver's onMessage.
//
// Where the system has its own message loop (Windows), the host's loop delivers the messages
// and servicePendingMessages does nothing. Elsewhere (POSIX) this layer keeps the windows,
// timers and posted messages itself, and the host's editor idle calls servicePendingMessages,
// which delivers what is due on the calling thread; the plug-in starts no thread for it.
//
// Windows are created, destroyed and served on the user-interface thread; postMessage may be
// called from any thread (the audio thread included): it takes a short lock, never allocates
// and never waits for a message to be handled.
//
// This is not a visible window or a view: those belong to the editor.

#include "Core/Text.h"

#include <cstddef>
#include <cstdint>

namespace zel::platform
{

// The window handle; none is no window. A handle is never reused for a later window.
enum class WindowHandle : std::uintptr_t
{
    none = 0
};

// The timer message: wparam is the timer identifier, lparam 0.
inline constexpr unsigned kTimerMessage = 275;
// The first message number free for the framework's own posted messages.
inline constexpr unsigned kUserMessage = 0x0400;

// Receives the messages of a window.
class CMessageReceiver
{
public:
    virtual ~CMessageReceiver() = default;
    virtual void onMessage(unsigned message, std::uintptr_t wparam, std::intptr_t lparam) = 0;
};

// Registers a window class. A name can be registered once per process; registering it again
// fails (EEXIST on POSIX).
int registerWindowClass(const CText& className);
// Creates a hidden window of a registered class whose messages go to receiver (which must
// outlive the window). Fails with ENOENT for an unknown class and ENOMEM when the process has
// too many windows.
int createMessageWindow(const CText& className, CMessageReceiver* receiver, WindowHandle* window);
// Destroys the window with its timers; messages still posted to it are dropped. Unknown or
// already destroyed handles are ignored.
void destroyMessageWindow(WindowHandle window);
// Whether the handle names a live window.
bool isMessageWindow(WindowHandle window);

// Starts or restarts the window's timer id: a timer message every periodMs milliseconds
// (periods below 10 ms are raised to 10 ms). Fails with EBADF for a dead window.
int setTimer(WindowHandle window, unsigned id, unsigned periodMs);
// Stops the window's timer id; fails with EINVAL when it is not running.
int killTimer(WindowHandle window, unsigned id);
// Queues a message for the window; callable from any thread. A post identical to one still
// pending (same window, message and arguments) is merged with it. Fails with EBADF for a dead
// window and, on POSIX, with EAGAIN when kPostQueueCapacity different messages are pending.
int postMessage(WindowHandle window, unsigned message, std::uintptr_t wparam, std::intptr_t lparam);

// POSIX limits.
inline constexpr std::size_t kMaxMessageWindows = 1024;
inline constexpr std::size_t kMaxTimers = 1024;
inline constexpr std::size_t kPostQueueCapacity = 1024;

// Whether this layer delivers messages itself (through servicePendingMessages).
bool messagesNeedPump();
// Delivers, on the calling thread, the messages posted before the call (oldest first) and
// then one timer message for every timer that is due. A timer that missed several periods
// gets one message, and its next one is due a full period later. Returns the number of
// messages delivered. Calls made from inside a message handler return 0 at once.
std::size_t servicePendingMessages();

// The clock that drives the timers, in seconds; null restores the monotonic clock. Tests
// inject their own to run timers without waiting.
using MessageClock = double (*)();
void setMessageClock(MessageClock clock);

} // namespace zel::platform
