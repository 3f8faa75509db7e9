#include "Audio/AudioWrapper.h"

#include "Audio/AudioCCTable.h"
#include "Audio/AudioConnection.h"
#include "Audio/AudioEnv.h"
#include "Audio/AudioInterfaceBase.h"
#include "Audio/AudioParamCollector.h"
#include "Audio/AudioParamDef.h"
#include "Audio/AudioParamRegistry.h"
#include "Audio/AudioPreset.h"
#include "Audio/AudioPresetBank.h"
#include "Audio/AudioProcessDef.h"
#include "Audio/AudioVizCollector.h"
#include "Audio/DCDAWContext.h"
#include "Audio/Processes/ModOutput.h"
#include "Core/BlockId.h"
#include "Core/ByteBuffer.h"
#include "Core/Log.h"
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"
#include "Core/Numbers.h"
#include "Core/Target.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace zel
{
namespace
{
const char* const kOwner = "CAudioWrapper";
constexpr std::uint32_t kPresetTag = makeBlockId("aprs");
constexpr std::uint32_t kBankTag = makeBlockId("abnk");
// The pool buffer of a priming frame holds at least this many samples.
constexpr std::uint32_t kPrimeSamples = 8;

std::atomic<double>& uiScaleSlot()
{
    static std::atomic<double> scale{1.0};
    return scale;
}

// A typed object by path from holder, with the object model's errors for a missing object or
// one of another class.
template <class T>
CErrorPtr resolveTyped(CObject& holder, const char* path, T*& out)
{
    CTarget<T> target;
    ZEL_TRY(target.resolvePath(holder, CText(path), true), kOwner);
    out = target.get();
    return nullptr;
}

bool settingIsTrue(const CText& text)
{
    return text == CText("1") || text == CText("true");
}

CText readSetting(CApplicationData* data, const char* name, const char* fallback)
{
    CText value(fallback);
    if (data != nullptr)
        if (CErrorPtr err = data->readValue(CText(name), value, CText(fallback)))
            diagLog(ZEL_PASS(std::move(err), kOwner)->details());
    return value;
}

// The host's samples as the graph takes them: NaN and infinities become silence, finite
// magnitudes are held to kMaxInputMagnitude, subnormal values are flushed to zero (no real
// signal lives there, and arithmetic on them is slow on most processors). One pass of
// selects without branches: about half a nanosecond a sample, next to the graph's hundreds.
template <class T>
void guardSamples(const T* from, double* to, std::int32_t n)
{
    constexpr double kMax = CAudioWrapper::kMaxInputMagnitude;
    constexpr double kMin = std::numeric_limits<double>::min();
    for (std::int32_t i = 0; i < n; ++i)
    {
        const double x = static_cast<double>(from[i]);
        const double a = std::fabs(x);
        const double held = a <= kMax ? x : std::copysign(kMax, x);
        to[i] = a >= kMin && a <= std::numeric_limits<double>::max() ? held : 0.0;
    }
}

std::int32_t roundScaled(double pixels)
{
    return static_cast<std::int32_t>(std::lround(pixels * CAudioWrapper::uiScale()));
}
} // namespace

// ---- Nested classes ----

// A parameter bound to a setting of the application data, kept equal both ways. The value is
// stored as the parameter's real value in the number grammar ("1" and "0" for switches).
class CAudioWrapper::CGlobalParam : public CObject, public CAudioParamListener
{
public:
    class CDataBridge : public CApplicationDataListenerBridge<CGlobalParam>
    {
    public:
        using CApplicationDataListenerBridge<CGlobalParam>::CApplicationDataListenerBridge;
    };

    CGlobalParam() : m_bridge(this) {}
    ~CGlobalParam() override
    {
        m_bridge.disconnect();
        if (m_param != nullptr)
            m_param->removeListener(this);
    }

    static void registerClass(CClassInfo& info)
    {
        CObject::registerClass(info);
        info.event<&CGlobalParam::onUpdate>("update");
    }

    void bind(CAudioParam& param, const CText& key, CApplicationData* store)
    {
        m_param = &param;
        m_key = key;
        if (store != nullptr && m_bridge.connect(store))
        {
            CText value;
            bool found = false;
            if (CErrorPtr err = store->readValue(key, value, CText(), &found))
                diagLog(ZEL_PASS(std::move(err), kOwner)->details());
            if (found)
                apply(value);
        }
        param.addListener(this, true);
    }

    CErrorPtr onUpdate(CObject& eventParams)
    {
        if (eventParams.attribute("data-set") == CText(CApplicationData::kSettingsDataSet) &&
            eventParams.attribute("data-name") == m_key)
            apply(eventParams.attribute("value"));
        return nullptr;
    }

    void onAudioParamChanged(CAudioParam& param, std::int32_t group, std::int32_t origin) override
    {
        (void)group;
        (void)origin;
        if (m_applying || &param != m_param)
            return;
        const CText text = formatNumber(param.value(0, 0, 0), 15, true);
        CApplicationData* store = nullptr;
        {
            CBridge::CAccess access(m_bridge);
            store = CDataBridge::dataOf(access);
            if (store != nullptr)
                if (CErrorPtr err = store->writeValue(m_key, text, &m_bridge))
                    diagLog(ZEL_PASS(std::move(err), kOwner)->details());
        }
    }

    void onAudioParamDestroyed(CAudioParam& param) override
    {
        if (&param == m_param)
            m_param = nullptr;
    }

    const CText& key() const { return m_key; }

private:
    void apply(const CText& text)
    {
        if (m_param == nullptr)
            return;
        double value = 0.0;
        m_applying = true;
        if (parseNumber(text, value))
            (void)m_param->setValue(0, 0, 0, value);
        else if (text == CText("true") || text == CText("false"))
            (void)m_param->setValue(0, 0, 0, text == CText("true") ? 1.0 : 0.0);
        else
            (void)m_param->setText(0, 0, 0, text);
        m_applying = false;
    }

    CDataBridge m_bridge;
    CAudioParam* m_param = nullptr;
    CText m_key;
    bool m_applying = false;
};

// Tells the wrapper (and through it the host) that the registry's programs changed.
class CAudioWrapper::CProgramChangeBridge : public CAudioParamRegistryListener
{
public:
    explicit CProgramChangeBridge(CAudioWrapper& wrapper) : m_wrapper(wrapper) {}
    void onRegistryChanged(CAudioParamRegistry& registry) override
    {
        (void)registry;
        m_wrapper.updateDisplay();
    }

private:
    CAudioWrapper& m_wrapper;
};

// Follows "main-window-size" (unscaled pixels) and asks the host for the scaled size.
class CAudioWrapper::CWinSizeParamListener : public CAudioParamListener
{
public:
    CWinSizeParamListener(CAudioWrapper& wrapper, CAudioParam& param)
        : m_wrapper(wrapper), m_param(&param)
    {
        param.addListener(this, true);
    }
    ~CWinSizeParamListener() override
    {
        if (m_param != nullptr)
            m_param->removeListener(this);
    }

    // The scaled size the parameter holds now.
    static void sizeOf(const CAudioParam& param, std::int32_t& width, std::int32_t& height)
    {
        const double w = param.value(0, 0, 0);
        const double h = param.elementCount(0) > 1 ? param.value(0, 1, 0) : w;
        width = roundScaled(w);
        height = roundScaled(h);
    }

    void onAudioParamChanged(CAudioParam& param, std::int32_t group, std::int32_t origin) override
    {
        (void)group;
        (void)origin;
        if (&param != m_param)
            return;
        CCriticalSectionLock paramGuard(param.lock());
        CCriticalSectionLock guard(m_lock);
        std::int32_t width = 0;
        std::int32_t height = 0;
        sizeOf(param, width, height);
        if (width == m_wrapper.m_windowWidth && height == m_wrapper.m_windowHeight)
            return;
        m_wrapper.setWindowSize(width, height);
        if (m_wrapper.m_reportToHost)
            (void)m_wrapper.resizeEditor(width, height);
    }

    void onAudioParamDestroyed(CAudioParam& param) override
    {
        if (&param == m_param)
            m_param = nullptr;
    }

private:
    CAudioWrapper& m_wrapper;
    CAudioParam* m_param;
    CCriticalSection m_lock{4000};
};

bool CAudioWrapper::CHostKey::operator<(const CHostKey& other) const
{
    if (param != other.param)
        return std::less<const CAudioParam*>()(param, other.param);
    return key < other.key;
}

// ---- Construction ----

CAudioWrapper::CAudioWrapper() = default;

CAudioWrapper::~CAudioWrapper()
{
    releaseAll();
}

void CAudioWrapper::releaseAll()
{
    if (m_interfaceBase != nullptr)
        m_interfaceBase->registerWrapper(nullptr);
    if (m_registry != nullptr && m_programBridge)
        m_registry->removeListener(m_programBridge.get());
    m_programBridge.reset();
    m_winSizeListener.reset();
    m_globalParams.clear();
    for (CAudioExtParam* param : m_hostParams)
        param->detachHost();
    m_hostParams.clear();
    m_hostMap.clear();
    m_feeds.clear();
    // The processes hold kernel context buffers: they go before the context (also when init
    // stopped half way through building them).
    if (m_plugin != nullptr)
        for (const char* name : {"modOutput", "modMain"})
            if (CObject* process = m_plugin->findChild(CText(name)))
                process->destroy();
    m_output = nullptr;
    m_main = nullptr;
    m_root.reset();
}

std::int32_t CAudioWrapper::resizeEditor(std::int32_t width, std::int32_t height)
{
    (void)width;
    (void)height;
    return 0;
}

double CAudioWrapper::uiScale()
{
    return uiScaleSlot().load();
}

void CAudioWrapper::setUiScale(double scale)
{
    uiScaleSlot().store(scale);
}

// ---- Pure helpers ----

bool CAudioWrapper::parsePluginCode(const CText& text, std::uint32_t& code)
{
    if (text.size() != 4)
        return false;
    std::uint32_t packed = 0;
    for (std::size_t i = 0; i < 4; ++i)
        packed = (packed << 8) + (static_cast<std::uint32_t>(text[i]) & 0xFFu);
    code = packed;
    return true;
}

bool CAudioWrapper::parseInteger(const CText& text, std::int64_t& value)
{
    return zel::parseInteger(text, value);
}

bool CAudioWrapper::parseVersion(const CText& text, std::int32_t& major, std::int32_t& minor,
                                 std::int32_t& patch)
{
    std::vector<CText> parts;
    std::size_t start = 0;
    while (true)
    {
        const std::size_t dot = text.find(u'.', start);
        if (dot == CText::npos)
        {
            parts.push_back(text.substr(start));
            break;
        }
        parts.push_back(text.substr(start, dot - start));
        start = dot + 1;
    }
    if (parts.size() != 2 && parts.size() != 3)
        return false;
    const auto part = [&](std::size_t i) -> std::int32_t
    {
        std::int32_t value = -1;
        if (i >= parts.size())
            return 0;
        if (!parseInteger32(parts[i], value))
            return -1;
        return value;
    };
    major = part(0);
    minor = part(1);
    patch = part(2);
    return true;
}

std::int32_t CAudioWrapper::offlineOversamplingMode(std::int32_t level, double sampleRate)
{
    std::int32_t mode = level;
    if (sampleRate < 72000.0)
        mode = level + 1;
    else if (sampleRate >= 144000.0)
        mode = level - 1;
    return std::clamp(mode, 0, 3);
}

std::int32_t CAudioWrapper::vendorVersion() const
{
    return (m_versionMajor << 16) | (m_versionMinor << 8) | m_versionPatch;
}

// ---- init ----

CErrorPtr CAudioWrapper::init()
{
    CApplication* application = CApplication::instance();
    if (application == nullptr)
        return ZEL_ERROR(kOwner, "zelstr_CAudioWrapper_init_NoApp",
                         "No application object created.");
    ZEL_TRY(CApplication::initRootObject(CText(), m_root), kOwner);

    CObject* audio = nullptr;
    ZEL_TRY(resolveTyped(*m_root, "shared::audio", audio), kOwner);
    ZEL_TRY(m_root->createChild(audio->attribute("plugin-tag"), CText("plugin"), true, m_plugin),
            kOwner);
    // The lifecycle the description loader runs on an element.
    ZEL_TRY(m_plugin->init(), kOwner);
    ZEL_TRY(m_plugin->initTemplateChilds(), kOwner);
    ZEL_TRY(m_plugin->initChilds(), kOwner);
    m_plugin->setState(kStateLoaded);
    m_hasSideChain = m_plugin->attributeBool("sidechain").value_or(false);

    CObject* project = nullptr;
    ZEL_TRY(resolveTyped(*m_root, "shared::project", project), kOwner);
    m_project = project;
    ZEL_TRY(initProject(*project), kOwner);
    ZEL_TRY(initObjects(), kOwner);

    m_vizAlwaysActive = project->attributeBool("is-viz-always-active").value_or(true);
    m_useHostTempo = project->attributeBool("use-host-bpm").value_or(false);
    m_lastTempo = -1.0;
    m_useHostRecording = project->attributeBool("use-host-recording").value_or(false);
    m_lastRecording = false;
    std::int64_t rtMode = 1;
    if (parseInteger(project->attribute("auto-oversampling-rtmode", CText("1")), rtMode))
        m_rtOversampling = static_cast<std::int32_t>(rtMode);

    ZEL_TRY(initProcesses(), kOwner);
    initWindowSize();
    initGlobalParams();

    // The graph: the main instance's connections, the output stage behind it.
    ZEL_TRY(rebuildInputFeeds(), kOwner);
    ZEL_TRY(m_main->connect(), kOwner);
    ZEL_TRY(m_output->attachSource(*m_main), kOwner);
    m_output->setOutputFormat(true, false, m_outputCount);

    initHostParamMap();
    // Every parameter is registered now: the registries apply their stored default presets
    // before the first block.
    for (CObject* child : m_plugin->childList())
        if (auto* registry = dynamic_cast<CAudioParamRegistry*>(child))
            registry->parametersReady();
    m_env->setPrepared(true);
    readGlobalSettings();

    if (m_offline)
    {
        m_offline = false;
        setFixedParam(m_paramOffline, 0.0);
    }
    updateOversamplingMode();
    return nullptr;
}

CErrorPtr CAudioWrapper::initProject(const CObject& project)
{
    m_appName = project.attribute("app-name");
    m_vendorName = project.attribute("app-vendor");
    if (m_appName.empty())
        return ZEL_ERROR(kOwner, "zelstr_CAudioWrapper_init_PluginNameEmpty",
                         "Plug-in name is empty.");
    if (m_vendorName.empty())
        return ZEL_ERROR(kOwner, "zelstr_CAudioWrapper_init_VendorNameEmpty",
                         "Vendor name is empty.");

    std::int64_t channels = 0;
    if (!parseInteger(project.attribute("plugin-intchannel-count"), channels) || channels < 1 ||
        channels > kMaxIntChannels)
        return ZEL_ERROR(kOwner, "zelstr_CAudioWrapper_init_InvalidIntChannelCount",
                         "Invalid 'plugin-intchannel-count' attribute value.");
    std::int64_t groups = 0;
    if (!parseInteger(project.attribute("plugin-group-count"), groups) || groups < 1 ||
        groups > kMaxGroups)
        return ZEL_ERROR(kOwner, "zelstr_CAudioWrapper_init_InvalidGroupCount",
                         "Invalid 'plugin-group-count' attribute value.");
    m_intChannelCount = static_cast<std::int32_t>(channels);
    m_groupCount = static_cast<std::int32_t>(groups);

    const CText code = project.attribute("plugin-code");
    if (!parsePluginCode(code, m_pluginCode))
        return ZEL_ERROR(kOwner, "zelstr_CAudioWrapper_acquirePluginCode_PluginCodeError",
                         "Invalid plug-in code in string '%1'.", {code.toUtf8()});

    const CText version = project.attribute("app-version");
    if (!parseVersion(version, m_versionMajor, m_versionMinor, m_versionPatch))
        return ZEL_ERROR(kOwner, "zelstr_CAudioWrapper_parseVersion_InvalidVersion",
                         "Invalid version '%1': expected major.minor or major.minor.patch.",
                         {version.toUtf8()});
    return nullptr;
}

CErrorPtr CAudioWrapper::initObjects()
{
    CObject& root = *m_root;
    ZEL_TRY(resolveTyped(root, "plugin.dcdaw-context", m_context), kOwner);
    ZEL_TRY(resolveTyped(root, "plugin.audio-env", m_env), kOwner);
    ZEL_TRY(resolveTyped(root, "plugin.param-collector", m_collector), kOwner);
    ZEL_TRY(resolveTyped(root, "plugin.viz-collector", m_viz), kOwner);
    ZEL_TRY(resolveTyped(root, "plugin.interface-base", m_interfaceBase), kOwner);
    ZEL_TRY(resolveTyped(root, "plugin.ext-param-list", m_extList), kOwner);
    ZEL_TRY(resolveTyped(root, "plugin.cctable", m_ccTable), kOwner);
    ZEL_TRY(resolveTyped(root, "plugin.param-registry", m_registry), kOwner);
    CAudioProcessDefBase* mainDef = nullptr;
    CAudioProcessDefBase* outputDef = nullptr;
    ZEL_TRY(resolveTyped(root, "shared::audio.modMain", mainDef), kOwner);
    ZEL_TRY(resolveTyped(root, "shared::audio.modOutput", outputDef), kOwner);
    m_mainDef = mainDef;
    m_outputDef = outputDef;
    if (m_initSampleRate > 0.0)
        m_env->setSampleRate(m_initSampleRate);
    if (m_initMaxBlockLength > 0)
        m_env->setMaxBlockLength(m_initMaxBlockLength);
    return nullptr;
}

CErrorPtr CAudioWrapper::initProcesses()
{
    if (m_initChannelCount > 0)
        m_intChannelCount = std::min(m_initChannelCount, kMaxIntChannels);
    m_inputCount = m_intChannelCount;
    m_outputCount = m_intChannelCount;
    m_sideChainCount = 0;
    m_configChanged = true;

    // Channel groups: the description's default group assignment, channel by channel.
    std::vector<std::int32_t> groups;
    const auto* grouping = dynamic_cast<const CAudioParamDef*>(
        m_root->findObject(CText("shared::audio.modMain.io-params.grouping")));
    const std::vector<double>* assign = nullptr;
    if (grouping != nullptr && grouping->sharedInfo() &&
        !grouping->sharedInfo()->defaultSets.empty())
        assign = &grouping->sharedInfo()->defaultSets.front();
    for (std::int32_t c = 0; c < m_intChannelCount; ++c)
    {
        const auto index = static_cast<std::size_t>(c);
        groups.push_back(assign != nullptr && index < assign->size()
                             ? static_cast<std::int32_t>((*assign)[index])
                             : 0);
    }

    m_setup = std::make_shared<CAudioProcessSetup>();
    m_setup->context = m_context;
    m_setup->env = m_env;
    m_setup->collector = m_collector;
    m_setup->channelCount = m_intChannelCount;
    m_setup->groupCount = m_groupCount;
    m_setup->channelGroups = std::move(groups);

    ZEL_TRY(CAudioProcessBase::instantiate(*m_mainDef, *m_plugin, CText("modMain"), m_setup,
                                           CText("plugin.modMain"), m_main),
            kOwner);
    CAudioProcessBase* output = nullptr;
    ZEL_TRY(CAudioProcessBase::instantiate(*m_outputDef, *m_plugin, CText("modOutput"), m_setup,
                                           CText("plugin.modOutput"), output),
            kOwner);
    m_output = dynamic_cast<CModOutput*>(output);
    if (m_output == nullptr)
    {
        output->destroy();
        return ZEL_ERROR(kOwner, "zelstr_CAudioWrapper_init_InvalidOutProcessType",
                         "Output process object 'shared::audio.modOutput' is not of required "
                         "'CModOutput' type.");
    }
    m_nullOutputs.assign(static_cast<std::size_t>(kMaxIntChannels), nullptr);

    // The fixed parameter handles (registered by the main process).
    const auto find = [this](const char* path) { return m_collector->findParam(CText(path)); };
    m_paramOversamplingMode = find("plugin.modMain.host-oversampling-mode");
    m_paramOffline = find("plugin.modMain.host-offline");
    m_paramLatencyChange = find("plugin.modMain.host-latency-change");
    m_paramBypass = find("plugin.modMain.modBypass.enable");
    if (m_useHostTempo)
        m_paramBpm = find("plugin.modMain.host-bpm");
    if (m_useHostRecording)
        m_paramRec = find("plugin.modMain.host-rec");
    return nullptr;
}

void CAudioWrapper::initWindowSize()
{
    m_useWindowResizing = m_project->attributeBool("use-window-resizing").value_or(false);
    const double width = m_project->attributeFloat("window-width").value_or(0.0);
    const double height = m_project->attributeFloat("window-height").value_or(0.0);
    m_windowWidth = roundScaled(width);
    m_windowHeight = roundScaled(height);
    if (!m_useWindowResizing)
        return;
    m_paramWindowSize = m_collector->findParam(CText("plugin.modMain.main-window-size"));
    if (m_paramWindowSize == nullptr)
        return;
    CWinSizeParamListener::sizeOf(*m_paramWindowSize, m_windowWidth, m_windowHeight);
    m_winSizeListener = std::make_unique<CWinSizeParamListener>(*this, *m_paramWindowSize);
}

void CAudioWrapper::initGlobalParams()
{
    struct CBinding
    {
        const char* path;
        const char* key;
        bool global;
    };
    static const CBinding kBindings[] = {
        {"plugin.modMain.lp-oversampling-enable", "lp-oversampling-enable", false},
        {"plugin.modMain.meter-rmstime", "integration-time", false},
        {"plugin.modMain.meter-releasetime", "release-time", false},
        {"plugin.modMain.meter-peaktime", "peak-level-hold-time", false},
        {"plugin.modMain.denorm-enable", "denorm-enable", true},
    };
    for (const CBinding& binding : kBindings)
    {
        CAudioParam* param = m_collector->findParam(CText(binding.path));
        if (param == nullptr)
            continue;
        CApplicationData* store = binding.global
                                      ? static_cast<CApplicationData*>(CGlobalData::current())
                                      : static_cast<CApplicationData*>(CLocalData::current());
        TObjectPtr<CGlobalParam> global = CObject::make<CGlobalParam>();
        global->bind(*param, CText(binding.key), store);
        m_globalParams.push_back(std::move(global));
    }
}

void CAudioWrapper::initHostParamMap()
{
    m_hostParams = m_extList->params();
    for (std::size_t i = 0; i < m_hostParams.size(); ++i)
    {
        CAudioExtParam& ext = *m_hostParams[i];
        const auto index = static_cast<std::int32_t>(i);
        if (!ext.attachHost(this, index))
            continue;
        const CHostKey key{ext.param(), (ext.elementIndex() << 8) | ext.group()};
        m_hostMap.emplace(key, index); // a key already present keeps its first index
    }
}

void CAudioWrapper::readGlobalSettings()
{
    CApplicationData* global = CGlobalData::current();
    std::int64_t level = 1;
    if (!parseInteger(readSetting(global, "oversampling-level", "1"), level))
        level = 1;
    m_offlineOversamplingLevel =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(level, -99, 99));
    m_forceTwoChannels = settingIsTrue(readSetting(global, "force-2ch", "0"));
}

