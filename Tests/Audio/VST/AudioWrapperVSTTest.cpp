// The VST effect through its real binary interface: the test host loads the built module and
// drives the AEffect record like a host. Expected values come from the product's identity and
// the interface's published numbers, written out here, not read from the effect's headers.
#include "Audio/VST/VstTestHost.h"
#include "Core/AppDataTestSupport.h"
#include "Core/ApplicationData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>

namespace ktest
{
namespace
{

namespace fs = std::filesystem;

constexpr std::int32_t kChannels = 8;

// Points the module's application data at a fresh folder before the module is first loaded,
// so that no stored setting of the machine changes the answers.
class VstEffectTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        std::random_device rd;
        s_home = fs::temp_directory_path() / ("kelv_vst_" + std::to_string(rd()));
        fs::create_directories(s_home);
        s_saved = environment("XDG_CONFIG_HOME");
        setEnvironment("XDG_CONFIG_HOME", s_home.string());
        CVstTestHost::module().close();
    }
    static void TearDownTestSuite()
    {
        CVstTestHost::module().close();
        setEnvironment("XDG_CONFIG_HOME", s_saved);
        std::error_code ec;
        fs::remove_all(s_home, ec);
    }

    // A deterministic multi-channel test signal.
    static void fill(std::vector<std::vector<float>>& channels, std::int32_t offset = 0)
    {
        for (std::size_t c = 0; c < channels.size(); ++c)
            for (std::size_t i = 0; i < channels[c].size(); ++i)
                channels[c][i] = static_cast<float>(
                    0.5 * std::sin(0.01 * static_cast<double>(c + 1) *
                                   static_cast<double>(i + static_cast<std::size_t>(offset))));
    }

    static inline fs::path s_home;
    static inline std::optional<std::string> s_saved;
    CVstTestHost host;
};

TEST_F(VstEffectTest, RecordCarriesTheProductIdentity)
{
    vst::AEffect* e = host.create();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->magic, 0x56737450); // "VstP"
    EXPECT_EQ(e->uniqueID, 0x71336B38);
    EXPECT_EQ(e->flags, 4145);
    EXPECT_EQ(e->numParams, 26);
    EXPECT_EQ(e->numInputs, kChannels);
    EXPECT_EQ(e->numOutputs, kChannels);
    EXPECT_GE(e->numPrograms, 1);
    EXPECT_EQ(e->version, 1);
    EXPECT_NE(e->processReplacing, nullptr);
    EXPECT_NE(e->processDoubleReplacing, nullptr);
    // Nothing is reported to the host while the instance builds itself.
    EXPECT_EQ(host.count(vst::audioMasterAutomate), 0u);
}

