#pragma once
// CModMSCoder ("audio:modMSCoder", definition CModMSCoderDef, module CModMSCoderModule): mid/side
// encoding or decoding of the selected channel pairs. Parameter inputs (binding indices):
//   0 "pairs"   per channel group, 0 = none, 1 to 4 = the group's pair (ModMSPairs.h);
//               unbound: every group codes its first pair
//   1 "mode"    rounds to 0: encoder ("DCDAW_msenc": first channel M, second S), else decoder
//               ("DCDAW_msdec": first channel L = M + S, second R = M - S)
//   2 "bypass"  at least 0.5: every channel passes through
// Channels outside a pair, and all channels while bypassed, pass through by reference. A
// change of pairs, mode or bypass is structural: it is blended over "xfade-length".
//
// One module instance drives all channels of the process (the first one; further per-channel
// instances stay idle), since a pair spans two channels.

#include "Audio/AudioProcessDef.h"
#include "Audio/AudioProcessTerminal.h"
#include "Audio/Processes/ModChannelFade.h"
#include "Audio/Processes/ModMSPairs.h"

namespace zel
{

class CModMSCoderModule : public CAudioModuleBase
{
public:
    enum EInput : std::int32_t
    {
        kPairs = 0,
        kMode = 1,
        kBypass = 2,
    };

    CErrorPtr start(CAudioProcessTerminalBase& owner, std::int32_t channel) override;
    CErrorPtr update(CAudioProcessTerminalBase& owner) override;
    CErrorPtr process(CAudioModuleBlock& block) override;
    void stop(CAudioProcessTerminalBase& owner) override;

    struct CConfig
    {
        CModMSPairs pairs;
        bool decoder = false;
        bool bypass = false;
        bool operator==(const CConfig& other) const = default;
    };
    const CConfig& config() const { return m_config; }
    bool isFading() const { return m_fade.isRunning(); }

private:
    CConfig read(const CAudioProcessTerminalBase& owner) const;
    CErrorPtr render(CModChannelSink& sink, const CConfig& config) const;

    bool m_active = false;
    double m_fadeLength = 0.0;
    CConfig m_config;
    CConfig m_previous;
    CModChannelFade m_fade;
    const CDCDAWKernel* m_enc = nullptr;
    const CDCDAWKernel* m_dec = nullptr;
};

class CModMSCoder : public CAudioProcessTerminal<CModMSCoderModule>
{
public:
    static void registerClass(CClassInfo& info);
};

class CModMSCoderDef : public CAudioProcessDefBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;
};

} // namespace zel
