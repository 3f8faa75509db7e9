#include "Audio/DCDAWContext.h"

#include <cmath>
#include <cstddef>
#include <new>
#include <string>

namespace zel
{
namespace
{
std::string hex32(std::uint32_t value)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i, value >>= 4)
        text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    return text;
}
} // namespace

// Call records are allocated in small chunks and freed with the context, so that a record that
// a module never gave back is still freed.
struct CDCDAWContextObject::CCallChunk
{
    static constexpr std::size_t kRecords = 16;
    CDCDAWCall records[kRecords];
    CCallChunk* next = nullptr;
};

CDCDAWContextObject::CDCDAWContextObject()
{
    for (std::uint32_t i = 0; i < kSlotCount; ++i)
        m_slots[i].count = i + 1 < kSlotCount ? i + 1 : kNoSlot;
}

CDCDAWContextObject::~CDCDAWContextObject()
{
    m_workspaces.clear();
    for (CSlot& slot : m_slots)
    {
        delete[] slot.data;
        slot.data = nullptr;
    }
    while (m_callChunks != nullptr)
    {
        CCallChunk* next = m_callChunks->next;
        delete m_callChunks;
        m_callChunks = next;
    }
}

void CDCDAWContextObject::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
}

// ---- Buffers ----

CErrorPtr CDCDAWContextObject::takeBuffer(std::uint32_t bytes, std::uint32_t& ref)
{
    ref = 0;
    if (m_freeHead == kNoSlot)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CDCDAWContextObject_takeBuffer_PoolEmpty",
                         "The kernel buffer pool is exhausted: all %1 buffers are in use.",
                         {std::to_string(kSlotCount)});
    const std::uint32_t index = m_freeHead;
    CSlot& slot = m_slots[index];
    if (slot.capacity < bytes || slot.data == nullptr)
    {
        // At least one double, so that every taken slot has storage to point at.
        const std::size_t doubles = bytes == 0 ? 1 : (static_cast<std::size_t>(bytes) + 7) / 8;
        double* storage = new (std::nothrow) double[doubles]();
        if (storage == nullptr)
            return ZEL_ERROR(
                fullName().toUtf8(), "zelstr_CDCDAWContextObject_takeBuffer_OutOfMemory",
                "Cannot allocate a kernel buffer of %1 bytes.", {std::to_string(bytes)});
        delete[] slot.data;
        slot.data = storage;
        slot.capacity = static_cast<std::uint32_t>(doubles * 8);
    }
    m_freeHead = slot.count;
    --m_freeCount;
    slot.count = 1;
    slot.state = kInUse;
    ref = index;
    return nullptr;
}

const CDCDAWContextObject::CSlot* CDCDAWContextObject::takenSlot(std::uint32_t ref) const
{
    const std::uint32_t index = slotOf(ref);
    if (index >= kSlotCount)
        return nullptr;
    const CSlot& slot = m_slots[index];
    if ((slot.state & kInUse) == 0)
        return nullptr;
    return &slot;
}

CErrorPtr CDCDAWContextObject::invalidReference(const char* method, std::uint32_t ref) const
{
    return ZEL_ERROR(fullName().toUtf8(),
                     std::string("zelstr_CDCDAWContextObject_") + method + "_InvalidReference",
                     "Invalid kernel buffer reference 0x%1 (slot %2 is out of range or free).",
                     {hex32(ref), std::to_string(slotOf(ref))});
}

CErrorPtr CDCDAWContextObject::addReference(std::uint32_t ref)
{
    if (takenSlot(ref) == nullptr)
        return invalidReference("addReference", ref);
    ++m_slots[slotOf(ref)].count;
    return nullptr;
}

CErrorPtr CDCDAWContextObject::releaseReference(std::uint32_t ref)
{
    if (takenSlot(ref) == nullptr)
        return invalidReference("releaseReference", ref);
    const std::uint32_t index = slotOf(ref);
    if (--m_slots[index].count == 0)
        freeSlot(index);
    return nullptr;
}

void CDCDAWContextObject::freeSlot(std::uint32_t index)
{
    CSlot& slot = m_slots[index];
    slot.state = 0;
    slot.notifyFlags[0] = nullptr;
    slot.notifyFlags[1] = nullptr;
    slot.count = m_freeHead;
    m_freeHead = index;
    ++m_freeCount;
}

double* CDCDAWContextObject::data(std::uint32_t ref) const
{
    const CSlot* slot = takenSlot(ref);
    const std::uint32_t offset = offsetOf(ref);
    if (slot == nullptr || offset % 8 != 0 || (offset != 0 && offset >= slot->capacity))
        return nullptr;
    return slot->data + offset / 8;
}