TEST_F(VstEffectTest, DispatcherAnswersTable)
{
    vst::AEffect* e = host.create();
    ASSERT_NE(e, nullptr);
    struct
    {
        std::int32_t opcode;
        std::int32_t index;
        std::intptr_t value;
        std::intptr_t expected;
    } const cases[] = {
        {vst::effIdentify, 0, 0, 0x4E764566}, // "NvEf"
        {vst::effGetVstVersion, 0, 0, 2400},
        {vst::effGetVendorVersion, 0, 0, 0x030300},
        {vst::effCanBeAutomated, 0, 0, 1},
        {vst::effCanBeAutomated, 25, 0, 1},
        {vst::effGetPlugCategory, 0, 0, 0},
        {vst::effGetTailSize, 0, 0, 0},
        {vst::effSetBypass, 0, 1, 0},
        {vst::effSetProcessPrecision, 0, 2, 0},
        {vst::effSetProcessPrecision, 0, -1, 0},
        {vst::effSetProcessPrecision, 0, 1, 1},
        {vst::effSetProcessPrecision, 0, 0, 1},
        {vst::effEditOpen, 0, 0, 0},
        {9999, 0, 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CVstTestHost::dispatch(e, c.opcode, c.index, c.value), c.expected)
            << "opcode " << c.opcode << " value " << c.value;
}

TEST_F(VstEffectTest, TextAnswersTable)
{
    vst::AEffect* e = host.create();
    ASSERT_NE(e, nullptr);
    struct
    {
        std::int32_t opcode;
        std::int32_t index;
        const char* expected;
    } const cases[] = {
        {vst::effGetEffectName, 0, "Kelvatrone"},
        {vst::effGetVendorString, 0, "Ardovin"},
        {vst::effGetProductString, 0, "Ardovin Kelvatrone"},
        {vst::effGetParamName, 0, "Bypass"},
        {vst::effGetParamName, 1, "Oversmp"},
        {vst::effGetParamName, 2, "1Downw"},
        {vst::effGetParamName, 13, "2OGain"},
        {vst::effGetParamName, 25, "4OGain"},
        {vst::effGetParamName, 26, ""},
        {vst::effGetParamName, -1, ""},
        {vst::effGetParamLabel, 26, ""},
        {vst::effGetParamDisplay, 26, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CVstTestHost::text(e, c.opcode, c.index), c.expected)
            << "opcode " << c.opcode << " index " << c.index;
    // Labels and displays of real parameters fit 7 characters.
    for (std::int32_t i = 0; i < 26; ++i)
    {
        EXPECT_LE(CVstTestHost::text(e, vst::effGetParamDisplay, i).size(), 7u) << i;
        EXPECT_LE(CVstTestHost::text(e, vst::effGetParamLabel, i).size(), 7u) << i;
    }
}

TEST_F(VstEffectTest, CanDoTable)
{
    vst::AEffect* e = host.create();
    ASSERT_NE(e, nullptr);
    struct
    {
        const char* what;
        std::intptr_t expected;
    } const cases[] = {
        {"receiveVstTimeInfo", 1},           {"receiveVstMidiEvent", 1}, {"sendVstMidiEvent", 0},
        {"hasCockosExtensions", 0xBEEF0000}, {"receiveVstTimeInf", 0},   {"", 0},
        {"plugAsChannelInsert", 0},
    };
    for (const auto& c : cases)
    {
        std::string what = c.what;
        EXPECT_EQ(CVstTestHost::dispatch(e, vst::effCanDo, 0, 0, what.data()), c.expected)
            << c.what;
    }
}

TEST_F(VstEffectTest, ChannelCountFollowsTheHost)
{
    struct
    {
        std::intptr_t version;
        const char* product;
        std::int32_t channels;
    } const cases[] = {
        {2400, "Kelv Test Host", 8}, {2300, "Kelv Test Host", 8}, {2299, "Kelv Test Host", 2},
        {2200, "Kelv Test Host", 2}, {2400, "Sony ACID Pro", 2},  {2400, "Sony ACID Pro 7", 8},
        {1, "Kelv Test Host", 2},
    };
    for (const auto& c : cases)
    {
        CVstTestHost h;
        h.version = c.version;
        h.product = c.product;
        vst::AEffect* e = h.create();
        ASSERT_NE(e, nullptr) << c.version << " " << c.product;
        EXPECT_EQ(e->numInputs, c.channels) << c.version << " " << c.product;
        EXPECT_EQ(e->numOutputs, c.channels) << c.version << " " << c.product;
    }
}

TEST_F(VstEffectTest, NoUsableHostGivesNoEffect)
{
    host.version = 0;
    EXPECT_EQ(host.create(), nullptr);
    CVstTestHost::MainProc main = CVstTestHost::entry();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main(nullptr), nullptr);
}

TEST_F(VstEffectTest, ModuleExportsOnlyTheEntry)
{
    ASSERT_NE(CVstTestHost::entry(), nullptr);
    zel::platform::CDynamicLibrary& library = CVstTestHost::module();
    for (const char* name : {"main", "_ZN3zel12CApplication8instanceEv", "DllMain",
                             "_ZN3zel11AudioEffect19dispatchEffectClassEPNS_3vst7AEffectEiilPvf"})
        EXPECT_EQ(library.symbol(name), nullptr) << name;
}

TEST_F(VstEffectTest, ForceTwoChannelsSettingGivesTwoChannels)
{
    // A module reads the setting from the global data it loads at its first use, and a loaded
    // module stays loaded; a copy of the module under another name is a module of its own
    // that starts from the stored setting.
    {
        zel::CGlobalData global;
        ASSERT_FALSE(global.writeValue("force-2ch", "true"));
    }
    const fs::path copy = s_home / "Kelvatrone-force2ch.module";
    fs::copy_file(KELV_VST_MODULE_PATH, copy, fs::copy_options::overwrite_existing);
    zel::platform::CDynamicLibrary library;
    ASSERT_TRUE(library.open(zel::CText(copy.string()))) << library.error();
    auto main = reinterpret_cast<CVstTestHost::MainProc>(library.symbol("VSTPluginMain"));
    vst::AEffect* e = host.create(main);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->numInputs, 2);
    EXPECT_EQ(e->numOutputs, 2);
    host.close(e);
    {
        zel::CGlobalData global;
        ASSERT_FALSE(global.writeValue("force-2ch", "0"));
    }
}

