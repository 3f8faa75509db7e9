#pragma once
// CAudioParamStorage: the values of an audio parameter (per channel group a flat list of whole
// elements) and their stored record. It is plain data: the parameter (CAudioParam) owns two of
// them, guards them with its lock and keeps the data items that string and raw values name.
//
// Stored record, all integers int32 little-endian:
//   version (1), element size, data type (0 float, 1 string, 2 raw), group count G,
//   for string and raw types an item table: item count, then per item id, type code, payload
//   (ids renumbered from 1 in the order the values first name them),
//   then G group records: element count n, then n x element size values (double for float,
//   int32 item ids for string and raw; id 0 names no item).

#include "Audio/AudioParamData.h"
#include "Audio/AudioParamInfo.h"
#include "Core/Error.h"

#include <cstdint>
#include <vector>

namespace zel
{

class CInputStream;
class COutputStream;

struct CAudioParamStorage
{
    static constexpr std::int32_t kVersion = 1;

    std::int32_t elementSize = 0;
    EAudioParamDataType dataType = EAudioParamDataType::kFloat;
    std::vector<std::vector<double>> groups;

    std::int32_t elementCount(std::size_t group) const
    {
        return elementSize > 0 && group < groups.size()
                   ? static_cast<std::int32_t>(groups[group].size() /
                                               static_cast<std::size_t>(elementSize))
                   : 0;
    }

    // Writes the record of one group (group >= 0: G = 1) or of all groups (group = -1). For
    // string and raw types, items names the items of the values.
    CErrorPtr save(COutputStream& out, const CAudioParamData& items, std::int32_t group) const;

    // Reads a record whose element size and data type must equal this storage's. On success the
    // stored groups replace groups and the stored items are added to items, the values naming
    // them by their new ids (a stored id without an item becomes 0). On failure nothing changes.
    CErrorPtr load(CInputStream& in, CAudioParamData& items);
};

} // namespace zel