std::size_t CDCDAWContextObject::clearNonFinite()
{
    std::size_t cleared = 0;
    for (CSlot& slot : m_slots)
    {
        double* values = slot.data;
        const std::size_t count = values != nullptr ? slot.capacity / 8u : 0u;
        for (std::size_t i = 0; i < count; ++i)
            if (!std::isfinite(values[i]))
            {
                values[i] = 0.0;
                ++cleared;
            }
    }
    return cleared;
}

// ---- Notification ----

CErrorPtr CDCDAWContextObject::setNotifyFlags(std::uint32_t ref, std::uint8_t* first,
                                              std::uint8_t* second)
{
    if (takenSlot(ref) == nullptr)
        return invalidReference("setNotifyFlags", ref);
    CSlot& slot = m_slots[slotOf(ref)];
    slot.notifyFlags[0] = first;
    slot.notifyFlags[1] = second;
    return nullptr;
}

CErrorPtr CDCDAWContextObject::requestNotify(std::uint32_t ref)
{
    if (takenSlot(ref) == nullptr)
        return invalidReference("requestNotify", ref);
    m_slots[slotOf(ref)].state |= kNotifyOnUse;
    return nullptr;
}

// ---- Calls ----

CErrorPtr CDCDAWContextObject::getCall(CDCDAWCall*& call)
{
    call = nullptr;
    if (m_freeCalls == nullptr)
    {
        CCallChunk* chunk = new (std::nothrow) CCallChunk();
        if (chunk == nullptr)
            return ZEL_ERROR(fullName().toUtf8(), "zelstr_CDCDAWContextObject_getCall_OutOfMemory",
                             "Cannot allocate kernel call records.");
        chunk->next = m_callChunks;
        m_callChunks = chunk;
        m_callCount += CCallChunk::kRecords;
        for (CDCDAWCall& record : chunk->records)
            returnCall(&record);
    }
    call = m_freeCalls;
    m_freeCalls = call->next;
    *call = CDCDAWCall();
    return nullptr;
}

void CDCDAWContextObject::returnCall(CDCDAWCall* call)
{
    if (call == nullptr)
        return;
    call->next = m_freeCalls;
    m_freeCalls = call;
}

CErrorPtr CDCDAWContextObject::issue(CDCDAWCall* call)
{
    if (call == nullptr)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CDCDAWContextObject_issue_NoCall",
                         "No kernel call record to issue.");
    const CDCDAWKernel* kernel = call->kernel;
    if (kernel == nullptr || kernel->function == nullptr || kernel->argCount < 1 ||
        kernel->argCount > CDCDAWCall::kMaxArgs)
    {
        returnCall(call);
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CDCDAWContextObject_issue_NoKernel",
                         "The kernel call record names no valid kernel.");
    }
    const int argCount = kernel->argCount;
    // Validate and resolve everything before touching a count.
    for (int i = 0; i < argCount; ++i)
    {
        call->data[i] = data(call->refs[i]);
        if (call->data[i] == nullptr)
        {
            const std::uint32_t ref = call->refs[i];
            returnCall(call);
            return ZEL_ERROR(fullName().toUtf8(),
                             "zelstr_CDCDAWContextObject_issue_InvalidReference",
                             "Invalid buffer reference 0x%1 in argument %2 of kernel '%3'.",
                             {hex32(ref), std::to_string(i), kernel->name});
        }
    }
    for (int i = 0; i < argCount; ++i)
        ++m_slots[slotOf(call->refs[i])].count;
    for (int i = argCount; i < CDCDAWCall::kMaxArgs; ++i)
        call->data[i] = nullptr;

    ++m_issuedCount;
    if (m_lane >= 0)
    {
        if (m_laneCount[m_lane] == kLaneCapacity)
            runLanesInOrder();
        m_lanes[m_lane][m_laneCount[m_lane]++] = call;
        return nullptr;
    }
    runCall(call);
    return nullptr;
}

void CDCDAWContextObject::runCall(CDCDAWCall* call)
{
    call->kernel->function(call);
    finishCall(call);
}

void CDCDAWContextObject::finishCall(CDCDAWCall* call)
{
    const int argCount = call->kernel->argCount;
    for (int i = 0; i < argCount; ++i)
    {
        const std::uint32_t index = slotOf(call->refs[i]);
        CSlot& slot = m_slots[index];
        if ((slot.state & kNotifyOnUse) != 0)
        {
            for (std::uint8_t* flag : slot.notifyFlags)
            {
                if (flag != nullptr)
                    *flag = 1;
            }
            slot.state &= ~kNotifyOnUse;
        }
        if (--slot.count == 0)
            freeSlot(index);
    }
    returnCall(call);
}

// ---- Lanes ----

void CDCDAWContextObject::beginLane(int lane)
{
    m_lane = lane == 0 ? 0 : 1;
}

