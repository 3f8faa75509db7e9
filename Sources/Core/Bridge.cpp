#include "Core/Bridge.h"

#include <thread>

namespace zel
{
namespace
{
struct CBucket
{
    CCriticalSection lock;
    std::set<const CBridgeBase*> bases;
};

CBucket& bucketOf(const void* address)
{
    static CBucket buckets[CBridgeBase::kBucketCount];
    return buckets[CBridgeBase::bucketIndex(address)];
}
} // namespace

std::size_t CBridgeBase::bucketIndex(const void* address)
{
    const std::uintptr_t a = reinterpret_cast<std::uintptr_t>(address);
    return static_cast<std::size_t>(((a >> 4) ^ (a >> 12) ^ (a >> 20) ^ (a >> 28)) & 63u);
}

CBridgeBase::CBridgeBase()
{
    CBucket& bucket = bucketOf(this);
    CCriticalSectionLock lock(bucket.lock);
    bucket.bases.insert(this);
}

CBridgeBase::~CBridgeBase()
{
    CBucket& bucket = bucketOf(this);
    for (;;)
    {
        detachAllBridges();
        CCriticalSectionLock lock(bucket.lock);
        // A bridge may have attached meanwhile; unregister only once none is left.
        if (m_bridges.empty())
        {
            bucket.bases.erase(this);
            return;
        }
    }
}

void CBridgeBase::detachAllBridges()
{
    CBucket& bucket = bucketOf(this);
    for (;;)
    {
        bool progressed = false;
        {
            CCriticalSectionLock lock(bucket.lock);
            // Bridges take their own lock before the bucket lock; this side holds the bucket
            // lock, so it only tries theirs and lets a busy bridge finish first.
            for (auto it = m_bridges.begin(); it != m_bridges.end();)
            {
                CBridge* bridge = *it;
                if (bridge->m_lock.tryEnter())
                {
                    bridge->m_base = nullptr;
                    it = m_bridges.erase(it);
                    bridge->m_lock.leave();
                    progressed = true;
                }
                else
                    ++it;
            }
            if (m_bridges.empty())
                return;
        }
        if (!progressed)
            std::this_thread::yield();
    }
}

std::size_t CBridgeBase::bridgeCount() const
{
    CBucket& bucket = bucketOf(this);
    CCriticalSectionLock lock(bucket.lock);
    return m_bridges.size();
}

bool CBridgeBase::isRegistered(const CBridgeBase* base)
{
    if (base == nullptr)
        return false;
    CBucket& bucket = bucketOf(base);
    CCriticalSectionLock lock(bucket.lock);
    return bucket.bases.count(base) != 0;
}

CBridge::CBridge(CBridgeBase* base, std::intptr_t value) : m_value(value)
{
    attach(base);
}

CBridge::~CBridge()
{
    detach();
}

bool CBridge::attach(CBridgeBase* base)
{
    CCriticalSectionLock own(m_lock);
    detach();
    if (base == nullptr)
        return false;
    CBucket& bucket = bucketOf(base);
    CCriticalSectionLock lock(bucket.lock);
    if (bucket.bases.count(base) == 0)
        return false;
    base->m_bridges.insert(this);
    m_base = base;
    return true;
}

void CBridge::detach()
{
    CCriticalSectionLock own(m_lock);
    if (m_base == nullptr)
        return;
    CBucket& bucket = bucketOf(m_base);
    CCriticalSectionLock lock(bucket.lock);
    // Only the address is used until the bucket confirms the base is still alive.
    if (bucket.bases.count(m_base) != 0)
        m_base->m_bridges.erase(this);
    m_base = nullptr;
}

bool CBridge::isAttached() const
{
    CCriticalSectionLock own(m_lock);
    return m_base != nullptr;
}

} // namespace zel
