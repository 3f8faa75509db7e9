// The description loader: compiled sources loaded into object trees, templates, lifecycle,
// failures, and hostile bytes (truncations, bad indexes) assembled by hand.

#include "Core/ObjectTestSupport.h"

#include "Core/DescriptionLoader.h"
#include "Core/ResourceStore.h"
#include "DescCompiler/DescCompiler.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace
{

using Bytes = std::vector<std::uint8_t>;
using ktest::CObjectModelTest;
using ktest::CProbe;
using zel::CErrorPtr;
using zel::CObject;
using zel::EDescriptionBytes;

Bytes compileOk(const std::string& body)
{
    Bytes out;
    const std::string source = "<?xml version=\"1.0\"?>\n<description>" + body + "</description>";
    const CErrorPtr err = zel::CDescCompiler::compile(source, "test.xml", out);
    EXPECT_FALSE(err) << err->text();
    return out;
}

// Little-endian assembly of descriptions by hand: a string table, then node bytes.
struct CBytes
{
    Bytes b;
    CBytes& u8(unsigned v)
    {
        b.push_back(static_cast<std::uint8_t>(v));
        return *this;
    }
    CBytes& u16(unsigned v) { return u8(v & 0xFF).u8(v >> 8); }
    CBytes& u32(unsigned v) { return u16(v & 0xFFFF).u16(v >> 16); }
    // N, L, offsets and pool for strings kept in index order.
    CBytes& table(const std::vector<std::string>& strings)
    {
        const unsigned n = static_cast<unsigned>(strings.size());
        unsigned pool = 0;
        for (const std::string& s : strings)
            pool += static_cast<unsigned>(s.size() + 1);
        u32(n).u32(4 * n + pool);
        unsigned offset = 4 * n;
        for (const std::string& s : strings)
        {
            u32(offset);
            offset += static_cast<unsigned>(s.size() + 1);
        }
        for (const std::string& s : strings)
        {
            for (const char c : s)
                u8(static_cast<unsigned char>(c));
            u8(0);
        }
        return *this;
    }
};

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
    std::string out = object.name().toUtf8();
    out += '(';
    out += object.tag().toUtf8();
    for (const auto& [name, value] : object.attributes())
    {
        out += ' ';
        out += name.toUtf8();
        out += '=';
        out += value.text().toUtf8();
    }
    out += ')';
    const auto children = object.childList();
    if (!children.empty())
    {
        out += '[';
        for (const CObject* child : children)
        {
            out += shape(*child);
            out += ';';
        }
        out += ']';
    }
    return out;
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
              "value=Some text here);];p#1(core:object k=v);];b(test:probe value=7);]");
    auto* probe = dynamic_cast<CProbe*>(root->findObject("b"));
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe->values, std::vector<std::string>{"7"});
    for (const char* path : {"a", "a.p", "a.p#1", "a.p.content", "b"})
        EXPECT_EQ(root->findObject(path)->state(), zel::kStateLoaded) << path;
}

TEST_F(DescriptionLoader, TemplatesDefaultAttributesAndChildren)
{
    loadOk(compileOk(R"(
        <template name="t:knob" base="test:probe" value="{?5}" colour="{/^?Panel}" fixed="f">
          <core:object name="label" text="{?none}"/>
        </template>
        <core:object name="panel" colour="Red">
          <t:knob name="k1" value="9"/>
          <t:knob name="k2" fixed="mine"/>
        </core:object>)"));
    const CObject* holder = root->templates().at("t:knob").get();
    EXPECT_EQ(holder->state(), zel::kStateLoaded);
    ASSERT_NE(holder->deferredBody(), nullptr);
    EXPECT_EQ(holder->deferredBody()->baseTag(), zel::CText("test:probe"));

    auto* k1 = dynamic_cast<CProbe*>(root->findObject("panel.k1"));
    auto* k2 = dynamic_cast<CProbe*>(root->findObject("panel.k2"));
    ASSERT_TRUE(k1 && k2);
    // The element's value wins; "{?...}" picks it up when the template is applied.
    EXPECT_EQ(k1->attribute("value"), zel::CText("9"));
    EXPECT_EQ(k2->attribute("value"), zel::CText("5"));
    EXPECT_EQ(k1->attribute("colour"), zel::CText("Red"));
    EXPECT_EQ(k1->attribute("fixed"), zel::CText("f"));
    EXPECT_EQ(k2->attribute("fixed"), zel::CText("mine"));
    EXPECT_EQ(k1->values, std::vector<std::string>{"9"});
    for (const CObject* knob : {static_cast<CObject*>(k1), static_cast<CObject*>(k2)})
    {
        const CObject* label = knob->findChild("label");
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->attribute("text"), zel::CText("none"));
        EXPECT_EQ(label->state(), zel::kStateLoaded);
        EXPECT_EQ(knob->templateObject(), holder);
    }
}

