#include "Core/OutputStream.h"

#include "Core/MemoryWriteBuffer.h"
#include "Core/ZipStreams.h"

#include <zlib.h>

#include <cstring>
#include <limits>
#include <string>

namespace zel
{
namespace
{

void splitUInt(std::uint32_t value, std::uint8_t* b)
{
    b[0] = static_cast<std::uint8_t>(value);
    b[1] = static_cast<std::uint8_t>(value >> 8);
    b[2] = static_cast<std::uint8_t>(value >> 16);
    b[3] = static_cast<std::uint8_t>(value >> 24);
}

void splitUInt64(std::uint64_t value, std::uint8_t* b)
{
    splitUInt(static_cast<std::uint32_t>(value), b);
    splitUInt(static_cast<std::uint32_t>(value >> 32), b + 4);
}

// Appends the UTF-8 of one code unit; returns the number of bytes (1 to 3).
std::size_t encodeUnit(char16_t unit, std::uint8_t* out)
{
    if (unit < 0x80)
    {
        out[0] = static_cast<std::uint8_t>(unit);
        return 1;
    }
    if (unit < 0x800)
    {
        out[0] = static_cast<std::uint8_t>(0xC0 | (unit >> 6));
        out[1] = static_cast<std::uint8_t>(0x80 | (unit & 0x3F));
        return 2;
    }
    out[0] = static_cast<std::uint8_t>(0xE0 | (unit >> 12));
    out[1] = static_cast<std::uint8_t>(0x80 | ((unit >> 6) & 0x3F));
    out[2] = static_cast<std::uint8_t>(0x80 | (unit & 0x3F));
    return 3;
}

} // namespace

COutputStream::~COutputStream() = default;

CErrorPtr COutputStream::writeInt(std::int32_t value)
{
    std::uint8_t b[4];
    splitUInt(static_cast<std::uint32_t>(value), b);
    return ZEL_PASS(write(b, sizeof b), "COutputStream::writeInt");
}

CErrorPtr COutputStream::writeUInt(std::uint32_t value)
{
    std::uint8_t b[4];
    splitUInt(value, b);
    return ZEL_PASS(write(b, sizeof b), "COutputStream::writeUInt");
}

CErrorPtr COutputStream::writeInt64(std::int64_t value)
{
    std::uint8_t b[8];
    splitUInt64(static_cast<std::uint64_t>(value), b);
    return ZEL_PASS(write(b, sizeof b), "COutputStream::writeInt64");
}

CErrorPtr COutputStream::writeDouble(double value)
{
    std::uint64_t bits = 0;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    std::uint8_t b[8];
    splitUInt64(bits, b);
    return ZEL_PASS(write(b, sizeof b), "COutputStream::writeDouble");
}

CErrorPtr COutputStream::writeFloat(float value)
{
    std::uint32_t bits = 0;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    std::uint8_t b[4];
    splitUInt(bits, b);
    return ZEL_PASS(write(b, sizeof b), "COutputStream::writeFloat");
}

CErrorPtr COutputStream::writeBlock(const void* data, std::size_t count)
{
    static constexpr const char* kName = "COutputStream::writeBlock";
    if (count > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return ZEL_ERROR(kName, "zelstr_COutputStream_writeBlock_TooLong",
                         "Byte block of %1 bytes too long in writeBlock().",
                         {std::to_string(count)});
    ZEL_TRY(writeInt(static_cast<std::int32_t>(count)), kName);
    ZEL_TRY(write(data, count), kName);
    return nullptr;
}

CErrorPtr COutputStream::writeString(const CText& text)
{
    static constexpr const char* kName = "COutputStream::writeString";
    // Characters are encoded into a small staging area; only a text whose UTF-8 does not fit in
    // it goes on into a growable buffer.
    std::uint8_t staging[128];
    std::size_t staged = 0;
    CMemoryWriteBuffer spill(CMemoryWriteBuffer::kDefaultGrowthStep);
    bool spilled = false;
    const std::size_t units = text.size();
    for (std::size_t i = 0; i < units; ++i)
    {
        if (staged + 3 > sizeof staging)
        {
            ZEL_TRY(spill.write(staging, staged), kName);
            spilled = true;
            staged = 0;
        }
        staged += encodeUnit(text[i], staging + staged);
    }
    if (!spilled)
    {
        ZEL_TRY(writeInt(static_cast<std::int32_t>(staged)), kName);
        ZEL_TRY(write(staging, staged), kName);
        return nullptr;
    }
    ZEL_TRY(spill.write(staging, staged), kName);
    if (spill.length() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return ZEL_ERROR(kName, "zelstr_COutputStream_writeString_TooLong",
                         "String of %1 bytes too long in writeString().",
                         {std::to_string(spill.length())});
    ZEL_TRY(writeInt(static_cast<std::int32_t>(spill.length())), kName);
    ZEL_TRY(spill.writeTo(*this), kName);
    return nullptr;
}

CErrorPtr COutputStream::writeCompressedData(std::uint32_t id, const void* data, std::size_t count)
{
    static constexpr const char* kName = "COutputStream::writeCompressedData";
    if (count > std::numeric_limits<std::uint32_t>::max())
        return ZEL_ERROR(kName, "zelstr_COutputStream_writeCompressedData_TooLong",
                         "Compressed data of %1 bytes too long in writeCompressedData().",
                         {std::to_string(count)});
    ZEL_TRY(writeUInt(id), kName);
    std::uint8_t lengthField[4];
    splitUInt(static_cast<std::uint32_t>(count), lengthField);
    ZEL_TRY(write(lengthField, sizeof lengthField), kName);
    ZEL_TRY(writeUInt(static_cast<std::uint32_t>(adler32(1L, lengthField, 4))), kName);

    COutputZipStream zip;
    ZEL_TRY(zip.open(this, kDefaultCompressionLevel), kName);
    ZEL_TRY(zip.write(data, count), kName);
    ZEL_TRY(zip.close(), kName);
    return nullptr;
}

} // namespace zel