TEST_F(VstEffectTest, SpeakerArrangementTable)
{
    vst::AEffect* e = host.create();
    ASSERT_NE(e, nullptr);
    struct
    {
        std::int32_t inputs;
        std::int32_t outputs;
        std::intptr_t expected;
    } const cases[] = {
        {8, 6, 0}, {8, 2, 1}, {8, 1, 1}, {8, 8, 1}, {6, 6, 1},
        {4, 3, 0}, {9, 9, 0}, {9, 2, 0}, {2, 9, 0}, {-1, 2, 0},
    };
    for (const auto& c : cases)
    {
        vst::VstSpeakerArrangement in{};
        vst::VstSpeakerArrangement out{};
        in.numChannels = c.inputs;
        out.numChannels = c.outputs;
        EXPECT_EQ(CVstTestHost::dispatch(e, vst::effSetSpeakerArrangement, 0,
                                         reinterpret_cast<std::intptr_t>(&in), &out),
                  c.expected)
            << c.inputs << " in, " << c.outputs << " out";
    }
    // The last accepted pair (6/6) is what the effect reports.
    vst::VstSpeakerArrangement* in = nullptr;
    vst::VstSpeakerArrangement* out = nullptr;
    ASSERT_EQ(CVstTestHost::dispatch(e, vst::effGetSpeakerArrangement, 0,
                                     reinterpret_cast<std::intptr_t>(&in), &out),
              1);
    ASSERT_NE(in, nullptr);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(in->numChannels, 6);
    EXPECT_EQ(out->numChannels, 6);
}

TEST_F(VstEffectTest, NoArrangementIsReportedBeforeTheHostSetsOne)
{
    vst::AEffect* e = host.create();
    ASSERT_NE(e, nullptr);
    auto* in = reinterpret_cast<vst::VstSpeakerArrangement*>(1);
    auto* out = reinterpret_cast<vst::VstSpeakerArrangement*>(1);
    EXPECT_EQ(CVstTestHost::dispatch(e, vst::effGetSpeakerArrangement, 0,
                                     reinterpret_cast<std::intptr_t>(&in), &out),
              0);
    EXPECT_EQ(in, nullptr);
    EXPECT_EQ(out, nullptr);
}

TEST_F(VstEffectTest, ProgramNameIsTheNamePartTruncatedTo23Characters)
{
    vst::AEffect* e = host.create();
    ASSERT_NE(e, nullptr);
    std::string name = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123"; // 30 characters
    CVstTestHost::dispatch(e, vst::effSetProgramName, 0, 0, name.data());
    EXPECT_EQ(CVstTestHost::text(e, vst::effGetProgramName), name.substr(0, 23));
    const auto current = CVstTestHost::dispatch(e, vst::effGetProgram);
    char buffer[64];
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(CVstTestHost::dispatch(e, vst::effGetProgramNameIndexed, 0, current, buffer), 1);
    EXPECT_EQ(std::string(buffer), name.substr(0, 23));
    // A short name comes back whole; the prefix never shows.
    std::string shortName = "Warm";
    CVstTestHost::dispatch(e, vst::effSetProgramName, 0, 0, shortName.data());
    EXPECT_EQ(CVstTestHost::text(e, vst::effGetProgramName), "Warm");
}

TEST_F(VstEffectTest, ChunksRoundTripThroughANewInstance)
{
    struct
    {
        std::int32_t isPreset;
        const char* tag;
    } const cases[] = {{1, "aprs"}, {0, "abnk"}};
    for (const auto& c : cases)
    {
        vst::AEffect* a = host.create();
        ASSERT_NE(a, nullptr);
        a->setParameter(a, 7, 0.25f);
        a->setParameter(a, 19, 0.875f);
        const float expected7 = a->getParameter(a, 7);
        void* data = nullptr;
        const auto size = CVstTestHost::dispatch(a, vst::effGetChunk, c.isPreset, 0, &data);
        ASSERT_GT(size, 20) << c.tag;
        ASSERT_NE(data, nullptr);
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + 16), std::vector<std::uint8_t>(16, 0));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes) + 16, 4), c.tag);
        std::vector<std::uint8_t> chunk(bytes, bytes + size);

        vst::AEffect* b = host.create();
        ASSERT_NE(b, nullptr);
        EXPECT_NE(b->getParameter(b, 7), expected7);
        EXPECT_EQ(CVstTestHost::dispatch(b, vst::effSetChunk, c.isPreset,
                                         static_cast<std::intptr_t>(chunk.size()), chunk.data()),
                  1)
            << c.tag;
        EXPECT_FLOAT_EQ(b->getParameter(b, 7), expected7) << c.tag;
        EXPECT_FLOAT_EQ(b->getParameter(b, 19), 0.875f) << c.tag;
        host.close(a);
        host.close(b);
    }
}

