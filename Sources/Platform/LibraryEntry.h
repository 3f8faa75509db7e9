#pragma once
// The plug-in library's load and unload hooks. The system's module entry (Win32: DllMain on
// process attach and detach) calls them; the plug-in library supplies them. The entry is not
// part of the static framework library: only the plug-in module links it. POSIX modules have
// no load-time entry: they start on the first VSTPluginMain.

namespace zel::platform
{

// Called when the system attaches the library to the process; false fails the load.
bool onLibraryLoad(void* moduleHandle);
// Called when the library is detached from the process or unloaded.
void onLibraryUnload();

} // namespace zel::platform
