#pragma once
// Bridges: counted links between objects that may live in different trees or be destroyed on
// different threads.
//
// CBridgeBase is the side others link to (a parameter registry, an application-data object).
// While it lives, its address is in a process-wide registry of live bases, split into 64
// buckets, each an ordered set under its own lock. Destroying it detaches every bridge still
// attached and unregisters it. A class derived from CBridgeBase should call
// detachAllBridges() first in its own destructor, so that no bridge user reaches a half
// destroyed object.
//
// CBridge is the link held by a client: one base, one client-defined value and a lock of its
// own. While a client holds the bridge's lock (CBridge::CAccess), the base cannot finish
// detaching it, so base() stays valid for that time. Destroying a bridge takes its lock, then
// the bucket lock of its base, and detaches only if the base is still registered: a bridge
// never touches a base destroyed on another thread.
//
// COwnedBridge<Owner> is a bridge owned by an object of class Owner; CApplicationDataBridge
// <Owner, Data> is an owned bridge to an application-data object of class Data.

#include "Platform/CriticalSection.h"

#include <cstddef>
#include <cstdint>
#include <set>

namespace zel
{

class CBridge;

class CBridgeBase
{
public:
    static constexpr std::size_t kBucketCount = 64;

    CBridgeBase();
    virtual ~CBridgeBase();
    CBridgeBase(const CBridgeBase&) = delete;
    CBridgeBase& operator=(const CBridgeBase&) = delete;

    // Detaches every attached bridge (their base() becomes null); the base stays registered.
    void detachAllBridges();
    std::size_t bridgeCount() const;

    // Whether address is a live, registered base.
    static bool isRegistered(const CBridgeBase* base);
    // ((a >> 4) ^ (a >> 12) ^ (a >> 20) ^ (a >> 28)) & 63 for address a.
    static std::size_t bucketIndex(const void* address);

private:
    friend class CBridge;
    // Guarded by the bucket lock of this base.
    std::set<CBridge*> m_bridges;
};

class CBridge
{
public:
    CBridge() = default;
    explicit CBridge(CBridgeBase* base, std::intptr_t value = 0);
    virtual ~CBridge();
    CBridge(const CBridge&) = delete;
    CBridge& operator=(const CBridge&) = delete;

    // Detaches from the current base, then attaches to base; false (and unattached) when base
    // is null or not a live base.
    bool attach(CBridgeBase* base);
    void detach();

    // Holds the bridge's lock; base() is the attached base or null for as long as it lives.
    class CAccess
    {
    public:
        explicit CAccess(const CBridge& bridge) : m_lock(bridge.m_lock), m_bridge(bridge) {}
        CBridgeBase* base() const { return m_bridge.m_base; }

    private:
        CCriticalSectionLock m_lock;
        const CBridge& m_bridge;
    };

    bool isAttached() const;
    std::intptr_t value() const { return m_value; }
    void setValue(std::intptr_t value) { m_value = value; }
    CCriticalSection& criticalSection() const { return m_lock; }

private:
    friend class CBridgeBase;
    mutable CCriticalSection m_lock;
    CBridgeBase* m_base = nullptr; // written under m_lock
    std::intptr_t m_value = 0;
};

template <class Owner>
class COwnedBridge : public CBridge
{
public:
    explicit COwnedBridge(Owner* owner = nullptr) : m_owner(owner) {}
    Owner* owner() const { return m_owner; }
    void setOwner(Owner* owner) { m_owner = owner; }

private:
    Owner* m_owner;
};

template <class Owner, class Data = CBridgeBase>
class CApplicationDataBridge : public COwnedBridge<Owner>
{
public:
    using COwnedBridge<Owner>::COwnedBridge;

    bool attachData(Data* data) { return this->attach(data); }
    // The application data while it lives; call under a CBridge::CAccess of this bridge.
    static Data* dataOf(const CBridge::CAccess& access)
    {
        return static_cast<Data*>(access.base());
    }
};

} // namespace zel
