#pragma once
// Counts heap allocations made through operator new on the calling thread while a
// CCountAllocations scope is alive. The test binary replaces the global operator new/delete
// to do the counting; code under test is not changed.

#include <cstddef>

namespace kelvtest
{

class CCountAllocations
{
public:
    CCountAllocations();
    ~CCountAllocations();
    CCountAllocations(const CCountAllocations&) = delete;
    CCountAllocations& operator=(const CCountAllocations&) = delete;

    // Allocations made on this thread since the scope began.
    std::size_t count() const;

private:
    std::size_t m_start;
    bool m_wasCounting;
};

} // namespace kelvtest
