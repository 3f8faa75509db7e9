#include "Audio/AudioVizCollector.h"

#include "Audio/AudioEnv.h"
#include "Audio/AudioParamCollector.h"
#include "Audio/AudioProcessBase.h"
#include "Audio/AudioVizData.h"
#include "Audio/DCDAWContext.h"
#include "Audio/Processes/ModMeterResult.h"
#include "Core/InputStream.h"
#include "Core/MemoryWriteBuffer.h"
#include "Core/OutputStream.h"

#include <algorithm>
#include <string>

namespace zel
{

// ---- Slot names ----

void CAudioVizSlotManager::update(const CAudioParam* slotParam, const CText& instanceName)
{
    m_names.clear();
    if (slotParam == nullptr)
        return;
    const std::int32_t count = slotParam->elementCount(0);
    for (std::int32_t e = 0; e < count; ++e)
    {
        CText name;
        if (!instanceName.empty())
        {
            name = instanceName;
            name += ": ";
        }
        name += slotParam->string(0, e);
        m_names.push_back(std::move(name));
    }
}

CErrorPtr CAudioVizSlotManager::write(COutputStream& out, const std::vector<CText>& names)
{
    static constexpr const char* kName = "CAudioVizSlotManager::write";
    ZEL_TRY(out.writeInt(static_cast<std::int32_t>(names.size())), kName);
    for (const CText& name : names)
        ZEL_TRY(out.writeString(name), kName);
    return nullptr;
}

CErrorPtr CAudioVizSlotManager::read(CInputStream& in, std::vector<CText>& names)
{
    static constexpr const char* kName = "CAudioVizSlotManager::read";
    std::int32_t count = 0;
    ZEL_TRY(in.readInt(count), kName);
    if (count < 0)
        return ZEL_ERROR(kName, "zelstr_CAudioVizSlotManager_read_InvalidCount",
                         "Invalid export slot name count %1.", {std::to_string(count)});
    std::vector<CText> read;
    for (std::int32_t i = 0; i < count; ++i)
    {
        CText name;
        ZEL_TRY(in.readString(name), kName);
        read.push_back(std::move(name));
    }
    names = std::move(read);
    return nullptr;
}

// ---- Pending records ----

// A fixed ring of meter records that keeps the newest ones.
class CAudioVizCollector::CPendingRing
{
public:
    CPendingRing() : m_records(kMaxPendingPerListener) {}

    // Appends a copy of record carrying the listener's slot.
    void push(const CAudioVizDataMeter& record, std::int32_t slot)
    {
        const std::size_t capacity = m_records.size();
        if (m_count == capacity)
        {
            m_first = (m_first + 1) % capacity;
            --m_count;
            ++m_dropped;
        }
        CAudioVizDataMeter& stored = m_records[(m_first + m_count) % capacity];
        stored = record;
        stored.slot = slot;
        ++m_count;
    }
    void clear()
    {
        m_first = 0;
        m_count = 0;
        m_dropped = 0;
    }
    std::size_t size() const { return m_count; }
    std::int32_t dropped() const { return m_dropped; }
    const CAudioVizDataMeter& at(std::size_t i) const
    {
        return m_records[(m_first + i) % m_records.size()];
    }

private:
    std::vector<CAudioVizDataMeter> m_records;
    std::size_t m_first = 0;
    std::size_t m_count = 0;
    std::int32_t m_dropped = 0;
};

struct CAudioVizCollector::CListener
{
    std::int32_t client = 0;
    std::int32_t id = 0;
    CText source;
    std::int32_t slot = 0;
    CSource* sourceEntry = nullptr;
    std::unique_ptr<CPendingRing> pending = std::make_unique<CPendingRing>();
    // The ring being serialised by a take; empty otherwise.
    std::unique_ptr<CPendingRing> spare = std::make_unique<CPendingRing>();
};

struct CAudioVizCollector::CSource
{
    CText path;
    CObjectRef ref;
    CModMeterSource* meter = nullptr;
    CAudioProcessBase* process = nullptr;
    // Listeners of this source (changed only under the collector's lock).
    std::vector<CListener*> listeners;
};

// ---- Listeners of parameters ----

void CAudioVizCollector::CExportSlotParamListener::onAudioParamChanged(CAudioParam&, std::int32_t,
                                                                       std::int32_t)
{
    m_owner.namesChanged();
}

void CAudioVizCollector::CExportSlotParamListener::onAudioParamDestroyed(CAudioParam& param)
{
    m_owner.paramDestroyed(param);
}

void CAudioVizCollector::CNameParamListener::onAudioParamChanged(CAudioParam&, std::int32_t,
                                                                 std::int32_t)
{
    m_owner.namesChanged();
}

void CAudioVizCollector::CNameParamListener::onAudioParamDestroyed(CAudioParam& param)
{
    m_owner.paramDestroyed(param);
}

// ---- Object ----

CAudioVizCollector::CAudioVizCollector() : m_slotListener(*this), m_nameListener(*this) {}

CAudioVizCollector::~CAudioVizCollector()
{
    detachParams();
}

void CAudioVizCollector::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
    // Paths only: they are resolved by connect(), once the objects they name exist.
    info.text<&CAudioVizCollector::m_envPath>("env");
    info.text<&CAudioVizCollector::m_paramCollectorPath>("param-collector");
    info.text<&CAudioVizCollector::m_exportSlotParamPath>("export-slot-param");
}

