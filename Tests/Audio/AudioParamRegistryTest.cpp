#include "Audio/AudioParamRegistry.h"

#include "Audio/AudioParam.h"
#include "Audio/AudioParamCollector.h"
#include "Audio/AudioParamUndo.h"
#include "Audio/AudioTestSupport.h"
#include "Core/AppDataTestSupport.h"
#include "Core/ApplicationData.h"
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace zel
{
namespace
{

using kelvtest::CRecordBytes;
using kelvtest::idAndText;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kMaster = "hierarchy=plugin.modMain|def-name-remap=plugin=audio|"
                                "is-master=true|id=TEST|param-collector=/collector|"
                                "param-undo=/undo|preset-name-param=program-name";
constexpr const char* kKnobs = "hierarchy=plugin.modMain.modGain|def-name-remap=plugin=audio|"
                               "id=KNOB|param-collector=/collector|store-name=knob-presets";

Bytes written(const std::function<CErrorPtr(COutputStream&)>& write)
{
    CMemoryWriteBuffer out;
    EXPECT_EQ(idAndText(write(out)), "no error");
    return out.toVector();
}

struct CCountingListener : CAudioParamRegistryListener
{
    void onRegistryChanged(CAudioParamRegistry&) override { ++calls; }
    int calls = 0;
};

// A small parameter set below plugin.modMain: a two-group knob, a two-group curve of
// (frequency, level) pairs, a string list, a persistent and a working (non-storable) value,
// the program-name string, and one storable knob outside the hierarchy.
class AudioParamRegistryTest : public kelvtest::CAudioTest
{
protected:
    std::vector<ktest::CFakeChild> converters() const override
    {
        return {{"audio:cvt-real", "real", {}, {}}, {"audio:cvt-text", "text", {}, {}}};
    }
    void SetUp() override
    {
        kelvtest::CAudioTest::SetUp();
        m_global = std::make_unique<CGlobalData>();
        m_savedGlobal = CGlobalData::setCurrent(m_global.get());

        CObject* made = nullptr;
        ASSERT_FALSE(
            ktest::loadElement(*m_root, {"audio:param-collector", "collector", {}, {}}, &made));
        m_collector = dynamic_cast<CAudioParamCollector*>(made);
        ASSERT_FALSE(m_root->addChild(CObject::make<CAudioParamUndo>(), "undo"));
        m_undo = dynamic_cast<CAudioParamUndo*>(m_root->findChild("undo"));
        m_undo->setAttributeRaw("undo-count-max", "32");
        ASSERT_FALSE(m_undo->init());

        const std::string real = "element-size=1|converter=/cvt.real|min-values=-60|"
                                 "max-values=12|def-values=0";
        m_gain = add("modGain.gain", real + "|is-storable=true", 2);
        m_curve = add("modDyn.curve",
                      "element-size=2|converter=/cvt.real|converter2=/cvt.real|is-storable=true|"
                      "min-values=20 -30|max-values=20000 30|def-values=100 0,1000 -6",
                      2);
        m_names = add("io.names",
                      "element-size=1|data-type=string|converter=/cvt.text|"
                      "is-storable=true|def-values=L,R",
                      1);
        m_size = add("ui.size", real + "|is-persistent=true|is-storable=true", 1);
        m_meter = add("meter", real, 1);
        m_programName = add("program-name",
                            "element-size=1|data-type=string|converter=/cvt.text|def-values=-", 1);
        m_outside = add("../other.x", real + "|is-storable=true", 1);
    }
    void TearDown() override
    {
        m_root.reset();
        CGlobalData::setCurrent(m_savedGlobal);
        m_global.reset();
    }

    CAudioParam* add(const std::string& path, const std::string& definition, int groups)
    {
        m_params.push_back(std::make_unique<CAudioParam>(define(definition), groups));
        const std::string full =
            path.rfind("../", 0) == 0 ? "plugin." + path.substr(3) : "plugin.modMain." + path;
        EXPECT_FALSE(m_collector->addParam(CText(full), *m_params.back()));
        return m_params.back().get();
    }

    CAudioParamRegistry* registry(const std::string& list, CErrorPtr* err = nullptr)
    {
        return dynamic_cast<CAudioParamRegistry*>(
            load("audio:param-registry", kelvtest::attrs(list), err));
    }

    // Every stored value in one line, to compare whole states.
    std::string snapshot() const
    {
        std::string out;
        for (const CAudioParam* param : {m_gain, m_curve, m_size, m_outside, m_names})
            out += kelvtest::contents(*param) + " / ";
        return out;
    }

    void edit(double gain, double level, const char* name)
    {
        ASSERT_FALSE(m_gain->setValue(0, 0, 0, gain));
        ASSERT_FALSE(m_curve->setValue(1, 1, 1, level));
        ASSERT_FALSE(m_names->setString(0, 0, name));
    }

    // A factory bank file with three programs: the defaults, then two edited states.
    std::string factoryFile()
    {
        CAudioParamRegistry* maker = registry(kMaster);
        CAudioPresetBank bank;
        bank.name = "Bank";
        bank.presets.push_back(maker->capturePreset("TEST:Default"));
        edit(-3, 6, "Soft");
        bank.presets.push_back(maker->capturePreset("TEST:Soft"));
        edit(-9, -12, "Hard");
        bank.presets.push_back(maker->capturePreset("TEST:Hard"));
        m_params[0]->resetToDefaults();
        m_params[1]->resetToDefaults();
        m_params[2]->resetToDefaults();
        const std::string path = (m_config.home / "factory.cbf").string();
        ktest::writeFile(path, ktest::makeBlock("abnk", written([&](COutputStream& out)
                                                                { return bank.save(out); })));
        return path;
    }

    std::vector<CText> history() const { return m_undo->historyLabels(); }

    CAudioParamCollector* m_collector = nullptr;
    CAudioParamUndo* m_undo = nullptr;
    std::vector<std::unique_ptr<CAudioParam>> m_params;
    CAudioParam *m_gain, *m_curve, *m_names, *m_size, *m_meter, *m_programName, *m_outside;
    std::unique_ptr<CGlobalData> m_global;
    CGlobalData* m_savedGlobal = nullptr;
    ktest::CConfigHome m_config;
};

TEST_F(AudioParamRegistryTest, KeysStoredPathsAndAttributeErrors)
{
    CAudioParamRegistry* reg =
        registry("hierarchy=/plugin.modMain|def-name-prefix=modKelv|param-collector=/collector|"
                 "def-name-remap=plugin=audio  x.y=z");
    // {path, key (null: outside the hierarchy), stored path}
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"plugin.modMain.modGain.gain", "modGain.gain", "audio.modMain.modGain.gain"},
        {"plugin.modMain.modKelv.rms", "rms", "audio.modMain.modKelv.rms"},
        {"plugin.modMain.modKelvX", "X", "audio.modMain.modKelvX"},
        {"plugin.modMainX.a", nullptr, "audio.modMainX.a"},
        {"plugin.modMain", nullptr, "audio.modMain"},
        {"pluginX.modMain.a", nullptr, "pluginX.modMain.a"},
        {"x.y.q", nullptr, "z.q"},
    };
    for (const auto& [path, expectedKey, stored] : cases)
    {
        CText key;
        EXPECT_EQ(reg->keyOf(path, key), expectedKey != nullptr) << path;
        EXPECT_EQ(key.toUtf8(), expectedKey != nullptr ? expectedKey : "") << path;
        EXPECT_EQ(reg->storedPathOf(path).toUtf8(), stored) << path;
    }
    std::vector<std::string> keys;
    for (const CText& key : reg->keys())
        keys.push_back(key.toUtf8());
    EXPECT_EQ(keys, (std::vector<std::string>{"io.names", "meter", "modDyn.curve", "modGain.gain",
                                              "program-name", "ui.size"}));

    CErrorPtr err;
    registry("param-collector=/collector|def-name-remap=plugin=audio bad", &err);
    EXPECT_EQ(idAndText(err), "zelstr_CAudioParamRegistry_onDefNameRemap_InvalidRemap: "
                              "Invalid remapping string 'bad' defined.");
    registry(kMaster + std::string("|file=") + (m_config.home / "missing.cbf").string(), &err);
    EXPECT_TRUE(err);
    registry("hierarchy=plugin", &err);
    EXPECT_EQ(idAndText(err), "zelstr_CAudioParamRegistry_init_NoCollector: "
                              "No parameter collector specified.");
}

