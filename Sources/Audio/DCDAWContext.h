#pragma once
// CDCDAWContextObject ("audio:dcdaw-context"): the per-instance kernel context. It owns a pool of
// exactly 4000 reference-counted 64-bit sample buffers, a pool of kernel call records and a
// table of shared workspaces by 32-bit key. Modules take buffers, fill call records and issue
// them; the context runs each kernel at once on the calling thread.
//
// Buffer reference: a 32-bit value, low 12 bits the slot index, upper 20 bits a byte offset into
// the slot's buffer, so sub-buffers of one slot need no slots of their own.
//
// This class is not thread-safe and holds no lock: one audio thread takes, issues and releases.
// It is not a scheduler either: calls run in the order they are issued, at once, except
// inside a pair of lanes (below), where they wait until the lanes are run. It does not know
// what a kernel computes; descriptors live in Audio/Kernels.
//
// Lanes: a process whose per-channel modules issue the same stateful kernels for two channels
// can let those calls run side by side. beginLane(0), the first channel's calls,
// beginLane(1), the second's, runLanes(): meanwhile issue() validates and references each
// call and queues it on the current lane (its results are not there yet, so a module may only
// use lanes while it reads no kernel output during its run). runLanes() runs call k of lane 0
// with call k of lane 1 through the kernel's paired form (DCDAWKernel.h) when both name the
// same kernel that has one, and every other call alone, each lane in its own order. When a
// slot written by one lane is named by the other, the lanes are not independent and run one
// after the other instead, lane 0 first: the order of issuing. Either way the results are
// those of running every call when issued.

#include "Audio/DCDAWContextWorkspace.h"
#include "Audio/Kernels/DCDAWKernel.h"
#include "Core/Error.h"
#include "Core/Object.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>

namespace zel
{

class CDCDAWContextObject : public CObject
{
public:
    static constexpr std::uint32_t kSlotCount = 4000;
    static constexpr std::uint32_t kSlotBits = 12;
    static constexpr std::uint32_t kSlotMask = (1u << kSlotBits) - 1;
    static constexpr std::uint32_t kMaxOffset = (1u << (32 - kSlotBits)) - 1;
    // State word: a notify-on-use request, raised by the first issued call naming the slot.
    static constexpr std::uint32_t kNotifyOnUse = 1u << 29;
    // State word: the slot is taken (its count field is a reference count, not a free link).
    static constexpr std::uint32_t kInUse = 1u << 31;
    // End of the free list.
    static constexpr std::uint32_t kNoSlot = 0xFFFFFFFFu;

    using CWorkspaceFactory = std::function<std::unique_ptr<CDCDAWContextWorkspace>()>;

    CDCDAWContextObject();
    ~CDCDAWContextObject() override;

    static void registerClass(CClassInfo& info);

    // ---- References ----
    static constexpr std::uint32_t makeReference(std::uint32_t slot, std::uint32_t byteOffset)
    {
        return (byteOffset << kSlotBits) | (slot & kSlotMask);
    }
    static constexpr std::uint32_t slotOf(std::uint32_t ref) { return ref & kSlotMask; }
    static constexpr std::uint32_t offsetOf(std::uint32_t ref) { return ref >> kSlotBits; }
    // The reference of the double at index sampleIndex of ref's buffer.
    static constexpr std::uint32_t offsetReference(std::uint32_t ref, std::uint32_t sampleIndex)
    {
        return makeReference(slotOf(ref), offsetOf(ref) + sampleIndex * 8u);
    }

    // ---- Buffers ----
    // Pops the head of the free list, gives it a count of 1 and at least `bytes` of storage
    // (the old storage is freed and new storage allocated when it is smaller; newly allocated
    // storage is zeroed; capacity never shrinks). ref receives the slot with offset 0. Fails
    // with an error when the pool is empty or the storage cannot be allocated.
    CErrorPtr takeBuffer(std::uint32_t bytes, std::uint32_t& ref);
    // One more holder of ref's slot.
    CErrorPtr addReference(std::uint32_t ref);
    // One holder fewer; the last release puts the slot at the head of the free list (its
    // storage is kept for the next taker, its notification settings are cleared).
    CErrorPtr releaseReference(std::uint32_t ref);
    // The resolved storage of a taken slot plus the offset, or null for an invalid reference.
    double* data(std::uint32_t ref) const;
    // Replaces every NaN and infinity in the storage of every slot (taken or free) by 0 and
    // returns how many it replaced. This is the recovery after a non-finite value got into the
    // graph: filter histories, detector states and delay lines restart from rest, the rest
    // of the pool keeps its contents. Integer fields that kernels keep bit-exactly in state
    // records (seeds, counts, flags) never have the bit pattern of a non-finite double, so they
    // survive. Allocates nothing; a pass over the whole pool, not for every block.
    std::size_t clearNonFinite();

