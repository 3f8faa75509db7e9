#include "Audio/AudioParamCollector.h"

#include <algorithm>
#include <string>

namespace zel
{

CAudioParamCollector::CAudioParamCollector() : m_pool(CAudioParamChangePool::create()) {}

CAudioParamCollector::~CAudioParamCollector()
{
    {
        CCriticalSectionLock guard(m_lock);
        for (auto& [path, slot] : m_byPath)
            slot.param->removeListener(this);
        m_byPath.clear();
        m_byParam.clear();
        dropPendingOf(nullptr);
    }
    // Entries still held by sinks keep the pool alive until they come back.
    m_pool->releaseOwner();
}

void CAudioParamCollector::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
    info.attribute<&CAudioParamCollector::onEnv>("env");
}

CErrorPtr CAudioParamCollector::onEnv(const CText& value)
{
    m_envPath = value;
    m_env.release();
    return nullptr;
}

CObject* CAudioParamCollector::env()
{
    if (!m_env && !m_envPath.empty())
        m_env.resolvePath(*this, m_envPath, false);
    return m_env.get();
}

// ---- Index ----

CErrorPtr CAudioParamCollector::addParam(const CText& fullPath, CAudioParam& param,
                                         std::int32_t* id)
{
    CCriticalSectionLock guard(m_lock);
    if (fullPath.empty())
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioParamCollector_addParam_EmptyPath",
                         "Empty audio parameter path.");
    if (m_byPath.count(fullPath) != 0)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioParamCollector_addParam_Duplicate",
                         "Duplicate audio parameter path '%1'.", {fullPath.toUtf8()});
    if (auto known = m_byParam.find(&param); known != m_byParam.end())
        return ZEL_ERROR(fullName().toUtf8(),
                         "zelstr_CAudioParamCollector_addParam_AlreadyRegistered",
                         "Audio parameter '%1' is already registered as '%2'.",
                         {fullPath.toUtf8(), known->second->first.toUtf8()});

    auto given = m_idsGiven.find(fullPath);
    if (given == m_idsGiven.end())
    {
        if (m_nextId == kAllParams)
            ++m_nextId;
        given = m_idsGiven.emplace(fullPath, m_nextId++).first;
    }
    auto it = m_byPath.emplace(fullPath, CSlot{given->second, &param}).first;
    m_byParam.emplace(&param, it);
    param.addListener(this);
    m_generation.fetch_add(1, std::memory_order_acq_rel);
    if (id != nullptr)
        *id = given->second;
    return nullptr;
}

void CAudioParamCollector::removeLocked(std::map<CText, CSlot>::iterator it, bool stopListening)
{
    CAudioParam* param = it->second.param;
    if (stopListening)
        param->removeListener(this);
    dropPendingOf(param);
    m_byParam.erase(param);
    m_byPath.erase(it);
    m_generation.fetch_add(1, std::memory_order_acq_rel);
}

void CAudioParamCollector::removeParam(const CText& fullPath)
{
    CCriticalSectionLock guard(m_lock);
    auto it = m_byPath.find(fullPath);
    if (it != m_byPath.end())
        removeLocked(it, true);
}

void CAudioParamCollector::onAudioParamDestroyed(CAudioParam& param)
{
    CCriticalSectionLock guard(m_lock);
    auto known = m_byParam.find(&param);
    if (known != m_byParam.end())
        removeLocked(known->second, false);
}

CAudioParam* CAudioParamCollector::findParam(const CText& fullPath) const
{
    CCriticalSectionLock guard(m_lock);
    auto it = m_byPath.find(fullPath);
    return it != m_byPath.end() ? it->second.param : nullptr;
}

std::int32_t CAudioParamCollector::paramId(const CText& fullPath) const
{
    CCriticalSectionLock guard(m_lock);
    auto it = m_byPath.find(fullPath);
    return it != m_byPath.end() ? it->second.id : -1;
}

void CAudioParamCollector::forEachParam(
    const std::function<void(const CText& fullPath, CAudioParam&)>& fn) const
{
    CCriticalSectionLock guard(m_lock);
    for (const auto& [path, slot] : m_byPath)
        fn(path, *slot.param);
}

