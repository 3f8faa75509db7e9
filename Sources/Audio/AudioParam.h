#pragma once
// CAudioParam: the run-time instance of an audio parameter definition. It holds the current
// values of every channel group (a list of elements per group, element-size values each), the
// data items that string and raw values name, a second storage that a loader fills before
// swapping it in, and the listeners to notify of changes.
//
// Values are addressed by (group, element index, value index within the element). A
// single-group parameter keeps one group and maps every group index to it. Writes clamp to the
// element's range; normalised values and texts go through the element's converter.
//
// Every operation takes the parameter's own lock (a re-entrant critical section); listeners are
// called after it is released, on the thread that made the change. This class is not an object
// of the description tree and does not know the registry or the undo history: those register
// as listeners.

#include "Audio/AudioParamData.h"
#include "Audio/AudioParamInfo.h"
#include "Audio/AudioParamStorage.h"
#include "Platform/CriticalSection.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace zel
{

class CAudioParam;
class CInputStream;
class COutputStream;

class CAudioParamListener
{
public:
    virtual ~CAudioParamListener() = default;
    // A value of group changed (after the parameter's lock was released); origin is the code
    // the caller of the change passed (0 when it gave none).
    virtual void onAudioParamChanged(CAudioParam& param, std::int32_t group,
                                     std::int32_t origin) = 0;
    // The parameter is being destroyed; the listener must forget it. Only listeners added with
    // watchDestruction are told.
    virtual void onAudioParamDestroyed(CAudioParam& param) { (void)param; }
};

// One change operation and its deferred notifications. A change of a parameter (one setValue,
// one setElements, one record loaded, ...) is an operation; a caller that makes several changes
// that belong together (a preset applied, an undo step, an automation burst) opens a scope
// around them and the nested operations join it. Listeners that must not be called back while
// the change is in progress (the host's automation) post a notification instead: a notification
// for the same (target, index) as one already posted in the operation replaces that one's
// value and keeps its place. When the outermost scope of the thread ends (after every lock the
// operation took is released, because the scope is opened before them), the notifications are
// delivered in the order they were first posted. The list is per thread; posting allocates
// nothing while at most kInlineNotifications are pending.
class CAudioParamChangeScope
{
public:
    using CDeliverFn = void (*)(void* target, std::int32_t index, double value);
    static constexpr std::size_t kInlineNotifications = 64;

    CAudioParamChangeScope();
    ~CAudioParamChangeScope();
    CAudioParamChangeScope(const CAudioParamChangeScope&) = delete;
    CAudioParamChangeScope& operator=(const CAudioParamChangeScope&) = delete;

    // Posts a notification into the calling thread's current operation; outside any scope it
    // is delivered at once.
    static void post(void* target, std::int32_t index, double value, CDeliverFn deliver);
    // Drops the pending notifications of target (it is going away).
    static void forget(const void* target);
    // Depth of nested scopes on the calling thread.
    static std::int32_t depth();
};

class CAudioParam
{
public:
    // groupCount is the number of channel groups of the instance (1 for a single-group
    // parameter whatever is passed). The values start as the definition's defaults.
    CAudioParam(std::shared_ptr<const CAudioParamInfo> info, std::int32_t groupCount);
    // Tells the listeners still registered with watchDestruction that the parameter goes away.
    ~CAudioParam();
    CAudioParam(const CAudioParam&) = delete;
    CAudioParam& operator=(const CAudioParam&) = delete;

    const CAudioParamInfo& info() const { return *m_info; }
    std::int32_t groupCount() const;
    std::int32_t elementCount(std::int32_t group) const;

    // ---- Real values ----
    // 0 when the address names no value.
    double value(std::int32_t group, std::int32_t element, std::int32_t index) const;
    CErrorPtr setValue(std::int32_t group, std::int32_t element, std::int32_t index, double value,
                       std::int32_t origin = 0);
    // A group's whole element list (element-size values per element).
    std::vector<double> elements(std::int32_t group) const;
    // Replaces a group's elements; values are clamped. The count must be a multiple of the
    // element size (exactly one element for a single-element parameter). For string and raw
    // parameters the values are ids in this parameter's data.
    CErrorPtr setElements(std::int32_t group, std::vector<double> values, std::int32_t origin = 0);
    // The same for float parameters, copying values into the group's existing list: once the
    // list has grown to the count, writing the same count again allocates nothing.
    CErrorPtr assignElements(std::int32_t group, std::span<const double> values,
                             std::int32_t origin = 0);
    // Every group back to its default set.
    void resetToDefaults(std::int32_t origin = 0);

    // ---- Through the converter ----
    double normValue(std::int32_t group, std::int32_t element, std::int32_t index) const;
    CErrorPtr setNormValue(std::int32_t group, std::int32_t element, std::int32_t index,
                           double norm, std::int32_t origin = 0);
    CText text(std::int32_t group, std::int32_t element, std::int32_t index,
               std::int32_t mode = 0) const;
    // Parses text with the converter; a text that does not parse leaves the value unchanged
    // and clears *ok (it is not an error).
    CErrorPtr setText(std::int32_t group, std::int32_t element, std::int32_t index,
                      const CText& text, bool* ok = nullptr, std::int32_t origin = 0);

    // ---- String and raw parameters ----
    // The string of an element; empty when its id names no string item.
    CText string(std::int32_t group, std::int32_t element) const;
    // Stores text as a new item and the element's value as its id (the old item is dropped).
    CErrorPtr setString(std::int32_t group, std::int32_t element, const CText& text,
                        std::int32_t origin = 0);
    std::vector<std::uint8_t> rawBlock(std::int32_t group, std::int32_t element) const;
    CErrorPtr setRawBlock(std::int32_t group, std::int32_t element, std::vector<std::uint8_t> bytes,
                          std::int32_t origin = 0);

    // ---- Listeners ----
    // Notifying allocates nothing while at most kInlineListeners listeners are registered.
    static constexpr std::size_t kInlineListeners = 8;
    // With watchDestruction the listener also hears onAudioParamDestroyed (it must then stay
    // alive or remove itself before the parameter goes).
    void addListener(CAudioParamListener* listener, bool watchDestruction = false);
    void removeListener(CAudioParamListener* listener);

    // ---- For the registry and loaders (hold lock() while using these) ----
    CCriticalSection& lock() const { return m_lock; }
    const CAudioParamStorage& storage() const { return m_values; }
    CAudioParamData& data() { return m_data; }
    const CAudioParamData& data() const { return m_data; }
    // The storage a loader fills; commitLoaded() clamps it, swaps it in and notifies.
    CAudioParamStorage& loadStorage() { return m_loading; }
    void commitLoaded(std::int32_t origin = 0);

    // ---- Parameter record: path string, then the storage record ----
    // Writes one group (group >= 0) or all groups (-1) under path (the full parameter path).
    CErrorPtr saveRecord(COutputStream& out, const CText& path, std::int32_t group) const;
    // Reads a parameter record and applies it to one group (group >= 0) or all groups (-1).
    // Target group t takes stored group min(t, G - 1): a record with fewer groups than the
    // parameter gives the groups past its last one that last group (a per-group parameter saved
    // with group count 1 sets every group), and a record of all groups loaded into one group
    // gives that group its own stored values. Values are clamped to the element ranges; stored
    // items are renumbered into this parameter's data. Everything is read before anything is
    // applied: on failure the values are unchanged. path (when given) receives the stored path.
    CErrorPtr loadRecord(CInputStream& in, std::int32_t group, CText* path = nullptr,
                         std::int32_t origin = 0);

private:
    std::size_t storageGroup(std::int32_t group) const;
    // Index of the value in its group's list, or npos.
    std::size_t valueIndex(std::int32_t group, std::int32_t element, std::int32_t index) const;
    CErrorPtr badAddress(const char* method, std::int32_t group, std::int32_t element,
                         std::int32_t index) const;
    CErrorPtr needItems(const char* method, EAudioParamDataType type) const;
    void fillDefaults(std::size_t group);
    void clampGroup(std::vector<double>& values) const;
    void dropItem(double value);
    void notify(std::int32_t group, std::int32_t origin);
    void notifyAll(std::int32_t origin);
    void dropReplacedItems(const std::vector<std::vector<double>>& old,
                           const std::vector<std::vector<double>>& current);

    std::shared_ptr<const CAudioParamInfo> m_info;
    mutable CCriticalSection m_lock;
    CAudioParamStorage m_values;
    CAudioParamStorage m_loading;
    CAudioParamData m_data;
    std::vector<CAudioParamListener*> m_listeners;
    std::vector<CAudioParamListener*> m_destructionWatchers;
};

} // namespace zel
