// The error window on Windows: a window of class "ErrorWindowClass" with the message, a
// read-only details field the user can copy from, and an OK button, run modally on the calling
// thread until the user closes it.
#include "Platform/ErrorWindow.h"
#include "Platform/Win32/WideText.h"

#include <windows.h>

#include <string>

namespace zel::platform::detail
{
namespace
{

constexpr int kWidth = 560;
constexpr int kHeight = 400;
constexpr int kMargin = 12;
constexpr int kMessageHeight = 90;
constexpr int kButtonWidth = 90;
constexpr int kButtonHeight = 28;
constexpr int kOkId = 1;

std::wstring wide(std::string_view utf8, bool windowsLineEnds)
{
    std::wstring text = win32::toWide(CText::fromUtf8(utf8));
    if (!windowsLineEnds)
        return text;
    std::wstring out;
    for (wchar_t c : text)
    {
        if (c == L'\n')
            out += L'\r';
        out += c;
    }
    return out;
}

HINSTANCE thisModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&thisModule), &module);
    return module;
}

LRESULT CALLBACK errorWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message)
    {
    case WM_COMMAND:
        if (LOWORD(wparam) == kOkId || LOWORD(wparam) == IDCANCEL)
            DestroyWindow(window);
        return 0;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}

} // namespace

void showNativeErrorWindow(std::string_view title, std::string_view message,
                           std::string_view details)
{
    const std::wstring className = wide(kErrorWindowClass, false);
    HINSTANCE module = thisModule();
    WNDCLASSW wc{};
    wc.lpfnWndProc = &errorWindowProc;
    wc.hInstance = module;
    wc.lpszClassName = className.c_str();
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    RegisterClassW(&wc); // fails harmlessly when already registered

    const std::wstring titleText = wide(title, false);
    HWND window =
        CreateWindowExW(WS_EX_TOPMOST | WS_EX_DLGMODALFRAME, className.c_str(), titleText.c_str(),
                        WS_POPUP | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, kWidth,
                        kHeight, nullptr, nullptr, module, nullptr);
    if (window == nullptr)
        return;
    RECT client{};
    GetClientRect(window, &client);
    const int innerWidth = client.right - 2 * kMargin;
    const std::wstring messageText = wide(message, true);
    CreateWindowExW(0, L"STATIC", messageText.c_str(), WS_CHILD | WS_VISIBLE, kMargin, kMargin,
                    innerWidth, kMessageHeight, window, nullptr, module, nullptr);
    const std::wstring detailsText = wide(details, true);
    const int detailsTop = 2 * kMargin + kMessageHeight;
    const int detailsHeight = client.bottom - detailsTop - 2 * kMargin - kButtonHeight;
    HWND field = CreateWindowExW(
        WS_EX_CLIENTEDGE, L"EDIT", detailsText.c_str(),
        WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, kMargin,
        detailsTop, innerWidth, detailsHeight, window, nullptr, module, nullptr);
    const std::wstring fontName = wide(kErrorWindowFont, false);
    HFONT font = CreateFontW(-kErrorWindowFontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, fontName.c_str());
    if (font != nullptr && field != nullptr)
        SendMessageW(field, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON,
                    client.right - kMargin - kButtonWidth, client.bottom - kMargin - kButtonHeight,
                    kButtonWidth, kButtonHeight, window, reinterpret_cast<HMENU>(kOkId), module,
                    nullptr);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);

    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
    {
        if (!IsDialogMessageW(window, &msg))
        {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (font != nullptr)
        DeleteObject(font);
}

} // namespace zel::platform::detail
