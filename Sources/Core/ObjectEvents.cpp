// CObject: event subscription, delivery and sending.

#include "Core/Log.h"
#include "Core/NotifyServer.h"
#include "Core/Object.h"
#include "Platform/CriticalSection.h"

#include <vector>

namespace zel
{
namespace
{
CCriticalSection& serverCreationLock()
{
    // Never destroyed: objects may still be torn down by exit handlers.
    static CCriticalSection& lock = *new CCriticalSection;
    return lock;
}
} // namespace

CNotifyServer& CObject::notifyServer()
{
    CObject* root = m_root;
    CCriticalSectionLock lock(serverCreationLock());
    if (!root->m_notifyServer)
        root->m_notifyServer = std::make_unique<CNotifyServer>();
    return *root->m_notifyServer;
}

CErrorPtr CObject::listenObject(CObject& target, const CText& eventName, CObject& listener,
                                const CText& handlerName, CText* listenerId)
{
    if (listener.classInfo().findEvent(handlerName) == nullptr)
    {
        const std::string text =
            "Event handler '" + handlerName.toUtf8() + "' not found in listenObject().";
        diagLog(text);
        auto err = std::make_unique<CError>(std::string(), text);
        err->addTrail(__FILE__, __LINE__, listener.m_fullName.toUtf8());
        return err;
    }
    const std::uint64_t id =
        target.notifyServer().subscribe(target, eventName, listener, handlerName);
    if (listenerId != nullptr)
        *listenerId = subscriptionIdText(id);
    return nullptr;
}

bool CObject::unlistenObject(CObject& target, const CText& listenerId)
{
    std::uint64_t id = 0;
    if (!parseSubscriptionId(listenerId, id))
        return false;
    const auto it = target.m_eventListeners.find(id);
    if (it == target.m_eventListeners.end())
        return false;
    return it->second->unsubscribe(id);
}

CErrorPtr CObject::runEvent(CObject& eventParams)
{
    CObject* listener = findObject(eventParams.attribute("listener"));
    if (listener == nullptr)
        return nullptr; // the listener has gone: the event is dropped
    return listener->dispatchEvent(eventParams);
}

CErrorPtr CObject::dispatchEvent(CObject& eventParams)
{
    const CText proc = eventParams.attribute("listener-proc");
    const CEventHandlerEntry* entry = classInfo().findEvent(proc);
    if (entry == nullptr || entry->handler == nullptr)
        return ZEL_ERROR(m_fullName.toUtf8(), "zelstr_CObject_runEvent_UnknownEvent",
                         "Unknown event '%1'.", {proc.toUtf8()});
    ZEL_TRY(entry->handler(*this, eventParams), m_fullName.toUtf8());
    return nullptr;
}

CErrorPtr CObject::sendEvent(const CText& eventName,
                             std::initializer_list<std::pair<CText, CText>> extra)
{
    if (m_eventListeners.empty())
        return nullptr;
    // Every subscription of this sender lives in the service of this object's tree.
    CNotifyServer* server = m_eventListeners.begin()->second;
    ZEL_TRY(server->send(*this, eventName, extra), m_fullName.toUtf8());
    return nullptr;
}

CObject* CObject::findSender(const CObject& eventParams) const
{
    return findObject(eventParams.attribute("sender"));
}

void CObject::removeEventRegistrations()
{
    std::vector<std::pair<std::uint64_t, CNotifyServer*>> all(m_eventHandlers.begin(),
                                                              m_eventHandlers.end());
    all.insert(all.end(), m_eventListeners.begin(), m_eventListeners.end());
    for (const auto& [id, server] : all)
        server->unsubscribe(id);
    m_eventHandlers.clear();
    m_eventListeners.clear();
}

} // namespace zel
