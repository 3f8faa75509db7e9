// Object tree: registry, naming and ordinals, child selection, paths, read-only rules.

#include "Core/Log.h"
#include "ObjectTestSupport.h"

#include <algorithm>

using namespace ktest;
using zel::CText;

namespace
{
class CObjectTree : public CObjectModelTest
{
};

class CRefusingParent : public CObject
{
public:
    static void registerClass(zel::CClassInfo& info) { CObject::registerClass(info); }
    zel::CErrorPtr onChildAdded(CObject& child) override
    {
        seen.push_back(child.name().toUtf8());
        if (child.plainName() == CText("refused"))
            return ZEL_ERROR(fullName().toUtf8(), "zelstr_Test_refused", "Refused.");
        return nullptr;
    }
    void onChildRemoved(CObject& child) override { removed.push_back(child.name().toUtf8()); }
    std::vector<std::string> seen;
    std::vector<std::string> removed;
};
} // namespace

TEST_F(CObjectTree, DuplicateRegistrationKeepsTheFirst)
{
    zel::CTypeRegistration extra;
    zel::CErrorPtr err = extra.add<CProbeChild>("test:probe");
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CObject_registerCreator");
    EXPECT_EQ(err->text(), "Creator for 'test:probe' has already been registered.");
    EXPECT_TRUE(extra.tags().empty());
    CObject* created = child(*root, "test:probe", "p");
    ASSERT_NE(created, nullptr);
    EXPECT_NE(dynamic_cast<CProbe*>(created), nullptr);
    EXPECT_EQ(dynamic_cast<CProbeChild*>(created), nullptr);
}

TEST_F(CObjectTree, RegistrationSetIsUndoneExactly)
{
    {
        zel::CTypeRegistration scoped;
        ASSERT_FALSE(scoped.add<CProbe>("test:scoped"));
        zel::CTypeEntry entry;
        EXPECT_TRUE(zel::findCreator("test:scoped", entry));
    }
    zel::CTypeEntry entry;
    EXPECT_FALSE(zel::findCreator("test:scoped", entry));
    EXPECT_TRUE(zel::findCreator("test:probe", entry)); // other sets are untouched
    // A cleared set can be registered again (application started a second time).
    registration.clear();
    EXPECT_FALSE(zel::findCreator("core:object", entry));
    EXPECT_FALSE(zel::registerProductTypes(registration));
    EXPECT_TRUE(zel::findCreator("core:object", entry));
}

TEST(TypeTable, IsSortedAndHoldsThePlainObject)
{
    const auto table = zel::productTypeTable();
    ASSERT_FALSE(table.empty());
    for (std::size_t i = 1; i < table.size(); ++i)
        EXPECT_LT(CText(table[i - 1].tag), CText(table[i].tag)) << table[i].tag;
    const auto it = std::find_if(table.begin(), table.end(),
                                 [](const zel::CTypeTableRow& r)
                                 { return CText(r.tag) == CText("core:object"); });
    ASSERT_NE(it, table.end());
    zel::CObjectPtr plain = it->creator();
    const CObject& made = *plain;
    EXPECT_EQ(typeid(made), typeid(CObject));
}

TEST_F(CObjectTree, HandlerTablesInheritAndReplace)
{
    const zel::CClassInfo& base = zel::CClassInfo::of<CObject>();
    const zel::CClassInfo& probe = zel::CClassInfo::of<CProbe>();
    const zel::CClassInfo& derived = zel::CClassInfo::of<CProbeChild>();
    EXPECT_NE(base.findEvent("release-child-bridged"), nullptr);
    EXPECT_EQ(base.findAttribute("value"), nullptr);
    EXPECT_NE(derived.findEvent("release-child-bridged"), nullptr);
    ASSERT_NE(derived.findEvent("ping"), nullptr);
    EXPECT_EQ(derived.findEvent("ping")->flags, 0x5);
    EXPECT_NE(probe.findAttribute("value"), derived.findAttribute("value"));
    EXPECT_EQ(&zel::CClassInfo::of<CProbe>(), &probe); // built once

    CObject* p = child(*root, "test:probe-child", "p");
    ASSERT_FALSE(p->setAttribute("value", "7"));
    auto* typed = static_cast<CProbeChild*>(p);
    EXPECT_TRUE(typed->values.empty()); // the base entry was replaced
    EXPECT_EQ(typed->childValues, std::vector<std::string>{"7"});
}

