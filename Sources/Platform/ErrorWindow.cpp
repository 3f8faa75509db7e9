#include "Platform/ErrorWindow.h"

#include <mutex>

namespace zel::platform
{
namespace
{

std::mutex& hookMutex()
{
    static std::mutex m;
    return m;
}

ErrorWindowHook& hookSlot()
{
    static ErrorWindowHook hook;
    return hook;
}

} // namespace

ErrorWindowHook setErrorWindowHook(ErrorWindowHook hook)
{
    std::lock_guard<std::mutex> lock(hookMutex());
    ErrorWindowHook previous = std::move(hookSlot());
    hookSlot() = std::move(hook);
    return previous;
}

void showErrorWindow(std::string_view details)
{
    if (details.empty())
        details = kErrorWindowNoDetails;
    ErrorWindowHook hook;
    {
        std::lock_guard<std::mutex> lock(hookMutex());
        hook = hookSlot();
    }
    if (hook)
        hook(kErrorWindowTitle, kErrorWindowMessage, details);
    else
        detail::showNativeErrorWindow(kErrorWindowTitle, kErrorWindowMessage, details);
}

} // namespace zel::platform
