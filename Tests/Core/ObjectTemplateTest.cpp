// Run-time templates and the lifecycle: expansion through the body parser hook, the order in
// which element, template and pending values win, template lookup, the init queue.

#include "ObjectTestSupport.h"
#include "Support/ErrorText.h"

using namespace ktest;
using kelvtest::idOf;
using zel::CText;

namespace
{
class CObjectTemplates : public CObjectModelTest
{
protected:
    CObject* load(CObject& parent, CFakeChild element)
    {
        CObject* made = nullptr;
        const zel::CErrorPtr err = loadElement(parent, element, &made);
        EXPECT_FALSE(err) << err->details();
        return made;
    }

    CFakeBodyParser parser;
    CFakeApplication application; // keeps loaded objects writable
};
} // namespace

TEST_F(CObjectTemplates, ElementAndPendingValuesWinOverTemplateValues)
{
    const CFakeNode body{
        {{"value", "template"}, {"colour", "blue"}, {"size", "{?-1}"}, {"label", "{/^?Panel}"}},
        {}};
    defineFakeTemplate(*root, "ui:thing", "test:probe", body);
    root->setAttributeRaw("label", "RootLabel");
    CObject* made = load(*root, {"ui:thing", "t", {{"value", "element"}, {"size", "12"}}, {}});
    auto* probe = dynamic_cast<CProbe*>(made);
    ASSERT_NE(probe, nullptr) << "the body's base tag decides the class";
    EXPECT_EQ(made->tag().toUtf8(), "ui:thing");
    EXPECT_EQ(made->templateObject(), root->findTemplate("ui:thing"));
    for (const auto& [name, value] : std::vector<std::pair<const char*, const char*>>{
             {"value", "element"}, {"colour", "blue"}, {"size", "12"}, {"label", "RootLabel"}})
        EXPECT_EQ(made->attribute(name).toUtf8(), value) << name;
    // The element's value went through the handler once; the template's never did.
    EXPECT_EQ(probe->values, std::vector<std::string>{"element"});
    // Without element values the template's defaults apply, references included.
    CObject* plain = load(*root, {"ui:thing", "u", {}, {}});
    EXPECT_EQ(plain->attribute("value").toUtf8(), "template");
    EXPECT_EQ(plain->attribute("size").toUtf8(), "-1");
    // Pending values apply after the template's.
    CObject* pending = child(*root, "ui:thing", "p");
    pending->setPendingAttribute("value", "pending");
    ASSERT_FALSE(pending->init());
    EXPECT_EQ(pending->attribute("value").toUtf8(), "pending");
    EXPECT_EQ(pending->attribute("colour").toUtf8(), "blue");
    EXPECT_TRUE(pending->pendingAttributes().empty());
    EXPECT_EQ(static_cast<CProbe*>(pending)->values, std::vector<std::string>{"pending"});
}

TEST_F(CObjectTemplates, TemplateChildrenAreCreatedInInitTemplateChilds)
{
    const CFakeNode body{{{"a", "1"}},
                         {{"core:object", "first", {{"k", "template-child"}}, {}},
                          {"test:probe", "second", {{"value", "{/^ a}"}}, {}}}};
    defineFakeTemplate(*root, "ui:box", "core:object", body);
    CObject* box = load(*root, {"ui:box", "box", {}, {{"core:object", "own", {}, {}}}});
    const std::vector<std::pair<std::string, zel::EBodyPart>> calls = {
        {"root.box", zel::EBodyPart::kAttributesOnly}, {"root.box", zel::EBodyPart::kChildrenOnly}};
    EXPECT_EQ(parser.calls, calls);
    ASSERT_NE(box->findChild("first"), nullptr);
    EXPECT_EQ(box->findChild("first")->attribute("k").toUtf8(), "template-child");
    EXPECT_EQ(box->findChild("second")->attribute("value").toUtf8(), "1");
    // Template children exist before the element's own ones.
    EXPECT_LT(box->findChild("second")->serial(), box->findChild("own")->serial());
}

