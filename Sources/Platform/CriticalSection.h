#pragma once
// CCriticalSection: a re-entrant lock of the operating system, created with a spin count.
// A thread that finds it taken first retries without sleeping up to spinCount times, then
// blocks. The same thread may enter it again; every enter needs a matching leave.
// The storage is opaque so that portable code never sees a system header.

#include <cstddef>

namespace zel
{

class CCriticalSection
{
public:
    static constexpr unsigned kDefaultSpinCount = 4000;

    explicit CCriticalSection(unsigned spinCount = kDefaultSpinCount);
    ~CCriticalSection();
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    void enter();
    bool tryEnter();
    void leave();
    unsigned spinCount() const { return m_spinCount; }

private:
    alignas(16) unsigned char m_storage[64];
    unsigned m_spinCount;
};

// Scoped enter/leave.
class CCriticalSectionLock
{
public:
    explicit CCriticalSectionLock(CCriticalSection& cs) : m_cs(cs) { m_cs.enter(); }
    ~CCriticalSectionLock() { m_cs.leave(); }
    CCriticalSectionLock(const CCriticalSectionLock&) = delete;
    CCriticalSectionLock& operator=(const CCriticalSectionLock&) = delete;

private:
    CCriticalSection& m_cs;
};

} // namespace zel
