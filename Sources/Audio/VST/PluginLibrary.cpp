#include "Audio/VST/PluginLibrary.h"

#include "Core/Application.h"
#include "Platform/FloatingPoint.h"
#include "Platform/LibraryEntry.h"

#include <memory>
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

struct SLibraryState
{
    std::mutex mutex;
    std::unique_ptr<CStartupGuard> guard;
    void* module = nullptr;
};

SLibraryState& state()
{
    static SLibraryState s;
    return s;
}

} // namespace

bool CPluginLibrary::attach(void* moduleHandle)
{
    SLibraryState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (moduleHandle != nullptr)
        s.module = moduleHandle;
    if (!s.guard)
        s.guard = std::make_unique<CStartupGuard>();
    return !s.guard->failed();
}

void CPluginLibrary::detach()
{
    SLibraryState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.guard.reset();
    s.module = nullptr;
}

bool CPluginLibrary::isStarted()
{
    SLibraryState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.guard && !s.guard->failed();
}

void* CPluginLibrary::moduleHandle()
{
    SLibraryState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.module;
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