// ---- Parameters and names ----

CErrorPtr CAudioVizCollector::connect()
{
    ZEL_TRY(m_env.resolvePath(*this, m_envPath, false), fullName().toUtf8());
    ZEL_TRY(m_paramCollector.resolvePath(*this, m_paramCollectorPath, false), fullName().toUtf8());
    m_envForAudio.store(m_env.get(), std::memory_order_release);
    detachParams();
    {
        CCriticalSectionLock guard(m_namesLock);
        if (CAudioParamCollector* params = m_paramCollector.get())
        {
            m_enableParam = params->findParam(kEnableParamPath);
            if (!m_exportSlotParamPath.empty())
                m_slotParam = params->findParam(m_exportSlotParamPath);
            m_groupNamesParam = params->findParam(kGroupNamesParamPath);
            m_instanceNameParam = params->findParam(kInstanceNameParamPath);
        }
        // The enable parameter is watched only to hear of its destruction.
        if (m_enableParam != nullptr)
            m_enableParam->addListener(&m_nameListener, true);
        if (m_slotParam != nullptr)
            m_slotParam->addListener(&m_slotListener, true);
        if (m_groupNamesParam != nullptr)
            m_groupNamesParam->addListener(&m_nameListener, true);
        if (m_instanceNameParam != nullptr)
            m_instanceNameParam->addListener(&m_nameListener, true);
    }
    namesChanged();
    return nullptr;
}

void CAudioVizCollector::detachParams()
{
    CCriticalSectionLock guard(m_namesLock);
    if (m_enableParam != nullptr)
        m_enableParam->removeListener(&m_nameListener);
    if (m_slotParam != nullptr)
        m_slotParam->removeListener(&m_slotListener);
    if (m_groupNamesParam != nullptr)
        m_groupNamesParam->removeListener(&m_nameListener);
    if (m_instanceNameParam != nullptr)
        m_instanceNameParam->removeListener(&m_nameListener);
    m_enableParam = m_slotParam = m_groupNamesParam = m_instanceNameParam = nullptr;
}

void CAudioVizCollector::paramDestroyed(CAudioParam& param)
{
    CCriticalSectionLock guard(m_namesLock);
    for (CAudioParam** held :
         {&m_enableParam, &m_slotParam, &m_groupNamesParam, &m_instanceNameParam})
        if (*held == &param)
            *held = nullptr;
}

void CAudioVizCollector::namesChanged()
{
    std::vector<CText> names;
    CNamesCallback callback;
    {
        CCriticalSectionLock guard(m_namesLock);
        const CText instance =
            m_instanceNameParam != nullptr ? m_instanceNameParam->string(0, 0) : CText();
        std::vector<CText> old = m_slots.names();
        m_slots.update(m_slotParam, instance);
        if (m_slots.names() == old)
            return;
        names = m_slots.names();
        callback = m_namesCallback;
    }
    if (callback)
        callback(names);
}

void CAudioVizCollector::setExportSlotNamesCallback(CNamesCallback callback)
{
    CCriticalSectionLock guard(m_namesLock);
    m_namesCallback = std::move(callback);
}

std::vector<CText> CAudioVizCollector::exportSlotNames() const
{
    CCriticalSectionLock guard(m_namesLock);
    return m_slots.names();
}

CErrorPtr CAudioVizCollector::writeExportSlotNames(COutputStream& out) const
{
    ZEL_TRY(CAudioVizSlotManager::write(out, exportSlotNames()), fullName().toUtf8());
    return nullptr;
}

CAudioParam* CAudioVizCollector::enableParam() const
{
    CCriticalSectionLock guard(m_namesLock);
    return m_enableParam;
}

bool CAudioVizCollector::isActive() const
{
    if (!m_active.load(std::memory_order_acquire))
        return false;
    CCriticalSectionLock guard(m_namesLock);
    return m_enableParam == nullptr || m_enableParam->value(0, 0, 0) >= 0.5;
}

void CAudioVizCollector::setActive(bool active)
{
    m_active.store(active, std::memory_order_release);
}

