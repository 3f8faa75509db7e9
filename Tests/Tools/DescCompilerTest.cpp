#include "Tools/DescBytes.h"

#include "DescCompiler/DescCompiler.h"
#include "Support/ErrorText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using kelvtest::idAndText;
using zel::CDescCompiler;

namespace
{

using Bytes = std::vector<std::uint8_t>;
using CBytes = kelvtest::CDescBytes;

Bytes compileOk(const std::string& source)
{
    Bytes out;
    const zel::CErrorPtr err = CDescCompiler::compile(source, "test.xml", out);
    EXPECT_FALSE(err) << err->text();
    return out;
}

std::uint32_t u32At(const Bytes& b, std::size_t at)
{
    return std::uint32_t{b.at(at)} | std::uint32_t{b.at(at + 1)} << 8 |
           std::uint32_t{b.at(at + 2)} << 16 | std::uint32_t{b.at(at + 3)} << 24;
}

// The string table of compiled bytes: each string's offset, by index.
std::vector<std::pair<std::uint32_t, std::string>> stringTable(const Bytes& b)
{
    std::vector<std::pair<std::uint32_t, std::string>> table;
    const std::uint32_t count = u32At(b, 0);
    for (std::uint32_t i = 0; i < count; ++i)
    {
        const std::uint32_t offset = u32At(b, 8 + 4 * i);
        std::string text;
        for (std::size_t at = 8 + offset; b.at(at) != 0; ++at)
            text += static_cast<char>(b[at]);
        table.emplace_back(offset, text);
    }
    return table;
}

} // namespace

TEST(DescCompiler, SmallSourceMatchesHandAssembledBytes)
{
    const std::string source = R"(<?xml version="1.0"?>
<description xmlns:core="urn:x" mode="x">
  <core:object name="b" mode="x" empty="" xml:lang="en">
    <core:object name="p">  Hello
        world </core:object>
  </core:object>
  <template name="t" base="core:object" k="v&#10;"/>
</description>
)";
    // Indexes in order of first use (the serialisation order of the tree below); xmlns and
    // xml:lang are source-only, attributes keep their source order.
    const std::vector<std::string> byIndex = {
        "",        "mode",  "x",           "core:object", "b", "empty", "p",
        "content", "value", "Hello world", "template",    "t", "k",     "v\n"};
    // The pool, in ascending byte order, written out by hand.
    const std::vector<std::string> pool = {
        "",     "Hello world", "b", "content",  "core:object", "empty", "k",
        "mode", "p",           "t", "template", "v\n",         "value", "x"};
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
    expected.u8(0).u16s({2, 1, 2, 5, 0}); // mode="x" (repeated strings), empty=""
    expected.u16s({1, 3, 6});             // one child: core:object "p"
    expected.u8(0).u16s({0, 1});          // no attributes, one child
    expected.u16s({7, 7});                // content "content"
    expected.u8(0).u16s({1, 8, 9, 0});    // value="Hello world", no children
    expected.u16s({10, 11});              // template "t"
    expected.u8(1).u16(3).u32(13);        // deferred body, base core:object, 13 bytes
    expected.u32(3);                      // body head: the base tag again
    expected.u8(0).u16s({1, 12, 13, 0});  // k="v\n", no children
    EXPECT_EQ(compileOk(source), expected.b);
}

// Whatever the source, string 0 is empty and the pool is packed in ascending byte order and
// holds every string once.
TEST(DescCompiler, PoolIsPackedAndSorted)
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
        auto pool = stringTable(compileOk(source));
        ASSERT_FALSE(pool.empty());
        EXPECT_EQ(pool[0].second, "");
        std::sort(pool.begin(), pool.end());
        auto expectedOffset = static_cast<std::uint32_t>(4 * pool.size());
        for (std::size_t k = 0; k < pool.size(); ++k)
        {
            EXPECT_EQ(pool[k].first, expectedOffset) << "pool is not packed";
            expectedOffset += static_cast<std::uint32_t>(pool[k].second.size() + 1);
            // std::string compares with char_traits<char>, which orders as unsigned char.
            EXPECT_TRUE(k == 0 || pool[k - 1].second < pool[k].second) << pool[k].second;
        }
    }
}

// Text content becomes a "content" child holding the value; each source compiles to the same
// bytes as its explicit form.
TEST(DescCompiler, TextContentCompilesAsAContentElement)
{
    const std::pair<const char*, const char*> cases[] = {
        {"<core:object name=\"p\">  a  \n\t b  </core:object>",
         R"(<core:object name="p"><content name="content" value="a b"/></core:object>)"},
        {"<core:object name=\"p\" xml:space=\"preserve\">  a\r\n b </core:object>",
         R"(<core:object name="p"><content name="content" value="  a&#10; b "/></core:object>)"},
        {R"(<core:object name="p">x<![CDATA[ <y> ]]>z &amp; &#x41;</core:object>)",
         R"(<core:object name="p"><content name="content" value="x &lt;y> z &amp; A"/>
            </core:object>)"},
        {R"(<core:object name="p">   </core:object>)", R"(<core:object name="p"/>)"},
        // xml:space is inherited and can be switched back.
        {R"(<core:object name="q" xml:space="preserve"><core:object name="p"> a  b</core:object>
            </core:object>)",
         R"(<core:object name="q"><core:object name="p"><content name="content" value=" a  b"/>
            </core:object></core:object>)"},
        {R"(<core:object name="q" xml:space="preserve"><core:object name="p" xml:space="default">
             a  b </core:object></core:object>)",
         R"(<core:object name="q"><core:object name="p"><content name="content" value="a b"/>
            </core:object></core:object>)"},
        // An explicit content element without a name is named "content".
        {"<content/>", R"(<content name="content"/>)"},
    };
    for (const auto& [body, explicitForm] : cases)
    {
        SCOPED_TRACE(body);
        const auto wrap = [](const char* b)
        { return std::string("<description>") + b + "</description>"; };
        EXPECT_EQ(compileOk(wrap(body)), compileOk(wrap(explicitForm)));
    }
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
    EXPECT_EQ(u32At(out, 0), 65536u); // the string count
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