TEST_F(CObjectTree, OrdinalsAndNames)
{
    CObject* p0 = child(*root, "core:object", "p");
    CObject* p1 = child(*root, "core:object", "p");
    CObject* p2 = child(*root, "core:object", "p");
    EXPECT_EQ(p0->name().toUtf8(), "p");
    EXPECT_EQ(p1->name().toUtf8(), "p#1");
    EXPECT_EQ(p2->name().toUtf8(), "p#2");
    EXPECT_EQ(p2->plainName().toUtf8(), "p");
    EXPECT_EQ(p2->fullName().toUtf8(), "root.p#2");
    EXPECT_EQ(p2->tag().toUtf8(), "core:object");
    EXPECT_EQ(p2->root(), root.get());
    EXPECT_LT(p0->serial(), p1->serial());

    // An explicit ordinal is taken as asked and does not move the counter...
    CObject* p7 = child(*root, "core:object", "p#7");
    EXPECT_EQ(p7->ordinal(), 7);
    EXPECT_EQ(p7->name().toUtf8(), "p#7");
    // ...which then skips ordinals in use.
    CObject* e5 = child(*root, "core:object", "q#3");
    CObject* q = child(*root, "core:object", "q");
    EXPECT_EQ(q->ordinal(), 1) << "counter starts after the first child: " << e5->name().toUtf8();
    CObject* q2 = child(*root, "core:object", "q");
    CObject* q4 = child(*root, "core:object", "q");
    EXPECT_EQ(q2->ordinal(), 2);
    EXPECT_EQ(q4->ordinal(), 4);

    CObject* dup = nullptr;
    zel::CErrorPtr err = root->createChild("core:object", "p#7", false, dup);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CObject_addChild_Duplicate");
    EXPECT_EQ(dup, nullptr);

    // Removing a child keeps the counter: the next one does not reuse its ordinal.
    p2->destroy();
    CObject* p3 = child(*root, "core:object", "p");
    EXPECT_EQ(p3->ordinal(), 3);
}

TEST_F(CObjectTree, ChildSelection)
{
    for (int i = 0; i < 3; ++i)
        child(*root, "core:object", "p")->setAttributeRaw("i", std::to_string(i));
    child(*root, "core:object", "p#10")->setAttributeRaw("i", "10");
    struct Case
    {
        const char* selector;
        const char* expected; // attribute "i" of the selected child, or nullptr
    };
    const Case cases[] = {
        {"p", "0"},        {"p#2", "2"},     {"p#10", "10"}, {"p#0xA", "10"},    {"p#-0", "10"},
        {"p#-1", "2"},     {"p#+0", "0"},    {"p#+1", "1"},  {"p#+3", "10"},     {"p#+4", nullptr},
        {"p#-4", nullptr}, {"p#5", nullptr}, {"p#zz", "0"},  {"p#", "0"},        {"p#+", "0"},
        {"p#-x", "10"},    {"q", nullptr},   {"", nullptr},  {"p#+-1", nullptr},
    };
    for (const Case& c : cases)
    {
        CObject* found = root->findChild(c.selector);
        if (c.expected == nullptr)
            EXPECT_EQ(found, nullptr) << c.selector;
        else
        {
            ASSERT_NE(found, nullptr) << c.selector;
            EXPECT_EQ(found->attribute("i").toUtf8(), c.expected) << c.selector;
        }
    }
}

