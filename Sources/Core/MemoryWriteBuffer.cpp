#include "Core/MemoryWriteBuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace zel
{

CMemoryWriteBuffer::CMemoryWriteBuffer(std::size_t growthStep)
    : m_growthStep(std::max<std::size_t>(growthStep, 1)), m_initialGrowthStep(m_growthStep)
{
}

CMemoryWriteBuffer::~CMemoryWriteBuffer() = default;

std::size_t CMemoryWriteBuffer::findBlock(std::size_t offset) const
{
    // Sequential writes and reads stay in the remembered block or move to the next one.
    if (m_lastBlock < m_blocks.size())
    {
        const Block& last = m_blocks[m_lastBlock];
        if (offset >= last.offset && offset - last.offset < last.capacity)
            return m_lastBlock;
        if (m_lastBlock + 1 < m_blocks.size())
        {
            const Block& next = m_blocks[m_lastBlock + 1];
            if (offset >= next.offset && offset - next.offset < next.capacity)
                return m_lastBlock = m_lastBlock + 1;
        }
    }
    const auto it = std::upper_bound(m_blocks.begin(), m_blocks.end(), offset,
                                     [](std::size_t value, const Block& block)
                                     { return value < block.offset; });
    m_lastBlock = static_cast<std::size_t>(it - m_blocks.begin()) - 1;
    return m_lastBlock;
}

CErrorPtr CMemoryWriteBuffer::write(const void* data, std::size_t count)
{
    if (count == 0)
        return nullptr;
    if (count > SIZE_MAX / 2 - m_position)
        return ZEL_ERROR("CMemoryWriteBuffer::write", "zelstr_CMemoryWriteBuffer_write_TooLong",
                         "Unable to write %1 bytes at position %2 of a memory buffer.",
                         {std::to_string(count), std::to_string(m_position)});
    const std::size_t endOfWrite = m_position + count;
    if (endOfWrite > m_capacity)
    {
        const std::size_t missing = endOfWrite - m_capacity;
        std::size_t blockCapacity = m_growthStep;
        if (missing >= m_growthStep)
        {
            blockCapacity = missing;
            m_growthStep *= 2;
        }
        m_blocks.push_back(Block{std::make_unique_for_overwrite<std::uint8_t[]>(blockCapacity),
                                 m_capacity, blockCapacity});
        m_capacity += blockCapacity;
    }

    const auto* src = static_cast<const std::uint8_t*>(data);
    std::size_t index = findBlock(m_position);
    std::size_t remaining = count;
    while (remaining > 0)
    {
        Block& block = m_blocks[index];
        const std::size_t inBlock = m_position - block.offset;
        const std::size_t chunk = std::min(remaining, block.capacity - inBlock);
        std::memcpy(block.storage.get() + inBlock, src, chunk);
        src += chunk;
        m_position += chunk;
        remaining -= chunk;
        if (remaining > 0)
            ++index;
    }
    m_lastBlock = index;
    m_end = std::max(m_end, m_position);
    return nullptr;
}

CErrorPtr CMemoryWriteBuffer::getPosition(std::int64_t& position)
{
    position = static_cast<std::int64_t>(m_position);
    return nullptr;
}

CErrorPtr CMemoryWriteBuffer::setPosition(std::int64_t position)
{
    if (position < 0 || static_cast<std::uint64_t>(position) > m_end)
        return ZEL_ERROR("CMemoryWriteBuffer::setPosition",
                         "zelstr_CMemoryWriteBuffer_setPosition_Invalid",
                         "Invalid position %1 in a memory buffer (size %2).",
                         {std::to_string(position), std::to_string(m_end)});
    m_position = static_cast<std::size_t>(position);
    return nullptr;
}

CErrorPtr CMemoryWriteBuffer::getSize(std::int64_t& size)
{
    size = static_cast<std::int64_t>(m_end);
    return nullptr;
}

const std::uint8_t* CMemoryWriteBuffer::blockData(std::size_t index) const
{
    return m_blocks[index].storage.get();
}

std::size_t CMemoryWriteBuffer::blockOffset(std::size_t index) const
{
    return m_blocks[index].offset;
}

std::size_t CMemoryWriteBuffer::blockCapacity(std::size_t index) const
{
    return m_blocks[index].capacity;
}

std::size_t CMemoryWriteBuffer::blockLength(std::size_t index) const
{
    const Block& block = m_blocks[index];
    if (m_end <= block.offset)
        return 0;
    return std::min(block.capacity, m_end - block.offset);
}

bool CMemoryWriteBuffer::copyTo(std::size_t offset, void* dest, std::size_t count) const
{
    if (offset > m_end || count > m_end - offset)
        return false;
    auto* out = static_cast<std::uint8_t*>(dest);
    while (count > 0)
    {
        const Block& block = m_blocks[findBlock(offset)];
        const std::size_t inBlock = offset - block.offset;
        const std::size_t chunk = std::min(count, block.capacity - inBlock);
        std::memcpy(out, block.storage.get() + inBlock, chunk);
        out += chunk;
        offset += chunk;
        count -= chunk;
    }
    return true;
}

std::vector<std::uint8_t> CMemoryWriteBuffer::toVector() const
{
    std::vector<std::uint8_t> out(m_end);
    copyTo(0, out.data(), m_end);
    return out;
}

CErrorPtr CMemoryWriteBuffer::writeTo(COutputStream& target) const
{
    for (std::size_t i = 0; i < m_blocks.size(); ++i)
    {
        const std::size_t n = blockLength(i);
        if (n == 0)
            break;
        ZEL_TRY(target.write(m_blocks[i].storage.get(), n), "CMemoryWriteBuffer::writeTo");
    }
    return nullptr;
}

void CMemoryWriteBuffer::clear()
{
    m_blocks.clear();
    m_lastBlock = 0;
    m_position = 0;
    m_end = 0;
    m_capacity = 0;
    m_growthStep = m_initialGrowthStep;
}

} // namespace zel
