#include "Audio/AudioPreset.h"

#include "Core/InputStream.h"
#include "Core/OutputStream.h"

#include <string>

namespace zel
{
namespace
{
constexpr const char* kOwner = "CAudioPreset";
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

} // namespace zel
