#include "Tools/CompiledDescReader.h"

#include "DescCompiler/DescCompiler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using kelvtest::CDescReader;
using kelvtest::SDecodedDesc;
using kelvtest::SDescNode;
using zel::CDescCompiler;

namespace
{

using Bytes = std::vector<std::uint8_t>;

Bytes compileOk(const std::string& source)
{
    Bytes out;
    const zel::CErrorPtr err = CDescCompiler::compile(source, "test.xml", out);
    EXPECT_FALSE(err) << err->text();
    return out;
}

SDecodedDesc decodeOk(const Bytes& bytes)
{
    SDecodedDesc desc;
    EXPECT_TRUE(CDescReader(bytes).decode(desc)) << "compiled description does not decode";
    return desc;
}

// Little-endian byte assembly for the hand-written expectations.
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
    CBytes& text(const std::string& s)
    {
        for (const char c : s)
            u8(static_cast<unsigned char>(c));
        return u8(0);
    }
};

} // namespace

TEST(DescCompiler, SmallSourceMatchesHandAssembledBytes)
{
    const std::string source = R"(<?xml version="1.0"?>
<description mode="x">
  <core:object name="b" empty="" mode="x">
    <core:object name="p">  Hello
        world </core:object>
  </core:object>
  <template name="t" base="core:object" k="v"/>
</description>
)";
    // Indexes in order of first use (the serialisation order of the tree below).
    const std::vector<std::string> byIndex = {
        "",        "mode",  "x",           "core:object", "b", "empty", "p",
        "content", "value", "Hello world", "template",    "t", "k",     "v"};
    // The pool, in ascending byte order, written out by hand.
    const std::vector<std::string> pool = {
        "",     "Hello world", "b", "content",  "core:object", "empty", "k",
        "mode", "p",           "t", "template", "v",           "value", "x"};
    const unsigned n = static_cast<unsigned>(byIndex.size());
    CBytes expected;
    unsigned poolSize = 0;
    for (const std::string& s : pool)
        poolSize += static_cast<unsigned>(s.size() + 1);
    expected.u32(n).u32(4 * n + poolSize);
    for (const std::string& s : byIndex)
    {
        unsigned offset = 4 * n;
        for (std::size_t k = 0; pool[k] != s; ++k)
            offset += static_cast<unsigned>(pool[k].size() + 1);
        expected.u32(offset);
    }
    for (const std::string& s : pool)
        expected.text(s);

    expected.u32(0);                                   // root head: empty tag
    expected.u8(0).u16(1).u16(1).u16(2);               // root: mode="x"
    expected.u16(2);                                   // two children
    expected.u16(3).u16(4);                            // core:object "b"
    expected.u8(0).u16(2).u16(5).u16(0).u16(1).u16(2); // empty="", mode="x" (repeated strings)
    expected.u16(1).u16(3).u16(6);                     // one child: core:object "p"
    expected.u8(0).u16(0).u16(1);                      // no attributes, one child
    expected.u16(7).u16(7);                            // content "content"
    expected.u8(0).u16(1).u16(8).u16(9).u16(0);        // value="Hello world", no children
    expected.u16(10).u16(11);                          // template "t"
    expected.u8(1).u16(3).u32(13);                     // deferred body, base core:object, 13 bytes
    expected.u32(3);                                   // body head: the base tag again
    expected.u8(0).u16(1).u16(12).u16(13).u16(0);      // k="v", no children

    EXPECT_EQ(compileOk(source), expected.b);
}

