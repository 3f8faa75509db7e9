#include "Audio/AudioParamInput.h"

#include "Audio/AudioParam.h"
#include "Audio/AudioParamChange.h"

#include <algorithm>
#include <cmath>

namespace zel
{

namespace
{
// Room reserved per group so that curve edits of working size allocate nothing.
constexpr std::size_t kReservedValues = 256;
const std::vector<double> kNoValues;
} // namespace

void CAudioParamInput::bind(CAudioParam& param, std::int32_t id, const CText& path)
{
    m_param = &param;
    m_id = id;
    m_path = path;
    m_elementSize = std::max<std::int32_t>(1, param.info().elementSize);
    m_singleElement = param.info().singleElement;
    reload();
    for (std::vector<double>& group : m_values)
        group.reserve(std::max(kReservedValues, group.size()));
}

void CAudioParamInput::reload()
{
    CCriticalSectionLock lock(m_param->lock());
    const CAudioParamStorage& storage = m_param->storage();
    m_values.resize(storage.groups.size());
    for (std::size_t g = 0; g < storage.groups.size(); ++g)
        m_values[g].assign(storage.groups[g].begin(), storage.groups[g].end());
}

bool CAudioParamInput::matches(const CAudioParamChange& change) const
{
    return m_param != nullptr &&
           (change.paramId() == m_id || change.paramId() == CAudioParamChange::kAllParams);
}

bool CAudioParamInput::apply(const CAudioParamChange& change)
{
    if (!matches(change))
        return false;
    if (change.paramId() == CAudioParamChange::kAllParams)
    {
        reload();
        return true;
    }
    const auto group = static_cast<std::size_t>(change.group());
    if (group >= m_values.size())
        return true;
    std::vector<double>& values = m_values[group];
    const std::vector<double>& incoming = change.values();
    if (change.isWholeGroup())
    {
        values.assign(incoming.begin(), incoming.end());
        return true;
    }
    const std::size_t first =
        static_cast<std::size_t>(change.elementIndex()) * static_cast<std::size_t>(m_elementSize);
    if (values.size() < first + incoming.size())
        values.resize(first + incoming.size(), 0.0);
    std::copy(incoming.begin(), incoming.end(),
              values.begin() + static_cast<std::ptrdiff_t>(first));
    return true;
}

std::int32_t CAudioParamInput::elementCount(std::int32_t group) const
{
    return static_cast<std::int32_t>(groupValues(group).size() /
                                     static_cast<std::size_t>(m_elementSize));
}

const std::vector<double>& CAudioParamInput::groupValues(std::int32_t group) const
{
    if (m_values.empty())
        return kNoValues;
    if (group0 || group < 0)
        group = 0;
    // A single-group parameter serves every group from its one set.
    const auto g = std::min(static_cast<std::size_t>(group), m_values.size() - 1);
    return m_values[g];
}

double CAudioParamInput::value(std::int32_t group, std::int32_t element, std::int32_t index,
                               double fallback) const
{
    const std::vector<double>& values = groupValues(group);
    if (element0)
        element = 0;
    if (element < 0 || index < 0 || index >= m_elementSize)
        return fallback;
    const std::size_t at =
        static_cast<std::size_t>(element) * static_cast<std::size_t>(m_elementSize) +
        static_cast<std::size_t>(index);
    return at < values.size() ? values[at] : fallback;
}

std::int64_t CAudioParamInput::roundedValue(std::int32_t group) const
{
    const double v = value(group, 0, 0, -99999.0);
    return static_cast<std::int64_t>(std::round(v)); // half away from zero
}

} // namespace zel
