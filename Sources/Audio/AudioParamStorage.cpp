#include "Audio/AudioParamStorage.h"

#include "Core/InputStream.h"
#include "Core/OutputStream.h"

#include <map>
#include <string>

namespace zel
{
namespace
{
constexpr const char* kOwner = "CAudioParamStorage";

std::string str(std::int32_t value)
{
    return std::to_string(value);
}
} // namespace

CErrorPtr CAudioParamStorage::save(COutputStream& out, const CAudioParamData& items,
                                   std::int32_t group) const
{
    std::vector<const std::vector<double>*> saved;
    if (group < 0)
        for (const auto& values : groups)
            saved.push_back(&values);
    else if (static_cast<std::size_t>(group) < groups.size())
        saved.push_back(&groups[static_cast<std::size_t>(group)]);
    else
        return ZEL_ERROR(kOwner, "zelstr_CAudioParamStorage_save_BadGroup",
                         "Invalid parameter group %1.", {str(group)});

    ZEL_TRY(out.writeInt(kVersion), kOwner);
    ZEL_TRY(out.writeInt(elementSize), kOwner);
    ZEL_TRY(out.writeInt(static_cast<std::int32_t>(dataType)), kOwner);
    ZEL_TRY(out.writeInt(static_cast<std::int32_t>(saved.size())), kOwner);

    const bool itemType = dataType != EAudioParamDataType::kFloat;
    // Own id -> stored id, numbered from 1 in the order the values first name the items.
    std::map<std::int32_t, std::int32_t> renumbered;
    std::vector<const CAudioParamDataItem*> table;
    if (itemType)
    {
        for (const auto* values : saved)
            for (double value : *values)
            {
                const std::int32_t id = CAudioParamData::idOfValue(value);
                const CAudioParamDataItem* item = id != 0 ? items.find(id) : nullptr;
                if (item == nullptr || renumbered.count(id) != 0)
                    continue;
                table.push_back(item);
                renumbered[id] = static_cast<std::int32_t>(table.size());
            }
        ZEL_TRY(out.writeInt(static_cast<std::int32_t>(table.size())), kOwner);
        for (std::size_t i = 0; i < table.size(); ++i)
        {
            ZEL_TRY(out.writeInt(static_cast<std::int32_t>(i + 1)), kOwner);
            ZEL_TRY(out.writeInt(table[i]->typeCode()), kOwner);
            ZEL_TRY(table[i]->save(out), kOwner);
        }
    }

    const auto size = static_cast<std::size_t>(elementSize > 0 ? elementSize : 1);
    for (const auto* values : saved)
    {
        const std::size_t whole = values->size() - values->size() % size;
        ZEL_TRY(out.writeInt(static_cast<std::int32_t>(whole / size)), kOwner);
        for (std::size_t i = 0; i < whole; ++i)
        {
            if (!itemType)
            {
                ZEL_TRY(out.writeDouble((*values)[i]), kOwner);
                continue;
            }
            const auto it = renumbered.find(CAudioParamData::idOfValue((*values)[i]));
            ZEL_TRY(out.writeInt(it == renumbered.end() ? 0 : it->second), kOwner);
        }
    }
    return nullptr;
}

CErrorPtr CAudioParamStorage::load(CInputStream& in, CAudioParamData& items)
{
    std::int32_t version = 0;
    ZEL_TRY(in.readInt(version), kOwner);
    if (version != kVersion)
        return ZEL_ERROR(kOwner, "zelstr_CAudioParamStorage_load_Version",
                         "Unsupported data set version %1.", {str(version)});
    std::int32_t storedSize = 0;
    std::int32_t storedType = 0;
    ZEL_TRY(in.readInt(storedSize), kOwner);
    ZEL_TRY(in.readInt(storedType), kOwner);
    if (storedSize != elementSize || storedType != static_cast<std::int32_t>(dataType))
        return ZEL_ERROR(
            kOwner, "zelstr_CAudioParamStorage_load_Format",
            "Unsupported storage format (esize=%1, dtype=%2; should be: esize=%3, dtype=%4).",
            {str(storedSize), str(storedType), str(elementSize),
             str(static_cast<std::int32_t>(dataType))});
    if (elementSize <= 0)
        return ZEL_ERROR(kOwner, "zelstr_CAudioParamStorage_load_ElementSize",
                         "Invalid element size %1.", {str(elementSize)});
    std::int32_t groupCount = 0;
    ZEL_TRY(in.readInt(groupCount), kOwner);
    if (groupCount < 1)
        return ZEL_ERROR(kOwner, "zelstr_CAudioParamStorage_load_GroupCount",
                         "Invalid group count %1.", {str(groupCount)});

    // The stored items go to a scratch table first, so that a failure adds nothing to items.
    const bool itemType = dataType != EAudioParamDataType::kFloat;
    CAudioParamData scratch;
    std::map<std::int32_t, std::int32_t> storedToScratch;
    if (itemType)
    {
        std::int32_t itemCount = 0;
        ZEL_TRY(in.readInt(itemCount), kOwner);
        if (itemCount < 0)
            return ZEL_ERROR(kOwner, "zelstr_CAudioParamStorage_load_ItemCount",
                             "Invalid item count %1.", {str(itemCount)});
        for (std::int32_t i = 0; i < itemCount; ++i)
        {
            std::int32_t id = 0;
            std::int32_t typeCode = 0;
            ZEL_TRY(in.readInt(id), kOwner);
            ZEL_TRY(in.readInt(typeCode), kOwner);
            std::unique_ptr<CAudioParamDataItem> item = CAudioParamDataItem::createOfType(typeCode);
            if (!item)
                return ZEL_ERROR(kOwner, "zelstr_CAudioParamStorage_load_DataType",
                                 "Unknown data type %1 encountered", {str(typeCode)});
            ZEL_TRY(item->load(in), kOwner);
            const auto known = storedToScratch.find(id);
            if (known != storedToScratch.end())
                scratch.remove(known->second);
            storedToScratch[id] = scratch.add(std::move(item));
        }
    }

    // Grown as the values arrive: a corrupt count fails at the end of the data, not in an
    // allocation.
    std::vector<std::vector<double>> loaded;
    for (std::int32_t g = 0; g < groupCount; ++g)
    {
        std::int32_t count = 0;
        ZEL_TRY(in.readInt(count), kOwner);
        if (count < 0)
            return ZEL_ERROR(kOwner, "zelstr_CAudioParamStorage_load_ElementCount",
                             "Invalid element count %1.", {str(count)});
        std::vector<double> values;
        const std::int64_t total = static_cast<std::int64_t>(count) * elementSize;
        for (std::int64_t i = 0; i < total; ++i)
        {
            if (!itemType)
            {
                double value = 0.0;
                ZEL_TRY(in.readDouble(value), kOwner);
                values.push_back(value);
                continue;
            }
            std::int32_t id = 0;
            ZEL_TRY(in.readInt(id), kOwner);
            const auto it = storedToScratch.find(id);
            values.push_back(it == storedToScratch.end() ? 0.0 : static_cast<double>(it->second));
        }
        loaded.push_back(std::move(values));
    }

    if (itemType)
        for (auto& values : loaded)
            for (double& value : values)
                value = items.copyValueFrom(scratch, value);
    groups = std::move(loaded);
    return nullptr;
}

} // namespace zel