TEST_F(AudioParamRegistryTest, PresetBytesAndRecordRoundTrips)
{
    CAudioParamRegistry* knobs = registry(kKnobs);
    ASSERT_FALSE(m_gain->setValue(0, 0, 0, 3.0));
    ASSERT_FALSE(m_gain->setValue(1, 0, 0, -6.0));
    CRecordBytes record;
    record.str("audio.modMain.modGain.gain").i32(1).i32(1).i32(0).i32(2);
    record.i32(1).f64bits(0x4008000000000000ULL).i32(1).f64bits(0xC018000000000000ULL);
    CRecordBytes preset;
    preset.str("KNOB:").i32(1).str("gain").i32(static_cast<std::int32_t>(record.bytes.size()));
    preset.raw(record.bytes);
    const Bytes bytes =
        written([&](COutputStream& out) { return knobs->acquirePreset(false, 7, -1, out); });
    EXPECT_EQ(bytes, preset.bytes);
    CMemoryWriteBuffer sink;
    EXPECT_EQ(idAndText(knobs->acquireBank(false, sink)),
              "zelstr_CAudioParamRegistry_acquireBank_NotMaster: "
              "Acquiring bank in a non-master registry is an error.");

    // Master: a preset and the whole bank come back after the values were changed.
    CAudioParamRegistry* master = registry(kMaster);
    edit(-3, 6, "Soft");
    const std::string edited = snapshot();
    const Bytes program =
        written([&](COutputStream& out) { return master->acquirePreset(false, -1, -1, out); });
    const Bytes bank = written([&](COutputStream& out) { return master->acquireBank(false, out); });
    edit(-9, -12, "Hard");
    CMemoryReader programIn(program.data(), program.size());
    EXPECT_EQ(idAndText(master->activatePreset(programIn)), "no error");
    EXPECT_EQ(snapshot(), edited);
    edit(-9, -12, "Hard");
    ASSERT_FALSE(master->renameProgram(0, "Renamed"));
    CMemoryReader bankIn(bank.data(), bank.size());
    EXPECT_EQ(idAndText(master->activateBank(bankIn)), "no error");
    EXPECT_EQ(snapshot(), edited);
    EXPECT_EQ(master->programName(0).toUtf8(), "TEST:Default");
    EXPECT_EQ(m_programName->string(0, 0).toUtf8(), "Default");
}

