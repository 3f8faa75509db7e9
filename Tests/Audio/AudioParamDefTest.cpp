#include "Audio/AudioParamDef.h"

#include "Audio/Converters/Converters.h"
#include "Core/ObjectTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace zel
{
namespace
{

using CAttrs = std::vector<std::pair<CText, CText>>;

std::string stringItem(const CAudioParamInfo& info, double id)
{
    const auto* item =
        dynamic_cast<const CAudioParamDataItemString*>(info.defaultData().findByValue(id));
    return item != nullptr ? item->text().toUtf8() : "<none>";
}

class AudioParamDefTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(registerProductTypes(m_registration));
        m_root = CObject::make<CObject>();
        m_root->setRootName("r");
        // The converters the definitions name, as the shared description holds them.
        ASSERT_FALSE(
            ktest::loadElement(*m_root, {"core:object",
                                         "cvt",
                                         {},
                                         {{"audio:cvt-freq", "freq", {}, {}},
                                          {"audio:cvt-gain", "gain", {{"decimals", "1"}}, {}},
                                          {"audio:cvt-real", "real", {{"decimals", "2"}}, {}},
                                          {"audio:cvt-ratio", "ratio", {{"decimals", "1"}}, {}},
                                          {"audio:cvt-text", "text", {}, {}}}}));
    }

    // Loads an "audio:param" named name with attrs; null (and err set) on failure.
    const CAudioParamDef* load(const CText& name, const CAttrs& attrs, CErrorPtr* err = nullptr)
    {
        CObject* made = nullptr;
        CErrorPtr result = ktest::loadElement(*m_root, {"audio:param", name, attrs, {}}, &made);
        if (err != nullptr)
            *err = std::move(result);
        else
            EXPECT_FALSE(result) << (result ? result->text() : "");
        return result ? nullptr : dynamic_cast<const CAudioParamDef*>(made);
    }

    ktest::CFakeApplication m_application;
    CTypeRegistration m_registration;
    CObjectPtr m_root;
};

TEST_F(AudioParamDefTest, TwoValueElementsTakeTheirRangesFromTheirOwnConverters)
{
    const CAudioParamDef* def = load("curve", {{"element-size", "2"},
                                               {"converter", "/cvt.freq"},
                                               {"converter2", "/cvt.gain"},
                                               {"min-values", "20 -66"},
                                               {"max-values", "20000  6"},
                                               {"def-values", "20 0,1000 -6"}});
    ASSERT_NE(def, nullptr);
    const CAudioParamInfo& info = def->info();
    EXPECT_TRUE(info.defined);
    EXPECT_EQ(info.elementSize, 2);
    EXPECT_EQ(info.paramName.toUtf8(), "curve");
    ASSERT_EQ(info.converters.size(), 2u);
    EXPECT_NE(dynamic_cast<CAudioParamConverterFreq*>(info.converter(0)), nullptr);
    EXPECT_NE(dynamic_cast<CAudioParamConverterGain*>(info.converter(1)), nullptr);
    EXPECT_DOUBLE_EQ(info.minValue(0), 20.0);
    EXPECT_DOUBLE_EQ(info.maxValue(0), 20000.0);
    EXPECT_NEAR(info.minValue(1), std::pow(10.0, -66.0 / 20.0), 1e-15);
    EXPECT_NEAR(info.maxValue(1), std::pow(10.0, 6.0 / 20.0), 1e-12);
    ASSERT_EQ(info.defaultSets.size(), 1u);
    const std::vector<double>& set = info.defaultSets[0];
    ASSERT_EQ(set.size(), 4u);
    EXPECT_DOUBLE_EQ(set[0], 20.0);
    EXPECT_DOUBLE_EQ(set[1], 1.0);
    EXPECT_DOUBLE_EQ(set[2], 1000.0);
    EXPECT_NEAR(set[3], std::pow(10.0, -6.0 / 20.0), 1e-12);
}

TEST_F(AudioParamDefTest, DefaultValueGrammar)
{
    const struct
    {
        const char* elementSize;
        const char* converters; // space-separated paths
        const char* defValues;
        std::vector<std::vector<double>> sets;
    } cases[] = {
        {"1", "/cvt.real", "0", {{0}}},
        {"1", "/cvt.real", "1,2,3", {{1, 2, 3}}},
        {"1", "/cvt.real", "1;2,-3;4", {{1}, {2, -3}, {4}}},
        {"1", "/cvt.real", "1, 2;", {{1, 2}}},
        {"1", "/cvt.ratio", "4:1", {{0.25}}},
        {"2", "/cvt.real /cvt.real", "1 2,3  4;5 6", {{1, 2, 3, 4}, {5, 6}}},
        {"2", "/cvt.freq /cvt.real", "1k 1,", {{1000, 1}}},
    };
    for (const auto& c : cases)
    {
        CAttrs attrs = {{"element-size", c.elementSize},
                        {"min-values", "-10 -10"},
                        {"max-values", "10000 10"},
                        {"def-values", c.defValues}};
        const std::string paths = c.converters;
        const std::size_t space = paths.find(' ');
        attrs.push_back({"converter", CText(paths.substr(0, space))});
        if (space != std::string::npos)
            attrs.push_back({"converter2", CText(paths.substr(space + 1))});
        const CAudioParamDef* def = load("p", attrs);
        ASSERT_NE(def, nullptr) << c.defValues;
        EXPECT_EQ(def->info().defaultSets, c.sets) << c.defValues;
    }
}

