#include "Audio/AudioConnection.h"

#include "Audio/DCDAWContext.h"
#include "Audio/Kernels/DCDAWKernel.h"

namespace zel
{

CAudioConnection::CAudioConnection(CDCDAWContextObject& context, std::size_t capacity)
    : m_context(context), m_ring(capacity < 1 ? 1 : capacity)
{
}

CAudioConnection::~CAudioConnection()
{
    clear();
}

CErrorPtr CAudioConnection::push(std::uint32_t ref, std::int32_t start, std::int32_t length)
{
    if (length <= 0)
        return nullptr;
    ZEL_TRY(m_context.addReference(ref), "CAudioConnection");
    if (m_count == m_ring.size())
    {
        // Unroll the ring into a larger one.
        std::vector<CAudioSegment> larger(m_ring.size() * 2);
        for (std::size_t i = 0; i < m_count; ++i)
            larger[i] = m_ring[(m_head + i) % m_ring.size()];
        m_ring.swap(larger);
        m_head = 0;
    }
    std::size_t at = m_head + m_count;
    if (at >= m_ring.size())
        at -= m_ring.size();
    m_ring[at] = CAudioSegment{ref, start, length};
    ++m_count;
    m_samples += length;
    return nullptr;
}

std::uint32_t CAudioConnection::frontRef() const
{
    const CAudioSegment& seg = m_ring[m_head];
    return CDCDAWContextObject::offsetReference(seg.ref, static_cast<std::uint32_t>(seg.start));
}

void CAudioConnection::consume(std::int32_t n)
{
    while (n > 0 && m_count > 0)
    {
        CAudioSegment& seg = m_ring[m_head];
        const std::int32_t take = n < seg.length ? n : seg.length;
        seg.start += take;
        seg.length -= take;
        m_samples -= take;
        n -= take;
        if (seg.length == 0)
        {
            (void)m_context.releaseReference(seg.ref);
            if (++m_head == m_ring.size())
                m_head = 0;
            --m_count;
        }
    }
}

CErrorPtr CAudioConnection::joinFront(bool& joined)
{
    joined = false;
    if (m_count < 2)
        return nullptr;
    static const CDCDAWKernel* const copy = findDCDAWKernel("DCDAW_copy");
    const std::size_t second = m_head + 1 == m_ring.size() ? 0 : m_head + 1;
    const CAudioSegment a = m_ring[m_head];
    const CAudioSegment b = m_ring[second];
    std::uint32_t ref = 0;
    ZEL_TRY(m_context.takeBuffer(static_cast<std::uint32_t>(a.length + b.length) * 8u, ref),
            "CAudioConnection");
    CErrorPtr err = copy == nullptr
                        ? ZEL_ERROR("CAudioConnection", "zelstr_CAudioConnection_NoCopy",
                                    "The copy kernel is missing.")
                        : m_context.issue(*copy, a.length, 0.0,
                                          {ref, CDCDAWContextObject::offsetReference(
                                                    a.ref, static_cast<std::uint32_t>(a.start))});
    if (!err)
        err = m_context.issue(
            *copy, b.length, 0.0,
            {CDCDAWContextObject::offsetReference(ref, static_cast<std::uint32_t>(a.length)),
             CDCDAWContextObject::offsetReference(b.ref, static_cast<std::uint32_t>(b.start))});
    if (err)
    {
        (void)m_context.releaseReference(ref);
        ZEL_TRY(std::move(err), "CAudioConnection");
    }
    (void)m_context.releaseReference(a.ref);
    (void)m_context.releaseReference(b.ref);
    m_ring[second] = CAudioSegment{ref, 0, a.length + b.length};
    m_head = second;
    --m_count;
    joined = true;
    return nullptr;
}

void CAudioConnection::clear()
{
    while (m_count > 0)
    {
        (void)m_context.releaseReference(m_ring[m_head].ref);
        m_head = (m_head + 1) % m_ring.size();
        --m_count;
    }
    m_head = 0;
    m_samples = 0;
}

} // namespace zel
