#include "Audio/AudioParamBinding.h"

#include "Audio/AudioParamDef.h"
#include "Core/Numbers.h"

namespace zel
{

void CAudioParamBindingDef::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
    info.attribute<&CAudioParamBindingDef::onParamName>("param-name");
}

CErrorPtr CAudioParamBindingDef::onParamName(const CText& value)
{
    m_paramName = value;
    return nullptr;
}

CErrorPtr CAudioParamBindingDef::init()
{
    ZEL_TRY(CObject::init(), fullName().toUtf8());
    if (m_paramName.empty())
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioParamBindingDef_init_InvalidName",
                         "Invalid parameter name specified.");
    return nullptr;
}

CAudioParamDef* CAudioParamBindingDef::findParamDef() const
{
    if (m_paramName.empty())
        return nullptr;
    const bool absolute = m_paramName.startsWith("/") || m_paramName.startsWith("shared::");
    if (absolute || parent() == nullptr)
        return dynamic_cast<CAudioParamDef*>(findObject(m_paramName));
    // A leading "." makes the path start at the enclosing definition rather than the root.
    return dynamic_cast<CAudioParamDef*>(parent()->findObject(CText(".") + m_paramName));
}

CErrorPtr CAudioParamBindingDef::parseFlag(const CText& value, bool& out) const
{
    return detail::parseFlagAttribute(*this, value, out);
}

void CAudioParamAllocDef::registerClass(CClassInfo& info)
{
    CAudioParamBindingDef::registerClass(info);
    info.attribute<&CAudioParamAllocDef::onIndex>("index");
    info.attribute<&CAudioParamAllocDef::onUseAllGroups>("use-all-groups");
    info.attribute<&CAudioParamAllocDef::onUseAllElements>("use-all-elements");
}

CErrorPtr CAudioParamAllocDef::onIndex(const CText& value)
{
    std::int32_t index = 0;
    if (!parseInteger32(value, index))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioParamAllocDef_onIndex",
                         "Invalid parameter index '%1'.", {value.toUtf8()});
    m_index = index;
    return nullptr;
}

CErrorPtr CAudioParamAllocDef::onUseAllGroups(const CText& value)
{
    return parseFlag(value, m_useAllGroups);
}

CErrorPtr CAudioParamAllocDef::onUseAllElements(const CText& value)
{
    return parseFlag(value, m_useAllElements);
}

void CAudioParamScopeDef::registerClass(CClassInfo& info)
{
    CAudioParamBindingDef::registerClass(info);
    info.attribute<&CAudioParamScopeDef::onIsGroup0>("is-group0");
    info.attribute<&CAudioParamScopeDef::onIsElement0>("is-element0");
}

CErrorPtr CAudioParamScopeDef::onIsGroup0(const CText& value)
{
    return parseFlag(value, m_isGroup0);
}

CErrorPtr CAudioParamScopeDef::onIsElement0(const CText& value)
{
    return parseFlag(value, m_isElement0);
}

void CAudioParamRemapDef::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
    info.attribute<&CAudioParamRemapDef::onOrig>("orig");
    info.attribute<&CAudioParamRemapDef::onNew>("new");
}

CErrorPtr CAudioParamRemapDef::onOrig(const CText& value)
{
    m_orig = value;
    return nullptr;
}

CErrorPtr CAudioParamRemapDef::onNew(const CText& value)
{
    m_new = value;
    return nullptr;
}

} // namespace zel
