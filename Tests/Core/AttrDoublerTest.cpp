#include "Core/AttrDoubler.h"

#include "Core/ObjectTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace zel
{
namespace
{

std::string text(const CText& t)
{
    return t.toUtf8();
}

class AttrDoubler : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_FALSE(registerProductTypes(m_registration)); }

    ktest::CFakeApplication m_application;
    CTypeRegistration m_registration;
};

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
    EXPECT_EQ(text(panel->attribute("scroller-height")), "120");
    ASSERT_FALSE(view->setAttribute("height", "75"));
    EXPECT_EQ(text(panel->attribute("scroller-height")), "75");
}

TEST_F(AttrDoubler, ReportsAMissingOrUnresolvedTarget)
{
    const struct
    {
        const char* target;
        const char* id;
        const char* message;
    } cases[] = {
        {"", "zelstr_CAttrDoubler_init_NoTargets", "No target objects specified."},
        {"^nowhere", "zelstr_CAttrDoubler_init_TargetNotFound",
         "Target object '^nowhere' not found."},
    };
    for (const auto& c : cases)
    {
        CObjectPtr root = CObject::make<CObject>();
        root->setRootName("r");
        const CErrorPtr err = ktest::loadElement(
            *root,
            {"core:attr-doubler", "d", {{"value", "1"}, {"target", c.target}, {"attr", "a"}}, {}});
        ASSERT_TRUE(err) << c.target;
        EXPECT_EQ(err->id(), c.id);
        EXPECT_EQ(err->text(), c.message);
    }
}

} // namespace
} // namespace zel
