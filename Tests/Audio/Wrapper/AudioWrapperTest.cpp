// The application wrapper over the carried description: init failures and identity, host facts,
// host-visible parameter traffic, state chunks, latency and priming, global settings and the
// editor link notices. (Its process path is driven by the plug-in and VST tests.)

#include "Audio/AudioWrapper.h"
#include "Audio/AudioEnv.h"
#include "Audio/AudioInterfaceBase.h"
#include "Audio/AudioParam.h"
#include "Audio/AudioParamRegistry.h"
#include "Audio/Converters/AudioParamConverter.h"
#include "Core/AppDataTestSupport.h"
#include "Core/Application.h"
#include "Core/ApplicationData.h"
#include "Core/MemoryReader.h"
#include "Harness/PluginDriver.h"
#include "Support/ErrorText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace kelvtest
{
namespace
{
using ECall = CTestWrapper::ECall;

const char* const kMain = "plugin.modMain.";

class CWrapperTest : public ktest::CConfigHomeTest
{
protected:
    void SetUp() override
    {
        ktest::CConfigHomeTest::SetUp();
        if (zel::CApplication::instance() == nullptr)
        {
            ASSERT_FALSE(zel::CApplication::initSharedObject());
            m_ownsApplication = true;
        }
    }
    void TearDown() override
    {
        wrapper.reset();
        restoreProject();
        if (m_ownsApplication)
            zel::CApplication::destroySharedObject();
        ktest::CConfigHomeTest::TearDown();
    }

    // Sets a project attribute of the shared description until the test ends.
    void patchProject(const char* name, const char* value)
    {
        zel::CObject* project = zel::CApplication::instance()->findObject("shared::project");
        ASSERT_NE(project, nullptr);
        m_saved.emplace(name, project->attribute(name));
        project->setAttributeRaw(name, value);
    }
    void restoreProject()
    {
        if (zel::CApplication::instance() == nullptr)
            return;
        zel::CObject* project = zel::CApplication::instance()->findObject("shared::project");
        for (const auto& [name, value] : m_saved)
            project->setAttributeRaw(zel::CText(name), value);
        m_saved.clear();
    }

    // A wrapper built, post-initialised and resumed at 48 kHz with two channels.
    CTestWrapper& build(std::int32_t channels = 2)
    {
        wrapper = std::make_unique<CTestWrapper>(channels);
        wrapper->setSampleRate(48000.0);
        EXPECT_EQ(idAndText(wrapper->init()), "no error");
        EXPECT_EQ(idAndText(wrapper->postInit()), "no error");
        EXPECT_EQ(idAndText(wrapper->resume()), "no error");
        return *wrapper;
    }

    zel::CAudioParam& param(const std::string& path) const
    {
        zel::CAudioParam* p = wrapper->collector().findParam(zel::CText(path));
        EXPECT_NE(p, nullptr) << path;
        return *p;
    }

    std::unique_ptr<CTestWrapper> wrapper;

private:
    bool m_ownsApplication = false;
    std::map<std::string, zel::CText> m_saved;
};

// Counts the notifications of one parameter.
class CCountingListener : public zel::CAudioParamListener
{
public:
    void onAudioParamChanged(zel::CAudioParam&, std::int32_t, std::int32_t) override { ++count; }
    int count = 0;
};

// Keeps every message a connected editor client receives, decoded to its name.
class CMessageSink : public zel::CAudioInterfaceClientSink
{
public:
    void receive(const std::uint8_t* data, std::size_t size) override
    {
        zel::CMemoryReader in(data, size);
        zel::CText name;
        EXPECT_FALSE(in.readString(name));
        names.push_back(name.toUtf8());
        sizes.push_back(size);
    }
    std::vector<std::string> names;
    std::vector<std::size_t> sizes;
};

// ---- init ----------------------------------------------------------------------------------

TEST_F(CWrapperTest, InitRejectsBadProjectAttributesAndAMissingApplication)
{
    // attribute, value, the error's id (and text where given), or "no error"
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"plugin-intchannel-count", "0", "zelstr_CAudioWrapper_init_InvalidIntChannelCount"},
        {"plugin-intchannel-count", "33", "zelstr_CAudioWrapper_init_InvalidIntChannelCount"},
        {"plugin-intchannel-count", "1", "no error"},
        {"plugin-intchannel-count", "32", "no error"},
        {"plugin-group-count", "0", "zelstr_CAudioWrapper_init_InvalidGroupCount"},
        {"plugin-group-count", "9", "zelstr_CAudioWrapper_init_InvalidGroupCount"},
        {"plugin-code", "abc",
         "zelstr_CAudioWrapper_acquirePluginCode_PluginCodeError: Invalid plug-in code in string "
         "'abc'."},
        {"app-version", "3.3.0.1", "zelstr_CAudioWrapper_parseVersion_InvalidVersion"},
        {"app-name", "", "zelstr_CAudioWrapper_init_PluginNameEmpty"},
        {"app-vendor", "", "zelstr_CAudioWrapper_init_VendorNameEmpty"},
    };
    for (const auto& [attribute, value, expected] : cases)
    {
        patchProject(attribute, value);
        // The attribute is validated as written; the graph is built with two channels (a
        // 32-channel graph needs more buffers than the pool holds).
        CTestWrapper w(2);
        const zel::CErrorPtr err = w.init();
        const bool withText = std::string(expected).find(':') != std::string::npos;
        EXPECT_EQ(withText ? idAndText(err) : idOf(err), expected) << attribute << "=" << value;
        restoreProject();
    }
    // Without an application object.
    zel::CApplication::destroySharedObject();
    CTestWrapper w;
    EXPECT_EQ(idAndText(w.init()),
              "zelstr_CAudioWrapper_init_NoApp: No application object created.");
    ASSERT_FALSE(zel::CApplication::initSharedObject());
}

