#pragma once
// The plug-in library's load and unload hooks. The system's module entry (Win32: DllMain on
// process attach and detach; POSIX: the library's destructor function at unload) calls them;
// the plug-in library supplies them. They are not part of the static framework library: only
// the plug-in module links the entry.

namespace zel::platform
{

// Called when the system attaches the library to the process; false fails the load.
bool onLibraryLoad(void* moduleHandle);
// Called when the library is detached from the process or unloaded.
void onLibraryUnload();

} // namespace zel::platform
