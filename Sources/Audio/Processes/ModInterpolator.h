#pragma once
// CModInterpolator ("audio:modInterpolator", definition CModInterpolatorDef): the factor-2 step
// of an up-sampling stage. Every input sample becomes two output samples, the sample times 2
// followed by a zero ("DCDAW_interp2"); the stage's half-band filter that follows removes the
// image, and the gain of 2 restores the level that the zeros take away. It filters nothing
// itself and adds no latency.
//
// Its output runs at twice its input's rate: the process belongs to the output side (its setup
// carries the doubled rate) and its position counts output samples. Input port 0 to output
// port 0, per channel; nothing connected gives silence of twice the sub-block length.
//
// The run itself is CModRateStep's.

#include "Audio/AudioProcessDef.h"
#include "Audio/Processes/ModRateStep.h"

namespace zel
{

struct CDCDAWKernel;

class CModInterpolator : public CModRateStep
{
public:
    static void registerClass(CClassInfo& info);
    CModInterpolator() : CModRateStep(true) {}
    CErrorPtr initFromDef(const CAudioProcessDefBase& def,
                          std::shared_ptr<const CAudioProcessSetup> setup,
                          const CText& instancePath) override;

protected:
    CErrorPtr issueStep(CDCDAWContextObject& ctx, std::int32_t inputLength, std::uint32_t out,
                        std::uint32_t in) override;

private:
    const CDCDAWKernel* m_interp = nullptr;
};

class CModInterpolatorDef : public CAudioProcessDefBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;
};

} // namespace zel
