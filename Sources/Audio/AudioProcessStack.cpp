#include "Audio/AudioProcessStack.h"

#include "Audio/AudioProcessDef.h"

#include <algorithm>
#include <string>

namespace zel
{

namespace
{
// An instance and every process inside it work for the instance's group (bypass states,
// multiband parameters read per group).
void setGroupDeep(CObject& object, std::int32_t group)
{
    if (auto* process = dynamic_cast<CAudioProcessBase*>(&object))
        process->setGroup(group);
    if (auto* replicating = dynamic_cast<CAudioProcessReplicaBase*>(&object))
        replicating->markLayoutDirty(); // its layout may read other values in this group
    for (CObject* child : object.childList())
        setGroupDeep(*child, group);
}
} // namespace

void CAudioProcessStack::registerClass(CClassInfo& info)
{
    CAudioProcessReplicaBase::registerClass(info);
}

CErrorPtr CAudioProcessStack::initFromDef(const CAudioProcessDefBase& def,
                                          std::shared_ptr<const CAudioProcessSetup> setup,
                                          const CText& instancePath)
{
    if (dynamic_cast<const CAudioProcessDef*>(&def) == nullptr)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcessStack_init_InvalidDef",
                         "Audio process def of invalid class supplied.");
    ZEL_TRY(initCommon(def, std::move(setup), instancePath), fullName().toUtf8());
    if (!def.stackParam().empty() && this->setup().collector != nullptr)
    {
        ZEL_TRY(bindInput(m_sizeInput, def.stackParam()), fullName().toUtf8());
        m_sizeInput.structural = true;
        m_sizeInput.lastRounded = m_sizeInput.roundedValue(0);
    }
    markLayoutDirty();
    return nullptr;
}

std::int32_t CAudioProcessStack::wantedReplicas() const
{
    if (!m_sizeInput.isBound())
        return 1;
    const std::int64_t size = m_sizeInput.roundedValue(0);
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(size, 1, kMaxInstances));
}

CErrorPtr CAudioProcessStack::buildReplica(CAudioProcessReplica& slot)
{
    const std::int32_t group = slot.index() + definition()->stackIndexShift();
    std::shared_ptr<const CAudioProcessSetup> own = sharedSetup();
    if (definition()->isChannelStack())
    {
        // An instance of a channel stack carries only its group's channels: the others never
        // reach it, and running (and keeping state for) every channel in every instance would
        // multiply the work and the buffers by the number of groups.
        auto narrowed = std::make_shared<CAudioProcessSetup>(setup());
        std::int32_t members = 0;
        for (std::int32_t c = 0; c < channelCount(); ++c)
            members += setup().groupOf(c) == group ? 1 : 0;
        narrowed->channelCount = std::max(1, members);
        narrowed->channelGroups.assign(static_cast<std::size_t>(narrowed->channelCount), group);
        own = std::move(narrowed);
    }
    CAudioProcessBase* made = nullptr;
    ZEL_TRY(slot.addStage(*definition(), "instance", std::move(own),
                          instancePath() + CText(".") + CText(std::to_string(slot.index())), true,
                          made),
            fullName().toUtf8());
    setGroupDeep(*made, group);
    return nullptr;
}

std::int32_t CAudioProcessStack::instanceFor(std::int32_t channel) const
{
    if (!definition()->isChannelStack())
        return -1;
    const std::int32_t index = setup().groupOf(channel) - definition()->stackIndexShift();
    return index >= 0 && index < instanceCount() ? index : -1;
}

std::int32_t CAudioProcessStack::memberOf(std::int32_t channel) const
{
    const std::int32_t group = setup().groupOf(channel);
    std::int32_t member = 0;
    for (std::int32_t c = 0; c < channel; ++c)
        member += setup().groupOf(c) == group ? 1 : 0;
    return member;
}

void CAudioProcessStack::wire()
{
    const bool byChannel = definition()->isChannelStack();
    for (std::int32_t c = 0; c < channelCount(); ++c)
    {
        CAudioOutputChannel* at = &sourceChannel(c);
        if (byChannel)
        {
            const std::int32_t index = instanceFor(c);
            if (index >= 0)
                at = &chain(*at, replica(index), memberOf(c));
        }
        else
            for (std::int32_t i = 0; i < instanceCount(); ++i)
                at = &chain(*at, replica(i), c);
        link(*at, sinkChannel(c));
    }
}

CErrorPtr CAudioProcessStack::applyParamChanges(std::int64_t position)
{
    while (CAudioParamChange* change = takeDueChange(position))
    {
        if (m_sizeInput.apply(*change))
        {
            const std::int64_t rounded = m_sizeInput.roundedValue(0);
            if (rounded != m_sizeInput.lastRounded)
            {
                m_sizeInput.lastRounded = rounded;
                markInputsChanged();
                markLayoutDirty();
            }
        }
        change->release();
    }
    return nullptr;
}

} // namespace zel