TEST_F(CWrapperTest, IdentityComesFromTheProject)
{
    CTestWrapper& w = build(8);
    EXPECT_EQ(w.pluginCode(), 0x71336B38u); // 'q' '3' 'k' '8' big-endian
    EXPECT_EQ(w.pluginCategoryName().toUtf8(), "kPlugCategDynamics");
    EXPECT_EQ(w.internalChannelCount(), 8);
    EXPECT_EQ(w.groupCount(), 8);
    EXPECT_FALSE(w.hasSideChain());
    EXPECT_FALSE(w.usesHostTempo());
    EXPECT_TRUE(w.isReportingToHost());
    EXPECT_EQ(w.programPrefix().toUtf8(), "q3k8");
    EXPECT_EQ(w.programFullName(0).toUtf8(), "q3k8:Default");
}

TEST(CWrapperHelpers, VersionAndCodeGrammar)
{
    // text, "major.minor.patch" or "invalid"
    const std::pair<const char*, const char*> cases[] = {
        {"3.3", "3.3.0"},   {"1.2.3", "1.2.3"}, {"0x10.$a.#1", "16.10.1"}, {"3.x", "3.-1.0"},
        {"-2.1", "-2.1.0"}, {"3", "invalid"},   {"1.2.3.4", "invalid"},    {"", "invalid"},
    };
    for (const auto& [text, expected] : cases)
    {
        std::int32_t major = 0, minor = 0, patch = 0;
        const bool ok = zel::CAudioWrapper::parseVersion(zel::CText(text), major, minor, patch);
        EXPECT_EQ(ok ? std::to_string(major) + "." + std::to_string(minor) + "." +
                           std::to_string(patch)
                     : "invalid",
                  expected)
            << text;
    }
    std::uint32_t code = 0;
    EXPECT_TRUE(zel::CAudioWrapper::parsePluginCode(zel::CText("abcd"), code));
    EXPECT_EQ(code, 0x61626364u);
    EXPECT_FALSE(zel::CAudioWrapper::parsePluginCode(zel::CText("abc"), code));
}

// ---- Host facts ----------------------------------------------------------------------------

TEST(CWrapperHelpers, OfflineOversamplingModeTable)
{
    // offline level, rate, mode
    const std::tuple<std::int32_t, double, std::int32_t> cases[] = {
        {1, 48000.0, 2},  {1, 71999.0, 2}, {1, 72000.0, 1},  {1, 143999.0, 1},
        {1, 144000.0, 0}, {3, 44100.0, 3}, {0, 192000.0, 0}, {2, 96000.0, 2},
    };
    for (const auto& [level, rate, mode] : cases)
        EXPECT_EQ(zel::CAudioWrapper::offlineOversamplingMode(level, rate), mode)
            << level << " @ " << rate;
}

TEST_F(CWrapperTest, OfflineRenderingSetsTheModeAndTheFlagParameters)
{
    CTestWrapper& w = build();
    zel::CAudioParam& mode = param(std::string(kMain) + "host-oversampling-mode");
    zel::CAudioParam& offline = param(std::string(kMain) + "host-offline");
    EXPECT_EQ(w.oversamplingMode(), 0); // real-time setting 1, minus one
    w.setOffline(true);                 // level 1 (default) at 48 kHz
    EXPECT_EQ(w.oversamplingMode(), 2);
    EXPECT_EQ(mode.value(0, 0, 0), 2.0);
    EXPECT_EQ(offline.value(0, 0, 0), 1.0);
    w.setOffline(false);
    EXPECT_EQ(w.oversamplingMode(), 0);
    EXPECT_EQ(mode.value(0, 0, 0), 0.0);
    EXPECT_EQ(offline.value(0, 0, 0), 0.0);
}

