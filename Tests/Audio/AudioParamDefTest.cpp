#include "Audio/AudioParamDef.h"

#include "Audio/AudioParamBinding.h"
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

using kelvtest::attrs;
using kelvtest::CAttrs;

class AudioParamDefTest : public kelvtest::CAudioTest
{
protected:
    // The converters the definitions name, as the shared description holds them.
    std::vector<ktest::CFakeChild> converters() const override
    {
        return {{"audio:cvt-freq", "freq", {}, {}},
                {"audio:cvt-gain", "gain", {{"decimals", "1"}}, {}},
                {"audio:cvt-real", "real", {{"decimals", "2"}}, {}},
                {"audio:cvt-ratio", "ratio", {{"decimals", "1"}}, {}},
                {"audio:cvt-text", "text", {}, {}}};
    }
    const CAudioParamDef* param(const std::string& list, CErrorPtr* err = nullptr)
    {
        return dynamic_cast<const CAudioParamDef*>(load("audio:param", attrs(list), err));
    }
    // The text of the error loading an element of tag with list, or "no error".
    std::string failure(const char* tag, const CAttrs& list)
    {
        CErrorPtr err;
        load(tag, list, &err);
        return err ? err->text() : "no error";
    }
};

TEST_F(AudioParamDefTest, DefaultValueGrammar)
{
    // {element size, converters, default values, the sets they give}
    const std::tuple<const char*, const char*, const char*, std::vector<std::vector<double>>>
        cases[] = {
            {"1", "converter=/cvt.real", "0", {{0}}},
            {"1", "converter=/cvt.real", "1,2,3", {{1, 2, 3}}},
            {"1", "converter=/cvt.real", "1;2,-3;4", {{1}, {2, -3}, {4}}},
            {"1", "converter=/cvt.real", "1, 2;", {{1, 2}}},
            {"1", "converter=/cvt.ratio", "4:1", {{0.25}}},
            {"2",
             "converter=/cvt.real|converter2=/cvt.real",
             "1 2,3  4;5 6",
             {{1, 2, 3, 4}, {5, 6}}},
            {"2", "converter=/cvt.freq|converter2=/cvt.real", "1k 1,", {{1000, 1}}},
        };
    for (const auto& [elementSize, converters, defValues, sets] : cases)
    {
        const CAudioParamDef* def =
            param(std::string("min-values=-10 -10|max-values=10000 10|element-size=") +
                  elementSize + "|" + converters + "|def-values=" + defValues);
        ASSERT_NE(def, nullptr) << defValues;
        EXPECT_EQ(def->info().defaultSets, sets) << defValues;
    }
}

TEST_F(AudioParamDefTest, ItemTypesHaveTheFixedRangeAndNeedElementSizeOne)
{
    // "str" names the string type; its defaults are items, one id per value.
    const CAudioParamDef* text =
        param("element-size=1|data-type=str|converter=/cvt.text|def-values=L,R;IN3,IN4");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->info().dataType, EAudioParamDataType::kString);
    EXPECT_EQ(text->info().defaultData().size(), 4u);
    const CAudioParamDef* raw = param("element-size=1|data-type=raw|converter=/cvt.text|"
                                      "min-values=5|max-values=5|def-values=abc");
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw->info().dataType, EAudioParamDataType::kRaw);
    EXPECT_EQ(raw->info().minValues, std::vector<double>{0.0});
    EXPECT_EQ(raw->info().maxValues, std::vector<double>{8388608.0});
    const auto* item = dynamic_cast<const CAudioParamDataItemRaw*>(
        raw->info().defaultData().findByValue(raw->info().defaultSets.at(0).at(0)));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->bytes(), (std::vector<std::uint8_t>{'a', 'b', 'c'}));

    for (const char* type : {"str", "string", "1", "raw"})
        EXPECT_EQ(failure("audio:param", {{"element-size", "2"}, {"data-type", type}}),
                  "Invalid element size 2 for non-float data specified.")
            << type;
}

TEST_F(AudioParamDefTest, FlagPrecedence)
{
    // {flags, global, storable, persistent}
    const std::tuple<CAttrs, bool, bool, bool> cases[] = {
        {{{"is-persistent", "true"}, {"is-storable", "true"}}, true, false, true},
        {{{"is-persistent", "true"}, {"is-global", "false"}}, true, false, true},
        {{{"is-storable", "true"}}, true, true, false},
        {{{"is-global", "true"}}, true, false, false},
        {{}, false, false, false},
    };
    for (const auto& [flags, global, storable, persistent] : cases)
    {
        CAttrs list = attrs("element-size=1|converter=/cvt.real|min-values=0|max-values=1|"
                            "def-values=0");
        list.insert(list.end(), flags.begin(), flags.end());
        const auto* def = dynamic_cast<const CAudioParamDef*>(load("audio:param", list));
        ASSERT_NE(def, nullptr);
        EXPECT_EQ(def->info().global, global);
        EXPECT_EQ(def->info().storable, storable);
        EXPECT_EQ(def->info().persistent, persistent);
    }
}

