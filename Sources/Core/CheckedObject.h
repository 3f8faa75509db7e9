#pragma once
// CCheckedObject: a non-virtual base that gives an object an identity which typed links can
// check before they touch it. The check word is set by the constructor and overwritten by the
// destructor, so a link that still holds the address of a destroyed object can tell (as long
// as the memory has not been reused for another checked object).

#include <cstdint>

namespace zel
{

class CCheckedObject
{
public:
    CCheckedObject() noexcept : m_check(kAlive) {}
    CCheckedObject(const CCheckedObject&) noexcept : m_check(kAlive) {}
    CCheckedObject& operator=(const CCheckedObject&) noexcept { return *this; }
    ~CCheckedObject() { m_check = kDead; }

    // True while the object is alive.
    bool isCheckedObjectValid() const noexcept { return m_check == kAlive; }
    // Null-safe form of the check.
    static bool isValid(const CCheckedObject* object) noexcept
    {
        return object != nullptr && object->isCheckedObjectValid();
    }

private:
    static constexpr std::uint32_t kAlive = 0x5A454C31u; // "ZEL1"
    static constexpr std::uint32_t kDead = 0xDEADBEEFu;
    volatile std::uint32_t m_check;
};

} // namespace zel
