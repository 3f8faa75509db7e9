#include "Audio/AudioInterfaceBase.h"

#include "Audio/AudioParamCollector.h"
#include "Audio/AudioVizCollector.h"
#include "Audio/AudioWrapper.h"
#include "Core/MemoryWriteBuffer.h"

namespace zel
{

// ---- CAudioInterfaceBaseConnector ----

CAudioInterfaceBaseConnector::CAudioInterfaceBaseConnector() = default;

void CAudioInterfaceBaseConnector::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
    info.text<&CAudioInterfaceBaseConnector::m_clientConnectorPath>("client-connector");
}

void CAudioInterfaceBaseConnector::connectClient(std::int32_t client,
                                                 CAudioInterfaceClientSink& sink)
{
    CCriticalSectionLock guard(m_lock);
    m_clients[client] = &sink;
}

void CAudioInterfaceBaseConnector::disconnectClient(std::int32_t client)
{
    CCriticalSectionLock guard(m_lock);
    m_clients.erase(client);
}

std::size_t CAudioInterfaceBaseConnector::clientCount() const
{
    CCriticalSectionLock guard(m_lock);
    return m_clients.size();
}

void CAudioInterfaceBaseConnector::send(std::int32_t client, const std::uint8_t* data,
                                        std::size_t size)
{
    CCriticalSectionLock guard(m_lock);
    if (client == kAllClients)
    {
        for (const auto& [id, sink] : m_clients)
            sink->receive(data, size);
        return;
    }
    const auto it = m_clients.find(client);
    if (it != m_clients.end())
        it->second->receive(data, size);
}

// ---- CAudioInterfaceBase ----

void CAudioInterfaceBase::registerClass(CClassInfo& info)
{
    CAudioParamUndo::registerClass(info);
    info.text<&CAudioInterfaceBase::m_connectorPath>("base-connector");
    info.text<&CAudioInterfaceBase::m_paramCollectorPath>("param-collector");
    info.text<&CAudioInterfaceBase::m_vizCollectorPath>("viz-collector");
}

CErrorPtr CAudioInterfaceBase::init()
{
    const std::string owner = fullName().toUtf8();
    ZEL_TRY(CAudioParamUndo::init(), owner);
    ZEL_TRY(m_connector.resolvePath(*this, m_connectorPath, true), owner);
    ZEL_TRY(m_paramCollector.resolvePath(*this, m_paramCollectorPath, false), owner);
    ZEL_TRY(m_vizCollector.resolvePath(*this, m_vizCollectorPath, false), owner);
    return nullptr;
}

void CAudioInterfaceBase::registerWrapper(CAudioWrapper* wrapper)
{
    CCriticalSectionLock guard(m_wrapperLock);
    m_wrapper = wrapper;
}

CAudioWrapper* CAudioInterfaceBase::wrapper() const
{
    CCriticalSectionLock guard(m_wrapperLock);
    return m_wrapper;
}

void CAudioInterfaceBase::beginEdit(const CAudioParam& param, std::int32_t key)
{
    if (CAudioWrapper* host = wrapper())
        host->beginEditFor(param, key);
}

void CAudioInterfaceBase::endEdit(const CAudioParam& param, std::int32_t key)
{
    if (CAudioWrapper* host = wrapper())
        host->endEditFor(param, key);
}

namespace
{
// Writing into memory does not fail: the results are not looked at.
void writeName(CMemoryWriteBuffer& out, const char* name)
{
    (void)out.writeString(CText(name));
}
} // namespace

void CAudioInterfaceBase::sendMessage(std::int32_t client, const CMemoryWriteBuffer& message)
{
    CAudioInterfaceBaseConnector* link = m_connector.get();
    if (link == nullptr || link->clientCount() == 0)
        return;
    const std::vector<std::uint8_t> bytes = message.toVector();
    link->send(client, bytes.data(), bytes.size());
}

void CAudioInterfaceBase::sendStartViz(std::int32_t client)
{
    CMemoryWriteBuffer out;
    writeName(out, "start-viz");
    sendMessage(client, out);
}

void CAudioInterfaceBase::sendStopViz(std::int32_t client)
{
    CMemoryWriteBuffer out;
    writeName(out, "stop-viz");
    sendMessage(client, out);
}

void CAudioInterfaceBase::sendClearClient(std::int32_t client)
{
    CMemoryWriteBuffer out;
    writeName(out, "clear-client");
    sendMessage(client, out);
}

void CAudioInterfaceBase::sendSampleRate(double rate, std::int32_t client)
{
    CMemoryWriteBuffer out;
    writeName(out, "update-sample-rate");
    (void)out.writeDouble(rate);
    sendMessage(client, out);
}

void CAudioInterfaceBase::sendIoChannelCounts(std::int32_t inputs, std::int32_t outputs,
                                              std::int32_t sideChains, std::int32_t client)
{
    CMemoryWriteBuffer out;
    writeName(out, "update-io-channel-counts");
    (void)out.writeInt(inputs);
    (void)out.writeInt(outputs);
    (void)out.writeInt(sideChains);
    sendMessage(client, out);
}

} // namespace zel
