// The VST effect through its real binary interface: the test host loads the built module and
// drives the AEffect record like a host. Expected values come from the product's identity and
// the interface's published numbers, written out here, not read from the effect's headers.
#include "Audio/VST/VstTestHost.h"
#include "Core/ApplicationData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <future>
#include <random>
#include <tuple>
#include <type_traits>

namespace ktest
{
namespace
{

constexpr std::int32_t kChannels = 8;
using CFloats = CVstTestHost::SBuffers<float>;

class VstEffectTest : public CVstModuleTest
{
protected:
    vst::AEffect* created()
    {
        vst::AEffect* e = host.create();
        EXPECT_NE(e, nullptr);
        return e;
    }
};

TEST_F(VstEffectTest, RecordCarriesTheProductIdentity)
{
    vst::AEffect* e = created();
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
    vst::ERect* rect = nullptr;
    ASSERT_EQ(CVstTestHost::dispatch(e, vst::effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ((std::vector<int>{rect->top, rect->left, rect->right, rect->bottom}),
              (std::vector<int>{0, 0, 770, 690}));
}

TEST_F(VstEffectTest, DispatcherAnswers)
{
    vst::AEffect* e = created();
    ASSERT_NE(e, nullptr);
    // opcode, index, value, expected return
    const std::tuple<std::int32_t, std::int32_t, std::intptr_t, std::intptr_t> numbers[] = {
        {vst::effIdentify, 0, 0, 0x4E764566}, // "NvEf"
        {vst::effGetVstVersion, 0, 0, 2400},
        {vst::effGetVendorVersion, 0, 0, 0x030300},
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
    for (const auto& [opcode, index, value, expected] : numbers)
        EXPECT_EQ(CVstTestHost::dispatch(e, opcode, index, value), expected)
            << "opcode " << opcode << " value " << value;

    // opcode, index, expected text
    const std::tuple<std::int32_t, std::int32_t, const char*> texts[] = {
        {vst::effGetEffectName, 0, "Kelvatrone"},
        {vst::effGetVendorString, 0, "Ardovin"},
        {vst::effGetProductString, 0, "Ardovin Kelvatrone"},
        {vst::effGetParamName, 0, "Bypass"},
        {vst::effGetParamName, 25, "4OGain"},
        {vst::effGetParamName, 26, ""},
        {vst::effGetParamName, -1, ""},
        {vst::effGetParamLabel, 26, ""},
        {vst::effGetParamDisplay, 26, ""},
    };
    for (const auto& [opcode, index, expected] : texts)
        EXPECT_EQ(CVstTestHost::text(e, opcode, index), expected)
            << "opcode " << opcode << " index " << index;
    // Labels and displays of real parameters fit 7 characters.
    for (std::int32_t i = 0; i < 26; ++i)
    {
        EXPECT_LE(CVstTestHost::text(e, vst::effGetParamDisplay, i).size(), 7u) << i;
        EXPECT_LE(CVstTestHost::text(e, vst::effGetParamLabel, i).size(), 7u) << i;
    }

    const std::pair<std::string, std::intptr_t> canDo[] = {
        {"receiveVstTimeInfo", 1}, {"receiveVstMidiEvent", 1},          {"sendVstMidiEvent", 0},
        {"receiveVstTimeInf", 0},  {"hasCockosExtensions", 0xBEEF0000}, {"", 0},
        {"plugAsChannelInsert", 0}};
    for (auto [what, expected] : canDo)
        EXPECT_EQ(CVstTestHost::dispatch(e, vst::effCanDo, 0, 0, what.data()), expected) << what;

    // Indices outside the parameter list read as 0 and ignore writes.
    for (std::int32_t index : {-1, 26, 1000})
    {
        e->setParameter(e, index, 0.5f);
        EXPECT_EQ(e->getParameter(e, index), 0.0f) << index;
    }
}

TEST_F(VstEffectTest, ChannelCountFollowsTheHost)
{
    // version, product, channels (0: no effect at all)
    const std::tuple<std::intptr_t, const char*, std::int32_t> cases[] = {
        {2400, "Kelv Test Host", 8}, {2300, "Kelv Test Host", 8},  {2299, "Kelv Test Host", 2},
        {2400, "Sony ACID Pro", 2},  {2400, "Sony ACID Pro 7", 8}, {1, "Kelv Test Host", 2},
        {0, "Kelv Test Host", 0},
    };
    for (const auto& [version, product, channels] : cases)
    {
        SCOPED_TRACE(testing::Message() << version << " " << product);
        CVstTestHost h;
        h.version = version;
        h.product = product;
        vst::AEffect* e = h.create();
        ASSERT_EQ(e != nullptr, channels > 0);
        if (e != nullptr)
        {
            EXPECT_EQ(e->numInputs, channels);
            EXPECT_EQ(e->numOutputs, channels);
        }
    }
    // No host callback at all: no effect.
    CVstTestHost::MainProc main = CVstTestHost::entry();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main(nullptr), nullptr);
}

TEST_F(VstEffectTest, ModuleExportsOnlyTheEntry)
{
    ASSERT_NE(CVstTestHost::entry(), nullptr);
    for (const char* name : {"main", "_ZN3zel12CApplication8instanceEv", "DllMain",
                             "_ZN3zel11AudioEffect19dispatchEffectClassEPNS_3vst7AEffectEiilPvf"})
        EXPECT_EQ(CVstTestHost::module().symbol(name), nullptr) << name;
}

TEST_F(VstEffectTest, ForceTwoChannelsSettingGivesTwoChannels)
{
    // A module reads the setting from the global data it loads at its first use, and a loaded
    // module stays loaded; a copy of the module under another name is a module of its own
    // that starts from the stored setting.
    ASSERT_FALSE(zel::CGlobalData().writeValue("force-2ch", "true"));
    const fs::path copy = s_home / "Kelvatrone-force2ch.module";
    fs::copy_file(KELV_VST_MODULE_PATH, copy, fs::copy_options::overwrite_existing);
    zel::platform::CDynamicLibrary library;
    ASSERT_TRUE(library.open(zel::CText(copy.string()))) << library.error();
    vst::AEffect* e =
        host.create(reinterpret_cast<CVstTestHost::MainProc>(library.symbol("VSTPluginMain")));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->numInputs, 2);
    EXPECT_EQ(e->numOutputs, 2);
    host.close(e);
    ASSERT_FALSE(zel::CGlobalData().writeValue("force-2ch", "0"));
}

TEST_F(VstEffectTest, SpeakerArrangements)
{
    vst::AEffect* e = created();
    ASSERT_NE(e, nullptr);
    const auto get = [&](vst::VstSpeakerArrangement*& in, vst::VstSpeakerArrangement*& out)
    {
        return CVstTestHost::dispatch(e, vst::effGetSpeakerArrangement, 0,
                                      reinterpret_cast<std::intptr_t>(&in), &out);
    };
    // Nothing is reported before the host sets an arrangement.
    auto* in = reinterpret_cast<vst::VstSpeakerArrangement*>(1);
    auto* out = reinterpret_cast<vst::VstSpeakerArrangement*>(1);
    EXPECT_EQ(get(in, out), 0);
    EXPECT_EQ(in, nullptr);
    EXPECT_EQ(out, nullptr);

    // inputs, outputs, accepted
    const std::tuple<std::int32_t, std::int32_t, std::intptr_t> cases[] = {
        {8, 6, 0}, {8, 2, 1}, {8, 1, 1}, {8, 8, 1}, {6, 6, 1},
        {4, 3, 0}, {9, 9, 0}, {9, 2, 0}, {2, 9, 0}, {-1, 2, 0},
    };
    for (const auto& [inputs, outputs, expected] : cases)
    {
        vst::VstSpeakerArrangement a{}, b{};
        a.numChannels = inputs;
        b.numChannels = outputs;
        EXPECT_EQ(CVstTestHost::dispatch(e, vst::effSetSpeakerArrangement, 0,
                                         reinterpret_cast<std::intptr_t>(&a), &b),
                  expected)
            << inputs << " in, " << outputs << " out";
    }
    // The last accepted pair (6/6) is what the effect reports.
    ASSERT_EQ(get(in, out), 1);
    ASSERT_TRUE(in != nullptr && out != nullptr);
    EXPECT_EQ(in->numChannels, 6);
    EXPECT_EQ(out->numChannels, 6);
}

TEST_F(VstEffectTest, ProgramNameIsTheNamePartTruncatedTo23Characters)
{
    vst::AEffect* e = created();
    ASSERT_NE(e, nullptr);
    std::string name = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123"; // 30 characters
    CVstTestHost::dispatch(e, vst::effSetProgramName, 0, 0, name.data());
    EXPECT_EQ(CVstTestHost::text(e, vst::effGetProgramName), name.substr(0, 23));
    const auto current = CVstTestHost::dispatch(e, vst::effGetProgram);
    char buffer[64];
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(CVstTestHost::dispatch(e, vst::effGetProgramNameIndexed, 0, current, buffer), 1);
    EXPECT_EQ(std::string(buffer), name.substr(0, 23));
}

TEST_F(VstEffectTest, ChunksRoundTripThroughANewInstanceAndJunkIsRefused)
{
    for (const std::int32_t isPreset : {1, 0})
    {
        SCOPED_TRACE(isPreset);
        vst::AEffect* a = created();
        ASSERT_NE(a, nullptr);
        a->setParameter(a, 7, 0.25f);
        a->setParameter(a, 19, 0.875f);
        const float expected7 = a->getParameter(a, 7);
        std::vector<std::uint8_t> chunk = CVstTestHost::chunk(a, isPreset);
        ASSERT_GT(chunk.size(), 20u);

        vst::AEffect* b = created();
        ASSERT_NE(b, nullptr);
        EXPECT_NE(b->getParameter(b, 7), expected7);
        // The same record with a byte after it inside its block is refused before anything
        // changes.
        CBytes plain = openBlock(CBytes(chunk.begin() + 16, chunk.end())).second;
        plain.push_back(0);
        CBytes trailing(16, 0);
        const CBytes block = isPreset ? makeBlock("aprs", plain) : makeBlock("abnk", plain);
        trailing.insert(trailing.end(), block.begin(), block.end());
        EXPECT_EQ(CVstTestHost::dispatch(b, vst::effSetChunk, isPreset,
                                         static_cast<std::intptr_t>(trailing.size()),
                                         trailing.data()),
                  0);
        EXPECT_NE(b->getParameter(b, 7), expected7);
        EXPECT_EQ(CVstTestHost::dispatch(b, vst::effSetChunk, isPreset,
                                         static_cast<std::intptr_t>(chunk.size()), chunk.data()),
                  1);
        EXPECT_FLOAT_EQ(b->getParameter(b, 7), expected7);
        EXPECT_FLOAT_EQ(b->getParameter(b, 19), 0.875f);
        // A refused chunk answers 0 and changes nothing.
        std::vector<std::uint8_t> junk(64, 0x5A);
        EXPECT_EQ(CVstTestHost::dispatch(b, vst::effSetChunk, isPreset, 64, junk.data()), 0);
        EXPECT_FLOAT_EQ(b->getParameter(b, 7), expected7);
        host.close(a);
        host.close(b);
    }
}

// Host automation reaches the internal parameter without an echo; a change made inside the
// effect (a program change here) reaches the host once per changed parameter, with the value
// the effect then reports, after the parameter's lock is released: another thread can read
// the parameter while the host is being told.
TEST_F(VstEffectTest, ParameterChangesTravelBothWaysThroughTheRecord)
{
    struct SNotified
    {
        std::int32_t index;
        float value;
        float reported;
        bool readableElsewhere;
    };
    static std::vector<SNotified> notified;
    static vst::AEffect* effect = nullptr;
    const auto callback = [](vst::AEffect* e, std::int32_t opcode, std::int32_t index,
                             std::intptr_t, void* ptr, float opt) -> std::intptr_t
    {
        if (opcode == vst::audioMasterVersion)
            return 2400;
        if (opcode == vst::audioMasterGetProductString || opcode == vst::audioMasterGetVendorString)
            std::strcpy(static_cast<char*>(ptr), "Notify Host");
        if (opcode == vst::audioMasterAutomate && e != nullptr && e == effect)
        {
            auto other =
                std::async(std::launch::async, [e, index] { return e->getParameter(e, index); });
            const bool readable =
                other.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
            notified.push_back({index, opt, e->getParameter(e, index), readable});
        }
        return 0;
    };
    notified.clear();
    effect = CVstTestHost::entry()(callback);
    ASSERT_NE(effect, nullptr);
    vst::AEffect* e = effect;

    const std::string gainBefore = CVstTestHost::text(e, vst::effGetParamDisplay, 7);
    e->setParameter(e, 7, 0.3f);
    EXPECT_NE(CVstTestHost::text(e, vst::effGetParamDisplay, 7), gainBefore);
    EXPECT_TRUE(notified.empty());

    // "Mastering Compression" turns RMS detection on in every group (one internal parameter,
    // four host parameters), selects 2x oversampling and has its own output gain; going back
    // to the first program restores that program's state as edited above.
    const std::tuple<std::intptr_t, std::vector<std::int32_t>> programs[] = {
        {5, {1, 3, 7, 9, 15, 21}},
        {0, {1, 3, 7, 9, 15, 21}},
    };
    for (const auto& [program, expected] : programs)
    {
        SCOPED_TRACE(program);
        notified.clear();
        CVstTestHost::dispatch(e, vst::effSetProgram, 0, program);
        std::vector<std::int32_t> indices;
        for (const SNotified& n : notified)
        {
            indices.push_back(n.index);
            EXPECT_EQ(n.value, n.reported) << n.index;
            EXPECT_TRUE(n.readableElsewhere) << n.index;
        }
        std::sort(indices.begin(), indices.end());
        EXPECT_EQ(indices, expected);
    }
    EXPECT_FLOAT_EQ(e->getParameter(e, 7), 0.3f);
    effect = nullptr;
    CVstTestHost::dispatch(e, vst::effClose);
}

TEST_F(VstEffectTest, VendorSpecificTextConversions)
{
    vst::AEffect* e = created();
    ASSERT_NE(e, nullptr);
    // Text to value: the display text of a value of "1OGain" (-12 to 12 dB) converts back.
    char buffer[64] = {};
    for (const auto& [value, expected] :
         {std::pair{0.0f, "0.000000"}, {0.5f, "0.500000"}, {1.0f, "1.000000"}})
    {
        e->setParameter(e, 7, value);
        const std::string display = CVstTestHost::text(e, vst::effGetParamDisplay, 7);
        std::memset(buffer, 0, sizeof(buffer));
        std::strncpy(buffer, display.c_str(), sizeof(buffer) - 1);
        EXPECT_EQ(CVstTestHost::dispatch(e, vst::effVendorSpecific, 27, 7, buffer), 0xBEEF);
        EXPECT_STREQ(buffer, expected) << display;
    }
    std::strcpy(buffer, "1");
    EXPECT_EQ(CVstTestHost::dispatch(e, vst::effVendorSpecific, 27, 26, buffer), 0xBEEF);
    EXPECT_STREQ(buffer, "");

    // Value to text: the display of a given value without changing the parameter.
    for (const float value : {0.0f, 1.0f})
    {
        e->setParameter(e, 1, value);
        const std::string display = CVstTestHost::text(e, vst::effGetParamDisplay, 1);
        e->setParameter(e, 1, 1.0f - value);
        EXPECT_EQ(CVstTestHost::text(e, vst::effVendorSpecific, 7, 1, value), display);
    }
    EXPECT_EQ(CVstTestHost::text(e, vst::effVendorSpecific, 7, -3, 1.0f), "");
    EXPECT_EQ(CVstTestHost::dispatch(e, vst::effVendorSpecific, 7, 1, nullptr, 0.0f), 0);
    EXPECT_EQ(CVstTestHost::dispatch(e, vst::effVendorSpecific, 8, 1, buffer, 0.0f), 0);
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

// Runs `input` through a fresh running effect, set to the precision of T, in pieces of `piece`
// frames.
template <class T>
CVstTestHost::SBuffers<T> rendered(CVstTestHost& host, CVstTestHost::SBuffers<T>& input,
                                   std::int32_t piece)
{
    const auto frames = static_cast<std::int32_t>(input.data[0].size());
    CVstTestHost::SBuffers<T> out(kChannels, frames);
    vst::AEffect* e = host.create();
    EXPECT_NE(e, nullptr);
    if (e == nullptr)
        return out;
    EXPECT_EQ(CVstTestHost::dispatch(e, vst::effSetProcessPrecision, 0,
                                     std::is_same_v<T, double> ? 1 : 0),
              1);
    CVstTestHost::dispatch(e, vst::effOpen);
    CVstTestHost::dispatch(e, vst::effSetSampleRate, 0, 0, nullptr, 48000.0f);
    CVstTestHost::dispatch(e, vst::effSetBlockSize, 0, 512);
    CVstTestHost::dispatch(e, vst::effMainsChanged, 0, 1);
    for (std::int32_t pos = 0; pos < frames; pos += piece)
    {
        std::vector<T*> in, to;
        for (std::size_t c = 0; c < kChannels; ++c)
        {
            in.push_back(input.pointers[c] == nullptr ? nullptr : input.pointers[c] + pos);
            to.push_back(out.pointers[c] + pos);
        }
        if constexpr (std::is_same_v<T, double>)
            e->processDoubleReplacing(e, in.data(), to.data(), std::min(piece, frames - pos));
        else
            e->processReplacing(e, in.data(), to.data(), std::min(piece, frames - pos));
    }
    return out;
}

// A deterministic multi-channel test signal.
CFloats signal(std::int32_t frames)
{
    CFloats s(kChannels, frames);
    for (std::size_t c = 0; c < s.data.size(); ++c)
        for (std::size_t i = 0; i < s.data[c].size(); ++i)
            s.data[c][i] = static_cast<float>(
                0.5 * std::sin(0.01 * static_cast<double>(c + 1) * static_cast<double>(i)));
    return s;
}

// The largest difference between two renderings.
double largestDifference(const CFloats& a, const CFloats& b)
{
    double worst = 0.0;
    for (std::size_t c = 0; c < a.data.size(); ++c)
        for (std::size_t i = 0; i < a.data[c].size(); ++i)
            worst = std::max(worst, static_cast<double>(std::fabs(a.data[c][i] - b.data[c][i])));
    return worst;
}

TEST_F(VstEffectTest, OneLongBlockEqualsManyShortOnes)
{
    CFloats in = signal(1300);
    const CFloats whole = rendered(host, in, 1300);
    EXPECT_LT(largestDifference(whole, rendered(host, in, 100)), 1e-6);
    // The effect passes the signal, so the comparison means something.
    EXPECT_GT(largestDifference(whole, CFloats(kChannels, 1300)), 1e-3);
}

TEST_F(VstEffectTest, NullInputPointerIsSilence)
{
    CFloats in = signal(1400);
    const CFloats withSignal = rendered(host, in, 1400);
    // Channel 0 reaches the output in the default routing.
    std::fill(in.data[0].begin(), in.data[0].end(), 0.0f);
    const CFloats withZeros = rendered(host, in, 1400);
    in.pointers[0] = nullptr;
    const CFloats withNull = rendered(host, in, 1400);
    EXPECT_LT(largestDifference(withNull, withZeros), 1e-6);
    EXPECT_GT(largestDifference(withNull, withSignal), 1e-3); // the silenced channel is heard
}

TEST_F(VstEffectTest, SingleAndDoublePrecisionAgree)
{
    CFloats in = signal(1024);
    CVstTestHost::SBuffers<double> in64(kChannels, 1024);
    for (std::size_t c = 0; c < in.data.size(); ++c)
        std::copy(in.data[c].begin(), in.data[c].end(), in64.data[c].begin());
    const CFloats out32 = rendered(host, in, 1024);
    const CVstTestHost::SBuffers<double> out64 = rendered(host, in64, 1024);
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
    CFloats in(kChannels, 256), out(kChannels, 256);
    vst::AEffect* e = host.createRunning();
    ASSERT_NE(e, nullptr);
    const std::int32_t delay = e->initialDelay;
    EXPECT_GT(delay, 0);
    const std::size_t before = host.count(vst::audioMasterIOChanged);
    for (float oversampling : {0.0f, 0.34f, 0.67f, 1.0f})
    {
        e->setParameter(e, 1, oversampling);
        for (int block = 0; block < 4; ++block)
            e->processReplacing(e, in.pointers.data(), out.pointers.data(), 256);
        CVstTestHost::dispatch(e, vst::effMainsChanged, 0, 0);
        CVstTestHost::dispatch(e, vst::effSetSampleRate, 0, 0, nullptr, 96000.0f);
        CVstTestHost::dispatch(e, vst::effMainsChanged, 0, 1);
        EXPECT_EQ(e->initialDelay, delay) << oversampling;
    }
    EXPECT_EQ(host.count(vst::audioMasterIOChanged), before);

    // The process level is asked once per block.
    const std::size_t levelCalls = host.count(vst::audioMasterGetCurrentProcessLevel);
    host.processLevel = vst::kVstProcessLevelOffline;
    e->processReplacing(e, in.pointers.data(), out.pointers.data(), 64);
    EXPECT_EQ(host.count(vst::audioMasterGetCurrentProcessLevel), levelCalls + 1);
}

} // namespace
} // namespace ktest
