#pragma once
// CSharedAttribute ("core:shared-attribute"): an object whose attribute (its mirror attribute,
// named by "attribute") is kept equal to a value stored in the application data, in both
// directions. Setting the mirror attribute writes the value to the global data ("is-global"
// "true") or to the local data of the plug-in type, under "data-name" (the object's name when
// empty); other instances hear the change through their bridges' "update" event and set their
// own mirror attribute, which objects bound to it live ("{*/ui.global-data.drag-precision
// drag-precision}") follow. While nothing is stored, init gives the mirror "def-value".
//
// Without application data (no application object) the mirror attribute works as a plain
// attribute. A stored value is set like any attribute text, so its references ("{...}") are
// evaluated. This class holds no value of its own beyond the mirror attribute.

#include "Core/ApplicationData.h"
#include "Core/Object.h"

namespace zel
{

class CSharedAttribute;

// The link of a shared attribute to its application data.
class CSharedAttributeBridge : public CApplicationDataListenerBridge<CSharedAttribute>
{
public:
    using CApplicationDataListenerBridge<CSharedAttribute>::CApplicationDataListenerBridge;
};

class CSharedAttribute : public CObject
{
public:
    CSharedAttribute();
    ~CSharedAttribute() override;

    static void registerClass(CClassInfo& info);

    // Checks "attribute", connects to the application data and gives the mirror attribute the
    // stored value (or "def-value").
    CErrorPtr init() override;
    void release() override;
    // Writes a change of the mirror attribute to the application data.
    CErrorPtr setAttribute(const CText& name, const CText& text) override;
    // Slot of this class: the value to store under dataName() changed in the application data.
    virtual CErrorPtr applyStoredValue(const CText& value);

    const CText& attributeName() const { return m_attributeName; }
    bool isGlobal() const { return m_isGlobal; }
    // "data-name", or the object's name when that is empty.
    CText dataName() const;
    const CText& defaultValue() const { return m_defaultValue; }
    // Whether the object is linked to application data (false before init, without
    // application data, or once that data is gone).
    bool isLinked() const { return m_bridge.isAttached(); }

    CErrorPtr onAttribute(const CText& value);
    CErrorPtr onIsGlobal(const CText& value);
    CErrorPtr onDataName(const CText& value);
    CErrorPtr onDefValue(const CText& value);
    // "update" from the application data.
    CErrorPtr onUpdate(CObject& eventParams);

private:
    CSharedAttributeBridge m_bridge;
    CText m_attributeName;
    CText m_dataName;
    CText m_defaultValue;
    bool m_isGlobal = false;
    bool m_connected = false;
    // Set while a stored value is applied, so that it is not written back.
    bool m_applying = false;
};

} // namespace zel
