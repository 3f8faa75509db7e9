#include "Audio/AudioCCTable.h"

#include "Core/ByteBuffer.h"
#include "Core/Log.h"
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"

#include <string>

namespace zel
{
namespace
{
const char* const kOwner = "CAudioCCTable";
} // namespace

CAudioCCTable::CAudioCCTable() : m_bridge(this) {}

CAudioCCTable::~CAudioCCTable()
{
    m_bridge.disconnect();
}

void CAudioCCTable::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
    info.event<&CAudioCCTable::onUpdate>("update");
}

CErrorPtr CAudioCCTable::init()
{
    ZEL_TRY(CObject::init(), fullName().toUtf8());
    if (CApplicationData* local = CLocalData::current())
    {
        m_bridge.connect(local);
        if (CErrorPtr err = reload())
            diagLog(ZEL_PASS(std::move(err), fullName().toUtf8())->details());
    }
    return nullptr;
}

void CAudioCCTable::release()
{
    m_bridge.disconnect();
    CObject::release();
}

CApplicationData* CAudioCCTable::data() const
{
    CBridge::CAccess access(m_bridge);
    return CAudioCCTableBridge::dataOf(access);
}

CAudioCCTable::CMap CAudioCCTable::map() const
{
    return m_map;
}

CErrorPtr CAudioCCTable::reload()
{
    CApplicationData* store = data();
    if (store == nullptr)
        return nullptr;
    CByteBuffer block;
    bool found = false;
    ZEL_TRY(store->readData(CText(kDataSet), kBlockId, block, found), kOwner);
    CMap loaded;
    if (found)
        ZEL_TRY(decode(block.data(), block.size(), loaded), kOwner);
    m_map = std::move(loaded);
    return nullptr;
}

CErrorPtr CAudioCCTable::store(const CMap& map)
{
    for (const auto& [controller, path] : map)
        if (controller < 0 || controller >= kControllerCount)
            return ZEL_ERROR(kOwner, "zelstr_CAudioCCTable_store_Controller",
                             "Invalid MIDI controller number %1.", {std::to_string(controller)});
    m_map = map;
    CApplicationData* target = data();
    if (target == nullptr)
        return nullptr;
    const std::vector<std::uint8_t> bytes = encode(map);
    ZEL_TRY(target->writeData(CText(kDataSet), kBlockId, bytes.data(), bytes.size(), &m_bridge),
            kOwner);
    return nullptr;
}

std::vector<std::uint8_t> CAudioCCTable::encode(const CMap& map)
{
    CMemoryWriteBuffer out;
    // Writing into memory does not fail.
    (void)out.writeInt(kVersion);
    (void)out.writeInt(static_cast<std::int32_t>(map.size()));
    for (const auto& [controller, path] : map)
    {
        (void)out.writeInt(controller);
        (void)out.writeString(path);
    }
    return out.toVector();
}

CErrorPtr CAudioCCTable::decode(const std::uint8_t* data, std::size_t size, CMap& map)
{
    CMemoryReader in(data, size);
    std::int32_t version = 0;
    std::int32_t count = 0;
    ZEL_TRY(in.readInt(version), kOwner);
    if (version != kVersion)
        return ZEL_ERROR(kOwner, "zelstr_CAudioCCTable_decode_Version",
                         "Unknown controller map version %1.", {std::to_string(version)});
    ZEL_TRY(in.readInt(count), kOwner);
    if (count < 0 || count > kControllerCount)
        return ZEL_ERROR(kOwner, "zelstr_CAudioCCTable_decode_Count",
                         "Invalid controller map entry count %1.", {std::to_string(count)});
    CMap loaded;
    std::int32_t previous = -1;
    for (std::int32_t i = 0; i < count; ++i)
    {
        std::int32_t controller = 0;
        CText path;
        ZEL_TRY(in.readInt(controller), kOwner);
        ZEL_TRY(in.readString(path), kOwner);
        if (controller <= previous || controller >= kControllerCount)
            return ZEL_ERROR(kOwner, "zelstr_CAudioCCTable_decode_Controller",
                             "Invalid MIDI controller number %1.", {std::to_string(controller)});
        previous = controller;
        loaded.emplace(controller, std::move(path));
    }
    if (in.remaining() != 0)
        return ZEL_ERROR(kOwner, "zelstr_CAudioCCTable_decode_TrailingData",
                         "Controller map holds %1 bytes after its entries.",
                         {std::to_string(in.remaining())});
    map = std::move(loaded);
    return nullptr;
}

CErrorPtr CAudioCCTable::onUpdate(CObject& eventParams)
{
    if (eventParams.attribute("data-set") != CText(kDataSet))
        return nullptr;
    if (CErrorPtr err = reload())
        diagLog(ZEL_PASS(std::move(err), fullName().toUtf8())->details());
    return nullptr;
}

} // namespace zel