TEST_F(AudioParamRegistryTest, RecordsThatDoNotFitChangeNothing)
{
    CAudioParamRegistry* master = registry(kMaster);
    CAudioParamRegistry* knobs = registry(kKnobs);
    edit(-3, 6, "Soft");
    const std::string before = snapshot();
    const Bytes preset =
        written([&](COutputStream& out) { return master->acquirePreset(false, -1, -1, out); });
    const Bytes bank = written([&](COutputStream& out) { return master->acquireBank(false, out); });
    const Bytes foreign =
        written([&](COutputStream& out) { return knobs->acquirePreset(false, 0, -1, out); });
    CAudioPreset badCurve;
    {
        CMemoryReader in(preset.data(), preset.size());
        ASSERT_FALSE(badCurve.load(in));
    }
    const CAudioPresetBank bankBefore = master->sessionBank();
    badCurve.entries[CText("modDyn.curve")] =
        CRecordBytes().str("x").i32(1).i32(1).i32(0).i32(1).i32(1).f64bits(0).bytes;
    const Bytes badCurveBytes = written([&](COutputStream& out) { return badCurve.save(out); });
    edit(-9, -12, "Hard");
    const std::string edited = snapshot();

    // {what, bytes, loaded as a bank, error (empty: any)}
    const std::tuple<const char*, Bytes, bool, std::string> cases[] = {
        {"foreign preset", foreign, false,
         "zelstr_CAudioParamRegistry_checkPreset_Incompatible: Incompatible preset."},
        {"bank as preset", bank, false,
         "zelstr_CAudioParamRegistry_checkPreset_Incompatible: Incompatible preset."},
        {"preset as bank", preset, true, ""},
        {"wrong element size", badCurveBytes, false,
         "zelstr_CAudioParamStorage_load_Format: Unsupported storage format (esize=1, dtype=0; "
         "should be: esize=2, dtype=0)."},
        {"truncated preset", Bytes(preset.begin(), preset.end() - 3), false, ""},
    };
    for (const auto& [what, bytes, asBank, error] : cases)
    {
        SCOPED_TRACE(what);
        CMemoryReader in(bytes.data(), bytes.size());
        CErrorPtr err = asBank ? master->activateBank(in) : master->activatePreset(in);
        ASSERT_TRUE(err);
        EXPECT_TRUE(error.empty() || idAndText(err) == error) << idAndText(err);
        EXPECT_EQ(snapshot(), edited);
        EXPECT_EQ(master->sessionBank().presets[0].entries, bankBefore.presets[0].entries);
    }
    EXPECT_NE(before, edited);
    EXPECT_EQ(history().size(), 1u); // nothing was recorded

    // Non-master registries have no banks.
    CMemoryReader in(bank.data(), bank.size());
    EXPECT_EQ(idAndText(knobs->activateBank(in)),
              "zelstr_CAudioParamRegistry_activateBank_NotMaster: "
              "Acquiring bank in a non-master registry is an error.");
}

