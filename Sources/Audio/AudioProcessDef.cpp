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
    info.flag<&C::m_smoothUpdate>("is-smooth-update");
    info.text<&C::m_smoothUpdateParams>("smooth-update-params");
    info.flag<&C::m_multiband>("is-multiband");
    info.text<&C::m_multibandFreqParam>("multiband-freq-param");
    info.text<&C::m_multibandCountParam>("multiband-count-param");
    info.text<&C::m_multibandPre>("multiband-pre");
    info.text<&C::m_multibandLP>("multiband-lp");
    info.text<&C::m_multibandHP>("multiband-hp");
    info.flag<&C::m_stacked>("is-stacked");
    info.text<&C::m_stackParam>("stack-param");
    info.attribute<&C::onStackIndexShift>("stack-index-shift");
    info.flag<&C::m_channelStack>("is-channel-stack");
    info.flag<&C::m_terminalWhole>("is-terminal-whole");
    info.flag<&C::m_prototype>("is-prototype");
    info.flag<&C::m_outOfOrder>("is-outoforder");
    info.flag<&C::m_group0>("is-group0");
    info.flag<&C::m_element0>("is-element0");
    info.attribute<&C::onBypassStateId>("bypass-state-id");
    info.flag<&C::m_allParamGroups>("use-all-param-groups");
    info.flag<&C::m_allParamElements>("use-all-param-elements");
    info.flag<&C::m_timeShift>("use-time-shift");
    info.flag<&C::m_weightedInput>("is-weighted-input");
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
CErrorPtr CAudioProcessDefBase::onBypassStateId(const CText& value)
{
    std::int32_t id = -1;
    if (!parseInteger32(value, id))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcessDefBase_init_StateId",
                         "Invalid state identifier '%1' specified.", {value.toUtf8()});
    m_bypassStateId = id;
    return nullptr;
}

// ---- CAudioProcessDef ----

void CAudioProcessDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
    info.flag<&CAudioProcessDef::m_autoLinks>("is-auto-links");
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
