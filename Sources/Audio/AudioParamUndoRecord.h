#pragma once
// CAudioParamUndoRecord: one step of the undo history: a label, a mergeable flag with a merge
// id, and per touched parameter (keyed by its path) the captured changes. A change is a
// descriptor (group, element index, element count, data type, flag bytes) with the values of
// that element range before and after the change, per group. Values of string and raw
// parameters name copies of the parameter's data items held in the record's own item table,
// so the record stays valid whatever the parameter does with its items later.
//
// The record does not own the parameters; the history drops them from its records when they
// go (CAudioParamUndo::forgetParam). A parameter whose definition is undo-disabled never
// enters a record. The record is not locked: the history that holds it guards it.

#include "Audio/AudioParam.h"
#include "Audio/AudioParamData.h"
#include "Core/Text.h"

#include <cstdint>
#include <map>
#include <vector>

namespace zel
{

class CAudioParamUndoRecord
{
public:
    // What one capture covers. group -1: every group; elementCount -1: every element from
    // elementIndex on.
    struct CDescriptor
    {
        std::int32_t group = -1;
        std::int32_t elementIndex = 0;
        std::int32_t elementCount = -1;
        EAudioParamDataType dataType = EAudioParamDataType::kFloat;
        // Bits of the definition's flags: kFlagGlobal, kFlagStorable, ...
        std::uint8_t flags = 0;

        bool operator==(const CDescriptor&) const = default;
    };
    static constexpr std::uint8_t kFlagGlobal = 1;
    static constexpr std::uint8_t kFlagStorable = 2;
    static constexpr std::uint8_t kFlagPersistent = 4;
    static constexpr std::uint8_t kFlagDiscrete = 8;
    // Change origin that listeners see when a record is applied.
    static constexpr std::int32_t kOriginUndo = 0x554E; // "UN"

    // The values of the captured element range of one group (whole elements; item ids in the
    // record's table for string and raw parameters).
    struct CGroupValues
    {
        std::int32_t group = 0;
        std::vector<double> values;
    };
    struct CChange
    {
        CDescriptor descriptor;
        bool hasBefore = false;
        bool hasAfter = false;
        std::vector<CGroupValues> before;
        std::vector<CGroupValues> after;
    };
    struct CParamEntry
    {
        CAudioParam* param = nullptr;
        std::vector<CChange> changes;
    };

    explicit CAudioParamUndoRecord(CText label, bool mergeable = false, std::int32_t mergeId = 0);
    CAudioParamUndoRecord(const CAudioParamUndoRecord&) = delete;
    CAudioParamUndoRecord& operator=(const CAudioParamUndoRecord&) = delete;

    // Snapshots the values of the range as the "before" values; called before the change. A
    // second capture of the same range keeps the first snapshot.
    void captureBefore(CAudioParam& param, const CText& path, std::int32_t group = -1,
                       std::int32_t elementIndex = 0, std::int32_t elementCount = -1);
    // Snapshots the values of the range as the "after" values; called once the change is made.
    // A later capture of the same range replaces the earlier one.
    void captureAfter(CAudioParam& param, const CText& path, std::int32_t group = -1,
                      std::int32_t elementIndex = 0, std::int32_t elementCount = -1);

    // Number of captured elements whose before and after values differ (items compare by
    // content). Only ranges captured both before and after count.
    std::int32_t changeCount() const;

    const CText& label() const { return m_label; }
    void setLabel(CText label) { m_label = std::move(label); }
    bool mergeable() const { return m_mergeable; }
    std::int32_t mergeId() const { return m_mergeId; }
    const std::map<CText, CParamEntry>& entries() const { return m_entries; }

    // True when record may be merged into this one: both mergeable with equal merge ids, the
    // same parameter paths and, per parameter, the same descriptors in the same order.
    bool canMerge(const CAudioParamUndoRecord& record) const;
    // Takes record's after values (copying their items into this record's table).
    void mergeAfter(const CAudioParamUndoRecord& record);

    // Write the before (undo) or after (redo) values back into the parameters, each group as a
    // whole through CAudioParam::setElements (listeners hear origin). Only ranges captured on
    // both sides are applied; the captured range is spliced into the group's current elements.
    void applyBefore(std::int32_t origin = kOriginUndo) const;
    void applyAfter(std::int32_t origin = kOriginUndo) const;

    // Drops every capture of param.
    void forgetParam(const CAudioParam& param);

private:
    void capture(CAudioParam& param, const CText& path, CDescriptor descriptor, bool after);
    void apply(bool after, std::int32_t origin) const;
    bool sameValue(EAudioParamDataType type, double a, double b) const;
    void dropItems(EAudioParamDataType type, const std::vector<CGroupValues>& groups);

    CText m_label;
    bool m_mergeable;
    std::int32_t m_mergeId;
    std::map<CText, CParamEntry> m_entries;
    // Copies of the data items that string and raw values name.
    CAudioParamData m_items;
};

} // namespace zel