TEST_F(AudioParamRegistryTest, APresetCanBeAppliedToOneGroup)
{
    CAudioParamRegistry* knobs = registry(kKnobs);
    // Two stored groups (0, -6) applied to group 1 only: it takes its own stored value.
    ASSERT_FALSE(m_gain->setValue(1, 0, 0, -6.0));
    const Bytes preset =
        written([&](COutputStream& out) { return knobs->acquirePreset(false, 0, -1, out); });
    ASSERT_FALSE(m_gain->setValue(0, 0, 0, 5.0));
    ASSERT_FALSE(m_gain->setValue(1, 0, 0, 0.0));
    CMemoryReader in(preset.data(), preset.size());
    ASSERT_EQ(idAndText(knobs->activatePreset(in, -1, 1)), "no error");
    EXPECT_EQ(m_gain->elements(0), std::vector<double>{5.0});
    EXPECT_EQ(m_gain->elements(1), std::vector<double>{-6.0});
    CMemoryReader again(preset.data(), preset.size());
    EXPECT_EQ(idAndText(knobs->activatePreset(again, -1, 5)),
              "zelstr_CAudioParamRegistry_InvalidGroup: Invalid group index 5 specified.");
}

TEST_F(AudioParamRegistryTest, ProgramsSelectRenameAndUndoLabels)
{
    CAudioParamRegistry* master = registry(kMaster + std::string("|file=") + factoryFile());
    CCountingListener listener;
    master->addListener(&listener);
    CAudioParamRegistry::CState state = master->state();
    EXPECT_EQ(state.currentProgram, 0);
    ASSERT_EQ(state.factoryNames.size(), 3u);
    EXPECT_EQ(state.sessionNames[2].toUtf8(), "TEST:Hard");
    EXPECT_EQ(master->factoryBank().name.toUtf8(), "Factory ROM");
    EXPECT_EQ(master->sessionBank().name.toUtf8(), "Session Bank");

    ASSERT_FALSE(master->selectProgram(1));
    EXPECT_EQ(m_gain->value(0, 0, 0), -3.0);
    EXPECT_EQ(m_programName->string(0, 0).toUtf8(), "Soft");
    // An edit of program 1 survives a round trip through program 2.
    ASSERT_FALSE(m_gain->setValue(0, 0, 0, 5.0));
    ASSERT_FALSE(master->selectProgram(2));
    EXPECT_EQ(m_names->string(0, 0).toUtf8(), "Hard");
    ASSERT_FALSE(master->selectProgram(1));
    EXPECT_EQ(m_gain->value(0, 0, 0), 5.0);
    // Outside the bank or the current one: nothing happens.
    ASSERT_FALSE(master->selectProgram(1));
    ASSERT_FALSE(master->selectProgram(3));
    EXPECT_EQ(listener.calls, 3);

    ASSERT_FALSE(master->renameProgram(1, "Mine"));
    ASSERT_FALSE(master->renameProgram(0, "Other"));
    EXPECT_EQ(master->programName(1).toUtf8(), "TEST:Mine");
    EXPECT_EQ(m_programName->string(0, 0).toUtf8(), "Mine");
    EXPECT_EQ(idAndText(master->renameProgram(3, "x")),
              "zelstr_CAudioParamRegistry_renameProgram_InvalidIndex: "
              "Invalid preset index 3 specified.");
    ASSERT_FALSE(master->activateFactoryPreset(2));
    EXPECT_EQ(m_gain->value(0, 0, 0), -9.0);
    master->resetToDefaults();
    EXPECT_EQ(m_gain->value(0, 0, 0), 0.0);

    std::vector<std::string> labels;
    for (const CText& label : history())
        labels.push_back(label.toUtf8());
    EXPECT_EQ(labels, (std::vector<std::string>{
                          "Undo history start", "Soft activate", "Hard activate", "Soft activate",
                          "Program name change", "ROM preset activate", "Master reset"}));
    ASSERT_TRUE(m_undo->undo());
    EXPECT_EQ(m_gain->value(0, 0, 0), -9.0);
    master->removeListener(&listener);
}