TEST_F(CObjectTree, PathResolution)
{
    CFakeApplication application;
    CObject* plugin = child(*root, "core:object", "plugin");
    CObject* modMain = child(*plugin, "core:object", "modMain");
    CObject* bypass = child(*modMain, "core:object", "modBypass");
    CObject* enable = child(*bypass, "core:object", "enable");
    CObject* sibling = child(*modMain, "core:object", "interface-client-connector");
    child(*modMain, "core:object", "x");
    CObject* rootX = child(*root, "core:object", "x");
    CObject* second = child(*modMain, "core:object", "modBypass");
    CObject* sharedAudio = nullptr;
    ASSERT_FALSE(application.shared->createChild("core:object", "audio", false, sharedAudio));
    CObject* sharedMain = nullptr;
    ASSERT_FALSE(sharedAudio->createChild("core:object", "modMain", false, sharedMain));

    struct Case
    {
        CObject* origin;
        const char* path;
        CObject* expected;
    };
    const Case cases[] = {
        {enable, "plugin.modMain.modBypass.enable", enable},
        {sharedMain, "plugin.modMain", nullptr}, // other tree: its root has no "plugin"
        {bypass, "^interface-client-connector", sibling},
        {enable, "^^", modMain},
        {enable, "^^^^", root.get()},
        {enable, "^^^^^", nullptr},
        {root.get(), "^", nullptr},
        {bypass, ".", bypass},
        {bypass, "", nullptr},
        {bypass, "enable", nullptr}, // plain names start at the root
        {bypass, ".enable", enable},
        {bypass, "..enable", enable},
        {modMain, "modBypass#1", nullptr},
        {modMain, ".modBypass#1", second},
        {modMain, ".modBypass#-0.", nullptr},
        {modMain, ".modBypass.", nullptr}, // ends right after a name
        {modMain, ".modBypass..", bypass},
        {enable, "/x", rootX},
        {enable, "^/x", rootX},
        {enable, "/plugin.modMain.x", modMain->findChild("x")},
        {enable, "^.^.x", modMain->findChild("x")},
        {enable, "plugin.nothing.enable", nullptr},
        {enable, "shared::audio.modMain", sharedMain},
        {enable, "shared::audio", sharedAudio},
        {enable, "shared::.", application.shared.get()},
        {enable, "shared::", nullptr},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.origin->findObject(c.path), c.expected)
            << c.origin->fullName().toUtf8() << " : '" << c.path << "'";

    // absolutePath resolves back to the object from anywhere in its tree.
    for (CObject* o : {root.get(), plugin, enable, second})
        EXPECT_EQ(sibling->findObject(o->absolutePath()), o) << o->absolutePath().toUtf8();
    EXPECT_EQ(enable->findObject(sharedMain->absolutePath()), sharedMain);
    EXPECT_EQ(sharedMain->absolutePath().toUtf8(), "shared::audio.modMain");
}

TEST_F(CObjectTree, SharedPathsNeedAnApplication)
{
    CObject* a = child(*root, "core:object", "a");
    EXPECT_EQ(a->findObject("shared::."), nullptr);
    EXPECT_EQ(a->findObject("shared::a"), nullptr);
}

TEST_F(CObjectTree, CreationFailures)
{
    CObject* out = nullptr;
    zel::CErrorPtr err = root->createChild("test:unknown", "u", true, out);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CObject_createChild_NoTemplate");
    EXPECT_EQ(err->text(), "Run-time template 'test:unknown' does not exist.");
    EXPECT_NE(err->trail().at(0).find(" ) // root"), std::string::npos);

    CProbe* probe = nullptr;
    err = root->createChild<CProbe>("core:object", "plain", false, probe);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CObject_createChild_InvalidObjectClass");
    EXPECT_EQ(err->text(),
              "Object of invalid class created (child tag 'core:object', child name 'plain').");
    EXPECT_EQ(probe, nullptr);
    EXPECT_EQ(root->childCount(), 0u);
    // A derived class passes the typed check.
    EXPECT_FALSE(root->createChild<CProbe>("test:probe-child", "ok", false, probe));
    EXPECT_NE(probe, nullptr);
}

