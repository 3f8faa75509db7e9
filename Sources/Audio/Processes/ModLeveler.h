#pragma once
// CModLeveler ("audio:modLeveler", definition CModLevelerDef): channel linking of level
// signals. One module instance links the channels of one channel group: with
// "is-terminal-whole" the single instance handles every group; otherwise the instance of a
// group's first channel handles the group and the others stay idle. CModLevelerModule binds
// three parameter inputs, in this order (read in the group's values):
//   "mode"    0 Maximum, a value that rounds to non-zero Minimum;
//   "mix"     fraction b: blend from the extreme M (0) to the average A (1);
//   "linking" fraction k (1 when unbound), kept as 1 - k.
// Per block, for the N connected level inputs e1 .. eN of a group:
//   k = 0 (or N = 1): every output is its input, passed on by reference with no kernel;
//   M (needed unless b = 1): max/min kernels over groups of four, the gathered four reduced
//     into one buffer whenever a fifth arrives;
//   A (needed unless b = 0): the same grouping with add kernels, the last step fused with the
//     scale 1/N (mulc, add2mul, add3mul; four left: add4 then mulci);
//   L = (A - M) b + M ("DCDAW_mix"), or whichever of A and M is needed;
//   k = 1: every output is L (one buffer, shared by the outputs); otherwise output c = (ec - L)(1 -
//   k) + L.
// Comparisons with 0 and 1 use the double epsilon. A change of the settings is crossfaded per
// channel over "xfade-length": while the blend runs, the group is linked with both the previous
// and the current settings. A channel whose input is not connected gets no output.

#include "Audio/AudioCrossfade.h"
#include "Audio/AudioProcessDef.h"
#include "Audio/AudioProcessTerminal.h"

#include <vector>

namespace zel
{

struct CDCDAWKernel;

class CModLevelerModule : public CAudioModuleBase
{
public:
    static constexpr std::int32_t kModeInput = 0;
    static constexpr std::int32_t kMixInput = 1;
    static constexpr std::int32_t kLinkingInput = 2;

    CErrorPtr start(CAudioProcessTerminalBase& owner, std::int32_t channel) override;
    CErrorPtr update(CAudioProcessTerminalBase& owner) override;
    CErrorPtr process(CAudioModuleBlock& block) override;
    void stop(CAudioProcessTerminalBase& owner) override;

private:
    struct CSettings
    {
        bool minimum = false;
        double blend = 0.0; // b
        double link = 0.0;  // 1 - k
        bool operator==(const CSettings& other) const;
    };
    struct CGroup
    {
        std::vector<std::int32_t> channels;
        CSettings current;
        CSettings previous;                 // while fading
        std::vector<CAudioCrossfade> fades; // per channel of the group
        bool fading = false;
    };
    struct CKernels
    {
        const CDCDAWKernel* reduce[5] = {}; // by input count, 2 to 4
        const CDCDAWKernel* scaled[4] = {}; // sum times x by input count, 2 and 3 (add only)
    };

    static CSettings settingsOf(const CAudioProcessTerminalBase& owner, const CGroup& group);
    // Outputs equal inputs: nothing to link, or a single connected input.
    bool isIdentity(const CSettings& settings) const;
    CErrorPtr processGroup(CAudioModuleBlock& block, CGroup& group);
    // Links m_inputs with settings into dst (one buffer per connected input); results gets dst
    // or, for an identity, the inputs themselves.
    CErrorPtr render(CAudioModuleBlock& block, const CSettings& settings,
                     const std::vector<std::uint32_t>& dst,
                     std::vector<std::uint32_t>& results) const;
    // The linked level L of m_inputs (the extreme, the average or their mix), computed into
    // buffers taken from the two scratch holders as needed.
    template <class Scratch>
    CErrorPtr linkedLevel(CAudioModuleBlock& block, const CSettings& settings,
                          Scratch& extremeBuffer, Scratch& averageBuffer,
                          std::uint32_t& level) const;
    // Reduces m_inputs into dst (or gives the single input itself); average scales by 1/N.
    CErrorPtr reduce(CAudioModuleBlock& block, const CKernels& kernels, bool average,
                     std::uint32_t dst, std::uint32_t& result) const;

    std::vector<CGroup> m_groups;
    double m_fadeSeconds = CAudioCrossfade::kMinLength;
    // Per connected input of the group being processed.
    std::vector<std::uint32_t> m_inputs;
    std::vector<std::size_t> m_connected; // index in the group's channel list
    std::vector<std::uint32_t> m_outputs;
    std::vector<std::uint32_t> m_results;
    std::vector<std::uint32_t> m_oldResults;
    std::vector<std::uint32_t> m_scratch;
    CKernels m_max, m_min, m_add;
    const CDCDAWKernel* m_mulc = nullptr;
    const CDCDAWKernel* m_mulci = nullptr;
    const CDCDAWKernel* m_mix = nullptr;
    const CDCDAWKernel* m_copy = nullptr;
};

class CModLeveler : public CAudioProcessTerminal<CModLevelerModule>
{
};

class CModLevelerDef : public CAudioProcessDefBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;
};

} // namespace zel