// ---- Post-initialisation ----

CErrorPtr CAudioWrapper::postInit()
{
    m_interfaceBase->registerWrapper(this);
    m_programBridge = std::make_unique<CProgramChangeBridge>(*this);
    m_registry->addListener(m_programBridge.get());
    // Warm-up: the graph is activated and deactivated once, as the host will do.
    ZEL_TRY(resume(), kOwner);
    ZEL_TRY(suspend(), kOwner);
    m_reportToHost = true;
    return nullptr;
}

// ---- Host facts ----

void CAudioWrapper::setSampleRate(double rate)
{
    // No graph runs at a rate that is not a positive number: such a rate is refused and the
    // current one stays. Other rates are held to the range the filters are designed for.
    if (!(rate > 0.0) || !std::isfinite(rate))
        return;
    rate = std::clamp(rate, kMinSampleRate, kMaxSampleRate);
    if (m_env == nullptr)
    {
        // Before init: the graph is built at this rate.
        m_initSampleRate = rate;
        return;
    }
    {
        CCriticalSectionLock guard(m_env->graphLock());
        if (rate == m_env->sampleRate())
            return;
        m_env->setSampleRate(rate);
        m_sampleRateChanged = true;
    }
    m_interfaceBase->sendSampleRate(rate);
}

double CAudioWrapper::sampleRate() const
{
    return m_env != nullptr ? m_env->sampleRate() : 44100.0;
}

