#include "Audio/AudioParamInfo.h"

#include "Audio/Converters/AudioParamConverter.h"
#include "Core/Object.h"

#include <string>

namespace zel
{
namespace
{

const std::vector<double>& emptySet()
{
    static const std::vector<double> kEmpty;
    return kEmpty;
}

bool isSpace(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

CText trimmed(const CText& text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isSpace(text[begin]))
        ++begin;
    while (end > begin && isSpace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

} // namespace

EAudioParamDataType CAudioParamInfo::parseDataType(const CText& text)
{
    if (text == CText("string") || text == CText("str") || text == CText("1"))
        return EAudioParamDataType::kString;
    if (text == CText("raw"))
        return EAudioParamDataType::kRaw;
    return EAudioParamDataType::kFloat;
}

CErrorPtr CAudioParamInfo::parseConverterNames(const CObject& def)
{
    const std::string owner = def.fullName().toUtf8();
    converters.clear();
    for (std::int32_t element = 0; element < elementSize; ++element)
    {
        const CText attr = element == 0 ? CText("converter")
                                        : CText("converter") + CText(std::to_string(element + 1));
        if (!def.hasAttribute(attr))
            continue;
        const CText name = def.attribute(attr);
        auto* converter = dynamic_cast<CAudioParamConverter*>(def.findObject(name));
        if (converter == nullptr)
            return ZEL_ERROR(owner, "zelstr_CAudioParamInfo_parseConverterNames_NotFound",
                             "Audio parameter converter '%1' not found.", {name.toUtf8()});
        converters.push_back(converter);
    }
    if (converters.size() < static_cast<std::size_t>(elementSize))
        return ZEL_ERROR(owner, "zelstr_CAudioParamInfo_parseConverterNames_NotEnough",
                         "Not enough converters defined %1 (should be %2).",
                         {std::to_string(converters.size()), std::to_string(elementSize)});
    return nullptr;
}

CErrorPtr CAudioParamInfo::parseRange(const CText& text, std::vector<double>& out, bool isMin,
                                      const CText& ownerName)
{
    out.clear();
    std::size_t start = 0;
    while (start < text.size() && out.size() < static_cast<std::size_t>(elementSize))
    {
        std::size_t end = text.find(u' ', start);
        if (end == CText::npos)
            end = text.size();
        const CText piece = text.substr(start, end - start);
        start = end + 1;
        if (piece.empty())
            continue;
        const auto element = static_cast<std::int32_t>(out.size());
        bool ok = true;
        const double value = converters[out.size()]->textToValueRaw(*this, element, piece, &ok);
        if (!ok)
            return ZEL_ERROR(ownerName.toUtf8(), "zelstr_CAudioParamInfo_convertMinMaxValues_Parse",
                             "Invalid range value '%1' in element %2.",
                             {piece.toUtf8(), std::to_string(element)});
        out.push_back(value);
    }
    if (out.size() < static_cast<std::size_t>(elementSize))
    {
        const std::string count = std::to_string(out.size());
        const std::string wanted = std::to_string(elementSize);
        if (isMin)
            return ZEL_ERROR(
                ownerName.toUtf8(), "zelstr_CAudioParamInfo_convertMinMaxValues_NotEnoughMin",
                "Not enough minimum values defined %1 (should be %2).", {count, wanted});
        return ZEL_ERROR(ownerName.toUtf8(),
                         "zelstr_CAudioParamInfo_convertMinMaxValues_NotEnoughMax",
                         "Not enough maximum values defined %1 (should be %2).", {count, wanted});
    }
    return nullptr;
}

CErrorPtr CAudioParamInfo::convertMinMaxValues(const CText& minText, const CText& maxText,
                                               const CText& ownerName)
{
    const auto count = static_cast<std::size_t>(elementSize);
    if (isItemType())
    {
        minValues.assign(count, 0.0);
        maxValues.assign(count, kItemIdRangeMax);
        return nullptr;
    }
    ZEL_TRY(parseRange(minText, minValues, true, ownerName), ownerName.toUtf8());
    ZEL_TRY(parseRange(maxText, maxValues, false, ownerName), ownerName.toUtf8());
    for (std::size_t element = 0; element < count; ++element)
    {
        if (minValues[element] == maxValues[element])
            return ZEL_ERROR(ownerName.toUtf8(),
                             "zelstr_CAudioParamInfo_convertMinMaxValues_ZeroRange",
                             "Zero default min-max values difference detected in element %1.",
                             {std::to_string(element)});
    }
    return nullptr;
}

CErrorPtr CAudioParamInfo::parseDefaultPiece(const CText& piece, std::int32_t position,
                                             double& value, const CText& ownerName)
{
    switch (dataType)
    {
    case EAudioParamDataType::kString:
        value = static_cast<double>(
            m_defaultData.add(std::make_unique<CAudioParamDataItemString>(piece)));
        return nullptr;
    case EAudioParamDataType::kRaw:
    {
        // A raw default holds the piece's UTF-8 bytes.
        const std::string bytes = piece.toUtf8();
        value = static_cast<double>(m_defaultData.add(std::make_unique<CAudioParamDataItemRaw>(
            std::vector<std::uint8_t>(bytes.begin(), bytes.end()))));
        return nullptr;
    }
    case EAudioParamDataType::kFloat:
        break;
    }
    bool ok = true;
    value = converters[static_cast<std::size_t>(position)]->textToValueRaw(*this, position,
                                                                           trimmed(piece), &ok);
    if (!ok)
        return ZEL_ERROR(ownerName.toUtf8(), "zelstr_CAudioParamInfo_parseDefValues_ParseError",
                         "Default values parsing error.");
    return nullptr;
}

CErrorPtr CAudioParamInfo::parseDefValues(const CText& text, const CText& ownerName)
{
    defaultSets.clear();
    if (trimmed(text).empty())
        return nullptr;
    const auto size = static_cast<std::size_t>(elementSize);
    std::vector<double> set;
    std::vector<double> element;
    CText piece;
    bool pieceStarted = false;
    // Ends the value being read (if any).
    auto endValue = [&]() -> CErrorPtr
    {
        if (!pieceStarted)
            return nullptr;
        if (element.size() >= size)
            return ZEL_ERROR(ownerName.toUtf8(), "zelstr_CAudioParamInfo_parseDefValues_ParseError",
                             "Default values parsing error.");
        double value = 0.0;
        ZEL_TRY(
            parseDefaultPiece(piece, static_cast<std::int32_t>(element.size()), value, ownerName),
            ownerName.toUtf8());
        element.push_back(value);
        piece = CText();
        pieceStarted = false;
        return nullptr;
    };
    // Ends the element being read at position pos; an element with no value at all (as after a
    // trailing ",") is skipped.
    auto endElement = [&](std::size_t pos) -> CErrorPtr
    {
        ZEL_TRY(endValue(), ownerName.toUtf8());
        if (element.empty())
            return nullptr;
        if (element.size() < size)
            return ZEL_ERROR(ownerName.toUtf8(),
                             "zelstr_CAudioParamInfo_parseDefValues_NotEnoughElements",
                             "Not enough default elements at pos %1.", {std::to_string(pos)});
        set.insert(set.end(), element.begin(), element.end());
        element.clear();
        return nullptr;
    };
    for (std::size_t pos = 0; pos < text.size(); ++pos)
    {
        const char16_t c = text[pos];
        if (c == u',')
            ZEL_TRY(endElement(pos), ownerName.toUtf8());
        else if (c == u';')
        {
            ZEL_TRY(endElement(pos), ownerName.toUtf8());
            defaultSets.push_back(std::move(set));
            set.clear();
        }
        else if (c == u' ' && size >= 2)
            ZEL_TRY(endValue(), ownerName.toUtf8());
        else
        {
            piece += c;
            pieceStarted = true;
        }
    }
    ZEL_TRY(endElement(text.size()), ownerName.toUtf8());
    // A trailing ";" opens no further set.
    if (!set.empty() || defaultSets.empty())
        defaultSets.push_back(std::move(set));
    return nullptr;
}

const std::vector<double>& CAudioParamInfo::defaultSet(std::int32_t group) const
{
    if (defaultSets.empty())
        return emptySet();
    if (group < 0)
        group = 0;
    const auto index = static_cast<std::size_t>(group);
    return index < defaultSets.size() ? defaultSets[index] : defaultSets.back();
}

double CAudioParamInfo::minValue(std::int32_t element) const
{
    return element >= 0 && static_cast<std::size_t>(element) < minValues.size()
               ? minValues[static_cast<std::size_t>(element)]
               : 0.0;
}

double CAudioParamInfo::maxValue(std::int32_t element) const
{
    return element >= 0 && static_cast<std::size_t>(element) < maxValues.size()
               ? maxValues[static_cast<std::size_t>(element)]
               : 0.0;
}

CAudioParamConverter* CAudioParamInfo::converter(std::int32_t element) const
{
    return element >= 0 && static_cast<std::size_t>(element) < converters.size()
               ? converters[static_cast<std::size_t>(element)]
               : nullptr;
}

} // namespace zel