// ---- Listener table (editor thread) ----

CObject* CAudioVizCollector::resolveSourceObject(const CText& path) const
{
    // Source names are full paths from the instance root ("plugin.modMain.modMeterOut").
    CObject* top = root();
    const CText& rootName = top->name();
    if (path == rootName)
        return top;
    if (path.size() > rootName.size() && path.substr(0, rootName.size()) == rootName &&
        path[rootName.size()] == u'.')
        return top->findObject(CText("/") + path.substr(rootName.size() + 1));
    return findObject(path);
}

CAudioVizCollector::CSource& CAudioVizCollector::sourceFor(const CText& path)
{
    for (const auto& source : m_sources)
        if (source->path == path)
            return *source;
    auto made = std::make_unique<CSource>();
    made->path = path;
    m_sources.push_back(std::move(made));
    return *m_sources.back();
}

void CAudioVizCollector::refreshSources()
{
    for (const auto& source : m_sources)
    {
        if (source->ref.get() != nullptr && source->meter != nullptr)
            continue;
        CObject* found = resolveSourceObject(source->path);
        auto* meter = dynamic_cast<CModMeterSource*>(found);
        auto* process = dynamic_cast<CAudioProcessBase*>(found);
        CCriticalSectionLock guard(m_lock);
        if (meter != nullptr && process != nullptr)
        {
            source->meter = meter;
            source->process = process;
            source->ref = found->weakRef();
        }
        else
        {
            source->meter = nullptr;
            source->process = nullptr;
            source->ref = CObjectRef();
        }
    }
}

CErrorPtr CAudioVizCollector::listen(std::int32_t client, std::int32_t listener,
                                     const CText& source, std::int32_t slot)
{
    if (source.empty())
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioVizCollector_listen_NoSource",
                         "No visualisation source given for listener %1.",
                         {std::to_string(listener)});
    CCriticalSectionLock editor(m_editorLock);
    auto entry = std::make_unique<CListener>();
    entry->client = client;
    entry->id = listener;
    entry->source = source;
    entry->slot = slot;
    {
        CCriticalSectionLock guard(m_lock);
        for (std::size_t i = 0; i < m_listeners.size(); ++i)
            if (m_listeners[i]->client == client && m_listeners[i]->id == listener)
            {
                eraseListenerLocked(i);
                break;
            }
        CSource& src = sourceFor(source);
        entry->sourceEntry = &src;
        src.listeners.push_back(entry.get());
        m_listeners.push_back(std::move(entry));
    }
    refreshSources();
    return nullptr;
}

void CAudioVizCollector::eraseListenerLocked(std::size_t index)
{
    CListener* gone = m_listeners[index].get();
    CSource* source = gone->sourceEntry;
    std::erase(source->listeners, gone);
    if (source->listeners.empty())
        std::erase_if(m_sources, [source](const auto& s) { return s.get() == source; });
    m_listeners.erase(m_listeners.begin() + static_cast<std::ptrdiff_t>(index));
}

void CAudioVizCollector::unlisten(std::int32_t client, std::int32_t listener)
{
    CCriticalSectionLock editor(m_editorLock);
    CCriticalSectionLock guard(m_lock);
    for (std::size_t i = 0; i < m_listeners.size(); ++i)
        if (m_listeners[i]->client == client && m_listeners[i]->id == listener)
        {
            eraseListenerLocked(i);
            return;
        }
}

void CAudioVizCollector::removeClient(std::int32_t client)
{
    CCriticalSectionLock editor(m_editorLock);
    CCriticalSectionLock guard(m_lock);
    for (std::size_t i = m_listeners.size(); i-- > 0;)
        if (m_listeners[i]->client == client)
            eraseListenerLocked(i);
}

std::size_t CAudioVizCollector::listenerCount() const
{
    CCriticalSectionLock guard(m_lock);
    return m_listeners.size();
}

CAudioVizCollector::CListener* CAudioVizCollector::findLocked(std::int32_t client,
                                                              std::int32_t listener) const
{
    for (const auto& entry : m_listeners)
        if (entry->client == client && entry->id == listener)
            return entry.get();
    return nullptr;
}

bool CAudioVizCollector::findListener(std::int32_t client, std::int32_t listener, CText& source,
                                      std::int32_t& slot) const
{
    CCriticalSectionLock guard(m_lock);
    const CListener* entry = findLocked(client, listener);
    if (entry == nullptr)
        return false;
    source = entry->source;
    slot = entry->slot;
    return true;
}

std::size_t CAudioVizCollector::pendingCount(std::int32_t client, std::int32_t listener) const
{
    CCriticalSectionLock guard(m_lock);
    const CListener* entry = findLocked(client, listener);
    return entry != nullptr ? entry->pending->size() : 0;
}

