#include "Audio/Converters/Converters.h"

#include "Audio/AudioParamData.h"
#include "Audio/AudioParamInfo.h"
#include "Audio/AudioTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

namespace zel
{
namespace
{

using kelvtest::CAttrs;

using kelvtest::dbToFactor;
// A one-element parameter description with the range [min, max].
void setRange(CAudioParamInfo& info, double min, double max)
{
    info.elementSize = 1;
    info.minValues = {min};
    info.maxValues = {max};
}

class Converters : public kelvtest::CAudioTest
{
protected:
    CAudioParamConverter* make(const char* tag, const CAttrs& list, CErrorPtr* err = nullptr)
    {
        return dynamic_cast<CAudioParamConverter*>(load(tag, list, err));
    }
};

TEST_F(Converters, ParseTypedTextsAndFormatValues)
{
    const double kInf = HUGE_VAL;
    struct CParse
    {
        const char* text;
        double expected;
        bool ok;
        bool raw = false; // textToValueRaw rather than textToValue
    };
    const CAttrs dec1 = {{"decimals", "1"}}, dec2 = {{"decimals", "2"}}, ms = {{"scale", "0.001"}};
    const CAttrs offOn = {{"state-names", "Off;On"}};
    const struct
    {
        const char* tag;
        CAttrs attrs;
        double min, max;
        std::vector<CParse> parses;
    } cases[] = {
        // clang-format off
        // Gain: dB in, linear factor out; failure gives min.
        {"audio:cvt-gain", {}, 0.01, 10,
         {{"-6", dbToFactor(-6), true}, {"abc", 0.01, false}, {"40", 10, true},
          {"", 1.0, true, true}, {"-6,0", dbToFactor(-6), true, true}}},
        // Freq: "k"/"K" multiplies by 1000.
        {"audio:cvt-freq", {}, 20, 20000,
         {{"1.5k", 1500, true}, {"1.5K", 1500, true}, {"1500", 1500, true}, {"1 500", 20, false},
          {"1.5kHz", 20, false}}},
        // Ratio: a:b is b/a, never exactly 1.
        {"audio:cvt-ratio", dec1, 0, kInf,
         {{"1:1", 0.999, true, true}, {"1", 0.999, true, true}, {"1000:1001", 1.001, true, true},
          {"4:1", 0.25, true, true}, {"1:4", 4, true, true}, {"0:1", 0.5, false, true},
          {"1:2:3", 0.5, false, true}, {"x:1", 0.5, false, true}}},
        {"audio:cvt-ratio", dec1, 0.1, 10, {{"x:1", 0.1, false}, {"100:1", 0.1, true}}},
        // Pan: letter, optional space, percent.
        {"audio:cvt-pan", {}, -1, 1,
         {{"L 50", -0.5, true}, {"l50", -0.5, true}, {"-50", -0.5, true}, {"R", 0.0, true},
          {"r 25", 0.25, true}, {"R 150", 1.0, true}, {"", -1.0, false}, {"C", -1.0, false}}},
        // Percent, Real, BW and Time take plain numbers; an empty text is 0.
        {"audio:cvt-percent", {}, 0, 1, {{"25", 0.25, true}, {"", 0.0, true}, {"25%", 0.0, false}}},
        {"audio:cvt-real", {}, -10, 10,
         {{"-2,5", -2.5, true}, {"1.2.3", -10, false}, {"1e3", -10, false}}},
        {"audio:cvt-bw", {}, 0.1, 4, {{"2", 2, true}}},
        {"audio:cvt-time", ms, 0.001, 1,
         {{"250", 0.25, true}, {"5000", 1, true}, {"ms", 0.001, false}}},
        // Enum: integers (hexadecimal allowed), not state names; the value is not offset.
        {"audio:cvt-enum", offOn, 0, 5, {{"3", 3, true}}},
        {"audio:cvt-enum", offOn, 0, 20,
         {{"0x0F", 15, true}, {"#a", 10, true}, {"$10", 16, true}, {"0", 0, true},
          {"1.5", 0, false, true}}},
        {"audio:cvt-enum", offOn, -5, 20, {{"-3", -3, true}}},
        {"audio:cvt-enum", offOn, 0.6, 20, {{"On", 1, false}}},
        // Text never fails and always yields 0.
        {"audio:cvt-text", {}, 0, 8388608, {{"anything", 0, true, true}}},
        // clang-format on
    };
    for (const auto& c : cases)
    {
        const CAudioParamConverter* converter = make(c.tag, c.attrs);
        ASSERT_NE(converter, nullptr) << c.tag;
        CAudioParamInfo info;
        setRange(info, c.min, c.max);
        for (const CParse& p : c.parses)
        {
            bool ok = !p.ok;
            const double value = p.raw ? converter->textToValueRaw(info, 0, CText(p.text), &ok)
                                       : converter->textToValue(info, 0, CText(p.text), &ok);
            EXPECT_NEAR(value, p.expected, 1e-9) << c.tag << " '" << p.text << "'";
            EXPECT_EQ(ok, p.ok) << c.tag << " '" << p.text << "'";
        }
    }

    struct CFormat
    {
        double value;
        std::int32_t mode;
        const char* expected;
    };
    const struct
    {
        const char* tag;
        CAttrs attrs;
        std::vector<CFormat> formats;
    } formats[] = {
        // clang-format off
        {"audio:cvt-gain", {}, {{1.0, 0, "0"}}},
        {"audio:cvt-gain", dec2, {{0.5, 0, "-6.02"}, {0.5, 1, "-6"}}},
        {"audio:cvt-gain", dec1, {{2.0, 0, "6.0"}}},
        {"audio:cvt-freq", {},
         {{12.34, 0, "12.3"}, {440, 0, "440"}, {1234, 0, "1.23k"}, {12345, 0, "12.3k"},
          {999.96, 0, "1.00k"}, {99.96, 0, "100"}, {440, 1, "440"}, {1234, 1, "1.2k"},
          {12345, 1, "12k"}}},
        {"audio:cvt-ratio", dec1, {{0.25, 0, "4.0:1"}, {4, 0, "1:4.0"}, {1.0, 0, "1:1.0"}}},
        {"audio:cvt-ratio", dec2, {{0.25, 1, "4.0:1"}, {0.05, 0, "20.0:1"}, {20, 0, "1:20.0"}}},
        {"audio:cvt-pan", {},
         {{0.0, 0, "C"}, {0.0004, 0, "C"}, {0.5, 0, "R 50"}, {-0.125, 0, "L 13"},
          {-0.5, 1, "L50"}, {0.004, 1, "C"}, {1.0, 1, "R100"}}},
        {"audio:cvt-percent", {}, {{0.125, 0, "12.5"}, {0.125, 1, "13"}}},
        {"audio:cvt-real", {{"decimals", "3"}}, {{-2.0625, 0, "-2.063"}, {2.5, 1, "3"}}},
        {"audio:cvt-real", {}, {{-2.5, 0, "-3"}}},
        {"audio:cvt-bw", {}, {{1.125, 1, "1.13"}, {3, 0, "3.00"}}},
        {"audio:cvt-time", ms,
         {{0.0123, 0, "12.3"}, {0.0123, 1, "12"}, {0.25, 0, "250"}, {0.25, 1, "0.3*"},
          {0.005, 0, "5.00"}, {0.005, 1, "5.0"}}},
        {"audio:cvt-time", {{"scale", "0.001"}, {"is-precise", "true"}}, {{0.0123, 0, "12.30"}}},
        {"audio:cvt-time", {{"scale", "0.001"}, {"is-exact", "true"}}, {{0.25, 0, "250.00"}}},
        {"audio:cvt-time", {{"scale", "1"}}, {{2.5, 0, "2.50"}}},
        {"audio:cvt-enum", offOn, {{1, 0, "On"}, {2, 0, "Reserve"}, {-1, 0, "Reserve"}}},
        {"audio:cvt-enum", {{"state-names", "Mono;Stereo|St"}}, {{1, 2, "St"}, {1, 0, "Stereo"}}},
        {"audio:cvt-enum", {{"state-names", "Automatic;Manual"}}, {{0, 2, "Automat"}}},
        {"audio:cvt-enum", {{"state-names", ";;A||Alpha-long;;B"}},
         {{0, 2, "Alpha-l"}, {1, 0, "B"}}},
        {"audio:cvt-enum", {}, {{3, 0, "3"}}},
        // clang-format on
    };
    for (const auto& c : formats)
    {
        const CAudioParamConverter* converter = make(c.tag, c.attrs);
        ASSERT_NE(converter, nullptr) << c.tag;
        CAudioParamInfo info;
        setRange(info, 0, 1);
        for (const CFormat& f : c.formats)
            EXPECT_EQ(converter->valueToText(info, 0, f.value, f.mode, nullptr).toUtf8(),
                      f.expected)
                << c.tag << " " << f.value << " mode " << f.mode;
    }
}

TEST_F(Converters, EnumStatesAreCountedFromTheRoundedMinimumAndReplacedWhole)
{
    const CAudioParamConverter* converter = make("audio:cvt-enum", {{"state-names", "A;B;C"}});
    CAudioParamInfo info;
    setRange(info, 2, 4);
    EXPECT_EQ(converter->valueToText(info, 0, 3, 0, nullptr).toUtf8(), "B");
    EXPECT_EQ(converter->normToValue(info, 0, 0.6), 3.0); // round(3.2)
    bool ok = true;
    EXPECT_EQ(converter->textToValue(info, 0, CText("x"), &ok), 2.0);
    EXPECT_FALSE(ok);

    // Reassigning the state names replaces the states.
    auto* states = dynamic_cast<CAudioParamConverterEnum*>(make("audio:cvt-enum", {}));
    ASSERT_NE(states, nullptr);
    ASSERT_FALSE(states->setAttribute("state-names", "A;B"));
    ASSERT_FALSE(states->setAttribute("state-names", "X|x1;Y;Z"));
    EXPECT_EQ(states->stateCount(), 3u);
    EXPECT_EQ(states->fullNames().front().toUtf8(), "X");
    EXPECT_EQ(states->shortNames().front().toUtf8(), "x1");
}

TEST_F(Converters, NormalisedMappingsHitTheEndsAndRoundTrip)
{
    const std::tuple<const char*, CAttrs, double, double> cases[] = {
        {"audio:cvt-bw", {}, 0.1, 4},
        {"audio:cvt-freq", {}, 20, 20000},
        {"audio:cvt-gain", {}, 0.25, 4},
        {"audio:cvt-pan", {}, -1, 1},
        {"audio:cvt-percent", {}, 0, 2},
        {"audio:cvt-ratio", {{"decimals", "1"}}, 0.05, 20},
        {"audio:cvt-real", {}, -24, 24},
        {"audio:cvt-time", {{"scale", "0.001"}}, 0.001, 2},
        {"audio:cvt-time", {{"scale", "0.001"}, {"is-log", "true"}}, 0.001, 2},
        {"audio:cvt-time", {{"scale", "0.001"}, {"is-exact", "true"}}, 0.001, 2},
    };
    for (const auto& [tag, list, min, max] : cases)
    {
        const CAudioParamConverter* converter = make(tag, list);
        ASSERT_NE(converter, nullptr);
        CAudioParamInfo info;
        setRange(info, min, max);
        EXPECT_NEAR(converter->normToValue(info, 0, 0.0), min, 1e-9 * std::abs(max)) << tag;
        EXPECT_NEAR(converter->normToValue(info, 0, 1.0), max, 1e-9 * std::abs(max)) << tag;
        double previous = -HUGE_VAL;
        for (int i = 0; i <= 100; ++i)
        {
            const double norm = i / 100.0;
            const double value = converter->normToValue(info, 0, norm);
            EXPECT_GT(value, previous) << tag << " " << norm;
            previous = value;
            EXPECT_NEAR(converter->valueToNorm(info, 0, value), norm, 1e-9) << tag << " " << norm;
        }
    }
}

TEST_F(Converters, SpecificNormalisedValues)
{
    CAudioParamInfo info;
    setRange(info, 0.25, 4);
    const CAudioParamConverter* gain = make("audio:cvt-gain", {});
    const double unity = gain->normToValue(info, 0, 0.5);
    EXPECT_NEAR(unity, 1.0, 1e-12);
    EXPECT_EQ(gain->valueToText(info, 0, unity, 0, nullptr).toUtf8(), "0");

    setRange(info, 0, 100);
    const CAudioParamConverter* bw = make("audio:cvt-bw", {});
    EXPECT_NEAR(bw->normToValue(info, 0, 0.5), 25.0, 1e-12); // square law
    const CAudioParamConverter* time = make("audio:cvt-time", {{"scale", "1"}});
    EXPECT_NEAR(time->valueToNorm(info, 0, 25.0), 0.5, 1e-12);

    setRange(info, 0, 1); // atan(1) = pi/4, so norm 0.5 is tan(pi/8)
    const CAudioParamConverter* ratio = make("audio:cvt-ratio", {{"decimals", "1"}});
    EXPECT_NEAR(ratio->normToValue(info, 0, 0.5), std::sqrt(2.0) - 1.0, 1e-12);
}

// A range given upside down clamps too: the shared text parser and the two that replace it.
TEST_F(Converters, ReversedRangesClampInEveryTextParser)
{
    // {tag, min > max, parses below max, parses above min, parses inside, its value}
    const std::tuple<const char*, double, double, const char*, const char*, const char*, double>
        cases[] = {
            {"audio:cvt-real", 10, -10, "-20", "20", "3", 3},
            {"audio:cvt-pan", 1, -1, "L 200", "R 200", "L 20", -0.2},
            {"audio:cvt-enum", 8, 2, "0", "12", "5", 5},
        };
    for (const auto& [tag, min, max, low, high, inside, insideValue] : cases)
    {
        const CAudioParamConverter* converter = make(tag, {});
        ASSERT_NE(converter, nullptr);
        CAudioParamInfo info;
        setRange(info, min, max);
        EXPECT_NEAR(converter->textToValue(info, 0, CText(low)), max, 1e-12) << tag;
        EXPECT_NEAR(converter->textToValue(info, 0, CText(high)), min, 1e-12) << tag;
        EXPECT_NEAR(converter->textToValue(info, 0, CText(inside)), insideValue, 1e-12) << tag;
    }
}

TEST_F(Converters, TextConverterShowsTheStringItemNamedByTheValue)
{
    const CAudioParamConverter* converter = make("audio:cvt-text", {});
    CAudioParamInfo info;
    setRange(info, 0, CAudioParamInfo::kItemIdRangeMax);
    CAudioParamData data;
    const std::int32_t first = data.add(std::make_unique<CAudioParamDataItemString>("Left"));
    const std::int32_t raw = data.add(std::make_unique<CAudioParamDataItemRaw>());
    EXPECT_EQ(converter->valueToText(info, 0, first, 0, &data).toUtf8(), "Left");
    EXPECT_EQ(converter->valueToText(info, 0, raw, 0, &data).toUtf8(), "");
    EXPECT_EQ(converter->valueToText(info, 0, 99, 0, &data).toUtf8(), "");
    EXPECT_EQ(converter->valueToText(info, 0, first, 0, nullptr).toUtf8(), "");
}

TEST_F(Converters, InvalidAttributesStopInitialisation)
{
    const std::tuple<const char*, CAttrs, const char*> cases[] = {
        {"audio:cvt-gain", {{"decimals", "11"}}, "Invalid decimals 11 specified."},
        {"audio:cvt-real", {{"decimals", "12"}}, "Invalid decimals 12 specified."},
        {"audio:cvt-real", {{"decimals", "two"}}, "Invalid decimals two specified."},
        {"audio:cvt-ratio", {}, "Invalid decimals 0 specified."},
        {"audio:cvt-ratio", {{"decimals", "11"}}, "Invalid decimals 11 specified."},
        {"audio:cvt-time", {}, "Invalid scale  specified."},
        {"audio:cvt-time", {{"scale", "0"}}, "Invalid scale 0 specified."},
    };
    for (const auto& [tag, list, message] : cases)
    {
        CErrorPtr err;
        make(tag, list, &err);
        EXPECT_EQ(err ? err->text() : "no error", message) << tag;
    }
    // The ends of the valid ranges are accepted.
    EXPECT_NE(make("audio:cvt-gain", {{"decimals", "10"}}), nullptr);
    EXPECT_NE(make("audio:cvt-ratio", {{"decimals", "10"}}), nullptr);
    EXPECT_NE(make("audio:cvt-real", {{"decimals", "0"}}), nullptr);
    // The base attributes every converter takes.
    const auto* labelled = make("audio:cvt-real", {{"label", "dB"}, {"is-discrete", "true"}});
    EXPECT_EQ(labelled->label().toUtf8(), "dB");
    EXPECT_TRUE(labelled->isDiscrete());
    EXPECT_FALSE(make("audio:cvt-real", {})->isDiscrete());
}

} // namespace
} // namespace zel
