#pragma once
// CMemoryWriteBuffer: a positioned output stream that collects what is written in memory, in a
// chain of blocks. A write that ends beyond the total capacity appends one block starting where
// the last one ends: its capacity is the missing length when that is at least the growth step
// (the step then doubles), otherwise the growth step. Blocks are never moved, merged or copied,
// so stored bytes keep their address while the buffer grows. Writing below the end (after
// setPosition) overwrites in place.
//
// It is not a reader: the content is read back through blockData/copyTo/toVector/writeTo, or by
// a CMemoryReader over one block.

#include "Core/OutputStream.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zel
{

class CMemoryWriteBuffer : public CPosOutputStream
{
public:
    // Growth step of the buffers the framework makes for texts and compressed blocks.
    static constexpr std::size_t kDefaultGrowthStep = 2048;

    explicit CMemoryWriteBuffer(std::size_t growthStep = kDefaultGrowthStep);
    ~CMemoryWriteBuffer() override;

    CErrorPtr write(const void* data, std::size_t count) override;
    CErrorPtr getPosition(std::int64_t& position) override;
    // Any position from 0 to the end (inclusive).
    CErrorPtr setPosition(std::int64_t position) override;
    // The end: the largest position written so far.
    CErrorPtr getSize(std::int64_t& size) override;

    std::size_t length() const { return m_end; }
    std::size_t position() const { return m_position; }
    std::size_t capacity() const { return m_capacity; }
    std::size_t growthStep() const { return m_growthStep; }

    // The blocks in stream order. blockLength is the part of the block below the end.
    std::size_t blockCount() const { return m_blocks.size(); }
    const std::uint8_t* blockData(std::size_t index) const;
    std::size_t blockOffset(std::size_t index) const;
    std::size_t blockCapacity(std::size_t index) const;
    std::size_t blockLength(std::size_t index) const;

    // Copies count bytes from offset; false when they are not all below the end.
    bool copyTo(std::size_t offset, void* dest, std::size_t count) const;
    std::vector<std::uint8_t> toVector() const;
    // Writes the whole content (up to the end) to another stream.
    CErrorPtr writeTo(COutputStream& target) const;
    // Releases every block and starts over with the growth step given at construction.
    void clear();

private:
    struct Block
    {
        std::unique_ptr<std::uint8_t[]> storage;
        std::size_t offset;
        std::size_t capacity;
    };

    // Index of the block holding offset (offset < m_capacity).
    std::size_t findBlock(std::size_t offset) const;

    std::vector<Block> m_blocks;
    mutable std::size_t m_lastBlock = 0;
    std::size_t m_position = 0;
    std::size_t m_end = 0;
    std::size_t m_capacity = 0;
    std::size_t m_growthStep;
    std::size_t m_initialGrowthStep;
};

} // namespace zel
