#pragma once
// CModAbs ("audio:modAbs", definition CModAbsDef): per channel, the absolute value of input port
// 0 ("DCDAW_abs"); silence when the input is not connected. No parameter inputs.

#include "Audio/AudioProcessDef.h"
#include "Audio/AudioProcessTerminal.h"

namespace zel
{

struct CDCDAWKernel;

class CModAbsModule : public CAudioModuleBase
{
public:
    CErrorPtr start(CAudioProcessTerminalBase& owner, std::int32_t channel) override;
    CErrorPtr process(CAudioModuleBlock& block) override;
    // Stateless: a run nobody reads is skipped.
    bool isIdleWhenUnread() const override { return true; }

private:
    const CDCDAWKernel* m_abs = nullptr;
    const CDCDAWKernel* m_fill0 = nullptr;
};

class CModAbs : public CAudioProcessTerminal<CModAbsModule>
{
};

class CModAbsDef : public CAudioProcessDefBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;
};

} // namespace zel
