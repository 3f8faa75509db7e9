#include "Audio/Processes/ModGain.h"

#include "Audio/DCDAWContext.h"

namespace zel
{

CModSwitchedOutput::CSource CModGainModule::sourceFor(const CAudioProcessTerminalBase& owner) const
{
    using EKind = CModSwitchedOutput::EKind;
    if (isOn(owner.paramValue(kMuteInput, m_channel, 0.0)))
        return {EKind::kNoise, 0, 0.0};
    double gain = owner.paramValue(kGainInput, m_channel, 1.0);
    if (isOn(owner.paramValue(kPhaseInvertInput, m_channel, 0.0)))
        gain = -gain;
    if (isOne(gain))
        return {EKind::kInput, 0, 1.0};
    return {EKind::kScaled, 0, gain};
}

CErrorPtr CModGainModule::start(CAudioProcessTerminalBase& owner, std::int32_t channel)
{
    ZEL_TRY(requirePerChannel(owner, channel), "CModGainModule");
    m_channel = channel;
    ZEL_TRY(m_output.start(owner.context(), sourceFor(owner),
                           CAudioCrossfade::lengthOf(*owner.definition()), owner.sampleRate()),
            "CModGainModule");
    return nullptr;
}

CErrorPtr CModGainModule::update(CAudioProcessTerminalBase& owner)
{
    ZEL_TRY(m_output.change(owner.context(), sourceFor(owner)), "CModGainModule");
    return nullptr;
}

CErrorPtr CModGainModule::process(CAudioModuleBlock& block)
{
    return m_output.process(block);
}

void CModGainModule::stop(CAudioProcessTerminalBase& owner)
{
    m_output.stop(owner.context());
}

void CModGainDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
}

CErrorPtr CModGainDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModGain>();
    return nullptr;
}

} // namespace zel
