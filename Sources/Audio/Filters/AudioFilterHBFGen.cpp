#include "Audio/Filters/AudioFilterHBFGen.h"

#include <algorithm>
#include <string>

namespace zel
{

void CAudioFilterHBFGen::registerClass(CClassInfo& info)
{
    CAudioFilterGen::registerClass(info);
    info.attribute<&CAudioFilterHBFGen::onA>("a");
    info.attribute<&CAudioFilterHBFGen::onB>("b");
}

CErrorPtr CAudioFilterHBFGen::parseList(const char* attribute, const CText& value,
                                        std::vector<double>& out)
{
    std::vector<double> parsed;
    if (!parseNumberList(value, parsed))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterHBFGen_parseList_InvalidList",
                         "Invalid coefficient list '%1' for '%2'.", {value.toUtf8(), attribute});
    out = std::move(parsed);
    return nullptr;
}

CErrorPtr CAudioFilterHBFGen::onA(const CText& value)
{
    ZEL_TRY(parseList("a", value, m_a), fullName().toUtf8());
    return state() >= kStateAttributesInitialised ? check() : nullptr;
}

CErrorPtr CAudioFilterHBFGen::onB(const CText& value)
{
    ZEL_TRY(parseList("b", value, m_b), fullName().toUtf8());
    return state() >= kStateAttributesInitialised ? check() : nullptr;
}

CErrorPtr CAudioFilterHBFGen::check()
{
    m_order = 0;
    if (m_a.empty())
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterHBFGen_init_NoCoeffsA",
                         "Not enough 'a' coefficients defined.", {});
    if (m_b.empty())
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterHBFGen_init_NoCoeffsB",
                         "Not enough 'b' coefficients defined.", {});
    if (m_a.size() != m_b.size())
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterHBFGen_init_CoeffsCountError",
                         "Coefficient count should match in 'a' and 'b' coefficient lists.", {});
    if (2 * m_a.size() > CAudioFilterDesign::kMaxHalfBandOrder)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterHBFGen_init_TooManyCoeffs",
                         "Too many coefficients (%1) per list; at most %2 are supported.",
                         {std::to_string(m_a.size()),
                          std::to_string(CAudioFilterDesign::kMaxHalfBandOrder / 2)});
    m_order = 2 * m_a.size();
    return nullptr;
}

CErrorPtr CAudioFilterHBFGen::init()
{
    ZEL_TRY(CAudioFilterGen::init(), fullName().toUtf8());
    ZEL_TRY(check(), fullName().toUtf8());
    return nullptr;
}

CErrorPtr CAudioFilterHBFGen::designResolved(const CAudioFilterRequest&, CAudioFilterDesign& out,
                                             CDCDAWFilterWorkspace*) const
{
    if (m_order == 0)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterHBFGen_design_NotInitialised",
                         "The half-band filter has no valid coefficient lists.", {});
    out.kind = EFilterDesignKind::kHalfBand;
    out.halfBandOrder = m_order;
    std::copy(m_a.begin(), m_a.end(), out.halfBand.begin());
    std::copy(m_b.begin(), m_b.end(),
              out.halfBand.begin() + static_cast<std::ptrdiff_t>(m_a.size()));
    return nullptr;
}

} // namespace zel