TEST_F(CWrapperTest, OfflineLevelComesFromTheGlobalSetting)
{
    ASSERT_FALSE(
        zel::CGlobalData::current()->writeValue(zel::CText("oversampling-level"), zel::CText("3")));
    CTestWrapper& w = build();
    EXPECT_EQ(w.offlineOversamplingLevel(), 3);
    w.setOffline(true);
    EXPECT_EQ(w.oversamplingMode(), 3); // 3 + 1 clamped
}

TEST_F(CWrapperTest, LatencyNotificationIsPendingOnceAfterCreation)
{
    CTestWrapper& w = build();
    zel::CAudioParam& change = param(std::string(kMain) + "host-latency-change");
    EXPECT_TRUE(w.takeLatencyNotification());
    EXPECT_FALSE(w.takeLatencyNotification());
    w.latencyChanged();
    EXPECT_EQ(change.value(0, 0, 0), 1.0);
    w.latencyReported();
    EXPECT_EQ(change.value(0, 0, 0), 0.0);
    EXPECT_FALSE(w.takeLatencyNotification()); // reporting cleared it
}

TEST_F(CWrapperTest, ActivationPrimesOneFramePerStep)
{
    CTestWrapper& w = build();
    const double frame = 1.0 / 48000.0;
    const double t0 = w.streamTime();
    EXPECT_NEAR(t0, 3.0 * frame, 1e-15); // warm-up (two activations) and resume
    ASSERT_FALSE(w.resume());            // already active: nothing
    EXPECT_EQ(w.streamTime(), t0);
    ASSERT_FALSE(w.suspend());
    EXPECT_FALSE(w.env().isActive());
    EXPECT_NEAR(w.streamTime(), t0 + frame, 1e-15);
    ASSERT_FALSE(w.suspend());
    EXPECT_NEAR(w.streamTime(), t0 + frame, 1e-15);
    ASSERT_FALSE(w.resume());
    EXPECT_TRUE(w.env().isActive());
    EXPECT_NEAR(w.streamTime(), t0 + 2.0 * frame, 1e-15);
}

TEST_F(CWrapperTest, LinkNoticesReachConnectedClientsOnly)
{
    CTestWrapper& w = build();
    auto* connector = w.interfaceBase().connector();
    ASSERT_NE(connector, nullptr);
    CMessageSink sink;
    connector->connectClient(4, sink);
    ASSERT_FALSE(w.suspend()); // visualisation always active: no "stop-viz"
    ASSERT_FALSE(w.resume());
    w.setSampleRate(44100.0);
    w.setSampleRate(44100.0); // unchanged: nothing
    w.setChannelCounts(2, 1, 0);
    ASSERT_FALSE(w.suspend());
    EXPECT_EQ(sink.names,
              (std::vector<std::string>{"start-viz", "clear-client", "update-sample-rate",
                                        "update-io-channel-counts"}));
    // name (4 + 18) + f64; name (4 + 24) + three i32
    EXPECT_EQ(sink.sizes[2], 4u + 18u + 8u);
    EXPECT_EQ(sink.sizes[3], 4u + 24u + 12u);
    connector->disconnectClient(4);
    ASSERT_FALSE(w.resume());
    EXPECT_EQ(sink.names.size(), 4u);
}

// ---- Host-visible parameters ---------------------------------------------------------------

TEST_F(CWrapperTest, OutOfRangeHostIndicesAreHarmless)
{
    CTestWrapper& w = build();
    ASSERT_EQ(w.hostParamCount(), 26);
    w.calls.clear();
    for (const int bad : {-1, 26})
    {
        EXPECT_TRUE(w.hostParamName(bad).empty());
        EXPECT_TRUE(w.hostParamLabel(bad).empty());
        EXPECT_TRUE(w.hostParamDisplay(bad).empty());
        EXPECT_EQ(w.hostParam(bad), 0.0);
        EXPECT_EQ(w.hostParamFromText(bad, zel::CText("1")), 0.5);
        w.setHostParam(bad, 0.3); // ignored
    }
    EXPECT_TRUE(w.calls.empty());
}

