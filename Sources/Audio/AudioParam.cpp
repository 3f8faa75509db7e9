#include "Audio/AudioParam.h"

#include "Audio/Converters/AudioParamConverter.h"
#include "Core/InputStream.h"
#include "Core/OutputStream.h"

#include <algorithm>
#include <array>
#include <span>
#include <string>

namespace zel
{
namespace
{
constexpr std::size_t kNoValue = static_cast<std::size_t>(-1);

struct CNotification
{
    void* target = nullptr;
    std::int32_t index = 0;
    double value = 0.0;
    CAudioParamChangeScope::CDeliverFn deliver = nullptr;
};

// The calling thread's open operation: nesting depth and pending notifications (inline first,
// then the overflow list).
struct CThreadOperation
{
    std::int32_t depth = 0;
    std::array<CNotification, CAudioParamChangeScope::kInlineNotifications> inlineList{};
    std::size_t inlineCount = 0;
    std::vector<CNotification> overflow;

    CNotification* find(const void* target, std::int32_t index)
    {
        for (std::size_t i = 0; i < inlineCount; ++i)
            if (inlineList[i].target == target && inlineList[i].index == index)
                return &inlineList[i];
        for (CNotification& entry : overflow)
            if (entry.target == target && entry.index == index)
                return &entry;
        return nullptr;
    }
};

CThreadOperation& threadOperation()
{
    thread_local CThreadOperation operation;
    return operation;
}

void deliverPending(CThreadOperation& op)
{
    // Delivery may start new operations on this thread: take the list out first. The inline
    // part is copied onto the stack so that delivering allocates nothing.
    const std::array<CNotification, CAudioParamChangeScope::kInlineNotifications> inlineCopy =
        op.inlineList;
    const std::size_t inlineCount = op.inlineCount;
    std::vector<CNotification> overflow;
    overflow.swap(op.overflow);
    op.inlineCount = 0;
    for (std::size_t i = 0; i < inlineCount; ++i)
        inlineCopy[i].deliver(inlineCopy[i].target, inlineCopy[i].index, inlineCopy[i].value);
    for (const CNotification& entry : overflow)
        entry.deliver(entry.target, entry.index, entry.value);
}
} // namespace

// ---- CAudioParamChangeScope ----

CAudioParamChangeScope::CAudioParamChangeScope()
{
    ++threadOperation().depth;
}

CAudioParamChangeScope::~CAudioParamChangeScope()
{
    CThreadOperation& op = threadOperation();
    if (--op.depth == 0 && (op.inlineCount != 0 || !op.overflow.empty()))
        deliverPending(op);
}

void CAudioParamChangeScope::post(void* target, std::int32_t index, double value,
                                  CDeliverFn deliver)
{
    CThreadOperation& op = threadOperation();
    if (op.depth == 0)
    {
        deliver(target, index, value);
        return;
    }
    if (CNotification* entry = op.find(target, index))
    {
        entry->value = value;
        entry->deliver = deliver;
        return;
    }
    const CNotification entry{target, index, value, deliver};
    if (op.inlineCount < op.inlineList.size() && op.overflow.empty())
        op.inlineList[op.inlineCount++] = entry;
    else
        op.overflow.push_back(entry);
}

void CAudioParamChangeScope::forget(const void* target)
{
    CThreadOperation& op = threadOperation();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < op.inlineCount; ++i)
        if (op.inlineList[i].target != target)
            op.inlineList[kept++] = op.inlineList[i];
    op.inlineCount = kept;
    std::erase_if(op.overflow, [target](const CNotification& e) { return e.target == target; });
}

std::int32_t CAudioParamChangeScope::depth()
{
    return threadOperation().depth;
}

CAudioParam::CAudioParam(std::shared_ptr<const CAudioParamInfo> info, std::int32_t groupCount)
    : m_info(std::move(info))
{
    const std::int32_t groups = m_info->singleGroup ? 1 : std::max(groupCount, 1);
    m_values.elementSize = m_info->elementSize;
    m_values.dataType = m_info->dataType;
    m_values.groups.resize(static_cast<std::size_t>(groups));
    m_loading.elementSize = m_values.elementSize;
    m_loading.dataType = m_values.dataType;
    for (std::size_t group = 0; group < m_values.groups.size(); ++group)
        fillDefaults(group);
}

