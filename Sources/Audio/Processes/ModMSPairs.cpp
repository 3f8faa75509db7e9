#include "Audio/Processes/ModMSPairs.h"

#include "Audio/AudioParamInput.h"
#include "Audio/AudioProcessBase.h"

#include <algorithm>
#include <cmath>

namespace zel
{

void CModMSPairs::build(const CAudioProcessSetup& setup, std::int32_t channels,
                        const CAudioParamInput& selection, double fallback)
{
    std::array<std::int32_t, kMaxChannels> perGroup{};
    for (std::int32_t g = 0; g < kMaxChannels; ++g)
    {
        const double v = selection.isBound() ? selection.value(g, 0, 0, fallback) : fallback;
        perGroup[static_cast<std::size_t>(g)] =
            std::isfinite(v) ? static_cast<std::int32_t>(std::round(std::clamp(v, -1.0, 99.0))) : 0;
    }
    build(setup, channels, perGroup.data(), kMaxChannels);
}

void CModMSPairs::build(const CAudioProcessSetup& setup, std::int32_t channels,
                        const std::int32_t* perGroup, std::int32_t groupCount)
{
    m_count = 0;
    channels = std::clamp(channels, 0, kMaxChannels);
    // Walk the channels once, counting each group's members; the k-th pair of a group is
    // complete when its member number 2k is seen.
    std::array<std::int32_t, kMaxChannels> seen{};
    std::array<std::int32_t, kMaxChannels> pending{};
    pending.fill(-1);
    for (std::int32_t c = 0; c < channels; ++c)
    {
        const std::int32_t g = setup.groupOf(c);
        if (g < 0 || g >= groupCount || g >= kMaxChannels)
            continue;
        const auto gi = static_cast<std::size_t>(g);
        const std::int32_t k = perGroup[gi];
        const std::int32_t member = seen[gi]++; // 0-based position within the group
        if (k < 1 || k > kMaxSelection)
            continue;
        if (member == 2 * k - 2)
            pending[gi] = c;
        else if (member == 2 * k - 1 && pending[gi] >= 0)
        {
            m_first[static_cast<std::size_t>(m_count)] = pending[gi];
            m_second[static_cast<std::size_t>(m_count)] = c;
            ++m_count;
        }
    }
}

bool CModMSPairs::isPaired(std::int32_t channel) const
{
    for (std::int32_t i = 0; i < m_count; ++i)
        if (first(i) == channel || second(i) == channel)
            return true;
    return false;
}

bool CModMSPairs::operator==(const CModMSPairs& other) const
{
    if (m_count != other.m_count)
        return false;
    for (std::int32_t i = 0; i < m_count; ++i)
        if (first(i) != other.first(i) || second(i) != other.second(i))
            return false;
    return true;
}

} // namespace zel
