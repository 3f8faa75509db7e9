#include "Audio/Processes/ModDenorm.h"

#include "Audio/DCDAWContext.h"
#include "Audio/Kernels/BasicKernels.h"
#include "Audio/Processes/ModSwitchedOutput.h"

namespace zel
{

CErrorPtr CModDenormModule::start(CAudioProcessTerminalBase& owner, std::int32_t channel)
{
    ZEL_TRY(requirePerChannel(owner, channel), "CModDenormModule");
    m_denorm = findDCDAWKernel("DCDAW_denorm");
    m_noise = findDCDAWKernel("DCDAW_denormn");
    if (!m_denorm || !m_noise)
        return ZEL_ERROR(owner.fullName().toUtf8(), "zelstr_CModDenormModule_start_missingKernel",
                         "Unknown kernel '%1'.", {"DCDAW_denorm"});
    CDCDAWContextObject& context = owner.context();
    ZEL_TRY(context.takeBuffer(CDCDAWDenormState::kSize * 8, m_seedRef), "CModDenormModule");
    m_hasSeed = true;
    m_firstSeed = CModSwitchedOutput::takeNoiseSeed();
    CDCDAWDenormState::setSeed(context.data(m_seedRef), m_firstSeed);
    return nullptr;
}

CErrorPtr CModDenormModule::process(CAudioModuleBlock& block)
{
    std::uint32_t out = 0;
    ZEL_TRY(block.output(0, out), "CModDenormModule");
    const std::uint32_t in = block.input(0);
    if (in == CAudioProcessBase::kNoInput)
        return block.issue(*m_noise, 0.0, {out, m_seedRef});
    return block.issue(*m_denorm, 0.0, {out, m_seedRef, in});
}

void CModDenormModule::stop(CAudioProcessTerminalBase& owner)
{
    if (m_hasSeed)
        (void)owner.context().releaseReference(m_seedRef);
    m_hasSeed = false;
}

void CModDenormDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
}

CErrorPtr CModDenormDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModDenorm>();
    return nullptr;
}

} // namespace zel
