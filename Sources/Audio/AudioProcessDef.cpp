#include "Audio/AudioProcessDef.h"

#include "Audio/AudioProcess.h"
#include "Audio/AudioProcessLinkDef.h"
#include "Audio/AudioProcessMB.h"
#include "Core/Numbers.h"

#include <algorithm>

namespace zel
{

std::vector<CObject*> childrenInDeclarationOrder(const CObject& parent)
{
    std::vector<CObject*> children = parent.childList();
    // Serial numbers grow with every object made, so they give the creation order.
    std::sort(children.begin(), children.end(),
              [](const CObject* a, const CObject* b) { return a->serial() < b->serial(); });
    return children;
}

void CAudioProcessDefBase::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
    using C = CAudioProcessDefBase;
    info.attribute<&C::onSmoothUpdate>("is-smooth-update");
    info.attribute<&C::onSmoothUpdateParams>("smooth-update-params");
    info.attribute<&C::onMultiband>("is-multiband");
    info.attribute<&C::onMultibandFreqParam>("multiband-freq-param");
    info.attribute<&C::onMultibandCountParam>("multiband-count-param");
    info.attribute<&C::onMultibandPre>("multiband-pre");
    info.attribute<&C::onMultibandLP>("multiband-lp");
    info.attribute<&C::onMultibandHP>("multiband-hp");
    info.attribute<&C::onStacked>("is-stacked");
    info.attribute<&C::onStackParam>("stack-param");
    info.attribute<&C::onStackIndexShift>("stack-index-shift");
    info.attribute<&C::onChannelStack>("is-channel-stack");
    info.attribute<&C::onTerminalWhole>("is-terminal-whole");
    info.attribute<&C::onPrototype>("is-prototype");
    info.attribute<&C::onOutOfOrder>("is-outoforder");
    info.attribute<&C::onGroup0>("is-group0");
    info.attribute<&C::onElement0>("is-element0");
    info.attribute<&C::onBypassStateId>("bypass-state-id");
    info.attribute<&C::onAllParamGroups>("use-all-param-groups");
    info.attribute<&C::onAllParamElements>("use-all-param-elements");
    info.attribute<&C::onTimeShift>("use-time-shift");
    info.attribute<&C::onWeightedInput>("is-weighted-input");
}

CErrorPtr CAudioProcessDefBase::parseFlag(const CText& value, bool& out) const
{
    bool flag = false;
    if (!value.empty() && !parseBoolean(value, flag))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcessDefBase_parseFlag",
                         "Invalid boolean value '%1'.", {value.toUtf8()});
    out = flag;
    return nullptr;
}