TEST_F(VstEffectTest, ShortOrDamagedChunks)
{
    vst::AEffect* e = host.create();
    ASSERT_NE(e, nullptr);
    e->setParameter(e, 3, 0.75f);
    const float before = e->getParameter(e, 3);
    std::vector<std::uint8_t> twelve(12, 0xAB);
    EXPECT_EQ(CVstTestHost::dispatch(e, vst::effSetChunk, 1, 12, twelve.data()), 1);
    EXPECT_EQ(CVstTestHost::dispatch(e, vst::effSetChunk, 0, 16, twelve.data()), 1);
    EXPECT_FLOAT_EQ(e->getParameter(e, 3), before);
    std::vector<std::uint8_t> junk(64, 0x5A);
    EXPECT_EQ(CVstTestHost::dispatch(e, vst::effSetChunk, 1, 64, junk.data()), 0);
    EXPECT_EQ(CVstTestHost::dispatch(e, vst::effSetChunk, 0, 64, junk.data()), 0);
    EXPECT_FLOAT_EQ(e->getParameter(e, 3), before);
}

TEST_F(VstEffectTest, ParameterIndicesOutsideTheListAreHarmless)
{
    vst::AEffect* e = host.create();
    ASSERT_NE(e, nullptr);
    for (std::int32_t index : {-1, 26, 1000})
    {
        e->setParameter(e, index, 0.5f);
        EXPECT_EQ(e->getParameter(e, index), 0.0f) << index;
    }
}

TEST_F(VstEffectTest, VendorSpecificTextConversions)
{
    vst::AEffect* e = host.create();
    ASSERT_NE(e, nullptr);
    // Text to value: the display text of a value of "1OGain" (-12 to 12 dB) converts back.
    struct
    {
        float value;
        const char* expected;
    } const numeric[] = {{0.0f, "0.000000"}, {0.5f, "0.500000"}, {1.0f, "1.000000"}};
    char buffer[64] = {};
    for (const auto& c : numeric)
    {
        e->setParameter(e, 7, c.value);
        const std::string display = CVstTestHost::text(e, vst::effGetParamDisplay, 7);
        std::memset(buffer, 0, sizeof(buffer));
        std::strncpy(buffer, display.c_str(), sizeof(buffer) - 1);
        EXPECT_EQ(CVstTestHost::dispatch(e, vst::effVendorSpecific, 27, 7, buffer), 0xBEEF);
        EXPECT_STREQ(buffer, c.expected) << display;
    }
    std::strcpy(buffer, "1");
    EXPECT_EQ(CVstTestHost::dispatch(e, vst::effVendorSpecific, 27, 26, buffer), 0xBEEF);
    EXPECT_STREQ(buffer, "");

    // Value to text: the display of a given value without changing the parameter.
    e->setParameter(e, 1, 0.0f);
    const std::string atZero = CVstTestHost::text(e, vst::effGetParamDisplay, 1);
    e->setParameter(e, 1, 1.0f);
    const std::string atOne = CVstTestHost::text(e, vst::effGetParamDisplay, 1);
    EXPECT_EQ(CVstTestHost::text(e, vst::effVendorSpecific, 7, 1, 0.0f), atZero);
    EXPECT_EQ(CVstTestHost::text(e, vst::effVendorSpecific, 7, 1, 1.0f), atOne);
    EXPECT_EQ(CVstTestHost::text(e, vst::effVendorSpecific, 7, -3, 1.0f), "");
    EXPECT_EQ(CVstTestHost::dispatch(e, vst::effVendorSpecific, 7, 1, nullptr, 0.0f), 0);
    EXPECT_EQ(CVstTestHost::dispatch(e, vst::effVendorSpecific, 8, 1, buffer, 0.0f), 0);
}

