#pragma once
// CAudioParamUndo: the undo history of parameter changes of one plug-in instance: an ordered
// list of records (CAudioParamUndoRecord, see AudioParamUndoRecord.h) and the current position
// (the number of records that are applied; 0 is the start of the history).
//
// Adding a record discards a record that changes nothing, merges a record into the last one
// when both are mergeable with the same merge id and the same change descriptors (a continuous
// knob drag becomes one step), else drops the redo branch and appends, dropping the oldest
// record when the history is full. Undo and redo write the before or after values of one
// record back into the parameters through their public API, so listeners hear the changes.
// Applying a record never creates a record: records are only made explicitly by the registry
// and the editor link, never from parameter listeners.
//
// The class has no type tag of its own: the audio end of the editor link derives from it. It
// is guarded by its own re-entrant lock (undoLock()); every public operation takes it.
// The history is not saved with the plug-in state.

#include "Audio/AudioParamUndoRecord.h"
#include "Core/Object.h"
#include "Platform/CriticalSection.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace zel
{

class CAudioParamUndo : public CObject
{
public:
    // Smallest capacity; "undo-count-max" below it (or missing) becomes it.
    static constexpr std::int32_t kMinCountMax = 4;
    // First entry of the history list.
    static constexpr const char* kHistoryStartLabel = "Undo history start";

    CAudioParamUndo();

    static void registerClass(CClassInfo& info);
    // Reads "undo-count-max".
    CErrorPtr init() override;

    // Appends or merges record (see above). lockHeld: the caller already holds undoLock().
    void addRecord(std::unique_ptr<CAudioParamUndoRecord> record, bool lockHeld = false);

    // Applies the before values of the record at position - 1 and moves back by one; false
    // (nothing changes) at the start.
    bool undo();
    // Applies the after values of the record at the position and moves forward by one; false
    // (nothing changes) at the end.
    bool redo();
    // Undoes or redoes step by step until position is reached; false when position is outside
    // [0, recordCount()] (nothing changes then).
    bool setPosition(std::int32_t position);

    std::int32_t position() const;
    std::int32_t recordCount() const;
    std::int32_t countMax() const;
    // kHistoryStartLabel, then one label per record, oldest first.
    std::vector<CText> historyLabels() const;
    // Removes every record; the position becomes 0.
    void clear();
    // Removes param from every record (call before the parameter is destroyed).
    void forgetParam(const CAudioParam& param);

    CCriticalSection& undoLock() const { return m_lock; }

private:
    mutable CCriticalSection m_lock;
    std::vector<std::unique_ptr<CAudioParamUndoRecord>> m_records;
    std::int32_t m_position = 0;
    std::int32_t m_countMax = kMinCountMax;
};

} // namespace zel
