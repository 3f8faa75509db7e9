#pragma once
// CSystem: the few system services the framework's objects use directly: creating a folder
// path for application data, and posting a message to a window so that work handed over by
// another thread runs on the window's (user-interface) thread. Both go through the platform
// layer. This is not the platform layer itself and holds no state.

#include "Core/Error.h"
#include "Core/Text.h"
#include "Platform/MessageWindow.h"

#include <cstdint>

namespace zel
{

class CSystem
{
public:
    // Creates each missing folder of path (separator "/") in turn.
    static CErrorPtr makeDirectories(const CText& path);
    // Posts message to window with the arguments 0 and value; it is handled later on the
    // window's thread. Callable from any thread; never waits for the window.
    static CErrorPtr sendEvent(platform::WindowHandle window, unsigned message,
                               std::intptr_t value);
};

} // namespace zel
