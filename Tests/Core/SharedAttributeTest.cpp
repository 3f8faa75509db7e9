#include "Core/SharedAttribute.h"
#include "Core/AttrDoubler.h"

#include "Core/AppDataTestSupport.h"
#include "Core/ObjectTestSupport.h"
#include "Support/ErrorText.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zel
{
namespace
{

using ktest::CFakeChild;

CFakeChild sharedAttribute(const char* name, std::vector<std::pair<CText, CText>> attributes)
{
    return {"core:shared-attribute", name, std::move(attributes), {}};
}

// An instance tree as the descriptions build it: ui.global-data and ui.local-data with shared
// attributes, and a view whose attributes follow them through live bindings.
CFakeChild instanceTree()
{
    const CFakeChild global{"core:object",
                            "global-data",
                            {},
                            {sharedAttribute("drag-precision", {{"attribute", "drag-precision"},
                                                                {"is-global", "true"},
                                                                {"def-value", "0.8"}}),
                             sharedAttribute("ui-shadows", {{"attribute", "ui-shadows"},
                                                            {"is-global", "true"},
                                                            {"data-name", "shadows-v2"}})}};
    const CFakeChild local{
        "core:object",
        "local-data",
        {},
        {sharedAttribute("ui-scale", {{"attribute", "scale"}, {"def-value", "1.0"}})}};
    const CFakeChild knob{"core:object",
                          "knob",
                          {{"precision", "{*/ui.global-data.drag-precision drag-precision}"},
                           {"zoom", "{*/ui.local-data.ui-scale scale}"}},
                          {}};
    return {"core:object", "ui", {}, {global, local, knob}};
}

class SharedAttribute : public ktest::CConfigHomeTest
{
protected:
    void SetUp() override
    {
        ktest::CConfigHomeTest::SetUp();
        ASSERT_FALSE(registerProductTypes(m_registration));
        install("Kelvatrone", true);
    }
    // Makes fresh local data of the plug-in type appName current, and fresh global data too.
    void install(const char* appName, bool global)
    {
        CGlobalData::setCurrent(nullptr);
        CLocalData::setCurrent(nullptr);
        if (global)
            m_global = std::make_unique<CGlobalData>();
        m_local = std::make_unique<CLocalData>(appName);
        CGlobalData::setCurrent(m_global.get());
        CLocalData::setCurrent(m_local.get());
    }
    void TearDown() override
    {
        CGlobalData::setCurrent(nullptr);
        CLocalData::setCurrent(nullptr);
        ktest::CConfigHomeTest::TearDown();
    }

    CObjectPtr makeInstance(const char* name)
    {
        CObjectPtr root = CObject::make<CObject>();
        root->setRootName(name);
        const CErrorPtr err = ktest::loadElement(*root, instanceTree());
        EXPECT_FALSE(err) << (err ? err->details() : "");
        return root;
    }

    ktest::CFakeApplication m_application;
    CTypeRegistration m_registration;
    std::unique_ptr<CGlobalData> m_global;
    std::unique_ptr<CLocalData> m_local;
};

TEST_F(SharedAttribute, StartsFromTheDefaultAndFollowsOtherInstances)
{
    CObjectPtr a = makeInstance("a");
    CObjectPtr b = makeInstance("b");
    CObject* dragA = a->findObject("ui.global-data.drag-precision");
    CObject* dragB = b->findObject("ui.global-data.drag-precision");
    ASSERT_TRUE(dragA && dragB);
    EXPECT_EQ(dragA->attribute("drag-precision").toUtf8(), "0.8");
    EXPECT_EQ(m_global->updateListenerCount(), 4u);

    // A change in one instance is stored and reaches the other and its live bindings.
    ASSERT_FALSE(dragA->setAttribute("drag-precision", "0.35"));
    CText stored;
    EXPECT_FALSE(m_global->readValue("drag-precision", stored));
    EXPECT_EQ(stored.toUtf8(), "0.35");
    EXPECT_EQ(dragB->attribute("drag-precision").toUtf8(), "0.35");
    EXPECT_EQ(b->findObject("ui.knob")->attribute("precision").toUtf8(), "0.35");

    // A change arriving from the data (another writer) is set on the mirror.
    ASSERT_FALSE(m_local->writeValue("ui-scale", "1.5"));
    EXPECT_EQ(a->findObject("ui.local-data.ui-scale")->attribute("scale").toUtf8(), "1.5");
    EXPECT_EQ(b->findObject("ui.knob")->attribute("zoom").toUtf8(), "1.5");

    // "data-name" overrides the object's name as the stored name.
    ASSERT_FALSE(a->findObject("ui.global-data.ui-shadows")->setAttribute("ui-shadows", "false"));
    bool found = false;
    EXPECT_FALSE(m_global->readValue("shadows-v2", stored, CText(), &found));
    EXPECT_TRUE(found);
    EXPECT_FALSE(m_global->readValue("ui-shadows", stored, CText(), &found));
    EXPECT_FALSE(found);

    // Destroying an instance unregisters its listeners.
    b.reset();
    EXPECT_EQ(m_global->updateListenerCount(), 2u);
    ASSERT_FALSE(dragA->setAttribute("drag-precision", "0.5"));

    // Data that goes away before its users leaves them working as plain attributes.
    CGlobalData::setCurrent(nullptr);
    m_global.reset();
    EXPECT_FALSE(dynamic_cast<CSharedAttribute*>(dragA)->isLinked());
    ASSERT_FALSE(dragA->setAttribute("drag-precision", "0.7"));
    EXPECT_EQ(a->findObject("ui.knob")->attribute("precision").toUtf8(), "0.7");
}

TEST_F(SharedAttribute, LocalValuesStayWithThePluginTypeGlobalOnesReachAll)
{
    {
        CObjectPtr a = makeInstance("a");
        ASSERT_FALSE(a->findObject("ui.local-data.ui-scale")->setAttribute("scale", "2.0"));
        ASSERT_FALSE(
            a->findObject("ui.global-data.drag-precision")->setAttribute("drag-precision", "0.6"));
    }
    // Another plug-in type of the maker: its own local data, the same global data file.
    install("Spectrafix", true);
    CObjectPtr other = makeInstance("other");
    EXPECT_EQ(other->findObject("ui.local-data.ui-scale")->attribute("scale").toUtf8(), "1.0");
    EXPECT_EQ(other->findObject("ui.knob")->attribute("precision").toUtf8(), "0.6");

    // The same plug-in type loading afresh sees its stored local value.
    install("Kelvatrone", false);
    CObjectPtr again = makeInstance("again");
    EXPECT_EQ(again->findObject("ui.knob")->attribute("zoom").toUtf8(), "2.0");
}

TEST_F(SharedAttribute, StoredValueWinsOverTheDefaultAndAnAttributeNameIsRequired)
{
    ASSERT_FALSE(m_global->writeValue("drag-precision", "0.1"));
    CObjectPtr a = makeInstance("a");
    EXPECT_EQ(a->findObject("ui.knob")->attribute("precision").toUtf8(), "0.1");

    const CErrorPtr err =
        ktest::loadElement(*a, sharedAttribute("bad", {{"is-global", "true"}, {"def-value", "1"}}));
    EXPECT_EQ(kelvtest::idAndText(err),
              "zelstr_CSharedAttribute_init_NoAttribute: No attached attribute name specified.");
    EXPECT_NE(err->details().find("a.bad"), std::string::npos);
}

using AttrDoubler = SharedAttribute;

TEST_F(AttrDoubler, CopiesItsValueToTheTargetWhileTheBindingChanges)
{
    CObjectPtr root = CObject::make<CObject>();
    root->setRootName("r");
    ASSERT_FALSE(ktest::loadElement(
        *root, {"core:object",
                "panel",
                {},
                {{"core:object",
                  "view",
                  {{"height", "120"}},
                  {{"core:attr-doubler",
                    "dbl",
                    {{"value", "{*/^ height}"}, {"target", "^^"}, {"attr", "scroller-height"}},
                    {}}}}}}));
    CObject* view = root->findObject("panel.view");
    CObject* panel = root->findObject("panel");
    auto* doubler = dynamic_cast<CAttrDoubler*>(root->findObject("panel.view.dbl"));
    ASSERT_TRUE(view && panel && doubler);
    EXPECT_EQ(doubler->target(), panel);
    EXPECT_EQ(panel->attribute("scroller-height").toUtf8(), "120");
    ASSERT_FALSE(view->setAttribute("height", "75"));
    EXPECT_EQ(panel->attribute("scroller-height").toUtf8(), "75");

    // A missing or unresolved target stops initialisation.
    const std::pair<const char*, const char*> bad[] = {
        {"", "zelstr_CAttrDoubler_init_NoTargets: No target objects specified."},
        {"^nowhere",
         "zelstr_CAttrDoubler_init_TargetNotFound: Target object '^nowhere' not found."},
    };
    for (const auto& [target, said] : bad)
        EXPECT_EQ(kelvtest::idAndText(ktest::loadElement(
                      *root, {"core:attr-doubler",
                              "d",
                              {{"value", "1"}, {"target", target}, {"attr", "a"}},
                              {}})),
                  said);
}

} // namespace
} // namespace zel
