#pragma once
// CAudioParamInput: one bound parameter input of a run-time process, the audio thread's copy of
// a parameter's values. It is filled from the parameter when bound (build time) and afterwards
// only from change entries (apply), so the audio thread never reads the live parameter except
// for a change of all parameters at once (wildcard id 9999), whose entry carries no values and
// makes the input copy the parameter's values again under its lock.
//
// Lookup per channel: value(group, element, index) where a process asks with its channel's
// group (CAudioProcessBase::paramValue does that). With group 0 only ("audio:param-scope"
// "is-group0" or the process's "is-group0") every group reads group 0; with element 0 only
// every element reads element 0. The use-all flags are carried for modules that walk every
// group or element themselves.
//
// Per-element inputs: an input that reads one element of a list (not element 0 only, not every
// element, and not a parameter declared with a single element) follows the owning process's
// element offset, which is how a module inside a band reads its band's entry. A list that
// holds one element is a single value and serves every offset.
//
// Not thread-safe: audio thread only once bound.

#include "Core/Text.h"

#include <cstdint>
#include <limits>
#include <vector>

namespace zel
{

class CAudioParam;
class CAudioParamChange;

class CAudioParamInput
{
public:
    // Reads the parameter's current values (takes its lock; allocates: build time).
    void bind(CAudioParam& param, std::int32_t id, const CText& path);
    bool isBound() const { return m_param != nullptr; }
    // True when a process's element offset applies to this input (see above).
    bool followsElementOffset() const { return !element0 && !allElements && !m_singleElement; }
    CAudioParam* param() const { return m_param; }
    std::int32_t paramId() const { return m_id; }
    const CText& path() const { return m_path; }

    // True when the entry is for this input's parameter or for all parameters.
    bool matches(const CAudioParamChange& change) const;
    // Copies the entry's values into the cache; returns true when it matched.
    bool apply(const CAudioParamChange& change);

    std::int32_t groupCount() const { return static_cast<std::int32_t>(m_values.size()); }
    std::int32_t elementCount(std::int32_t group) const;
    // fallback when the address names no value (or the input is unbound).
    double value(std::int32_t group, std::int32_t element = 0, std::int32_t index = 0,
                 double fallback = 0.0) const;
    const std::vector<double>& groupValues(std::int32_t group) const;

    // The rounded (half away from zero) first value of the input's group, -99999 when there
    // is none: the integer that structural inputs watch.
    std::int64_t roundedValue(std::int32_t group) const;

    bool group0 = false;
    bool element0 = false;
    bool allGroups = false;
    bool allElements = false;
    // Structural: a change of the rounded value marks the owning container dirty.
    bool structural = false;
    std::int64_t lastRounded = std::numeric_limits<std::int64_t>::min();

private:
    void reload();

    CAudioParam* m_param = nullptr;
    std::int32_t m_id = -1;
    std::int32_t m_elementSize = 1;
    bool m_singleElement = false;
    CText m_path;
    std::vector<std::vector<double>> m_values;
};

} // namespace zel
