#include "Audio/AudioParamChange.h"

namespace zel
{

void CAudioParamChange::release()
{
    if (m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1)
        m_pool.giveBack(*this);
}

bool CAudioParamChange::accepts(std::int32_t group, bool wholeGroup, std::int32_t elementIndex,
                                std::int32_t elementCount) const
{
    if (group != m_group || wholeGroup != m_wholeGroup)
        return false;
    return wholeGroup || (elementIndex == m_elementIndex && elementCount == m_elementCount);
}

CAudioParamChangePool* CAudioParamChangePool::create()
{
    return new CAudioParamChangePool();
}

void CAudioParamChangePool::releaseOwner()
{
    dropHold();
}

void CAudioParamChangePool::dropHold()
{
    // The last hold deletes the pool with every entry: all of them are back by then.
    if (m_holds.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete this;
}

CAudioParamChange& CAudioParamChangePool::acquire()
{
    if (m_free == nullptr)
        m_free = m_returned.exchange(nullptr, std::memory_order_acquire);
    CAudioParamChange* entry = m_free;
    if (entry != nullptr)
        m_free = entry->m_next;
    else
    {
        m_all.push_back(std::unique_ptr<CAudioParamChange>(new CAudioParamChange(*this)));
        entry = m_all.back().get();
    }
    m_holds.fetch_add(1, std::memory_order_relaxed);
    entry->m_next = nullptr;
    entry->m_paramId = 0;
    entry->m_param = nullptr;
    entry->m_group = 0;
    entry->m_elementIndex = 0;
    entry->m_elementCount = 0;
    entry->m_wholeGroup = true;
    entry->m_time = 0.0;
    entry->m_values.clear();
    entry->m_refs.store(1, std::memory_order_release);
    return *entry;
}

void CAudioParamChangePool::giveBack(CAudioParamChange& entry)
{
    // Push only, drained all at once by acquire: no entry is popped singly, so a node cannot
    // come back under a stale head between the load and the exchange (no ABA).
    CAudioParamChange* head = m_returned.load(std::memory_order_relaxed);
    do
        entry.m_next = head;
    while (!m_returned.compare_exchange_weak(head, &entry, std::memory_order_release,
                                             std::memory_order_relaxed));
    dropHold();
}

std::size_t CAudioParamChangePool::freeCount() const
{
    std::size_t count = 0;
    for (const CAudioParamChange* entry = m_free; entry != nullptr; entry = entry->m_next)
        ++count;
    for (const CAudioParamChange* entry = m_returned.load(std::memory_order_acquire);
         entry != nullptr; entry = entry->m_next)
        ++count;
    return count;
}

} // namespace zel