void CAudioWrapper::setMaxBlockLength(std::int32_t frames)
{
    // The graph never sees more than one piece at a time, so its buffers need no more room
    // than that, whatever the host declares (hosts declare 0, negative or huge sizes too).
    frames = frames > 0 ? std::min(frames, kMaxPiece) : kMaxPiece;
    if (m_env == nullptr)
    {
        m_initMaxBlockLength = frames;
        return;
    }
    CCriticalSectionLock guard(m_env->graphLock());
    m_env->setMaxBlockLength(frames);
}

void CAudioWrapper::setOffline(bool offline)
{
    if (offline != m_offline)
    {
        m_offline = offline;
        setFixedParam(m_paramOffline, offline ? 1.0 : 0.0);
    }
    updateOversamplingMode();
}

void CAudioWrapper::updateOversamplingMode()
{
    const std::int32_t mode =
        m_offline ? offlineOversamplingMode(m_offlineOversamplingLevel, sampleRate())
                  : m_rtOversampling - 1;
    if (mode == m_oversamplingMode)
        return;
    m_oversamplingMode = mode;
    setFixedParam(m_paramOversamplingMode, mode);
}

void CAudioWrapper::setHostTempo(double bpm)
{
    if (!m_useHostTempo || bpm == m_lastTempo)
        return;
    m_lastTempo = bpm;
    setFixedParam(m_paramBpm, bpm);
}

