#pragma once
// CAudioWrapper: the host-independent core of one plug-in instance. It builds the instance's
// object tree from the "plugin" template of the shared description, resolves the objects the
// host boundary talks to, reads the project attributes (name, vendor, version, plug-in code,
// channel and group counts), keeps the host-visible parameter list and its map back to the
// internal parameters, turns host facts (sample rate, offline rendering, tempo, recording,
// latency) into parameter values, activates and deactivates the process graph, feeds it host
// blocks in pieces of at most 512 frames, saves and restores the state, binds five parameters
// to settings shared through the application data and follows the editor window size.
//
// It knows no host interface: a host boundary derives from it and implements the pure virtual
// operations (automation, display refresh, edit gestures) and, when it has an editor,
// resizeEditor. The virtual operations keep this slot order after the destructor:
// hostParamChanged, init, updateDisplay, beginEdit, endEdit, resizeEditor.
//
// Locks: the graph lock of the audio environment guards the sample rate, block length,
// latency, active flag and the channel counts; the wrapper's own lock (spin count 4000) guards
// the input channel names; programs are read and changed under the registry's lock. Host
// notifications are made after every parameter and registry lock is released.
//
// This class is not the VST effect and not the editor host.

#include "Audio/AudioExtParam.h"
#include "Core/Application.h"
#include "Core/Error.h"
#include "Core/Object.h"
#include "Core/Text.h"
#include "Platform/CriticalSection.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace zel
{

class CAudioCCTable;
class CAudioConnection;
class CAudioEnv;
class CAudioInterfaceBase;
class CAudioParam;
class CAudioParamCollector;
class CAudioParamRegistry;
class CAudioProcessBase;
class CAudioProcessDefBase;
class CAudioVizCollector;
class CDCDAWContextObject;
class CModOutput;
struct CAudioProcessSetup;

// CAudioExtParamHostBridge (AudioExtParam.h) is the base that receives host-visible
// parameter changes.

class CAudioWrapper : public CAudioExtParamHostBridge
{
public:
    static constexpr std::int32_t kMaxPiece = 512;
    static constexpr std::int32_t kMaxIntChannels = 32;
    static constexpr std::int32_t kMaxGroups = 8;
    // The sample rates the graph runs at; a host's rate outside is clamped to them.
    static constexpr double kMinSampleRate = 8000.0;
    static constexpr double kMaxSampleRate = 384000.0;
    // Bytes of host framing in front of a state block.
    static constexpr std::size_t kHostFrameSize = 16;
    // Input samples are held to +-kMaxInputMagnitude (+120 dBFS) on their way into the
    // graph: far above any real signal, and low enough that squares and sums of band levels
    // stay finite. NaN and infinities enter as 0, subnormal values as 0.
    static constexpr double kMaxInputMagnitude = 1e6;

    class CGlobalParam;
    class CProgramChangeBridge;
    class CWinSizeParamListener;

    CAudioWrapper();
    ~CAudioWrapper() override;
    CAudioWrapper(const CAudioWrapper&) = delete;
    CAudioWrapper& operator=(const CAudioWrapper&) = delete;

    // ---- Virtual operations (slot order fixed) ----
    // Builds the instance (see the class comment); an error leaves the wrapper to be
    // destroyed.
    virtual CErrorPtr init();
    virtual void updateDisplay() = 0;
    virtual void beginEdit(std::int32_t hostIndex) = 0;
    virtual void endEdit(std::int32_t hostIndex) = 0;
    // Asks the host for a new editor size; 0 in the base (no editor).
    virtual std::int32_t resizeEditor(std::int32_t width, std::int32_t height);

    // Registers with the editor link, follows program changes, starts the collector, warms
    // the graph up (resume then suspend) and enables host reporting.
    CErrorPtr postInit();

    // ---- Host facts ----
    // Refused when not a positive number, else clamped to kMinSampleRate..kMaxSampleRate.
    // Ignored when equal to the current rate; else stored under the graph lock and announced
    // to the editor clients. Takes effect at the next resume. Given before init (as is the
    // maximum block length), the graph is built with it.
    void setSampleRate(double rate);
    double sampleRate() const;
    // The host's block size, held to 1..kMaxPiece (a size of 0 or less gives kMaxPiece).
    void setMaxBlockLength(std::int32_t frames);
    // Stores the flag ("plugin.modMain.host-offline") and recomputes the oversampling mode.
    void setOffline(bool offline);
    bool isOffline() const { return m_offline; }
    bool usesHostTempo() const { return m_useHostTempo; }
    bool usesHostRecording() const { return m_useHostRecording; }
    void setHostTempo(double bpm);
    void setHostRecording(bool recording);
    // Latency notification pending, not reported, "host-latency-change" 1.
    void latencyChanged();
    // Once after a change: notification cleared, reported, "host-latency-change" 0.
    void latencyReported();
    // True once when a notification is pending; clears it.
    bool takeLatencyNotification();
    // The environment's latency in samples.
    std::int32_t latency() const;
    // The current oversampling mode given to "plugin.modMain.host-oversampling-mode".
    std::int32_t oversamplingMode() const { return m_oversamplingMode; }
    std::int32_t offlineOversamplingLevel() const { return m_offlineOversamplingLevel; }

    // ---- Activation ----
    CErrorPtr resume();
    CErrorPtr suspend();

    // ---- Channel configuration (under the graph lock; marks the configuration changed
    // when a count changes) ----
    std::int32_t internalChannelCount() const;
    void setInternalChannelCount(std::int32_t n);
    std::int32_t groupCount() const { return m_groupCount; }
    std::int32_t inputCount() const;
    std::int32_t outputCount() const;
    std::int32_t sideChainCount() const;
    void setChannelCounts(std::int32_t inputs, std::int32_t outputs, std::int32_t sideChains);

    // ---- Audio ----
    // One host block, under the graph lock: all channel pointers 64-bit or all 32-bit per
    // direction (null arrays: silence in, nothing written out). Remembers the
    // latency, starts a visualisation block, takes in the queued parameter changes at the
    // stream time, runs pieces of <= 512 frames (a pool buffer per main input channel, a null
    // pointer is silence; the output stage writes at the piece offset), advances the stream
    // time by frames / rate and calls latencyChanged() when the latency moved. Input samples
    // are guarded on the way in (kMaxInputMagnitude); a piece whose output held a NaN or an
    // infinity is written as silence and the kernel pool is cleared of non-finite values.
    CErrorPtr process(const void* const* inputs, void* const* outputs, std::int32_t frames,
                      bool input64, bool output64);
    // Offset in seconds added to the stamp of the changes taken in before the next piece
    // (sample-accurate automation inside a block); cleared once used.
    void stampNextChangesAt(double seconds) { m_stampOffset = seconds; }
    double streamTime() const;
    // Pieces whose output held a NaN or an infinity (written as silence, after which the kernel
    // states were cleared of non-finite values) since the instance was built.
    std::uint64_t nonFiniteRecoveries() const
    {
        return m_nonFiniteRecoveries.load(std::memory_order_relaxed);
    }

    // ---- State ----
    // The current program ("aprs") or the bank ("abnk") as one tagged compressed block; with
    // host framing 16 zero bytes come first. out is replaced.
    CErrorPtr getState(std::vector<std::uint8_t>& out, bool programOnly, bool hostFraming);
    // The reverse; with host framing a size of 16 or less is accepted and ignored.
    CErrorPtr setState(const std::uint8_t* data, std::size_t size, bool programOnly,
                       bool hostFraming);
    // MIDI hook: does nothing in this product.
    void midiEvent(std::int32_t kind, std::int32_t channel, std::int32_t data1, std::int32_t data2,
                   double time);

    // ---- Host-visible parameters (index outside the list: ignored / 0.0 / empty / 0.5) ----
    std::int32_t hostParamCount() const;
    void setHostParam(std::int32_t index, double normalised);
    double hostParam(std::int32_t index) const;
    CText hostParamName(std::int32_t index) const; // "ext-name"
    CText hostParamLabel(std::int32_t index) const;
    CText hostParamDisplay(std::int32_t index) const;
    CText hostParamDisplayFor(std::int32_t index, double normalised) const;
    double hostParamFromText(std::int32_t index, const CText& text) const;
    // The host index of (parameter, (element index << 8) | group), or -1.
    std::int32_t hostIndexOf(const CAudioParam& param, std::int32_t key) const;
    // Edit gestures requested by the editor link: beginEdit/endEdit with the host index when
    // (parameter, key) is host-visible, else nothing.
    void beginEditFor(const CAudioParam& param, std::int32_t key);
    void endEditFor(const CAudioParam& param, std::int32_t key);

    // ---- Programs (registry, under its lock) ----
    std::int32_t programCount() const;
    std::int32_t currentProgram() const;
    CErrorPtr setProgram(std::int32_t index);
    CText programFullName(std::int32_t index) const; // "q3k8:Default"
    CText programPrefix() const;                     // the registry's id
    CErrorPtr renameCurrentProgram(const CText& fullName);

    // ---- Identity and settings read by init ----
    std::uint32_t pluginCode() const { return m_pluginCode; }
    CText appName() const { return m_appName; }
    CText vendorName() const { return m_vendorName; }
    std::int32_t versionMajor() const { return m_versionMajor; }
    std::int32_t versionMinor() const { return m_versionMinor; }
    std::int32_t versionPatch() const { return m_versionPatch; }
    // (major << 16) | (minor << 8) | patch.
    std::int32_t vendorVersion() const;
    bool forceTwoChannels() const { return m_forceTwoChannels; }
    bool hasSideChain() const { return m_hasSideChain; }
    bool isVizAlwaysActive() const { return m_vizAlwaysActive; }
    CText pluginCategoryName() const; // "plugin-category-vst" of "plugin"
    std::int32_t windowWidth() const;
    std::int32_t windowHeight() const;
    bool isReportingToHost() const { return m_reportToHost; }
    void setInputChannelNames(std::vector<CText> names);
    std::vector<CText> inputChannelNames() const;

    // The user-interface scale factor (library-wide, owned by the editor; 1.0 until set).
    static double uiScale();
    static void setUiScale(double scale);

    // ---- Pure helpers of init, exposed for tests ----
    // Four characters packed big-endian; false unless exactly four.
    static bool parsePluginCode(const CText& text, std::uint32_t& code);
    // "a.b" or "a.b.c"; a part that does not parse is -1; false for another part count.
    static bool parseVersion(const CText& text, std::int32_t& major, std::int32_t& minor,
                             std::int32_t& patch);
    // Integer text: optional "-", decimal, or hexadecimal after "0x", "#" or "$".
    static bool parseInteger(const CText& text, std::int64_t& value);
    // The offline oversampling mode for a level at a sample rate (0..3).
    static std::int32_t offlineOversamplingMode(std::int32_t level, double sampleRate);
    // The input guard of process(): n host samples as the graph takes them (NaN and
    // infinities as 0, magnitudes held to kMaxInputMagnitude, subnormal values as 0).
    static void guardInput(const float* from, double* to, std::int32_t n);
    static void guardInput(const double* from, double* to, std::int32_t n);

    // ---- Objects, for the host boundary and tests ----
    CObject& plugin() const;
    CAudioEnv& env() const;
    CAudioParamRegistry& registry() const;
    CModOutput& output() const;
    CAudioProcessBase& main() const;
    CDCDAWContextObject& context() const;
    CAudioParamCollector& collector() const;
    CAudioVizCollector& vizCollector() const;
    CAudioInterfaceBase& interfaceBase() const;
    CAudioExtParamList& extParamList() const;
    CAudioCCTable& ccTable() const;
    CCriticalSection& wrapperLock() const { return m_lock; }
    // The graph's input connection of a main input channel (null past the input count).
    CAudioConnection* inputFeed(std::int32_t channel) const;

protected:
    // Harnesses that run the graph with fewer channels than the description's internal
    // channel count set it before init (0: use "plugin-intchannel-count").
    void setInitChannelCount(std::int32_t channels) { m_initChannelCount = channels; }

private:
    struct CHostKey
    {
        const CAudioParam* param;
        std::int32_t key;
        bool operator<(const CHostKey& other) const;
    };

    CErrorPtr initObjects();
    CErrorPtr initProject(const CObject& project);
    CErrorPtr initProcesses();
    void initWindowSize();
    void initGlobalParams();
    void initHostParamMap();
    void readGlobalSettings();
    // Reconfiguration, visualisation block start, collector take-in, one frame of silence.
    CErrorPtr reconfigureAndPrime();
    CErrorPtr rebuildInputFeeds();
    CErrorPtr runPiece(const void* const* inputs, bool input64, std::int32_t offset, std::int32_t n,
                       void* const* outputs);
    void updateOversamplingMode();
    // An ordinary parameter change stamped with the stream time (element 0 of group 0).
    void setFixedParam(CAudioParam* param, double value);
    CAudioExtParam* hostParamAt(std::int32_t index) const;
    void setWindowSize(std::int32_t width, std::int32_t height);
    void releaseAll();

    mutable CCriticalSection m_lock{4000};

    // Objects.
    TObjectPtr<CRootObject> m_root;
    CObject* m_plugin = nullptr;
    const CObject* m_project = nullptr;
    CDCDAWContextObject* m_context = nullptr;
    CAudioEnv* m_env = nullptr;
    CAudioParamCollector* m_collector = nullptr;
    CAudioVizCollector* m_viz = nullptr;
    CAudioInterfaceBase* m_interfaceBase = nullptr;
    CAudioExtParamList* m_extList = nullptr;
    CAudioCCTable* m_ccTable = nullptr;
    CAudioParamRegistry* m_registry = nullptr;
    const CAudioProcessDefBase* m_mainDef = nullptr;
    const CAudioProcessDefBase* m_outputDef = nullptr;
    CAudioProcessBase* m_main = nullptr;
    CModOutput* m_output = nullptr;
    std::shared_ptr<CAudioProcessSetup> m_setup;
    std::vector<CAudioExtParam*> m_hostParams;
    std::map<CHostKey, std::int32_t> m_hostMap;
    std::vector<CAudioConnection*> m_feeds;
    std::vector<void*> m_nullOutputs;

    // Fixed parameter handles.
    CAudioParam* m_paramOversamplingMode = nullptr;
    CAudioParam* m_paramOffline = nullptr;
    CAudioParam* m_paramLatencyChange = nullptr;
    CAudioParam* m_paramBypass = nullptr;
    CAudioParam* m_paramBpm = nullptr;
    CAudioParam* m_paramRec = nullptr;
    CAudioParam* m_paramWindowSize = nullptr;

    std::vector<TObjectPtr<CGlobalParam>> m_globalParams;
    std::unique_ptr<CWinSizeParamListener> m_winSizeListener;
    std::unique_ptr<CProgramChangeBridge> m_programBridge;

    // Scalars.
    std::uint32_t m_pluginCode = 0;
    std::int32_t m_initChannelCount = 0;
    double m_initSampleRate = 0.0;
    std::int32_t m_initMaxBlockLength = 0;
    std::int32_t m_intChannelCount = 8;
    std::int32_t m_groupCount = 8;
    std::int32_t m_versionMajor = 0;
    std::int32_t m_versionMinor = 0;
    std::int32_t m_versionPatch = 0;
    CText m_appName;
    CText m_vendorName;
    bool m_hasSideChain = false;
    bool m_vizAlwaysActive = true;
    bool m_useHostTempo = false;
    double m_lastTempo = -1.0;
    bool m_useHostRecording = false;
    bool m_lastRecording = false;
    std::int32_t m_rtOversampling = 1;
    std::int32_t m_offlineOversamplingLevel = 1;
    std::int32_t m_oversamplingMode = 0;
    bool m_offline = false;
    bool m_forceTwoChannels = false;
    std::int32_t m_windowWidth = 0;
    std::int32_t m_windowHeight = 0;
    bool m_useWindowResizing = true;
    bool m_reportToHost = false;
    std::atomic<bool> m_latencyPending{true};
    std::atomic<bool> m_latencyReported{false};
    bool m_sampleRateChanged = false;
    std::int32_t m_inputCount = 0;
    std::int32_t m_outputCount = 0;
    std::int32_t m_sideChainCount = 0;
    bool m_configChanged = true;
    std::vector<CText> m_inputNames;
    double m_stampOffset = 0.0;
    std::atomic<std::uint64_t> m_nonFiniteRecoveries{0};
};

} // namespace zel
