#include "Audio/AudioPreset.h"

#include "Core/FileStreams.h"
#include "Core/InputStream.h"
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"
#include "Core/OutputStream.h"

#include <limits>
#include <string>

namespace zel
{
namespace
{
constexpr const char* kOwner = "CAudioPreset";
// Largest preset or bank file read into memory.
constexpr std::int64_t kMaxFileSize = 64 * 1024 * 1024;

std::string tagText(std::uint32_t id)
{
    std::string text;
    for (int shift = 0; shift < 32; shift += 8)
        text += static_cast<char>((id >> shift) & 0xFF);
    return text;
}
} // namespace

CErrorPtr CAudioPreset::save(COutputStream& out) const
{
    ZEL_TRY(out.writeString(name), kOwner);
    ZEL_TRY(out.writeInt(static_cast<std::int32_t>(entries.size())), kOwner);
    // The map iterates in ascending key order, which is the stored order.
    for (const auto& [key, blob] : entries)
    {
        ZEL_TRY(out.writeString(key), kOwner);
        ZEL_TRY(out.writeInt(static_cast<std::int32_t>(blob.size())), kOwner);
        if (!blob.empty())
            ZEL_TRY(out.write(blob.data(), blob.size()), kOwner);
    }
    return nullptr;
}

CErrorPtr CAudioPreset::readBytes(CInputStream& in, std::int32_t length, Blob& bytes)
{
    if (length < 0)
        return ZEL_ERROR(kOwner, "zelstr_CAudioPreset_load_BlobLength",
                         "Invalid parameter record length %1.", {std::to_string(length)});
    constexpr std::size_t kPiece = 65536;
    Blob read;
    std::size_t remaining = static_cast<std::size_t>(length);
    while (remaining > 0)
    {
        const std::size_t piece = remaining < kPiece ? remaining : kPiece;
        const std::size_t at = read.size();
        read.resize(at + piece);
        ZEL_TRY(in.read(read.data() + at, piece), kOwner);
        remaining -= piece;
    }
    bytes = std::move(read);
    return nullptr;
}

CErrorPtr CAudioPreset::load(CInputStream& in)
{
    CText loadedName;
    std::int32_t count = 0;
    ZEL_TRY(in.readString(loadedName), kOwner);
    ZEL_TRY(in.readInt(count), kOwner);
    if (count < 0)
        return ZEL_ERROR(kOwner, "zelstr_CAudioPreset_load_EntryCount",
                         "Invalid preset entry count %1.", {std::to_string(count)});
    std::map<CText, Blob> loaded;
    for (std::int32_t i = 0; i < count; ++i)
    {
        CText key;
        std::int32_t length = 0;
        Blob blob;
        ZEL_TRY(in.readString(key), kOwner);
        ZEL_TRY(in.readInt(length), kOwner);
        ZEL_TRY(readBytes(in, length, blob), kOwner);
        loaded[key] = std::move(blob);
    }
    name = std::move(loadedName);
    entries = std::move(loaded);
    return nullptr;
}

CErrorPtr CAudioPreset::writeTaggedBlock(COutputStream& out, std::uint32_t id, const CSaveFn& save)
{
    CMemoryWriteBuffer plain;
    ZEL_TRY(save(plain), kOwner);
    const std::vector<std::uint8_t> bytes = plain.toVector();
    ZEL_TRY(out.writeCompressedData(id, bytes.data(), bytes.size()), kOwner);
    return nullptr;
}

CErrorPtr CAudioPreset::readTaggedBlock(CInputStream& in, std::uint32_t id, const CLoadFn& load)
{
    CByteBuffer plain;
    ZEL_TRY(in.readCompressedData(id, plain), kOwner);
    if (plain.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return ZEL_ERROR(kOwner, "zelstr_CAudioPreset_readTaggedBlock_TooLarge",
                         "Block '%1' is too large (%2 bytes).",
                         {tagText(id), std::to_string(plain.size())});
    CMemoryReader content(plain.data(), plain.size());
    ZEL_TRY(load(content), kOwner);
    if (content.remaining() != 0)
        return ZEL_ERROR(kOwner, "zelstr_CAudioPreset_readTaggedBlock_TrailingData",
                         "Block '%1' holds %2 bytes after its record.",
                         {tagText(id), std::to_string(content.remaining())});
    return nullptr;
}

CErrorPtr CAudioPreset::writeFile(const CText& path, const CSaveFn& save)
{
    // Staged in memory: the file writer does not buffer.
    CMemoryWriteBuffer staged;
    ZEL_TRY(save(staged), kOwner);
    CFileWriter file;
    ZEL_TRY(file.open(path, CFile::kShareRead, false), kOwner);
    ZEL_TRY(staged.writeTo(file), kOwner);
    ZEL_TRY(file.close(), kOwner);
    return nullptr;
}

CErrorPtr CAudioPreset::readFile(const CText& path, const CLoadFn& load)
{
    CFileReader file;
    ZEL_TRY(file.open(path, CFile::kShareRead), kOwner);
    std::int64_t size = 0;
    ZEL_TRY(file.getSize(size), kOwner);
    if (size < 0 || size > kMaxFileSize)
        return ZEL_ERROR(kOwner, "zelstr_CAudioPreset_readFile_TooLarge",
                         "File '%1' is too large (%2 bytes).",
                         {path.toUtf8(), std::to_string(size)});
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (!bytes.empty())
        ZEL_TRY(file.read(bytes.data(), bytes.size()), kOwner);
    ZEL_TRY(file.close(), kOwner);
    CMemoryReader content(bytes.data(), bytes.size());
    ZEL_TRY(load(content), kOwner);
    if (content.remaining() != 0)
        return ZEL_ERROR(kOwner, "zelstr_CAudioPreset_readFile_TrailingData",
                         "File '%1' holds %2 bytes after its block.",
                         {path.toUtf8(), std::to_string(content.remaining())});
    return nullptr;
}

CErrorPtr CAudioPreset::saveBlock(COutputStream& out) const
{
    return writeTaggedBlock(out, makeBlockId(kBlockTag),
                            [this](COutputStream& plain) { return save(plain); });
}

CErrorPtr CAudioPreset::loadBlock(CInputStream& in)
{
    CAudioPreset staged;
    ZEL_TRY(readTaggedBlock(in, makeBlockId(kBlockTag),
                            [&staged](CInputStream& plain) { return staged.load(plain); }),
            kOwner);
    *this = std::move(staged);
    return nullptr;
}

CErrorPtr CAudioPreset::saveFile(const CText& path) const
{
    return writeFile(path, [this](COutputStream& out) { return saveBlock(out); });
}

CErrorPtr CAudioPreset::loadFile(const CText& path)
{
    CAudioPreset staged;
    ZEL_TRY(readFile(path, [&staged](CInputStream& in) { return staged.loadBlock(in); }), kOwner);
    *this = std::move(staged);
    return nullptr;
}

} // namespace zel