void CAudioWrapper::setHostRecording(bool recording)
{
    if (!m_useHostRecording || recording == m_lastRecording)
        return;
    m_lastRecording = recording;
    setFixedParam(m_paramRec, recording ? 1.0 : 0.0);
}

void CAudioWrapper::latencyChanged()
{
    m_latencyPending = true;
    m_latencyReported = false;
    setFixedParam(m_paramLatencyChange, 1.0);
}

void CAudioWrapper::latencyReported()
{
    if (m_latencyReported)
        return;
    m_latencyPending = false;
    m_latencyReported = true;
    setFixedParam(m_paramLatencyChange, 0.0);
}

bool CAudioWrapper::takeLatencyNotification()
{
    return m_latencyPending.exchange(false);
}

std::int32_t CAudioWrapper::latency() const
{
    return m_env != nullptr ? m_env->latency() : 0;
}

void CAudioWrapper::setFixedParam(CAudioParam* param, double value)
{
    if (param != nullptr)
        (void)param->setValue(0, 0, 0, value);
}

// ---- Channel configuration ----

std::int32_t CAudioWrapper::internalChannelCount() const
{
    CCriticalSectionLock guard(m_env->graphLock());
    return m_intChannelCount;
}

void CAudioWrapper::setInternalChannelCount(std::int32_t n)
{
    CCriticalSectionLock guard(m_env->graphLock());
    if (n == m_intChannelCount)
        return;
    m_intChannelCount = std::clamp(n, 1, kMaxIntChannels);
    m_configChanged = true;
}

