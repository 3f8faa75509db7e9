#include "Audio/Processes/ModMult.h"

#include "Audio/DCDAWContext.h"
#include "Audio/Processes/ModSwitchedOutput.h"

namespace zel
{

CErrorPtr CModMultModule::start(CAudioProcessTerminalBase& owner, std::int32_t channel)
{
    ZEL_TRY(requirePerChannel(owner, channel), "CModMultModule");
    const auto* def = dynamic_cast<const CModMultDef*>(owner.definition());
    const char* name = def && def->isDivision() ? "DCDAW_div2" : "DCDAW_mul2";
    m_kernel = findDCDAWKernel(name);
    m_fill0 = findDCDAWKernel("DCDAW_fill0");
    if (!m_kernel || !m_fill0)
        return ZEL_ERROR(owner.fullName().toUtf8(), "zelstr_CModMultModule_start_missingKernel",
                         "Unknown kernel '%1'.", {name});
    return nullptr;
}

CErrorPtr CModMultModule::process(CAudioModuleBlock& block)
{
    const std::uint32_t a = block.input(0);
    const std::uint32_t b = block.input(1);
    if (a != CAudioProcessBase::kNoInput && b == CAudioProcessBase::kNoInput)
        return block.passInput(0, 0);
    std::uint32_t out = 0;
    ZEL_TRY(block.output(0, out), "CModMultModule");
    if (a == CAudioProcessBase::kNoInput)
        return block.issue(*m_fill0, 0.0, {out});
    return block.issue(*m_kernel, 0.0, {out, a, b});
}

void CModMultDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
    info.flag<&CModMultDef::m_division>("is-division");
}

CErrorPtr CModMultDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModMult>();
    return nullptr;
}

} // namespace zel
