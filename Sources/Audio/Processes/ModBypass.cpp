#include "Audio/Processes/ModBypass.h"

#include "Audio/DCDAWContext.h"

namespace zel
{

CModSwitchedOutput::CSource
CModBypassModule::sourceFor(const CAudioProcessTerminalBase& owner) const
{
    using EKind = CModSwitchedOutput::EKind;
    const CAudioParamInput& solo = owner.paramInput(kGroupSoloInput);
    const std::int32_t ownGroup = owner.setup().groupOf(m_channel);
    bool anySolo = false;
    bool ownSolo = false;
    if (solo.isBound())
    {
        for (std::int32_t group = 0; group < solo.groupCount(); ++group)
        {
            const bool on = isOn(solo.value(group, 0, 0, 0.0));
            anySolo = anySolo || on;
            if (group == ownGroup)
                ownSolo = on;
        }
    }
    if (anySolo && !ownSolo)
        return {EKind::kNoise, 0, 0.0};
    if (isOn(owner.paramValue(kEnableInput, m_channel, 0.0)))
        return {EKind::kInput, 1, 1.0};
    return {EKind::kInput, 0, 1.0};
}

CErrorPtr CModBypassModule::start(CAudioProcessTerminalBase& owner, std::int32_t channel)
{
    ZEL_TRY(requirePerChannel(owner, channel), "CModBypassModule");
    m_channel = channel;
    ZEL_TRY(m_output.start(owner.context(), sourceFor(owner),
                           CAudioCrossfade::lengthOf(*owner.definition()), owner.sampleRate()),
            "CModBypassModule");
    return nullptr;
}

CErrorPtr CModBypassModule::update(CAudioProcessTerminalBase& owner)
{
    ZEL_TRY(m_output.change(owner.context(), sourceFor(owner)), "CModBypassModule");
    return nullptr;
}

CErrorPtr CModBypassModule::process(CAudioModuleBlock& block)
{
    return m_output.process(block);
}

void CModBypassModule::stop(CAudioProcessTerminalBase& owner)
{
    m_output.stop(owner.context());
}

void CModBypassDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
}

CErrorPtr CModBypassDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModBypass>();
    return nullptr;
}

} // namespace zel
