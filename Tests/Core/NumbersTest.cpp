#include "Core/Numbers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>

using zel::CText;

TEST(Numbers, IntegerGrammar)
{
    struct Case
    {
        const char* text;
        std::optional<std::int64_t> expected;
    };
    const Case cases[] = {
        {"0", 0},
        {"42", 42},
        {"-17", -17},
        {"0x1F", 31},
        {"0XfF", 255},
        {"#80", 128},
        {"$7fffffff", 0x7fffffff},
        {"-0x10", -16},
        {"-#a", -10},
        {"007", 7},
        {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
        {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
        {"9223372036854775808", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"0x", std::nullopt},
        {"#", std::nullopt},
        {"+5", std::nullopt},
        {" 5", std::nullopt},
        {"5 ", std::nullopt},
        {"12a", std::nullopt},
        {"0x1G", std::nullopt},
        {"1.5", std::nullopt},
        {"--1", std::nullopt},
        {"x10", std::nullopt},
    };
    for (const Case& c : cases)
    {
        std::int64_t value = -999;
        const bool ok = zel::parseInteger(CText(c.text), value);
        EXPECT_EQ(ok, c.expected.has_value()) << c.text;
        if (c.expected)
            EXPECT_EQ(value, *c.expected) << c.text;
        else
            EXPECT_EQ(value, -999) << c.text << ": output must stay untouched on failure";
    }
    // 16-bit texts follow the same grammar.
    std::int64_t wide = 0;
    EXPECT_TRUE(zel::parseInteger(CText(u"0x2A"), wide));
    EXPECT_EQ(wide, 42);

    std::int32_t narrow = 0;
    EXPECT_TRUE(zel::parseInteger32(CText("-2147483648"), narrow));
    EXPECT_EQ(narrow, std::numeric_limits<std::int32_t>::min());
    EXPECT_FALSE(zel::parseInteger32(CText("2147483648"), narrow));
}

TEST(Numbers, Booleans)
{
    bool value = false;
    EXPECT_TRUE(zel::parseBoolean(CText("true"), value));
    EXPECT_TRUE(value);
    EXPECT_TRUE(zel::parseBoolean(CText("false"), value));
    EXPECT_FALSE(value);
    for (const char* bad : {"True", "1", "0", "yes", "", "true "})
        EXPECT_FALSE(zel::parseBoolean(CText(bad), value)) << bad;
}

TEST(Numbers, NumberGrammar)
{
    struct Case
    {
        const char* text;
        std::optional<double> expected;
    };
    const Case cases[] = {
        {"0", 0.0},
        {"12", 12.0},
        {"-3", -3.0},
        {"0.25", 0.25},
        {"0,25", 0.25},
        {"-1,5", -1.5},
        {"5.", 5.0},
        {".5", 0.5},
        {"-.5", -0.5},
        {"0.015", 0.015},
        {"1000000", 1.0e6},
        {"", std::nullopt},
        {"-", std::nullopt},
        {".", std::nullopt},
        {"1.2.3", std::nullopt},
        {"1,2.3", std::nullopt},
        {"1e5", std::nullopt},
        {"+1", std::nullopt},
        {"1 ", std::nullopt},
        {"0x10", std::nullopt},
        {"1-", std::nullopt},
    };
    for (const Case& c : cases)
    {
        double value = -999.0;
        const bool ok = zel::parseNumber(CText(c.text), value);
        EXPECT_EQ(ok, c.expected.has_value()) << c.text;
        if (c.expected)
            EXPECT_DOUBLE_EQ(value, *c.expected) << c.text;
        else
            EXPECT_EQ(value, -999.0) << c.text;
    }
}

TEST(Numbers, FormattingRoundsHalfAwayFromZero)
{
    struct Case
    {
        double value;
        int decimals;
        bool trim;
        const char* expected;
    };
    // Halves chosen to be exact in binary so that the rounding rule, not representation
    // error, decides.
    const Case cases[] = {
        {0.5, 0, false, "1"},        {-0.5, 0, false, "-1"},       {1.5, 0, false, "2"},
        {2.5, 0, false, "3"},        {-2.5, 0, false, "-3"},       {0.125, 2, false, "0.13"},
        {-0.125, 2, false, "-0.13"}, {0.375, 2, false, "0.38"},    {1.0, 3, false, "1.000"},
        {0.001, 1, false, "0.0"},    {-0.001, 1, false, "0.0"},    {-0.0, 2, false, "0.00"},
        {0.05, 3, false, "0.050"},   {123.456, 1, false, "123.5"}, {1.5, 3, true, "1.5"},
        {2.0, 3, true, "2"},         {0.0625, 4, false, "0.0625"}, {-7.0, 0, false, "-7"},
        {1.25, -3, false, "1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(zel::formatNumber(c.value, c.decimals, c.trim).toUtf8(), c.expected)
            << c.value << " / " << c.decimals;
    EXPECT_EQ(zel::formatNumber(std::numeric_limits<double>::quiet_NaN(), 2).toUtf8(), "nan");
    EXPECT_EQ(zel::formatNumber(-std::numeric_limits<double>::infinity(), 2).toUtf8(), "-inf");
    EXPECT_EQ(zel::formatNumber(1.0e20, 2).toUtf8(), "100000000000000000000.00");
    EXPECT_EQ(zel::formatInteger(-12).toUtf8(), "-12");
}

TEST(Numbers, FormatThenParseRoundTrips)
{
    for (double v = -50.0; v <= 50.0; v += 0.37)
    {
        double back = 0.0;
        ASSERT_TRUE(zel::parseNumber(zel::formatNumber(v, 6), back));
        EXPECT_NEAR(back, v, 5e-7);
    }
}
