#include "Audio/AudioProcessLinkDef.h"

#include "Core/Numbers.h"

#include <cmath>
#include <string_view>

namespace zel
{

// ---- CAudioInterval ----

bool CAudioInterval::parse(const CText& text, CAudioInterval& out)
{
    const std::string s = text.toUtf8();
    if (s.size() < 5)
        return false;
    const char open = s.front();
    const char close = s.back();
    if ((open != '[' && open != '(') || (close != ']' && close != ')'))
        return false;
    double fields[3] = {0.0, 0.0, 0.0};
    int count = 0;
    std::size_t start = 1;
    const std::size_t end = s.size() - 1;
    while (true)
    {
        const std::size_t sep = s.find(';', start);
        const std::size_t stop = (sep == std::string::npos || sep > end) ? end : sep;
        if (count == 3 || !parseNumber(CText(s.substr(start, stop - start)), fields[count]))
            return false;
        ++count;
        if (stop == end)
            break;
        start = stop + 1;
    }
    if (count < 2 || fields[0] > fields[1] || fields[2] < 0.0)
        return false;
    out.low = fields[0];
    out.high = fields[1];
    out.tolerance = fields[2];
    out.lowIncluded = open == '[';
    out.highIncluded = close == ']';
    return true;
}

bool CAudioInterval::contains(double value) const
{
    const bool aboveLow = lowIncluded ? value >= low - tolerance : value > low + tolerance;
    const bool belowHigh = highIncluded ? value <= high + tolerance : value < high - tolerance;
    return aboveLow && belowHigh;
}

// ---- CAudioProcessLinkDef ----

void CAudioProcessLinkDef::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
    info.attribute<&CAudioProcessLinkDef::onSrc>("src");
    info.attribute<&CAudioProcessLinkDef::onDst>("dst");
    info.attribute<&CAudioProcessLinkDef::onStateId>("state-id");
    info.attribute<&CAudioProcessLinkDef::onBypassStateId>("bypass-state-id");
}

CErrorPtr CAudioProcessLinkDef::parseEnd(const CText& value, bool isSrc, CText& name,
                                         std::int32_t& port) const
{
    const std::size_t slash = value.find(u'/');
    name = value.substr(0, slash);
    port = 0;
    if (slash == CText::npos)
        return nullptr;
    std::int32_t parsed = 0;
    if (!parseInteger32(value.substr(slash + 1), parsed) || parsed < 0 || name == CText("*"))
        return isSrc ? ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcessLinkDef_init_SrcPort",
                                 "Invalid port in the 'src' attribute value '%1' specified.",
                                 {value.toUtf8()})
                     : ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcessLinkDef_init_DstPort",
                                 "Invalid port in the 'dst' attribute value '%1' specified.",
                                 {value.toUtf8()});
    port = parsed;
    return nullptr;
}

CErrorPtr CAudioProcessLinkDef::onSrc(const CText& value)
{
    ZEL_TRY(parseEnd(value, true, m_srcName, m_srcPort), fullName().toUtf8());
    m_srcText = value;
    return nullptr;
}

CErrorPtr CAudioProcessLinkDef::onDst(const CText& value)
{
    ZEL_TRY(parseEnd(value, false, m_dstName, m_dstPort), fullName().toUtf8());
    m_dstText = value;
    return nullptr;
}

static CErrorPtr parseStateId(const CObject& self, const CText& value, std::int32_t& out)
{
    std::int32_t id = -1;
    if (!parseInteger32(value, id))
        return ZEL_ERROR(self.fullName().toUtf8(), "zelstr_CAudioProcessLinkDef_init_StateId",
                         "Invalid state identifier '%1' specified.", {value.toUtf8()});
    out = id;
    return nullptr;
}

CErrorPtr CAudioProcessLinkDef::onStateId(const CText& value)
{
    return parseStateId(*this, value, m_stateId);
}

CErrorPtr CAudioProcessLinkDef::onBypassStateId(const CText& value)
{
    return parseStateId(*this, value, m_bypassStateId);
}

CErrorPtr CAudioProcessLinkDef::init()
{
    ZEL_TRY(CObject::init(), fullName().toUtf8());
    if (m_srcName.empty())
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcessLinkDef_init_NoSrc",
                         "No 'src' attribute defined.");
    if (m_dstName.empty())
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcessLinkDef_init_NoDst",
                         "No 'dst' attribute defined.");
    return nullptr;
}

