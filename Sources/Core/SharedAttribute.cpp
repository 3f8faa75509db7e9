#include "Core/SharedAttribute.h"

#include "Core/Log.h"

namespace zel
{

CSharedAttribute::CSharedAttribute() : m_bridge(this) {}

CSharedAttribute::~CSharedAttribute()
{
    // Before the members go: no "update" may reach a half-destroyed object.
    m_bridge.disconnect();
}

void CSharedAttribute::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
    info.attribute<&CSharedAttribute::onAttribute>("attribute");
    info.attribute<&CSharedAttribute::onIsGlobal>("is-global");
    info.attribute<&CSharedAttribute::onDataName>("data-name");
    info.attribute<&CSharedAttribute::onDefValue>("def-value");
    info.event<&CSharedAttribute::onUpdate>("update");
}

CText CSharedAttribute::dataName() const
{
    return m_dataName.empty() ? plainName() : m_dataName;
}

CErrorPtr CSharedAttribute::onAttribute(const CText& value)
{
    m_attributeName = value;
    return nullptr;
}

CErrorPtr CSharedAttribute::onIsGlobal(const CText& value)
{
    m_isGlobal = value == CText("true");
    return nullptr;
}

CErrorPtr CSharedAttribute::onDataName(const CText& value)
{
    m_dataName = value;
    return nullptr;
}

CErrorPtr CSharedAttribute::onDefValue(const CText& value)
{
    m_defaultValue = value;
    return nullptr;
}

CErrorPtr CSharedAttribute::init()
{
    ZEL_TRY(CObject::init(), fullName().toUtf8());
    if (m_attributeName.empty())
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CSharedAttribute_init_NoAttribute",
                         "No attached attribute name specified.");
    CApplicationData* data = m_isGlobal ? static_cast<CApplicationData*>(CGlobalData::current())
                                        : static_cast<CApplicationData*>(CLocalData::current());
    CText value = m_defaultValue;
    bool found = false;
    if (data != nullptr)
    {
        // A damaged store is not this object's failure: it starts from the default.
        if (CErrorPtr err = data->readValue(dataName(), value, m_defaultValue, &found))
            diagLog(ZEL_PASS(std::move(err), fullName().toUtf8())->details());
        m_bridge.connect(data);
    }
    m_connected = true;
    if (found || hasAttribute("def-value") || !hasAttribute(m_attributeName))
        ZEL_TRY(applyStoredValue(value), fullName().toUtf8());
    return nullptr;
}

void CSharedAttribute::release()
{
    m_bridge.disconnect();
    m_connected = false;
    CObject::release();
}

CErrorPtr CSharedAttribute::applyStoredValue(const CText& value)
{
    m_applying = true;
    CErrorPtr err = CObject::setAttribute(m_attributeName, value);
    m_applying = false;
    return err;
}

CErrorPtr CSharedAttribute::setAttribute(const CText& name, const CText& text)
{
    ZEL_TRY(CObject::setAttribute(name, text), fullName().toUtf8());
    if (!m_connected || m_applying || isReadOnly() || name != m_attributeName)
        return nullptr;
    // Through the bridge: the data may have gone away with the application.
    CBridge::CAccess access(m_bridge);
    CApplicationData* data = CSharedAttributeBridge::dataOf(access);
    if (data != nullptr)
        ZEL_TRY(data->writeValue(dataName(), attribute(name), &m_bridge), fullName().toUtf8());
    return nullptr;
}

CErrorPtr CSharedAttribute::onUpdate(CObject& eventParams)
{
    if (!m_connected ||
        eventParams.attribute("data-set") != CText(CApplicationData::kSettingsDataSet) ||
        eventParams.attribute("data-name") != dataName())
        return nullptr;
    const CText value = eventParams.attribute("value");
    if (attribute(m_attributeName) == value)
        return nullptr;
    ZEL_TRY(applyStoredValue(value), fullName().toUtf8());
    return nullptr;
}

} // namespace zel
