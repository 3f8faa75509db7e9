#pragma once
// CAttrDoubler ("core:attr-doubler"): copies its "value" to an attribute of another object.
// Whenever "value" changes (typically through a live binding such as "{*/^ height}"), the
// attribute named by "attr" of the object at the path "target" is set to the same text. With
// "value" = "{*/^ height}", "target" = "^^" and "attr" = "scroller-height", the grandparent's
// "scroller-height" follows the parent's height.
//
// The target is resolved once, by init; a target that goes away later is skipped silently.
// This class only forwards text; it does not convert or validate it.

#include "Core/Object.h"

namespace zel
{

class CAttrDoubler : public CObject
{
public:
    static void registerClass(CClassInfo& info);

    // Resolves "target" (required) and copies the current value once.
    CErrorPtr init() override;
    // Slot of this class: sets the target's attribute to the value.
    virtual CErrorPtr copyValue();

    CObject* target() const { return m_target.get(); }

    CErrorPtr onValue(const CText& value);
    CErrorPtr onTarget(const CText& value);
    CErrorPtr onAttr(const CText& value);

private:
    CText m_value;
    CText m_targetPath;
    CText m_attr;
    CObjectRef m_target;
    bool m_initialised = false;
};

} // namespace zel
