#pragma once
// CAudioVizCollector ("audio:viz-collector"): the audio-side end of the visualisation data of
// one plug-in instance. Editor views register visualisation listeners (client id, listener id)
// for a source, the object path of a measuring module ("plugin.modMain.modMeterOut"); once per
// block the audio thread collects what the meters published and appends one meter record per
// published result to the pending list of every listener of that source; the editor's poll
// takes a client's lists and receives them as one "viz-data" block. It also publishes the
// export slot names (CAudioVizSlotManager) when the watched name parameters change.
// It is not the editor-side exchange, and it does not send messages itself: the interface base
// calls takeRecords / writeExportSlotNames and plugs its sender into the names callback.
//
// Attributes: "env" (the audio environment, source of the block's stream time),
// "param-collector" (where the parameters below are looked up), "export-slot-param" (path of a
// text parameter holding the export slot names; may be empty). Paths are kept as text and
// resolved by connect(), which the owner calls once the process graph is built (and again
// after a rebuild); it looks up "audio.param-enable-viz" and watches
// "plugin.modMain.io-params.group-names" and "plugin.modMain.instance-name".
//
// Threads and locks. The collector's lock (lock()) guards the listener table and the pending
// lists. The audio thread (beginBlock / collect) only ever tries it: when the editor side
// holds it, that collection is skipped and counted, and the meters' notification flags stay
// raised, so the next block delivers the meters' then-current values (the skipped block's
// values, superseded anyway, are lost). The editor side holds it only to change the table or
// to swap a listener's pending list with its spare one; serialising the swapped-out records
// happens outside it, under a second lock that the audio thread never touches.
//
// Memory. A listener owns two fixed rings of kMaxPendingPerListener meter records, allocated
// when it registers (editor thread). Appending is constant-time and never allocates; a full
// ring keeps the newest records, overwriting the oldest, and counts the dropped ones (reported
// with the next batch). Unlistening frees the rings; reset() empties every ring.
//
// Sources are resolved by path on the editor side (at listen, and again at every take while a
// source is missing or was destroyed by a graph rebuild); a source that does not resolve to a
// meter is no error, its listeners just receive nothing.

