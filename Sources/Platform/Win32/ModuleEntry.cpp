// The plug-in module's entry on Windows. Process attach runs the application start-up (an error
// is shown in the error window and fails the host's load); process detach destroys the
// application object. Thread attach and detach do nothing.
#include "Platform/LibraryEntry.h"

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    switch (reason)
    {
    case DLL_PROCESS_ATTACH:
        return zel::platform::onLibraryLoad(instance) ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
        zel::platform::onLibraryUnload();
        return TRUE;
    default:
        return TRUE;
    }
}
