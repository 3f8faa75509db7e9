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
