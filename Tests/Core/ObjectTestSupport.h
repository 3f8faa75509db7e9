#pragma once
// Test doubles for the object model: an application stand-in (shared root, global templates),
// a deferred-body parser over in-memory node descriptions (the same steps the description
// loader performs), and small object classes with recording handlers.

#include "Core/ApplicationAccess.h"
#include "Core/ClassInfo.h"
#include "Core/DeferredBody.h"
#include "Core/Object.h"
#include "Core/TypeTable.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace ktest
{

using zel::CErrorPtr;
using zel::CObject;
using zel::CText;

// An element: attributes in description order and child elements.
struct CFakeNode;
struct CFakeChild
{
    CText tag;
    CText name;
    std::vector<std::pair<CText, CText>> attributes;
    std::vector<CFakeChild> children;
};
struct CFakeNode
{
    std::vector<std::pair<CText, CText>> attributes;
    std::vector<CFakeChild> children;
};

// Applies attributes with the loader's rule: an empty or "false" value is not stored when the
// object has no attribute of that name yet.
inline CErrorPtr applyElementAttributes(CObject& object,
                                        const std::vector<std::pair<CText, CText>>& attributes)
{
    for (const auto& [name, value] : attributes)
    {
        if ((value.empty() || value == CText("false")) && !object.hasAttribute(name))
            continue;
        ZEL_TRY(object.setAttribute(name, value), object.fullName().toUtf8());
    }
    return nullptr;
}

// Creates one element below parent and runs its whole lifecycle, children included.
inline CErrorPtr loadElement(CObject& parent, const CFakeChild& element, CObject** out = nullptr)
{
    CObject* child = nullptr;
    ZEL_TRY(parent.createChild(element.tag, element.name, true, child), parent.fullName().toUtf8());
    ZEL_TRY(applyElementAttributes(*child, element.attributes), child->fullName().toUtf8());
    ZEL_TRY(child->init(), child->fullName().toUtf8());
    ZEL_TRY(child->initTemplateChilds(), child->fullName().toUtf8());
    for (const CFakeChild& grandChild : element.children)
        ZEL_TRY(loadElement(*child, grandChild), child->fullName().toUtf8());
    ZEL_TRY(child->initChilds(), child->fullName().toUtf8());
    child->setState(zel::kStateLoaded);
    if (out != nullptr)
        *out = child;
    return nullptr;
}

// Parses bodies whose bytes are a CFakeNode in memory.
class CFakeBodyParser : public zel::CDeferredBodyParser
{
public:
    CFakeBodyParser() { m_previous = zel::setDeferredBodyParser(this); }
    ~CFakeBodyParser() override { zel::setDeferredBodyParser(m_previous); }
    CFakeBodyParser(const CFakeBodyParser&) = delete;
    CFakeBodyParser& operator=(const CFakeBodyParser&) = delete;

    CErrorPtr parseDeferredBody(CObject& target, const zel::CDeferredBody& body,
                                zel::EBodyPart part) override
    {
        calls.push_back({target.fullName().toUtf8(), part});
        const auto* node = reinterpret_cast<const CFakeNode*>(body.data());
        if (part == zel::EBodyPart::kAttributesOnly)
            return applyElementAttributes(target, node->attributes);
        for (const CFakeChild& child : node->children)
            ZEL_TRY(loadElement(target, child), target.fullName().toUtf8());
        return nullptr;
    }

    std::vector<std::pair<std::string, zel::EBodyPart>> calls;

private:
    zel::CDeferredBodyParser* m_previous = nullptr;
};

// Defines a run-time template holding node, built on baseTag, in owner's template map.
inline CObject* defineFakeTemplate(CObject& owner, const CText& name, const CText& baseTag,
                                   const CFakeNode& node)
{
    CObject* holder = nullptr;
    EXPECT_FALSE(owner.defineTemplate(name, holder));
    holder->setDeferredBody(zel::CDeferredBody::borrowed(
        baseTag, nullptr, reinterpret_cast<const std::uint8_t*>(&node), sizeof node));
    return holder;
}

// The application stand-in; installed for its lifetime.
class CFakeApplication : public zel::CApplicationAccess
{
public:
    CFakeApplication()
    {
        shared = CObject::make<CObject>();
        shared->setRootName("shared-root");
        templates = CObject::make<CObject>();
        templates->setRootName("global-templates");
        m_previous = zel::CApplicationAccess::setInstance(this);
    }
    ~CFakeApplication() override { zel::CApplicationAccess::setInstance(m_previous); }
    CFakeApplication(const CFakeApplication&) = delete;
    CFakeApplication& operator=(const CFakeApplication&) = delete;

    CObject* sharedRoot() override { return shared.get(); }
    CObject* findTemplate(const CText& tag) override
    {
        const auto it = templates->templates().find(tag);
        return it == templates->templates().end() ? nullptr : it->second.get();
    }

    zel::CObjectPtr shared;
    zel::CObjectPtr templates; // its template map is the global one

private:
    zel::CApplicationAccess* m_previous = nullptr;
};

// An object class with a recording "value" handler (fails on "bad") and a recording "ping"
// event handler.
class CProbe : public CObject
{
public:
    static void registerClass(zel::CClassInfo& info)
    {
        CObject::registerClass(info);
        info.attribute<&CProbe::onValue>("value");
        info.event<&CProbe::onPing>("ping", 0x5);
    }
    CErrorPtr onValue(const CText& value)
    {
        values.push_back(value.toUtf8());
        if (value == CText("bad"))
            return ZEL_ERROR(fullName().toUtf8(), "zelstr_CProbe_value", "Bad value '%1'.",
                             {value.toUtf8()});
        return nullptr;
    }
    CErrorPtr onPing(CObject& params)
    {
        std::string line;
        for (const char* key : {"sender", "event-name", "listener", "listener-id", "listener-proc"})
            line += params.attribute(key).toUtf8() + "|";
        pings.push_back(line);
        return nullptr;
    }

    std::vector<std::string> values;
    std::vector<std::string> pings;
};

// Replaces the "value" handler, inherits "ping" and "release-child-bridged".
class CProbeChild : public CProbe
{
public:
    static void registerClass(zel::CClassInfo& info)
    {
        CProbe::registerClass(info);
        info.attribute<&CProbeChild::onChildValue>("value");
        info.attribute<&CProbeChild::onChildValue>("extra");
    }
    CErrorPtr onChildValue(const CText& value)
    {
        childValues.push_back(value.toUtf8());
        return nullptr;
    }
    std::vector<std::string> childValues;
};

// Registers "core:object" (from the product table), "test:probe" and "test:probe-child".
class CObjectModelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(zel::registerProductTypes(registration));
        ASSERT_FALSE(registration.add<CProbe>("test:probe"));
        ASSERT_FALSE(registration.add<CProbeChild>("test:probe-child"));
        root = CObject::make<CObject>();
        root->setRootName("root");
    }

    CObject* child(CObject& parent, const char* tag, const char* name)
    {
        CObject* created = nullptr;
        CErrorPtr err = parent.createChild(tag, name, true, created);
        EXPECT_FALSE(err) << (err ? err->details() : "");
        return created;
    }

    zel::CTypeRegistration registration;
    zel::CObjectPtr root;
};

} // namespace ktest
