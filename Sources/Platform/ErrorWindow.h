#pragma once
// The framework's error window: a window of its own that tells the user that something went
// wrong, with the error's message and trail in a field the user can copy into an e-mail to
// support. showErrorWindow blocks until the user closes it.
//
// Where no window can be shown (no display), the message and the details go to standard
// error. Tests install a hook that receives what would be shown, so nothing ever blocks.
// This is not the diagnostic log and not a general message box.

#include <functional>
#include <string_view>

namespace zel::platform
{

inline constexpr std::string_view kErrorWindowClass = "ErrorWindowClass";
inline constexpr std::string_view kErrorWindowTitle = "Ardovin Application Message";
inline constexpr std::string_view kErrorWindowMessage =
    "An issue has happened when executing Ardovin application.\n"
    "\n"
    "If the issue persists, please contact Ardovin support at help@support.ardovin.example. "
    "Copy the details below with Ctrl+Insert and paste them with Shift+Insert into your "
    "e-mail.";
inline constexpr std::string_view kErrorWindowNoDetails = "<no details>";
// The details field's font: a Verdana-like face with a character height of 12.
inline constexpr std::string_view kErrorWindowFont = "Verdana";
inline constexpr int kErrorWindowFontHeight = 12;

// Receives what the window would show (all UTF-8) instead of the window.
using ErrorWindowHook =
    std::function<void(std::string_view title, std::string_view message, std::string_view details)>;

// Installs a hook (an empty one restores the window) and returns the previous hook.
ErrorWindowHook setErrorWindowHook(ErrorWindowHook hook);

// Shows the error window with the given details (UTF-8; empty gives "<no details>") and
// returns when the user has closed it. Callable from any thread.
void showErrorWindow(std::string_view details);

namespace detail
{
// The system's window; supplied by each platform.
void showNativeErrorWindow(std::string_view title, std::string_view message,
                           std::string_view details);
} // namespace detail

} // namespace zel::platform
