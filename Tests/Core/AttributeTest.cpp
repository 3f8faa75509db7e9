// Attributes: reference evaluation, defaults, live bindings, read-only rules, handler errors,
// typed reads and their cache.

#include "Core/Attribute.h"
#include "ObjectTestSupport.h"
#include "Support/ErrorText.h"

using namespace ktest;
using zel::CText;

namespace
{
class CAttributes : public CObjectModelTest
{
protected:
    void SetUp() override
    {
        CObjectModelTest::SetUp();
        plugin = child(*root, "core:object", "plugin");
        panel = child(*plugin, "core:object", "panel");
        knob = static_cast<CProbe*>(child(*panel, "test:probe", "knob"));
        root->setAttributeRaw("skin", "dark");
        plugin->setAttributeRaw("title", "Plugin");
        panel->setAttributeRaw("title", "Panel");
        panel->setAttributeRaw("size", "3");
        knob->setAttributeRaw("own", "mine");
    }
    std::string set(CObject& object, const char* name, const char* text)
    {
        zel::CErrorPtr err = object.setAttribute(name, text);
        EXPECT_FALSE(err) << (err ? err->details() : "");
        return object.attribute(name).toUtf8();
    }
    // An object under the root holding v="value".
    CObject* source(const char* name, const char* value)
    {
        CObject* made = child(*root, "core:object", name);
        made->setAttributeRaw("v", value);
        return made;
    }
    CObject* plugin = nullptr;
    CObject* panel = nullptr;
    CProbe* knob = nullptr;
};
} // namespace

TEST_F(CAttributes, ReferenceForms)
{
    CFakeApplication application;
    application.shared->setAttributeRaw("app-vendor", "Vendor"); // the shared root itself
    child(*application.shared, "core:object", "project")->setAttributeRaw("url", "https://x/");
    struct Case
    {
        const char* name;
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"a", "plain text", "plain text"},
        {"a", "no close {title", "no close {title"},
        {"a", "}{title", "}{title"}, // no "}" after the last "{"
        {"a", "{title}}", "Panel}"},
        {"title", "{}", "Panel"},       // same name, inherited from the parent
        {"b", "{skin}", "dark"},        // a name, inherited from the root
        {"b", "{@title?none}", "none"}, // own only: the knob has no title
        {"b", "{@own}", "mine"},
        {"b", "{@skin}", ""}, // own only: not inherited
        {"b", "{/^ size}", "3"},
        {"title", "{/^^}", "Plugin"},          // path without name: same attribute name
        {"b", "{/^?Panel}", "Panel"},          // parent's "b" is absent: default
        {"b", "{/plugin.panel skin}", "dark"}, // inherited from that object upwards
        {"b", "{/nowhere title?x}", "x"},
        {"b", "{/shared::project url}", "https://x/"},
        {"b", "{/shared::project app-vendor}", "Vendor"},
        {"b", "{missing}", ""},
        {"c", "{?-1}", "-1"},
        {"b", "[{title}|{skin}]", "[Panel|dark]"},
        {"b", "{title?a?b}", "Panel"},
    };
    for (const Case& c : cases)
    {
        // A fresh object per case: a case must not see what an earlier one stored.
        CObject* fresh = child(*panel, "test:probe", "fresh");
        fresh->setAttributeRaw("own", "mine");
        EXPECT_EQ(set(*fresh, c.name, c.text), c.expected) << c.text;
        fresh->destroy();
    }
}

TEST_F(CAttributes, ReferencesAreEvaluatedRightToLeft)
{
    // The right reference is evaluated first and its result can complete the left one.
    panel->setAttributeRaw("key", "size");
    EXPECT_EQ(set(*knob, "b", "{{key}}"), "3");
    panel->setAttributeRaw("first", "{");
    EXPECT_EQ(set(*knob, "b", "{first}title}"), "Panel");
    // Order is observable through live bindings: each one registers when evaluated.
    CObject* s1 = source("s1", "one");
    CObject* s2 = source("s2", "two");
    EXPECT_EQ(set(*knob, "pair", "{*/s1 v}-{*/s2 v}"), "one-two");
    ASSERT_EQ(knob->bindingsHeld().size(), 2u);
    EXPECT_EQ(knob->bindingsHeld()[0].source, s2);
    EXPECT_EQ(knob->bindingsHeld()[1].source, s1);
}

TEST_F(CAttributes, ReadOnlyEmptyNameAndHandlerErrors)
{
    EXPECT_FALSE(knob->setAttribute("", "x"));
    EXPECT_FALSE(knob->hasAttribute(""));
    knob->setReadOnly(true);
    EXPECT_FALSE(knob->setAttribute("value", "1")); // a silent no-op
    EXPECT_FALSE(knob->hasAttribute("value"));
    knob->setReadOnly(false);
    EXPECT_EQ(set(*knob, "value", "2"), "2");
    EXPECT_EQ(knob->values, std::vector<std::string>{"2"});
    // A handler's error carries the object's full name; the text was stored before it ran.
    zel::CErrorPtr err = knob->setAttribute("value", "bad");
    ASSERT_TRUE(err);
    EXPECT_EQ(err->text(), "Bad value 'bad'.");
    ASSERT_EQ(err->trail().size(), 2u);
    EXPECT_NE(err->trail()[1].find(" ) // root.plugin.panel.knob"), std::string::npos);
    EXPECT_EQ(knob->attribute("value").toUtf8(), "bad");
}

