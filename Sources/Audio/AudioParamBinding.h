#pragma once
// The binding objects that process definitions hold to connect a module's numbered parameter
// inputs with parameters, so that modules never look parameters up by name while processing:
//   "audio:param-alloc"  CAudioParamAllocDef  binds input "index" to "param-name", optionally
//                                             over all groups / all elements
//   "audio:param-scope"  CAudioParamScopeDef  restricts what the module sees of "param-name"
//                                             to group 0 ("is-group0") or element 0
//                                             ("is-element0")
//   "audio:param-remap"  CAudioParamRemapDef  replaces the parameter name "orig" used inside
//                                             the definition by the path "new"
// These classes only parse and validate their attributes; the process graph applies them.

#include "Core/Object.h"

#include <cstdint>

namespace zel
{

class CAudioParamDef;

// Shared by the alloc and scope objects: the required "param-name" and its resolution.
class CAudioParamBindingDef : public CObject
{
public:
    static void registerClass(CClassInfo& info);
    // Fails with "Invalid parameter name specified." when "param-name" is absent or empty.
    CErrorPtr init() override;

    const CText& paramName() const { return m_paramName; }
    // The named definition: an absolute path ("/..." or "shared::...") from this object, else
    // a name local to the enclosing definition (this object's parent). Null when unresolved.
    CAudioParamDef* findParamDef() const;

    CErrorPtr onParamName(const CText& value);

protected:
private:
    CText m_paramName;
};

class CAudioParamAllocDef : public CAudioParamBindingDef
{
public:
    static void registerClass(CClassInfo& info);

    std::int32_t index() const { return m_index; }
    bool useAllGroups() const { return m_useAllGroups; }
    bool useAllElements() const { return m_useAllElements; }

    CErrorPtr onIndex(const CText& value);

private:
    std::int32_t m_index = 0;
    bool m_useAllGroups = false;
    bool m_useAllElements = false;
};

class CAudioParamScopeDef : public CAudioParamBindingDef
{
public:
    static void registerClass(CClassInfo& info);

    bool isGroup0() const { return m_isGroup0; }
    bool isElement0() const { return m_isElement0; }

private:
    bool m_isGroup0 = false;
    bool m_isElement0 = false;
};

class CAudioParamRemapDef : public CObject
{
public:
    static void registerClass(CClassInfo& info);

    const CText& origName() const { return m_orig; }
    const CText& newName() const { return m_new; }

    CErrorPtr onOrig(const CText& value);
    CErrorPtr onNew(const CText& value);

private:
    CText m_orig;
    CText m_new;
};

} // namespace zel
