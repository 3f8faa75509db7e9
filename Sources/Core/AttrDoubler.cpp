#include "Core/AttrDoubler.h"

namespace zel
{

void CAttrDoubler::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
    info.attribute<&CAttrDoubler::onValue>("value");
    info.attribute<&CAttrDoubler::onTarget>("target");
    info.attribute<&CAttrDoubler::onAttr>("attr");
}

CErrorPtr CAttrDoubler::onValue(const CText& value)
{
    m_value = value;
    if (!m_initialised)
        return nullptr;
    ZEL_TRY(copyValue(), fullName().toUtf8());
    return nullptr;
}

CErrorPtr CAttrDoubler::onTarget(const CText& value)
{
    m_targetPath = value;
    return nullptr;
}

CErrorPtr CAttrDoubler::onAttr(const CText& value)
{
    m_attr = value;
    return nullptr;
}

CErrorPtr CAttrDoubler::init()
{
    ZEL_TRY(CObject::init(), fullName().toUtf8());
    if (m_targetPath.empty())
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAttrDoubler_init_NoTargets",
                         "No target objects specified.");
    CObject* found = findObject(m_targetPath);
    if (found == nullptr)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAttrDoubler_init_TargetNotFound",
                         "Target object '%1' not found.", {m_targetPath.toUtf8()});
    m_target = found->weakRef();
    m_initialised = true;
    ZEL_TRY(copyValue(), fullName().toUtf8());
    return nullptr;
}

CErrorPtr CAttrDoubler::copyValue()
{
    CObject* target = m_target.get();
    if (target == nullptr || m_attr.empty())
        return nullptr;
    ZEL_TRY(target->setAttribute(m_attr, m_value), fullName().toUtf8());
    return nullptr;
}

} // namespace zel
