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
//   k = 1: every output is L; otherwise output c = (ec - L)(1 - k) + L.
// Comparisons with 0 and 1 use the double epsilon. Changes of the inputs apply from the next
// block on without a crossfade: the level signal feeds detectors that smooth it anyway.
// A channel whose input is not connected gets no output.

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

private:
    struct CGroup
    {
        std::vector<std::int32_t> channels;
        bool minimum = false;
        double blend = 0.0; // b
        double link = 0.0;  // 1 - k
    };
    struct CKernels
    {
        const CDCDAWKernel* reduce[5] = {}; // by input count, 2 to 4
        const CDCDAWKernel* scaled[4] = {}; // sum times x by input count, 2 and 3 (add only)
    };

    CErrorPtr processGroup(CAudioModuleBlock& block, const CGroup& group);
    // Reduces m_inputs into dst (or gives the single input itself); average scales by 1/N.
    CErrorPtr reduce(CAudioModuleBlock& block, const CKernels& kernels, bool average,
                     std::uint32_t dst, std::uint32_t& result) const;

    std::vector<CGroup> m_groups;
    std::vector<std::uint32_t> m_inputs;   // connected inputs of the group being processed
    std::vector<std::int32_t> m_connected; // their channels
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
