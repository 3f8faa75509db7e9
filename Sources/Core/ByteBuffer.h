#pragma once
// CByteBuffer: a resizable run of bytes that keeps up to kInlineCapacity bytes inside the object
// and only goes to the heap for longer contents. Streams decode short texts and small compressed
// blocks into it so that those never allocate.
//
// It is not a general container: no insert or erase, and resizing keeps the old bytes but leaves
// new ones uninitialised unless asked for zeroes.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zel
{

class CByteBuffer
{
public:
    static constexpr std::size_t kInlineCapacity = 32;

    CByteBuffer() = default;
    explicit CByteBuffer(std::size_t size) { resize(size); }
    CByteBuffer(const CByteBuffer& other) { assign(other.data(), other.size()); }
    CByteBuffer& operator=(const CByteBuffer& other)
    {
        if (this != &other)
            assign(other.data(), other.size());
        return *this;
    }
    CByteBuffer(CByteBuffer&& other) noexcept { moveFrom(other); }
    CByteBuffer& operator=(CByteBuffer&& other) noexcept
    {
        if (this != &other)
            moveFrom(other);
        return *this;
    }
    ~CByteBuffer() = default;

    std::uint8_t* data() { return m_heap ? m_heap.get() : m_inline; }
    const std::uint8_t* data() const { return m_heap ? m_heap.get() : m_inline; }
    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    std::size_t capacity() const { return m_heap ? m_capacity : kInlineCapacity; }
    // True while the content lives inside the object (no heap block).
    bool isInline() const { return !m_heap; }

    std::uint8_t* begin() { return data(); }
    std::uint8_t* end() { return data() + m_size; }
    const std::uint8_t* begin() const { return data(); }
    const std::uint8_t* end() const { return data() + m_size; }
    std::uint8_t& operator[](std::size_t i) { return data()[i]; }
    std::uint8_t operator[](std::size_t i) const { return data()[i]; }

    // Changes the size; the first min(old, new) bytes are kept.
    void resize(std::size_t size);
    void assign(const void* bytes, std::size_t size);
    void clear() { m_size = 0; }

private:
    void moveFrom(CByteBuffer& other) noexcept;

    std::unique_ptr<std::uint8_t[]> m_heap;
    std::size_t m_capacity = 0;
    std::size_t m_size = 0;
    std::uint8_t m_inline[kInlineCapacity] = {};
};

} // namespace zel
