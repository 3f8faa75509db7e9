#include "Core/System.h"

#include "Platform/Folders.h"

#include <string>

namespace zel
{

CErrorPtr CSystem::makeDirectories(const CText& path)
{
    if (const int code = platform::makeDirectories(path); code != 0)
        return ZEL_ERROR("CSystem", "zelstr_CSystem_makeDirectories_CreateFolder",
                         "Unable to create folder '%1' (error %2).",
                         {path.toUtf8(), std::to_string(code)});
    return nullptr;
}

CErrorPtr CSystem::sendEvent(platform::WindowHandle window, unsigned message, std::intptr_t value)
{
    if (const int code = platform::postMessage(window, message, 0, value); code != 0)
        return ZEL_ERROR("CSystem", "zelstr_CSystem_sendEvent_PostMessage",
                         "Post message error %1.", {std::to_string(code)});
    return nullptr;
}

} // namespace zel
