#pragma once
// CAudioParamChange: one time-stamped change of an audio parameter on its way from the thread
// that made it to the processes on the audio thread. It carries the parameter id, the
// parameter, the group, the element range it covers and the new values of that range (element
// size values per element; for string and raw parameters the values are the item ids in the
// parameter's data), and the stream time in seconds of the audio block that took it in.
//
// Entries are reference-counted (atomically: a sink may release on the audio thread while the
// editor posts) and come from a CAudioParamChangePool. When the last holder releases an entry
// it goes back to its pool with its value capacity kept, so the steady state allocates nothing.
// An entry is not a value type: it is never copied, only handed around by reference.
//
// CAudioParamChangeSink is what a process's change queue implements to receive entries.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zel
{

class CAudioParam;
class CAudioParamChangePool;

class CAudioParamChange
{
public:
    // The parameter id that stands for every parameter (in an entry: a change of all parameters
    // at once; in a sink binding: every entry).
    static constexpr std::int32_t kAllParams = 9999;

    CAudioParamChange(const CAudioParamChange&) = delete;
    CAudioParamChange& operator=(const CAudioParamChange&) = delete;

    std::int32_t paramId() const { return m_paramId; }
    // Null for a change of all parameters.
    CAudioParam* param() const { return m_param; }
    std::int32_t group() const { return m_group; }
    // The first element carried and the number of elements carried.
    std::int32_t elementIndex() const { return m_elementIndex; }
    std::int32_t elementCount() const { return m_elementCount; }
    // True when the entry stands for the whole group (whatever its element count becomes).
    bool isWholeGroup() const { return m_wholeGroup; }
    const std::vector<double>& values() const { return m_values; }
    // Stream time in seconds of the block that took the entry in (0 while pending).
    double time() const { return m_time; }

    // ---- Reference count ----
    void addRef() { m_refs.fetch_add(1, std::memory_order_relaxed); }
    // The last release hands the entry back to its pool; the entry must not be used after.
    void release();
    std::int32_t refCount() const { return m_refs.load(std::memory_order_acquire); }

    // The merge test: a pending entry accepts a new change of its parameter when the change has
    // the same shape, that is the same group, and either both cover the whole group or both
    // cover the same element index and element count. The new values then replace the entry's.
    bool accepts(std::int32_t group, bool wholeGroup, std::int32_t elementIndex,
                 std::int32_t elementCount) const;

private:
    friend class CAudioParamChangePool;
    friend class CAudioParamCollector;

    explicit CAudioParamChange(CAudioParamChangePool& pool) : m_pool(pool) {}

    CAudioParamChangePool& m_pool;
    std::atomic<std::int32_t> m_refs{0};
    std::int32_t m_paramId = 0;
    CAudioParam* m_param = nullptr;
    std::int32_t m_group = 0;
    std::int32_t m_elementIndex = 0;
    std::int32_t m_elementCount = 0;
    bool m_wholeGroup = true;
    double m_time = 0.0;
    std::vector<double> m_values;
    // Link of whichever list the entry is in: the pool's free or returned list, or the
    // collector's pending list. An entry held by sinks is in none.
    CAudioParamChange* m_next = nullptr;
};

// The entries of one collector. Taking an entry (acquire) happens under the collector's lock;
// handing one back happens on any thread without a lock (a lock-free push onto the returned
// list, which acquire drains all at once). The pool lives until its owner has let go of it and
// every entry it handed out has come back, so a sink may still release an entry after the
// collector is gone.
class CAudioParamChangePool
{
public:
    // A pool with one hold, its owner's.
    static CAudioParamChangePool* create();
    CAudioParamChangePool(const CAudioParamChangePool&) = delete;
    CAudioParamChangePool& operator=(const CAudioParamChangePool&) = delete;

    // The owner lets go of the pool (once).
    void releaseOwner();

    // An entry with reference count 1 and its fields reset; it keeps its value capacity.
    // Allocates only when no entry is free. Not thread-safe against other acquire calls.
    CAudioParamChange& acquire();

    // Entries ever made, and those now free (returned ones included). Same thread as acquire.
    std::size_t size() const { return m_all.size(); }
    std::size_t freeCount() const;

private:
    friend class CAudioParamChange;

    CAudioParamChangePool() = default;
    ~CAudioParamChangePool() = default;
    void giveBack(CAudioParamChange& entry);
    void dropHold();

    std::vector<std::unique_ptr<CAudioParamChange>> m_all;
    CAudioParamChange* m_free = nullptr;
    std::atomic<CAudioParamChange*> m_returned{nullptr};
    // The owner's hold plus one per entry handed out and not yet back.
    std::atomic<std::int64_t> m_holds{1};
};

class CAudioParamChangeSink
{
public:
    virtual ~CAudioParamChangeSink() = default;
    // Called on the audio thread when a block takes the entry in. A sink that keeps the entry
    // calls addRef() and later release() once it has applied it; the call must not block.
    virtual void queueParamChange(CAudioParamChange& change) = 0;
};

} // namespace zel
