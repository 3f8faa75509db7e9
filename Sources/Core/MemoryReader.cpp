#include "Core/MemoryReader.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

namespace zel
{

CMemoryReader::CMemoryReader(const void* data, std::size_t size)
    : m_data(static_cast<const std::uint8_t*>(data)),
      m_size(static_cast<std::int32_t>(
          std::min<std::size_t>(size, std::numeric_limits<std::int32_t>::max())))
{
    if (m_data == nullptr)
        m_size = 0;
}

CMemoryReader::~CMemoryReader() = default;

const std::uint8_t* CMemoryReader::getMemoryAddress() const
{
    return m_position < m_size ? m_data + m_position : nullptr;
}

CErrorPtr CMemoryReader::consume(std::size_t count)
{
    if (count > static_cast<std::size_t>(remaining()))
        return ZEL_ERROR(
            "CMemoryReader::consume", "zelstr_CMemoryReader_consume_EOF",
            "Premature end of memory resource while consuming (pos %1, count %2, size %3).",
            {std::to_string(m_position), std::to_string(count), std::to_string(m_size)});
    m_position += static_cast<std::int32_t>(count);
    return nullptr;
}

CErrorPtr CMemoryReader::read(void* buffer, std::size_t count)
{
    if (count > static_cast<std::size_t>(remaining()))
        return ZEL_ERROR(
            "CMemoryReader::read", "zelstr_CMemoryReader_read_EOF",
            "Premature end of memory resource while reading (pos %1, count %2, size %3).",
            {std::to_string(m_position), std::to_string(count), std::to_string(m_size)});
    if (count > 0)
        std::memcpy(buffer, m_data + m_position, count);
    m_position += static_cast<std::int32_t>(count);
    return nullptr;
}

CErrorPtr CMemoryReader::readStreamed(void* buffer, std::size_t count, std::size_t& got)
{
    got = std::min(count, static_cast<std::size_t>(remaining()));
    if (got > 0)
        std::memcpy(buffer, m_data + m_position, got);
    m_position += static_cast<std::int32_t>(got);
    return nullptr;
}

CErrorPtr CMemoryReader::getPosition(std::int64_t& position)
{
    position = m_position;
    return nullptr;
}

CErrorPtr CMemoryReader::getSize(std::int64_t& size)
{
    size = m_size;
    return nullptr;
}

CErrorPtr CMemoryReader::setPosition(std::int64_t position)
{
    if (position < 0 || position > m_size)
        return ZEL_ERROR("CMemoryReader::setPosition", "zelstr_CMemoryReader_setPosition_EOF",
                         "Invalid position %1 in memory resource (size %2).",
                         {std::to_string(position), std::to_string(m_size)});
    m_position = static_cast<std::int32_t>(position);
    return nullptr;
}

} // namespace zel
