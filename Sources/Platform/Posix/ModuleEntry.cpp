// The plug-in module's entry on POSIX systems. The application start-up runs on the first
// VSTPluginMain rather than at load time: a constructor function would run before the C++
// initialisers of other files of the module are guaranteed to have run, and a failure there
// could not fail the host's load anyway. The shut-down runs when the module is unloaded, before
// the module's static objects are destroyed.
#include "Platform/LibraryEntry.h"

namespace
{

__attribute__((destructor)) void kelvModuleUnload()
{
    zel::platform::onLibraryUnload();
}

} // namespace