void CDCDAWContextObject::runLanesInOrder()
{
    for (int lane = 0; lane < 2; ++lane)
    {
        for (int k = 0; k < m_laneCount[lane]; ++k)
            runCall(m_lanes[lane][k]);
        m_laneCount[lane] = 0;
    }
}

bool CDCDAWContextObject::writesSlotOf(const CDCDAWCall* writer, const CDCDAWCall* other) const
{
    const int writerArgs = writer->kernel->argCount;
    const int otherArgs = other->kernel->argCount;
    for (int i = 0; i < writerArgs; ++i)
    {
        if ((writer->kernel->writeMask & (1 << i)) == 0)
            continue;
        const std::uint32_t slot = slotOf(writer->refs[i]);
        for (int j = 0; j < otherArgs; ++j)
            if (slotOf(other->refs[j]) == slot)
                return true;
    }
    return false;
}

bool CDCDAWContextObject::lanesIndependent() const
{
    for (int a = 0; a < m_laneCount[0]; ++a)
        for (int b = 0; b < m_laneCount[1]; ++b)
            if (writesSlotOf(m_lanes[0][a], m_lanes[1][b]) ||
                writesSlotOf(m_lanes[1][b], m_lanes[0][a]))
                return false;
    return true;
}

void CDCDAWContextObject::runLanes()
{
    m_lane = -1;
    if (!lanesIndependent())
    {
        runLanesInOrder();
        return;
    }
    const int common = m_laneCount[0] < m_laneCount[1] ? m_laneCount[0] : m_laneCount[1];
    for (int k = 0; k < common; ++k)
    {
        CDCDAWCall* a = m_lanes[0][k];
        CDCDAWCall* b = m_lanes[1][k];
        const DCDAWPairFunction paired =
            a->kernel == b->kernel ? findDCDAWPairFunction(*a->kernel) : nullptr;
        if (paired != nullptr)
        {
            paired(a, b);
            finishCall(a);
            finishCall(b);
        }
        else
        {
            runCall(a);
            runCall(b);
        }
    }
    for (int lane = 0; lane < 2; ++lane)
    {
        for (int k = common; k < m_laneCount[lane]; ++k)
            runCall(m_lanes[lane][k]);
        m_laneCount[lane] = 0;
    }
}

CErrorPtr CDCDAWContextObject::issue(const CDCDAWKernel& kernel, std::int32_t n, double x,
                                     std::initializer_list<std::uint32_t> refs)
{
    if (refs.size() != static_cast<std::size_t>(kernel.argCount))
        return ZEL_ERROR(
            fullName().toUtf8(), "zelstr_CDCDAWContextObject_issue_ArgumentCount",
            "Kernel '%1' takes %2 arguments, %3 given.",
            {kernel.name, std::to_string(kernel.argCount), std::to_string(refs.size())});
    CDCDAWCall* call = nullptr;
    ZEL_TRY(getCall(call), fullName().toUtf8());
    call->kernel = &kernel;
    call->n = n;
    call->x = x;
    int i = 0;
    for (std::uint32_t ref : refs)
        call->refs[i++] = ref;
    return issue(call);
}

// ---- Workspaces ----

CDCDAWContextWorkspace* CDCDAWContextObject::findWorkspace(std::uint32_t key) const
{
    const auto it = m_workspaces.find(key);
    return it == m_workspaces.end() ? nullptr : it->second.get();
}

CErrorPtr CDCDAWContextObject::findOrCreateWorkspace(std::uint32_t key,
                                                     const CWorkspaceFactory& factory,
                                                     CDCDAWContextWorkspace*& workspace)
{
    workspace = findWorkspace(key);
    if (workspace != nullptr)
        return nullptr;
    std::unique_ptr<CDCDAWContextWorkspace> created = factory ? factory() : nullptr;
    if (!created)
        return ZEL_ERROR(fullName().toUtf8(),
                         "zelstr_CDCDAWContextObject_findOrCreateWorkspace_NotCreated",
                         "The workspace with key %1 could not be created.", {std::to_string(key)});
    workspace = created.get();
    m_workspaces.emplace(key, std::move(created));
    return nullptr;
}

// ---- Inspection ----

std::uint32_t CDCDAWContextObject::referenceCount(std::uint32_t slot) const
{
    if (slot >= kSlotCount || (m_slots[slot].state & kInUse) == 0)
        return 0;
    return m_slots[slot].count;
}

std::uint32_t CDCDAWContextObject::capacity(std::uint32_t slot) const
{
    return slot < kSlotCount ? m_slots[slot].capacity : 0;
}

std::uint32_t CDCDAWContextObject::stateWord(std::uint32_t slot) const
{
    return slot < kSlotCount ? m_slots[slot].state : 0;
}

} // namespace zel