CAudioParam::~CAudioParam()
{
    std::vector<CAudioParamListener*> listeners;
    {
        CCriticalSectionLock guard(m_lock);
        listeners.swap(m_destructionWatchers);
        m_listeners.clear();
    }
    for (CAudioParamListener* listener : listeners)
        listener->onAudioParamDestroyed(*this);
}

std::int32_t CAudioParam::groupCount() const
{
    CCriticalSectionLock guard(m_lock);
    return static_cast<std::int32_t>(m_values.groups.size());
}

std::int32_t CAudioParam::elementCount(std::int32_t group) const
{
    CCriticalSectionLock guard(m_lock);
    return m_values.elementCount(storageGroup(group));
}

std::size_t CAudioParam::storageGroup(std::int32_t group) const
{
    if (m_info->singleGroup)
        return 0;
    return group < 0 ? kNoValue : static_cast<std::size_t>(group);
}

std::size_t CAudioParam::valueIndex(std::int32_t group, std::int32_t element,
                                    std::int32_t index) const
{
    const std::size_t g = storageGroup(group);
    if (g >= m_values.groups.size() || element < 0 || index < 0 || index >= m_info->elementSize)
        return kNoValue;
    const std::size_t at =
        static_cast<std::size_t>(element) * static_cast<std::size_t>(m_info->elementSize) +
        static_cast<std::size_t>(index);
    return at < m_values.groups[g].size() ? at : kNoValue;
}

CErrorPtr CAudioParam::badAddress(const char* method, std::int32_t group, std::int32_t element,
                                  std::int32_t index) const
{
    return ZEL_ERROR(m_info->paramName.toUtf8(), std::string("zelstr_CAudioParam_") + method,
                     "Invalid parameter value address (%1, %2, %3).",
                     {std::to_string(group), std::to_string(element), std::to_string(index)});
}

CErrorPtr CAudioParam::needItems(const char* method, EAudioParamDataType type) const
{
    if (m_info->dataType == type)
        return nullptr;
    return ZEL_ERROR(m_info->paramName.toUtf8(), std::string("zelstr_CAudioParam_") + method,
                     "Parameter '%1' does not hold this kind of data.",
                     {m_info->paramName.toUtf8()});
}

void CAudioParam::fillDefaults(std::size_t group)
{
    const std::vector<double>& set = m_info->defaultSet(static_cast<std::int32_t>(group));
    std::vector<double> values;
    if (m_info->isItemType())
    {
        // Defaults name items of the definition: each instance gets its own copies.
        for (double id : set)
            values.push_back(m_data.copyValueFrom(m_info->defaultData(), id));
    }
    else
        values = set;
    const auto size = static_cast<std::size_t>(m_info->elementSize);
    if (m_info->singleElement)
    {
        if (values.size() < size)
        {
            values.resize(size);
            for (std::size_t i = 0; i < size; ++i)
                values[i] = m_info->minValue(static_cast<std::int32_t>(i));
        }
        values.resize(size);
    }
    clampGroup(values);
    for (double old : m_values.groups[group])
        dropItem(old);
    m_values.groups[group] = std::move(values);
}

void CAudioParam::clampGroup(std::vector<double>& values) const
{
    const auto size = static_cast<std::size_t>(m_info->elementSize);
    for (std::size_t i = 0; i < values.size(); ++i)
    {
        const auto element = static_cast<std::int32_t>(i % size);
        values[i] = CAudioParamConverter::clampToRange(values[i], m_info->minValue(element),
                                                       m_info->maxValue(element));
    }
}

void CAudioParam::dropItem(double value)
{
    if (m_info->isItemType())
        m_data.remove(CAudioParamData::idOfValue(value));
}

double CAudioParam::value(std::int32_t group, std::int32_t element, std::int32_t index) const
{
    CCriticalSectionLock guard(m_lock);
    const std::size_t at = valueIndex(group, element, index);
    return at == kNoValue ? 0.0 : m_values.groups[storageGroup(group)][at];
}

CErrorPtr CAudioParam::setValue(std::int32_t group, std::int32_t element, std::int32_t index,
                                double value, std::int32_t origin)
{
    {
        CCriticalSectionLock guard(m_lock);
        const std::size_t at = valueIndex(group, element, index);
        if (at == kNoValue)
            return badAddress("setValue", group, element, index);
        m_values.groups[storageGroup(group)][at] = CAudioParamConverter::clampToRange(
            value, m_info->minValue(index), m_info->maxValue(index));
    }
    notify(group, origin);
    return nullptr;
}

