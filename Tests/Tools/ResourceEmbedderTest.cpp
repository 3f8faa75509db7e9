#include "Embed/ResourceEmbedder.h"
#include "Core/ResourceTable.h"
#include "DescCompiler/DescCompiler.h"
#include "Support/ErrorText.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

using zel::CResourceEmbedder;
using zel::SEmbeddedResource;

namespace
{

// The payload of a carried resource, after its 32-bit little-endian size.
std::vector<std::uint8_t> payloadOf(const char* name)
{
    for (const zel::SResourceEntry* e = zel::g_zelResources; e->data; ++e)
        if (std::strcmp(e->name, name) == 0)
        {
            const std::uint32_t size = std::uint32_t{e->data[0]} | std::uint32_t{e->data[1]} << 8 |
                                       std::uint32_t{e->data[2]} << 16 |
                                       std::uint32_t{e->data[3]} << 24;
            return {e->data + 4, e->data + 4 + size};
        }
    ADD_FAILURE() << "no resource " << name;
    return {};
}

} // namespace

TEST(ResourceEmbedder, GeneratesSizePrefixedArraysAndTerminatedTable)
{
    std::vector<SEmbeddedResource> resources(2);
    resources[0].name = "B.bin";
    resources[0].payload.assign(300, 0xAB); // size 300 = 0x012C
    resources[1].name = "a/Empty";
    std::string source;
    ASSERT_FALSE(CResourceEmbedder::generate(resources, source));
    EXPECT_NE(source.find("#include \"Core/ResourceTable.h\""), std::string::npos);
    EXPECT_NE(source.find("kResource0[] = {\n0x2c,0x01,0x00,0x00,0xab,"), std::string::npos);
    EXPECT_NE(source.find("kResource1[] = {\n0x00,0x00,0x00,0x00,\n};"), std::string::npos);
    std::size_t payloadBytes = 0;
    for (std::size_t at = source.find("0xab,"); at != std::string::npos;
         at = source.find("0xab,", at + 1))
        ++payloadBytes;
    EXPECT_EQ(payloadBytes, 300u);
    // Entries keep the given order and end with an entry without data.
    const std::size_t entry0 = source.find("{kResource0, \"B.bin\"},");
    const std::size_t entry1 = source.find("{kResource1, \"a/Empty\"},");
    const std::size_t end = source.find("{nullptr, nullptr},");
    EXPECT_LT(entry0, entry1);
    EXPECT_LT(entry1, end);
    EXPECT_NE(end, std::string::npos);
}

TEST(ResourceEmbedder, QuotesNamesAsCppLiterals)
{
    const std::pair<std::string, const char*> cases[] = {
        {"../../../Gfx/Fonts/base_b.fnt", "\"../../../Gfx/Fonts/base_b.fnt\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"?\?=", "\"\\?\\?=\""}, // no trigraph can form
        {"\x01"
         "7",
         "\"\\0017\""}, // three octal digits: the 7 stays a character
        {"\xE9\n", "\"\\351\\012\""},
    };
    for (const auto& [raw, literal] : cases)
        EXPECT_EQ(CResourceEmbedder::quote(raw), literal);
}

TEST(ResourceEmbedder, RejectsDuplicateAndEmptyNames)
{
    std::vector<SEmbeddedResource> resources = {{"x", {}}, {"x", {}}};
    std::string source = "stale";
    EXPECT_TRUE(kelvtest::idAndText(CResourceEmbedder::generate(resources, source))
                    .starts_with("zelstr_CResourceEmbedder_generate_DuplicateName: "));
    EXPECT_TRUE(source.empty());
    resources[1].name = "";
    EXPECT_TRUE(kelvtest::idAndText(CResourceEmbedder::generate(resources, source))
                    .starts_with("zelstr_CResourceEmbedder_generate_InvalidName: "));
}

// The library carries both descriptions, each the compilation of its source in Gfx/.
TEST(EmbeddedResources, CarryTheCompiledDescriptions)
{
    const char* root = std::getenv("KELV_SOURCE_DIR");
    if (!root)
        GTEST_SKIP() << "KELV_SOURCE_DIR is not set (run through ctest)";
    std::set<std::string> names;
    for (const zel::SResourceEntry* e = zel::g_zelResources; e->data; ++e)
        EXPECT_TRUE(names.insert(e->name).second) << "resource listed twice: " << e->name;
    for (const char* name : {"SharedData.xml", "UserInterface.xml"})
    {
        std::vector<std::uint8_t> compiled;
        const zel::CErrorPtr err =
            zel::CDescCompiler::compileFile(std::string(root) + "/Gfx/" + name, compiled);
        ASSERT_FALSE(err) << err->text();
        EXPECT_EQ(payloadOf(name), compiled) << name;
    }
}
