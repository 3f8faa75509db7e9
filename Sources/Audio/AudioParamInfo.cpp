#include "Audio/AudioParamInfo.h"

#include "Audio/Converters/AudioParamConverter.h"
#include "Core/InputStream.h"
#include "Core/Object.h"
#include "Core/OutputStream.h"

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

namespace zel
{
namespace
{
constexpr const char* kInfoOwner = "CAudioParamInfo";

std::string num(std::int32_t value)
{
    return std::to_string(value);
}

CErrorPtr readFlag(CInputStream& in, bool& flag)
{
    std::int32_t value = 0;
    ZEL_TRY(in.readInt(value), kInfoOwner);
    flag = value != 0;
    return nullptr;
}
} // namespace

CErrorPtr CAudioParamInfo::save(COutputStream& out) const
{
    ZEL_TRY(out.writeInt(defined ? 1 : 0), kInfoOwner);
    if (!defined)
        return nullptr;
    for (bool flag : {global, storable, persistent, discrete, undoDisabled})
        ZEL_TRY(out.writeInt(flag ? 1 : 0), kInfoOwner);
    ZEL_TRY(out.writeString(visualName), kInfoOwner);
    ZEL_TRY(out.writeString(paramName), kInfoOwner);
    ZEL_TRY(out.writeString(registryName), kInfoOwner);
    ZEL_TRY(out.writeInt(elementSize), kInfoOwner);
    ZEL_TRY(out.writeInt(static_cast<std::int32_t>(dataType)), kInfoOwner);
    ZEL_TRY(out.writeInt(singleGroup ? 1 : 0), kInfoOwner);
    ZEL_TRY(out.writeInt(singleElement ? 1 : 0), kInfoOwner);
    ZEL_TRY(out.writeInt(0), kInfoOwner);
    for (std::int32_t element = 0; element < elementSize; ++element)
    {
        const CAudioParamConverter* cvt = converter(element);
        ZEL_TRY(out.writeString(cvt != nullptr ? cvt->name() : CText()), kInfoOwner);
        ZEL_TRY(out.writeDouble(minValue(element)), kInfoOwner);
        ZEL_TRY(out.writeDouble(maxValue(element)), kInfoOwner);
    }
    ZEL_TRY(out.writeInt(static_cast<std::int32_t>(defaultSets.size())), kInfoOwner);
    for (const auto& set : defaultSets)
    {
        ZEL_TRY(out.writeInt(static_cast<std::int32_t>(set.size())), kInfoOwner);
        for (double value : set)
        {
            if (!isItemType())
            {
                ZEL_TRY(out.writeDouble(value), kInfoOwner);
                continue;
            }
            const CAudioParamDataItem* item = m_defaultData.findByValue(value);
            ZEL_TRY(out.writeInt(item != nullptr ? item->typeCode() : 0), kInfoOwner);
            if (item != nullptr)
                ZEL_TRY(item->save(out), kInfoOwner);
        }
    }
    return nullptr;
}

CErrorPtr CAudioParamInfo::load(CInputStream& in, const CObject& converterScope)
{
    std::int32_t version = 0;
    ZEL_TRY(in.readInt(version), kInfoOwner);
    if (version == 0)
    {
        defined = false;
        return nullptr;
    }
    if (version != 1)
        return ZEL_ERROR(kInfoOwner, "zelstr_CAudioParamInfo_load_Version",
                         "Unsupported data set version %1.", {num(version)});

    bool flags[5] = {};
    for (bool& flag : flags)
        ZEL_TRY(readFlag(in, flag), kInfoOwner);
    CText names[3];
    for (CText& name : names)
        ZEL_TRY(in.readString(name), kInfoOwner);
    std::int32_t size = 0;
    std::int32_t type = 0;
    ZEL_TRY(in.readInt(size), kInfoOwner);
    ZEL_TRY(in.readInt(type), kInfoOwner);
    if (size <= 0)
        return ZEL_ERROR(kInfoOwner, "zelstr_CAudioParamInfo_load_ElementSize",
                         "Invalid element size %1.", {num(size)});
    if (type < 0 || type > 2)
        return ZEL_ERROR(kInfoOwner, "zelstr_CAudioParamInfo_load_DataType",
                         "Unknown data type %1 encountered", {num(type)});
    bool single[2] = {};
    for (bool& flag : single)
        ZEL_TRY(readFlag(in, flag), kInfoOwner);
    std::int32_t reserved = 0;
    ZEL_TRY(in.readInt(reserved), kInfoOwner);

    std::vector<CAudioParamConverter*> loadedConverters;
    std::vector<double> mins;
    std::vector<double> maxs;
    for (std::int32_t element = 0; element < size; ++element)
    {
        CText name;
        double lo = 0.0;
        double hi = 0.0;
        ZEL_TRY(in.readString(name), kInfoOwner);
        ZEL_TRY(in.readDouble(lo), kInfoOwner);
        ZEL_TRY(in.readDouble(hi), kInfoOwner);
        CAudioParamConverter* cvt = nullptr;
        if (!name.empty())
        {
            // A name below the scope first, then the name as a path of its own.
            cvt = dynamic_cast<CAudioParamConverter*>(converterScope.findObject(CText(".") + name));
            if (cvt == nullptr)
                cvt = dynamic_cast<CAudioParamConverter*>(converterScope.findObject(name));
        }
        if (cvt == nullptr)
            return ZEL_ERROR(kInfoOwner, "zelstr_CAudioParamInfo_load_NotFound",
                             "Audio parameter converter '%1' not found.", {name.toUtf8()});
        loadedConverters.push_back(cvt);
        mins.push_back(lo);
        maxs.push_back(hi);
    }

    const bool items = type != static_cast<std::int32_t>(EAudioParamDataType::kFloat);
    CAudioParamData scratch;
    std::vector<std::vector<double>> sets;
    std::int32_t setCount = 0;
    ZEL_TRY(in.readInt(setCount), kInfoOwner);
    if (setCount < 0)
        return ZEL_ERROR(kInfoOwner, "zelstr_CAudioParamInfo_load_SetCount",
                         "Invalid default set count %1.", {num(setCount)});
    for (std::int32_t s = 0; s < setCount; ++s)
    {
        std::int32_t count = 0;
        ZEL_TRY(in.readInt(count), kInfoOwner);
        if (count < 0)
            return ZEL_ERROR(kInfoOwner, "zelstr_CAudioParamInfo_load_SetCount",
                             "Invalid default set count %1.", {num(count)});
        std::vector<double> set;
        for (std::int32_t i = 0; i < count; ++i)
        {
            if (!items)
            {
                double value = 0.0;
                ZEL_TRY(in.readDouble(value), kInfoOwner);
                set.push_back(value);
                continue;
            }
            std::int32_t code = 0;
            ZEL_TRY(in.readInt(code), kInfoOwner);
            if (code == 0)
            {
                set.push_back(0.0);
                continue;
            }
            std::unique_ptr<CAudioParamDataItem> item = CAudioParamDataItem::createOfType(code);
            if (!item)
                return ZEL_ERROR(kInfoOwner, "zelstr_CAudioParamInfo_load_DataType",
                                 "Unknown data type %1 encountered", {num(code)});
            ZEL_TRY(item->load(in), kInfoOwner);
            set.push_back(static_cast<double>(scratch.add(std::move(item))));
        }
        sets.push_back(std::move(set));
    }

    defined = true;
    global = flags[0];
    storable = flags[1];
    persistent = flags[2];
    discrete = flags[3];
    undoDisabled = flags[4];
    visualName = names[0];
    paramName = names[1];
    registryName = names[2];
    elementSize = size;
    dataType = static_cast<EAudioParamDataType>(type);
    singleGroup = single[0];
    singleElement = single[1];
    converters = std::move(loadedConverters);
    minValues = std::move(mins);
    maxValues = std::move(maxs);
    m_defaultData.clear();
    for (auto& set : sets)
        for (double& value : set)
            value = items ? m_defaultData.copyValueFrom(scratch, value) : value;
    defaultSets = std::move(sets);
    return nullptr;
}

} // namespace zel