TEST_F(DescriptionLoader, EmptyOrFalseValueIsStoredOnlyOverAnExistingAttribute)
{
    root->setAttributeRaw("had", "1");
    root->setAttributeRaw("flag", "true");
    loadOk(compileOk(R"(<core:object name="c" e="" f="false" t="true"/>)"), false);
    // The root element's attributes come from the <description> element; write them by hand.
    CBytes bytes;
    bytes.table({"", "had", "flag", "false", "new", "core:object"})
        .u32(0)
        .u8(0)
        .u16(3)
        .u16(1)
        .u16(0)
        .u16(2)
        .u16(3)
        .u16(4)
        .u16(0)
        .u16(0);
    loadOk(bytes.b, false);
    const CObject* c = root->findChild("c");
    EXPECT_FALSE(c->hasAttribute("e"));
    EXPECT_FALSE(c->hasAttribute("f"));
    EXPECT_EQ(c->attribute("t"), zel::CText("true"));
    EXPECT_TRUE(root->hasAttribute("had"));
    EXPECT_EQ(root->attribute("had"), zel::CText(""));
    EXPECT_EQ(root->attribute("flag"), zel::CText("false"));
    EXPECT_FALSE(root->hasAttribute("new"));
}

TEST_F(DescriptionLoader, LifecycleOnRootOnlyWhenAsked)
{
    const Bytes bytes = compileOk(R"(<core:object name="a"><core:object name="b"/></core:object>)");
    loadOk(bytes, false);
    EXPECT_EQ(root->state(), zel::kStateCreated);
    EXPECT_FALSE(root->isReadOnly());
    EXPECT_EQ(root->findObject("a")->state(), zel::kStateLoaded);
    EXPECT_EQ(root->findObject("a.b")->state(), zel::kStateLoaded);
    // Without an application, finished objects turn read-only.
    EXPECT_TRUE(root->findObject("a")->isReadOnly());

    resetRoot();
    loadOk(bytes, true);
    EXPECT_EQ(root->state(), zel::kStateLoaded);
    EXPECT_TRUE(root->isReadOnly());
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
    EXPECT_EQ(root->findChild("broken"), nullptr);
    EXPECT_EQ(root->findChild("never"), nullptr);
    EXPECT_EQ(root->childCount(), 1u);
    // The trail names the failing object and then its parent.
    ASSERT_GE(err->trail().size(), 2u);
    EXPECT_NE(err->trail().front().find("root.broken"), std::string::npos);
    bool parentEntry = false;
    for (const std::string& entry : err->trail())
        parentEntry = parentEntry || entry.ends_with("// root");
    EXPECT_TRUE(parentEntry);

    resetRoot();
    const CErrorPtr unknown = load(compileOk(R"(<core:object name="a"/><no:such name="b"/>)"));
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->id(), "zelstr_CObject_createChild_NoTemplate");
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
            const CErrorPtr err = load(cut, true, mode);
            ASSERT_TRUE(err) << "length " << length;
            EXPECT_TRUE(err->id() == "zelstr_CMemoryReader_read_EOF" ||
                        err->id() == "zelstr_CMemoryReader_consume_EOF")
                << "length " << length << ": " << err->details();
        }
        resetRoot();
        ASSERT_FALSE(load(full, true, mode));
        EXPECT_EQ(root->findObject("u.c")->attribute("q"), zel::CText("r"));
    }
}

// Table {"", "core:object", "a"} with a root element whose one child is described by tail.
Bytes withChild(const std::vector<std::string>& strings, const CBytes& tail)
{
    CBytes bytes;
    bytes.table(strings).u32(0).u8(0).u16(0).u16(1);
    bytes.b.insert(bytes.b.end(), tail.b.begin(), tail.b.end());
    return bytes.b;
}

