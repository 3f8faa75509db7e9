#pragma once
// CModFilterFIR ("audio:modFilterFIR", definition CModFilterFIRDef, per-channel instance
// CModFilterFIRModule): convolves each channel with the taps its generator designs, in the
// frequency domain, by uniformly partitioned overlap-save.
//
// Partition size B (a power of two): 2^"latency" when the definition sets "latency" (1 to 16),
// otherwise the smallest power of two holding every tap, at least 16 and at most 4096. The
// taps are cut into P = ceil(taps / B) partitions; each is zero-padded to N = 2B points and
// transformed once, at start ("DCDAW_rdftf"). The input is collected B samples at a time; each
// full frame ("DCDAW_convacquire": the new B samples, then the previous B) is transformed, the
// spectra of the last P frames are multiplied with the P partition spectra and summed
// ("DCDAW_convmult" for the first, "DCDAW_convmultadd" for the rest) and one inverse transform
// ("DCDAW_rdfti") gives B output samples: the first half of the frame is the exact linear
// convolution. The inverse transform divides by N, so the frame gain is 1.0 and the overall gain
// is the taps' own.
//
// Latency: exactly B samples, whatever the block lengths: output sample t is the convolution's
// sample t - B (the first B samples are silence). The definition reports it (CLatencyDef). The
// delay the taps themselves carry (half the length of a linear-phase filter) comes on top.
//
// The taps are designed once, at start, from the definition's request (no parameter inputs);
// a module rebuilt for another sample rate designs them again. This class computes no taps.
//
// "fixsr" (default "false"): the taps are designed at the fixed reference rate of 44100 Hz
// whatever rate the module runs at, so "freq" and "length" are fractions of the module's own
// rate rather than absolute values: the same taps at every rate. The oversampling stages use it
// (a cut-off of 10788 Hz at 44100 Hz is 0.2446 of the stage's rate at any host rate).

#include "Audio/AudioProcessTerminal.h"
#include "Audio/Processes/ModFilterDef.h"

#include <vector>

namespace zel
{

class CModFilterFIRDef;

class CModFilterFIRModule : public CAudioModuleBase
{
public:
    CErrorPtr start(CAudioProcessTerminalBase& owner, std::int32_t channel) override;
    CErrorPtr process(CAudioModuleBlock& block) override;
    void stop(CAudioProcessTerminalBase& owner) override;

    std::int32_t partitionSize() const { return m_half; }
    std::size_t partitionCount() const { return m_spectra.size(); }

private:
    CErrorPtr take(CDCDAWContextObject& ctx, std::int32_t doubles, std::uint32_t& ref);
    CErrorPtr convolveFrame(CDCDAWContextObject& ctx);

    std::int32_t m_half = 0; // B
    std::int32_t m_log2Half = 0;
    std::int32_t m_fill = 0; // samples of the current frame collected
    std::size_t m_ring = 0;  // the frame spectrum slot written next
    std::uint32_t m_setup = 0;
    std::uint32_t m_work = 0;
    std::uint32_t m_input = 0;   // B samples being collected
    std::uint32_t m_history = 0; // the previous frame's B samples
    std::uint32_t m_result = 0;  // the last inverse transform; its first half is the output
    std::vector<std::uint32_t> m_spectra; // frame spectra, a ring of P
    std::vector<std::uint32_t> m_taps;    // partition spectra
    std::vector<std::uint32_t> m_owned;   // every slot taken, for stop

    const CDCDAWKernel* m_acquire = nullptr;
    const CDCDAWKernel* m_mult = nullptr;
    const CDCDAWKernel* m_multAdd = nullptr;
    const CDCDAWKernel* m_forward = nullptr;
    const CDCDAWKernel* m_inverse = nullptr;
    const CDCDAWKernel* m_copy = nullptr;
    const CDCDAWKernel* m_fill0 = nullptr;
};

class CModFilterFIR : public CAudioProcessTerminal<CModFilterFIRModule>
{
public:
    static void registerClass(CClassInfo& info);
};

class CModFilterFIRDef : public CModFilterDefBase, public CLatencyDef
{
public:
    static constexpr std::int32_t kMinLog2 = 4;
    static constexpr std::int32_t kMaxDefaultLog2 = 12;
    static constexpr std::int32_t kMaxLog2 = 16;
    // The rate at which "fixsr" designs.
    static constexpr double kFixedRate = 44100.0;

    static void registerClass(CClassInfo& info);
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;

    // The taps at a sample rate; fails unless the generator designs a FIR filter.
    CErrorPtr designTaps(double sampleRate, CAudioFilterDesign& out) const;
    // log2 of the partition size for a tap count.
    std::int32_t partitionLog2(std::size_t tapCount) const;
    // B samples (0 when the taps cannot be designed).
    std::int32_t latencySamples(double sampleRate) const override;

    CErrorPtr onLatency(const CText& value);

    bool isFixedRate() const { return m_fixedRate; }

private:
    bool m_fixedRate = false;
    std::int32_t m_log2 = 0; // 0: follow the tap count
};

} // namespace zel
