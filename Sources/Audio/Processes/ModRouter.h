#pragma once
// CModRouter ("audio:modRouter", definition CModRouterDef, module CModRouterModule): routing of
// channels and the assignment of channels to channel groups. Parameter inputs (binding
// indices), one element per channel, read from group 0:
//   0 "routing"   1-based channel numbers, 0 (or a channel the process does not have) for
//                 none. Input router: element d names the source of destination channel d.
//                 Output router ("is-output" on the definition): element s names the
//                 destination of source channel s. Unbound: every channel to itself.
//   1 "grouping"  the channel group (0 to 7) of each channel; channelGroups() turns it into
//                 the group list of the instance's channels.
// Each destination is formed from the sources routed to it: none gives silence
// ("DCDAW_fill0"), one a copy ("DCDAW_mulc", factor 1; a channel routed to itself passes by
// reference), two or three their mean ("DCDAW_add2mul" / "DCDAW_add3mul" with 1/k), more the
// sum of all scaled by 1/k. A routing change is structural and blended over "xfade-length".
//
// One module instance drives all channels of the process (the first one).

#include "Audio/AudioProcessDef.h"
#include "Audio/AudioProcessTerminal.h"
#include "Audio/Processes/ModChannelFade.h"

#include <array>
#include <vector>

namespace zel
{

class CModRouterModule : public CAudioModuleBase
{
public:
    static constexpr std::int32_t kMaxChannels = 64;
    enum EInput : std::int32_t
    {
        kRouting = 0,
        kGrouping = 1,
    };

    CErrorPtr start(CAudioProcessTerminalBase& owner, std::int32_t channel) override;
    CErrorPtr update(CAudioProcessTerminalBase& owner) override;
    CErrorPtr process(CAudioModuleBlock& block) override;
    void stop(CAudioProcessTerminalBase& owner) override;

    struct CConfig
    {
        // 0-based channel per channel, -1 for none (sources or destinations, see above).
        std::array<std::int32_t, kMaxChannels> routes{};
        bool operator==(const CConfig& other) const = default;
    };
    const CConfig& config() const { return m_config; }
    bool isFading() const { return m_fade.isRunning(); }

private:
    CConfig read(const CAudioProcessTerminalBase& owner) const;
    CErrorPtr render(CModChannelSink& sink, const CConfig& config) const;

    bool m_active = false;
    bool m_output = false;
    double m_fadeLength = 0.0;
    CConfig m_config;
    CConfig m_previous;
    CModChannelFade m_fade;
    const CDCDAWKernel* m_fill0 = nullptr;
    const CDCDAWKernel* m_mulc = nullptr;
    const CDCDAWKernel* m_mulci = nullptr;
    const CDCDAWKernel* m_add2mul = nullptr;
    const CDCDAWKernel* m_add3mul = nullptr;
    const CDCDAWKernel* m_add2i = nullptr;
};

class CModRouter : public CAudioProcessTerminal<CModRouterModule>
{
public:
    static constexpr std::int32_t kMaxGroup = 7;
    static void registerClass(CClassInfo& info);

    // The channel group of each of the process's channels from "grouping" (clamped to 0 to 7;
    // 0 when unbound or missing), and the number of groups (highest group + 1).
    std::int32_t channelGroups(std::vector<std::int32_t>& groups) const;
};

class CModRouterDef : public CAudioProcessDefBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;

    bool isOutput() const { return m_output; }

private:
    bool m_output = false;
};

} // namespace zel
