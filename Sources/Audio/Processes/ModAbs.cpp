#include "Audio/Processes/ModAbs.h"

#include "Audio/DCDAWContext.h"
#include "Audio/Processes/ModSwitchedOutput.h"

namespace zel
{

CErrorPtr CModAbsModule::start(CAudioProcessTerminalBase& owner, std::int32_t channel)
{
    ZEL_TRY(requirePerChannel(owner, channel), "CModAbsModule");
    m_abs = findDCDAWKernel("DCDAW_abs");
    m_fill0 = findDCDAWKernel("DCDAW_fill0");
    if (!m_abs || !m_fill0)
        return ZEL_ERROR(owner.fullName().toUtf8(), "zelstr_CModAbsModule_start_missingKernel",
                         "Unknown kernel '%1'.", {"DCDAW_abs"});
    return nullptr;
}

CErrorPtr CModAbsModule::process(CAudioModuleBlock& block)
{
    std::uint32_t out = 0;
    ZEL_TRY(block.output(0, out), "CModAbsModule");
    const std::uint32_t in = block.input(0);
    if (in == CAudioProcessBase::kNoInput)
        return block.issue(*m_fill0, 0.0, {out});
    return block.issue(*m_abs, 0.0, {out, in});
}

void CModAbsDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
}

CErrorPtr CModAbsDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModAbs>();
    return nullptr;
}

} // namespace zel
