#pragma once
// CPluginLibrary: the state one loaded plug-in library shares between its effect instances:
// the module handle, the start-up guard that owns the application object, and the flag that
// tells whether the host vendor is not Steinberg (recomputed by every effect's
// initialisation; the editor's keyboard handling reads it).
//
// Start-up runs once: on Windows when the library is attached to the process (DllMain), on
// POSIX systems on the first VSTPluginMain (a load-time constructor function could run before
// the C++ initialisers of the module's other files, and could not fail the host's load
// anyway). Shut-down runs when the library is detached (DllMain), at the module's unload and at
// process exit (an exit handler registered right after the start-up, so that it runs before the
// framework's static objects are destroyed).
//
// This is not the application object (CApplication) and holds no instance.

#include <atomic>

namespace zel
{

class CPluginLibrary
{
public:
    // Records the module and runs the application start-up once; false when it failed
    // (the error window has been shown).
    static bool attach(void* moduleHandle);
    // Destroys the application object (under the floating-point guard) and forgets the
    // module. A later attach starts again.
    static void detach();
    // Whether start-up ran and succeeded.
    static bool isStarted();
    static void* moduleHandle();

    static bool hostIsNotSteinberg() { return s_hostNotSteinberg.load(); }
    static void setHostIsNotSteinberg(bool value) { s_hostNotSteinberg.store(value); }

private:
    static inline std::atomic<bool> s_hostNotSteinberg{true};
};

} // namespace zel
