#include "Audio/AudioParamData.h"

#include "Core/InputStream.h"
#include "Core/OutputStream.h"

#include <cmath>

namespace zel
{

std::unique_ptr<CAudioParamDataItem> CAudioParamDataItem::createOfType(std::int32_t typeCode)
{
    switch (typeCode)
    {
    case kTypeString:
        return std::make_unique<CAudioParamDataItemString>();
    case kTypeRaw:
        return std::make_unique<CAudioParamDataItemRaw>();
    default:
        return nullptr;
    }
}

std::unique_ptr<CAudioParamDataItem> CAudioParamDataItemString::clone() const
{
    return std::make_unique<CAudioParamDataItemString>(m_text);
}

CErrorPtr CAudioParamDataItemString::save(COutputStream& out) const
{
    ZEL_TRY(out.writeString(m_text), "CAudioParamDataItemString");
    return nullptr;
}

CErrorPtr CAudioParamDataItemString::load(CInputStream& in)
{
    CText text;
    ZEL_TRY(in.readString(text), "CAudioParamDataItemString");
    m_text = std::move(text);
    return nullptr;
}

std::unique_ptr<CAudioParamDataItem> CAudioParamDataItemRaw::clone() const
{
    return std::make_unique<CAudioParamDataItemRaw>(m_bytes);
}

CErrorPtr CAudioParamDataItemRaw::save(COutputStream& out) const
{
    ZEL_TRY(out.writeInt(static_cast<std::int32_t>(m_bytes.size())), "CAudioParamDataItemRaw");
    if (!m_bytes.empty())
        ZEL_TRY(out.write(m_bytes.data(), m_bytes.size()), "CAudioParamDataItemRaw");
    return nullptr;
}

CErrorPtr CAudioParamDataItemRaw::load(CInputStream& in)
{
    std::int32_t length = 0;
    ZEL_TRY(in.readInt(length), "CAudioParamDataItemRaw");
    if (length < 0)
        return ZEL_ERROR("CAudioParamDataItemRaw", "zelstr_CAudioParamDataItemRaw_load_BadLength",
                         "Invalid data block length %1.", {std::to_string(length)});
    std::vector<std::uint8_t> bytes;
    // Read in bounded pieces so that a corrupt length cannot allocate a huge block up front.
    constexpr std::size_t kPiece = 65536;
    std::size_t remaining = static_cast<std::size_t>(length);
    while (remaining > 0)
    {
        const std::size_t piece = remaining < kPiece ? remaining : kPiece;
        const std::size_t at = bytes.size();
        bytes.resize(at + piece);
        ZEL_TRY(in.read(bytes.data() + at, piece), "CAudioParamDataItemRaw");
        remaining -= piece;
    }
    m_bytes = std::move(bytes);
    return nullptr;
}

std::int32_t CAudioParamData::add(std::unique_ptr<CAudioParamDataItem> item)
{
    const std::int32_t id = m_nextId++;
    m_items[id] = std::move(item);
    return id;
}

const CAudioParamDataItem* CAudioParamData::find(std::int32_t id) const
{
    const auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second.get();
}

const CAudioParamDataItem* CAudioParamData::findByValue(double value) const
{
    const std::int32_t id = idOfValue(value);
    return id == 0 ? nullptr : find(id);
}

bool CAudioParamData::remove(std::int32_t id)
{
    return m_items.erase(id) != 0;
}

void CAudioParamData::clear()
{
    m_items.clear();
}

std::int32_t CAudioParamData::copyFrom(const CAudioParamData& source, std::int32_t id)
{
    const CAudioParamDataItem* item = source.find(id);
    if (item == nullptr)
        return 0;
    return add(item->clone());
}

double CAudioParamData::copyValueFrom(const CAudioParamData& source, double value)
{
    return static_cast<double>(copyFrom(source, idOfValue(value)));
}

std::int32_t CAudioParamData::idOfValue(double value)
{
    if (!std::isfinite(value) || value < 1.0 || value > 2147483647.0)
        return 0;
    return static_cast<std::int32_t>(std::lround(value));
}

} // namespace zel