TEST_F(CAttributes, LiveBindingFollowsTheSource)
{
    CObject* precision = source("drag-precision", "0.8");
    EXPECT_EQ(set(*knob, "value", "x{*/drag-precision v}"), "x0.8");
    ASSERT_FALSE(precision->setAttribute("v", "0.5"));
    EXPECT_EQ(knob->attribute("value").toUtf8(), "x0.5");
    EXPECT_EQ(knob->values, (std::vector<std::string>{"x0.8", "x0.5"}));
    EXPECT_EQ(precision->attributeListenerCount(), 1u) << "re-evaluation does not duplicate";
    // Another attribute of the source does not update the listener.
    ASSERT_FALSE(precision->setAttribute("other", "1"));
    EXPECT_EQ(knob->values.size(), 2u);
    // Setting the attribute to a plain value drops the binding.
    EXPECT_EQ(set(*knob, "value", "fixed"), "fixed");
    EXPECT_EQ(precision->attributeListenerCount(), 0u);
    ASSERT_FALSE(precision->setAttribute("v", "0.1"));
    EXPECT_EQ(knob->attribute("value").toUtf8(), "fixed");

    // Bindings chain, and bindings that feed each other stop instead of recursing without end.
    CObject* a = source("a", "1");
    CObject* b = child(*root, "core:object", "b");
    EXPECT_EQ(set(*b, "v", "{*/a v}"), "1");
    EXPECT_EQ(set(*knob, "v", "{*/b v}!"), "1!");
    ASSERT_FALSE(a->setAttribute("v", "2"));
    EXPECT_EQ(knob->attribute("v").toUtf8(), "2!");
    EXPECT_EQ(set(*a, "v", "{*/b v}"), "2");
    ASSERT_FALSE(b->setAttribute("v", "3"));
}

TEST_F(CAttributes, LiveBindingRemovedWhenEitherSideGoes)
{
    CObject* src = source("src", "1");
    CObject* listenerA = child(*root, "core:object", "la");
    CObject* listenerB = child(*root, "core:object", "lb");
    EXPECT_EQ(set(*listenerA, "v", "{*/src v}"), "1");
    EXPECT_EQ(set(*listenerB, "w", "{*/src v}"), "1");
    EXPECT_EQ(src->attributeListenerCount(), 2u);
    listenerA->destroy();
    EXPECT_EQ(src->attributeListenerCount(), 1u);
    ASSERT_FALSE(src->setAttribute("v", "2")); // would touch the freed listener otherwise
    EXPECT_EQ(listenerB->attribute("w").toUtf8(), "2");
    src->destroy();
    EXPECT_TRUE(listenerB->bindingsHeld().empty());
    EXPECT_FALSE(listenerB->setAttribute("w", "3"));
}

TEST_F(CAttributes, LiveBindingChecks)
{
    child(*root, "core:object", "locked")->setReadOnly(true);
    const std::pair<const char*, const char*> cases[] = {
        {"{*/nowhere v}", "zelstr_CObject_setAttribute_BindingNoSource"},
        {"{*/plugin.panel.knob v}", "zelstr_CObject_setAttribute_BindingSelf"},
        {"{*/locked v}", "zelstr_CObject_setAttribute_BindingReadOnly"},
    };
    for (const auto& [text, id] : cases)
    {
        EXPECT_TRUE(kelvtest::idAndText(knob->setAttribute("v", text)).starts_with(id)) << text;
        EXPECT_TRUE(knob->bindingsHeld().empty());
    }
}

TEST_F(CAttributes, TypedReadsAndTheirCache)
{
    knob->setAttributeRaw("n", "0x10");
    knob->setAttributeRaw("f", "2,5");
    knob->setAttributeRaw("flag", "true");
    knob->setAttributeRaw("target", "^");
    EXPECT_EQ(knob->attributeInt("n"), 16);
    EXPECT_EQ(knob->attributeFloat("f"), 2.5);
    EXPECT_EQ(knob->attributeBool("flag"), true);
    EXPECT_EQ(knob->attributeObject("target"), panel);
    EXPECT_EQ(knob->attributeInt("f"), std::nullopt);
    EXPECT_EQ(knob->attributeInt("size"), std::nullopt);
    EXPECT_EQ(knob->attributeInt("size", zel::EAttrLookup::kInherited), 3);
    // A new text empties the cache; the next read converts the new text.
    const zel::CAttrValue* n = knob->findAttribute("n");
    EXPECT_EQ(n->cache().flags & zel::kAttrCacheFilled, zel::kAttrCacheFilled);
    ASSERT_FALSE(knob->setAttribute("n", "7"));
    EXPECT_EQ(n->cache().flags & zel::kAttrCacheFilled, 0u);
    EXPECT_EQ(knob->attributeInt("n"), 7);
    // A failed conversion is remembered as such.
    ASSERT_FALSE(knob->setAttribute("n", "seven"));
    EXPECT_EQ(knob->attributeInt("n"), std::nullopt);
    EXPECT_NE(n->cache().flags & zel::kAttrCacheInvalid, 0u);
}