// ---- Posting ----

void CAudioParamCollector::onAudioParamChanged(CAudioParam& param, std::int32_t group,
                                               std::int32_t origin)
{
    (void)origin;
    CCriticalSectionLock guard(m_lock);
    // A parameter removed while its notification was on the way is no longer posted.
    if (m_byParam.count(&param) != 0)
        postLocked("onAudioParamChanged", param, group, 0, -1);
}

CErrorPtr CAudioParamCollector::post(CAudioParam& param, std::int32_t group,
                                     std::int32_t elementIndex, std::int32_t elementCount)
{
    CCriticalSectionLock guard(m_lock);
    if (m_byParam.count(&param) == 0)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioParamCollector_post_Unknown",
                         "Audio parameter '%1' is not registered.",
                         {param.info().paramName.toUtf8()});
    return postLocked("post", param, group, elementIndex, elementCount);
}

CErrorPtr CAudioParamCollector::postLocked(const char* method, CAudioParam& param,
                                           std::int32_t group, std::int32_t elementIndex,
                                           std::int32_t elementCount)
{
    const std::int32_t id = m_byParam.find(&param)->second->second.id;
    const bool wholeGroup = elementIndex == 0 && elementCount < 0;

    // The latest pending entry of this parameter and group, if any; only that one may merge,
    // so that entries of overlapping ranges keep their order.
    CAudioParamChange* latest = nullptr;
    for (CAudioParamChange* entry = m_pendingHead; entry != nullptr; entry = entry->m_next)
        if (entry->m_param == &param && entry->m_group == group)
            latest = entry;

    CCriticalSectionLock paramGuard(param.lock());
    const CAudioParamStorage& storage = param.storage();
    const auto size = static_cast<std::size_t>(storage.elementSize);
    const bool groupOk = group >= 0 && static_cast<std::size_t>(group) < storage.groups.size();
    const std::int32_t available =
        groupOk ? storage.elementCount(static_cast<std::size_t>(group)) : 0;
    const std::int32_t count = elementCount < 0 ? available - elementIndex : elementCount;
    if (!groupOk || elementIndex < 0 || count < 0 || elementIndex > available ||
        count > available - elementIndex)
        return ZEL_ERROR(fullName().toUtf8(),
                         std::string("zelstr_CAudioParamCollector_") + method + "_BadRange",
                         "Invalid change range of parameter '%1': group %2, elements %3.",
                         {param.info().paramName.toUtf8(), std::to_string(group),
                          std::to_string(elementIndex) + "+" + std::to_string(elementCount)});

    CAudioParamChange* entry = latest;
    if (entry == nullptr || !entry->accepts(group, wholeGroup, elementIndex, count))
    {
        entry = &m_pool->acquire();
        entry->m_paramId = id;
        entry->m_param = &param;
        entry->m_group = group;
        entry->m_wholeGroup = wholeGroup;
        appendPending(*entry);
    }
    // A whole-group entry follows the group's current element count.
    entry->m_elementIndex = elementIndex;
    entry->m_elementCount = count;
    const auto& values = storage.groups[static_cast<std::size_t>(group)];
    const auto first =
        values.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(elementIndex) * size);
    entry->m_values.assign(
        first, first + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(count) * size));
    return nullptr;
}

void CAudioParamCollector::postAll()
{
    CCriticalSectionLock guard(m_lock);
    for (CAudioParamChange* entry = m_pendingHead; entry != nullptr; entry = entry->m_next)
        if (entry->m_paramId == kAllParams)
            return;
    CAudioParamChange& entry = m_pool->acquire();
    entry.m_paramId = kAllParams;
    appendPending(entry);
}

void CAudioParamCollector::appendPending(CAudioParamChange& entry)
{
    entry.m_next = nullptr;
    if (m_pendingTail != nullptr)
        m_pendingTail->m_next = &entry;
    else
        m_pendingHead = &entry;
    m_pendingTail = &entry;
}

