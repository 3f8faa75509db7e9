#pragma once
// CModMult ("audio:modMult", definition CModMultDef): per channel, the product of input ports 0
// and 1 ("DCDAW_mul2"), or with "is-division" set at creation their quotient 0 / 1
// ("DCDAW_div2", no guard against zero: a zero divisor gives an infinity or NaN). When port 1
// is not connected the output is port 0 unchanged; when port 0 is not connected it is silence.
// The module has no parameter inputs and nothing to crossfade.

#include "Audio/AudioProcessDef.h"
#include "Audio/AudioProcessTerminal.h"

namespace zel
{

struct CDCDAWKernel;

class CModMultModule : public CAudioModuleBase
{
public:
    CErrorPtr start(CAudioProcessTerminalBase& owner, std::int32_t channel) override;
    CErrorPtr process(CAudioModuleBlock& block) override;
    // Stateless: a run nobody reads is skipped.
    bool isIdleWhenUnread() const override { return true; }

private:
    const CDCDAWKernel* m_kernel = nullptr;
    const CDCDAWKernel* m_fill0 = nullptr;
};

class CModMult : public CAudioProcessTerminal<CModMultModule>
{
};

class CModMultDef : public CAudioProcessDefBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;

    bool isDivision() const { return m_division; }

private:
    bool m_division = false;
};

} // namespace zel
