#include "Tools/CompiledDescReader.h"

#include "DescCompiler/DescCompiler.h"
#include "Support/ErrorText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using kelvtest::CDescReader;
using kelvtest::idAndText;
using kelvtest::SDecodedDesc;
using kelvtest::SDescNode;
using zel::CDescCompiler;

namespace
{

using Bytes = std::vector<std::uint8_t>;
using CBytes = kelvtest::CDescBytes;
using Attributes = std::vector<std::pair<std::string, std::string>>;

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

    expected.u32(0);                      // root head: empty tag
    expected.u8(0).u16s({1, 1, 2});       // root: mode="x"
    expected.u16(2);                      // two children
    expected.u16s({3, 4});                // core:object "b"
    expected.u8(0).u16s({2, 5, 0, 1, 2}); // empty="", mode="x" (repeated strings)
    expected.u16s({1, 3, 6});             // one child: core:object "p"
    expected.u8(0).u16s({0, 1});          // no attributes, one child
    expected.u16s({7, 7});                // content "content"
    expected.u8(0).u16s({1, 8, 9, 0});    // value="Hello world", no children
    expected.u16s({10, 11});              // template "t"
    expected.u8(1).u16(3).u32(13);        // deferred body, base core:object, 13 bytes
    expected.u32(3);                      // body head: the base tag again
    expected.u8(0).u16s({1, 12, 13, 0});  // k="v", no children
    EXPECT_EQ(compileOk(source), expected.b);
}

// Whatever the source, string 0 is empty, the pool is packed in ascending byte order and holds
// every string once, and indexes are handed out in the order the tree is written.
TEST(DescCompiler, PoolIsSortedAndIndexesFollowFirstUse)
{
    const char* sources[] = {
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
        std::vector<std::pair<std::uint32_t, std::string>> pool;
        for (std::size_t i = 0; i < desc.strings.size(); ++i)
            pool.emplace_back(desc.offsets[i], desc.strings[i]);
        std::sort(pool.begin(), pool.end());
        auto expectedOffset = static_cast<std::uint32_t>(4 * pool.size());
        for (std::size_t k = 0; k < pool.size(); ++k)
        {
            EXPECT_EQ(pool[k].first, expectedOffset) << "pool is not packed";
            expectedOffset += static_cast<std::uint32_t>(pool[k].second.size() + 1);
            // std::string compares with char_traits<char>, which orders as unsigned char.
            EXPECT_TRUE(k == 0 || pool[k - 1].second < pool[k].second) << pool[k].second;
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

TEST(DescCompiler, TextContentAttributesAndContentElements)
{
    const std::pair<const char*, const char*> cases[] = {
        // Body inside <description>; the value of the content child of "p" (nullptr: none).
        {"<core:object name=\"p\">  a  \n\t b  </core:object>", "a b"},
        {"<core:object name=\"p\" xml:space=\"preserve\">  a\r\n b </core:object>", "  a\n b "},
        {R"(<core:object name="p">x<![CDATA[ <y> ]]>z &amp; &#x41;</core:object>)", "x <y> z & A"},
        {R"(<core:object name="p">   </core:object>)", nullptr},
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
            EXPECT_EQ(content.attributes, (Attributes{{"value", expected}}));
        }
    }
    // Attributes keep their source order; xmlns and xml:lang are source-only; an explicit
    // content element without a name is named "content".
    const SDecodedDesc desc = decodeOk(compileOk(
        R"(<description xmlns:core="urn:x"><template name="plugin" base="core:object" z="1" a="{/^?Panel}">
             <core:object name="e" s="a&#10;b" xml:lang="en"/></template><content/></description>)"));
    EXPECT_TRUE(desc.root.attributes.empty());
    ASSERT_EQ(desc.root.children.size(), 2u);
    const SDescNode& tpl = desc.root.children[0];
    EXPECT_EQ(tpl.tag + "|" + tpl.name + "|" + tpl.base, "template|plugin|core:object");
    EXPECT_EQ(tpl.attributes, (Attributes{{"z", "1"}, {"a", "{/^?Panel}"}}));
    ASSERT_EQ(tpl.children.size(), 1u);
    EXPECT_EQ(tpl.children[0].attributes, (Attributes{{"s", "a\nb"}}));
    EXPECT_EQ(desc.root.children[1].tag + "|" + desc.root.children[1].name, "content|content");
}

TEST(DescCompiler, MalformedSourcesReportLineAndLeaveNoOutput)
{
    const std::tuple<std::string, const char*, int> cases[] = {
        // Source, identifier after "zelstr_CDescCompiler_compile_", line.
        {"", "XmlSyntax", 1},
        {"<description>\n<core:object name=\"a\">\n</description>", "XmlSyntax", 3},
        {"<objects/>", "RootElement", 1},
        {"<description name=\"x\"/>", "RootName", 1},
        {"<description>\n\n<core:object/>\n</description>", "NoName", 3},
        {"<description>\n<template name=\"t\"/></description>", "TemplateBase", 2},
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
        {"<description/>\n<description><core:object name=\"x\"/></description>", "OutsideRoot", 2},
    };
    Bytes out;
    for (const auto& [source, id, line] : cases)
    {
        out = {1, 2, 3};
        const std::string said = idAndText(CDescCompiler::compile(source, "src/Test.xml", out));
        EXPECT_TRUE(said.starts_with(std::string("zelstr_CDescCompiler_compile_") + id +
                                     ": src/Test.xml:" + std::to_string(line) + ": "))
            << said;
        EXPECT_TRUE(out.empty()) << said;
    }
    EXPECT_TRUE(idAndText(CDescCompiler::compileFile("/nonexistent/Missing.xml", out))
                    .starts_with("zelstr_CDescCompiler_compileFile_ReadError: "));
}

TEST(DescCompiler, Limits)
{
    auto repeat = [](int count, const std::string& element)
    {
        std::string s;
        for (int i = 0; i < count; ++i)
            s += element;
        return s;
    };
    // 65536 strings are allowed ("" and "core:object" plus 65534 names), one more is not.
    auto named = [](int count)
    {
        std::string s = "<description>\n";
        for (int i = 0; i < count; ++i)
            s += "<core:object name=\"n" + std::to_string(i) + "\"/>\n";
        return s + "</description>";
    };
    Bytes out;
    EXPECT_FALSE(CDescCompiler::compile(named(65534), "many.xml", out));
    EXPECT_EQ(decodeOk(out).strings.size(), 65536u);
    // Child counts are 16-bit; nesting is bounded instead of exhausting the stack.
    const std::string kid = "<core:object name=\"c\"/>";
    EXPECT_FALSE(CDescCompiler::compile("<description>" + repeat(65535, kid) + "</description>",
                                        "kids.xml", out));
    const std::pair<std::string, const char*> failing[] = {
        {named(65535), "TooManyStrings: many.xml:65536: "}, // the line of n65534
        {"<description>" + repeat(65536, kid) + "</description>", "TooManyChildren: many.xml:1: "},
        {"<description>" + repeat(300, "<core:object name=\"d\">") + repeat(300, "</core:object>") +
             "</description>",
         "TooDeep: many.xml:1: "},
    };
    for (const auto& [source, expected] : failing)
    {
        const std::string said = idAndText(CDescCompiler::compile(source, "many.xml", out));
        EXPECT_TRUE(said.starts_with(std::string("zelstr_CDescCompiler_compile_") + expected))
            << said;
    }
}