// ---- Taking and resetting ----

CErrorPtr CAudioVizCollector::takeRecords(std::int32_t client, COutputStream& out)
{
    CCriticalSectionLock editor(m_editorLock);
    refreshSources();
    std::vector<CListener*> taken;
    {
        CCriticalSectionLock guard(m_lock);
        for (const auto& entry : m_listeners)
            if (entry->client == client)
            {
                std::swap(entry->pending, entry->spare);
                taken.push_back(entry.get());
            }
    }
    // Outside the collector's lock: the audio thread appends to the fresh rings meanwhile,
    // and the table cannot change under the editor lock.
    CErrorPtr err = [&]() -> CErrorPtr
    {
        ZEL_TRY(out.writeDouble(m_blockTime.load(std::memory_order_relaxed)), fullName().toUtf8());
        CMemoryWriteBuffer records;
        for (CListener* entry : taken)
        {
            const CPendingRing& ring = *entry->spare;
            if (ring.size() == 0 && ring.dropped() == 0)
                continue;
            records.clear();
            for (std::size_t i = 0; i < ring.size(); ++i)
                ZEL_TRY(ring.at(i).write(records), fullName().toUtf8());
            const std::vector<std::uint8_t> bytes = records.toVector();
            ZEL_TRY(out.writeInt(entry->id), fullName().toUtf8());
            ZEL_TRY(out.writeString(entry->source), fullName().toUtf8());
            ZEL_TRY(out.writeInt(entry->slot), fullName().toUtf8());
            ZEL_TRY(out.writeInt(static_cast<std::int32_t>(ring.size())), fullName().toUtf8());
            ZEL_TRY(out.writeInt(ring.dropped()), fullName().toUtf8());
            ZEL_TRY(out.writeBlock(bytes.data(), bytes.size()), fullName().toUtf8());
        }
        return nullptr;
    }();
    for (CListener* entry : taken)
        entry->spare->clear();
    return err;
}

void CAudioVizCollector::reset()
{
    CCriticalSectionLock editor(m_editorLock);
    CCriticalSectionLock guard(m_lock);
    for (const auto& entry : m_listeners)
    {
        entry->pending->clear();
        entry->spare->clear();
    }
}

// ---- Audio thread ----

void CAudioVizCollector::beginBlock()
{
    if (CAudioEnv* env = m_envForAudio.load(std::memory_order_acquire))
        m_blockTime.store(env->streamTime(), std::memory_order_relaxed);
    collect();
}

void CAudioVizCollector::appendRecord(CSource& source, const CAudioVizDataMeter& record)
{
    for (CListener* listener : source.listeners)
        listener->pending->push(record, listener->slot);
}

void CAudioVizCollector::collect()
{
    if (!m_active.load(std::memory_order_acquire))
        return;
    if (!m_lock.tryEnter())
    {
        // The meters' flags stay raised: their current values go out with the next block.
        m_skipped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    const double time = m_blockTime.load(std::memory_order_relaxed);
    for (const auto& sourcePtr : m_sources)
    {
        CSource& source = *sourcePtr;
        if (source.meter == nullptr || source.ref.get() == nullptr)
            continue;
        CModMeterSource& meter = *source.meter;
        if (meter.processFlag() == 0)
            continue;
        meter.processFlag() = 0;
        CDCDAWContextObject& context = source.process->context();
        const std::size_t count = meter.meterResultCount();
        for (std::size_t i = 0; i < count; ++i)
        {
            const CModMeterResultInfo info = meter.meterResult(i);
            if (info.flag == nullptr || *info.flag == 0 || info.fieldCount < 1)
                continue;
            *info.flag = 0;
            const double* values = context.data(info.ref);
            if (values == nullptr)
                continue;
            CAudioVizDataMeter record;
            record.sourceIndex = static_cast<std::int32_t>(i);
            record.channel = info.channel;
            record.time = time;
            record.level = values[0];
            record.peak = info.fieldCount >= 2 ? values[1] : values[0];
            if (info.displayInverted)
            {
                record.flags |= CAudioVizData::kFlagInverted;
                if (info.fieldCount >= 2)
                {
                    // Levels invert as ratios; a zero level has no inverse and shows as 0.
                    record.level = record.level > 0.0 ? 1.0 / record.level : 0.0;
                    record.peak = record.peak > 0.0 ? 1.0 / record.peak : 0.0;
                }
                else
                {
                    // A correlation inverts by sign.
                    record.level = -record.level;
                    record.peak = -record.peak;
                }
            }
            appendRecord(source, record);
        }
    }
    m_lock.leave();
}

} // namespace zel