// Whatever the source, string 0 is empty, the pool is sorted and holds every string once,
// and indexes are handed out in the order the tree is written.
TEST(DescCompiler, PoolIsSortedAndIndexesFollowFirstUse)
{
    const std::vector<std::string> sources = {
        R"(<description/>)",
        R"(<description z="y"><core:object name="a" b="a"/><core:object name="a"/></description>)",
        // Latin-1 e-acute (0xE9) must sort after 'z' (unsigned bytes), "Z" before "a".
        "<description><core:object name=\"caf\xC3\xA9\" z=\"Z\" a=\"\"/></description>",
        R"(<description><template name="w" base="x"><template name="v" base="u">
             <core:object name="inner">text</core:object></template></template></description>)",
    };
    for (const std::string& source : sources)
    {
        SCOPED_TRACE(source);
        const SDecodedDesc desc = decodeOk(compileOk(source));
        ASSERT_FALSE(desc.strings.empty());
        EXPECT_EQ(desc.strings[0], "");
        EXPECT_EQ(desc.rootHead, 0u);

        std::vector<std::size_t> byOffset(desc.strings.size());
        for (std::size_t i = 0; i < byOffset.size(); ++i)
            byOffset[i] = i;
        std::sort(byOffset.begin(), byOffset.end(),
                  [&](std::size_t a, std::size_t b) { return desc.offsets[a] < desc.offsets[b]; });
        std::uint32_t expectedOffset = static_cast<std::uint32_t>(4 * desc.strings.size());
        for (std::size_t k = 0; k < byOffset.size(); ++k)
        {
            const std::string& s = desc.strings[byOffset[k]];
            EXPECT_EQ(desc.offsets[byOffset[k]], expectedOffset) << "pool is not packed";
            expectedOffset += static_cast<std::uint32_t>(s.size() + 1);
            if (k > 0)
            {
                const std::string& prev = desc.strings[byOffset[k - 1]];
                EXPECT_TRUE(std::lexicographical_compare(
                    prev.begin(), prev.end(), s.begin(), s.end(),
                    [](char a, char b)
                    { return static_cast<unsigned char>(a) < static_cast<unsigned char>(b); }))
                    << "'" << prev << "' is not strictly before '" << s << "'";
            }
        }

        std::size_t nextNew = 1; // 0 is taken by the root head
        for (const std::uint16_t index : desc.indexesInUse)
        {
            ASSERT_LE(index, nextNew) << "index handed out before an earlier first use";
            if (index == nextNew)
                ++nextNew;
        }
        EXPECT_EQ(nextNew, desc.strings.size()) << "a string is stored but never used";
    }
    // The Latin-1 case: "caf\xE9" is stored as 8-bit and sorts last.
    const SDecodedDesc latin = decodeOk(compileOk(sources[2]));
    EXPECT_NE(std::find(latin.strings.begin(), latin.strings.end(), "caf\xE9"),
              latin.strings.end());
}

TEST(DescCompiler, TextContentWhiteSpace)
{
    struct SCase
    {
        const char* body;     // inside <description>
        const char* expected; // value of the content child of "p"; nullptr: no content child
    };
    const SCase cases[] = {
        {R"(<core:object name="p">  a  
	 b  </core:object>)",
         "a b"},
        {R"(<core:object name="p" xml:space="preserve">  a
 b </core:object>)",
         "  a\n b "},
        {"<core:object name=\"p\" xml:space=\"preserve\">a\r\nb</core:object>", "a\nb"},
        {R"(<core:object name="p">x<![CDATA[ <y> ]]>z &amp; &#x41;</core:object>)", "x <y> z & A"},
        {R"(<core:object name="p">   </core:object>)", nullptr},
        {R"(<core:object name="p"/>)", nullptr},
        {R"(<core:object name="p" xml:space="preserve"> </core:object>)", " "},
        // xml:space is inherited and can be switched back.
        {R"(<core:object name="q" xml:space="preserve"><core:object name="p"> a  b</core:object>
            </core:object>)",
         " a  b"},
        {R"(<core:object name="q" xml:space="preserve"><core:object name="p" xml:space="default">
             a  b </core:object></core:object>)",
         "a b"},
    };
    for (const SCase& c : cases)
    {
        SCOPED_TRACE(c.body);
        const SDecodedDesc desc =
            decodeOk(compileOk(std::string("<description>") + c.body + "</description>"));
        ASSERT_EQ(desc.root.children.size(), 1u);
        const SDescNode* p = &desc.root.children[0];
        if (p->name == "q")
        {
            ASSERT_EQ(p->children.size(), 1u) << "indentation became content";
            p = &p->children[0];
        }
        EXPECT_TRUE(p->attributes.empty()) << "xml:space must not be carried";
        if (!c.expected)
        {
            EXPECT_TRUE(p->children.empty());
            continue;
        }
        ASSERT_EQ(p->children.size(), 1u);
        const SDescNode& content = p->children[0];
        EXPECT_EQ(content.tag, "content");
        EXPECT_EQ(content.name, "content");
        ASSERT_EQ(content.attributes.size(), 1u);
        EXPECT_EQ(content.attributes[0].first, "value");
        EXPECT_EQ(content.attributes[0].second, c.expected);
    }
}