TEST_F(CWrapperTest, HostValueIsConvertedAppliedAndNotEchoed)
{
    CTestWrapper& w = build();
    zel::CAudioParam& gain = param(std::string(kMain) + "modOutGain.gain");
    CCountingListener counter;
    gain.addListener(&counter);
    w.calls.clear();

    const double cached = w.hostParam(13); // "2OGain": group 1
    w.setHostParam(13, cached);            // equal: no change at all
    EXPECT_EQ(counter.count, 0);

    w.setHostParam(13, 0.25);
    EXPECT_EQ(counter.count, 1);
    EXPECT_EQ(w.hostParam(13), 0.25); // the host keeps its own value
    const zel::CAudioParamConverter* converter = gain.info().converter(0);
    ASSERT_NE(converter, nullptr);
    EXPECT_DOUBLE_EQ(gain.value(1, 0, 0), converter->normToValue(gain.info(), 0, 0.25));
    EXPECT_NE(gain.value(0, 0, 0), gain.value(1, 0, 0));  // group 0 untouched
    EXPECT_TRUE(w.callsOf(ECall::kParamChanged).empty()); // no echo
    EXPECT_EQ(w.hostParamDisplay(13).toUtf8(), gain.text(1, 0, 0).toUtf8());
    EXPECT_EQ(w.hostParamDisplayFor(13, 0.25).toUtf8(), gain.text(1, 0, 0).toUtf8());
    EXPECT_NEAR(w.hostParamFromText(13, gain.text(1, 0, 0)), 0.25, 0.01);
    gain.removeListener(&counter);
}

TEST_F(CWrapperTest, ChangesInsideOneOperationReachTheHostOnceWithTheLastValue)
{
    CTestWrapper& w = build();
    zel::CAudioParam& gain = param(std::string(kMain) + "modOutGain.gain");
    const zel::CAudioParamConverter* converter = gain.info().converter(0);
    const auto normOf = [&](double v) { return converter->valueToNorm(gain.info(), 0, v); };
    const double lo = gain.info().minValue(0);
    const double hi = gain.info().maxValue(0);
    const double a = lo + 0.25 * (hi - lo);
    const double b = lo + 0.75 * (hi - lo);
    w.calls.clear();
    {
        const zel::CAudioParamChangeScope operation;
        ASSERT_FALSE(gain.setValue(0, 0, 0, a));
        ASSERT_FALSE(gain.setValue(2, 0, 0, a)); // "3OGain"
        ASSERT_FALSE(gain.setValue(0, 0, 0, b));
        EXPECT_TRUE(w.calls.empty()); // nothing before the operation ends
    }
    const auto calls = w.callsOf(ECall::kParamChanged);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].index, 7); // first posted keeps its place, with the last value
    EXPECT_DOUBLE_EQ(calls[0].value, normOf(b));
    EXPECT_EQ(calls[1].index, 19);
    EXPECT_DOUBLE_EQ(calls[1].value, normOf(a));
    EXPECT_DOUBLE_EQ(w.hostParam(7), normOf(b));

    w.calls.clear();
    ASSERT_FALSE(gain.setValue(0, 0, 0, a)); // outside a scope: delivered at once
    ASSERT_FALSE(gain.setValue(0, 0, 0, a)); // same value: nothing new for the host
    ASSERT_EQ(w.callsOf(ECall::kParamChanged).size(), 1u);
}

TEST_F(CWrapperTest, EditGesturesAreLookedUpByParameterAndKey)
{
    CTestWrapper& w = build();
    zel::CAudioParam& gain = param(std::string(kMain) + "modOutGain.gain");
    zel::CAudioParam& bypass = param(std::string(kMain) + "modBypass.enable");
    w.calls.clear();
    w.interfaceBase().beginEdit(gain, (0 << 8) | 1); // group 1 -> "2OGain"
    w.interfaceBase().endEdit(gain, (0 << 8) | 1);
    w.beginEditFor(bypass, 0);
    w.beginEditFor(gain, (0 << 8) | 5); // group 5 is not host-visible
    w.beginEditFor(gain, (1 << 8) | 0); // element 1 is not host-visible
    ASSERT_EQ(w.calls.size(), 3u);
    EXPECT_EQ(w.calls[0].kind, ECall::kBeginEdit);
    EXPECT_EQ(w.calls[0].index, 13);
    EXPECT_EQ(w.calls[1].kind, ECall::kEndEdit);
    EXPECT_EQ(w.calls[1].index, 13);
    EXPECT_EQ(w.calls[2].index, 0);
}