std::int32_t CAudioWrapper::inputCount() const
{
    CCriticalSectionLock guard(m_env->graphLock());
    return m_inputCount;
}

std::int32_t CAudioWrapper::outputCount() const
{
    CCriticalSectionLock guard(m_env->graphLock());
    return m_outputCount;
}

std::int32_t CAudioWrapper::sideChainCount() const
{
    CCriticalSectionLock guard(m_env->graphLock());
    return m_sideChainCount;
}

void CAudioWrapper::setChannelCounts(std::int32_t inputs, std::int32_t outputs,
                                     std::int32_t sideChains)
{
    CCriticalSectionLock guard(m_env->graphLock());
    if (inputs == m_inputCount && outputs == m_outputCount && sideChains == m_sideChainCount)
        return;
    m_inputCount = std::clamp(inputs, 0, kMaxIntChannels);
    m_outputCount = std::clamp(outputs, 0, kMaxIntChannels);
    m_sideChainCount = std::clamp(sideChains, 0, m_inputCount);
    m_configChanged = true;
}

CAudioConnection* CAudioWrapper::inputFeed(std::int32_t channel) const
{
    const std::int32_t mainInputs = std::min(m_inputCount - m_sideChainCount, m_intChannelCount);
    if (channel < 0 || channel >= mainInputs || static_cast<std::size_t>(channel) >= m_feeds.size())
        return nullptr;
    return m_feeds[static_cast<std::size_t>(channel)];
}