TEST_F(AudioParamRegistryTest, CurrentProgramIsRefreshedBeforeItIsWritten)
{
    CAudioParamRegistry* master = registry(kMaster + std::string("|file=") + factoryFile());
    ASSERT_FALSE(m_gain->setValue(1, 0, 0, 7.0));
    const Bytes current =
        written([&](COutputStream& out) { return master->acquirePreset(false, -1, -1, out); });
    EXPECT_EQ(current, written([&](COutputStream& out)
                               { return master->acquirePreset(false, 0, -1, out); }));
    EXPECT_NE(current,
              written([&](COutputStream& out) { return master->acquirePreset(true, 0, -1, out); }));
    CAudioPreset stored = master->sessionBank().presets[0];
    CMemoryReader in(stored.entries[CText("modGain.gain")].data(),
                     stored.entries[CText("modGain.gain")].size());
    ASSERT_FALSE(m_gain->setValue(1, 0, 0, 0.0));
    ASSERT_FALSE(m_gain->loadRecord(in, -1));
    EXPECT_EQ(m_gain->value(1, 0, 0), 7.0);
    // Only storable parameters of the hierarchy are stored.
    std::vector<std::string> keys;
    for (const auto& [key, blob] : stored.entries)
        keys.push_back(key.toUtf8());
    EXPECT_EQ(keys, (std::vector<std::string>{"io.names", "modDyn.curve", "modGain.gain"}));
    CMemoryWriteBuffer sink;
    for (const std::int32_t index : {-2, 3})
        EXPECT_EQ(idAndText(master->acquirePreset(false, index, -1, sink)),
                  "zelstr_CAudioParamRegistry_acquirePreset_InvalidIndex: Invalid preset index " +
                      std::to_string(index) + " specified.");
}

