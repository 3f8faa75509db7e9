#include "Audio/Converters/AudioParamConverter.h"

#include "Audio/AudioParamInfo.h"
#include "Core/Numbers.h"

namespace zel
{

void CAudioParamConverter::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
    info.attribute<&CAudioParamConverter::onLabel>("label");
    info.attribute<&CAudioParamConverter::onIsDiscrete>("is-discrete");
}

CErrorPtr CAudioParamConverter::onLabel(const CText& value)
{
    m_label = value;
    return nullptr;
}

CErrorPtr CAudioParamConverter::onIsDiscrete(const CText& value)
{
    return detail::parseFlagAttribute(*this, value, m_isDiscrete);
}

double CAudioParamConverter::textToValue(const CAudioParamInfo& info, std::int32_t element,
                                         const CText& text, bool* ok) const
{
    double min = 0.0;
    double max = 1.0;
    rangeOf(info, element, min, max);
    bool parsed = true;
    const double value = textToValueRaw(info, element, text, &parsed);
    setOk(ok, parsed);
    if (!parsed)
        return min;
    return clampToRange(value, min, max);
}

double CAudioParamConverter::normToValue(const CAudioParamInfo& info, std::int32_t element,
                                         double norm) const
{
    double min = 0.0;
    double max = 1.0;
    rangeOf(info, element, min, max);
    return min + norm * (max - min);
}

double CAudioParamConverter::valueToNorm(const CAudioParamInfo& info, std::int32_t element,
                                         double value) const
{
    double min = 0.0;
    double max = 1.0;
    rangeOf(info, element, min, max);
    return (value - min) / (max - min);
}

double CAudioParamConverter::clampToRange(double value, double min, double max)
{
    if (min <= max)
        return value < min ? min : (value > max ? max : value);
    return value < max ? max : (value > min ? min : value);
}

void CAudioParamConverter::rangeOf(const CAudioParamInfo& info, std::int32_t element, double& min,
                                   double& max)
{
    if (element >= 0 && static_cast<std::size_t>(element) < info.minValues.size() &&
        static_cast<std::size_t>(element) < info.maxValues.size())
    {
        min = info.minValues[static_cast<std::size_t>(element)];
        max = info.maxValues[static_cast<std::size_t>(element)];
        return;
    }
    min = 0.0;
    max = 1.0;
}

bool CAudioParamConverter::parseNumberText(const CText& text, double& value)
{
    if (text.empty())
    {
        value = 0.0;
        return true;
    }
    return parseNumber(text, value);
}

} // namespace zel
