#pragma once
// CAudioInterfaceBase ("audio:interface-base") and CAudioInterfaceBaseConnector
// ("audio:interface-base-connector-vst"): the audio-side end of the editor link, as far as the
// application wrapper uses it.
//
// The base is the instance's undo history (it derives from CAudioParamUndo) and keeps the
// wrapper registered at post-initialisation, for the begin-edit and end-edit lookups of host
// edit gestures. It sends messages to the connected editor clients through its base connector:
// "start-viz", "stop-viz", "clear-client" (no arguments), "update-sample-rate" (f64) and
// "update-io-channel-counts" (three i32: input, output and side-chain count). A message is the
// name as a framework string followed by its arguments, written with the output stream into a
// memory buffer (growth step 2048).
//
// Attributes of the base: "base-connector", "param-collector", "viz-collector" (object paths,
// resolved by init; the connector is required) and "undo-count-max" (the history's capacity).
//
// The connector keeps the table of connected clients under its own lock. send() with client
// id -1 copies the message to every client; with no client connected it does nothing. Clients
// are sinks that take the bytes into their own queue; sending never waits for the editor.
//
// The requests from the editor (listeners, undo transactions, presets) are not handled here.

#include "Audio/AudioParamUndo.h"
#include "Core/Target.h"
#include "Platform/CriticalSection.h"

#include <cstdint>
#include <map>
#include <vector>

namespace zel
{

class CAudioParam;
class CAudioParamCollector;
class CAudioVizCollector;
class CAudioWrapper;
class CMemoryWriteBuffer;

// The receiving end of one connected client: takes a copy of a message's bytes.
class CAudioInterfaceClientSink
{
public:
    virtual ~CAudioInterfaceClientSink() = default;
    virtual void receive(const std::uint8_t* data, std::size_t size) = 0;
};

class CAudioInterfaceBaseConnector : public CObject
{
public:
    static constexpr std::int32_t kAllClients = -1;

    CAudioInterfaceBaseConnector();
    static void registerClass(CClassInfo& info);

    // A client id already connected is replaced.
    void connectClient(std::int32_t client, CAudioInterfaceClientSink& sink);
    void disconnectClient(std::int32_t client);
    std::size_t clientCount() const;
    // One client, or every client for kAllClients; unknown ids are ignored.
    void send(std::int32_t client, const std::uint8_t* data, std::size_t size);

    const CText& clientConnectorPath() const { return m_clientConnectorPath; }

private:
    mutable CCriticalSection m_lock{4000};
    std::map<std::int32_t, CAudioInterfaceClientSink*> m_clients;
    CText m_clientConnectorPath;
};

class CAudioInterfaceBase : public CAudioParamUndo
{
public:
    static void registerClass(CClassInfo& info);
    // Resolves the connector (required) and the two collectors (optional).
    CErrorPtr init() override;

    CAudioInterfaceBaseConnector* connector() const { return m_connector.get(); }
    CAudioParamCollector* paramCollector() const { return m_paramCollector.get(); }
    CAudioVizCollector* vizCollector() const { return m_vizCollector.get(); }

    // ---- Wrapper ----
    void registerWrapper(CAudioWrapper* wrapper);
    CAudioWrapper* wrapper() const;
    // The wrapper's begin-edit / end-edit lookups for (parameter, (element << 8) | group);
    // nothing without a wrapper or when the element is not host-visible.
    void beginEdit(const CAudioParam& param, std::int32_t key);
    void endEdit(const CAudioParam& param, std::int32_t key);

    // ---- Messages to the clients (kAllClients by default) ----
    void sendStartViz(std::int32_t client = -1);
    void sendStopViz(std::int32_t client = -1);
    void sendClearClient(std::int32_t client = -1);
    void sendSampleRate(double rate, std::int32_t client = -1);
    void sendIoChannelCounts(std::int32_t inputs, std::int32_t outputs, std::int32_t sideChains,
                             std::int32_t client = -1);

private:
    void sendMessage(std::int32_t client, const CMemoryWriteBuffer& message);

    CText m_connectorPath;
    CText m_paramCollectorPath;
    CText m_vizCollectorPath;
    CTarget<CAudioInterfaceBaseConnector> m_connector;
    CTarget<CAudioParamCollector> m_paramCollector;
    CTarget<CAudioVizCollector> m_vizCollector;
    mutable CCriticalSection m_wrapperLock{4000};
    CAudioWrapper* m_wrapper = nullptr;
};

} // namespace zel
