#include "Core/ResourceReader.h"

#include "Core/MemoryReader.h"

namespace zel
{

CResourceReader::CResourceReader(CText name, const std::uint8_t* payload, std::size_t size)
    : m_name(std::move(name)), m_source(std::make_unique<CMemoryReader>(payload, size)),
      m_payload(payload), m_payloadSize(payload != nullptr ? size : 0)
{
}

CResourceReader::CResourceReader(CText name, std::unique_ptr<CPosInputStream> source)
    : m_name(std::move(name)), m_source(std::move(source))
{
}

CResourceReader::~CResourceReader() = default;

const std::uint8_t* CResourceReader::getMemoryAddress() const
{
    return m_payload != nullptr ? m_source->getMemoryAddress() : nullptr;
}

CErrorPtr CResourceReader::consume(std::size_t count)
{
    ZEL_TRY(m_source->consume(count), "CResourceReader::consume");
    return nullptr;
}

CErrorPtr CResourceReader::read(void* buffer, std::size_t count)
{
    ZEL_TRY(m_source->read(buffer, count), "CResourceReader::read");
    return nullptr;
}

CErrorPtr CResourceReader::readStreamed(void* buffer, std::size_t count, std::size_t& got)
{
    got = 0;
    ZEL_TRY(m_source->readStreamed(buffer, count, got), "CResourceReader::readStreamed");
    return nullptr;
}

CErrorPtr CResourceReader::getPosition(std::int64_t& position)
{
    ZEL_TRY(m_source->getPosition(position), "CResourceReader::getPosition");
    return nullptr;
}

CErrorPtr CResourceReader::getSize(std::int64_t& size)
{
    ZEL_TRY(m_source->getSize(size), "CResourceReader::getSize");
    return nullptr;
}

CErrorPtr CResourceReader::setPosition(std::int64_t position)
{
    ZEL_TRY(m_source->setPosition(position), "CResourceReader::setPosition");
    return nullptr;
}

} // namespace zel
