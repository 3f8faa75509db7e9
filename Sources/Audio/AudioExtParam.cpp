#include "Audio/AudioExtParam.h"

#include "Audio/AudioParamCollector.h"
#include "Audio/AudioProcessDef.h"
#include "Core/Numbers.h"

#include <string>

namespace zel
{

void CAudioExtParam::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
    info.attribute<&CAudioExtParam::onParamCollector>("param-collector");
    info.attribute<&CAudioExtParam::onParamName>("param-name");
    info.attribute<&CAudioExtParam::onGroup>("group");
    info.attribute<&CAudioExtParam::onElementIndex>("element-index");
    info.attribute<&CAudioExtParam::onExtName>("ext-name");
}

CErrorPtr CAudioExtParam::init()
{
    const std::string owner = fullName().toUtf8();
    ZEL_TRY(CObject::init(), owner);
    if (m_collectorPath.empty())
        return ZEL_ERROR(owner, "zelstr_CAudioExtParam_init_NoCollector",
                         "No parameter collector specified.");
    if (m_paramName.empty())
        return ZEL_ERROR(owner, "zelstr_CAudioExtParam_init_NoParamName",
                         "Invalid parameter name specified.");
    if (m_extName.empty())
        return ZEL_ERROR(owner, "zelstr_CAudioExtParam_init_NoExtName",
                         "No host parameter name specified.");
    return nullptr;
}

CErrorPtr CAudioExtParam::onParamCollector(const CText& value)
{
    m_collectorPath = value;
    return nullptr;
}

CErrorPtr CAudioExtParam::onParamName(const CText& value)
{
    if (value.empty())
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioExtParam_onParamName",
                         "Invalid parameter name specified.");
    // Collector paths carry no leading "/".
    m_paramName = value.startsWith("/") ? value.substr(1) : value;
    return nullptr;
}

CErrorPtr CAudioExtParam::onGroup(const CText& value)
{
    std::int32_t group = 0;
    if (!parseInteger32(value, group) || group < 0 || group > kMaxGroup)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioExtParam_onGroup",
                         "Invalid group '%1' specified.", {value.toUtf8()});
    m_group = group;
    return nullptr;
}

CErrorPtr CAudioExtParam::onElementIndex(const CText& value)
{
    std::int32_t element = 0;
    if (!parseInteger32(value, element) || element < 0)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioExtParam_onElementIndex",
                         "Invalid element index '%1' specified.", {value.toUtf8()});
    m_elementIndex = element;
    return nullptr;
}

CErrorPtr CAudioExtParam::onExtName(const CText& value)
{
    if (value.empty() || value.size() > kMaxExtNameLength)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioExtParam_onExtName",
                         "Invalid host parameter name '%1' (1 to 7 characters).", {value.toUtf8()});
    m_extName = value;
    return nullptr;
}

CAudioParamCollector* CAudioExtParam::findCollector() const
{
    return dynamic_cast<CAudioParamCollector*>(findObject(m_collectorPath));
}

CAudioParam* CAudioExtParam::findParam() const
{
    CAudioParamCollector* collector = findCollector();
    return collector != nullptr ? collector->findParam(m_paramName) : nullptr;
}

void CAudioExtParamList::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
}

CErrorPtr CAudioExtParamList::initChilds()
{
    const std::string owner = fullName().toUtf8();
    ZEL_TRY(CObject::initChilds(), owner);
    for (CObject* child : childList())
        if (dynamic_cast<CAudioExtParam*>(child) == nullptr)
            return ZEL_ERROR(owner, "zelstr_CAudioExtParamList_initChilds_Class",
                             "Object '%1' is not a host parameter.", {child->name().toUtf8()});
    return nullptr;
}

std::vector<CAudioExtParam*> CAudioExtParamList::params() const
{
    std::vector<CAudioExtParam*> out;
    for (CObject* child : childrenInDeclarationOrder(*this))
        if (auto* param = dynamic_cast<CAudioExtParam*>(child))
            out.push_back(param);
    return out;
}

} // namespace zel
