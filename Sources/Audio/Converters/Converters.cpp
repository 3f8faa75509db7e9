#include "Audio/Converters/Converters.h"

#include "Audio/AudioParamData.h"
#include "Audio/AudioParamInfo.h"
#include "Core/ClassInfo.h"
#include "Core/Numbers.h"

#include <cmath>
#include <string>

namespace zel
{
namespace
{

CErrorPtr parseFlag(const CObject& owner, const CText& value, bool& out)
{
    return detail::parseFlagAttribute(owner, value, out);
}

// Reads "decimals"; a text that is no integer is reported like an out-of-range count.
CErrorPtr parseDecimals(const CObject& owner, const char* id, const CText& value, std::int32_t& out)
{
    std::int32_t decimals = 0;
    if (!parseInteger32(value, decimals))
        return ZEL_ERROR(owner.fullName().toUtf8(), id, "Invalid decimals %1 specified.",
                         {value.toUtf8()});
    out = decimals;
    return nullptr;
}

CErrorPtr checkDecimals(const CObject& owner, const char* id, std::int32_t decimals,
                        std::int32_t lowest)
{
    if (decimals < lowest || decimals > 10)
        return ZEL_ERROR(owner.fullName().toUtf8(), id, "Invalid decimals %1 specified.",
                         {std::to_string(decimals)});
    return nullptr;
}

double logNormToValue(double min, double max, double norm)
{
    return std::exp(std::log(min) + norm * std::log(max / min));
}

double logValueToNorm(double min, double max, double value)
{
    return std::log(value / min) / std::log(max / min);
}

double squareNormToValue(double min, double max, double norm)
{
    return min + norm * norm * (max - min);
}

double squareValueToNorm(double min, double max, double value)
{
    return std::sqrt(std::abs((value - min) / (max - min)));
}

} // namespace

// ---- BW ----

double CAudioParamConverterBW::textToValueRaw(const CAudioParamInfo&, std::int32_t,
                                              const CText& text, bool* ok) const
{
    double value = 0.0;
    const bool parsed = parseNumberText(text, value);
    setOk(ok, parsed);
    return parsed ? value : 0.0;
}

CText CAudioParamConverterBW::valueToText(const CAudioParamInfo&, std::int32_t, double value,
                                          std::int32_t, const CAudioParamData*) const
{
    return formatNumber(value, 2);
}

double CAudioParamConverterBW::normToValue(const CAudioParamInfo& info, std::int32_t element,
                                           double norm) const
{
    double min = 0.0;
    double max = 1.0;
    rangeOf(info, element, min, max);
    return squareNormToValue(min, max, norm);
}

double CAudioParamConverterBW::valueToNorm(const CAudioParamInfo& info, std::int32_t element,
                                           double value) const
{
    double min = 0.0;
    double max = 1.0;
    rangeOf(info, element, min, max);
    return squareValueToNorm(min, max, value);
}

// ---- Enum ----

void CAudioParamConverterEnum::registerClass(CClassInfo& info)
{
    CAudioParamConverter::registerClass(info);
    info.attribute<&CAudioParamConverterEnum::parseStateNames>("state-names");
}

CErrorPtr CAudioParamConverterEnum::parseStateNames(const CText& value)
{
    m_fullNames.clear();
    m_shortNames.clear();
    m_stateCount = 0;
    std::size_t start = 0;
    while (start <= value.size())
    {
        std::size_t end = value.find(u';', start);
        if (end == CText::npos)
            end = value.size();
        const CText state = value.substr(start, end - start);
        start = end + 1;
        std::vector<CText> fields;
        std::size_t fieldStart = 0;
        while (fieldStart <= state.size())
        {
            std::size_t fieldEnd = state.find(u'|', fieldStart);
            if (fieldEnd == CText::npos)
                fieldEnd = state.size();
            CText field = state.substr(fieldStart, fieldEnd - fieldStart);
            if (!field.empty())
                fields.push_back(std::move(field));
            fieldStart = fieldEnd + 1;
        }
        if (fields.empty())
            continue;
        const CText& shortSource = fields.size() >= 2 ? fields[1] : fields[0];
        m_shortNames.push_back(shortSource.substr(0, 7));
        m_fullNames.push_back(fields[0]);
    }
    m_stateCount = m_fullNames.size();
    return nullptr;
}

double CAudioParamConverterEnum::textToValue(const CAudioParamInfo& info, std::int32_t element,
                                             const CText& text, bool* ok) const
{
    double min = 0.0;
    double max = 1.0;
    rangeOf(info, element, min, max);
    bool parsed = true;
    const double value = textToValueRaw(info, element, text, &parsed);
    setOk(ok, parsed);
    if (!parsed)
        return std::round(min);
    return clampToRange(value, min, max);
}

double CAudioParamConverterEnum::textToValueRaw(const CAudioParamInfo&, std::int32_t,
                                                const CText& text, bool* ok) const
{
    std::int64_t value = 0;
    const bool parsed = parseInteger(text, value);
    setOk(ok, parsed);
    return parsed ? static_cast<double>(value) : 0.0;
}

CText CAudioParamConverterEnum::valueToText(const CAudioParamInfo& info, std::int32_t element,
                                            double value, std::int32_t mode,
                                            const CAudioParamData*) const
{
    double min = 0.0;
    double max = 1.0;
    rangeOf(info, element, min, max);
    const double index = std::round(value) - std::round(min);
    if (m_stateCount == 0)
        return formatNumber(index, 0);
    if (!(index >= 0.0 && index < static_cast<double>(m_stateCount)))
        return CText("Reserve");
    const auto at = static_cast<std::size_t>(index);
    return mode == kModeShort ? m_shortNames[at] : m_fullNames[at];
}

double CAudioParamConverterEnum::normToValue(const CAudioParamInfo& info, std::int32_t element,
                                             double norm) const
{
    return std::round(CAudioParamConverter::normToValue(info, element, norm));
}

// ---- Freq ----

double CAudioParamConverterFreq::textToValueRaw(const CAudioParamInfo&, std::int32_t,
                                                const CText& text, bool* ok) const
{
    CText number = text;
    double factor = 1.0;
    if (!number.empty() && (number[number.size() - 1] == u'k' || number[number.size() - 1] == u'K'))
    {
        number = number.substr(0, number.size() - 1);
        factor = 1000.0;
    }
    double value = 0.0;
    const bool parsed = parseNumberText(number, value);
    setOk(ok, parsed);
    return parsed ? value * factor : 0.0;
}

CText CAudioParamConverterFreq::valueToText(const CAudioParamInfo&, std::int32_t, double value,
                                            std::int32_t mode, const CAudioParamData*) const
{
    const double tenths = std::round(value * 10.0);
    if (mode == kModeCompact)
    {
        if (tenths >= 10000.0)
        {
            const int decimals = tenths < 100000.0 ? 1 : 0;
            return formatNumber(value * 0.001, decimals) + CText("k");
        }
        return formatNumber(value, 0);
    }
    if (tenths < 1000.0)
        return formatNumber(value, 1);
    if (std::round(value) >= 1000.0)
    {
        const int decimals = std::round(value * 0.1) < 1000.0 ? 2 : 1;
        return formatNumber(value * 0.001, decimals) + CText("k");
    }
    return formatNumber(value, 0);
}

double CAudioParamConverterFreq::normToValue(const CAudioParamInfo& info, std::int32_t element,
                                             double norm) const
{
    double min = 0.0;
    double max = 1.0;
    rangeOf(info, element, min, max);
    return logNormToValue(min, max, norm);
}

double CAudioParamConverterFreq::valueToNorm(const CAudioParamInfo& info, std::int32_t element,
                                             double value) const
{
    double min = 0.0;
    double max = 1.0;
    rangeOf(info, element, min, max);
    return logValueToNorm(min, max, value);
}

// ---- Gain ----

void CAudioParamConverterGain::registerClass(CClassInfo& info)
{
    CAudioParamConverter::registerClass(info);
    info.attribute<&CAudioParamConverterGain::onDecimals>("decimals");
}

CErrorPtr CAudioParamConverterGain::onDecimals(const CText& value)
{
    return parseDecimals(*this, "zelstr_CAudioParamConverterGain_init_InvalidDecimals", value,
                         m_decimals);
}

CErrorPtr CAudioParamConverterGain::init()
{
    ZEL_TRY(CAudioParamConverter::init(), fullName().toUtf8());
    ZEL_TRY(
        checkDecimals(*this, "zelstr_CAudioParamConverterGain_init_InvalidDecimals", m_decimals, 0),
        fullName().toUtf8());
    return nullptr;
}

double CAudioParamConverterGain::textToValueRaw(const CAudioParamInfo&, std::int32_t,
                                                const CText& text, bool* ok) const
{
    double db = 0.0;
    const bool parsed = parseNumberText(text, db);
    setOk(ok, parsed);
    return parsed ? std::exp(db / kDbPerNeper) : 0.0;
}

CText CAudioParamConverterGain::valueToText(const CAudioParamInfo&, std::int32_t, double value,
                                            std::int32_t mode, const CAudioParamData*) const
{
    if (!(value > 0.0))
        return CText("-inf");
    return formatNumber(std::log(value) * kDbPerNeper, mode == kModeCompact ? 0 : m_decimals);
}

double CAudioParamConverterGain::normToValue(const CAudioParamInfo& info, std::int32_t element,
                                             double norm) const
{
    double min = 0.0;
    double max = 1.0;
    rangeOf(info, element, min, max);
    return logNormToValue(min, max, norm);
}

double CAudioParamConverterGain::valueToNorm(const CAudioParamInfo& info, std::int32_t element,
                                             double value) const
{
    double min = 0.0;
    double max = 1.0;
    rangeOf(info, element, min, max);
    return logValueToNorm(min, max, value);
}

// ---- Pan ----

double CAudioParamConverterPan::textToValue(const CAudioParamInfo& info, std::int32_t element,
                                            const CText& text, bool* ok) const
{
    double min = 0.0;
    double max = 1.0;
    rangeOf(info, element, min, max);
    bool parsed = true;
    const double value = textToValueRaw(info, element, text, &parsed);
    setOk(ok, parsed);
    return clampToRange(value, min, max);
}

double CAudioParamConverterPan::textToValueRaw(const CAudioParamInfo& info, std::int32_t element,
                                               const CText& text, bool* ok) const
{
    double min = 0.0;
    double max = 1.0;
    rangeOf(info, element, min, max);
    if (text.empty())
    {
        setOk(ok, false);
        return min;
    }
    std::size_t start = 0;
    double sign = 1.0;
    const char16_t first = text[0];
    if (first == u'L' || first == u'l' || first == u'R' || first == u'r')
    {
        sign = (first == u'L' || first == u'l') ? -1.0 : 1.0;
        start = 1;
        if (start < text.size() && text[start] == u' ')
            ++start;
    }
    double percent = 0.0;
    if (!parseNumberText(text.substr(start), percent))
    {
        // The failure value is the element's minimum, whatever side was typed.
        setOk(ok, false);
        return min;
    }
    setOk(ok, true);
    return sign * percent * 0.01;
}

CText CAudioParamConverterPan::valueToText(const CAudioParamInfo&, std::int32_t, double value,
                                           std::int32_t mode, const CAudioParamData*) const
{
    if (mode == kModeCompact)
    {
        const double p = std::round(value * 100.0);
        if (p == 0.0)
            return CText("C");
        if (p < 0.0)
            return CText("L") + formatNumber(-p, 0);
        return CText("R") + formatNumber(p, 0);
    }
    if (std::round(value * 1000.0) == 0.0)
        return CText("C");
    if (value >= 0.0)
        return CText("R ") + formatNumber(value * 100.0, 0);
    return CText("L ") + formatNumber(-value * 100.0, 0);
}

// ---- Percent ----

double CAudioParamConverterPercent::textToValueRaw(const CAudioParamInfo&, std::int32_t,
                                                   const CText& text, bool* ok) const
{
    double value = 0.0;
    const bool parsed = parseNumberText(text, value);
    setOk(ok, parsed);
    return parsed ? value * 0.01 : 0.0;
}

CText CAudioParamConverterPercent::valueToText(const CAudioParamInfo&, std::int32_t, double value,
                                               std::int32_t mode, const CAudioParamData*) const
{
    return formatNumber(value * 100.0, mode == kModeCompact ? 0 : 1);
}

// ---- Ratio ----

void CAudioParamConverterRatio::registerClass(CClassInfo& info)
{
    CAudioParamConverter::registerClass(info);
    info.attribute<&CAudioParamConverterRatio::onDecimals>("decimals");
}

CErrorPtr CAudioParamConverterRatio::onDecimals(const CText& value)
{
    return parseDecimals(*this, "zelstr_CAudioParamConverterRatio_init_InvalidDecimals", value,
                         m_decimals);
}

CErrorPtr CAudioParamConverterRatio::init()
{
    ZEL_TRY(CAudioParamConverter::init(), fullName().toUtf8());
    ZEL_TRY(checkDecimals(*this, "zelstr_CAudioParamConverterRatio_init_InvalidDecimals",
                          m_decimals, 1),
            fullName().toUtf8());
    return nullptr;
}

double CAudioParamConverterRatio::textToValueRaw(const CAudioParamInfo&, std::int32_t,
                                                 const CText& text, bool* ok) const
{
    constexpr double kFailure = 0.5;
    const std::size_t colon = text.find(u':');
    double a = 0.0;
    double b = 1.0;
    bool parsed = false;
    if (colon == CText::npos)
        parsed = parseNumberText(text, a);
    else if (text.find(u':', colon + 1) == CText::npos)
        parsed =
            parseNumberText(text.substr(0, colon), a) && parseNumberText(text.substr(colon + 1), b);
    if (!parsed || a == 0.0)
    {
        setOk(ok, false);
        return kFailure;
    }
    double slope = b / a;
    // Typing never yields the exact 1:1 slope.
    if (std::abs(slope - 1.0) < 0.001)
        slope = slope <= 1.0 ? 0.999 : 1.001;
    setOk(ok, true);
    return slope;
}

CText CAudioParamConverterRatio::valueToText(const CAudioParamInfo&, std::int32_t, double value,
                                             std::int32_t mode, const CAudioParamData*) const
{
    const std::int32_t decimals = mode == kModeCompact ? 1 : m_decimals;
    const double inverse = std::round(1000.0 / value);
    if (inverse > 1000.0)
    {
        const std::int32_t d = inverse >= 10000.0 ? decimals - 1 : decimals;
        return formatNumber(1.0 / value, d) + CText(":1");
    }
    const std::int32_t d = std::round(10.0 * value) >= 100.0 ? decimals - 1 : decimals;
    return CText("1:") + formatNumber(value, d);
}

double CAudioParamConverterRatio::normToValue(const CAudioParamInfo& info, std::int32_t element,
                                              double norm) const
{
    double min = 0.0;
    double max = 1.0;
    rangeOf(info, element, min, max);
    return std::tan(std::atan(min) + norm * (std::atan(max) - std::atan(min)));
}

double CAudioParamConverterRatio::valueToNorm(const CAudioParamInfo& info, std::int32_t element,
                                              double value) const
{
    double min = 0.0;
    double max = 1.0;
    rangeOf(info, element, min, max);
    return (std::atan(value) - std::atan(min)) / (std::atan(max) - std::atan(min));
}

// ---- Real ----

void CAudioParamConverterReal::registerClass(CClassInfo& info)
{
    CAudioParamConverter::registerClass(info);
    info.attribute<&CAudioParamConverterReal::onDecimals>("decimals");
}

CErrorPtr CAudioParamConverterReal::onDecimals(const CText& value)
{
    return parseDecimals(*this, "zelstr_CAudioParamConverterReal_init_InvalidDecimals", value,
                         m_decimals);
}

CErrorPtr CAudioParamConverterReal::init()
{
    ZEL_TRY(CAudioParamConverter::init(), fullName().toUtf8());
    ZEL_TRY(
        checkDecimals(*this, "zelstr_CAudioParamConverterReal_init_InvalidDecimals", m_decimals, 0),
        fullName().toUtf8());
    return nullptr;
}

double CAudioParamConverterReal::textToValueRaw(const CAudioParamInfo&, std::int32_t,
                                                const CText& text, bool* ok) const
{
    double value = 0.0;
    const bool parsed = parseNumberText(text, value);
    setOk(ok, parsed);
    return parsed ? value : 0.0;
}

CText CAudioParamConverterReal::valueToText(const CAudioParamInfo&, std::int32_t, double value,
                                            std::int32_t mode, const CAudioParamData*) const
{
    return formatNumber(value, mode == kModeCompact ? 0 : m_decimals);
}

// ---- Text ----

double CAudioParamConverterText::textToValueRaw(const CAudioParamInfo&, std::int32_t, const CText&,
                                                bool* ok) const
{
    setOk(ok, true);
    return 0.0;
}

CText CAudioParamConverterText::valueToText(const CAudioParamInfo&, std::int32_t, double value,
                                            std::int32_t, const CAudioParamData* data) const
{
    if (data == nullptr)
        return CText();
    const auto* item = dynamic_cast<const CAudioParamDataItemString*>(data->findByValue(value));
    return item != nullptr ? item->text() : CText();
}

// ---- Time ----

void CAudioParamConverterTime::registerClass(CClassInfo& info)
{
    CAudioParamConverter::registerClass(info);
    info.attribute<&CAudioParamConverterTime::onIsLog>("is-log");
    info.attribute<&CAudioParamConverterTime::onScale>("scale");
    info.attribute<&CAudioParamConverterTime::onIsExact>("is-exact");
    info.attribute<&CAudioParamConverterTime::onIsPrecise>("is-precise");
}

CErrorPtr CAudioParamConverterTime::onIsLog(const CText& value)
{
    return parseFlag(*this, value, m_isLog);
}

CErrorPtr CAudioParamConverterTime::onScale(const CText& value)
{
    m_scaleText = value;
    double scale = 0.0;
    // An unparsable scale is kept as 0 so that init reports it with its text.
    m_scale = parseNumber(value, scale) ? scale : 0.0;
    return nullptr;
}

CErrorPtr CAudioParamConverterTime::onIsExact(const CText& value)
{
    return parseFlag(*this, value, m_isExact);
}

CErrorPtr CAudioParamConverterTime::onIsPrecise(const CText& value)
{
    bool precise = false;
    ZEL_TRY(parseFlag(*this, value, precise), fullName().toUtf8());
    m_precision = precise ? 1 : 0;
    return nullptr;
}

CErrorPtr CAudioParamConverterTime::init()
{
    ZEL_TRY(CAudioParamConverter::init(), fullName().toUtf8());
    if (!(m_scale > 0.0))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioParamConverterTime_init_InvalidScale",
                         "Invalid scale %1 specified.", {m_scaleText.toUtf8()});
    return nullptr;
}