TEST(DescCompiler, AttributesKeepSourceOrderAndValues)
{
    const SDecodedDesc desc = decodeOk(compileOk(
        R"(<description xmlns:core="urn:x"><template name="plugin" base="core:object" z="1" a="{/^?Panel}">
             <core:object name="e" s="a&#10;b" xml:lang="en"/></template>
             <content/></description>)"));
    ASSERT_EQ(desc.root.attributes.size(), 0u) << "xmlns is source-only";
    ASSERT_EQ(desc.root.children.size(), 2u);
    const SDescNode& tpl = desc.root.children[0];
    EXPECT_EQ(tpl.tag, "template");
    EXPECT_EQ(tpl.name, "plugin");
    EXPECT_TRUE(tpl.deferred);
    EXPECT_EQ(tpl.base, "core:object");
    const std::vector<std::pair<std::string, std::string>> attrs = {{"z", "1"},
                                                                    {"a", "{/^?Panel}"}};
    EXPECT_EQ(tpl.attributes, attrs);
    ASSERT_EQ(tpl.children.size(), 1u);
    EXPECT_EQ(tpl.children[0].attribute("s"), "a\nb");
    EXPECT_EQ(tpl.children[0].attributes.size(), 1u);
    // An explicit content element without a name is named "content".
    EXPECT_EQ(desc.root.children[1].tag, "content");
    EXPECT_EQ(desc.root.children[1].name, "content");
}

TEST(DescCompiler, MalformedSourcesReportLineAndLeaveNoOutput)
{
    struct SCase
    {
        std::string source;
        const char* id; // after "zelstr_CDescCompiler_compile_"
        int line;
    };
    const std::vector<SCase> cases = {
        {"", "XmlSyntax", 1},
        {"<description>\n<core:object name=\"a\">\n</description>", "XmlSyntax", 3},
        {"<objects/>", "RootElement", 1},
        {"<description name=\"x\"/>", "RootName", 1},
        {"<description>\n\n<core:object/>\n</description>", "NoName", 3},
        {"<description>\n<template name=\"t\"/></description>", "TemplateBase", 2},
        {"<description>\n<template name=\"\" base=\"core:object\"/></description>", "TemplateName",
         2},
        {"<description><core:object name=\"p\">\ntext<core:object name=\"q\"/></core:object>"
         "</description>",
         "MixedContent", 2},
        {"<description>\n<core:object name=\"euro\" v=\"\xE2\x82\xAC\"/></description>",
         "CharacterRange", 2},
        {"<description>\n<core:object name=\"p\">\n\xE2\x82\xAC</core:object></description>",
         "CharacterRange", 3},
        {"<description><core:object name=\"\xFF\"/></description>", "InvalidUtf8", 1},
        {"<description>\n<core:object name=\"p\" xml:space=\"keep\"/></description>", "XmlSpace",
         2},
        {"<description>\n<core:object name=\"p\" a=\"1\" a=\"2\"/></description>",
         "DuplicateAttribute", 2},
        {"<description><description/></description>", "NestedDescription", 1},
        {"<description/>\n<description><core:object name=\"x\"/></description>", "OutsideRoot", 2},
    };
    for (const SCase& c : cases)
    {
        SCOPED_TRACE(c.source);
        Bytes out = {1, 2, 3};
        const zel::CErrorPtr err = CDescCompiler::compile(c.source, "src/Test.xml", out);
        ASSERT_TRUE(err);
        EXPECT_EQ(err->id(), std::string("zelstr_CDescCompiler_compile_") + c.id) << err->text();
        EXPECT_EQ(err->text().rfind("src/Test.xml:" + std::to_string(c.line) + ": ", 0), 0u)
            << err->text();
        EXPECT_TRUE(out.empty());
    }
}

TEST(DescCompiler, Limits)
{
    // 65536 strings are allowed ("" and "core:object" plus 65534 names), one more is not.
    auto manyNames = [](int count)
    {
        std::string s = "<description>\n";
        for (int i = 0; i < count; ++i)
            s += "<core:object name=\"n" + std::to_string(i) + "\"/>\n";
        return s + "</description>";
    };
    Bytes out;
    EXPECT_FALSE(CDescCompiler::compile(manyNames(65534), "many.xml", out));
    EXPECT_EQ(decodeOk(out).strings.size(), 65536u);
    zel::CErrorPtr err = CDescCompiler::compile(manyNames(65535), "many.xml", out);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CDescCompiler_compile_TooManyStrings");
    EXPECT_EQ(err->text().rfind("many.xml:65536: ", 0), 0u) << err->text(); // n65534's line

    // Child counts are 16-bit.
    auto manyChildren = [](int count)
    {
        std::string s = "<description>";
        for (int i = 0; i < count; ++i)
            s += "<core:object name=\"c\"/>";
        return s + "</description>";
    };
    EXPECT_FALSE(CDescCompiler::compile(manyChildren(65535), "kids.xml", out));
    err = CDescCompiler::compile(manyChildren(65536), "kids.xml", out);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CDescCompiler_compile_TooManyChildren");

    // Nesting is bounded instead of exhausting the stack.
    std::string deep = "<description>";
    for (int i = 0; i < 300; ++i)
        deep += "<core:object name=\"d\">";
    for (int i = 0; i < 300; ++i)
        deep += "</core:object>";
    deep += "</description>";
    err = CDescCompiler::compile(deep, "deep.xml", out);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CDescCompiler_compile_TooDeep");
}

TEST(DescCompiler, CompileFileReportsUnreadableFile)
{
    Bytes out;
    const zel::CErrorPtr err = CDescCompiler::compileFile("/nonexistent/Missing.xml", out);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CDescCompiler_compileFile_ReadError");
    EXPECT_NE(err->text().find("/nonexistent/Missing.xml"), std::string::npos);
}
