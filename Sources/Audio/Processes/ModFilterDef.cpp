#include "Audio/Processes/ModFilterDef.h"

#include "Core/Numbers.h"

namespace zel
{

void CModFilterDefBase::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
    info.attribute<&CModFilterDefBase::onFltgen>("fltgen");
    info.attribute<&CModFilterDefBase::onFilterIndex>("filter-index");
    info.attribute<&CModFilterDefBase::onFreq>("freq");
    info.attribute<&CModFilterDefBase::onGain>("gain");
    info.attribute<&CModFilterDefBase::onBw>("bw");
    info.attribute<&CModFilterDefBase::onLength>("length");
    info.attribute<&CModFilterDefBase::onPower>("power");
}

CErrorPtr CModFilterDefBase::initChilds()
{
    ZEL_TRY(CAudioProcessDefBase::initChilds(), fullName().toUtf8());
    m_generator = CObjectRef();
    auto* found = m_path.empty() ? nullptr : dynamic_cast<CAudioFilterGen*>(findObject(m_path));
    if (found == nullptr)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CModFilterDefBase_initChilds_NoGenerator",
                         "Filter generator '%1' not found.", {m_path.toUtf8()});
    m_generator = found->weakRef();
    return nullptr;
}

const CAudioFilterGen* CModFilterDefBase::generator() const
{
    return static_cast<const CAudioFilterGen*>(m_generator.get());
}

CAudioFilterRequest CModFilterDefBase::baseRequest(double sampleRate) const
{
    CAudioFilterRequest request;
    request.sampleRate = sampleRate;
    request.index = m_index;
    request.freq = m_freq;
    request.gain = m_gain;
    request.bw = m_bw;
    request.length = m_length;
    request.power = m_power;
    return request;
}

CErrorPtr CModFilterDefBase::onFltgen(const CText& value)
{
    m_path = value;
    return nullptr;
}

CErrorPtr CModFilterDefBase::onFilterIndex(const CText& value)
{
    if (!parseInteger32(value, m_index))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CModFilterDefBase_onFilterIndex_Invalid",
                         "Invalid filter index '%1' specified.", {value.toUtf8()});
    return nullptr;
}

CErrorPtr CModFilterDefBase::parseInput(const char* attribute, const CText& value,
                                        std::optional<double>& target)
{
    double number = 0.0;
    if (!parseNumber(value, number))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CModFilterDefBase_parseInput_Invalid",
                         "Invalid number '%1' for '%2'.", {value.toUtf8(), attribute});
    target = number;
    return nullptr;
}

CErrorPtr CModFilterDefBase::onFreq(const CText& value)
{
    return parseInput("freq", value, m_freq);
}

CErrorPtr CModFilterDefBase::onGain(const CText& value)
{
    return parseInput("gain", value, m_gain);
}

CErrorPtr CModFilterDefBase::onBw(const CText& value)
{
    return parseInput("bw", value, m_bw);
}

CErrorPtr CModFilterDefBase::onLength(const CText& value)
{
    return parseInput("length", value, m_length);
}

CErrorPtr CModFilterDefBase::onPower(const CText& value)
{
    return parseInput("power", value, m_power);
}

} // namespace zel