CErrorPtr CAudioWrapper::rebuildInputFeeds()
{
    // One feed per main input channel of the graph; feeds past the input count stay but are
    // inactive, so the graph does not wait for them and reads silence there.
    const std::int32_t graphChannels = m_setup->channelCount;
    const std::int32_t mainInputs =
        std::clamp(m_inputCount - m_sideChainCount, 0, std::min(graphChannels, m_intChannelCount));
    while (static_cast<std::int32_t>(m_feeds.size()) < mainInputs)
        m_feeds.push_back(&m_main->feedInput(0, static_cast<std::int32_t>(m_feeds.size())));
    for (std::size_t c = 0; c < m_feeds.size(); ++c)
    {
        const bool active = static_cast<std::int32_t>(c) < mainInputs;
        if (!active)
            m_feeds[c]->clear();
        m_feeds[c]->setActive(active);
    }
    return nullptr;
}

// ---- Activation ----

CErrorPtr CAudioWrapper::resume()
{
    CCriticalSectionLock guard(m_env->graphLock());
    if (m_env->isActive())
        return nullptr;
    m_env->setActive(true);
    m_viz->setActive(true);
    m_interfaceBase->sendStartViz();
    m_interfaceBase->sendClearClient();
    ZEL_TRY(reconfigureAndPrime(), kOwner);
    return nullptr;
}

CErrorPtr CAudioWrapper::suspend()
{
    CCriticalSectionLock guard(m_env->graphLock());
    if (!m_env->isActive())
        return nullptr;
    m_env->setActive(false);
    CErrorPtr err = reconfigureAndPrime();
    m_main->flush();
    m_output->flush();
    if (!m_vizAlwaysActive)
    {
        m_viz->setActive(false);
        m_interfaceBase->sendStopViz();
    }
    m_viz->reset();
    return err ? ZEL_PASS(std::move(err), kOwner) : nullptr;
}

CErrorPtr CAudioWrapper::reconfigureAndPrime()
{
    if (m_configChanged || m_sampleRateChanged)
    {
        m_sampleRateChanged = false;
        m_configChanged = false;
        m_interfaceBase->sendIoChannelCounts(m_inputCount, m_outputCount, m_sideChainCount);
        ZEL_TRY(rebuildInputFeeds(), kOwner);
    }
    const std::int32_t latencyBefore = m_env->latency();
    m_viz->beginBlock();
    (void)m_collector->takeIn(m_env->streamTime());
    // One frame of silence through the graph.
    for (std::int32_t c = 0; c < static_cast<std::int32_t>(m_feeds.size()); ++c)
    {
        CAudioConnection* feed = inputFeed(c);
        if (feed == nullptr)
            continue;
        std::uint32_t ref = 0;
        ZEL_TRY(m_context->takeBuffer(kPrimeSamples * 8u, ref), kOwner);
        m_context->data(ref)[0] = 0.0;
        CErrorPtr err = feed->push(ref, 0, 1);
        (void)m_context->releaseReference(ref);
        ZEL_TRY(std::move(err), kOwner);
    }
    ZEL_TRY(m_output->render(m_main, 1, m_nullOutputs.data(), 0), kOwner);
    m_env->setStreamTime(m_env->streamTime() + 1.0 / m_env->sampleRate());
    if (m_env->latency() != latencyBefore)
        latencyChanged();
    return nullptr;
}

