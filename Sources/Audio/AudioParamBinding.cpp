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

void CAudioParamAllocDef::registerClass(CClassInfo& info)
{
    CAudioParamBindingDef::registerClass(info);
    info.attribute<&CAudioParamAllocDef::onIndex>("index");
    info.flag<&CAudioParamAllocDef::m_useAllGroups>("use-all-groups");
    info.flag<&CAudioParamAllocDef::m_useAllElements>("use-all-elements");
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

void CAudioParamScopeDef::registerClass(CClassInfo& info)
{
    CAudioParamBindingDef::registerClass(info);
    info.flag<&CAudioParamScopeDef::m_isGroup0>("is-group0");
    info.flag<&CAudioParamScopeDef::m_isElement0>("is-element0");
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
