#pragma once
// CModResampler ("audio:modResampler", definition CModResamplerDef): an up-sampler (definition
// attribute "is-upsampler") or a down-sampler, as a chain of k factor-2 stages, k = 0 to 3.
//
// Parameter inputs ("audio:param-alloc" indices):
//   0  "mode": the "Auto;1x;2x;4x;8x" index, rounded; 1 to 4 give k = index - 1 (1 when
//      unbound)
//   1  "host-mode": with "mode" 0 (Auto), k = this value rounded and kept within 0 to 3
//
// Stages: each is two child processes, a factor-2 step named "modInterpDecim" (from the
// prototype "modUpsamplerInterpolator" or "modDownsamplerDecimator") and a filter
// named "modFilter" (a process switch from the prototype "modResamplerFilterSteep" for the
// stage next to the base rate, "modResamplerFilterSoft" for every further one). The prototypes
// are looked up by name among the children of the definition's enclosing objects, nearest
// first, when the process is built (in the product they sit in "shared::audio", beside the
// main process definition). The framework keeps sibling names unique, so the stages after the
// first are named "modInterpDecim#1", "modFilter#1" and so on. Up-sampler order: from the base rate
// upwards, each stage step then filter; down-sampler: from the highest rate down, each stage
// filter then step, so the steep stage comes last. Stage j (from 0 at the base rate) runs at
// 2^(j + 1) times the resampler's rate, with blocks as many times longer. When k changes, the
// chain grows or shrinks at its high-rate end; the stages that stay keep their state.
//
// The resampler's own setup is the low rate: the up-sampler reads n samples and queues n x 2^k,
// the down-sampler reads n x 2^k (the raised rate) and queues n; positions count low-rate
// samples.
//
// Raised rate of the processes in between: the up-sampler, at connect time, collects the
// processes that its container's links lead to from it before they reach a down-sampler;
// whenever its k changes it moves them (and everything inside them) to the same setup with
// the rate factor 2^k and restarts their modules, so they compute their coefficients at the
// raised rate. The down-sampler fades its output in over "xfade-length" after a change, since
// the restarted chain begins from silence.
//
// Latency: the down-sampler reports the whole round trip (CLatencySource), assuming the up-
// sampler ahead of it has the same stages and filter choices; the up-sampler reports none.
// Per stage, D = (inner round trip, at the stage's high rate) + 2 x (the selected filter's
// delay there): a linear-phase FIR's partition latency plus half its length less one, an IIR
// half-band pair's group delay at DC. The decimator keeps the odd samples when D rounds to an
// odd number, so the inner round trip of the next stage down is (D - phase) / 2; the reported
// latency is the last of these, rounded.

#include "Audio/AudioCrossfade.h"
#include "Audio/AudioLatency.h"
#include "Audio/AudioProcessBase.h"
#include "Audio/AudioProcessDef.h"

#include <array>
#include <memory>
#include <vector>

namespace zel
{

class CModDecimator;
struct CDCDAWKernel;
class CModProcessSwitch;

class CModResamplerDef : public CAudioProcessDefBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;
    bool isUpsampler() const { return m_upsampler; }

private:
    bool m_upsampler = false;
};

class CModResampler : public CAudioProcessBase, public CLatencySource
{
public:
    static constexpr std::int32_t kMaxStages = 3;
    enum EInput : std::int32_t
    {
        kInputMode = 0,
        kInputHostMode = 1,
    };

    ~CModResampler() override;
    static void registerClass(CClassInfo& info);

    CErrorPtr initFromDef(const CAudioProcessDefBase& def,
                          std::shared_ptr<const CAudioProcessSetup> setup,
                          const CText& instancePath) override;
    void flush() override;
    CErrorPtr process(std::int32_t length) override;
    CErrorPtr connect() override;
    // Reads "mode" and "host-mode" and grows or shrinks the chain.
    CErrorPtr updateBlock() override;
    std::int64_t pendingChangePosition() const override;

    // CLatencySource: samples at this process's rate.
    std::int32_t currentLatency() const override { return m_latency; }

    bool isUpsampler() const { return m_upsampler; }
    std::int32_t stageCount() const { return static_cast<std::int32_t>(m_stages.size()); }
    // The stage count the inputs ask for now.
    std::int32_t requestedStages() const;
    // The children in processing order (2 per stage).
    const std::vector<CAudioProcessBase*>& chain() const { return m_order; }
    // The processes between this up-sampler and the down-sampler (empty for a down-sampler).
    const std::vector<CAudioProcessBase*>& between() const { return m_between; }

private:
    struct CStage
    {
        CAudioProcessBase* step = nullptr;
        CModProcessSwitch* filter = nullptr;
        // Delay of each of the filter's choices (by child index) at the stage's high rate.
        std::vector<double> delays;
    };

    CErrorPtr resize(std::int32_t count);
    CErrorPtr addStage();
    void removeStage();
    void rewire();
    void unwire();
    void wire(CAudioOutputChannel& from, CAudioInputChannel& to);
    CErrorPtr measureDelays(CStage& stage, double rate) const;
    void updateLatency();
    CErrorPtr rebaseBetween();
    std::shared_ptr<const CAudioProcessSetup> setupAt(std::int32_t factor) const;
    // A zero buffer of at least n samples.

    const CModResamplerDef* m_def = nullptr;
    bool m_upsampler = false;
    const CAudioProcessDefBase* m_stepProto = nullptr;
    const CAudioProcessDefBase* m_steepProto = nullptr;
    const CAudioProcessDefBase* m_softProto = nullptr;
    std::vector<CStage> m_stages;
    std::vector<CAudioProcessBase*> m_order;
    std::vector<CAudioProcessBase*> m_between;
    // Feeds into the first child and collects from the last.
    CAudioOutputPort m_feed;
    CAudioInputPort m_collect;
    struct CWire
    {
        std::unique_ptr<CAudioConnection> connection;
        CAudioOutputChannel* from = nullptr;
        CAudioInputChannel* to = nullptr;
    };
    std::vector<CWire> m_wires;
    std::vector<CAudioCrossfade> m_fades; // per channel: the fade-in after a change
    double m_fadeLength = 0.0;
    bool m_fading = false;
    std::int32_t m_latency = 0;
};

} // namespace zel
