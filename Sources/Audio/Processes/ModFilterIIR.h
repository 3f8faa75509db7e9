#pragma once
// CModFilterIIR ("audio:modFilterIIR", definition CModFilterIIRDef, per-channel instance
// CModFilterIIRModule): runs the recursive filter that its generator designs, per channel.
//
// Designs it runs: biquad sections in cascade (a serial generator's items, one kernel call per
// section with the kernel that fits the section's numerator shape), or one half-band allpass
// pair ("DCDAW_flthbfK").
//
// Parameter inputs ("audio:param-alloc" indices); an unbound input leaves the design request's
// value to the definition's attribute of the same name, then to the generator:
//   0  filter type / array index (rounded half away from zero; "filter-index" when unbound)
//   1  frequency in Hz
//   2  gain as a linear factor
//   3  bandwidth (octaves, or Q where the generator says so)
//
// Changes: a new biquad design with any section count up to the cascade limit is applied in
// place through the biquad kernels' own 25 ms coefficient transition ("DCDAW_fltbiqu"); stages
// that the new design lacks move to the identity section and are skipped once they got there.
// A change of the design's kind (biquad versus half-band) or of the half-band coefficients
// has no such transition: a second filter chain starts fresh and the output crossfades to it
// over "xfade-length". When every stage is the identity and no transition runs, the module
// issues no kernel and passes its input on.
//
// This is not a generator and designs nothing itself; it owns no coefficient formulas.

#include "Audio/AudioCrossfade.h"
#include "Audio/AudioProcessTerminal.h"
#include "Audio/Processes/ModFilterDef.h"

#include <array>

namespace zel
{

class CModFilterIIRDef;

class CModFilterIIRModule : public CAudioModuleBase
{
public:
    enum EInput : std::int32_t
    {
        kInputIndex = 0,
        kInputFreq = 1,
        kInputGain = 2,
        kInputBw = 3,
    };

    CErrorPtr start(CAudioProcessTerminalBase& owner, std::int32_t channel) override;
    CErrorPtr update(CAudioProcessTerminalBase& owner) override;
    CErrorPtr process(CAudioModuleBlock& block) override;
    void stop(CAudioProcessTerminalBase& owner) override;
    // Outside a blend a run issues the chain's sections on this channel's buffers and reads
    // only section states that earlier runs left.
    bool isPairable() const override { return !m_fade.isRunning(); }

    // Inspection for tests and diagnostics.
    std::size_t sectionCount() const { return m_chain.count; }
    bool isCrossfading() const { return m_fade.isRunning(); }
    EFilterDesignKind kind() const { return m_chain.kind; }

private:
    struct CSection
    {
        std::uint32_t state = 0;
        std::array<double, 5> coeffs{1.0, 0.0, 0.0, 0.0, 0.0};
        EBiquadForm form = EBiquadForm::kCommon;
        // A coefficient set of another numerator shape is in the state (current, fading in or
        // pending): only the general kernel computes every set correctly.
        bool mixed = false;
        // Left out of the last run as a resting identity: its history is stale.
        bool skipped = false;
    };
    struct CChain
    {
        EFilterDesignKind kind = EFilterDesignKind::kNone;
        std::size_t count = 0; // biquad sections holding a state slot
        std::array<CSection, CAudioFilterDesign::kMaxSections> sections{};
        std::uint32_t halfBandState = 0;
        std::size_t halfBandOrder = 0;
        std::array<double, CAudioFilterDesign::kMaxHalfBandOrder> halfBand{};
    };

    CErrorPtr makeRequest(CAudioProcessTerminalBase& owner, CAudioFilterRequest& request) const;
    CErrorPtr loadDesign(CDCDAWContextObject& ctx, CChain& chain, const CAudioFilterDesign& design);
    CErrorPtr retuneBiquads(CDCDAWContextObject& ctx, CChain& chain,
                            const CAudioFilterDesign& design);
    CErrorPtr addSection(CDCDAWContextObject& ctx, CChain& chain, const CBiquadSection& section);
    CErrorPtr writeCoeffs(CDCDAWContextObject& ctx, const double* values, std::size_t count);
    // True when the chain changes nothing: no stage but idle identity sections.
    bool isIdentity(CDCDAWContextObject& ctx, CChain& chain) const;
    bool sectionIdle(CDCDAWContextObject& ctx, const CSection& section) const;
    // n samples of in through the chain into out (out may equal in); issued stays false when
    // the chain is the identity and nothing ran.
    CErrorPtr runChain(CDCDAWContextObject& ctx, CChain& chain, std::int32_t n, std::uint32_t out,
                       std::uint32_t in, bool& issued);
    void releaseChain(CDCDAWContextObject& ctx, CChain& chain);

    const CModFilterIIRDef* m_def = nullptr;
    std::int32_t m_channel = 0;
    double m_sampleRate = 44100.0;
    double m_fadeLength = CAudioCrossfade::kMinLength;
    CAudioFilterRequest m_request;
    CAudioFilterDesign m_design;
    std::uint32_t m_coeffs = 0; // scratch record for the initialisers and updates
    bool m_hasCoeffs = false;
    CChain m_chain;
    CChain m_oldChain;
    CAudioCrossfade m_fade;

    const CDCDAWKernel* m_biqInit = nullptr;
    const CDCDAWKernel* m_biqUpdate = nullptr;
    std::array<const CDCDAWKernel*, 5> m_biqRun{};  // by EBiquadForm
    std::array<const CDCDAWKernel*, 9> m_hbfInit{}; // by order / 2
    std::array<const CDCDAWKernel*, 9> m_hbfRun{};
    const CDCDAWKernel* m_fill0 = nullptr;
    const CDCDAWKernel* m_copy = nullptr;
};

class CModFilterIIR : public CAudioProcessTerminal<CModFilterIIRModule>
{
public:
    static void registerClass(CClassInfo& info);
};

class CModFilterIIRDef : public CModFilterDefBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;
};

} // namespace zel