TEST_F(AudioParamDefTest, InitialisationFailures)
{
    const CAttrs valid = attrs("element-size=2|converter=/cvt.real|converter2=/cvt.freq|"
                               "min-values=0 20|max-values=1 20000|def-values=0 100");
    // {attributes replacing or adding to valid's (an empty value removes one), message}
    const std::pair<CAttrs, const char*> cases[] = {
        {{{"element-size", "0"}}, "Invalid element size 0 specified."},
        {{{"element-size", ""}}, "Invalid element size  specified."},
        {{{"converter2", "/cvt.none"}}, "Audio parameter converter '/cvt.none' not found."},
        {{{"converter2", "/cvt"}}, "Audio parameter converter '/cvt' not found."},
        {{{"converter2", ""}}, "Not enough converters defined 1 (should be 2)."},
        {{{"min-values", "0"}}, "Not enough minimum values defined 1 (should be 2)."},
        {{{"max-values", ""}}, "Not enough maximum values defined 0 (should be 2)."},
        {{{"max-values", "1 20"}}, "Zero default min-max values difference detected in element 1."},
        {{{"def-values", "0 1x"}}, "Default values parsing error."},
        {{{"def-values", "0 1 2"}}, "Default values parsing error."},
        {{{"def-values", "0 100,5"}}, "Not enough default elements at pos 7."},
        {{{"def-values", "0;1 2"}}, "Not enough default elements at pos 1."},
        {{{"def-values", ""}}, "No default values specified."},
    };
    for (const auto& [changes, message] : cases)
    {
        CAttrs list;
        for (const auto& [name, value] : valid)
        {
            CText text = value;
            for (const auto& [changed, changedValue] : changes)
                if (changed == name)
                    text = changedValue;
            if (!text.empty())
                list.push_back({name, text});
        }
        EXPECT_EQ(failure("audio:param", list), message);
    }
}

TEST_F(AudioParamDefTest, BindingsParseAndResolveLocalAndAbsoluteNames)
{
    ASSERT_FALSE(ktest::loadElement(
        *m_root,
        {"core:object",
         "modA",
         {},
         {{"audio:param",
           "gain",
           attrs("element-size=1|converter=/cvt.real|min-values=0|max-values=1|def-values=0.5"),
           {}},
          {"audio:param-alloc", "a", attrs("param-name=gain|index=3|use-all-groups=true"), {}},
          {"audio:param-alloc", "b", {{"param-name", "/modA.gain"}}, {}},
          {"audio:param-scope", "s", {{"param-name", "gain"}, {"is-element0", "true"}}, {}}}}));
    const auto* def = dynamic_cast<CAudioParamDef*>(m_root->findObject("modA.gain"));
    const auto* a = dynamic_cast<CAudioParamAllocDef*>(m_root->findObject("modA.a"));
    const auto* b = dynamic_cast<CAudioParamAllocDef*>(m_root->findObject("modA.b"));
    const auto* s = dynamic_cast<CAudioParamScopeDef*>(m_root->findObject("modA.s"));
    ASSERT_TRUE(def && a && b && s);
    EXPECT_EQ(a->index(), 3);
    EXPECT_TRUE(a->useAllGroups());
    EXPECT_FALSE(a->useAllElements());
    EXPECT_EQ(a->findParamDef(), def);
    EXPECT_EQ(b->index(), 0);
    EXPECT_EQ(b->findParamDef(), def);
    EXPECT_EQ(s->findParamDef(), def);

    const auto* unresolved =
        dynamic_cast<CAudioParamAllocDef*>(load("audio:param-alloc", {{"param-name", "none"}}));
    ASSERT_NE(unresolved, nullptr);
    EXPECT_EQ(unresolved->findParamDef(), nullptr);
}

TEST_F(AudioParamDefTest, BindingsRejectMissingNamesAndBadValues)
{
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"audio:param-alloc", "index=1", "Invalid parameter name specified."},
        {"audio:param-alloc", "param-name=", "Invalid parameter name specified."},
        {"audio:param-scope", "is-group0=true", "Invalid parameter name specified."},
        {"audio:param-alloc", "param-name=p|index=1.5", "Invalid parameter index '1.5'."},
        {"audio:param-scope", "param-name=p|is-group0=yes", "Invalid boolean value 'yes'."},
    };
    for (const auto& [tag, list, message] : cases)
        EXPECT_EQ(failure(tag, attrs(list)), message) << list;
}

} // namespace
} // namespace zel
