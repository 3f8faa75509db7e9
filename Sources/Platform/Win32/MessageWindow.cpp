#include "Platform/MessageWindow.h"
#include "Platform/Win32/WideText.h"

#include <windows.h>

namespace zel::platform
{
namespace
{

static_assert(kTimerMessage == WM_TIMER);
static_assert(kUserMessage == WM_USER);

// The module that holds this code: window classes are registered for it, so that a plug-in
// module's classes never collide with the host's.
HINSTANCE thisModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&thisModule), &module);
    return module;
}

LRESULT CALLBACK messageWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_NCCREATE)
    {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return DefWindowProcW(window, message, wparam, lparam);
    }
    auto* receiver = reinterpret_cast<CMessageReceiver*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (receiver != nullptr && (message == WM_TIMER || message >= WM_USER))
    {
        receiver->onMessage(message, static_cast<std::uintptr_t>(wparam),
                            static_cast<std::intptr_t>(lparam));
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

HWND hwndOf(WindowHandle window)
{
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window));
}

} // namespace

int registerWindowClass(const CText& className)
{
    const std::wstring name = win32::toWide(className);
    WNDCLASSW wc{};
    wc.lpfnWndProc = &messageWindowProc;
    wc.hInstance = thisModule();
    wc.lpszClassName = name.c_str();
    if (RegisterClassW(&wc) == 0)
        return static_cast<int>(GetLastError());
    return 0;
}

int createMessageWindow(const CText& className, CMessageReceiver* receiver, WindowHandle* window)
{
    if (window == nullptr)
        return ERROR_INVALID_PARAMETER;
    *window = WindowHandle::none;
    const std::wstring name = win32::toWide(className);
    HWND hwnd = CreateWindowExW(0, name.c_str(), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                thisModule(), receiver);
    if (hwnd == nullptr)
        return static_cast<int>(GetLastError());
    *window = static_cast<WindowHandle>(reinterpret_cast<std::uintptr_t>(hwnd));
    return 0;
}

void destroyMessageWindow(WindowHandle window)
{
    if (window != WindowHandle::none && IsWindow(hwndOf(window)))
        DestroyWindow(hwndOf(window));
}

bool isMessageWindow(WindowHandle window)
{
    return window != WindowHandle::none && IsWindow(hwndOf(window)) != FALSE;
}

int setTimer(WindowHandle window, unsigned id, unsigned periodMs)
{
    if (!isMessageWindow(window))
        return ERROR_INVALID_WINDOW_HANDLE;
    if (SetTimer(hwndOf(window), id, periodMs < 10 ? 10 : periodMs, nullptr) == 0)
        return static_cast<int>(GetLastError());
    return 0;
}

int killTimer(WindowHandle window, unsigned id)
{
    if (!KillTimer(hwndOf(window), id))
        return ERROR_INVALID_PARAMETER;
    return 0;
}

// The system queue delivers every post; identical pending posts are not merged here.
int postMessage(WindowHandle window, unsigned message, std::uintptr_t wparam, std::intptr_t lparam)
{
    if (!isMessageWindow(window))
        return ERROR_INVALID_WINDOW_HANDLE;
    if (!PostMessageW(hwndOf(window), message, static_cast<WPARAM>(wparam),
                      static_cast<LPARAM>(lparam)))
        return static_cast<int>(GetLastError());
    return 0;
}

bool messagesNeedPump()
{
    return false;
}

std::size_t servicePendingMessages()
{
    return 0;
}

void setMessageClock(MessageClock clock)
{
    // The system's timers run on its own clock.
    (void)clock;
}

} // namespace zel::platform
