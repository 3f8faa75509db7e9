#pragma once
// CModDecimator ("audio:modDecimator", definition CModDecimatorDef): the factor-2 step of a
// down-sampling stage. It keeps every second sample of its input, the even ones
// ("DCDAW_decim2") or, with the odd phase, the odd ones ("DCDAW_decim2s"); the stage's
// half-band filter ahead of it has removed what would alias. It filters nothing itself.
//
// Phase: a down-sampler picks the odd phase for a stage when the round trip through that
// stage (up filter, everything inside, down filter) delays by an odd number of samples at the
// stage's high rate; keeping the odd samples then puts the response's centre on a whole sample
// of the low rate, and the round trip's latency there is (delay - 1) / 2 instead of a
// fractional delay / 2.
//
// Its input runs at twice its output's rate: the process belongs to the input side (its setup
// carries the doubled rate) and its position counts input samples. It consumes input in pairs;
// an odd sample left over waits for the next run. Nothing connected gives silence of half the
// sub-block length. The run itself is CModRateStep's.

#include "Audio/AudioProcessDef.h"
#include "Audio/Processes/ModRateStep.h"

namespace zel
{

struct CDCDAWKernel;

class CModDecimator : public CModRateStep
{
public:
    static void registerClass(CClassInfo& info);
    CModDecimator() : CModRateStep(false) {}
    CErrorPtr initFromDef(const CAudioProcessDefBase& def,
                          std::shared_ptr<const CAudioProcessSetup> setup,
                          const CText& instancePath) override;

    bool isOddPhase() const { return m_odd; }
    void setOddPhase(bool odd) { m_odd = odd; }

protected:
    CErrorPtr issueStep(CDCDAWContextObject& ctx, std::int32_t inputLength, std::uint32_t out,
                        std::uint32_t in) override;

private:
    const CDCDAWKernel* m_even = nullptr;
    const CDCDAWKernel* m_oddKernel = nullptr;
    bool m_odd = false;
};

class CModDecimatorDef : public CAudioProcessDefBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;
};

} // namespace zel
