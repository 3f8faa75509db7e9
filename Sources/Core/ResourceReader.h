#pragma once
// CResourceReader: the positioned input stream that openResource() hands out. It owns the
// stream chosen for the resource (a memory reader over a built-in payload, or a file reader)
// and forwards every read, position and size operation to it, adding its own trail entry to
// errors. For a built-in resource it also exposes the payload's address so that callers (the
// description loader) can parse it in place instead of copying it.
//
// It is not a lookup: finding the resource by name is the store's job (ResourceStore.h).

#include "Core/InputStream.h"
#include "Core/Text.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zel
{

class CResourceReader : public CPosInputStream
{
public:
    // A reader over a built-in payload; the payload outlives the reader.
    CResourceReader(CText name, const std::uint8_t* payload, std::size_t size);
    // A reader over another stream (a file); payloadAddress() is null.
    CResourceReader(CText name, std::unique_ptr<CPosInputStream> source);
    ~CResourceReader() override;

    const CText& name() const { return m_name; }
    bool isBuiltIn() const { return m_payload != nullptr; }
    // Start of the built-in payload (independent of the position); null for a file.
    const std::uint8_t* payloadAddress() const { return m_payload; }
    // Size of the built-in payload; 0 for a file (use getSize).
    std::size_t payloadSize() const { return m_payloadSize; }

    // Address of the unread data of a built-in payload; null for a file or at the end.
    const std::uint8_t* getMemoryAddress() const override;
    CErrorPtr consume(std::size_t count) override;
    CErrorPtr read(void* buffer, std::size_t count) override;
    CErrorPtr readStreamed(void* buffer, std::size_t count, std::size_t& got) override;

    CErrorPtr getPosition(std::int64_t& position) override;
    CErrorPtr getSize(std::int64_t& size) override;
    CErrorPtr setPosition(std::int64_t position) override;

private:
    CText m_name;
    std::unique_ptr<CPosInputStream> m_source;
    const std::uint8_t* m_payload = nullptr;
    std::size_t m_payloadSize = 0;
};

} // namespace zel
