#pragma once
// COutputStream and CPosOutputStream: the framework's sequential and positioned byte sinks, and
// the encoders of the binary encodings that CInputStream decodes (the table of encodings is in
// InputStream.h). Changing an encoder breaks every stored preset, bank, state chunk and resource.
//
// These classes only move bytes; they know nothing about what the bytes mean. Every operation
// returns an error (null on success) and no exception leaves them.

#include "Core/BlockId.h"
#include "Core/CheckedObject.h"
#include "Core/Error.h"
#include "Core/Text.h"

#include <cstddef>
#include <cstdint>

namespace zel
{

class COutputStream : public CCheckedObject
{
public:
    // zlib's default compression level, used for compressed blocks.
    static constexpr int kDefaultCompressionLevel = -1;

    COutputStream() = default;
    COutputStream(const COutputStream&) = delete;
    COutputStream& operator=(const COutputStream&) = delete;
    virtual ~COutputStream();

    // Writes count bytes.
    virtual CErrorPtr write(const void* data, std::size_t count) = 0;

    CErrorPtr writeInt(std::int32_t value);
    CErrorPtr writeUInt(std::uint32_t value);
    CErrorPtr writeInt64(std::int64_t value);
    CErrorPtr writeDouble(double value);
    CErrorPtr writeFloat(float value);
    // A byte block: 32-bit length, then the bytes.
    CErrorPtr writeBlock(const void* data, std::size_t count);
    // A text: 32-bit byte length, then every code unit as UTF-8 of one to three bytes. A
    // surrogate pair is written as two 3-byte sequences, which readString turns back into the
    // same two units.
    CErrorPtr writeString(const CText& text);
    // A compressed block: the identifier (see makeBlockId), the plain length, the Adler-32 of the
    // four length bytes, then the bytes deflated as a zlib stream at zlib's default level.
    CErrorPtr writeCompressedData(std::uint32_t id, const void* data, std::size_t count);
};

class CPosOutputStream : public COutputStream
{
public:
    virtual CErrorPtr getPosition(std::int64_t& position) = 0;
    virtual CErrorPtr setPosition(std::int64_t position) = 0;
    virtual CErrorPtr getSize(std::int64_t& size) = 0;
};

} // namespace zel
