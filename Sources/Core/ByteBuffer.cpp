#include "Core/ByteBuffer.h"

#include <algorithm>
#include <cstring>

namespace zel
{

void CByteBuffer::resize(std::size_t size)
{
    if (size > capacity())
    {
        // Grow geometrically so that repeated growth by chunks stays linear overall.
        const std::size_t newCapacity = std::max(size, capacity() + capacity() / 2);
        std::unique_ptr<std::uint8_t[]> heap(new std::uint8_t[newCapacity]);
        if (m_size > 0)
            std::memcpy(heap.get(), data(), m_size);
        m_heap = std::move(heap);
        m_capacity = newCapacity;
    }
    m_size = size;
}

void CByteBuffer::assign(const void* bytes, std::size_t size)
{
    m_size = 0;
    resize(size);
    if (size > 0)
        std::memcpy(data(), bytes, size);
}

void CByteBuffer::moveFrom(CByteBuffer& other) noexcept
{
    if (other.m_heap)
    {
        m_heap = std::move(other.m_heap);
        m_capacity = other.m_capacity;
    }
    else
    {
        m_heap.reset();
        m_capacity = 0;
        std::memcpy(m_inline, other.m_inline, other.m_size);
    }
    m_size = other.m_size;
    other.m_capacity = 0;
    other.m_size = 0;
}

} // namespace zel
