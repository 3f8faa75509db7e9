#pragma once
// CAudioConnection: the queue of audio segments travelling from one output channel of a process
// to one input channel of another (or of the graph's edge: the host's feed and tap).
//
// A segment is (pool reference, start, length), counted in samples: the samples start ..
// start + length - 1 of the kernel context buffer that the reference names. The connection
// holds its own reference to every queued segment's buffer; when one output feeds several
// inputs, each connection holds its own, so readers release independently and a buffer goes
// back to the pool when its last reader is done. Reading never copies: a reader gets a
// reference to the first unconsumed sample (the context's byte-offset references) and passes
// it to kernels; consume() then advances the front and drops the reference of a segment that
// is used up.
//
// Not thread-safe; the audio thread alone pushes and consumes. The ring grows (allocates) only
// when more segments are in flight than ever before; in the steady state it allocates nothing.

#include "Core/Error.h"

#include <cstdint>
#include <vector>

namespace zel
{

class CDCDAWContextObject;

struct CAudioSegment
{
    std::uint32_t ref = 0;   // pool reference (slot and byte offset) of the buffer
    std::int32_t start = 0;  // first sample of the segment inside that buffer
    std::int32_t length = 0; // samples
};

class CAudioConnection
{
public:
    explicit CAudioConnection(CDCDAWContextObject& context, std::size_t capacity = 8);
    // Releases the queued segments.
    ~CAudioConnection();
    CAudioConnection(const CAudioConnection&) = delete;
    CAudioConnection& operator=(const CAudioConnection&) = delete;

    // Queues length samples of ref's buffer from start, taking one reference.
    CErrorPtr push(std::uint32_t ref, std::int32_t start, std::int32_t length);
    bool empty() const { return m_count == 0; }
    std::size_t segmentCount() const { return m_count; }
    // Samples queued and not yet consumed.
    std::int64_t queuedSamples() const { return m_samples; }
    // Samples left in the front segment (0 when empty).
    std::int32_t frontLength() const { return m_count ? m_ring[m_head].length : 0; }
    const CAudioSegment& front() const { return m_ring[m_head]; }
    // A reference to the first unconsumed sample.
    std::uint32_t frontRef() const;
    // Consumes n samples of the front segment (n <= frontLength()).
    void consume(std::int32_t n);
    // Copies the front segment and the one behind it into one new buffer of the context and
    // queues that in their place, for readers that work on groups of samples (a 2:1 decimator
    // takes pairs) when a segment ends inside a group. joined is false when fewer than two
    // segments are queued. Takes a pool buffer; allocates nothing.
    CErrorPtr joinFront(bool& joined);
    // Drops every queued segment.
    void clear();

    // An inactive connection belongs to a link that is switched off: producers skip it and
    // readers do not wait for it.
    bool isActive() const { return m_active; }
    void setActive(bool active) { m_active = active; }
    // An active connection whose reader currently has no use for the samples (a side-effect
    // reader that is switched off and unread itself). Producers still push to it; a producer
    // whose every reader is unwanted may skip its run. The reader sets it on each run, so a
    // reader that comes back on sees its input from the next block on.
    bool isWanted() const { return m_active && m_wanted; }
    void setWanted(bool wanted) { m_wanted = wanted; }

private:
    CDCDAWContextObject& m_context;
    std::vector<CAudioSegment> m_ring;
    std::size_t m_head = 0;
    std::size_t m_count = 0;
    std::int64_t m_samples = 0;
    bool m_active = true;
    bool m_wanted = true;
};

} // namespace zel