void CAudioParamCollector::dropPendingOf(const CAudioParam* param)
{
    // param null: every pending entry.
    CAudioParamChange* kept = nullptr;
    CAudioParamChange* keptTail = nullptr;
    CAudioParamChange* entry = m_pendingHead;
    while (entry != nullptr)
    {
        CAudioParamChange* next = entry->m_next;
        if (param == nullptr || entry->m_param == param)
        {
            entry->m_next = nullptr;
            entry->release();
        }
        else
        {
            entry->m_next = nullptr;
            (keptTail != nullptr ? keptTail->m_next : kept) = entry;
            keptTail = entry;
        }
        entry = next;
    }
    m_pendingHead = kept;
    m_pendingTail = keptTail;
}

// ---- Sinks ----

void CAudioParamCollector::bindSink(std::int32_t paramId, CAudioParamChangeSink& sink)
{
    CCriticalSectionLock guard(m_lock);
    auto& sinks = m_sinksById[paramId];
    if (std::find(sinks.begin(), sinks.end(), &sink) == sinks.end())
        sinks.push_back(&sink);
    if (std::find(m_allSinks.begin(), m_allSinks.end(), &sink) == m_allSinks.end())
        m_allSinks.push_back(&sink);
}

void CAudioParamCollector::unbindSink(std::int32_t paramId, CAudioParamChangeSink& sink)
{
    CCriticalSectionLock guard(m_lock);
    auto it = m_sinksById.find(paramId);
    if (it == m_sinksById.end())
        return;
    std::erase(it->second, &sink);
    if (it->second.empty())
        m_sinksById.erase(it);
    for (const auto& [id, sinks] : m_sinksById)
        if (std::find(sinks.begin(), sinks.end(), &sink) != sinks.end())
            return;
    std::erase(m_allSinks, &sink);
}

void CAudioParamCollector::unbindSink(CAudioParamChangeSink& sink)
{
    CCriticalSectionLock guard(m_lock);
    for (auto it = m_sinksById.begin(); it != m_sinksById.end();)
    {
        std::erase(it->second, &sink);
        it = it->second.empty() ? m_sinksById.erase(it) : std::next(it);
    }
    std::erase(m_allSinks, &sink);
}

// ---- Audio side ----

void CAudioParamCollector::deliver(CAudioParamChange& entry)
{
    if (entry.m_paramId == kAllParams)
    {
        for (CAudioParamChangeSink* sink : m_allSinks)
            sink->queueParamChange(entry);
        return;
    }
    if (auto it = m_sinksById.find(entry.m_paramId); it != m_sinksById.end())
        for (CAudioParamChangeSink* sink : it->second)
            sink->queueParamChange(entry);
    if (auto it = m_sinksById.find(kAllParams); it != m_sinksById.end())
        for (CAudioParamChangeSink* sink : it->second)
            sink->queueParamChange(entry);
}

bool CAudioParamCollector::takeIn(double streamTime)
{
    // The audio thread never waits for a poster: a busy lock leaves the entries for the next
    // block.
    if (!m_lock.tryEnter())
        return false;
    CAudioParamChange* entry = m_pendingHead;
    m_pendingHead = nullptr;
    m_pendingTail = nullptr;
    while (entry != nullptr)
    {
        CAudioParamChange* next = entry->m_next;
        entry->m_next = nullptr;
        entry->m_time = streamTime;
        deliver(*entry);
        entry->release();
        entry = next;
    }
    m_lock.leave();
    return true;
}

// ---- Inspection ----

std::size_t CAudioParamCollector::pendingCount() const
{
    CCriticalSectionLock guard(m_lock);
    std::size_t count = 0;
    for (const CAudioParamChange* entry = m_pendingHead; entry != nullptr; entry = entry->m_next)
        ++count;
    return count;
}

std::size_t CAudioParamCollector::poolSize() const
{
    CCriticalSectionLock guard(m_lock);
    return m_pool->size();
}

std::size_t CAudioParamCollector::freeEntryCount() const
{
    CCriticalSectionLock guard(m_lock);
    return m_pool->freeCount();
}

} // namespace zel