// ---- CAudioProcessBypassStateDef ----

void CAudioProcessBypassStateDef::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
    using C = CAudioProcessBypassStateDef;
    info.attribute<&C::onId>("id");
    info.attribute<&C::onParam>("param");
    info.attribute<&C::onValue>("value");
    info.attribute<&C::onRange>("range");
    info.attribute<&C::onAndParam>("and-param");
    info.attribute<&C::onAndValue>("and-value");
    info.attribute<&C::onAndRange>("and-range");
    info.flag<&C::m_inverted>("is-inverted");
    info.attribute<&C::onGroup0>("is-group0");
    info.attribute<&C::onAndGroup0>("is-and-group0");
    info.flag<&C::m_multiband>("is-multiband");
}

bool CAudioProcessBypassStateDef::CCondition::holds(double paramValue) const
{
    if (hasRange)
        return range.contains(paramValue);
    return std::abs(paramValue - value) <= 1e-9;
}

bool CAudioProcessBypassStateDef::evaluate(double firstValue, double secondValue) const
{
    bool active = m_first.holds(firstValue);
    if (!m_second.param.empty())
        active = active && m_second.holds(secondValue);
    return active != m_inverted;
}

CErrorPtr CAudioProcessBypassStateDef::parseFlag(const CText& value, bool& out) const
{
    return detail::parseFlagAttribute(*this, value, out);
}

CErrorPtr CAudioProcessBypassStateDef::parseValue(const char* attr, const CText& value,
                                                  double& out) const
{
    double parsed = 0.0;
    if (!parseNumber(value, parsed))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcessBypassStateDef_init_Value",
                         "Invalid '%1' attribute value '%2' specified.", {attr, value.toUtf8()});
    out = parsed;
    return nullptr;
}

CErrorPtr CAudioProcessBypassStateDef::parseRange(const char* attr, const CText& value,
                                                  CCondition& cond) const
{
    if (value.empty())
    {
        cond.hasRange = false;
        return nullptr;
    }
    if (!CAudioInterval::parse(value, cond.range))
        return std::string_view(attr) == "range"
                   ? ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcessBypassStateDef_init_Range",
                               "Invalid 'range' attribute value '%1' specified.", {value.toUtf8()})
                   : ZEL_ERROR(
                         fullName().toUtf8(), "zelstr_CAudioProcessBypassStateDef_init_AndRange",
                         "Invalid 'and-range' attribute value '%1' specified.", {value.toUtf8()});
    cond.hasRange = true;
    return nullptr;
}

CErrorPtr CAudioProcessBypassStateDef::onId(const CText& value)
{
    return parseStateId(*this, value, m_id);
}
CErrorPtr CAudioProcessBypassStateDef::onParam(const CText& value)
{
    m_first.param = value;
    return nullptr;
}
CErrorPtr CAudioProcessBypassStateDef::onValue(const CText& value)
{
    return value.empty() ? nullptr : parseValue("value", value, m_first.value);
}
CErrorPtr CAudioProcessBypassStateDef::onRange(const CText& value)
{
    return parseRange("range", value, m_first);
}
CErrorPtr CAudioProcessBypassStateDef::onAndParam(const CText& value)
{
    m_second.param = value;
    return nullptr;
}
CErrorPtr CAudioProcessBypassStateDef::onAndValue(const CText& value)
{
    return value.empty() ? nullptr : parseValue("and-value", value, m_second.value);
}
CErrorPtr CAudioProcessBypassStateDef::onAndRange(const CText& value)
{
    return parseRange("and-range", value, m_second);
}
CErrorPtr CAudioProcessBypassStateDef::onGroup0(const CText& value)
{
    return parseFlag(value, m_first.group0);
}
CErrorPtr CAudioProcessBypassStateDef::onAndGroup0(const CText& value)
{
    return parseFlag(value, m_second.group0);
}

CErrorPtr CAudioProcessBypassStateDef::init()
{
    ZEL_TRY(CObject::init(), fullName().toUtf8());
    if (m_first.param.empty())
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcessBypassStateDef_init_InvalidName",
                         "Invalid parameter name specified.");
    return nullptr;
}

} // namespace zel