TEST_F(DescriptionLoader, MalformedBytesAreReadsPastTheEnd)
{
    const std::vector<std::string> strings = {"", "core:object", "a", "template", "t"};
    struct SCase
    {
        const char* what;
        Bytes bytes;
        const char* id;
        const char* text;
    };
    const SCase cases[] = {
        {"tag index not below N", withChild(strings, CBytes().u16(9).u16(2).u8(0).u16(0).u16(0)),
         "zelstr_CMemoryReader_read_EOF",
         "Premature end of memory resource while reading (pos 44, count 4, size 28)."},
        {"attribute value index not below N",
         withChild(strings, CBytes().u16(1).u16(2).u8(0).u16(1).u16(2).u16(5).u16(0)),
         "zelstr_CMemoryReader_read_EOF",
         "Premature end of memory resource while reading (pos 28, count 4, size 28)."},
        {"template body longer than the payload",
         withChild(strings, CBytes().u16(3).u16(4).u8(1).u16(1).u32(1000).u32(1).u8(0)),
         "zelstr_CMemoryReader_consume_EOF", nullptr},
        {"template without body", withChild(strings, CBytes().u16(3).u16(4).u8(0).u16(0).u16(0)),
         "zelstr_CDescriptionLoader_parseChild_TemplateNoBody", nullptr},
        {"attributes past the end", withChild(strings, CBytes().u16(1).u16(2).u8(0).u16(400)),
         "zelstr_CMemoryReader_read_EOF", nullptr},
        {"string table longer than the payload", CBytes().u32(1).u32(50).u32(4).u8(0).b,
         "zelstr_CMemoryReader_read_EOF",
         "Premature end of memory resource while reading (pos 8, count 50, size 13)."},
        {"offsets longer than the table", CBytes().u32(3).u32(4).u32(4).u32(0).u32(0).b,
         "zelstr_CMemoryReader_read_EOF",
         "Premature end of memory resource while reading (pos 8, count 12, size 12)."},
        {"offset into the offset array", CBytes().u32(1).u32(6).u32(0).u8('x').u8(0).u32(0).b,
         "zelstr_CMemoryReader_read_EOF",
         "Premature end of memory resource while reading (pos 8, count 1, size 14)."},
        {"offset beyond the pool", CBytes().u32(1).u32(6).u32(6).u8('x').u8(0).u32(0).b,
         "zelstr_CMemoryReader_read_EOF",
         "Premature end of memory resource while reading (pos 14, count 1, size 14)."},
        {"string without terminator", CBytes().u32(1).u32(6).u32(4).u8('x').u8('y').u32(0).b,
         "zelstr_CMemoryReader_read_EOF",
         "Premature end of memory resource while reading (pos 14, count 1, size 14)."},
        {"root head missing", CBytes().table({""}).u16(0).b, "zelstr_CMemoryReader_consume_EOF",
         nullptr},
    };
    for (const SCase& c : cases)
    {
        resetRoot();
        const CErrorPtr err = load(c.bytes);
        ASSERT_TRUE(err) << c.what;
        EXPECT_EQ(err->id(), c.id) << c.what << ": " << err->details();
        if (c.text != nullptr)
        {
            EXPECT_EQ(err->text(), c.text) << c.what;
        }
        EXPECT_EQ(root->childCount(), 0u) << c.what;
        EXPECT_TRUE(root->templates().empty()) << c.what;
    }
}