std::vector<double> CAudioParam::elements(std::int32_t group) const
{
    CCriticalSectionLock guard(m_lock);
    const std::size_t g = storageGroup(group);
    return g < m_values.groups.size() ? m_values.groups[g] : std::vector<double>();
}

CErrorPtr CAudioParam::setElements(std::int32_t group, std::vector<double> values,
                                   std::int32_t origin)
{
    const auto size = static_cast<std::size_t>(m_info->elementSize);
    {
        CCriticalSectionLock guard(m_lock);
        const std::size_t g = storageGroup(group);
        if (g >= m_values.groups.size())
            return badAddress("setElements", group, 0, 0);
        if (values.size() % size != 0 || (m_info->singleElement && values.size() != size))
            return ZEL_ERROR(m_info->paramName.toUtf8(), "zelstr_CAudioParam_setElements",
                             "Invalid number of values %1 for parameter '%2'.",
                             {std::to_string(values.size()), m_info->paramName.toUtf8()});
        clampGroup(values);
        if (m_info->isItemType())
        {
            // Items named by the old values and not by the new ones are dropped.
            for (double old : m_values.groups[g])
                if (std::find(values.begin(), values.end(), old) == values.end())
                    dropItem(old);
        }
        m_values.groups[g] = std::move(values);
    }
    notify(group, origin);
    return nullptr;
}

CErrorPtr CAudioParam::assignElements(std::int32_t group, std::span<const double> values,
                                      std::int32_t origin)
{
    const auto size = static_cast<std::size_t>(m_info->elementSize);
    {
        CCriticalSectionLock guard(m_lock);
        const std::size_t g = storageGroup(group);
        if (g >= m_values.groups.size())
            return badAddress("assignElements", group, 0, 0);
        if (m_info->isItemType())
            return ZEL_ERROR(m_info->paramName.toUtf8(), "zelstr_CAudioParam_assignElements_Items",
                             "Parameter '%1' holds data items, not real values.",
                             {m_info->paramName.toUtf8()});
        if (values.size() % size != 0 || (m_info->singleElement && values.size() != size))
            return ZEL_ERROR(m_info->paramName.toUtf8(), "zelstr_CAudioParam_assignElements",
                             "Invalid number of values %1 for parameter '%2'.",
                             {std::to_string(values.size()), m_info->paramName.toUtf8()});
        std::vector<double>& target = m_values.groups[g];
        target.assign(values.begin(), values.end());
        clampGroup(target);
    }
    notify(group, origin);
    return nullptr;
}

void CAudioParam::resetToDefaults(std::int32_t origin)
{
    {
        CCriticalSectionLock guard(m_lock);
        for (std::size_t group = 0; group < m_values.groups.size(); ++group)
            fillDefaults(group);
    }
    notifyAll(origin);
}

double CAudioParam::normValue(std::int32_t group, std::int32_t element, std::int32_t index) const
{
    const CAudioParamConverter* converter = m_info->converter(index);
    if (converter == nullptr)
        return 0.0;
    return converter->valueToNorm(*m_info, index, value(group, element, index));
}

CErrorPtr CAudioParam::setNormValue(std::int32_t group, std::int32_t element, std::int32_t index,
                                    double norm, std::int32_t origin)
{
    const CAudioParamConverter* converter = m_info->converter(index);
    if (converter == nullptr)
        return badAddress("setNormValue", group, element, index);
    return setValue(group, element, index, converter->normToValue(*m_info, index, norm), origin);
}

CText CAudioParam::text(std::int32_t group, std::int32_t element, std::int32_t index,
                        std::int32_t mode) const
{
    const CAudioParamConverter* converter = m_info->converter(index);
    if (converter == nullptr)
        return CText();
    CCriticalSectionLock guard(m_lock);
    return converter->valueToText(*m_info, index, value(group, element, index), mode, &m_data);
}

