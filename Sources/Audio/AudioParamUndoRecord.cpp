#include "Audio/AudioParamUndoRecord.h"

#include <algorithm>

namespace zel
{
namespace
{

using CGroupValues = CAudioParamUndoRecord::CGroupValues;

std::uint8_t flagsOf(const CAudioParamInfo& info)
{
    std::uint8_t flags = 0;
    if (info.global)
        flags |= CAudioParamUndoRecord::kFlagGlobal;
    if (info.storable)
        flags |= CAudioParamUndoRecord::kFlagStorable;
    if (info.persistent)
        flags |= CAudioParamUndoRecord::kFlagPersistent;
    if (info.discrete)
        flags |= CAudioParamUndoRecord::kFlagDiscrete;
    return flags;
}

const CGroupValues* findGroup(const std::vector<CGroupValues>& groups, std::int32_t group)
{
    for (const CGroupValues& values : groups)
        if (values.group == group)
            return &values;
    return nullptr;
}

// Copies the values of groups, cloning the items they name from source into target.
std::vector<CGroupValues> copyGroups(const std::vector<CGroupValues>& groups,
                                     EAudioParamDataType type, const CAudioParamData& source,
                                     CAudioParamData& target)
{
    std::vector<CGroupValues> copy = groups;
    if (type != EAudioParamDataType::kFloat)
        for (CGroupValues& values : copy)
            for (double& value : values.values)
                value = target.copyValueFrom(source, value);
    return copy;
}

} // namespace

CAudioParamUndoRecord::CAudioParamUndoRecord(CText label, bool mergeable, std::int32_t mergeId)
    : m_label(std::move(label)), m_mergeable(mergeable), m_mergeId(mergeId)
{
}

void CAudioParamUndoRecord::captureBefore(CAudioParam& param, const CText& path, std::int32_t group,
                                          std::int32_t elementIndex, std::int32_t elementCount)
{
    capture(param, path, {group, elementIndex, elementCount}, false);
}

void CAudioParamUndoRecord::captureAfter(CAudioParam& param, const CText& path, std::int32_t group,
                                         std::int32_t elementIndex, std::int32_t elementCount)
{
    capture(param, path, {group, elementIndex, elementCount}, true);
}

void CAudioParamUndoRecord::capture(CAudioParam& param, const CText& path, CDescriptor descriptor,
                                    bool after)
{
    const CAudioParamInfo& info = param.info();
    if (info.undoDisabled)
        return;
    descriptor.elementIndex = std::max(descriptor.elementIndex, 0);
    if (descriptor.elementCount < -1)
        descriptor.elementCount = -1;
    if (descriptor.group < -1)
        descriptor.group = -1;
    descriptor.dataType = info.dataType;
    descriptor.flags = flagsOf(info);

    CParamEntry& entry = m_entries[path];
    if (entry.param != &param)
    {
        // The path now names another parameter: what was captured for the old one is void.
        for (const CChange& change : entry.changes)
        {
            dropItems(change.descriptor.dataType, change.before);
            dropItems(change.descriptor.dataType, change.after);
        }
        entry.changes.clear();
        entry.param = &param;
    }
    auto found = std::find_if(entry.changes.begin(), entry.changes.end(),
                              [&](const CChange& c) { return c.descriptor == descriptor; });
    if (found == entry.changes.end())
    {
        entry.changes.push_back(CChange{descriptor, false, false, {}, {}});
        found = entry.changes.end() - 1;
    }
    CChange& change = *found;
    if (!after && change.hasBefore)
        return;

    std::vector<CGroupValues> snapshot;
    {
        CCriticalSectionLock guard(param.lock());
        const CAudioParamStorage& storage = param.storage();
        const auto size = static_cast<std::size_t>(info.elementSize);
        const auto groupCount = static_cast<std::int32_t>(storage.groups.size());
        std::int32_t first = descriptor.group;
        std::int32_t last = descriptor.group;
        if (descriptor.group < 0)
        {
            first = 0;
            last = groupCount - 1;
        }
        for (std::int32_t group = first; group <= last; ++group)
        {
            const std::int32_t stored = info.singleGroup ? 0 : group;
            if (stored >= groupCount)
                continue;
            const std::vector<double>& values = storage.groups[static_cast<std::size_t>(stored)];
            const std::size_t count = values.size() / size;
            const std::size_t begin =
                std::min(static_cast<std::size_t>(descriptor.elementIndex), count);
            const std::size_t end =
                descriptor.elementCount < 0
                    ? count
                    : std::min(count, begin + static_cast<std::size_t>(descriptor.elementCount));
            CGroupValues copy{group, {}};
            for (std::size_t i = begin * size; i < end * size; ++i)
                copy.values.push_back(
                    info.isItemType() ? m_items.copyValueFrom(param.data(), values[i]) : values[i]);
            snapshot.push_back(std::move(copy));
        }
    }
    if (after)
    {
        dropItems(info.dataType, change.after);
        change.after = std::move(snapshot);
        change.hasAfter = true;
    }
    else
    {
        change.before = std::move(snapshot);
        change.hasBefore = true;
    }
}

void CAudioParamUndoRecord::dropItems(EAudioParamDataType type,
                                      const std::vector<CGroupValues>& groups)
{
    if (type == EAudioParamDataType::kFloat)
        return;
    for (const CGroupValues& values : groups)
        for (double value : values.values)
            m_items.remove(CAudioParamData::idOfValue(value));
}

bool CAudioParamUndoRecord::sameValue(EAudioParamDataType type, double a, double b) const
{
    if (type == EAudioParamDataType::kFloat)
        return a == b;
    const CAudioParamDataItem* first = m_items.findByValue(a);
    const CAudioParamDataItem* second = m_items.findByValue(b);
    if (first == nullptr || second == nullptr)
        return first == second;
    if (first->typeCode() != second->typeCode())
        return false;
    if (const auto* text = dynamic_cast<const CAudioParamDataItemString*>(first))
        return text->text() == static_cast<const CAudioParamDataItemString*>(second)->text();
    return static_cast<const CAudioParamDataItemRaw*>(first)->bytes() ==
           static_cast<const CAudioParamDataItemRaw*>(second)->bytes();
}

std::int32_t CAudioParamUndoRecord::changeCount() const
{
    std::int32_t count = 0;
    for (const auto& [path, entry] : m_entries)
    {
        const auto size = static_cast<std::size_t>(entry.param->info().elementSize);
        for (const CChange& change : entry.changes)
        {
            if (!change.hasBefore || !change.hasAfter)
                continue;
            for (const CGroupValues& before : change.before)
            {
                const CGroupValues* after = findGroup(change.after, before.group);
                const std::vector<double> none;
                const std::vector<double>& afterValues = after != nullptr ? after->values : none;
                const std::size_t elements =
                    std::max(before.values.size(), afterValues.size()) / size;
                for (std::size_t e = 0; e < elements; ++e)
                {
                    bool same = (e + 1) * size <= before.values.size() &&
                                (e + 1) * size <= afterValues.size();
                    for (std::size_t i = e * size; same && i < (e + 1) * size; ++i)
                        same =
                            sameValue(change.descriptor.dataType, before.values[i], afterValues[i]);
                    if (!same)
                        ++count;
                }
            }
        }
    }
    return count;
}

bool CAudioParamUndoRecord::canMerge(const CAudioParamUndoRecord& record) const
{
    if (!m_mergeable || !record.m_mergeable || m_mergeId != record.m_mergeId ||
        m_entries.size() != record.m_entries.size())
        return false;
    for (auto mine = m_entries.begin(), theirs = record.m_entries.begin(); mine != m_entries.end();
         ++mine, ++theirs)
    {
        if (mine->first != theirs->first || mine->second.param != theirs->second.param ||
            mine->second.changes.size() != theirs->second.changes.size())
            return false;
        for (std::size_t i = 0; i < mine->second.changes.size(); ++i)
            if (!(mine->second.changes[i].descriptor == theirs->second.changes[i].descriptor))
                return false;
    }
    return true;
}

void CAudioParamUndoRecord::mergeAfter(const CAudioParamUndoRecord& record)
{
    if (!canMerge(record))
        return;
    for (auto& [path, entry] : m_entries)
    {
        const CParamEntry& source = record.m_entries.at(path);
        for (std::size_t i = 0; i < entry.changes.size(); ++i)
        {
            CChange& change = entry.changes[i];
            const CChange& newer = source.changes[i];
            if (!newer.hasAfter)
                continue;
            dropItems(change.descriptor.dataType, change.after);
            change.after =
                copyGroups(newer.after, change.descriptor.dataType, record.m_items, m_items);
            change.hasAfter = true;
        }
    }
}

void CAudioParamUndoRecord::applyBefore(std::int32_t origin) const
{
    apply(false, origin);
}

void CAudioParamUndoRecord::applyAfter(std::int32_t origin) const
{
    apply(true, origin);
}

void CAudioParamUndoRecord::apply(bool after, std::int32_t origin) const
{
    for (const auto& [path, entry] : m_entries)
    {
        CAudioParam& param = *entry.param;
        const CAudioParamInfo& info = param.info();
        const auto size = static_cast<std::size_t>(info.elementSize);
        // Undo walks the captures backwards so that overlapping ranges end as they began.
        const std::size_t count = entry.changes.size();
        for (std::size_t n = 0; n < count; ++n)
        {
            const CChange& change = entry.changes[after ? n : count - 1 - n];
            if (!change.hasBefore || !change.hasAfter)
                continue;
            const std::vector<CGroupValues>& wanted = after ? change.after : change.before;
            const std::vector<CGroupValues>& present = after ? change.before : change.after;
            for (const CGroupValues& target : wanted)
            {
                std::vector<double> values = param.elements(target.group);
                const CGroupValues* now = findGroup(present, target.group);
                const std::size_t elements = values.size() / size;
                const std::size_t begin =
                    std::min(static_cast<std::size_t>(change.descriptor.elementIndex), elements);
                std::size_t end = elements;
                if (change.descriptor.elementCount >= 0)
                    end = std::min(elements, begin + (now != nullptr ? now->values.size() / size
                                                                     : std::size_t{0}));
                std::vector<double> inserted = target.values;
                std::vector<std::int32_t> cloned;
                if (info.isItemType())
                {
                    CCriticalSectionLock guard(param.lock());
                    for (double& value : inserted)
                    {
                        value = param.data().copyValueFrom(m_items, value);
                        cloned.push_back(CAudioParamData::idOfValue(value));
                    }
                }
                values.erase(values.begin() + static_cast<std::ptrdiff_t>(begin * size),
                             values.begin() + static_cast<std::ptrdiff_t>(end * size));
                values.insert(values.begin() + static_cast<std::ptrdiff_t>(begin * size),
                              inserted.begin(), inserted.end());
                if (param.setElements(target.group, std::move(values), origin))
                {
                    // The parameter refused the values: its own items stay as they were.
                    CCriticalSectionLock guard(param.lock());
                    for (std::int32_t id : cloned)
                        param.data().remove(id);
                }
            }
        }
    }
}

void CAudioParamUndoRecord::forgetParam(const CAudioParam& param)
{
    for (auto it = m_entries.begin(); it != m_entries.end();)
    {
        if (it->second.param != &param)
        {
            ++it;
            continue;
        }
        for (const CChange& change : it->second.changes)
        {
            dropItems(change.descriptor.dataType, change.before);
            dropItems(change.descriptor.dataType, change.after);
        }
        it = m_entries.erase(it);
    }
}

} // namespace zel
