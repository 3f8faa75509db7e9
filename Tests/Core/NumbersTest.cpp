#include "Core/Numbers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>

using zel::CText;

namespace
{
// The parsed value, or nothing; a failed parse must leave the output untouched.
std::optional<std::int64_t> parsed(const CText& text)
{
    std::int64_t value = -999;
    const bool ok = zel::parseInteger(text, value);
    EXPECT_TRUE(ok || value == -999) << text.toUtf8();
    return ok ? std::optional(value) : std::nullopt;
}
} // namespace

TEST(Numbers, IntegerAndBooleanGrammar)
{
    const std::pair<const char*, std::int64_t> valid[] = {
        {"0", 0},      {"-17", -17}, {"0x1F", 31},
        {"0XfF", 255}, {"#80", 128}, {"-0x10", -16},
        {"-#a", -10},  {"007", 7},   {"$7fffffff", 0x7fffffff}};
    for (const auto& [text, expected] : valid)
        EXPECT_EQ(parsed(text), expected) << text;
    EXPECT_EQ(parsed("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(parsed("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(parsed(u"0x2A"), 42); // 16-bit texts follow the same grammar
    for (const char* text : {"9223372036854775808", "", "-", "0x", "+5", " 5", "5 ", "12a", "0x1G",
                             "1.5", "--1", "x10"})
        EXPECT_EQ(parsed(text), std::nullopt) << text;
    std::int32_t narrow = 0;
    EXPECT_TRUE(zel::parseInteger32(CText("-2147483648"), narrow));
    EXPECT_EQ(narrow, std::numeric_limits<std::int32_t>::min());
    EXPECT_FALSE(zel::parseInteger32(CText("2147483648"), narrow));

    bool flag = false;
    EXPECT_TRUE(zel::parseBoolean(CText("true"), flag) && flag);
    EXPECT_TRUE(zel::parseBoolean(CText("false"), flag) && !flag);
    for (const char* bad : {"True", "1", "0", "yes", "", "true "})
        EXPECT_FALSE(zel::parseBoolean(CText(bad), flag)) << bad;
}

TEST(Numbers, NumberGrammar)
{
    const std::pair<const char*, std::optional<double>> cases[] = {
        {"0", 0.0},     {"12", 12.0}, {"-3", -3.0}, {"0.25", 0.25}, {"0,25", 0.25},
        {"-1,5", -1.5}, {"5.", 5.0},  {".5", 0.5},  {"-.5", -0.5},  {"0.015", 0.015},
        {"", {}},       {"-", {}},    {".", {}},    {"1.2.3", {}},  {"1,2.3", {}},
        {"1e5", {}},    {"+1", {}},   {"1 ", {}},   {"0x10", {}},   {"1-", {}},
    };
    for (const auto& [text, expected] : cases)
    {
        double value = -999.0;
        EXPECT_EQ(zel::parseNumber(CText(text), value), expected.has_value()) << text;
        EXPECT_DOUBLE_EQ(value, expected.value_or(-999.0)) << text;
    }
}

TEST(Numbers, FormattingRoundsHalfAwayFromZero)
{
    // Halves chosen to be exact in binary so that the rounding rule, not representation
    // error, decides.
    const std::tuple<double, int, bool, const char*> cases[] = {
        {0.5, 0, false, "1"},      {-0.5, 0, false, "-1"},       {2.5, 0, false, "3"},
        {-2.5, 0, false, "-3"},    {0.125, 2, false, "0.13"},    {-0.125, 2, false, "-0.13"},
        {0.375, 2, false, "0.38"}, {1.0, 3, false, "1.000"},     {-0.001, 1, false, "0.0"},
        {-0.0, 2, false, "0.00"},  {123.456, 1, false, "123.5"}, {1.5, 3, true, "1.5"},
        {2.0, 3, true, "2"},       {1.25, -3, false, "1"},
    };
    for (const auto& [value, decimals, trim, expected] : cases)
        EXPECT_EQ(zel::formatNumber(value, decimals, trim).toUtf8(), expected)
            << value << " / " << decimals;
    EXPECT_EQ(zel::formatNumber(std::numeric_limits<double>::quiet_NaN(), 2).toUtf8(), "nan");
    EXPECT_EQ(zel::formatNumber(-std::numeric_limits<double>::infinity(), 2).toUtf8(), "-inf");
    EXPECT_EQ(zel::formatNumber(1.0e20, 2).toUtf8(), "100000000000000000000.00");
    EXPECT_EQ(zel::formatInteger(-12).toUtf8(), "-12");
    // Formatting then parsing round-trips.
    for (double v = -50.0; v <= 50.0; v += 0.37)
    {
        double back = 0.0;
        ASSERT_TRUE(zel::parseNumber(zel::formatNumber(v, 6), back));
        EXPECT_NEAR(back, v, 5e-7);
    }
}