CErrorPtr CAudioProcessDefBase::onSmoothUpdate(const CText& value)
{
    return parseFlag(value, m_smoothUpdate);
}
CErrorPtr CAudioProcessDefBase::onSmoothUpdateParams(const CText& value)
{
    m_smoothUpdateParams = value;
    return nullptr;
}
CErrorPtr CAudioProcessDefBase::onMultiband(const CText& value)
{
    return parseFlag(value, m_multiband);
}
CErrorPtr CAudioProcessDefBase::onMultibandFreqParam(const CText& value)
{
    m_multibandFreqParam = value;
    return nullptr;
}
CErrorPtr CAudioProcessDefBase::onMultibandCountParam(const CText& value)
{
    m_multibandCountParam = value;
    return nullptr;
}
CErrorPtr CAudioProcessDefBase::onMultibandPre(const CText& value)
{
    m_multibandPre = value;
    return nullptr;
}
CErrorPtr CAudioProcessDefBase::onMultibandLP(const CText& value)
{
    m_multibandLP = value;
    return nullptr;
}
CErrorPtr CAudioProcessDefBase::onMultibandHP(const CText& value)
{
    m_multibandHP = value;
    return nullptr;
}
CErrorPtr CAudioProcessDefBase::onStacked(const CText& value)
{
    return parseFlag(value, m_stacked);
}
CErrorPtr CAudioProcessDefBase::onStackParam(const CText& value)
{
    m_stackParam = value;
    return nullptr;
}
CErrorPtr CAudioProcessDefBase::onStackIndexShift(const CText& value)
{
    std::int32_t shift = 0;
    if (!parseInteger32(value, shift))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcessDefBase_init_StackIndexShift",
                         "Invalid stack index shift value '%1' specified.", {value.toUtf8()});
    m_stackIndexShift = shift;
    return nullptr;
}
CErrorPtr CAudioProcessDefBase::onChannelStack(const CText& value)
{
    return parseFlag(value, m_channelStack);
}
CErrorPtr CAudioProcessDefBase::onTerminalWhole(const CText& value)
{
    return parseFlag(value, m_terminalWhole);
}
CErrorPtr CAudioProcessDefBase::onPrototype(const CText& value)
{
    return parseFlag(value, m_prototype);
}
CErrorPtr CAudioProcessDefBase::onOutOfOrder(const CText& value)
{
    return parseFlag(value, m_outOfOrder);
}
CErrorPtr CAudioProcessDefBase::onGroup0(const CText& value)
{
    return parseFlag(value, m_group0);
}
CErrorPtr CAudioProcessDefBase::onElement0(const CText& value)
{
    return parseFlag(value, m_element0);
}
CErrorPtr CAudioProcessDefBase::onBypassStateId(const CText& value)
{
    std::int32_t id = -1;
    if (!parseInteger32(value, id))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcessDefBase_init_StateId",
                         "Invalid state identifier '%1' specified.", {value.toUtf8()});
    m_bypassStateId = id;
    return nullptr;
}
CErrorPtr CAudioProcessDefBase::onAllParamGroups(const CText& value)
{
    return parseFlag(value, m_allParamGroups);
}
CErrorPtr CAudioProcessDefBase::onAllParamElements(const CText& value)
{
    return parseFlag(value, m_allParamElements);
}
CErrorPtr CAudioProcessDefBase::onTimeShift(const CText& value)
{
    return parseFlag(value, m_timeShift);
}
CErrorPtr CAudioProcessDefBase::onWeightedInput(const CText& value)
{
    return parseFlag(value, m_weightedInput);
}

// ---- CAudioProcessDef ----

void CAudioProcessDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
    info.attribute<&CAudioProcessDef::onAutoLinks>("is-auto-links");
}

CErrorPtr CAudioProcessDef::onAutoLinks(const CText& value)
{
    return parseFlag(value, m_autoLinks);
}

std::vector<CAudioProcessDefBase*> CAudioProcessDef::processDefs() const
{
    std::vector<CAudioProcessDefBase*> defs;
    for (CObject* child : childrenInDeclarationOrder(*this))
        if (auto* def = dynamic_cast<CAudioProcessDefBase*>(child))
            defs.push_back(def);
    return defs;
}

CErrorPtr CAudioProcessDef::initChilds()
{
    ZEL_TRY(CAudioProcessDefBase::initChilds(), fullName().toUtf8());
    for (CObject* child : childrenInDeclarationOrder(*this))
    {
        const auto* link = dynamic_cast<const CAudioProcessLinkDef*>(child);
        if (link == nullptr)
            continue;
        const auto names = [&](const CText& name)
        { return dynamic_cast<CAudioProcessDefBase*>(findChild(name)) != nullptr; };
        if (!link->srcIsOwn() && !names(link->srcName()))
            return ZEL_ERROR(link->fullName().toUtf8(), "zelstr_CAudioProcessLinkDef_init_SrcProc",
                             "Invalid process in the 'src' attribute value '%1' specified.",
                             {link->srcText().toUtf8()});
        if (!link->dstIsOwn() && !names(link->dstName()))
            return ZEL_ERROR(link->fullName().toUtf8(), "zelstr_CAudioProcessLinkDef_init_DstProc",
                             "Invalid process in the 'dst' attribute value '%1' specified.",
                             {link->dstText().toUtf8()});
    }
    return nullptr;
}

CErrorPtr CAudioProcessDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    // A plain container, or the multiband or stacked process its flags ask for.
    return makeContainerProcess(*this, process);
}

} // namespace zel