TEST_F(AudioParamDefTest, StringDefaultsBecomeItemsPerGroupAndLaterGroupsTakeTheLastSet)
{
    const CAudioParamDef* def = load("names", {{"element-size", "1"},
                                               {"data-type", "str"},
                                               {"converter", "/cvt.text"},
                                               {"def-values", "L,R;IN3,IN4"}});
    ASSERT_NE(def, nullptr);
    const CAudioParamInfo& info = def->info();
    EXPECT_EQ(info.dataType, EAudioParamDataType::kString);
    ASSERT_EQ(info.defaultSets.size(), 2u);
    ASSERT_EQ(info.defaultSets[0].size(), 2u);
    ASSERT_EQ(info.defaultSets[1].size(), 2u);
    EXPECT_EQ(stringItem(info, info.defaultSets[0][0]), "L");
    EXPECT_EQ(stringItem(info, info.defaultSets[0][1]), "R");
    EXPECT_EQ(stringItem(info, info.defaultSets[1][0]), "IN3");
    EXPECT_EQ(stringItem(info, info.defaultSets[1][1]), "IN4");
    // A group for which no set is given still gets defaults: those of the last set.
    EXPECT_EQ(info.defaultSet(5), info.defaultSets[1]);
    EXPECT_EQ(info.defaultSet(0), info.defaultSets[0]);
}

TEST_F(AudioParamDefTest, ItemTypesHaveTheFixedRangeAndNeedElementSizeOne)
{
    const CAudioParamDef* raw = load("blob", {{"element-size", "1"},
                                              {"data-type", "raw"},
                                              {"converter", "/cvt.text"},
                                              {"min-values", "5"},
                                              {"max-values", "5"},
                                              {"def-values", "abc"}});
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw->info().dataType, EAudioParamDataType::kRaw);
    EXPECT_EQ(raw->info().minValues, std::vector<double>{0.0});
    EXPECT_EQ(raw->info().maxValues, std::vector<double>{8388608.0});
    const auto* item = dynamic_cast<const CAudioParamDataItemRaw*>(
        raw->info().defaultData().findByValue(raw->info().defaultSets.at(0).at(0)));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->bytes(), (std::vector<std::uint8_t>{'a', 'b', 'c'}));

    for (const char* type : {"str", "string", "1", "raw"})
    {
        CErrorPtr err;
        load("bad", {{"element-size", "2"}, {"data-type", type}}, &err);
        ASSERT_TRUE(err) << type;
        EXPECT_EQ(err->text(), "Invalid element size 2 for non-float data specified.");
    }
}

TEST_F(AudioParamDefTest, FlagPrecedence)
{
    const struct
    {
        CAttrs flags;
        bool global;
        bool storable;
        bool persistent;
    } cases[] = {
        {{{"is-persistent", "true"}, {"is-storable", "true"}}, true, false, true},
        {{{"is-persistent", "true"}, {"is-global", "false"}}, true, false, true},
        {{{"is-storable", "true"}}, true, true, false},
        {{{"is-global", "true"}}, true, false, false},
        {{}, false, false, false},
    };
    for (const auto& c : cases)
    {
        CAttrs attrs = {{"element-size", "1"}, {"converter", "/cvt.real"}, {"min-values", "0"},
                        {"max-values", "1"},   {"def-values", "0"},        {"is-discrete", "true"}};
        attrs.insert(attrs.end(), c.flags.begin(), c.flags.end());
        const CAudioParamDef* def = load("f", attrs);
        ASSERT_NE(def, nullptr);
        EXPECT_EQ(def->info().global, c.global);
        EXPECT_EQ(def->info().storable, c.storable);
        EXPECT_EQ(def->info().persistent, c.persistent);
        EXPECT_TRUE(def->info().discrete);
        EXPECT_FALSE(def->info().undoDisabled);
    }
}

TEST_F(AudioParamDefTest, InitialisationFailures)
{
    const CAttrs valid = {{"element-size", "2"},       {"converter", "/cvt.real"},
                          {"converter2", "/cvt.freq"}, {"min-values", "0 20"},
                          {"max-values", "1 20000"},   {"def-values", "0 100"}};
    const struct
    {
        CAttrs changes; // replace or add attributes of valid; an empty value removes one
        const char* message;
    } cases[] = {
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
    for (const auto& c : cases)
    {
        CAttrs attrs;
        for (const auto& [name, value] : valid)
        {
            CText text = value;
            for (const auto& [changed, changedValue] : c.changes)
                if (changed == name)
                    text = changedValue;
            if (!text.empty())
                attrs.push_back({name, text});
        }
        CErrorPtr err;
        load("bad", attrs, &err);
        ASSERT_TRUE(err) << c.message;
        EXPECT_EQ(err->text(), c.message);
    }
}

} // namespace
} // namespace zel