// ---- Audio ----

double CAudioWrapper::streamTime() const
{
    return m_env != nullptr ? m_env->streamTime() : 0.0;
}

void CAudioWrapper::guardInput(const float* from, double* to, std::int32_t n)
{
    guardSamples(from, to, n);
}

void CAudioWrapper::guardInput(const double* from, double* to, std::int32_t n)
{
    guardSamples(from, to, n);
}

CErrorPtr CAudioWrapper::runPiece(const void* const* inputs, bool input64, std::int32_t offset,
                                  std::int32_t n, void* const* outputs)
{
    const auto bytes = static_cast<std::uint32_t>(n) * 8u;
    for (std::int32_t c = 0; c < static_cast<std::int32_t>(m_feeds.size()); ++c)
    {
        CAudioConnection* feed = inputFeed(c);
        if (feed == nullptr)
            continue;
        std::uint32_t ref = 0;
        ZEL_TRY(m_context->takeBuffer(bytes, ref), kOwner);
        double* data = m_context->data(ref);
        const void* source = inputs != nullptr ? inputs[c] : nullptr;
        if (source == nullptr)
            std::fill(data, data + n, 0.0);
        else if (input64)
            guardSamples(static_cast<const double*>(source) + offset, data, n);
        else
            guardSamples(static_cast<const float*>(source) + offset, data, n);
        CErrorPtr err = feed->push(ref, 0, n);
        (void)m_context->releaseReference(ref);
        ZEL_TRY(std::move(err), kOwner);
    }
    ZEL_TRY(
        m_output->render(m_main, n, outputs != nullptr ? outputs : m_nullOutputs.data(), offset),
        kOwner);
    if (m_output->takeNonFinite())
    {
        // Something inside the graph made a NaN or an infinity from finite input. The host
        // hears silence for this piece, and every kernel state that holds a non-finite value
        // restarts from rest, so the next piece is sound again.
        m_output->writeSilence(outputs, n, offset);
        (void)m_context->clearNonFinite();
        m_nonFiniteRecoveries.fetch_add(1, std::memory_order_relaxed);
    }
    return nullptr;
}

CErrorPtr CAudioWrapper::process(const void* const* inputs, void* const* outputs,
                                 std::int32_t frames, bool input64, bool output64)
{
    CCriticalSectionLock guard(m_env->graphLock());
    const std::int32_t latencyBefore = m_env->latency();
    m_viz->beginBlock();
    (void)m_collector->takeIn(m_env->streamTime() + m_stampOffset);
    m_stampOffset = 0.0;
    m_output->setOutputFormat(output64, false, m_outputCount);
    for (std::int32_t at = 0; at < frames; at += kMaxPiece)
        ZEL_TRY(runPiece(inputs, input64, at, std::min(kMaxPiece, frames - at), outputs), kOwner);
    if (frames > 0)
        m_env->setStreamTime(m_env->streamTime() +
                             static_cast<double>(frames) / m_env->sampleRate());
    if (m_env->latency() != latencyBefore)
        latencyChanged();
    return nullptr;
}

// ---- State ----

CErrorPtr CAudioWrapper::getState(std::vector<std::uint8_t>& out, bool programOnly,
                                  bool hostFraming)
{
    CMemoryWriteBuffer plain(2048);
    if (programOnly)
        ZEL_TRY(m_registry->acquirePreset(false, -1, -1, plain), kOwner);
    else
        ZEL_TRY(m_registry->acquireBank(false, plain), kOwner);
    const std::vector<std::uint8_t> bytes = plain.toVector();
    CMemoryWriteBuffer framed;
    if (hostFraming)
        for (int i = 0; i < 4; ++i)
            ZEL_TRY(framed.writeInt(0), kOwner);
    ZEL_TRY(
        framed.writeCompressedData(programOnly ? kPresetTag : kBankTag, bytes.data(), bytes.size()),
        kOwner);
    out = framed.toVector();
    return nullptr;
}

CErrorPtr CAudioWrapper::setState(const std::uint8_t* data, std::size_t size, bool programOnly,
                                  bool hostFraming)
{
    if (hostFraming)
    {
        if (size <= kHostFrameSize)
            return nullptr;
        data += kHostFrameSize;
        size -= kHostFrameSize;
    }
    if (data == nullptr)
        return ZEL_ERROR(kOwner, "zelstr_CAudioWrapper_setState_NoData", "No state data.");
    // The whole block is read (nothing may follow the record) before the registry changes.
    CMemoryReader reader(data, size);
    if (programOnly)
    {
        CAudioPreset preset;
        ZEL_TRY(preset.loadBlock(reader), kOwner);
        ZEL_TRY(m_registry->activatePreset(preset), kOwner);
    }
    else
    {
        CAudioPresetBank bank;
        ZEL_TRY(bank.loadBlock(reader), kOwner);
        ZEL_TRY(m_registry->activateBank(std::move(bank)), kOwner);
    }
    return nullptr;
}

void CAudioWrapper::midiEvent(std::int32_t kind, std::int32_t channel, std::int32_t data1,
                              std::int32_t data2, double time)
{
    (void)kind;
    (void)channel;
    (void)data1;
    (void)data2;
    (void)time;
}

// ---- Host-visible parameters ----

