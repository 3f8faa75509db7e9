#pragma once
// CNotifyServer: the notification service of one object tree (owned by the tree's root). It
// holds the event subscriptions whose sender lives in the tree: sender, event name, listener
// (object and path), listener id and listener procedure (the handler name in the listener's
// class event table). Delivery is synchronous in the sender's thread: send() returns after
// every matching subscription's handler has run. The subscription table is guarded by a lock;
// handlers run without it held, so they may subscribe and unsubscribe.
//
// Listeners are served in subscription order. It is not a queue and does not post anything
// to other threads.

#include "Core/Error.h"
#include "Core/Text.h"
#include "Platform/CriticalSection.h"

#include <cstdint>
#include <initializer_list>
#include <map>
#include <set>
#include <utility>

namespace zel
{

class CObject;

class CNotifyServer
{
public:
    struct CSubscription
    {
        CObject* sender;
        CText eventName;
        CObject* listener;
        CText listenerPath;
        CText listenerProc;
    };

    CNotifyServer() = default;
    ~CNotifyServer();
    CNotifyServer(const CNotifyServer&) = delete;
    CNotifyServer& operator=(const CNotifyServer&) = delete;

    // Adds a subscription; returns its id (unique in the process).
    std::uint64_t subscribe(CObject& sender, const CText& eventName, CObject& listener,
                            const CText& listenerProc);
    // False when there is no subscription with that id here.
    bool unsubscribe(std::uint64_t id);
    // Removes every subscription in which object is the sender or the listener.
    void removeObject(CObject& object);
    // Delivers eventName from sender to its subscribers.
    CErrorPtr send(CObject& sender, const CText& eventName,
                   std::initializer_list<std::pair<CText, CText>> extra);

    // Moves the subscriptions whose sender is in senders to another service.
    void moveSenders(const std::set<const CObject*>& senders, CNotifyServer& to);

    std::size_t subscriptionCount() const;
    // A copy of the subscription, when it exists.
    bool findSubscription(std::uint64_t id, CSubscription& out) const;

private:
    void insert(std::uint64_t id, CSubscription subscription);

    mutable CCriticalSection m_lock;
    std::map<std::uint64_t, CSubscription> m_subscriptions;
};

// "listener-id" text of a subscription id, and back.
CText subscriptionIdText(std::uint64_t id);
bool parseSubscriptionId(const CText& text, std::uint64_t& id);

} // namespace zel
