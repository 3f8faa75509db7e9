#pragma once
// CInputStream and CPosInputStream: the framework's sequential and positioned byte sources, and
// the decoders of the binary encodings every writer of the framework produces (see
// COutputStream for the matching encoders).
//
// Encodings, all little-endian:
//   32-bit integer      4 bytes, least significant first, assembled byte by byte
//   64-bit value        the 8 bytes of the IEEE 754 binary64 value (or two's complement integer)
//   32-bit float        the 4 bytes of the IEEE 754 binary32 value
//   byte block          32-bit length n, then n bytes
//   text                32-bit byte length n, then n bytes of UTF-8, no terminator
//   compressed block    identifier, plain length, Adler-32 of the length bytes, zlib stream
//
// Changing any of these breaks every stored preset, bank, state chunk and resource.
//
// These classes only move bytes; they know nothing about what the bytes mean. Every operation
// returns an error (null on success) and no exception leaves them.

#include "Core/BlockId.h"
#include "Core/ByteBuffer.h"
#include "Core/CheckedObject.h"
#include "Core/Error.h"
#include "Core/Text.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zel
{

class CInputStream : public CCheckedObject
{
public:
    // Longest text readString accepts, in bytes of UTF-8.
    static constexpr std::int32_t kMaxStringBytes = 61440;

    CInputStream() = default;
    CInputStream(const CInputStream&) = delete;
    CInputStream& operator=(const CInputStream&) = delete;
    virtual ~CInputStream();

    // Address of the unread data when the stream is backed by memory, so that callers can parse
    // in place; null for other streams and at the end of the data.
    virtual const std::uint8_t* getMemoryAddress() const;
    // Skips count bytes. The base reads them into a scratch buffer.
    virtual CErrorPtr consume(std::size_t count);
    // Reads exactly count bytes.
    virtual CErrorPtr read(void* buffer, std::size_t count) = 0;
    // Reads up to count bytes and reports how many arrived (fewer only at the end of the data).
    // The base reads exactly count bytes.
    virtual CErrorPtr readStreamed(void* buffer, std::size_t count, std::size_t& got);

    CErrorPtr readInt(std::int32_t& value);
    CErrorPtr readUInt(std::uint32_t& value);
    CErrorPtr readInt64(std::int64_t& value);
    CErrorPtr readDouble(double& value);
    CErrorPtr readFloat(float& value);
    // A byte block: 32-bit length, then the bytes. A negative length is an error.
    CErrorPtr readBlock(std::vector<std::uint8_t>& bytes);
    // A text: 32-bit length, then UTF-8. A negative length gives an empty text; a length above
    // kMaxStringBytes fails. Decoding stops silently at a code point 0, at an invalid lead byte
    // and at a sequence cut off by the end of the data. The result stays 8-bit while every
    // character is below 0x100. A 4-byte sequence (code point 0x10000..0x10FFFF) becomes a
    // surrogate pair in a 16-bit text; one above 0x10FFFF stops decoding like an invalid lead.
    CErrorPtr readString(CText& text);
    // A compressed block whose identifier must be expectedId (see makeBlockId). The plain bytes
    // replace the content of data. On success the stream stands right after the block when it
    // is positioned; after a failure its position is unspecified.
    CErrorPtr readCompressedData(std::uint32_t expectedId, CByteBuffer& data);
};

class CPosInputStream : public CInputStream
{
public:
    virtual CErrorPtr getPosition(std::int64_t& position) = 0;
    virtual CErrorPtr getSize(std::int64_t& size) = 0;
    virtual CErrorPtr setPosition(std::int64_t position) = 0;
};

} // namespace zel
