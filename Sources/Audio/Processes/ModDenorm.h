#pragma once
// CModDenorm ("audio:modDenorm", definition CModDenormDef): per channel, input port 0 plus
// anti-denormal noise of +-1e-11 ("DCDAW_denorm"), or the noise alone when the input is not
// connected. Each channel keeps its own 32-bit seed in a kernel context slot, taken at start
// from the process-wide seed counter that the muting modules share, so channels differ. No
// parameter inputs: switching the noise off is done by the description (a bypass state).

#include "Audio/AudioProcessDef.h"
#include "Audio/AudioProcessTerminal.h"

namespace zel
{

struct CDCDAWKernel;

class CModDenormModule : public CAudioModuleBase
{
public:
    CErrorPtr start(CAudioProcessTerminalBase& owner, std::int32_t channel) override;
    CErrorPtr process(CAudioModuleBlock& block) override;
    void stop(CAudioProcessTerminalBase& owner) override;

    // The seed the channel started from.
    std::uint32_t firstSeed() const { return m_firstSeed; }

private:
    const CDCDAWKernel* m_denorm = nullptr;
    const CDCDAWKernel* m_noise = nullptr;
    std::uint32_t m_seedRef = 0;
    bool m_hasSeed = false;
    std::uint32_t m_firstSeed = 0;
};

class CModDenorm : public CAudioProcessTerminal<CModDenormModule>
{
};

class CModDenormDef : public CAudioProcessDefBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;
};

} // namespace zel