CErrorPtr CAudioParam::setText(std::int32_t group, std::int32_t element, std::int32_t index,
                               const CText& text, bool* ok, std::int32_t origin)
{
    const CAudioParamConverter* converter = m_info->converter(index);
    if (converter == nullptr)
        return badAddress("setText", group, element, index);
    bool parsed = true;
    const double parsedValue = converter->textToValue(*m_info, index, text, &parsed);
    if (ok != nullptr)
        *ok = parsed;
    if (!parsed)
        return nullptr;
    return setValue(group, element, index, parsedValue, origin);
}

CText CAudioParam::string(std::int32_t group, std::int32_t element) const
{
    CCriticalSectionLock guard(m_lock);
    const auto* item = dynamic_cast<const CAudioParamDataItemString*>(
        m_data.findByValue(value(group, element, 0)));
    return item != nullptr ? item->text() : CText();
}

CErrorPtr CAudioParam::setString(std::int32_t group, std::int32_t element, const CText& text,
                                 std::int32_t origin)
{
    ZEL_TRY(needItems("setString", EAudioParamDataType::kString), m_info->paramName.toUtf8());
    {
        CCriticalSectionLock guard(m_lock);
        const std::size_t at = valueIndex(group, element, 0);
        if (at == kNoValue)
            return badAddress("setString", group, element, 0);
        double& slot = m_values.groups[storageGroup(group)][at];
        dropItem(slot);
        slot = static_cast<double>(m_data.add(std::make_unique<CAudioParamDataItemString>(text)));
    }
    notify(group, origin);
    return nullptr;
}

std::vector<std::uint8_t> CAudioParam::rawBlock(std::int32_t group, std::int32_t element) const
{
    CCriticalSectionLock guard(m_lock);
    const auto* item =
        dynamic_cast<const CAudioParamDataItemRaw*>(m_data.findByValue(value(group, element, 0)));
    return item != nullptr ? item->bytes() : std::vector<std::uint8_t>();
}

CErrorPtr CAudioParam::setRawBlock(std::int32_t group, std::int32_t element,
                                   std::vector<std::uint8_t> bytes, std::int32_t origin)
{
    ZEL_TRY(needItems("setRawBlock", EAudioParamDataType::kRaw), m_info->paramName.toUtf8());
    {
        CCriticalSectionLock guard(m_lock);
        const std::size_t at = valueIndex(group, element, 0);
        if (at == kNoValue)
            return badAddress("setRawBlock", group, element, 0);
        double& slot = m_values.groups[storageGroup(group)][at];
        dropItem(slot);
        slot = static_cast<double>(
            m_data.add(std::make_unique<CAudioParamDataItemRaw>(std::move(bytes))));
    }
    notify(group, origin);
    return nullptr;
}

void CAudioParam::commitLoaded(std::int32_t origin)
{
    {
        CCriticalSectionLock guard(m_lock);
        m_loading.elementSize = m_values.elementSize;
        m_loading.dataType = m_values.dataType;
        m_loading.groups.resize(m_values.groups.size());
        for (auto& group : m_loading.groups)
        {
            group.resize(group.size() -
                         group.size() % static_cast<std::size_t>(m_info->elementSize));
            clampGroup(group);
        }
        std::swap(m_values.groups, m_loading.groups);
        dropReplacedItems(m_loading.groups, m_values.groups);
        m_loading.groups.clear();
    }
    notifyAll(origin);
}

void CAudioParam::dropReplacedItems(const std::vector<std::vector<double>>& old,
                                    const std::vector<std::vector<double>>& current)
{
    if (!m_info->isItemType())
        return;
    for (const auto& values : old)
        for (double value : values)
        {
            bool kept = false;
            for (const auto& now : current)
                kept = kept || std::find(now.begin(), now.end(), value) != now.end();
            if (!kept)
                dropItem(value);
        }
}

CErrorPtr CAudioParam::saveRecord(COutputStream& out, const CText& path, std::int32_t group) const
{
    const std::string owner = m_info->paramName.toUtf8();
    ZEL_TRY(out.writeString(path), owner);
    CCriticalSectionLock guard(m_lock);
    const std::int32_t saved = group < 0 ? -1 : static_cast<std::int32_t>(storageGroup(group));
    if (saved >= 0 && static_cast<std::size_t>(saved) >= m_values.groups.size())
        return badAddress("saveRecord", group, 0, 0);
    ZEL_TRY(m_values.save(out, m_data, saved), owner);
    return nullptr;
}

