#include "Support/AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace
{
thread_local std::size_t t_allocations = 0;
thread_local bool t_counting = false;

// Counts the allocation while a scope is counting; align 0 means the default alignment. Returns
// null on failure, for the caller to throw or not.
void* countedAlloc(std::size_t size, std::size_t align = 0)
{
    if (t_counting)
        ++t_allocations;
    size = size == 0 ? 1 : size;
    return align == 0 ? std::malloc(size)
                      : std::aligned_alloc(align, (size + align - 1) / align * align);
}

void* countedOrThrow(std::size_t size, std::size_t align = 0)
{
    if (void* p = countedAlloc(size, align))
        return p;
    throw std::bad_alloc();
}
} // namespace

void* operator new(std::size_t size)
{
    return countedOrThrow(size);
}
void* operator new[](std::size_t size)
{
    return countedOrThrow(size);
}
void* operator new(std::size_t size, std::align_val_t align)
{
    return countedOrThrow(size, static_cast<std::size_t>(align));
}
void* operator new[](std::size_t size, std::align_val_t align)
{
    return countedOrThrow(size, static_cast<std::size_t>(align));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return countedAlloc(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return countedAlloc(size);
}
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept
{
    return countedAlloc(size, static_cast<std::size_t>(align));
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept
{
    return countedAlloc(size, static_cast<std::size_t>(align));
}

// Every form of delete frees what the allocations above took from the C heap.
#define KELV_FREEING_DELETE(form, ...)                                                             \
    void operator form(void* p __VA_OPT__(, ) __VA_ARGS__) noexcept                                \
    {                                                                                              \
        std::free(p);                                                                              \
    }
KELV_FREEING_DELETE(delete)
KELV_FREEING_DELETE(delete[])
KELV_FREEING_DELETE(delete, std::size_t)
KELV_FREEING_DELETE(delete[], std::size_t)
KELV_FREEING_DELETE(delete, std::align_val_t)
KELV_FREEING_DELETE(delete[], std::align_val_t)
KELV_FREEING_DELETE(delete, std::size_t, std::align_val_t)
KELV_FREEING_DELETE(delete[], std::size_t, std::align_val_t)
KELV_FREEING_DELETE(delete, const std::nothrow_t&)
KELV_FREEING_DELETE(delete[], const std::nothrow_t&)
KELV_FREEING_DELETE(delete, std::align_val_t, const std::nothrow_t&)
KELV_FREEING_DELETE(delete[], std::align_val_t, const std::nothrow_t&)
#undef KELV_FREEING_DELETE

namespace kelvtest
{

CCountAllocations::CCountAllocations() : m_start(t_allocations), m_wasCounting(t_counting)
{
    t_counting = true;
}

CCountAllocations::~CCountAllocations()
{
    t_counting = m_wasCounting;
}

std::size_t CCountAllocations::count() const
{
    return t_allocations - m_start;
}

} // namespace kelvtest