#include "Audio/AudioParam.h"
#include "Core/Object.h"
#include "Core/Target.h"
#include "Platform/CriticalSection.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace zel
{

class CAudioEnv;
class CAudioParamCollector;
class CAudioProcessBase;
class CAudioVizDataMeter;
class CInputStream;
class CModMeterSource;
class COutputStream;

// The names of the export slots: the strings of the slot parameter's elements (group 0), each
// prefixed with "<instance name>: " when the instance has a name. Without a slot parameter the
// list is empty. Not thread-safe: the collector guards it.
class CAudioVizSlotManager
{
public:
    void update(const CAudioParam* slotParam, const CText& instanceName);
    const std::vector<CText>& names() const { return m_names; }

    // Slot names block: i32 count, then one string per name.
    static CErrorPtr write(COutputStream& out, const std::vector<CText>& names);
    static CErrorPtr read(CInputStream& in, std::vector<CText>& names);

private:
    std::vector<CText> m_names;
};

class CAudioVizCollector : public CObject
{
public:
    static constexpr std::size_t kMaxPendingPerListener = 256;
    static constexpr const char* kEnableParamPath = "audio.param-enable-viz";
    static constexpr const char* kGroupNamesParamPath = "plugin.modMain.io-params.group-names";
    static constexpr const char* kInstanceNameParamPath = "plugin.modMain.instance-name";

    using CNamesCallback = std::function<void(const std::vector<CText>& names)>;

    // Watches the export slot parameter.
    class CExportSlotParamListener : public CAudioParamListener
    {
    public:
        explicit CExportSlotParamListener(CAudioVizCollector& owner) : m_owner(owner) {}
        void onAudioParamChanged(CAudioParam& param, std::int32_t group,
                                 std::int32_t origin) override;
        void onAudioParamDestroyed(CAudioParam& param) override;

    private:
        CAudioVizCollector& m_owner;
    };
    // Watches the group names and the instance name.
    class CNameParamListener : public CAudioParamListener
    {
    public:
        explicit CNameParamListener(CAudioVizCollector& owner) : m_owner(owner) {}
        void onAudioParamChanged(CAudioParam& param, std::int32_t group,
                                 std::int32_t origin) override;
        void onAudioParamDestroyed(CAudioParam& param) override;

    private:
        CAudioVizCollector& m_owner;
    };

    CAudioVizCollector();
    ~CAudioVizCollector() override;

    static void registerClass(CClassInfo& info);
    const CText& envPath() const { return m_envPath; }
    const CText& paramCollectorPath() const { return m_paramCollectorPath; }
    const CText& exportSlotParamPath() const { return m_exportSlotParamPath; }

    // ---- Build / editor thread ----
    // Resolves "env" and "param-collector", looks up the parameters and (re)attaches the name
    // listeners, then recomputes the slot names. Missing objects and parameters are no error.
    CErrorPtr connect();
    CAudioEnv* env() const { return m_env.get(); }
    CAudioParamCollector* paramCollector() const { return m_paramCollector.get(); }
    CAudioParam* enableParam() const;

    // Registers (or re-registers, replacing the old entry and its records) a listener.
    CErrorPtr listen(std::int32_t client, std::int32_t listener, const CText& source,
                     std::int32_t slot);
    void unlisten(std::int32_t client, std::int32_t listener);
    // Drops every listener of a client (its editor went away).
    void removeClient(std::int32_t client);
    std::size_t listenerCount() const;
    // Source name and slot of a listener; false when it is not registered.
    bool findListener(std::int32_t client, std::int32_t listener, CText& source,
                      std::int32_t& slot) const;

    // Detaches the client's pending lists and writes the "viz-data" block: f64 stream time of
    // the last block, then one entry per listener of the client that has records (listener
    // id, source name, slot, record count, dropped count, records as one byte block).
    CErrorPtr takeRecords(std::int32_t client, COutputStream& out);
    // Drops every pending record (suspend).
    void reset();

    // The active flag answered to "request-viz-active": set by the owner (resume, suspend),
    // and false while "audio.param-enable-viz" exists and is off. While inactive the audio
    // thread collects nothing.
    bool isActive() const;
    void setActive(bool active);

    // Called with the new names whenever they change (on the thread that changed a watched
    // parameter, or in connect()); never under the collector's locks.
    void setExportSlotNamesCallback(CNamesCallback callback);
    std::vector<CText> exportSlotNames() const;
    CErrorPtr writeExportSlotNames(COutputStream& out) const;

    // ---- Audio thread ----
    // Stamps the block with the environment's stream time and collects the published results.
    void beginBlock();
    // Polls the sources' flags and appends a record per published result; never waits.
    void collect();

    // ---- Inspection ----
    CCriticalSection& lock() const { return m_lock; }
    std::size_t pendingCount(std::int32_t client, std::int32_t listener) const;
    std::uint64_t skippedCollections() const { return m_skipped.load(std::memory_order_relaxed); }

private:
    class CPendingRing;
    struct CSource;
    struct CListener;

    CObject* resolveSourceObject(const CText& path) const;
    // Editor thread, collector's lock held: the source entry of path, created when missing.
    CSource& sourceFor(const CText& path);
    // Editor thread: resolves the missing or destroyed sources of the table.
    void refreshSources();
    // Collector's lock held.
    void eraseListenerLocked(std::size_t index);
    CListener* findLocked(std::int32_t client, std::int32_t listener) const;
    void appendRecord(CSource& source, const CAudioVizDataMeter& record);

    void detachParams();
    void namesChanged();
    void paramDestroyed(CAudioParam& param);

    mutable CCriticalSection m_lock;
    // Editor side only: serialises takes and table changes with the use of the spare rings.
    mutable CCriticalSection m_editorLock;
    // Guards the slot names and the watched parameters.
    mutable CCriticalSection m_namesLock;

    CText m_envPath;
    CText m_paramCollectorPath;
    CText m_exportSlotParamPath;
    CTarget<CAudioEnv> m_env;
    CTarget<CAudioParamCollector> m_paramCollector;
    std::atomic<CAudioEnv*> m_envForAudio{nullptr}; // set by connect(), read by beginBlock()

    std::vector<std::unique_ptr<CListener>> m_listeners;
    std::vector<std::unique_ptr<CSource>> m_sources;

    std::atomic<bool> m_active{false};
    std::atomic<double> m_blockTime{0.0};
    std::atomic<std::uint64_t> m_skipped{0};

    CAudioParam* m_enableParam = nullptr;
    CAudioParam* m_slotParam = nullptr;
    CAudioParam* m_groupNamesParam = nullptr;
    CAudioParam* m_instanceNameParam = nullptr;
    CExportSlotParamListener m_slotListener;
    CNameParamListener m_nameListener;
    CAudioVizSlotManager m_slots;
    CNamesCallback m_namesCallback;
};

} // namespace zel
