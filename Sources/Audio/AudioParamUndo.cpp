#include "Audio/AudioParamUndo.h"

#include "Audio/AudioParam.h"
#include "Core/Numbers.h"

#include <algorithm>
#include <optional>

namespace zel
{

CAudioParamUndo::CAudioParamUndo() : m_lock(4000) {}

void CAudioParamUndo::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
}

CErrorPtr CAudioParamUndo::init()
{
    const std::string owner = fullName().toUtf8();
    ZEL_TRY(CObject::init(), owner);
    const CText text = attribute("undo-count-max");
    std::int32_t countMax = kMinCountMax;
    if (!text.empty() && !parseInteger32(text, countMax))
        return ZEL_ERROR(owner, "zelstr_CAudioParamUndo_init_InvalidCountMax",
                         "Invalid undo count '%1'.", {text.toUtf8()});
    CCriticalSectionLock guard(m_lock);
    m_countMax = std::max(countMax, kMinCountMax);
    return nullptr;
}

void CAudioParamUndo::addRecord(std::unique_ptr<CAudioParamUndoRecord> record, bool lockHeld)
{
    if (record == nullptr)
        return;
    std::optional<CCriticalSectionLock> guard;
    if (!lockHeld)
        guard.emplace(m_lock);
    if (record->changeCount() == 0)
        return;
    if (!m_records.empty() && m_records.back()->canMerge(*record))
    {
        m_records.back()->mergeAfter(*record);
        return;
    }
    m_records.resize(static_cast<std::size_t>(m_position));
    if (static_cast<std::int32_t>(m_records.size()) >= m_countMax)
        m_records.erase(m_records.begin());
    else
        ++m_position;
    m_records.push_back(std::move(record));
}

bool CAudioParamUndo::undo()
{
    const CAudioParamChangeScope operation;
    CCriticalSectionLock guard(m_lock);
    if (m_position <= 0)
        return false;
    --m_position;
    m_records[static_cast<std::size_t>(m_position)]->applyBefore();
    return true;
}

bool CAudioParamUndo::redo()
{
    const CAudioParamChangeScope operation;
    CCriticalSectionLock guard(m_lock);
    if (m_position >= static_cast<std::int32_t>(m_records.size()))
        return false;
    m_records[static_cast<std::size_t>(m_position)]->applyAfter();
    ++m_position;
    return true;
}

bool CAudioParamUndo::setPosition(std::int32_t position)
{
    const CAudioParamChangeScope operation;
    CCriticalSectionLock guard(m_lock);
    if (position < 0 || position > static_cast<std::int32_t>(m_records.size()))
        return false;
    while (m_position > position)
        undo();
    while (m_position < position)
        redo();
    return true;
}

std::int32_t CAudioParamUndo::position() const
{
    CCriticalSectionLock guard(m_lock);
    return m_position;
}

std::int32_t CAudioParamUndo::recordCount() const
{
    CCriticalSectionLock guard(m_lock);
    return static_cast<std::int32_t>(m_records.size());
}

std::int32_t CAudioParamUndo::countMax() const
{
    CCriticalSectionLock guard(m_lock);
    return m_countMax;
}

std::vector<CText> CAudioParamUndo::historyLabels() const
{
    CCriticalSectionLock guard(m_lock);
    std::vector<CText> labels{CText(kHistoryStartLabel)};
    for (const auto& record : m_records)
        labels.push_back(record->label());
    return labels;
}

void CAudioParamUndo::clear()
{
    CCriticalSectionLock guard(m_lock);
    m_records.clear();
    m_position = 0;
}

void CAudioParamUndo::forgetParam(const CAudioParam& param)
{
    CCriticalSectionLock guard(m_lock);
    for (const auto& record : m_records)
        record->forgetParam(param);
}

} // namespace zel
