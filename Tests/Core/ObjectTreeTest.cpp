// Object tree: registry, naming and ordinals, child selection, paths, read-only rules.

#include "ObjectTestSupport.h"
#include "Support/ErrorText.h"

using namespace ktest;
using kelvtest::idOf;
using zel::CText;

namespace
{
using CObjectTree = CObjectModelTest;

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

TEST_F(CObjectTree, DuplicateRegistrationKeepsTheFirstAndSetsUndoExactly)
{
    zel::CTypeEntry entry;
    {
        zel::CTypeRegistration extra;
        const zel::CErrorPtr err = extra.add<CProbeChild>("test:probe");
        ASSERT_TRUE(err);
        EXPECT_EQ(err->text(), "Creator for 'test:probe' has already been registered.");
        ASSERT_FALSE(extra.add<CProbe>("test:scoped"));
        EXPECT_TRUE(zel::findCreator("test:scoped", entry));
    }
    EXPECT_FALSE(zel::findCreator("test:scoped", entry));
    CObject* created = child(*root, "test:probe", "p"); // the first registration still holds
    EXPECT_NE(dynamic_cast<CProbe*>(created), nullptr);
    EXPECT_EQ(dynamic_cast<CProbeChild*>(created), nullptr);
    // A cleared set can be registered again (application started a second time).
    registration.clear();
    EXPECT_FALSE(zel::findCreator("core:object", entry));
    EXPECT_FALSE(zel::registerProductTypes(registration));
    EXPECT_TRUE(zel::findCreator("core:object", entry));
}

TEST_F(CObjectTree, HandlerTablesInheritAndReplace)
{
    const zel::CClassInfo& derived = zel::CClassInfo::of<CProbeChild>();
    ASSERT_NE(derived.findEvent("ping"), nullptr);
    EXPECT_EQ(derived.findEvent("ping")->flags, 0x5);
    auto* p = static_cast<CProbeChild*>(child(*root, "test:probe-child", "p"));
    ASSERT_FALSE(p->setAttribute("value", "7"));
    EXPECT_TRUE(p->values.empty()); // the base entry was replaced
    EXPECT_EQ(p->childValues, std::vector<std::string>{"7"});
}

TEST_F(CObjectTree, OrdinalsAndNames)
{
    std::vector<CObject*> p;
    for (int i = 0; i < 3; ++i)
        p.push_back(child(*root, "core:object", "p"));
    EXPECT_EQ(p[0]->name().toUtf8() + " " + p[1]->name().toUtf8() + " " + p[2]->name().toUtf8(),
              "p p#1 p#2");
    EXPECT_EQ(p[2]->plainName().toUtf8(), "p");
    EXPECT_EQ(p[2]->fullName().toUtf8(), "root.p#2");
    // An explicit ordinal is taken as asked and does not move the counter, which then skips
    // ordinals in use.
    EXPECT_EQ(child(*root, "core:object", "p#7")->ordinal(), 7);
    child(*root, "core:object", "q#3");
    for (const int expected : {1, 2, 4})
        EXPECT_EQ(child(*root, "core:object", "q")->ordinal(), expected);
    CObject* dup = nullptr;
    EXPECT_EQ(idOf(root->createChild("core:object", "p#7", false, dup)),
              "zelstr_CObject_addChild_Duplicate");
    EXPECT_EQ(dup, nullptr);
    // Removing a child keeps the counter: the next one does not reuse its ordinal.
    p[2]->destroy();
    EXPECT_EQ(child(*root, "core:object", "p")->ordinal(), 3);
}

TEST_F(CObjectTree, ChildSelection)
{
    for (int i = 0; i < 3; ++i)
        child(*root, "core:object", "p")->setAttributeRaw("i", std::to_string(i));
    child(*root, "core:object", "p#10")->setAttributeRaw("i", "10");
    const std::pair<const char*, const char*> cases[] = {
        // Selector, attribute "i" of the selected child (nullptr: none).
        {"p", "0"},        {"p#2", "2"},     {"p#10", "10"}, {"p#0xA", "10"},    {"p#-0", "10"},
        {"p#-1", "2"},     {"p#+0", "0"},    {"p#+1", "1"},  {"p#+3", "10"},     {"p#+4", nullptr},
        {"p#-4", nullptr}, {"p#5", nullptr}, {"p#zz", "0"},  {"p#", "0"},        {"p#+", "0"},
        {"p#-x", "10"},    {"q", nullptr},   {"", nullptr},  {"p#+-1", nullptr},
    };
    for (const auto& [selector, expected] : cases)
    {
        const CObject* found = root->findChild(selector);
        EXPECT_EQ(found ? found->attribute("i").toUtf8() : "none", expected ? expected : "none")
            << selector;
    }
}

TEST_F(CObjectTree, PathResolution)
{
    // Without an application "shared::" selects nothing.
    EXPECT_EQ(root->findObject("shared::."), nullptr);
    CFakeApplication application;
    CObject* plugin = child(*root, "core:object", "plugin");
    CObject* modMain = child(*plugin, "core:object", "modMain");
    CObject* bypass = child(*modMain, "core:object", "modBypass");
    CObject* enable = child(*bypass, "core:object", "enable");
    CObject* sibling = child(*modMain, "core:object", "interface-client-connector");
    CObject* mainX = child(*modMain, "core:object", "x");
    CObject* rootX = child(*root, "core:object", "x");
    CObject* second = child(*modMain, "core:object", "modBypass");
    CObject* sharedAudio = child(*application.shared, "core:object", "audio");
    CObject* sharedMain = child(*sharedAudio, "core:object", "modMain");

    const std::tuple<CObject*, const char*, CObject*> cases[] = {
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
        {modMain, ".modBypass#1", second},
        {modMain, ".modBypass#-0.", nullptr},
        {modMain, ".modBypass.", nullptr}, // ends right after a name
        {modMain, ".modBypass..", bypass},
        {enable, "/x", rootX},
        {enable, "^/x", rootX},
        {enable, "/plugin.modMain.x", mainX},
        {enable, "^.^.x", mainX},
        {enable, "plugin.nothing.enable", nullptr},
        {enable, "shared::audio.modMain", sharedMain},
        {enable, "shared::.", application.shared.get()},
        {enable, "shared::", nullptr},
    };
    for (const auto& [origin, path, expected] : cases)
        EXPECT_EQ(origin->findObject(path), expected)
            << origin->fullName().toUtf8() << " : '" << path << "'";

    // absolutePath resolves back to the object from anywhere in its tree.
    for (CObject* o : {root.get(), enable, second, sharedMain})
        EXPECT_EQ(sibling->findObject(o->absolutePath()), o) << o->absolutePath().toUtf8();
    EXPECT_EQ(sharedMain->absolutePath().toUtf8(), "shared::audio.modMain");
}

TEST_F(CObjectTree, CreationFailures)
{
    CObject* out = nullptr;
    zel::CErrorPtr err = root->createChild("test:unknown", "u", true, out);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->text(), "Run-time template 'test:unknown' does not exist.");
    EXPECT_TRUE(err->trail().at(0).ends_with(" ) // root"));
    CProbe* probe = nullptr;
    err = root->createChild<CProbe>("core:object", "plain", false, probe);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->text(),
              "Object of invalid class created (child tag 'core:object', child name 'plain').");
    EXPECT_EQ(probe, nullptr);
    EXPECT_EQ(root->childCount(), 0u);
    EXPECT_FALSE(root->createChild<CProbe>("test:probe-child", "ok", false, probe)); // derived
    // Without an application an object turns read-only once its children are initialised.
    ASSERT_FALSE(probe->initChilds());
    err = probe->createChild("core:object", "b", false, out);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->text(), "Error adding child to read-only object.");
    EXPECT_EQ(idOf(probe->addChild(CObject::make<CObject>(), "c")),
              "zelstr_CObject_addChild_ReadOnly");
    EXPECT_EQ(probe->childCount(), 0u);
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
    auto candidate = CObject::make<CObject>();
    const zel::CObjectRef refused = candidate->weakRef();
    EXPECT_EQ(idOf(parent.addChild(std::move(candidate), "refused")), "zelstr_Test_refused");
    EXPECT_FALSE(refused) << "a refused child is destroyed";
    EXPECT_EQ(parent.findChild("refused"), nullptr);

    auto moved = CObject::make<CObject>();
    CObject* grandChild = child(*moved, "core:object", "inner");
    ASSERT_FALSE(parent.addChild(std::move(moved), "kept"));
    EXPECT_EQ(grandChild->fullName().toUtf8(), "host.kept.inner");
    EXPECT_EQ(grandChild->root(), &parent);
    EXPECT_EQ(parent.seen, (std::vector<std::string>{"refused", "kept"}));

    CObject* kept = parent.findChild("kept");
    zel::CObjectPtr back = kept->detachFromParent();
    ASSERT_EQ(back.get(), kept);
    EXPECT_EQ(parent.removed, std::vector<std::string>{"kept"});
    EXPECT_EQ(grandChild->root(), kept);
    EXPECT_EQ(grandChild->fullName().toUtf8(), "kept.inner");
    // Releasing the last owner destroys the subtree and clears weak references.
    const zel::CObjectRef innerRef = grandChild->weakRef();
    back.reset();
    EXPECT_FALSE(innerRef);
}