TEST_F(CObjectTree, ReadOnlyObjectsAcceptNoChildren)
{
    CObject* a = child(*root, "core:object", "a");
    ASSERT_FALSE(a->initChilds()); // no application: becomes read-only
    EXPECT_TRUE(a->isReadOnly());
    EXPECT_EQ(a->state(), zel::kStateChildsInitialised);
    CObject* out = nullptr;
    zel::CErrorPtr err = a->createChild("core:object", "b", false, out);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CObject_addChild_ReadOnly");
    EXPECT_EQ(err->text(), "Error adding child to read-only object.");
    err = a->addChild(CObject::make<CObject>(), "c");
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CObject_addChild_ReadOnly");
    EXPECT_EQ(a->childCount(), 0u);

    CFakeApplication application;
    CObject* b = child(*root, "core:object", "b");
    ASSERT_FALSE(b->initChilds());
    EXPECT_FALSE(b->isReadOnly());
}

TEST_F(CObjectTree, AddChildHooksAndFailure)
{
    auto parentPtr = CObject::make<CRefusingParent>();
    parentPtr->setRootName("host");
    CRefusingParent& parent = *parentPtr;
    zel::CObjectRef refused;
    {
        auto candidate = CObject::make<CObject>();
        refused = candidate->weakRef();
        zel::CErrorPtr err = parent.addChild(std::move(candidate), "refused");
        ASSERT_TRUE(err);
        EXPECT_EQ(err->id(), "zelstr_Test_refused");
        EXPECT_EQ(err->trail().size(), 2u);
    }
    EXPECT_FALSE(refused) << "a refused child is destroyed";
    EXPECT_EQ(parent.findChild("refused"), nullptr);

    auto moved = CObject::make<CObject>();
    CObject* grandChild = nullptr;
    ASSERT_FALSE(moved->createChild("core:object", "inner", false, grandChild));
    ASSERT_FALSE(parent.addChild(std::move(moved), "kept"));
    EXPECT_EQ(grandChild->fullName().toUtf8(), "host.kept.inner");
    EXPECT_EQ(grandChild->root(), &parent);
    EXPECT_EQ(parent.seen, (std::vector<std::string>{"refused", "kept"}));

    CObject* kept = parent.findChild("kept");
    zel::CObjectPtr back = kept->detachFromParent();
    ASSERT_EQ(back.get(), kept);
    EXPECT_EQ(parent.removed, std::vector<std::string>{"kept"});
    EXPECT_EQ(kept->parent(), nullptr);
    EXPECT_EQ(grandChild->root(), kept);
    EXPECT_EQ(grandChild->fullName().toUtf8(), "kept.inner");
}

TEST_F(CObjectTree, TraceLineNamesObjectAndTag)
{
    std::vector<std::string> lines;
    auto previous = zel::setDiagLogSink([&](std::string_view l) { lines.emplace_back(l); });
    zel::setTracing(true);
    child(*root, "test:probe", "t");
    zel::setTracing(false);
    child(*root, "test:probe", "u");
    zel::setDiagLogSink(previous);
    EXPECT_EQ(lines, std::vector<std::string>{"Creating CObject \"root.t\" (tag \"test:probe\")"});
}

TEST_F(CObjectTree, DestroyReleasesBottomUpAndClearsWeakRefs)
{
    CObject* a = child(*root, "core:object", "a");
    CObject* b = child(*a, "core:object", "b");
    zel::CObjectRef refA = a->weakRef();
    zel::CObjectRef refB = b->weakRef();
    a->destroy();
    EXPECT_FALSE(refA);
    EXPECT_FALSE(refB);
    EXPECT_EQ(root->findChild("a"), nullptr);
}