TEST_F(DescriptionLoader, DeepNestingAndSelfInstantiatingTemplatesStopWithAnError)
{
    // 400 nested elements.
    CBytes deep;
    deep.table({"", "core:object", "a"}).u32(0).u8(0).u16(0);
    for (int i = 0; i < 400; ++i)
        deep.u16(1).u16(1).u16(2).u8(0).u16(0);
    deep.u16(0);
    const CErrorPtr tooDeep = load(deep.b);
    ASSERT_TRUE(tooDeep);
    EXPECT_EQ(tooDeep->id(), "zelstr_CDescriptionLoader_parseNode_TooDeep");
    EXPECT_EQ(root->childCount(), 0u);

    resetRoot();
    const CErrorPtr loop =
        load(compileOk(R"(<template name="t" base="core:object"><t name="again"/></template>
                          <t name="x"/>)"));
    ASSERT_TRUE(loop);
    EXPECT_EQ(loop->id(), "zelstr_CDescriptionLoader_parseNode_TooDeep");
    EXPECT_EQ(root->findChild("x"), nullptr);
}

TEST_F(DescriptionLoader, MultiplyingTemplatesAndValuesStopWithAnError)
{
    // Seven templates, each instantiating the previous one eight times: 8^7 objects.
    std::string source = R"(<template name="t0" base="core:object"/>)";
    for (int i = 1; i < 7; ++i)
    {
        source += "<template name=\"t" + std::to_string(i) + "\" base=\"core:object\">";
        for (int k = 0; k < 8; ++k)
            source += "<t" + std::to_string(i - 1) + " name=\"c\"/>";
        source += "</template>";
    }
    source += R"(<t6 name="top"/>)";
    const CErrorPtr many = load(compileOk(source));
    ASSERT_TRUE(many);
    EXPECT_EQ(many->id(), "zelstr_CDescriptionLoader_load_TooManyObjects");
    EXPECT_EQ(root->findChild("top"), nullptr);

    // Every level repeats its parent's value twice.
    resetRoot();
    std::string nested;
    for (int i = 0; i < 30; ++i)
        nested += R"(<core:object name="n" v="{/^}{/^}">)";
    for (int i = 0; i < 30; ++i)
        nested += "</core:object>";
    root->setAttributeRaw("v", "ab");
    const CErrorPtr doubling = load(compileOk(nested));
    ASSERT_TRUE(doubling);
    EXPECT_EQ(doubling->id(), "zelstr_CObject_setAttribute_TooLong");
    EXPECT_EQ(root->childCount(), 0u);
}

TEST_F(DescriptionLoader, BuiltInDescriptionIsParsedInPlace)
{
    ASSERT_FALSE(zel::loadDescription(*root, "SharedData.xml", true));
    const CObject* project = root->findObject("project");
    ASSERT_NE(project, nullptr);
    EXPECT_EQ(project->attribute("plugin-intchannel-count"), zel::CText("8"));
    EXPECT_EQ(project->attribute("plugin-group-count"), zel::CText("8"));
    EXPECT_NE(root->findObject("whatsnew#1.p.content"), nullptr);
    EXPECT_EQ(root->findObject("audio")->attribute("plugin-tag"), zel::CText("plugin"));

    // The carried payload is the compiled source, and the template body borrows its bytes.
    zel::SResourcePayload payload;
    ASSERT_TRUE(zel::findBuiltInResource("SharedData.xml", payload));
    // (The source is found through ctest's environment.)
    if (const char* sourceDir = std::getenv("KELV_SOURCE_DIR"))
    {
        Bytes compiled;
        ASSERT_FALSE(zel::CDescCompiler::compileFile(std::string(sourceDir) + "/Gfx/SharedData.xml",
                                                     compiled));
        EXPECT_EQ(compiled, Bytes(payload.data, payload.data + payload.size));
    }
    const zel::CDeferredBody* body = root->templates().at("plugin")->deferredBody();
    ASSERT_NE(body, nullptr);
    EXPECT_FALSE(body->isOwned());
    EXPECT_GE(body->data(), payload.data);
    EXPECT_LE(body->data() + body->size(), payload.data + payload.size);
}

TEST_F(DescriptionLoader, FileDescriptionGetsOwnedBodies)
{
    const Bytes bytes = compileOk(R"(<template name="t" base="test:probe" value="3"/>
                                     <t name="u"/>)");
    std::random_device rd;
    const auto path =
        std::filesystem::temp_directory_path() / ("kelv_desc_" + std::to_string(rd()) + ".bin");
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    const CErrorPtr err = zel::loadDescription(*root, path.string(), true);
    std::filesystem::remove(path);
    ASSERT_FALSE(err) << err->details();
    EXPECT_TRUE(root->templates().at("t")->deferredBody()->isOwned());
    EXPECT_EQ(root->findObject("u")->attribute("value"), zel::CText("3"));

    resetRoot();
    const CErrorPtr missing = zel::loadDescription(*root, path.string(), true);
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->id(), "zelstr_CFileReader_open_OpenError");
}

} // namespace