CAudioExtParam* CAudioWrapper::hostParamAt(std::int32_t index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_hostParams.size())
        return nullptr;
    return m_hostParams[static_cast<std::size_t>(index)];
}

std::int32_t CAudioWrapper::hostParamCount() const
{
    return static_cast<std::int32_t>(m_hostParams.size());
}

void CAudioWrapper::setHostParam(std::int32_t index, double normalised)
{
    if (CAudioExtParam* param = hostParamAt(index))
        param->setFromHost(normalised);
}

double CAudioWrapper::hostParam(std::int32_t index) const
{
    const CAudioExtParam* param = hostParamAt(index);
    return param != nullptr ? param->normalised() : 0.0;
}

CText CAudioWrapper::hostParamName(std::int32_t index) const
{
    const CAudioExtParam* param = hostParamAt(index);
    return param != nullptr ? param->extName() : CText();
}

CText CAudioWrapper::hostParamLabel(std::int32_t index) const
{
    const CAudioExtParam* param = hostParamAt(index);
    return param != nullptr ? param->label() : CText();
}

CText CAudioWrapper::hostParamDisplay(std::int32_t index) const
{
    const CAudioExtParam* param = hostParamAt(index);
    return param != nullptr ? param->display() : CText();
}

CText CAudioWrapper::hostParamDisplayFor(std::int32_t index, double normalised) const
{
    const CAudioExtParam* param = hostParamAt(index);
    return param != nullptr ? param->displayFor(normalised) : CText();
}

double CAudioWrapper::hostParamFromText(std::int32_t index, const CText& text) const
{
    const CAudioExtParam* param = hostParamAt(index);
    return param != nullptr ? param->fromText(text) : 0.5;
}

std::int32_t CAudioWrapper::hostIndexOf(const CAudioParam& param, std::int32_t key) const
{
    const auto it = m_hostMap.find(CHostKey{&param, key});
    return it != m_hostMap.end() ? it->second : -1;
}

void CAudioWrapper::beginEditFor(const CAudioParam& param, std::int32_t key)
{
    const std::int32_t index = hostIndexOf(param, key);
    if (index >= 0)
        beginEdit(index);
}

void CAudioWrapper::endEditFor(const CAudioParam& param, std::int32_t key)
{
    const std::int32_t index = hostIndexOf(param, key);
    if (index >= 0)
        endEdit(index);
}

// ---- Programs ----

std::int32_t CAudioWrapper::programCount() const
{
    return m_registry->programCount();
}

std::int32_t CAudioWrapper::currentProgram() const
{
    return m_registry->currentProgram();
}

CErrorPtr CAudioWrapper::setProgram(std::int32_t index)
{
    ZEL_TRY(m_registry->selectProgram(index), kOwner);
    return nullptr;
}

CText CAudioWrapper::programFullName(std::int32_t index) const
{
    return m_registry->programName(index);
}

CText CAudioWrapper::programPrefix() const
{
    return m_registry->id();
}

CErrorPtr CAudioWrapper::renameCurrentProgram(const CText& fullName)
{
    CCriticalSectionLock guard(m_registry->registryLock());
    ZEL_TRY(m_registry->renameProgram(m_registry->currentProgram(),
                                      CAudioParamRegistry::visibleNameOf(fullName)),
            kOwner);
    return nullptr;
}

// ---- Identity and settings ----

CText CAudioWrapper::pluginCategoryName() const
{
    if (m_plugin != nullptr)
    {
        const CText own = m_plugin->inheritedAttribute(CText("plugin-category-vst"));
        if (!own.empty())
            return own;
    }
    return m_project != nullptr ? m_project->attribute("plugin-category-vst") : CText();
}

std::int32_t CAudioWrapper::windowWidth() const
{
    CCriticalSectionLock guard(m_lock);
    return m_windowWidth;
}

std::int32_t CAudioWrapper::windowHeight() const
{
    CCriticalSectionLock guard(m_lock);
    return m_windowHeight;
}

void CAudioWrapper::setWindowSize(std::int32_t width, std::int32_t height)
{
    CCriticalSectionLock guard(m_lock);
    m_windowWidth = width;
    m_windowHeight = height;
}

void CAudioWrapper::setInputChannelNames(std::vector<CText> names)
{
    CCriticalSectionLock guard(m_lock);
    m_inputNames = std::move(names);
}

std::vector<CText> CAudioWrapper::inputChannelNames() const
{
    CCriticalSectionLock guard(m_lock);
    return m_inputNames;
}

// ---- Objects ----

CObject& CAudioWrapper::plugin() const
{
    return *m_plugin;
}
CAudioEnv& CAudioWrapper::env() const
{
    return *m_env;
}
CAudioParamRegistry& CAudioWrapper::registry() const
{
    return *m_registry;
}
CModOutput& CAudioWrapper::output() const
{
    return *m_output;
}
CAudioProcessBase& CAudioWrapper::main() const
{
    return *m_main;
}
CDCDAWContextObject& CAudioWrapper::context() const
{
    return *m_context;
}
CAudioParamCollector& CAudioWrapper::collector() const
{
    return *m_collector;
}
CAudioVizCollector& CAudioWrapper::vizCollector() const
{
    return *m_viz;
}
CAudioInterfaceBase& CAudioWrapper::interfaceBase() const
{
    return *m_interfaceBase;
}
CAudioExtParamList& CAudioWrapper::extParamList() const
{
    return *m_extList;
}
CAudioCCTable& CAudioWrapper::ccTable() const
{
    return *m_ccTable;
}

} // namespace zel
