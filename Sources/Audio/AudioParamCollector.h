#pragma once
// CAudioParamCollector ("audio:param-collector"): the instance-wide index of the live audio
// parameters by full path ("plugin.modMain.modKelvatrone.rms"), each with a stable int32 id,
// and the road of their changes to the audio side.
//
// The collector listens to every parameter it indexes. A change notification (any thread)
// posts a change entry holding the group's current values; an explicit post does the same for
// an element range. Posting happens under the collector's lock and merges into the latest
// pending entry of the same parameter and group when that entry accepts the change (see
// CAudioParamChange::accepts: same group and same element range), so a knob turned a hundred
// times between two audio blocks yields one entry with the latest values.
//
// Once per audio block the audio thread calls takeIn(streamTime): every pending entry is
// stamped with the block's stream time and handed to each sink bound to its parameter id and
// to each sink bound to the wildcard id 9999; then the collector drops its own reference.
// takeIn never waits: when another thread holds the lock it returns at once and the entries
// stay pending for the next block. It allocates nothing; nor does posting once the entry pool
// and the value buffers have grown to the working size.
//
// The collector does not own the parameters. A parameter that is destroyed leaves the index
// by itself (it tells its listeners); a collector that is destroyed stops listening to every
// parameter it still indexes. Binding sinks may allocate and belongs to build time.
//
// Attribute "env": path of the audio environment object; kept as a path and resolved on
// demand, its absence is no error.

#include "Audio/AudioParam.h"
#include "Audio/AudioParamChange.h"
#include "Core/Object.h"
#include "Core/Target.h"
#include "Platform/CriticalSection.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace zel
{

class CAudioParamCollector : public CObject, public CAudioParamListener
{
public:
    static constexpr std::int32_t kAllParams = CAudioParamChange::kAllParams;

    CAudioParamCollector();
    ~CAudioParamCollector() override;

    // Registers the attribute "env".
    static void registerClass(CClassInfo& info);
    CErrorPtr onEnv(const CText& value);
    const CText& envPath() const { return m_envPath; }
    // The environment object named by "env"; null while absent or unresolved.
    CObject* env();

    // ---- Index ----
    // Registers a live parameter under its full path and starts listening to it. The id is
    // stable: a path keeps the id it first received for the collector's lifetime; ids are
    // never 9999. A path already registered, or a parameter registered under another path, is
    // an error.
    CErrorPtr addParam(const CText& fullPath, CAudioParam& param, std::int32_t* id = nullptr);
    // Stops listening and drops the parameter's pending entries. Unknown paths are ignored.
    void removeParam(const CText& fullPath);
    CAudioParam* findParam(const CText& fullPath) const;
    // -1 when unknown.
    std::int32_t paramId(const CText& fullPath) const;
    // Ascending path order. Runs under the collector's lock (fn may change parameters).
    void forEachParam(const std::function<void(const CText& fullPath, CAudioParam&)>& fn) const;
    // Changes whenever a parameter is added or removed.
    std::uint32_t generation() const { return m_generation.load(std::memory_order_acquire); }

    // ---- Posting ----
    // Posts the values of elementCount elements from elementIndex of group (elementCount -1:
    // every element from elementIndex; elementIndex 0 with -1 is the whole group, the shape
    // the change notifications use). The parameter must be registered and the range must lie
    // in the group.
    CErrorPtr post(CAudioParam& param, std::int32_t group, std::int32_t elementIndex = 0,
                   std::int32_t elementCount = -1);
    // Posts a change of all parameters at once (id 9999, no parameter, no values); it reaches
    // every bound sink once. Pending wildcard entries merge.
    void postAll();

    // ---- Sinks ----
    // Binds sink to a parameter id, or to 9999 for every entry. Binding twice is one binding.
    void bindSink(std::int32_t paramId, CAudioParamChangeSink& sink);
    void unbindSink(std::int32_t paramId, CAudioParamChangeSink& sink);
    // Removes every binding of sink.
    void unbindSink(CAudioParamChangeSink& sink);

    // ---- Audio side ----
    // Hands the pending entries to their sinks, stamped with streamTime (seconds). Returns false
    // without waiting when another thread holds the lock; the entries then stay pending.
    bool takeIn(double streamTime);

    // ---- Inspection ----
    CCriticalSection& lock() const { return m_lock; }
    std::size_t pendingCount() const;
    std::size_t poolSize() const;
    std::size_t freeEntryCount() const;

    // CAudioParamListener
    void onAudioParamChanged(CAudioParam& param, std::int32_t group, std::int32_t origin) override;
    void onAudioParamDestroyed(CAudioParam& param) override;

private:
    struct CSlot
    {
        std::int32_t id = -1;
        CAudioParam* param = nullptr;
    };

    CErrorPtr postLocked(const char* method, CAudioParam& param, std::int32_t group,
                         std::int32_t elementIndex, std::int32_t elementCount);
    void appendPending(CAudioParamChange& entry);
    void dropPendingOf(const CAudioParam* param);
    void deliver(CAudioParamChange& entry);
    void removeLocked(std::map<CText, CSlot>::iterator it, bool stopListening);

    mutable CCriticalSection m_lock;
    CText m_envPath;
    CTarget<CObject> m_env;

    std::map<CText, CSlot> m_byPath;
    std::map<const CAudioParam*, std::map<CText, CSlot>::iterator> m_byParam;
    std::map<CText, std::int32_t> m_idsGiven;
    std::int32_t m_nextId = 1;
    std::atomic<std::uint32_t> m_generation{0};

    CAudioParamChangePool* m_pool;
    CAudioParamChange* m_pendingHead = nullptr;
    CAudioParamChange* m_pendingTail = nullptr;

    std::map<std::int32_t, std::vector<CAudioParamChangeSink*>> m_sinksById;
    // Every bound sink once, for wildcard entries.
    std::vector<CAudioParamChangeSink*> m_allSinks;
};

} // namespace zel
