#pragma once
// CModBypass ("audio:modBypass", definition CModBypassDef): the per-channel bypass and group solo
// switch at the end of a processing chain. Input port 0 carries the processed signal, input
// port 1 the unprocessed one. CModBypassModule binds two parameter inputs, in this order:
// "enable" (the bypass switch) and "group-solo" (one solo switch per channel group). Per
// channel the output is:
//   - anti-denormal noise (+-1e-11) when some group is soloed and the channel's group is not;
//   - else, with bypass enabled, input port 1 (port 0 when port 1 is not connected);
//   - else input port 0.
// Silencing wins over bypass. Inputs are passed on by reference; every switch is crossfaded
// over "xfade-length".

#include "Audio/AudioProcessDef.h"
#include "Audio/AudioProcessTerminal.h"
#include "Audio/Processes/ModSwitchedOutput.h"

namespace zel
{

class CModBypassModule : public CAudioModuleBase
{
public:
    static constexpr std::int32_t kEnableInput = 0;
    static constexpr std::int32_t kGroupSoloInput = 1;

    CErrorPtr start(CAudioProcessTerminalBase& owner, std::int32_t channel) override;
    CErrorPtr update(CAudioProcessTerminalBase& owner) override;
    CErrorPtr process(CAudioModuleBlock& block) override;
    void stop(CAudioProcessTerminalBase& owner) override;

    const CModSwitchedOutput& output() const { return m_output; }

private:
    CModSwitchedOutput::CSource sourceFor(const CAudioProcessTerminalBase& owner) const;

    std::int32_t m_channel = 0;
    CModSwitchedOutput m_output;
};

class CModBypass : public CAudioProcessTerminal<CModBypassModule>
{
};

class CModBypassDef : public CAudioProcessDefBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;
};

} // namespace zel
