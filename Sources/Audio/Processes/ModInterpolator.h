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
// It is a connection-point process (CAudioProcessBase), not a terminal module: a terminal
// queues as many samples as it reads.

#include "Audio/AudioProcessBase.h"
#include "Audio/AudioProcessDef.h"

namespace zel
{

struct CDCDAWKernel;

class CModInterpolator : public CAudioProcessBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr initFromDef(const CAudioProcessDefBase& def,
                          std::shared_ptr<const CAudioProcessSetup> setup,
                          const CText& instancePath) override;
    // length: the input side's sub-block length when nothing is connected.
    CErrorPtr process(std::int32_t length) override;

private:
    const CDCDAWKernel* m_interp = nullptr;
    const CDCDAWKernel* m_fill0 = nullptr;
};

class CModInterpolatorDef : public CAudioProcessDefBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;
};

} // namespace zel