TEST_F(CObjectTemplates, LookupGoesUpThenToTheApplication)
{
    const CFakeNode nearBody{{{"where", "near"}}, {}};
    const CFakeNode farBody{{{"where", "far"}}, {}};
    const CFakeNode globalBody{{{"where", "global"}}, {}};
    CObject* mid = child(*root, "core:object", "mid");
    CObject* leaf = child(*mid, "core:object", "leaf");
    defineFakeTemplate(*root, "t", "core:object", farBody);
    defineFakeTemplate(*application.templates, "t", "core:object", globalBody);
    defineFakeTemplate(*application.templates, "g", "core:object", globalBody);
    EXPECT_EQ(load(*leaf, {"t", "x", {}, {}})->attribute("where").toUtf8(), "far");
    defineFakeTemplate(*mid, "t", "core:object", nearBody);
    EXPECT_EQ(load(*leaf, {"t", "y", {}, {}})->attribute("where").toUtf8(), "near");
    EXPECT_EQ(load(*leaf, {"g", "z", {}, {}})->attribute("where").toUtf8(), "global");
    // Without templates the registry decides: "t" is not a registered tag.
    CObject* out = nullptr;
    EXPECT_EQ(idOf(leaf->createChild("t", "w", false, out)),
              "zelstr_CObject_createChild_NoTemplate");
}

TEST_F(CObjectTemplates, TemplateNamesBaseTagsAndTheParser)
{
    // A template named like a registered tag is found first, and cannot be defined twice.
    const CFakeNode body{{{"value", "from-template"}}, {}};
    defineFakeTemplate(*root, "test:probe", "test:probe", body);
    EXPECT_EQ(load(*root, {"test:probe", "p", {}, {}})->attribute("value").toUtf8(),
              "from-template");
    CObject* out = nullptr;
    EXPECT_EQ(idOf(root->defineTemplate("test:probe", out)),
              "zelstr_CObject_defineTemplate_Duplicate");
    // A base tag that is not registered fails.
    defineFakeTemplate(*root, "ui:broken", "test:nowhere", body);
    const zel::CErrorPtr err = root->createChild("ui:broken", "b", true, out);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->text(), "Run-time template 'test:nowhere' does not exist.");
    // Expanding a body without a parser is an error.
    defineFakeTemplate(*root, "ui:thing", "core:object", body);
    CObject* made = child(*root, "ui:thing", "t");
    zel::CDeferredBodyParser* saved = zel::setDeferredBodyParser(nullptr);
    EXPECT_EQ(idOf(made->init()), "zelstr_CObject_init_NoParser");
    zel::setDeferredBodyParser(saved);
}

TEST_F(CObjectTemplates, InitQueueRunsInOrderAndStopsAtAFailure)
{
    CObject* obj = child(*root, "core:object", "q");
    std::vector<int> ran;
    auto record = [&](int n, bool fail)
    {
        return [&, n, fail](CObject&, zel::CInitItem& item) -> zel::CErrorPtr
        {
            ran.push_back(n);
            EXPECT_EQ(item.flags, zel::CInitItem::kHasCallback) << "0x20 is cleared when drained";
            return fail ? zel::makeError("zelstr_Test_init", "fail") : nullptr;
        };
    };
    obj->queueInit(record(1, false));
    auto silent = std::make_unique<zel::CInitItem>(); // no 0x40: its callback is not run
    silent->callback = record(99, false);
    obj->queueInitItem(std::move(silent));
    obj->queueInit(record(2, true));
    obj->queueInit(record(3, false));
    ASSERT_TRUE(obj->initTemplateChilds());
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
    EXPECT_NE(obj->state(), zel::kStateTemplateChildsCreated);
    EXPECT_TRUE(obj->hasPendingInitItems());
    ASSERT_FALSE(obj->initTemplateChilds());
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(obj->state(), zel::kStateTemplateChildsCreated);
}
