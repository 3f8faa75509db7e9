#include "Audio/Processes/ModInterpolator.h"

#include "Audio/DCDAWContext.h"
#include "Audio/Kernels/DCDAWKernel.h"

namespace zel
{

void CModInterpolator::registerClass(CClassInfo& info)
{
    CModRateStep::registerClass(info);
}

CErrorPtr CModInterpolator::initFromDef(const CAudioProcessDefBase& def,
                                        std::shared_ptr<const CAudioProcessSetup> setup,
                                        const CText& instancePath)
{
    ZEL_TRY(CModRateStep::initFromDef(def, std::move(setup), instancePath), fullName().toUtf8());
    m_interp = findDCDAWKernel("DCDAW_interp2");
    if (m_interp == nullptr || !hasSilenceKernel())
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CModInterpolator_initFromDef_NoKernel",
                         "The resampling kernels are missing.", {});
    return nullptr;
}

CErrorPtr CModInterpolator::issueStep(CDCDAWContextObject& ctx, std::int32_t inputLength,
                                      std::uint32_t out, std::uint32_t in)
{
    return ctx.issue(*m_interp, inputLength, 0.0, {out, in});
}

void CModInterpolatorDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
}

CErrorPtr CModInterpolatorDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModInterpolator>();
    return nullptr;
}

} // namespace zel
