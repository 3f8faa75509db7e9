#include "Core/Text.h"
#include "Core/Error.h"

#include <gtest/gtest.h>

#include <map>

using zel::CText;

TEST(Text, ComparesOrdinallyAcrossWidths)
{
    const CText narrow("abc");
    const CText wide(u"abc");
    EXPECT_EQ(narrow, wide);
    // Unsigned units: 0xE9 (Latin-1 e-acute) sorts after 'z' whatever the width.
    EXPECT_LT(CText("z"), CText("\xE9"));
    EXPECT_LT(CText(u"z"), CText("\xE9"));
    EXPECT_LT(CText("\xE9"), CText(u"\u0100"));
    EXPECT_LT(CText("ab"), CText(u"abc"));

    std::map<CText, int> m;
    m[CText("key")] = 1;
    EXPECT_EQ(m.count(CText(u"key")), 1u);
}

TEST(Text, Utf8RoundTripAndWidth)
{
    EXPECT_FALSE(CText::fromUtf8("caf\xC3\xA9").isWide()); // Latin-1 stays 8-bit
    const CText euro = CText::fromUtf8("\xE2\x82\xAC");
    ASSERT_TRUE(euro.isWide());
    EXPECT_EQ(euro[0], u'\u20AC');
    EXPECT_EQ(euro.toUtf8(), "\xE2\x82\xAC");
    // Invalid sequences keep their bytes as Latin-1 units.
    const CText broken = CText::fromUtf8("a\xC3");
    EXPECT_EQ(broken.size(), 2u);
    EXPECT_EQ(broken[1], 0xC3);
}

TEST(Error, FormatsArgumentsAndTrail)
{
    auto err =
        ZEL_ERROR("plugin.modMain", "zelstr_Test_x", "Value %1 of '%2' (%3%%).", {"7", "gain"});
    ASSERT_TRUE(err);
    EXPECT_EQ(err->text(), "Value 7 of 'gain' (%3%%).");
    err = ZEL_PASS(std::move(err), "plugin");
    ASSERT_EQ(err->trail().size(), 2u);
    EXPECT_EQ(err->trail()[0].rfind("TextTest.cpp( ", 0), 0u);
    EXPECT_NE(err->trail()[0].find(" ) // plugin.modMain"), std::string::npos);
    EXPECT_EQ(err->details().substr(0, err->text().size()), err->text());
}
