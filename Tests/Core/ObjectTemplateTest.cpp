// Run-time templates and the lifecycle: expansion through the body parser hook, the order in
// which element, template and pending values win, template lookup, the init queue.

#include "ObjectTestSupport.h"

using namespace ktest;
using zel::CText;

namespace
{
class CObjectTemplates : public CObjectModelTest
{
protected:
    CFakeBodyParser parser;
    CFakeApplication application; // keeps loaded objects writable
};
} // namespace

TEST_F(CObjectTemplates, ElementValuesWinOverTemplateValues)
{
    CFakeNode body;
    body.attributes = {{"value", "template"},
                       {"colour", "blue"},
                       {"size", "{?-1}"},
                       {"label", "{/^?Panel}"},
                       {"empty", ""}};
    defineFakeTemplate(*root, "ui:thing", "test:probe", body);
    root->setAttributeRaw("label", "RootLabel");

    CObject* made = nullptr;
    CFakeChild element{"ui:thing", "t", {{"value", "element"}, {"size", "12"}}, {}};
    ASSERT_FALSE(loadElement(*root, element, &made));
    auto* probe = dynamic_cast<CProbe*>(made);
    ASSERT_NE(probe, nullptr) << "the body's base tag decides the class";
    EXPECT_EQ(made->tag().toUtf8(), "ui:thing");
    EXPECT_EQ(made->templateObject(), root->findTemplate("ui:thing"));
    EXPECT_EQ(made->attribute("value").toUtf8(), "element");
    EXPECT_EQ(made->attribute("colour").toUtf8(), "blue");
    EXPECT_EQ(made->attribute("size").toUtf8(), "12");
    EXPECT_EQ(made->attribute("label").toUtf8(), "RootLabel");
    EXPECT_FALSE(made->hasAttribute("empty"));
    // The element's value went through the handler once; the template's never did.
    EXPECT_EQ(probe->values, std::vector<std::string>{"element"});
    EXPECT_EQ(made->state(), zel::kStateLoaded);

    // Without element values the template's defaults apply, references included.
    CObject* plain = nullptr;
    ASSERT_FALSE(loadElement(*root, CFakeChild{"ui:thing", "u", {}, {}}, &plain));
    EXPECT_EQ(plain->attribute("value").toUtf8(), "template");
    EXPECT_EQ(plain->attribute("size").toUtf8(), "-1");
}

TEST_F(CObjectTemplates, PendingValuesApplyAfterTemplateValues)
{
    CFakeNode body;
    body.attributes = {{"value", "template"}, {"other", "t"}};
    defineFakeTemplate(*root, "ui:thing", "test:probe", body);
    CObject* made = child(*root, "ui:thing", "t");
    made->setPendingAttribute("value", "pending");
    ASSERT_FALSE(made->init());
    EXPECT_EQ(made->attribute("value").toUtf8(), "pending");
    EXPECT_EQ(made->attribute("other").toUtf8(), "t");
    EXPECT_TRUE(made->pendingAttributes().empty());
    EXPECT_EQ(made->state(), zel::kStateAttributesInitialised);
    EXPECT_EQ(static_cast<CProbe*>(made)->values, std::vector<std::string>{"pending"});
}

TEST_F(CObjectTemplates, TemplateChildrenAreCreatedInInitTemplateChilds)
{
    CFakeNode body;
    body.attributes = {{"a", "1"}};
    body.children = {
        CFakeChild{"core:object", "first", {{"k", "template-child"}}, {}},
        CFakeChild{"test:probe", "second", {{"value", "{/^ a}"}}, {}},
    };
    defineFakeTemplate(*root, "ui:box", "core:object", body);
    CObject* box = nullptr;
    CFakeChild element{"ui:box", "box", {}, {CFakeChild{"core:object", "own", {}, {}}}};
    ASSERT_FALSE(loadElement(*root, element, &box));
    ASSERT_EQ(parser.calls.size(), 2u);
    EXPECT_EQ(parser.calls[0], (std::pair<std::string, zel::EBodyPart>{
                                   "root.box", zel::EBodyPart::kAttributesOnly}));
    EXPECT_EQ(parser.calls[1],
              (std::pair<std::string, zel::EBodyPart>{"root.box", zel::EBodyPart::kChildrenOnly}));
    ASSERT_NE(box->findChild("first"), nullptr);
    EXPECT_EQ(box->findChild("first")->attribute("k").toUtf8(), "template-child");
    EXPECT_EQ(box->findChild("second")->attribute("value").toUtf8(), "1");
    // Template children exist before the element's own ones.
    EXPECT_LT(box->findChild("second")->serial(), box->findChild("own")->serial());
}

