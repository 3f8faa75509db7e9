#pragma once
// CAudioFilterHBFGen ("audio:fltgen-hbf"): the coefficients of a half-band filter made of two
// chains of second-order allpass stages (the resamplers' image and alias filters). The design
// is data: the attribute 'a' lists chain A's coefficients and 'b' chain B's, in stage order,
// separated by commas. Both lists must be present and of equal length; the filter's order is
// twice that length (2 to 16). The design does not depend on the inputs or the sample rate.

#include "Audio/Filters/AudioFilterGen.h"

#include <vector>

namespace zel
{

class CAudioFilterHBFGen : public CAudioFilterGen
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr init() override;

    CErrorPtr onA(const CText& value);
    CErrorPtr onB(const CText& value);

    // 2 x the number of coefficients per chain (0 before a successful init).
    std::size_t order() const { return m_order; }
    const std::vector<double>& coeffsA() const { return m_a; }
    const std::vector<double>& coeffsB() const { return m_b; }

protected:
    CErrorPtr designResolved(const CAudioFilterRequest& request, CAudioFilterDesign& out,
                             CDCDAWFilterWorkspace* workspace) const override;

private:
    CErrorPtr parseList(const char* attribute, const CText& value, std::vector<double>& out);
    CErrorPtr check();

    std::vector<double> m_a;
    std::vector<double> m_b;
    std::size_t m_order = 0;
};

} // namespace zel