double CAudioParamConverterTime::textToValueRaw(const CAudioParamInfo&, std::int32_t,
                                                const CText& text, bool* ok) const
{
    double value = 0.0;
    const bool parsed = parseNumberText(text, value);
    setOk(ok, parsed);
    return parsed ? value * m_scale : 0.0;
}

CText CAudioParamConverterTime::valueToText(const CAudioParamInfo&, std::int32_t, double value,
                                            std::int32_t mode, const CAudioParamData*) const
{
    const double x = value / m_scale;
    const double r = std::round(std::abs(x));
    if (mode == kModeCompact)
    {
        if (r < 10.0)
            return formatNumber(x, 1);
        if (r < 100.0)
            return formatNumber(x, 0);
        return formatNumber(x * 0.001, 1) + CText("*");
    }
    if (m_isExact || r < 10.0)
        return formatNumber(x, m_precision + 2);
    if (r < 100.0)
        return formatNumber(x, m_precision + 1);
    return formatNumber(x, m_precision);
}

double CAudioParamConverterTime::normToValue(const CAudioParamInfo& info, std::int32_t element,
                                             double norm) const
{
    double min = 0.0;
    double max = 1.0;
    rangeOf(info, element, min, max);
    if (m_isLog)
        return logNormToValue(min, max, norm);
    if (m_isExact)
        return min + norm * (max - min);
    return squareNormToValue(min, max, norm);
}

double CAudioParamConverterTime::valueToNorm(const CAudioParamInfo& info, std::int32_t element,
                                             double value) const
{
    double min = 0.0;
    double max = 1.0;
    rangeOf(info, element, min, max);
    if (m_isLog)
        return logValueToNorm(min, max, value);
    if (m_isExact)
        return (value - min) / (max - min);
    return squareValueToNorm(min, max, value);
}

} // namespace zel