CErrorPtr CAudioParam::loadRecord(CInputStream& in, std::int32_t group, CText* path,
                                  std::int32_t origin)
{
    const std::string owner = m_info->paramName.toUtf8();
    CText storedPath;
    ZEL_TRY(in.readString(storedPath), owner);
    // Read without the lock into scratch objects: the stream may be slow and may fail.
    CAudioParamStorage stored;
    stored.elementSize = m_info->elementSize;
    stored.dataType = m_info->dataType;
    CAudioParamData storedItems;
    ZEL_TRY(stored.load(in, storedItems), owner);
    const std::size_t size = static_cast<std::size_t>(m_info->elementSize);
    for (const auto& values : stored.groups)
        if (m_info->singleElement && values.size() != size)
            return ZEL_ERROR(owner, "zelstr_CAudioParam_loadRecord_ElementCount",
                             "Invalid number of values %1 for parameter '%2'.",
                             {std::to_string(values.size()), owner});
    if (path != nullptr)
        *path = storedPath;

    const std::size_t target = group < 0 ? kNoValue : storageGroup(group);
    {
        CCriticalSectionLock guard(m_lock);
        if (target != kNoValue && target >= m_values.groups.size())
            return badAddress("loadRecord", group, 0, 0);
        m_loading.groups = m_values.groups;
        for (std::size_t g = 0; g < m_loading.groups.size(); ++g)
        {
            if (target != kNoValue && g != target)
                continue;
            std::vector<double> values = stored.groups[std::min(g, stored.groups.size() - 1)];
            if (m_info->isItemType())
                for (double& value : values)
                    value = m_data.copyValueFrom(storedItems, value);
            m_loading.groups[g] = std::move(values);
        }
    }
    if (target == kNoValue)
    {
        commitLoaded(origin);
        return nullptr;
    }
    {
        CCriticalSectionLock guard(m_lock);
        std::vector<double>& values = m_loading.groups[target];
        values.resize(values.size() - values.size() % size);
        clampGroup(values);
        std::swap(m_values.groups, m_loading.groups);
        dropReplacedItems(m_loading.groups, m_values.groups);
        m_loading.groups.clear();
    }
    notify(group, origin);
    return nullptr;
}

void CAudioParam::addListener(CAudioParamListener* listener, bool watchDestruction)
{
    CCriticalSectionLock guard(m_lock);
    if (listener == nullptr)
        return;
    if (std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end())
        m_listeners.push_back(listener);
    if (watchDestruction && std::find(m_destructionWatchers.begin(), m_destructionWatchers.end(),
                                      listener) == m_destructionWatchers.end())
        m_destructionWatchers.push_back(listener);
}

void CAudioParam::removeListener(CAudioParamListener* listener)
{
    CCriticalSectionLock guard(m_lock);
    std::erase(m_listeners, listener);
    std::erase(m_destructionWatchers, listener);
}

void CAudioParam::notify(std::int32_t group, std::int32_t origin)
{
    // The change is one operation: what the listeners post is delivered once they all ran
    // (or when an enclosing operation ends).
    const CAudioParamChangeScope operation;
    // The listeners are copied so that they run without the lock (and may remove themselves);
    // a short list is copied onto the stack so that a change allocates nothing.
    std::array<CAudioParamListener*, kInlineListeners> inlineCopy{};
    std::vector<CAudioParamListener*> heapCopy;
    std::span<CAudioParamListener* const> listeners;
    {
        CCriticalSectionLock guard(m_lock);
        if (m_listeners.size() <= inlineCopy.size())
        {
            std::copy(m_listeners.begin(), m_listeners.end(), inlineCopy.begin());
            listeners = std::span(inlineCopy.data(), m_listeners.size());
        }
        else
        {
            heapCopy = m_listeners;
            listeners = heapCopy;
        }
    }
    const auto reported = static_cast<std::int32_t>(storageGroup(group));
    for (CAudioParamListener* listener : listeners)
        listener->onAudioParamChanged(*this, reported, origin);
}

void CAudioParam::notifyAll(std::int32_t origin)
{
    const CAudioParamChangeScope operation;
    const std::int32_t groups = groupCount();
    for (std::int32_t group = 0; group < groups; ++group)
        notify(group, origin);
}

} // namespace zel
