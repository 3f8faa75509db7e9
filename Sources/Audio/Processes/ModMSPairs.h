#pragma once
// CModMSPairs: the channel pairs that a mid/side module codes. The "M/S pairs" selection holds
// one value per channel group: 0 ("---") codes nothing in that group, k = 1 to 4 ("MS1" to
// "MS4") codes the group's k-th pair of channels, that is its channels number 2k-1 and 2k
// counted in channel order among the channels of the group. A selection naming a pair that the
// group does not have codes nothing. Each channel belongs to at most one pair, so a mid/side
// module touches at most 2 channels of each pair.
//
// A plain value type with fixed storage (no allocation); not a module.

#include <array>
#include <cstdint>

namespace zel
{

class CAudioParamInput;
struct CAudioProcessSetup;

class CModMSPairs
{
public:
    static constexpr std::int32_t kMaxChannels = 64;
    static constexpr std::int32_t kMaxSelection = 4;

    // Pairs of the first `channels` channels; the group of a channel comes from setup, the
    // selection of group g from selection.value(g) (rounded), or fallback when unbound.
    void build(const CAudioProcessSetup& setup, std::int32_t channels,
               const CAudioParamInput& selection, double fallback);
    // Same from plain per-group selections (groups past the array select nothing).
    void build(const CAudioProcessSetup& setup, std::int32_t channels, const std::int32_t* perGroup,
               std::int32_t groupCount);

    std::int32_t count() const { return m_count; }
    std::int32_t first(std::int32_t pair) const { return m_first[static_cast<std::size_t>(pair)]; }
    std::int32_t second(std::int32_t pair) const
    {
        return m_second[static_cast<std::size_t>(pair)];
    }
    // True when the channel belongs to a pair.
    bool isPaired(std::int32_t channel) const;

    bool operator==(const CModMSPairs& other) const;

private:
    std::array<std::int32_t, kMaxChannels / 2> m_first{};
    std::array<std::int32_t, kMaxChannels / 2> m_second{};
    std::int32_t m_count = 0;
};

} // namespace zel
