// The description loader: compiled sources loaded into object trees, templates, lifecycle,
// failures, and hostile bytes (truncations, bad indexes) assembled by hand.

#include "Core/ObjectTestSupport.h"

#include "Core/DescriptionLoader.h"
#include "Core/ResourceStore.h"
#include "DescCompiler/DescCompiler.h"
#include "Support/ErrorText.h"
#include "Tools/DescBytes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace
{

using Bytes = std::vector<std::uint8_t>;
using CBytes = kelvtest::CDescBytes;
using kelvtest::idAndText;
using ktest::CObjectModelTest;
using ktest::CProbe;
using zel::CErrorPtr;
using zel::CObject;
using zel::CText;
using zel::EDescriptionBytes;

Bytes compileOk(const std::string& body)
{
    Bytes out;
    const CErrorPtr err =
        zel::CDescCompiler::compile("<description>" + body + "</description>", "test.xml", out);
    EXPECT_FALSE(err) << err->text();
    return out;
}

class DescriptionLoader : public CObjectModelTest
{
protected:
    CErrorPtr load(const Bytes& bytes, bool lifecycle = true,
                   EDescriptionBytes mode = EDescriptionBytes::kCopied)
    {
        return zel::loadDescriptionFromMemory(*root, bytes.data(), bytes.size(), lifecycle, mode);
    }
    void loadOk(const Bytes& bytes, bool lifecycle = true)
    {
        const CErrorPtr err = load(bytes, lifecycle);
        ASSERT_FALSE(err) << err->details();
    }
    // A fresh root after a failed load.
    void resetRoot()
    {
        root = CObject::make<CObject>();
        root->setRootName("root");
    }
};

std::string shape(const CObject& object)
{
    std::string out = object.name().toUtf8() + '(' + object.tag().toUtf8();
    for (const auto& [name, value] : object.attributes())
        out += ' ' + name.toUtf8() + '=' + value.text().toUtf8();
    out += ")[";
    for (const CObject* child : object.childList())
        out += shape(*child) + ';';
    return out + ']';
}

TEST_F(DescriptionLoader, BuildsTreeWithAttributesContentAndOrdinals)
{
    loadOk(compileOk(R"(
        <core:object name="a" x="1" y="two">
          <core:object name="p">Some  text
             here</core:object>
          <core:object name="p" k="v"/>
        </core:object>
        <test:probe name="b" value="7"/>)"));
    EXPECT_EQ(shape(*root),
              "root()[a(core:object x=1 y=two)[p(core:object)[content(content "
              "value=Some text here)[];];p#1(core:object k=v)[];];b(test:probe value=7)[];]");
    EXPECT_EQ(dynamic_cast<CProbe&>(*root->findObject("b")).values, std::vector<std::string>{"7"});
    for (const char* path : {".", "a", "a.p#1", "a.p.content", "b"})
        EXPECT_EQ(root->findObject(path)->state(), zel::kStateLoaded) << path;
    EXPECT_TRUE(root->isReadOnly()); // without an application, finished objects lock
}

TEST_F(DescriptionLoader, RootLifecycleIsOptionalAndEmptyOrFalseNeedsAnExistingAttribute)
{
    // Loaded without the root's lifecycle: the elements below it still run theirs.
    root->setAttributeRaw("had", "1");
    root->setAttributeRaw("flag", "true");
    loadOk(compileOk(R"(<core:object name="c" e="" f="false" t="true"/>)"), false);
    // The root element's attributes come from the <description> element; write them by hand:
    // had="", flag="false", new="".
    CBytes bytes;
    bytes.table({"", "had", "flag", "false", "new", "core:object"}).u32(0).u8(0);
    bytes.u16s({3, 1, 0, 2, 3, 4, 0, 0});
    loadOk(bytes.b, false);
    EXPECT_EQ(root->state(), zel::kStateCreated);
    EXPECT_FALSE(root->isReadOnly());
    EXPECT_EQ(root->findChild("c")->state(), zel::kStateLoaded);
    EXPECT_EQ(shape(*root), "root( flag=false had=)[c(core:object t=true)[];]");
}

TEST_F(DescriptionLoader, FailingChildIsRemovedAndEarlierSiblingsStay)
{
    const CErrorPtr err = load(compileOk(R"(
        <core:object name="first"/>
        <test:probe name="broken" value="bad"><core:object name="inner"/></test:probe>
        <core:object name="never"/>)"));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CProbe_value");
    EXPECT_NE(root->findChild("first"), nullptr);
    EXPECT_EQ(root->childCount(), 1u);
    // The trail names the failing object first and its parent last.
    EXPECT_NE(err->trail().front().find("root.broken"), std::string::npos);
    EXPECT_TRUE(err->trail().back().ends_with("// root")) << err->details();

    resetRoot();
    EXPECT_TRUE(idAndText(load(compileOk(R"(<core:object name="a"/><no:such name="b"/>)")))
                    .starts_with("zelstr_CObject_createChild_NoTemplate: "));
    EXPECT_EQ(root->childCount(), 1u);
}

TEST_F(DescriptionLoader, EveryTruncationFailsCleanly)
{
    const Bytes full = compileOk(R"(
        <template name="t" base="test:probe" value="{?d}"><core:object name="c" q="r"/></template>
        <core:object name="a" x="1"><core:object name="p">words</core:object></core:object>
        <t name="u" value="v"/>)");
    for (const EDescriptionBytes mode : {EDescriptionBytes::kCopied, EDescriptionBytes::kBorrowed})
    {
        for (std::size_t length = 0; length < full.size(); ++length)
        {
            resetRoot();
            // An exact-size copy, so that a read beyond it is caught by the sanitizers.
            const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
            const std::string said = idAndText(load(cut, true, mode));
            EXPECT_TRUE(said.starts_with("zelstr_CMemoryReader_")) << length << ": " << said;
        }
        resetRoot();
        ASSERT_FALSE(load(full, true, mode));
        // The template expands through the loader: its child, and its default under the
        // element's value.
        EXPECT_EQ(root->findObject("u.c")->attribute("q"), CText("r"));
        EXPECT_EQ(root->findObject("u")->attribute("value"), CText("v"));
        EXPECT_EQ(root->findObject("u")->templateObject(), root->templates().at("t").get());
    }
}

// Table {"", "core:object", "a", "template", "t"} and a root element whose one child is tail.
Bytes withChild(const CBytes& tail)
{
    CBytes bytes;
    bytes.table({"", "core:object", "a", "template", "t"}).u32(0).u8(0).u16(0).u16(1);
    bytes.b.insert(bytes.b.end(), tail.b.begin(), tail.b.end());
    return bytes.b;
}

TEST_F(DescriptionLoader, MalformedBytesAreReadsPastTheEnd)
{
    const std::string eof = "zelstr_CMemoryReader_read_EOF: Premature end of memory resource while "
                            "reading (pos ";
    const std::tuple<const char*, Bytes, std::string> cases[] = {
        // What is wrong, the bytes, the start of the error's identifier and text.
        {"tag index not below N", withChild(CBytes().u16s({9, 2}).u8(0).u16s({0, 0})),
         eof + "44, count 4, size 28)."},
        {"attribute value index not below N",
         withChild(CBytes().u16s({1, 2}).u8(0).u16s({1, 2, 5, 0})), eof + "28, count 4, size 28)."},
        {"template body past the end", withChild(CBytes().u16s({3, 4}).u8(1).u16(1).u32(1000)),
         "zelstr_CMemoryReader_consume_EOF: "},
        {"template without body", withChild(CBytes().u16s({3, 4}).u8(0).u16s({0, 0})),
         "zelstr_CDescriptionLoader_parseChild_TemplateNoBody: "},
        {"string table longer than the payload", CBytes().u32(1).u32(50).u32(4).u8(0).b,
         eof + "8, count 50, size 13)."},
        {"offset into the offset array", CBytes().u32(1).u32(6).u32(0).u8('x').u8(0).u32(0).b,
         eof + "8, count 1, size 14)."},
        {"offset beyond the pool", CBytes().u32(1).u32(6).u32(6).u8('x').u8(0).u32(0).b,
         eof + "14, count 1, size 14)."},
        {"string without terminator", CBytes().u32(1).u32(6).u32(4).u8('x').u8('y').u32(0).b,
         eof + "14, count 1, size 14)."},
    };
    for (const auto& [what, bytes, expected] : cases)
    {
        resetRoot();
        const std::string said = idAndText(load(bytes));
        EXPECT_TRUE(said.starts_with(expected)) << what << ": " << said;
        EXPECT_EQ(root->childCount() + root->templates().size(), 0u) << what;
    }
}

TEST_F(DescriptionLoader, ResourceBombsStopWithAnError)
{
    // 400 nested elements; a template instantiating itself; seven templates, each holding eight
    // of the previous one (8^7 objects); 30 levels each doubling its parent's value.
    CBytes deep;
    deep.table({"", "core:object", "a"}).u32(0).u8(0).u16(0);
    for (int i = 0; i < 400; ++i)
        deep.u16s({1, 1, 2}).u8(0).u16(0);
    deep.u16(0);
    std::string many = R"(<template name="t0" base="core:object"/>)";
    for (int i = 1; i < 7; ++i)
    {
        many += "<template name=\"t" + std::to_string(i) + "\" base=\"core:object\">";
        for (int k = 0; k < 8; ++k)
            many += "<t" + std::to_string(i - 1) + " name=\"c\"/>";
        many += "</template>";
    }
    std::string doubling;
    for (int i = 0; i < 30; ++i)
        doubling = R"(<core:object name="n" v="{/^}{/^}">)" + doubling + "</core:object>";
    const std::pair<Bytes, const char*> cases[] = {
        {deep.b, "zelstr_CDescriptionLoader_parseNode_TooDeep"},
        {compileOk(R"(<template name="t" base="core:object"><t name="again"/></template>
                      <t name="x"/>)"),
         "zelstr_CDescriptionLoader_parseNode_TooDeep"},
        {compileOk(many + R"(<t6 name="x"/>)"), "zelstr_CDescriptionLoader_load_TooManyObjects"},
        {compileOk(doubling), "zelstr_CObject_setAttribute_TooLong"},
    };
    for (const auto& [bytes, id] : cases)
    {
        resetRoot();
        root->setAttributeRaw("v", "ab");
        EXPECT_TRUE(idAndText(load(bytes)).starts_with(id + std::string(": "))) << id;
        EXPECT_EQ(root->childCount(), 0u) << id;
    }
}

TEST_F(DescriptionLoader, BuiltInDescriptionIsParsedInPlace)
{
    ASSERT_FALSE(zel::loadDescription(*root, "SharedData.xml", true));
    // Template bodies borrow the carried bytes.
    zel::SResourcePayload payload;
    ASSERT_TRUE(zel::findBuiltInResource("SharedData.xml", payload));
    const zel::CDeferredBody* body = root->templates().at("plugin")->deferredBody();
    ASSERT_NE(body, nullptr);
    EXPECT_FALSE(body->isOwned());
    EXPECT_GE(body->data(), payload.data);
    EXPECT_LE(body->data() + body->size(), payload.data + payload.size);
}

TEST_F(DescriptionLoader, FileDescriptionGetsOwnedBodies)
{
    const Bytes bytes =
        compileOk(R"(<template name="t" base="test:probe" value="3"/><t name="u"/>)");
    const auto path = std::filesystem::temp_directory_path() /
                      ("kelv_desc_" + std::to_string(std::random_device()()) + ".bin");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    const CErrorPtr err = zel::loadDescription(*root, path.string(), true);
    std::filesystem::remove(path);
    ASSERT_FALSE(err) << err->details();
    EXPECT_TRUE(root->templates().at("t")->deferredBody()->isOwned());
    EXPECT_EQ(root->findObject("u")->attribute("value"), CText("3"));
}

} // namespace
