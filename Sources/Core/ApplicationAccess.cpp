#include "Core/ApplicationAccess.h"

#include <atomic>

namespace zel
{
namespace
{
std::atomic<CApplicationAccess*>& applicationSlot()
{
    static std::atomic<CApplicationAccess*> slot{nullptr};
    return slot;
}
} // namespace

CApplicationAccess* CApplicationAccess::instance()
{
    return applicationSlot().load();
}

CApplicationAccess* CApplicationAccess::setInstance(CApplicationAccess* application)
{
    return applicationSlot().exchange(application);
}

} // namespace zel