TEST_F(VstEffectTest, EditorRectangleIsTheWindowSize)
{
    vst::AEffect* e = host.create();
    ASSERT_NE(e, nullptr);
    vst::ERect* rect = nullptr;
    ASSERT_EQ(CVstTestHost::dispatch(e, vst::effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->right, 770);
    EXPECT_EQ(rect->bottom, 690);
}

TEST_F(VstEffectTest, MidiEventsAreAccepted)
{
    vst::AEffect* e = host.createRunning();
    ASSERT_NE(e, nullptr);
    vst::VstMidiEvent note{};
    note.type = vst::kVstMidiType;
    note.byteSize = sizeof(note);
    note.deltaFrames = 12;
    note.midiData[0] = static_cast<char>(0x93);
    note.midiData[1] = 60;
    note.midiData[2] = 100;
    vst::VstEvent sysex{};
    sysex.type = vst::kVstSysExType;
    vst::VstEvents events{};
    events.numEvents = 2;
    events.events[0] = reinterpret_cast<vst::VstEvent*>(&note);
    events.events[1] = &sysex;
    EXPECT_EQ(CVstTestHost::dispatch(e, vst::effProcessEvents, 0, 0, &events), 1);
}

// ---- Audio -------------------------------------------------------------------------------------

TEST_F(VstEffectTest, OneLongBlockEqualsManyShortOnes)
{
    constexpr std::int32_t kFrames = 1300;
    CVstTestHost::SBuffers<float> in(kChannels, kFrames);
    fill(in.data);
    CVstTestHost::SBuffers<float> whole(kChannels, kFrames);
    CVstTestHost::SBuffers<float> pieces(kChannels, kFrames);

    vst::AEffect* a = host.createRunning();
    vst::AEffect* b = host.createRunning();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    a->processReplacing(a, in.pointers.data(), whole.pointers.data(), kFrames);
    // The reference: blocks of 100 frames at their offsets.
    for (std::int32_t pos = 0; pos < kFrames; pos += 100)
    {
        std::vector<float*> inAt;
        std::vector<float*> outAt;
        for (std::int32_t c = 0; c < kChannels; ++c)
        {
            inAt.push_back(in.pointers[static_cast<std::size_t>(c)] + pos);
            outAt.push_back(pieces.pointers[static_cast<std::size_t>(c)] + pos);
        }
        b->processReplacing(b, inAt.data(), outAt.data(), 100);
    }
    double energy = 0.0;
    for (std::size_t c = 0; c < whole.data.size(); ++c)
        for (std::size_t i = 0; i < whole.data[c].size(); ++i)
        {
            ASSERT_TRUE(std::isfinite(whole.data[c][i]));
            ASSERT_NEAR(whole.data[c][i], pieces.data[c][i], 1e-6f) << c << " " << i;
            energy += whole.data[c][i] * whole.data[c][i];
        }
    EXPECT_GT(energy, 0.0); // the effect passes the signal, so the comparison means something
}

TEST_F(VstEffectTest, NullInputPointerIsSilence)
{
    constexpr std::int32_t kFrames = 1400;
    CVstTestHost::SBuffers<float> in(kChannels, kFrames);
    fill(in.data);
    CVstTestHost::SBuffers<float> zeroIn(kChannels, kFrames);
    fill(zeroIn.data);
    // Channel 0 reaches the output in the default routing.
    std::fill(zeroIn.data[0].begin(), zeroIn.data[0].end(), 0.0f);
    in.pointers[0] = nullptr;
    CVstTestHost::SBuffers<float> outNull(kChannels, kFrames);
    CVstTestHost::SBuffers<float> outZero(kChannels, kFrames);
    CVstTestHost::SBuffers<float> outSignal(kChannels, kFrames);
    CVstTestHost::SBuffers<float> signal(kChannels, kFrames);
    fill(signal.data);

    vst::AEffect* a = host.createRunning();
    vst::AEffect* b = host.createRunning();
    vst::AEffect* c = host.createRunning();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(c, nullptr);
    a->processReplacing(a, in.pointers.data(), outNull.pointers.data(), kFrames);
    b->processReplacing(b, zeroIn.pointers.data(), outZero.pointers.data(), kFrames);
    c->processReplacing(c, signal.pointers.data(), outSignal.pointers.data(), kFrames);
    double differsFromSignal = 0.0;
    for (std::size_t ch = 0; ch < outNull.data.size(); ++ch)
        for (std::size_t i = 0; i < outNull.data[ch].size(); ++i)
        {
            ASSERT_NEAR(outNull.data[ch][i], outZero.data[ch][i], 1e-6f) << ch << " " << i;
            differsFromSignal = std::max(
                differsFromSignal,
                static_cast<double>(std::fabs(outNull.data[ch][i] - outSignal.data[ch][i])));
        }
    // The silenced channel is audible in the output, so the comparison means something.
    EXPECT_GT(differsFromSignal, 1e-3);
}

TEST_F(VstEffectTest, SingleAndDoublePrecisionAgree)
{
    constexpr std::int32_t kFrames = 1024;
    CVstTestHost::SBuffers<float> in(kChannels, kFrames);
    fill(in.data);
    CVstTestHost::SBuffers<double> in64(kChannels, kFrames);
    for (std::size_t c = 0; c < in.data.size(); ++c)
        for (std::size_t i = 0; i < in.data[c].size(); ++i)
            in64.data[c][i] = static_cast<double>(in.data[c][i]);
    CVstTestHost::SBuffers<float> out32(kChannels, kFrames);
    CVstTestHost::SBuffers<double> out64(kChannels, kFrames);

    vst::AEffect* a = host.create();
    vst::AEffect* b = host.create();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(CVstTestHost::dispatch(a, vst::effSetProcessPrecision, 0, 0), 1);
    ASSERT_EQ(CVstTestHost::dispatch(b, vst::effSetProcessPrecision, 0, 1), 1);
    for (vst::AEffect* e : {a, b})
    {
        CVstTestHost::dispatch(e, vst::effSetSampleRate, 0, 0, nullptr, 44100.0f);
        CVstTestHost::dispatch(e, vst::effSetBlockSize, 0, kFrames);
        CVstTestHost::dispatch(e, vst::effMainsChanged, 0, 1);
    }
    a->processReplacing(a, in.pointers.data(), out32.pointers.data(), kFrames);
    b->processDoubleReplacing(b, in64.pointers.data(), out64.pointers.data(), kFrames);
    for (std::size_t c = 0; c < out32.data.size(); ++c)
        for (std::size_t i = 0; i < out32.data[c].size(); ++i)
            ASSERT_NEAR(static_cast<double>(out32.data[c][i]), out64.data[c][i],
                        1e-6 * (1.0 + std::fabs(out64.data[c][i])))
                << c << " " << i;
}

TEST_F(VstEffectTest, LatencyIsReportedAtResumeAndNotAnnouncedWhileSteady)
{
    // The latency uniformer keeps the graph's latency constant over oversampling modes and
    // sample rates, so a steady graph never calls ioChanged, and every resume reports the same
    // non-zero delay. (The wrapper's tests cover the announcement of a changed latency.)
    constexpr std::int32_t kFrames = 256;
    CVstTestHost::SBuffers<float> in(kChannels, kFrames);
    CVstTestHost::SBuffers<float> out(kChannels, kFrames);
    vst::AEffect* e = host.createRunning();
    ASSERT_NE(e, nullptr);
    const std::int32_t delay = e->initialDelay;
    EXPECT_GT(delay, 0);
    const std::size_t before = host.count(vst::audioMasterIOChanged);
    for (float oversampling : {0.0f, 0.34f, 0.67f, 1.0f})
    {
        e->setParameter(e, 1, oversampling);
        for (int block = 0; block < 4; ++block)
            e->processReplacing(e, in.pointers.data(), out.pointers.data(), kFrames);
        CVstTestHost::dispatch(e, vst::effMainsChanged, 0, 0);
        CVstTestHost::dispatch(e, vst::effSetSampleRate, 0, 0, nullptr, 96000.0f);
        CVstTestHost::dispatch(e, vst::effMainsChanged, 0, 1);
        EXPECT_EQ(e->initialDelay, delay) << oversampling;
    }
    EXPECT_EQ(host.count(vst::audioMasterIOChanged), before);
}

TEST_F(VstEffectTest, OfflineLevelAndTimeInfoAreAskedDuringProcess)
{
    constexpr std::int32_t kFrames = 64;
    CVstTestHost::SBuffers<float> in(kChannels, kFrames);
    CVstTestHost::SBuffers<float> out(kChannels, kFrames);
    vst::AEffect* e = host.createRunning();
    ASSERT_NE(e, nullptr);
    const std::size_t levelCalls = host.count(vst::audioMasterGetCurrentProcessLevel);
    host.processLevel = vst::kVstProcessLevelOffline;
    e->processReplacing(e, in.pointers.data(), out.pointers.data(), kFrames);
    EXPECT_EQ(host.count(vst::audioMasterGetCurrentProcessLevel), levelCalls + 1);
    for (const auto& channel : out.data)
        for (float v : channel)
            ASSERT_TRUE(std::isfinite(v));
}

} // namespace
} // namespace ktest