    // ---- Notification (meters publish through it) ----
    // Registers the two flag bytes that a notify-on-use request sets to 1 (either may be null).
    CErrorPtr setNotifyFlags(std::uint32_t ref, std::uint8_t* first, std::uint8_t* second);
    // Sets the notify-on-use request of ref's slot.
    CErrorPtr requestNotify(std::uint32_t ref);

    // ---- Calls ----
    // A cleared call record from the pool; a new one is allocated only when the pool is empty.
    CErrorPtr getCall(CDCDAWCall*& call);
    // Gives back a record that was not issued.
    void returnCall(CDCDAWCall* call);
    // Validates every argument reference (taken slot, slot < 4000, offset inside the buffer
    // and a multiple of 8), adds one reference per argument, resolves the data pointers, runs
    // the kernel, then per argument in order raises a pending notification and releases the
    // reference. The record goes back to the pool in every case; on a refused reference the
    // kernel is not run and no count changes.
    CErrorPtr issue(CDCDAWCall* call);
    // Takes a record, fills it and issues it.
    CErrorPtr issue(const CDCDAWKernel& kernel, std::int32_t n, double x,
                    std::initializer_list<std::uint32_t> refs);

    // ---- Lanes (see the class comment) ----
    static constexpr int kLaneCapacity = 8; // a fuller lane runs what waits, in issue order
    // Queues the following calls on lane 0 or 1.
    void beginLane(int lane);
    // Runs the queued calls and returns to running calls when issued.
    void runLanes();
    bool inLanes() const { return m_lane >= 0; }

    // ---- Workspaces ----
    CDCDAWContextWorkspace* findWorkspace(std::uint32_t key) const;
    // The workspace of key, created by factory and kept when missing. Fails when the factory
    // gives nothing.
    CErrorPtr findOrCreateWorkspace(std::uint32_t key, const CWorkspaceFactory& factory,
                                    CDCDAWContextWorkspace*& workspace);

    // ---- Inspection ----
    std::uint32_t referenceCount(std::uint32_t slot) const;
    std::uint32_t capacity(std::uint32_t slot) const;
    std::uint32_t stateWord(std::uint32_t slot) const;
    std::uint32_t freeSlotCount() const { return m_freeCount; }
    std::uint32_t freeListHead() const { return m_freeHead; }
    std::size_t allocatedCallCount() const { return m_callCount; }
    // Kernels run since the context was made (a refused call does not count); a cost measure
    // for tests and benchmarks.
    std::uint64_t issuedCallCount() const { return m_issuedCount; }

private:
    struct CSlot
    {
        double* data = nullptr;
        std::uint32_t capacity = 0; // bytes
        // Reference count while taken; index of the next free slot while free.
        std::uint32_t count = 0;
        std::uint32_t state = 0;
        std::uint8_t* notifyFlags[2] = {nullptr, nullptr};
    };
    struct CCallChunk;

    const CSlot* takenSlot(std::uint32_t ref) const;
    // Raises pending notifications, drops the call's references and returns the record.
    void finishCall(CDCDAWCall* call);
    void runCall(CDCDAWCall* call);
    // Runs every queued call alone, lane 0 first.
    void runLanesInOrder();
    bool lanesIndependent() const;
    bool writesSlotOf(const CDCDAWCall* writer, const CDCDAWCall* other) const;
    CErrorPtr invalidReference(const char* method, std::uint32_t ref) const;
    void freeSlot(std::uint32_t index);

    std::array<CSlot, kSlotCount> m_slots;
    std::uint32_t m_freeHead = 0;
    std::uint32_t m_freeCount = kSlotCount;

    CDCDAWCall* m_freeCalls = nullptr;
    CCallChunk* m_callChunks = nullptr;
    std::size_t m_callCount = 0;
    std::uint64_t m_issuedCount = 0;

    std::map<std::uint32_t, std::unique_ptr<CDCDAWContextWorkspace>> m_workspaces;

    CDCDAWCall* m_lanes[2][kLaneCapacity] = {};
    int m_laneCount[2] = {0, 0};
    int m_lane = -1; // -1: calls run when issued
};

} // namespace zel
