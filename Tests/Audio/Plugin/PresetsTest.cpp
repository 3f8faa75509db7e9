// The carried preset collections as an instance loads them (their byte layout is the preset
// format's own test): the factory bank's names and entries, the Default preset against the
// description, the routing presets' names, entries, fit and channel moves, and the default
// preset of application data.
#include "Audio/AudioParamRegistry.h"
#include "Audio/AudioPreset.h"
#include "Audio/AudioRoutingFit.h"
#include "Audio/Plugin/PluginTestSupport.h"
#include "Core/MemoryWriteBuffer.h"

#include <algorithm>
#include <functional>
#include <map>
#include <tuple>

namespace kelvtest
{
namespace
{

constexpr double kFs = 48000.0;
constexpr double kPi = std::numbers::pi;
using Signal = std::vector<double>;

const std::vector<std::string> kFactoryNames = {"Default",
                                                "Tape Compression",
                                                "Deeper",
                                                "Spectral Expander",
                                                "Overcompression",
                                                "Mastering Compression",
                                                "Open Highs",
                                                "Depth",
                                                "Smooth Peak Control",
                                                "Lightness",
                                                "More Space",
                                                "Clubbing",
                                                "Flatter Bass"};
const std::vector<std::string> kRoutingNames = {
    "Default Stereo", "2.1 Stereo",        "5.1 Surround",    "Dual Mono", "Mid-Side Stereo",
    "Mono To Stereo", "Stereo Side-Chain", "Mono Side-Chain", "Force Mono"};
const std::vector<std::string> kRoutingKeys = {"group-names",      "grouping", "in-channel-names",
                                               "in-routing",       "ms-pairs", "out-routing",
                                               "show-all-channels"};

std::vector<std::string> keysOf(const zel::CAudioPreset& preset)
{
    std::vector<std::string> keys;
    for (const auto& [key, blob] : preset.entries)
        keys.push_back(key.toUtf8());
    return keys;
}

// ---- Through an instance ---------------------------------------------------------------------

std::vector<zel::CAudioPresetBank> carriedRouting(CPluginDriver& d)
{
    std::vector<zel::CAudioPresetBank> banks;
    EXPECT_EQ(idAndText(d.registry("routing-registry")->loadPresetList(banks)), "no error");
    return banks;
}

TEST_F(CPluginTest, NewInstanceRunsTheFactoryProgramsFromTheDescriptionsDefaults)
{
    CPluginDriver& d = make(kFs, 2);
    zel::CAudioParamRegistry& master = *d.registry();
    const zel::CAudioParamRegistry::CState state = master.state();
    ASSERT_EQ(state.factoryNames.size(), 13u);
    EXPECT_EQ(state.sessionNames, state.factoryNames);
    EXPECT_EQ(state.currentProgram, 0);
    // The carried bank: the thirteen presets by name, each with the same 27 entries.
    const std::vector<zel::CAudioPreset>& presets = master.factoryBank().presets;
    ASSERT_EQ(presets.size(), kFactoryNames.size());
    for (std::size_t i = 0; i < presets.size(); ++i)
    {
        EXPECT_EQ(presets[i].name.toUtf8(), "q3k8:" + kFactoryNames[i]);
        EXPECT_EQ(keysOf(presets[i]), keysOf(presets[0])) << i;
    }
    EXPECT_EQ(presets[0].entries.size(), 27u);

    // A fresh instance and the Default preset capture the same program, byte for byte.
    const zel::CAudioPreset fresh = master.capturePreset(zel::CText("q3k8:Default"));
    EXPECT_EQ(master.factoryBank().presets[0].entries, fresh.entries);
    ASSERT_FALSE(master.activateFactoryPreset(5));
    EXPECT_NE(master.capturePreset(zel::CText("q3k8:Default")).entries, fresh.entries);
    ASSERT_FALSE(master.activateFactoryPreset(0));
    EXPECT_EQ(master.capturePreset(zel::CText("q3k8:Default")).entries, fresh.entries);
}

TEST_F(CPluginTest, RoutingPresetsFitOnlyWhatTheHostOffers)
{
    CPluginDriver& d = make(kFs, 2);
    const std::vector<zel::CAudioPresetBank> banks = carriedRouting(d);
    ASSERT_EQ(banks.size(), 1u);
    ASSERT_EQ(banks[0].presets.size(), 9u);
    for (std::size_t i = 0; i < banks[0].presets.size(); ++i)
    {
        // Only "Mid-Side Stereo" needs mid/side, only the two side-chain presets side-chains.
        const zel::CAudioPreset& preset = banks[0].presets[i];
        SCOPED_TRACE(preset.name.toUtf8());
        const bool midSide = i == 4;
        const bool sidechain = i == 6 || i == 7;
        EXPECT_EQ(preset.name.toUtf8(), "ZLIO:" + kRoutingNames[i]);
        // The last three carry the side-chain switches (off in "Force Mono").
        std::vector<std::string> keys = kRoutingKeys;
        if (i >= 6)
            keys.insert(keys.end(), {"sidechain", "sidechain-mute"});
        EXPECT_EQ(keysOf(preset), keys);
        zel::CAudioRoutingFit fit;
        ASSERT_FALSE(fit.read(preset));
        EXPECT_EQ(fit.needsMidSide, midSide);
        EXPECT_EQ(fit.needsSidechain, sidechain);
        for (const bool ms : {false, true})
            for (const bool sc : {false, true})
                EXPECT_EQ(zel::CAudioRoutingFit::presetFits(preset, ms, sc),
                          (ms || !midSide) && (sc || !sidechain))
                    << " ms=" << ms << " sc=" << sc;
    }

    // Either side-chain switch alone asks for side-chain inputs; a damaged record fits nothing.
    zel::CAudioPreset only = banks[0].presets[6];
    zel::CAudioParam* mute = d.param("plugin.modMain.io-params.sidechain-mute");
    zel::CAudioParam* sidechain = d.param("plugin.modMain.io-params.sidechain");
    ASSERT_FALSE(sidechain->setValue(0, 0, 0, 0.0));
    ASSERT_FALSE(mute->setValue(0, 0, 0, 1.0));
    for (auto [param, key] : {std::pair{sidechain, "sidechain"}, {mute, "sidechain-mute"}})
    {
        zel::CMemoryWriteBuffer out;
        ASSERT_FALSE(param->saveRecord(out, zel::CText(key), -1));
        only.entries[zel::CText(key)] = out.toVector();
    }
    EXPECT_FALSE(zel::CAudioRoutingFit::presetFits(only, true, false));
    EXPECT_TRUE(zel::CAudioRoutingFit::presetFits(only, false, true));
    only.entries[zel::CText("sidechain")].resize(10);
    EXPECT_FALSE(zel::CAudioRoutingFit::presetFits(only, true, true));
}

TEST_F(CPluginTest, RoutingPresetsMoveTheChannelsTheirNamesSay)
{
    // Input 1 carries 1 kHz, input 2 carries 3 kHz, both of amplitude 0.1; the expected
    // amplitudes of each tone on the two outputs.
    // routing preset, the amplitudes of input 1 on left and right, of input 2 on left and right
    const std::tuple<std::size_t, double, double, double, double> rows[] = {
        {0, 0.1, 0.0, 0.0, 0.1},      // Default Stereo
        {5, 0.1, 0.1, 0.0, 0.0},      // Mono To Stereo: input 1 on both
        {8, 0.05, 0.05, 0.05, 0.05}}; // Force Mono: the mean on both
    const std::size_t n = 24000;
    Signal a(n), b(n), silence(n, 0.0);
    for (std::size_t i = 0; i < n; ++i)
    {
        a[i] = 0.1 * std::sin(2.0 * kPi * 1000.0 * static_cast<double>(i) / kFs);
        b[i] = 0.1 * std::sin(2.0 * kPi * 3000.0 * static_cast<double>(i) / kFs);
    }
    const auto level = [](const Signal& y, double f)
    { return 2.0 * std::abs(dftAt(Signal(y.begin() + 12000, y.end()), f, kFs)) / 12000.0; };
    for (const auto& [index, in1ToLeft, in1ToRight, in2ToLeft, in2ToRight] : rows)
    {
        // Four channels: Force Mono processes left and right twice.
        CPluginDriver& d = make(kFs, 4);
        const std::vector<zel::CAudioPresetBank> banks = carriedRouting(d);
        ASSERT_EQ(banks.size(), 1u);
        const zel::CAudioPreset& preset = banks[0].presets[index];
        ASSERT_EQ(idAndText(d.registry("routing-registry")->applyPreset(preset)), "no error");
        const auto out = d.processAligned({a, b, silence, silence});
        const std::string name = preset.name.toUtf8();
        EXPECT_NEAR(level(out[0], 1000.0), in1ToLeft, 0.005) << name;
        EXPECT_NEAR(level(out[1], 1000.0), in1ToRight, 0.005) << name;
        EXPECT_NEAR(level(out[0], 3000.0), in2ToLeft, 0.005) << name;
        EXPECT_NEAR(level(out[1], 3000.0), in2ToRight, 0.005) << name;
    }
}

TEST_F(CPluginTest, DefaultPresetOfApplicationDataStartsEveryNewInstance)
{
    {
        CPluginDriver& d = make(kFs, 2);
        ASSERT_FALSE(d.registry()->activateFactoryPreset(9));
        ASSERT_FALSE(d.setText("plugin.modMain.modOutGain.gain", 0, 0, "-3.5"));
        ASSERT_EQ(idAndText(d.registry()->storeDefaultPreset()), "no error");
    }
    EXPECT_FALSE(ktest::fs::is_empty(dataFolder())) << "the default preset is a file of its own";
    CPluginDriver& d = make(kFs, 2);
    zel::CAudioParamRegistry& master = *d.registry();
    EXPECT_NEAR(d.param("plugin.modMain.modOutGain.gain")->value(0, 0, 0), dbToFactor(-3.5), 1e-3);
    zel::CAudioPreset lightness = master.factoryBank().presets[9];
    zel::CAudioPreset live = master.capturePreset(lightness.name);
    lightness.entries.erase(zel::CText("modOutGain.gain"));
    live.entries.erase(zel::CText("modOutGain.gain"));
    EXPECT_EQ(live.entries, lightness.entries);

    // Without the file a new instance is neutral again.
    ktest::fs::remove_all(dataFolder());
    CPluginDriver& clean = make(kFs, 2);
    EXPECT_EQ(clean.registry()->capturePreset(zel::CText("q3k8:x")).entries,
              clean.registry()->factoryBank().presets[0].entries);
}

} // namespace
} // namespace kelvtest
