#pragma once
// CAudioParamInfo: the parsed, immutable description of one audio parameter, shared by its
// definition object (CAudioParamDef, "audio:param") and every run-time instance of it. It holds
// the value shape (element size, data type, single-group and single-element flags), the five
// behaviour flags, the names, the converter of each element, the per-element range in real
// values and the default sets (one per group; each set holds whole elements).
//
// The definition fills it once, through parseConverterNames, convertMinMaxValues and
// parseDefValues; nothing changes it afterwards. It does not hold run-time values (CAudioParam
// does) and it does not own its converters (they are objects of the description tree).
//
// Default sets for string and raw parameters hold ids of items of defaultData().

#include "Audio/AudioParamData.h"
#include "Core/Error.h"
#include "Core/Text.h"

#include <cstdint>
#include <vector>

namespace zel
{

class CAudioParamConverter;
class CObject;
class CInputStream;
class COutputStream;

enum class EAudioParamDataType : std::int32_t
{
    kFloat = 0,  // real values in the converter's unit
    kString = 1, // ids of string data items
    kRaw = 2,    // ids of raw byte-block data items
};

class CAudioParamInfo
{
public:
    // Upper end of the fixed range of string and raw parameters (2^23).
    static constexpr double kItemIdRangeMax = 8388608.0;

    CAudioParamInfo() = default;
    CAudioParamInfo(const CAudioParamInfo&) = delete;
    CAudioParamInfo& operator=(const CAudioParamInfo&) = delete;

    // "data-type" text to type: "string", "str" or "1" is string, "raw" is raw, anything else
    // (empty included) is float.
    static EAudioParamDataType parseDataType(const CText& text);

    // Resolves "converter", "converter2" ... "converterN" (N = element size) of def, each as an
    // object path from def, and keeps the converters in element order. Fails with "Audio
    // parameter converter '%1' not found." for a name that does not resolve to a converter, and
    // with "Not enough converters defined %1 (should be %2)." when fewer are given.
    CErrorPtr parseConverterNames(const CObject& def);
    // Parses the per-element ranges (display texts separated by spaces) with each element's
    // converter; string and raw parameters get [0, 2^23] without parsing.
    CErrorPtr convertMinMaxValues(const CText& minText, const CText& maxText,
                                  const CText& ownerName);
    // Parses "def-values" into the default sets (see the definition class for the grammar).
    CErrorPtr parseDefValues(const CText& text, const CText& ownerName);

    // The default set of group: sets are numbered by group; a group past the last set gets the
    // last set (so "L,R" given once serves every group). Empty when there is no set at all.
    const std::vector<double>& defaultSet(std::int32_t group) const;

    double minValue(std::int32_t element) const;
    double maxValue(std::int32_t element) const;
    // The converter of element, or null when element is out of range.
    CAudioParamConverter* converter(std::int32_t element) const;
    bool isItemType() const { return dataType != EAudioParamDataType::kFloat; }

    // ---- Parameter information record ----
    // int32 defined flag (0: nothing follows, 1: the record follows), the five flags, visual,
    // parameter and registry names, element size, data type, single-group and single-element
    // flags, a reserved int32 (written as 0: no option is defined; ignored on load), per
    // element the converter's object name, minimum and maximum, then the count of default
    // sets and per set its value count and values (doubles for the float type; for string and
    // raw types each value as the item it names: int32 type code, 0 for no item, then the
    // item's payload).
    CErrorPtr save(COutputStream& out) const;
    // Reads a record into this information, which must be freshly made (nothing parsed yet).
    // A converter name is looked up as a path below converterScope (for example the shared
    // object holding the converters), then as a path of its own; a name that does not name a
    // converter fails. On failure this
    // information keeps what it held.
    CErrorPtr load(CInputStream& in, const CObject& converterScope);

    // Items created for the defaults of string and raw parameters.
    CAudioParamData& defaultData() { return m_defaultData; }
    const CAudioParamData& defaultData() const { return m_defaultData; }

    bool defined = false;
    std::int32_t elementSize = 0;
    EAudioParamDataType dataType = EAudioParamDataType::kFloat;
    bool singleGroup = false;
    bool singleElement = false;
    // The five flags, in their fixed order.
    bool global = false;
    bool storable = false;
    bool persistent = false;
    bool discrete = false;
    bool undoDisabled = false;
    CText visualName;
    CText paramName;
    CText registryName;
    std::vector<CAudioParamConverter*> converters;
    std::vector<double> minValues;
    std::vector<double> maxValues;
    std::vector<std::vector<double>> defaultSets;

private:
    CErrorPtr parseRange(const CText& text, std::vector<double>& out, bool isMin,
                         const CText& ownerName);
    CErrorPtr parseDefaultPiece(const CText& piece, std::int32_t position, double& value,
                                const CText& ownerName);

    CAudioParamData m_defaultData;
};

} // namespace zel
