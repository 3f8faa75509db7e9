#include "Platform/CriticalSection.h"

#include <windows.h>

namespace zel
{
namespace
{
static_assert(sizeof(CRITICAL_SECTION) <= 64, "opaque storage too small for CRITICAL_SECTION");
CRITICAL_SECTION* sectionOf(unsigned char* storage)
{
    return reinterpret_cast<CRITICAL_SECTION*>(storage);
}
} // namespace

CCriticalSection::CCriticalSection(unsigned spinCount) : m_storage{}, m_spinCount(spinCount)
{
    InitializeCriticalSectionAndSpinCount(sectionOf(m_storage), spinCount);
}

CCriticalSection::~CCriticalSection()
{
    DeleteCriticalSection(sectionOf(m_storage));
}

void CCriticalSection::enter()
{
    EnterCriticalSection(sectionOf(m_storage));
}

bool CCriticalSection::tryEnter()
{
    return TryEnterCriticalSection(sectionOf(m_storage)) != FALSE;
}

void CCriticalSection::leave()
{
    LeaveCriticalSection(sectionOf(m_storage));
}

} // namespace zel
