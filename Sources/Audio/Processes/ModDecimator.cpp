#include "Audio/Processes/ModDecimator.h"

#include "Audio/DCDAWContext.h"
#include "Audio/Kernels/DCDAWKernel.h"

namespace zel
{

void CModDecimator::registerClass(CClassInfo& info)
{
    CModRateStep::registerClass(info);
}

CErrorPtr CModDecimator::initFromDef(const CAudioProcessDefBase& def,
                                     std::shared_ptr<const CAudioProcessSetup> setup,
                                     const CText& instancePath)
{
    ZEL_TRY(CModRateStep::initFromDef(def, std::move(setup), instancePath), fullName().toUtf8());
    m_even = findDCDAWKernel("DCDAW_decim2");
    m_oddKernel = findDCDAWKernel("DCDAW_decim2s");
    if (m_even == nullptr || m_oddKernel == nullptr || !hasSilenceKernel())
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CModDecimator_initFromDef_NoKernel",
                         "The resampling kernels are missing.", {});
    return nullptr;
}

CErrorPtr CModDecimator::issueStep(CDCDAWContextObject& ctx, std::int32_t inputLength,
                                   std::uint32_t out, std::uint32_t in)
{
    return ctx.issue(m_odd ? *m_oddKernel : *m_even, inputLength / 2, 0.0, {out, in});
}

void CModDecimatorDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
}

CErrorPtr CModDecimatorDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModDecimator>();
    return nullptr;
}

} // namespace zel
