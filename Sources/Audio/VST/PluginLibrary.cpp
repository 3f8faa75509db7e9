#include "Audio/VST/PluginLibrary.h"

#include "Core/Application.h"
#include "Platform/FloatingPoint.h"
#include "Platform/LibraryEntry.h"

#include <cstdlib>
#include <mutex>

namespace zel
{
namespace
{

// Owns the application object while it lives; remembers whether creating it failed.
class CStartupGuard
{
public:
    CStartupGuard()
    {
        platform::CFpHostGuard fp;
        m_failed = CApplication::startLibrary() != nullptr;
    }
    ~CStartupGuard()
    {
        platform::CFpHostGuard fp;
        if (!m_failed)
            CApplication::stopLibrary();
    }
    CStartupGuard(const CStartupGuard&) = delete;
    CStartupGuard& operator=(const CStartupGuard&) = delete;

    bool failed() const { return m_failed; }

private:
    bool m_failed = false;
};

// Plain globals with trivial destructors: they stay usable while the module's other static
// objects are destroyed, whatever the order.
std::mutex g_mutex;
CStartupGuard* g_guard = nullptr;
void* g_module = nullptr;
bool g_exitHookRegistered = false;

void stopAtExit()
{
    CPluginLibrary::detach();
}

} // namespace

bool CPluginLibrary::attach(void* moduleHandle)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (moduleHandle != nullptr)
        g_module = moduleHandle;
    if (g_guard == nullptr)
    {
        g_guard = new CStartupGuard;
        // Registered after the start-up created the framework's static objects, so it runs
        // before they are destroyed: at exit, and at unload of the module (its exit handlers
        // run then). The framework's objects must go while their registries still exist.
        if (!g_exitHookRegistered)
            g_exitHookRegistered = std::atexit(&stopAtExit) == 0;
    }
    return !g_guard->failed();
}

void CPluginLibrary::detach()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    delete g_guard;
    g_guard = nullptr;
    g_module = nullptr;
}

bool CPluginLibrary::isStarted()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_guard != nullptr && !g_guard->failed();
}

void* CPluginLibrary::moduleHandle()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_module;
}

namespace platform
{

bool onLibraryLoad(void* moduleHandle)
{
    return CPluginLibrary::attach(moduleHandle);
}

void onLibraryUnload()
{
    CPluginLibrary::detach();
}

} // namespace platform

} // namespace zel
