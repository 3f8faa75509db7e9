// The readable preset source: its grammar, and presets built through a live instance (values
// set by their display texts, every group set from one, non-storable switches carried).
#include "Presets/PresetSource.h"
#include "Audio/AudioParamRegistry.h"
#include "Audio/AudioPreset.h"
#include "Audio/Plugin/PluginTestSupport.h"
#include "Core/MemoryReader.h"

namespace kelvtest
{
namespace
{

using kelvtools::CPresetSource;
using kelvtools::SPresetSource;

TEST(PresetSource, ParsesPresetsAndRefusesBrokenTextByLine)
{
    std::vector<SPresetSource> presets;
    ASSERT_EQ(idAndText(CPresetSource::parse("# bank\n\npreset  A b \n  x.y = 1, 2 # c\nend\n"
                                             "preset Empty\nend",
                                             presets)),
              "no error");
    ASSERT_EQ(presets.size(), 2u);
    EXPECT_EQ(presets[0].name, "A b");
    ASSERT_EQ(presets[0].settings.size(), 1u);
    EXPECT_EQ(presets[0].settings[0].key, "x.y");
    EXPECT_EQ(presets[0].settings[0].value, "1, 2");
    EXPECT_EQ(presets[0].settings[0].line, 4);
    EXPECT_TRUE(presets[1].settings.empty());

    const struct
    {
        const char* text;
        const char* error;
    } bad[] = {
        {"preset A\nx = 1\n", "Line 2: the last preset has no 'end'"},
        {"x = 1\n", "Line 1: expected 'preset <name>', '<key> = <values>' or 'end'"},
        {"preset A\npreset B\n", "Line 2: 'preset' inside a preset (missing 'end')"},
        {"end\n", "Line 1: 'end' outside a preset"},
        {"preset q3k8:A\nend\n", "Line 1: a preset needs a name without ':'"},
        {"preset A\nx =\nend\n", "Line 2: a setting needs a key and a value"},
        {"preset A\nx = 1\nx = 2\nend\n", "Line 3: 'x' set twice"},
    };
    for (const auto& row : bad)
    {
        presets.assign(1, SPresetSource{});
        const zel::CErrorPtr err = CPresetSource::parse(row.text, presets);
        ASSERT_TRUE(err) << row.text;
        EXPECT_EQ(err->text(), row.error);
        EXPECT_EQ(presets.size(), 1u) << "unchanged on failure";
    }
}

TEST(PresetSource, SplitsGroupsElementsAndValues)
{
    using Groups = std::vector<std::vector<std::vector<std::string>>>;
    EXPECT_EQ(CPresetSource::splitValues("20 -3, 2000 1:2 ; 5", false),
              (Groups{{{"20", "-3"}, {"2000", "1:2"}}, {{"5"}}}));
    EXPECT_EQ(CPresetSource::splitValues(" Left Side , Right;Mid", true),
              (Groups{{{"Left Side"}, {"Right"}}, {{"Mid"}}}));
}

TEST_F(CPluginTest, PresetSourceSetsValuesByTextAndCapturesTheRegistry)
{
    CPluginDriver& d = make(48000.0, 2);
    zel::CAudioParamRegistry& master = *d.registry();
    ASSERT_FALSE(d.setText("plugin.modMain.modOutGain.gain", 0, 0, "5"));
    std::vector<SPresetSource> sources;
    ASSERT_FALSE(CPresetSource::parse("preset Try\n"
                                      " modKelvatrone.env-ratio = 20 4:1, 1000 1:2, 20000 1:1\n"
                                      " modKelvatrone.rms = On; Off\n"
                                      " io-params.group-names = Main; Other\n"
                                      "end\n",
                                      sources));
    zel::CAudioPreset preset;
    ASSERT_EQ(idAndText(CPresetSource::build(master, sources[0], preset)), "no error");
    EXPECT_EQ(preset.name, zel::CText("q3k8:Try"));
    EXPECT_EQ(preset.entries.size(), 27u);
    // The values live in the instance as well as in the capture.
    zel::CAudioParam* ratio = d.param("plugin.modMain.modKelvatrone.env-ratio");
    for (const std::int32_t g : {0, 7})
        EXPECT_EQ(ratio->elements(g),
                  (std::vector<double>{20.0, 0.25, 1000.0, 2.0, 20000.0, 0.999}))
            << g;
    zel::CAudioParam* rms = d.param("plugin.modMain.modKelvatrone.rms");
    EXPECT_EQ(rms->value(0, 0, 0), 1.0);
    EXPECT_EQ(rms->value(5, 0, 0), 0.0) << "the last group given serves the rest";
    EXPECT_EQ(d.param("plugin.modMain.io-params.group-names")->string(3, 0).toUtf8(), "Other");
    EXPECT_EQ(d.param("plugin.modMain.modOutGain.gain")->value(0, 0, 0), 1.0)
        << "every preset starts from the defaults";

    const struct
    {
        const char* text;
        const char* error;
    } bad[] = {
        {"preset P\n nope = 1\nend\n", "Line 2 ('P / nope'): no such parameter in the registry"},
        {"preset P\n modKelvatrone.env-ratio = 20 4:1 9\nend\n",
         "Line 2 ('P / modKelvatrone.env-ratio'): element 1 holds 3 values, the parameter "
         "takes 2"},
        {"preset P\n modKelvatrone.rms = Sometimes\nend\n",
         "Line 2 ('P / modKelvatrone.rms'): value 'Sometimes' is not accepted by the converter"},
    };
    for (const auto& row : bad)
    {
        ASSERT_FALSE(CPresetSource::parse(row.text, sources));
        const zel::CErrorPtr err = CPresetSource::build(master, sources[0], preset);
        ASSERT_TRUE(err) << row.text;
        EXPECT_EQ(err->text(), row.error);
    }

    // A non-storable switch of the routing registry is carried with its own record.
    ASSERT_FALSE(CPresetSource::parse("preset SC\n sidechain = On\nend\n", sources));
    ASSERT_EQ(idAndText(CPresetSource::build(*d.registry("routing-registry"), sources[0], preset)),
              "no error");
    EXPECT_EQ(preset.entries.size(), 8u);
    ASSERT_EQ(preset.entries.count(zel::CText("sidechain")), 1u);
    zel::CAudioParam* sidechain = d.param("plugin.modMain.io-params.sidechain");
    ASSERT_FALSE(sidechain->setValue(0, 0, 0, 0.0));
    zel::CMemoryReader in(preset.entries[zel::CText("sidechain")].data(),
                          preset.entries[zel::CText("sidechain")].size());
    zel::CText path;
    ASSERT_FALSE(sidechain->loadRecord(in, -1, &path));
    EXPECT_EQ(path, zel::CText("audio.modMain.io-params.sidechain"));
    EXPECT_EQ(sidechain->value(0, 0, 0), 1.0);
}

} // namespace
} // namespace kelvtest
