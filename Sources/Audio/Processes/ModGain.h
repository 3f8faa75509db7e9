#pragma once
// CModGain ("audio:modGain", definition CModGainDef): a per-channel gain with mute and polarity.
// CModGainModule binds three parameter inputs, in this order: "gain" (a linear factor g, 1 when
// unbound), "mute" and "phaseinvert" (switches, on from 0.5). The output is
//   - anti-denormal noise (+-1e-11) while muted, from a seed of the process-wide counter taken
//     when muting starts and released when it ends;
//   - otherwise the input times g (or -g with the polarity switch on), and the input itself,
//     with no kernel at all, when that factor is 1 within the double epsilon.
// Every change of the output's source or factor is crossfaded over "xfade-length". The
// module does not smooth gain changes in any other way.

#include "Audio/AudioProcessDef.h"
#include "Audio/AudioProcessTerminal.h"
#include "Audio/Processes/ModSwitchedOutput.h"

namespace zel
{

class CModGainModule : public CAudioModuleBase
{
public:
    static constexpr std::int32_t kGainInput = 0;
    static constexpr std::int32_t kMuteInput = 1;
    static constexpr std::int32_t kPhaseInvertInput = 2;

    CErrorPtr start(CAudioProcessTerminalBase& owner, std::int32_t channel) override;
    CErrorPtr update(CAudioProcessTerminalBase& owner) override;
    CErrorPtr process(CAudioModuleBlock& block) override;
    void stop(CAudioProcessTerminalBase& owner) override;
    // A run nobody reads is skipped unless it would advance a blend or a noise seed.
    bool isIdleWhenUnread() const override { return m_output.isStateless(); }

    const CModSwitchedOutput& output() const { return m_output; }

private:
    CModSwitchedOutput::CSource sourceFor(const CAudioProcessTerminalBase& owner) const;

    std::int32_t m_channel = 0;
    CModSwitchedOutput m_output;
};

class CModGain : public CAudioProcessTerminal<CModGainModule>
{
};

class CModGainDef : public CAudioProcessDefBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;
};

} // namespace zel
