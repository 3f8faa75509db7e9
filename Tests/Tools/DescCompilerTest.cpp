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
    CBytes& u16(std::initializer_list<unsigned> values)
    {
        for (const unsigned v : values)
            u8(v & 0xFF).u8(v >> 8);
        return *this;
    }
    CBytes& u32(unsigned v) { return u16({v & 0xFFFF, v >> 16}); }
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
    std::string poolBytes;
    for (const std::string& s : pool)
        poolBytes += s + '\0';
    CBytes expected;
    expected.u32(n).u32(4 * n + static_cast<unsigned>(poolBytes.size()));
    for (const std::string& s : byIndex)
        expected.u32(4 * n + static_cast<unsigned>(('\0' + poolBytes).find('\0' + s + '\0')));
    expected.b.insert(expected.b.end(), poolBytes.begin(), poolBytes.end());

    expected.u32(0);                     // root head: empty tag
    expected.u8(0).u16({1, 1, 2});       // root: mode="x"
    expected.u16({2});                   // two children
    expected.u16({3, 4});                // core:object "b"
    expected.u8(0).u16({2, 5, 0, 1, 2}); // empty="", mode="x" (repeated strings)
    expected.u16({1, 3, 6});             // one child: core:object "p"
    expected.u8(0).u16({0, 1});          // no attributes, one child
    expected.u16({7, 7});                // content "content"
    expected.u8(0).u16({1, 8, 9, 0});    // value="Hello world", no children
    expected.u16({10, 11});              // template "t"
    expected.u8(1).u16({3}).u32(13);     // deferred body, base core:object, 13 bytes
    expected.u32(3);                     // body head: the base tag again
    expected.u8(0).u16({1, 12, 13, 0});  // k="v", no children
    EXPECT_EQ(compileOk(source), expected.b);
}

// Whatever the source, string 0 is empty, the pool is sorted and holds every string once,
// and indexes are handed out in the order the tree is written.
TEST(DescCompiler, PoolIsSortedAndIndexesFollowFirstUse)
{
    const char* sources[] = {
        R"(<description/>)",
        R"(<description z="y"><core:object name="a" b="a"/><core:object name="a"/></description>)",
        // Latin-1 e-acute (0xE9) must sort after 'z' (unsigned bytes), "Z" before "a".
        "<description><core:object name=\"caf\xC3\xA9\" z=\"Z\" a=\"\"/></description>",
        R"(<description><template name="w" base="x"><template name="v" base="u">
             <core:object name="inner">text</core:object></template></template></description>)",
    };
    for (const char* source : sources)
    {
        SCOPED_TRACE(source);
        const SDecodedDesc desc = decodeOk(compileOk(source));
        ASSERT_FALSE(desc.strings.empty());
        EXPECT_EQ(desc.strings[0], "");
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
            // std::string compares char_traits<char>, which orders as unsigned char.
            EXPECT_TRUE(k == 0 || desc.strings[byOffset[k - 1]] < s) << "pool out of order: " << s;
        }
        std::size_t nextNew = 1; // 0 is taken by the root head
        for (const std::uint16_t index : desc.indexesInUse)
        {
            ASSERT_LE(index, nextNew) << "index handed out before an earlier first use";
            nextNew += index == nextNew ? 1 : 0;
        }
        EXPECT_EQ(nextNew, desc.strings.size()) << "a string is stored but never used";
    }
}

TEST(DescCompiler, TextContentWhiteSpace)
{
    const std::pair<const char*, const char*> cases[] = {
        // Body inside <description>; the value of the content child of "p" (nullptr: none).
        {"<core:object name=\"p\">  a  \n\t b  </core:object>", "a b"},
        {"<core:object name=\"p\" xml:space=\"preserve\">  a\n b </core:object>", "  a\n b "},
        {"<core:object name=\"p\" xml:space=\"preserve\">a\r\nb</core:object>", "a\nb"},
        {R"(<core:object name="p">x<![CDATA[ <y> ]]>z &amp; &#x41;</core:object>)", "x <y> z & A"},
        {R"(<core:object name="p">   </core:object>)", nullptr},
        {R"(<core:object name="p" xml:space="preserve"> </core:object>)", " "},
        // xml:space is inherited and can be switched back.
        {R"(<core:object name="q" xml:space="preserve"><core:object name="p"> a  b</core:object>
            </core:object>)",
         " a  b"},
        {R"(<core:object name="q" xml:space="preserve"><core:object name="p" xml:space="default">
             a  b </core:object></core:object>)",
         "a b"},
    };
    for (const auto& [body, expected] : cases)
    {
        SCOPED_TRACE(body);
        const SDecodedDesc desc =
            decodeOk(compileOk(std::string("<description>") + body + "</description>"));
        ASSERT_EQ(desc.root.children.size(), 1u);
        const SDescNode* p = &desc.root.children[0];
        if (p->name == "q")
        {
            ASSERT_EQ(p->children.size(), 1u) << "indentation became content";
            p = &p->children[0];
        }
        EXPECT_TRUE(p->attributes.empty()) << "xml:space must not be carried";
        ASSERT_EQ(p->children.size(), expected ? 1u : 0u);
        if (expected)
        {
            const SDescNode& content = p->children[0];
            EXPECT_EQ(content.tag + "|" + content.name, "content|content");
            EXPECT_EQ(content.attributes,
                      (std::vector<std::pair<std::string, std::string>>{{"value", expected}}));
        }
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
    EXPECT_EQ(tpl.tag + "|" + tpl.name + "|" + tpl.base, "template|plugin|core:object");
    EXPECT_TRUE(tpl.deferred);
    EXPECT_EQ(tpl.attributes,
              (std::vector<std::pair<std::string, std::string>>{{"z", "1"}, {"a", "{/^?Panel}"}}));
    ASSERT_EQ(tpl.children.size(), 1u);
    EXPECT_EQ(tpl.children[0].attributes,
              (std::vector<std::pair<std::string, std::string>>{{"s", "a\nb"}}));
    // An explicit content element without a name is named "content".
    EXPECT_EQ(desc.root.children[1].tag + "|" + desc.root.children[1].name, "content|content");
}