// ---- State and programs --------------------------------------------------------------------

TEST_F(CWrapperTest, StateRoundTripsWithHostFraming)
{
    CTestWrapper& w = build();
    zel::CAudioParam& gain = param(std::string(kMain) + "modOutGain.gain");
    const double original = gain.value(0, 0, 0);
    struct CCase
    {
        bool programOnly;
        const char* tag;
    };
    for (const CCase& c : {CCase{true, "aprs"}, CCase{false, "abnk"}})
    {
        std::vector<std::uint8_t> chunk;
        ASSERT_EQ(idAndText(w.getState(chunk, c.programOnly, true)), "no error");
        ASSERT_GT(chunk.size(), 20u);
        EXPECT_EQ(std::vector<std::uint8_t>(chunk.begin(), chunk.begin() + 16),
                  std::vector<std::uint8_t>(16, 0));
        EXPECT_EQ(std::string(chunk.begin() + 16, chunk.begin() + 20), c.tag);
        std::vector<std::uint8_t> bare;
        ASSERT_FALSE(w.getState(bare, c.programOnly, false));
        EXPECT_EQ(bare, std::vector<std::uint8_t>(chunk.begin() + 16, chunk.end()));

        ASSERT_FALSE(gain.setValue(0, 0, 0, original + 1.0));
        ASSERT_EQ(idAndText(w.setState(chunk.data(), chunk.size(), c.programOnly, true)),
                  "no error")
            << c.tag;
        EXPECT_EQ(gain.value(0, 0, 0), original) << c.tag;
    }
}

TEST_F(CWrapperTest, ShortOrForeignStateIsHandled)
{
    CTestWrapper& w = build();
    std::vector<std::uint8_t> before;
    ASSERT_FALSE(w.getState(before, false, true));
    const std::vector<std::uint8_t> twelve(12, 0xAB);
    EXPECT_EQ(idAndText(w.setState(twelve.data(), twelve.size(), true, true)), "no error");
    EXPECT_EQ(idAndText(w.setState(twelve.data(), 16, true, true)), "no error");
    std::vector<std::uint8_t> after;
    ASSERT_FALSE(w.getState(after, false, true));
    EXPECT_EQ(before, after);
    // A bank chunk offered as a program is refused and changes nothing.
    EXPECT_TRUE(w.setState(before.data(), before.size(), true, true));
    ASSERT_FALSE(w.getState(after, false, true));
    EXPECT_EQ(before, after);
}

TEST_F(CWrapperTest, ProgramChangesRefreshTheHostDisplay)
{
    CTestWrapper& w = build();
    ASSERT_GE(w.programCount(), 1);
    w.calls.clear();
    ASSERT_FALSE(w.setProgram(w.programCount())); // outside the bank: nothing
    EXPECT_TRUE(w.calls.empty());
    ASSERT_FALSE(w.renameCurrentProgram(zel::CText("q3k8:Renamed")));
    EXPECT_EQ(w.programFullName(w.currentProgram()).toUtf8(), "q3k8:Renamed");
    EXPECT_EQ(w.callsOf(ECall::kUpdateDisplay).size(), 1u);
}

// ---- Global settings -----------------------------------------------------------------------

TEST_F(CWrapperTest, GlobalParametersFollowAndWriteTheApplicationData)
{
    zel::CLocalData* local = zel::CLocalData::current();
    ASSERT_NE(local, nullptr);
    ASSERT_FALSE(local->writeValue(zel::CText("integration-time"), zel::CText("0.012")));
    CTestWrapper& w = build();
    (void)w;
    EXPECT_EQ(param(std::string(kMain) + "meter-rmstime").value(0, 0, 0),
              0.012); // at start (seconds)
    ASSERT_FALSE(local->writeValue(zel::CText("release-time"), zel::CText("0.5")));
    EXPECT_EQ(param(std::string(kMain) + "meter-releasetime").value(0, 0, 0), 0.5); // later

    ASSERT_FALSE(param(std::string(kMain) + "meter-peaktime").setValue(0, 0, 0, 2.5));
    zel::CText stored;
    ASSERT_FALSE(local->readValue(zel::CText("peak-level-hold-time"), stored));
    EXPECT_EQ(stored.toUtf8(), "2.5");
    ASSERT_FALSE(param(std::string(kMain) + "denorm-enable").setValue(0, 0, 0, 0.0));
    ASSERT_FALSE(zel::CGlobalData::current()->readValue(zel::CText("denorm-enable"), stored));
    EXPECT_EQ(stored.toUtf8(), "0");
}

} // namespace
} // namespace kelvtest
