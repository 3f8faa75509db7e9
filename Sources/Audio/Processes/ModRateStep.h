#pragma once
// CModRateStep: the common run of the factor-2 steps of the resampling stages
// (CModInterpolator, CModDecimator). Per channel it reads input port 0, takes a buffer for the
// step's output, lets the step issue its kernel (or fills silence when nothing is connected,
// for the sub-block length given to process), and queues the result on output port 0.
//
// An up step turns n input samples into 2n and its position counts output samples; a down step
// consumes input in pairs (an odd sample left over waits for the next run), gives n / 2 and its
// position counts input samples. Either way the position advances by the longer side, the one
// at the high rate that the process's setup carries.
//
// It is a connection-point process (CAudioProcessBase), not a terminal module: a terminal
// queues as many samples as it reads.

#include "Audio/AudioProcessBase.h"

namespace zel
{

struct CDCDAWKernel;

class CModRateStep : public CAudioProcessBase
{
public:
    static void registerClass(CClassInfo& info);
    // Base initialisation, the two ports and the silence kernel.
    CErrorPtr initFromDef(const CAudioProcessDefBase& def,
                          std::shared_ptr<const CAudioProcessSetup> setup,
                          const CText& instancePath) override;
    // length: the input side's sub-block length when nothing is connected.
    CErrorPtr process(std::int32_t length) final;

protected:
    explicit CModRateStep(bool up) : m_up(up) {}
    // Issues the step's kernel from inputLength samples at in into out.
    virtual CErrorPtr issueStep(CDCDAWContextObject& ctx, std::int32_t inputLength,
                                std::uint32_t out, std::uint32_t in) = 0;
    bool hasSilenceKernel() const { return m_fill0 != nullptr; }

private:
    // Joins every one-sample front segment of the input with the segment behind it; joined is
    // false when one of them has nothing behind it yet.
    CErrorPtr joinOddFronts(bool& joined);

    const CDCDAWKernel* m_fill0 = nullptr;
    bool m_up;
};

} // namespace zel
