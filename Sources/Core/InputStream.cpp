#include "Core/InputStream.h"

#include "Core/ZipStreams.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace zel
{
namespace
{

// Chunk in which blocks of announced length are read, so that a corrupt length cannot make the
// reader allocate far more than the data that actually arrives. Chunks double as data arrives.
constexpr std::size_t kFirstChunk = 65536;

std::uint32_t assembleUInt(const std::uint8_t* b)
{
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

std::uint64_t assembleUInt64(const std::uint8_t* b)
{
    return static_cast<std::uint64_t>(assembleUInt(b)) |
           static_cast<std::uint64_t>(assembleUInt(b + 4)) << 32;
}

// Decodes the UTF-8 of a stored text. Continuation bytes are not checked; each contributes its
// low six bits. Decoding ends at a code point 0, at a byte that cannot start a sequence, at a
// sequence cut off by the end of the data and at a code point beyond U+10FFFF.
CText decodeUtf8(const std::uint8_t* bytes, std::size_t count)
{
    std::string narrow;
    std::u16string wide;
    bool isWide = false;
    narrow.reserve(count);
    std::size_t i = 0;
    while (i < count)
    {
        const std::uint8_t lead = bytes[i];
        char32_t cp = 0;
        std::size_t extra = 0;
        if (lead < 0x80)
        {
            cp = lead;
        }
        else if ((lead & 0xE0u) == 0xC0u)
        {
            cp = lead & 0x1Fu;
            extra = 1;
        }
        else if ((lead & 0xF0u) == 0xE0u)
        {
            cp = lead & 0x0Fu;
            extra = 2;
        }
        else if ((lead & 0xF8u) == 0xF0u)
        {
            cp = lead & 0x07u;
            extra = 3;
        }
        else
        {
            break;
        }
        if (extra > count - i - 1)
            break;
        for (std::size_t k = 1; k <= extra; ++k)
            cp = (cp << 6) | (bytes[i + k] & 0x3Fu);
        i += 1 + extra;
        if (cp == 0 || cp > 0x10FFFF)
            break;

        if (!isWide && cp < 0x100)
        {
            narrow.push_back(static_cast<char>(static_cast<unsigned char>(cp)));
            continue;
        }
        if (!isWide)
        {
            wide.reserve(count);
            for (const char c : narrow)
                wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
            isWide = true;
        }
        if (cp >= 0x10000)
        {
            const char32_t v = cp - 0x10000;
            wide.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
            wide.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        }
        else
        {
            wide.push_back(static_cast<char16_t>(cp));
        }
    }
    return isWide ? CText(std::move(wide)) : CText(std::move(narrow));
}

} // namespace

CInputStream::~CInputStream() = default;

const std::uint8_t* CInputStream::getMemoryAddress() const
{
    return nullptr;
}

CErrorPtr CInputStream::consume(std::size_t count)
{
    std::uint8_t scratch[256];
    while (count > 0)
    {
        const std::size_t chunk = std::min(count, sizeof scratch);
        ZEL_TRY(read(scratch, chunk), "CInputStream::consume");
        count -= chunk;
    }
    return nullptr;
}

CErrorPtr CInputStream::readStreamed(void* buffer, std::size_t count, std::size_t& got)
{
    got = 0;
    ZEL_TRY(read(buffer, count), "CInputStream::readStreamed");
    got = count;
    return nullptr;
}

CErrorPtr CInputStream::readInt(std::int32_t& value)
{
    std::uint32_t raw = 0;
    ZEL_TRY(readUInt(raw), "CInputStream::readInt");
    value = static_cast<std::int32_t>(raw);
    return nullptr;
}

CErrorPtr CInputStream::readUInt(std::uint32_t& value)
{
    std::uint8_t b[4];
    ZEL_TRY(read(b, sizeof b), "CInputStream::readUInt");
    value = assembleUInt(b);
    return nullptr;
}

CErrorPtr CInputStream::readInt64(std::int64_t& value)
{
    std::uint8_t b[8];
    ZEL_TRY(read(b, sizeof b), "CInputStream::readInt64");
    value = static_cast<std::int64_t>(assembleUInt64(b));
    return nullptr;
}

CErrorPtr CInputStream::readDouble(double& value)
{
    std::uint8_t b[8];
    ZEL_TRY(read(b, sizeof b), "CInputStream::readDouble");
    const std::uint64_t bits = assembleUInt64(b);
    static_assert(sizeof(double) == sizeof bits);
    std::memcpy(&value, &bits, sizeof value);
    return nullptr;
}

CErrorPtr CInputStream::readFloat(float& value)
{
    std::uint8_t b[4];
    ZEL_TRY(read(b, sizeof b), "CInputStream::readFloat");
    const std::uint32_t bits = assembleUInt(b);
    static_assert(sizeof(float) == sizeof bits);
    std::memcpy(&value, &bits, sizeof value);
    return nullptr;
}

CErrorPtr CInputStream::readBlock(std::vector<std::uint8_t>& bytes)
{
    static constexpr const char* kName = "CInputStream::readBlock";
    std::int32_t length = 0;
    ZEL_TRY(readInt(length), kName);
    if (length < 0)
        return ZEL_ERROR(kName, "zelstr_CInputStream_readBlock_InvalidLength",
                         "Invalid byte block length %1 in readBlock().", {std::to_string(length)});
    const std::size_t total = static_cast<std::size_t>(length);
    std::vector<std::uint8_t> out;
    std::size_t done = 0;
    while (done < total)
    {
        const std::size_t chunk = std::min(total - done, std::max(done, kFirstChunk));
        out.resize(done + chunk);
        ZEL_TRY(read(out.data() + done, chunk), kName);
        done += chunk;
    }
    bytes = std::move(out);
    return nullptr;
}

CErrorPtr CInputStream::readString(CText& text)
{
    static constexpr const char* kName = "CInputStream::readString";
    std::int32_t length = 0;
    ZEL_TRY(readInt(length), kName);
    if (length > kMaxStringBytes)
        return ZEL_ERROR(kName, "zelstr_CInputStream_readString_StringDataTooLong",
                         "String length %1 too long in readString().", {std::to_string(length)});
    if (length <= 0)
    {
        text = CText();
        return nullptr;
    }
    // Up to CByteBuffer::kInlineCapacity bytes stay on the stack.
    CByteBuffer bytes(static_cast<std::size_t>(length));
    ZEL_TRY(read(bytes.data(), bytes.size()), kName);
    text = decodeUtf8(bytes.data(), bytes.size());
    return nullptr;
}

CErrorPtr CInputStream::readCompressedData(std::uint32_t expectedId, CByteBuffer& data)
{
    static constexpr const char* kName = "CInputStream::readCompressedData";
    std::uint32_t id = 0;
    ZEL_TRY(readUInt(id), kName);
    if (id != expectedId)
        return ZEL_ERROR(
            kName, "zelstr_CInputStream_readCompressedData_InvalidData",
            "Invalid ID encountered when reading compressed data (expected %1, read %2).",
            {std::to_string(expectedId), std::to_string(id)});

    std::uint8_t lengthField[4];
    ZEL_TRY(read(lengthField, sizeof lengthField), kName);
    std::uint32_t storedCheck = 0;
    ZEL_TRY(readUInt(storedCheck), kName);
    const auto computedCheck = static_cast<std::uint32_t>(adler32(1L, lengthField, 4));
    if (storedCheck != computedCheck)
        return ZEL_ERROR(
            kName, "zelstr_CInputStream_readCompressedData_HeadCRC",
            "Invalid CRC encountered when reading compressed data (expected %1, read %2).",
            {std::to_string(storedCheck), std::to_string(computedCheck)});
    const std::size_t plainLength = assembleUInt(lengthField);

    CInputZipStream zip;
    ZEL_TRY(zip.open(this), kName);
    // Blocks up to CByteBuffer::kInlineCapacity bytes are inflated without a heap allocation.
    CByteBuffer plain;
    std::size_t done = 0;
    while (done < plainLength)
    {
        const std::size_t chunk = std::min(plainLength - done, std::max(done, kFirstChunk));
        plain.resize(done + chunk);
        ZEL_TRY(zip.read(plain.data() + done, chunk), kName);
        done += chunk;
    }
    ZEL_TRY(zip.finishStream(), kName);

    // The inflater reads its source ahead; hand back what it did not use so that a positioned
    // source stands right after the block.
    const std::size_t unused = zip.unusedInput();
    if (unused > 0)
    {
        if (auto* positioned = dynamic_cast<CPosInputStream*>(this))
        {
            std::int64_t position = 0;
            ZEL_TRY(positioned->getPosition(position), kName);
            ZEL_TRY(positioned->setPosition(position - static_cast<std::int64_t>(unused)), kName);
        }
    }
    ZEL_TRY(zip.close(), kName);
    data = std::move(plain);
    return nullptr;
}

} // namespace zel
