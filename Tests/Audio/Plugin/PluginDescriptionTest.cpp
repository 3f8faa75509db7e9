// The carried description as one instance sees it: the instance tree builds, the master
// registry stores exactly the preset parameters, the host-visible list is the product's, and
// after the build every band holds the value its default curve gives.
#include "Audio/AudioExtParam.h"
#include "Audio/AudioParamRegistry.h"
#include "Audio/AudioPreset.h"
#include "Audio/AudioProcess.h"
#include "Audio/AudioProcessStack.h"
#include "Audio/AudioTestSupport.h"
#include "Audio/Plugin/PluginTestSupport.h"

#include <algorithm>
#include <set>
#include <tuple>

namespace kelvtest
{
namespace
{

TEST_F(CPluginTest, InstanceBuildsWithEveryObjectAndOneCopyPerStereoGroup)
{
    for (const std::int32_t channels : {2, 8})
    {
        CPluginDriver& d = make(44100.0, channels);
        ASSERT_FALSE(d.error());
        for (const char* path :
             {"appdata", "dcdaw-context", "audio-env", "param-collector", "viz-collector",
              "interface-base", "cctable", "param-registry", "routing-registry", "ui-registry",
              "ext-param-list", "modMain", "modOutput"})
            EXPECT_NE(d.plugin().findChild(path), nullptr) << path;
        ASSERT_TRUE(d.registry() != nullptr && d.registry("routing-registry") != nullptr);
        EXPECT_TRUE(d.registry()->isMaster());
        EXPECT_FALSE(d.registry("routing-registry")->isMaster());

        // In the default grouping every stereo pair is a group with its own copy.
        d.processSilence(64);
        auto& kelv = dynamic_cast<zel::CAudioProcess&>(
            *dynamic_cast<zel::CAudioProcess&>(d.main()).findProcess("modKelvatrone"));
        auto& stack = dynamic_cast<zel::CAudioProcessStack&>(*kelv.findProcess("modKelvStack"));
        EXPECT_EQ(stack.instanceCount(), channels / 2);
        for (std::int32_t c = 0; c < channels; ++c)
            EXPECT_EQ(stack.instanceFor(c), c / 2) << c;
    }
}

// The factory presets' 27 entries: seven routing parameters, the output gain, oversampling,
// and the spectral processor's user settings. Working values (per-band results, host state,
// editor selections, meters) and instance state (name, window size) are not stored.
const std::vector<std::string> kStorable = {
    "plugin.modMain.io-params.group-names",
    "plugin.modMain.io-params.grouping",
    "plugin.modMain.io-params.in-channel-names",
    "plugin.modMain.io-params.in-routing",
    "plugin.modMain.io-params.ms-pairs",
    "plugin.modMain.io-params.out-routing",
    "plugin.modMain.io-params.show-all-channels",
    "plugin.modMain.modKelvatrone.bandcount",
    "plugin.modMain.modKelvatrone.env-attack",
    "plugin.modMain.modKelvatrone.env-chlink",
    "plugin.modMain.modKelvatrone.env-outgain",
    "plugin.modMain.modKelvatrone.env-pan",
    "plugin.modMain.modKelvatrone.env-range",
    "plugin.modMain.modKelvatrone.env-ratio",
    "plugin.modMain.modKelvatrone.env-release",
    "plugin.modMain.modKelvatrone.env-sidemix",
    "plugin.modMain.modKelvatrone.env-threshold",
    "plugin.modMain.modKelvatrone.eq-params.bw",
    "plugin.modMain.modKelvatrone.eq-params.freq",
    "plugin.modMain.modKelvatrone.eq-params.gain",
    "plugin.modMain.modKelvatrone.eq-params.type",
    "plugin.modMain.modKelvatrone.inverse",
    "plugin.modMain.modKelvatrone.rms",
    "plugin.modMain.modKelvatrone.slope",
    "plugin.modMain.modKelvatrone.slopeout",
    "plugin.modMain.modOutGain.gain",
    "plugin.modMain.oversampling",
};

TEST_F(CPluginTest, MasterRegistryStoresExactlyTheTwentySevenPresetParameters)
{
    CPluginDriver& d = make(48000.0, 8);
    ASSERT_EQ(kStorable.size(), 27u);
    std::vector<std::string> storable;
    d.collector().forEachParam(
        [&](const zel::CText& path, zel::CAudioParam& p)
        {
            if (p.info().storable)
                storable.push_back(path.toUtf8());
        });
    std::sort(storable.begin(), storable.end());
    EXPECT_EQ(storable, kStorable);

    // A captured program holds one entry per storable parameter, keyed below "plugin.modMain".
    zel::CAudioParamRegistry& master = *d.registry();
    const zel::CAudioPreset preset = master.capturePreset(zel::CText("q3k8:Test"));
    std::vector<std::string> keys;
    for (const auto& [key, blob] : preset.entries)
        keys.push_back("plugin.modMain." + key.toUtf8());
    EXPECT_EQ(keys, kStorable);
    EXPECT_EQ(master.storedPathOf(zel::CText("plugin.modMain.modKelvatrone.rms")),
              zel::CText("audio.modMain.modKelvatrone.rms"));

    // The routing registry captures the seven routing parameters under their short keys.
    const zel::CAudioPreset routing =
        d.registry("routing-registry")->capturePreset(zel::CText("ZLIO:Test"));
    std::vector<std::string> routingKeys;
    for (const auto& [key, blob] : routing.entries)
        routingKeys.push_back(key.toUtf8());
    EXPECT_EQ(routingKeys,
              (std::vector<std::string>{"group-names", "grouping", "in-channel-names", "in-routing",
                                        "ms-pairs", "out-routing", "show-all-channels"}));
}

TEST_F(CPluginTest, HostVisibleListHasTheTwentySixEntriesInOrder)
{
    CPluginDriver& d = make();
    struct CRow
    {
        std::string ext;
        std::string path;
        std::int32_t group;
    };
    std::vector<CRow> want = {{"Bypass", "plugin.modMain.modBypass.enable", 0},
                              {"Oversmp", "plugin.modMain.oversampling", 0}};
    const std::pair<const char*, const char*> six[] = {
        {"Downw", "modKelvatrone.inverse"},    {"RMS", "modKelvatrone.rms"},
        {"ISlope", "modKelvatrone.slope"},     {"OSlope", "modKelvatrone.slopeout"},
        {"GDispl", "modKelvatrone.gainrange"}, {"OGain", "modOutGain.gain"}};
    for (std::int32_t g = 0; g < 4; ++g)
        for (const auto& [ext, path] : six)
            want.push_back({std::to_string(g + 1) + ext, std::string("plugin.modMain.") + path, g});

    const auto* list =
        dynamic_cast<const zel::CAudioExtParamList*>(d.plugin().findChild("ext-param-list"));
    ASSERT_NE(list, nullptr);
    const std::vector<zel::CAudioExtParam*> got = list->params();
    ASSERT_EQ(got.size(), 26u);
    for (std::size_t i = 0; i < got.size(); ++i)
    {
        EXPECT_EQ(got[i]->extName().toUtf8(), want[i].ext) << i;
        EXPECT_EQ(got[i]->paramName().toUtf8(), want[i].path) << i;
        EXPECT_EQ(got[i]->group(), want[i].group) << i;
        EXPECT_EQ(got[i]->elementIndex(), 0) << i;
        EXPECT_EQ(got[i]->findParam(), d.param(want[i].path)) << i;
        EXPECT_NE(got[i]->findParam(), nullptr) << i;
    }
}

class ExtParamAttributes : public CAudioTest
{
};

TEST_F(ExtParamAttributes, BadAttributesGiveClearErrors)
{
    const std::string good = "param-collector=/c|param-name=a.b|ext-name=";
    // attributes, "no error" or the error's id and text
    const std::tuple<std::string, std::string> rows[] = {
        {good + "Bypass|group=7|element-index=3", "no error"},
        {good + "1234567", "no error"},
        {good + "12345678",
         "zelstr_CAudioExtParam_onExtName: Invalid host parameter name '12345678' (1 to 7 "
         "characters)."},
        {"param-collector=/c|param-name=a.b",
         "zelstr_CAudioExtParam_init_NoExtName: No host parameter name specified."},
        {"param-collector=/c|ext-name=X",
         "zelstr_CAudioExtParam_init_NoParamName: Invalid parameter name specified."},
        {"param-name=a|ext-name=X",
         "zelstr_CAudioExtParam_init_NoCollector: No parameter collector specified."},
        {good + "X|group=8", "zelstr_CAudioExtParam_onGroup: Invalid group '8' specified."},
        {good + "X|group=-1", "zelstr_CAudioExtParam_onGroup: Invalid group '-1' specified."},
        {good + "X|group=one", "zelstr_CAudioExtParam_onGroup: Invalid group 'one' specified."},
        {good + "X|element-index=-2",
         "zelstr_CAudioExtParam_onElementIndex: Invalid element index '-2' specified."},
    };
    for (const auto& [attributes, error] : rows)
    {
        zel::CErrorPtr err;
        auto* made =
            dynamic_cast<zel::CAudioExtParam*>(load("audio:ext-param", attrs(attributes), &err));
        EXPECT_EQ(idAndText(err), error) << attributes;
        EXPECT_EQ(made != nullptr, error == "no error") << attributes;
    }
    // A list accepts only host parameters.
    zel::CObject* list = nullptr;
    const zel::CErrorPtr err = ktest::loadElement(
        *m_root, {"audio:ext-param-list", "l", {}, {{"core:object", "stray", {}, {}}}}, &list);
    EXPECT_EQ(idAndText(err), "zelstr_CAudioExtParamList_initChilds_Class: Object 'stray' is not "
                              "a host parameter.");
}

// The value of a flat curve c on a curve range [lo, hi] carried to a band range [blo, bhi]
// through a linear normalised scale (decibels for gains, percent, pan).
double carried(double c, double lo, double hi, double blo, double bhi)
{
    return blo + (c - lo) / (hi - lo) * (bhi - blo);
}

TEST_F(CPluginTest, EveryBandStartsAtTheValueItsDefaultCurveGives)
{
    CPluginDriver& d = make(48000.0, 8);
    const double r = layoutRatio();
    for (std::int32_t g : {0, 3})
    {
        const zel::CAudioParam* freqs = d.param(std::string(CPluginDriver::kKelv) + "freqs");
        ASSERT_NE(freqs, nullptr);
        ASSERT_EQ(freqs->elementCount(g), kDefaultBands);
        for (int k = 0; k < kDefaultBands; ++k)
            EXPECT_NEAR(d.kelv("freqs", k, g), defaultBandFreq(k), 1e-9 * defaultBandFreq(k)) << k;
        EXPECT_NEAR(d.kelv("bw", 0, g), 0.50238, 1e-5);
        EXPECT_NEAR(d.kelv("bw", 0, g), layoutBandwidth(r), 1e-12);
        EXPECT_NEAR(d.kelv("postgain", 0, g), 0.43557, 1e-5);
        EXPECT_NEAR(d.kelv("postgain", 0, g), layoutPostGain(r), 1e-12);

        // Flat curves: every band the same; values in the units the modules read.
        // band parameter, value
        const std::tuple<const char*, double> rows[] = {
            {"threshold", dbToFactor(carried(-12.0, -66.0, 6.0, -54.0, -6.0))}, // -18 dB
            {"ratio", 0.999},
            {"range", dbToFactor(15.0)},
            {"attack", 0.020},
            {"release", 0.250},
            {"chlink", 1.0},
            {"sidemix", 0.5},
            {"pan", 0.0},
            {"outgain", dbToFactor(carried(0.0, -12.0, 12.0, -18.0, 18.0))},
        };
        for (const auto& [name, want] : rows)
        {
            ASSERT_EQ(d.param(std::string(CPluginDriver::kKelv) + name)->elementCount(g),
                      kDefaultBands)
                << name;
            for (int k = 0; k < kDefaultBands; ++k)
                EXPECT_NEAR(d.kelv(name, k, g), want, 1e-9 * std::max(1.0, want))
                    << name << " band " << k << " group " << g;
        }
        // The input tilt: 4.5 dB per octave around 632.46 Hz, minus the 3 dB of pink noise.
        for (int k = 0; k < kDefaultBands; ++k)
        {
            const double octaves = std::log2(defaultBandFreq(k) / 632.46);
            EXPECT_NEAR(d.kelv("slopegain", k, g), dbToFactor(1.5 * octaves), 1e-9) << k;
            EXPECT_NEAR(d.kelv("slopeoutgain", k, g), dbToFactor(1.5 * octaves), 1e-9) << k;
        }
    }
}

TEST_F(CPluginTest, TextsGoThroughTheElementsConverter)
{
    CPluginDriver& d = make();
    const std::string kelv = CPluginDriver::kKelv;
    ASSERT_FALSE(d.setText(kelv + "bandcount", 0, 0, "8"));
    EXPECT_EQ(d.param(kelv + "freqs")->elementCount(0), 8);
    EXPECT_EQ(d.param(kelv + "threshold")->elementCount(0), 8);
    ASSERT_FALSE(d.setText("plugin.modMain.modOutGain.gain", 0, 0, "-6"));
    EXPECT_NEAR(d.param("plugin.modMain.modOutGain.gain")->value(0, 0, 0), dbToFactor(-6.0), 1e-12);
    EXPECT_TRUE(d.setText(kelv + "rms", 0, 0, "maybe"));
}

} // namespace
} // namespace kelvtest
