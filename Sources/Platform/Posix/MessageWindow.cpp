// The message-window emulation of systems without a window-message loop in the plug-in's
// reach: fixed tables of windows, timers and posted messages under one short lock, served by
// servicePendingMessages on the user-interface thread.

#include "Platform/MessageWindow.h"

#include "Platform/CriticalSection.h"
#include "Platform/Time.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <vector>

namespace zel::platform
{
namespace
{

constexpr unsigned kMinTimerPeriodMs = 10;
// A handle is (generation << kSlotBits) | slot; generations only grow, so handles are unique.
constexpr unsigned kSlotBits = 10;
static_assert((std::size_t{1} << kSlotBits) == kMaxMessageWindows);

struct SWindowSlot
{
    std::uintptr_t generation = 0;
    CMessageReceiver* receiver = nullptr;
    bool live = false;
};

struct STimerSlot
{
    WindowHandle window = WindowHandle::none;
    unsigned id = 0;
    double period = 0.0;
    double due = 0.0;
    bool live = false;
};

struct SPosted
{
    WindowHandle window = WindowHandle::none;
    unsigned message = 0;
    std::uintptr_t wparam = 0;
    std::intptr_t lparam = 0;
};

struct SState
{
    // Guards every table below; held only for table work, never while a handler runs.
    CCriticalSection lock;
    std::vector<CText> classes;
    std::array<SWindowSlot, kMaxMessageWindows> windows{};
    std::array<STimerSlot, kMaxTimers> timers{};
    std::array<SPosted, kPostQueueCapacity> queue{};
    std::size_t queueHead = 0;
    std::size_t queueCount = 0;
    std::uintptr_t nextGeneration = 1;
    std::atomic<MessageClock> clock{nullptr};
    // Serialises pumps of different threads.
    CCriticalSection pumpLock;
};

SState& state()
{
    static SState instance;
    return instance;
}

thread_local bool t_inPump = false;

double now(const SState& s)
{
    const MessageClock clock = s.clock.load(std::memory_order_acquire);
    return clock != nullptr ? clock() : monotonicSeconds();
}

// The live slot of a handle, or null. Call under the lock.
SWindowSlot* findWindow(SState& s, WindowHandle window)
{
    const auto raw = static_cast<std::uintptr_t>(window);
    if (raw == 0)
        return nullptr;
    SWindowSlot& slot = s.windows[raw & (kMaxMessageWindows - 1)];
    return slot.live && slot.generation == (raw >> kSlotBits) ? &slot : nullptr;
}

STimerSlot* findTimer(SState& s, WindowHandle window, unsigned id)
{
    for (STimerSlot& timer : s.timers)
        if (timer.live && timer.window == window && timer.id == id)
            return &timer;
    return nullptr;
}

std::size_t deliverPosted(SState& s)
{
    std::size_t pending = 0;
    {
        CCriticalSectionLock lock(s.lock);
        pending = s.queueCount;
    }
    std::size_t delivered = 0;
    for (; pending > 0; --pending)
    {
        SPosted posted;
        CMessageReceiver* receiver = nullptr;
        {
            CCriticalSectionLock lock(s.lock);
            if (s.queueCount == 0)
                break;
            posted = s.queue[s.queueHead];
            s.queueHead = (s.queueHead + 1) % kPostQueueCapacity;
            --s.queueCount;
            const SWindowSlot* slot = findWindow(s, posted.window);
            receiver = slot != nullptr ? slot->receiver : nullptr;
        }
        if (receiver == nullptr)
            continue; // the window was destroyed after the post
        receiver->onMessage(posted.message, posted.wparam, posted.lparam);
        ++delivered;
    }
    return delivered;
}

std::size_t deliverTimers(SState& s)
{
    const double time = now(s);
    std::size_t delivered = 0;
    for (std::size_t i = 0; i < kMaxTimers; ++i)
    {
        WindowHandle window = WindowHandle::none;
        unsigned id = 0;
        CMessageReceiver* receiver = nullptr;
        {
            CCriticalSectionLock lock(s.lock);
            STimerSlot& timer = s.timers[i];
            if (!timer.live || timer.due > time)
                continue;
            timer.due += timer.period;
            if (timer.due <= time)
                timer.due = time + timer.period; // missed periods are not made up
            window = timer.window;
            id = timer.id;
            const SWindowSlot* slot = findWindow(s, window);
            receiver = slot != nullptr ? slot->receiver : nullptr;
        }
        if (receiver == nullptr)
            continue;
        receiver->onMessage(kTimerMessage, id, 0);
        ++delivered;
    }
    return delivered;
}

} // namespace

int registerWindowClass(const CText& className)
{
    SState& s = state();
    CCriticalSectionLock lock(s.lock);
    for (const CText& name : s.classes)
        if (name == className)
            return EEXIST;
    s.classes.push_back(className);
    return 0;
}

int createMessageWindow(const CText& className, CMessageReceiver* receiver, WindowHandle* window)
{
    if (window == nullptr)
        return EINVAL;
    *window = WindowHandle::none;
    SState& s = state();
    CCriticalSectionLock lock(s.lock);
    bool known = false;
    for (const CText& name : s.classes)
        known = known || name == className;
    if (!known)
        return ENOENT;
    for (std::size_t i = 0; i < kMaxMessageWindows; ++i)
    {
        SWindowSlot& slot = s.windows[i];
        if (slot.live)
            continue;
        slot.generation = s.nextGeneration++;
        slot.receiver = receiver;
        slot.live = true;
        *window = static_cast<WindowHandle>((slot.generation << kSlotBits) | i);
        return 0;
    }
    return ENOMEM;
}

void destroyMessageWindow(WindowHandle window)
{
    SState& s = state();
    CCriticalSectionLock lock(s.lock);
    SWindowSlot* slot = findWindow(s, window);
    if (slot == nullptr)
        return;
    slot->live = false;
    slot->receiver = nullptr;
    for (STimerSlot& timer : s.timers)
        if (timer.live && timer.window == window)
            timer.live = false;
}

bool isMessageWindow(WindowHandle window)
{
    SState& s = state();
    CCriticalSectionLock lock(s.lock);
    return findWindow(s, window) != nullptr;
}

int setTimer(WindowHandle window, unsigned id, unsigned periodMs)
{
    SState& s = state();
    const double time = now(s);
    const double period =
        static_cast<double>(periodMs < kMinTimerPeriodMs ? kMinTimerPeriodMs : periodMs) / 1000.0;
    CCriticalSectionLock lock(s.lock);
    if (findWindow(s, window) == nullptr)
        return EBADF;
    STimerSlot* timer = findTimer(s, window, id);
    for (std::size_t i = 0; timer == nullptr && i < kMaxTimers; ++i)
        if (!s.timers[i].live)
            timer = &s.timers[i];
    if (timer == nullptr)
        return ENOMEM;
    timer->window = window;
    timer->id = id;
    timer->period = period;
    timer->due = time + period;
    timer->live = true;
    return 0;
}

int killTimer(WindowHandle window, unsigned id)
{
    SState& s = state();
    CCriticalSectionLock lock(s.lock);
    STimerSlot* timer = findTimer(s, window, id);
    if (timer == nullptr)
        return EINVAL;
    timer->live = false;
    return 0;
}

int postMessage(WindowHandle window, unsigned message, std::uintptr_t wparam, std::intptr_t lparam)
{
    SState& s = state();
    CCriticalSectionLock lock(s.lock);
    if (findWindow(s, window) == nullptr)
        return EBADF;
    for (std::size_t k = 0; k < s.queueCount; ++k)
    {
        const SPosted& pending = s.queue[(s.queueHead + k) % kPostQueueCapacity];
        if (pending.window == window && pending.message == message && pending.wparam == wparam &&
            pending.lparam == lparam)
            return 0; // merged with the identical pending post
    }
    if (s.queueCount == kPostQueueCapacity)
        return EAGAIN;
    s.queue[(s.queueHead + s.queueCount) % kPostQueueCapacity] = {window, message, wparam, lparam};
    ++s.queueCount;
    return 0;
}

bool messagesNeedPump()
{
    return true;
}

std::size_t servicePendingMessages()
{
    if (t_inPump)
        return 0;
    SState& s = state();
    CCriticalSectionLock pump(s.pumpLock);
    struct SInPump
    {
        SInPump() { t_inPump = true; }
        ~SInPump() { t_inPump = false; }
    } inPump;
    const std::size_t delivered = deliverPosted(s);
    return delivered + deliverTimers(s);
}

void setMessageClock(MessageClock clock)
{
    state().clock.store(clock, std::memory_order_release);
}

} // namespace zel::platform