TEST_F(CObjectTemplates, LookupGoesUpThenToTheApplication)
{
    CFakeNode nearBody{{{"where", "near"}}, {}};
    CFakeNode farBody{{{"where", "far"}}, {}};
    CFakeNode globalBody{{{"where", "global"}}, {}};
    CObject* mid = child(*root, "core:object", "mid");
    CObject* leaf = child(*mid, "core:object", "leaf");
    defineFakeTemplate(*root, "t", "core:object", farBody);
    defineFakeTemplate(*application.templates, "t", "core:object", globalBody);
    defineFakeTemplate(*application.templates, "g", "core:object", globalBody);

    CObject* made = nullptr;
    ASSERT_FALSE(loadElement(*leaf, CFakeChild{"t", "x", {}, {}}, &made));
    EXPECT_EQ(made->attribute("where").toUtf8(), "far");
    defineFakeTemplate(*mid, "t", "core:object", nearBody);
    ASSERT_FALSE(loadElement(*leaf, CFakeChild{"t", "y", {}, {}}, &made));
    EXPECT_EQ(made->attribute("where").toUtf8(), "near");
    ASSERT_FALSE(loadElement(*leaf, CFakeChild{"g", "z", {}, {}}, &made));
    EXPECT_EQ(made->attribute("where").toUtf8(), "global");

    // Without templates the registry decides: "t" is not a registered tag.
    CObject* out = nullptr;
    zel::CErrorPtr err = leaf->createChild("t", "w", false, out);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CObject_createChild_NoTemplate");
}

TEST_F(CObjectTemplates, TemplateNamedLikeARegisteredTagIsFoundFirst)
{
    CFakeNode body{{{"value", "from-template"}}, {}};
    defineFakeTemplate(*root, "test:probe", "test:probe", body);
    CObject* made = nullptr;
    ASSERT_FALSE(loadElement(*root, CFakeChild{"test:probe", "p", {}, {}}, &made));
    EXPECT_EQ(made->attribute("value").toUtf8(), "from-template");

    CObject* holder = nullptr;
    zel::CErrorPtr err = root->defineTemplate("test:probe", holder);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CObject_defineTemplate_Duplicate");
}

TEST_F(CObjectTemplates, TemplateWithUnregisteredBaseTagFails)
{
    CFakeNode body;
    defineFakeTemplate(*root, "ui:broken", "test:nowhere", body);
    CObject* out = nullptr;
    zel::CErrorPtr err = root->createChild("ui:broken", "b", true, out);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->text(), "Run-time template 'test:nowhere' does not exist.");
}

TEST_F(CObjectTemplates, ExpansionWithoutParserIsAnError)
{
    CFakeNode body{{{"a", "1"}}, {}};
    defineFakeTemplate(*root, "ui:thing", "core:object", body);
    CObject* made = child(*root, "ui:thing", "t");
    zel::CDeferredBodyParser* saved = zel::setDeferredBodyParser(nullptr);
    zel::CErrorPtr err = made->init();
    zel::setDeferredBodyParser(saved);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CObject_init_NoParser");
}

TEST_F(CObjectTemplates, InitQueueRunsInOrderAndStopsAtAFailure)
{
    CObject* obj = child(*root, "core:object", "q");
    std::vector<int> ran;
    std::vector<std::uint32_t> flagsSeen;
    auto record = [&](int n, bool fail)
    {
        return [&, n, fail](CObject&, zel::CInitItem& item) -> zel::CErrorPtr
        {
            ran.push_back(n);
            flagsSeen.push_back(item.flags);
            return fail ? zel::makeError("zelstr_Test_init", "fail") : nullptr;
        };
    };
    obj->queueInit(record(1, false));
    auto silent = std::make_unique<zel::CInitItem>(); // no 0x40: its callback is not run
    silent->callback = record(99, false);
    obj->queueInitItem(std::move(silent));
    obj->queueInit(record(2, true));
    obj->queueInit(record(3, false));

    zel::CErrorPtr err = obj->initTemplateChilds();
    ASSERT_TRUE(err);
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
    for (std::uint32_t flags : flagsSeen)
        EXPECT_EQ(flags, zel::CInitItem::kHasCallback) << "0x20 is cleared when drained";
    EXPECT_NE(obj->state(), zel::kStateTemplateChildsCreated);
    EXPECT_TRUE(obj->hasPendingInitItems());
    ASSERT_FALSE(obj->initTemplateChilds());
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(obj->state(), zel::kStateTemplateChildsCreated);
}
