#include "Core/NotifyServer.h"

#include "Core/Numbers.h"
#include "Core/Object.h"

#include <atomic>
#include <vector>

namespace zel
{
namespace
{
std::atomic<std::uint64_t>& nextSubscriptionId()
{
    static std::atomic<std::uint64_t> next{1};
    return next;
}
} // namespace

CText subscriptionIdText(std::uint64_t id)
{
    return formatInteger(static_cast<std::int64_t>(id));
}

bool parseSubscriptionId(const CText& text, std::uint64_t& id)
{
    std::int64_t value = 0;
    if (!parseInteger(text, value) || value <= 0)
        return false;
    id = static_cast<std::uint64_t>(value);
    return true;
}

CNotifyServer::~CNotifyServer()
{
    CCriticalSectionLock lock(m_lock);
    for (auto& [id, sub] : m_subscriptions)
    {
        sub.listener->m_eventHandlers.erase(id);
        sub.sender->m_eventListeners.erase(id);
    }
    m_subscriptions.clear();
}

void CNotifyServer::insert(std::uint64_t id, CSubscription subscription)
{
    subscription.listener->m_eventHandlers[id] = this;
    subscription.sender->m_eventListeners[id] = this;
    m_subscriptions.emplace(id, std::move(subscription));
}

std::uint64_t CNotifyServer::subscribe(CObject& sender, const CText& eventName, CObject& listener,
                                       const CText& listenerProc)
{
    const std::uint64_t id = nextSubscriptionId().fetch_add(1);
    CCriticalSectionLock lock(m_lock);
    insert(id, CSubscription{&sender, eventName, &listener, listener.absolutePath(), listenerProc});
    return id;
}

bool CNotifyServer::unsubscribe(std::uint64_t id)
{
    CCriticalSectionLock lock(m_lock);
    const auto it = m_subscriptions.find(id);
    if (it == m_subscriptions.end())
        return false;
    it->second.listener->m_eventHandlers.erase(id);
    it->second.sender->m_eventListeners.erase(id);
    m_subscriptions.erase(it);
    return true;
}

void CNotifyServer::removeObject(CObject& object)
{
    CCriticalSectionLock lock(m_lock);
    for (auto it = m_subscriptions.begin(); it != m_subscriptions.end();)
    {
        if (it->second.sender == &object || it->second.listener == &object)
        {
            it->second.listener->m_eventHandlers.erase(it->first);
            it->second.sender->m_eventListeners.erase(it->first);
            it = m_subscriptions.erase(it);
        }
        else
            ++it;
    }
}

CErrorPtr CNotifyServer::send(CObject& sender, const CText& eventName,
                              std::initializer_list<std::pair<CText, CText>> extra)
{
    std::vector<std::uint64_t> matching;
    {
        CCriticalSectionLock lock(m_lock);
        for (const auto& [id, sub] : m_subscriptions)
            if (sub.sender == &sender && sub.eventName == eventName)
                matching.push_back(id);
    }
    CErrorPtr first;
    const CText senderPath = sender.absolutePath();
    for (const std::uint64_t id : matching)
    {
        // A handler served earlier may have removed this subscription (or its listener).
        CSubscription sub;
        if (!findSubscription(id, sub))
            continue;
        CObjectPtr params = CObject::make<CObject>();
        params->setAttributeRaw("sender", senderPath);
        params->setAttributeRaw("event-name", eventName);
        params->setAttributeRaw("listener", sub.listener->absolutePath());
        params->setAttributeRaw("listener-id", subscriptionIdText(id));
        params->setAttributeRaw("listener-proc", sub.listenerProc);
        for (const auto& [name, value] : extra)
            params->setAttributeRaw(name, value);
        // The subscription holds the listener itself (release removes it), so delivery does
        // not depend on the listener's path still resolving.
        CErrorPtr err = sub.listener->dispatchEvent(*params);
        if (err && !first)
            first = std::move(err);
    }
    return first;
}

void CNotifyServer::moveSenders(const std::set<const CObject*>& senders, CNotifyServer& to)
{
    if (&to == this)
        return;
    CCriticalSectionLock lock(m_lock);
    CCriticalSectionLock lockTo(to.m_lock);
    for (auto it = m_subscriptions.begin(); it != m_subscriptions.end();)
    {
        if (senders.count(it->second.sender) != 0)
        {
            to.insert(it->first, std::move(it->second));
            it = m_subscriptions.erase(it);
        }
        else
            ++it;
    }
}

std::size_t CNotifyServer::subscriptionCount() const
{
    CCriticalSectionLock lock(m_lock);
    return m_subscriptions.size();
}

bool CNotifyServer::findSubscription(std::uint64_t id, CSubscription& out) const
{
    CCriticalSectionLock lock(m_lock);
    const auto it = m_subscriptions.find(id);
    if (it == m_subscriptions.end())
        return false;
    out = it->second;
    return true;
}

} // namespace zel