TEST(DescCompiler, MalformedSourcesReportLineAndLeaveNoOutput)
{
    struct SCase
    {
        std::string source;
        const char* id; // after "zelstr_CDescCompiler_compile_"
        int line;
    };
    const SCase cases[] = {
        {"", "XmlSyntax", 1},
        {"<description>\n<core:object name=\"a\">\n</description>", "XmlSyntax", 3},
        {"<objects/>", "RootElement", 1},
        {"<description name=\"x\"/>", "RootName", 1},
        {"<description>\n\n<core:object/>\n</description>", "NoName", 3},
        {"<description>\n<template name=\"t\"/></description>", "TemplateBase", 2},
        {"<description>\n<template name=\"\" base=\"t\"/></description>", "TemplateName", 2},
        {"<description><core:object name=\"p\">\ntext<core:object name=\"q\"/></core:object>"
         "</description>",
         "MixedContent", 2},
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
    Bytes out;
    for (const SCase& c : cases)
    {
        SCOPED_TRACE(c.source);
        out = {1, 2, 3};
        const zel::CErrorPtr err = CDescCompiler::compile(c.source, "src/Test.xml", out);
        ASSERT_TRUE(err);
        EXPECT_EQ(err->id(), std::string("zelstr_CDescCompiler_compile_") + c.id) << err->text();
        EXPECT_TRUE(err->text().starts_with("src/Test.xml:" + std::to_string(c.line) + ": "))
            << err->text();
        EXPECT_TRUE(out.empty());
    }
    const zel::CErrorPtr err = CDescCompiler::compileFile("/nonexistent/Missing.xml", out);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CDescCompiler_compileFile_ReadError");
    EXPECT_NE(err->text().find("/nonexistent/Missing.xml"), std::string::npos);
}

TEST(DescCompiler, Limits)
{
    auto repeat = [](const std::string& head, int count, auto element, const std::string& tail)
    {
        std::string s = head;
        for (int i = 0; i < count; ++i)
            s += element(i);
        return s + tail;
    };
    // 65536 strings are allowed ("" and "core:object" plus 65534 names), one more is not.
    auto named = [](int i) { return "<core:object name=\"n" + std::to_string(i) + "\"/>\n"; };
    auto plain = [](int) { return std::string("<core:object name=\"c\"/>"); };
    Bytes out;
    EXPECT_FALSE(CDescCompiler::compile(repeat("<description>\n", 65534, named, "</description>"),
                                        "many.xml", out));
    EXPECT_EQ(decodeOk(out).strings.size(), 65536u);
    // Child counts are 16-bit.
    EXPECT_FALSE(CDescCompiler::compile(repeat("<description>", 65535, plain, "</description>"),
                                        "kids.xml", out));
    // Nesting is bounded instead of exhausting the stack.
    const std::string deep = repeat(
        "<description>", 300, [](int) { return "<core:object name=\"d\">"; },
        repeat(
            "", 300, [](int) { return "</core:object>"; }, "</description>"));
    const std::pair<std::string, const char*> failing[] = {
        {repeat("<description>\n", 65535, named, "</description>"),
         "TooManyStrings many.xml:65536: "}, // the line of n65534
        {repeat("<description>", 65536, plain, "</description>"), "TooManyChildren many.xml:1: "},
        {deep, "TooDeep many.xml:1: "},
    };
    for (const auto& [source, expected] : failing)
    {
        const zel::CErrorPtr err = CDescCompiler::compile(source, "many.xml", out);
        ASSERT_TRUE(err) << expected;
        EXPECT_TRUE((err->id() + " " + err->text())
                        .starts_with(std::string("zelstr_CDescCompiler_compile_") + expected))
            << err->id() << " " << err->text();
    }
}
