#pragma once
// CMemoryReader: a positioned input stream over a buffer it borrows (the caller keeps the
// buffer alive and unchanged while the reader is used). Size and position are signed 32-bit
// values; a buffer longer than 0x7FFFFFFF bytes is read as if it ended there.
//
// A failed read or consume leaves the position unchanged. The reader exposes the address of the
// unread bytes so that callers can parse in place. It does not own, copy or modify the buffer.

#include "Core/InputStream.h"

#include <cstddef>
#include <cstdint>

namespace zel
{

class CMemoryReader : public CPosInputStream
{
public:
    CMemoryReader(const void* data, std::size_t size);
    ~CMemoryReader() override;

    // Null at the end of the data.
    const std::uint8_t* getMemoryAddress() const override;
    CErrorPtr consume(std::size_t count) override;
    CErrorPtr read(void* buffer, std::size_t count) override;
    CErrorPtr readStreamed(void* buffer, std::size_t count, std::size_t& got) override;

    CErrorPtr getPosition(std::int64_t& position) override;
    CErrorPtr getSize(std::int64_t& size) override;
    // Any position from 0 to the size (inclusive).
    CErrorPtr setPosition(std::int64_t position) override;

    std::int32_t position() const { return m_position; }
    std::int32_t size() const { return m_size; }
    std::int32_t remaining() const { return m_size - m_position; }

private:
    const std::uint8_t* m_data;
    std::int32_t m_size;
    std::int32_t m_position = 0;
};

} // namespace zel