TEST_F(AudioParamRegistryTest, ShadowExchangeTwiceReturnsToStart)
{
    CAudioParamRegistry* master = registry(kMaster + std::string("|file=") + factoryFile());
    const std::string start = snapshot();
    ASSERT_FALSE(master->exchangeShadowPreset()); // only creates the shadow
    EXPECT_TRUE(master->hasShadowPreset());
    EXPECT_EQ(snapshot(), start);
    ASSERT_FALSE(master->selectProgram(2));
    const std::string hard = snapshot();
    ASSERT_FALSE(master->exchangeShadowPreset());
    EXPECT_EQ(snapshot(), start);
    EXPECT_EQ(master->programName(2).toUtf8(), "TEST:Default");
    ASSERT_FALSE(master->exchangeShadowPreset());
    EXPECT_EQ(snapshot(), hard);
    EXPECT_EQ(master->programName(2).toUtf8(), "TEST:Hard");
    master->updateShadowPreset();
    ASSERT_FALSE(master->exchangeShadowPreset());
    EXPECT_EQ(snapshot(), hard);
}

TEST_F(AudioParamRegistryTest, DefaultPresetAndPresetListsLiveInApplicationData)
{
    CAudioParamRegistry* first = registry(kMaster);
    edit(-3, 6, "Soft");
    const std::string stored = snapshot();
    // The persistent value is instance state: it is not part of the default preset.
    ASSERT_FALSE(m_size->setValue(0, 0, 0, 4.0));
    ASSERT_EQ(idAndText(first->storeDefaultPreset()), "no error");
    for (auto& param : m_params)
        param->resetToDefaults();
    registry(kMaster);
    EXPECT_EQ(snapshot(), stored);

    // Parameters registered after the registry's init receive it on first use.
    CAudioParamCollector* late = nullptr;
    ASSERT_FALSE(m_root->createChild("audio:param-collector", "late", false, late));
    CAudioParamRegistry* waiting = registry(std::string(kMaster) + "|param-collector=/late");
    CAudioParam fresh(define("element-size=1|converter=/cvt.real|min-values=-60|max-values=12|"
                             "def-values=0|is-storable=true"),
                      2);
    ASSERT_FALSE(late->addParam("plugin.modMain.modGain.gain", fresh));
    EXPECT_EQ(fresh.value(0, 0, 0), 0.0);
    EXPECT_EQ(waiting->keys().size(), 1u);
    EXPECT_EQ(fresh.value(0, 0, 0), -3.0);
    late->removeParam("plugin.modMain.modGain.gain");

    CAudioParamRegistry* knobs = registry(kKnobs);
    std::vector<CAudioPresetBank> banks(2);
    banks[0].name = "Mine";
    banks[0].presets.push_back(knobs->capturePreset("KNOB:One"));
    ASSERT_FALSE(knobs->savePresetList(banks));
    std::vector<CAudioPresetBank> back;
    ASSERT_EQ(idAndText(knobs->loadPresetList(back)), "no error");
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].presets[0].entries, banks[0].presets[0].entries);
    // The block written is a bank list and nothing may follow it.
    const Bytes file = ktest::readFile(m_global->dataSetFile("knob-presets").toUtf8());
    auto [tag, plain] = ktest::openBlock(file);
    EXPECT_EQ(tag, "alst");
    plain.push_back(0);
    EXPECT_TRUE(CAudioParamRegistry::decodePresetList(plain.data(), plain.size(), back));
    EXPECT_EQ(back.size(), 2u);
    EXPECT_EQ(idAndText(first->loadPresetList(back)),
              "zelstr_CAudioParamRegistry_loadPresetList_NoStoreName: No store name defined.");
}

TEST_F(AudioParamRegistryTest, NameBridgeFollowsTheRegistrysLife)
{
    CAudioParamRegistry* reg = registry(kKnobs);
    CBridge client(&reg->nameBridge());
    EXPECT_EQ(CAudioParamRegistryNameBridge::nameOf(client).toUtf8(), reg->plainName().toUtf8());
    EXPECT_EQ(CAudioParamRegistryNameBridge::idOf(client).toUtf8(), "KNOB");
    reg->destroy();
    EXPECT_FALSE(client.isAttached());
    EXPECT_TRUE(CAudioParamRegistryNameBridge::nameOf(client).empty());
}

} // namespace
} // namespace zel
