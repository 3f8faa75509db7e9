#include "Audio/AudioParamBinding.h"

#include "Audio/AudioParamDef.h"
#include "Core/ObjectTestSupport.h"

#include <gtest/gtest.h>

namespace zel
{
namespace
{

class AudioParamBindingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(registerProductTypes(m_registration));
        m_root = CObject::make<CObject>();
        m_root->setRootName("r");
    }

    ktest::CFakeApplication m_application;
    CTypeRegistration m_registration;
    CObjectPtr m_root;
};

TEST_F(AudioParamBindingTest, ParsesBindingsAndResolvesLocalAndAbsoluteNames)
{
    const ktest::CFakeChild param = {"audio:param",
                                     "gain",
                                     {{"element-size", "1"},
                                      {"converter", "/cvt"},
                                      {"min-values", "0"},
                                      {"max-values", "1"},
                                      {"def-values", "0.5"}},
                                     {}};
    ASSERT_FALSE(ktest::loadElement(*m_root, {"audio:cvt-real", "cvt", {}, {}}));
    ASSERT_FALSE(ktest::loadElement(
        *m_root,
        {"core:object",
         "modA",
         {},
         {param,
          {"audio:param-alloc",
           "a",
           {{"param-name", "gain"}, {"index", "3"}, {"use-all-groups", "true"}},
           {}},
          {"audio:param-alloc", "b", {{"param-name", "/modA.gain"}}, {}},
          {"audio:param-scope", "s", {{"param-name", "gain"}, {"is-element0", "true"}}, {}},
          {"audio:param-remap",
           "m",
           {{"orig", "index"}, {"new", "/plugin.modMain.lp-oversampling-enable"}},
           {}}}}));
    const auto* def = dynamic_cast<CAudioParamDef*>(m_root->findObject("modA.gain"));
    const auto* a = dynamic_cast<CAudioParamAllocDef*>(m_root->findObject("modA.a"));
    const auto* b = dynamic_cast<CAudioParamAllocDef*>(m_root->findObject("modA.b"));
    const auto* s = dynamic_cast<CAudioParamScopeDef*>(m_root->findObject("modA.s"));
    const auto* m = dynamic_cast<CAudioParamRemapDef*>(m_root->findObject("modA.m"));
    ASSERT_TRUE(def && a && b && s && m);
    EXPECT_EQ(a->index(), 3);
    EXPECT_TRUE(a->useAllGroups());
    EXPECT_FALSE(a->useAllElements());
    EXPECT_EQ(a->findParamDef(), def);
    EXPECT_EQ(b->index(), 0);
    EXPECT_EQ(b->findParamDef(), def);
    EXPECT_FALSE(s->isGroup0());
    EXPECT_TRUE(s->isElement0());
    EXPECT_EQ(s->findParamDef(), def);
    EXPECT_EQ(m->origName().toUtf8(), "index");
    EXPECT_EQ(m->newName().toUtf8(), "/plugin.modMain.lp-oversampling-enable");
}

TEST_F(AudioParamBindingTest, RejectsMissingNamesAndBadValues)
{
    const struct
    {
        const char* tag;
        std::vector<std::pair<CText, CText>> attrs;
        const char* message;
    } cases[] = {
        {"audio:param-alloc", {{"index", "1"}}, "Invalid parameter name specified."},
        {"audio:param-alloc", {{"param-name", ""}}, "Invalid parameter name specified."},
        {"audio:param-scope", {{"is-group0", "true"}}, "Invalid parameter name specified."},
        {"audio:param-alloc",
         {{"param-name", "p"}, {"index", "1.5"}},
         "Invalid parameter index '1.5'."},
        {"audio:param-scope",
         {{"param-name", "p"}, {"is-group0", "yes"}},
         "Invalid boolean value 'yes'."},
    };
    for (const auto& c : cases)
    {
        const CErrorPtr err = ktest::loadElement(*m_root, {c.tag, "x", c.attrs, {}});
        ASSERT_TRUE(err) << c.message;
        EXPECT_EQ(err->text(), c.message);
    }
    auto* unresolved = static_cast<CAudioParamAllocDef*>(nullptr);
    CObject* made = nullptr;
    ASSERT_FALSE(ktest::loadElement(
        *m_root, {"audio:param-alloc", "y", {{"param-name", "none"}}, {}}, &made));
    unresolved = dynamic_cast<CAudioParamAllocDef*>(made);
    ASSERT_NE(unresolved, nullptr);
    EXPECT_EQ(unresolved->findParamDef(), nullptr);
}

} // namespace
} // namespace zel
