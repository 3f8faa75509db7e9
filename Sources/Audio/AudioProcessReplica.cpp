#include "Audio/AudioProcessReplica.h"

#include "Audio/AudioProcess.h"
#include "Audio/AudioProcessDef.h"

#include <algorithm>
#include <string>

namespace zel
{

// ---- CAudioProcessReplica ----

void CAudioProcessReplica::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
}

CErrorPtr CAudioProcessReplica::addStage(const CAudioProcessDefBase& def, const CText& name,
                                         std::shared_ptr<const CAudioProcessSetup> setup,
                                         const CText& path, bool asContainer,
                                         CAudioProcessBase*& stage)
{
    stage = nullptr;
    TObjectPtr<CAudioProcessBase> made;
    // The replicated definition is built as a plain container: asking it for its process
    // would make another replicating process of the same definition.
    if (asContainer)
        made = CObject::make<CAudioProcess>();
    else
        ZEL_TRY(def.makeProcess(made), fullName().toUtf8());
    CAudioProcessBase* raw = made.get();
    ZEL_TRY(addChild(std::move(made), name), fullName().toUtf8());
    CErrorPtr err = raw->initFromDef(def, std::move(setup), path);
    if (!err)
        err = raw->connect();
    if (err)
    {
        raw->destroy();
        return ZEL_PASS(std::move(err), fullName().toUtf8());
    }
    // Port 0 exists from now on, so the wiring never grows (moves) a stage's port list.
    (void)raw->inputPort(0);
    (void)raw->outputPort(0);
    m_stages.push_back(raw);
    stage = raw;
    return nullptr;
}

// ---- CAudioProcessReplicaBase ----

CAudioProcessReplicaBase::~CAudioProcessReplicaBase()
{
    unwire();
}

void CAudioProcessReplicaBase::registerClass(CClassInfo& info)
{
    CAudioProcessBase::registerClass(info);
}

void CAudioProcessReplicaBase::link(CAudioOutputChannel& from, CAudioInputChannel& to)
{
    CWire wire;
    wire.from = &from;
    wire.to = &to;
    wire.connection = std::make_unique<CAudioConnection>(context());
    from.readers.push_back(wire.connection.get());
    to.sources.push_back(wire.connection.get());
    m_wires.push_back(std::move(wire));
}

CAudioOutputChannel& CAudioProcessReplicaBase::sourceChannel(std::int32_t channel)
{
    return m_source.channels[static_cast<std::size_t>(channel)];
}

CAudioInputChannel& CAudioProcessReplicaBase::sinkChannel(std::int32_t channel)
{
    return m_sink.channels[static_cast<std::size_t>(channel)];
}

CAudioOutputChannel& CAudioProcessReplicaBase::chain(CAudioOutputChannel& from,
                                                     CAudioProcessReplica& replica,
                                                     std::int32_t channel)
{
    const auto c = static_cast<std::size_t>(channel);
    CAudioOutputChannel* at = &from;
    for (CAudioProcessBase* stage : replica.stages())
    {
        link(*at, stage->inputPort(0).channels[c]);
        at = &stage->outputPort(0).channels[c];
    }
    return *at;
}

void CAudioProcessReplicaBase::unwire()
{
    for (CWire& wire : m_wires)
    {
        std::erase(wire.from->readers, wire.connection.get());
        std::erase(wire.to->sources, wire.connection.get());
    }
    m_wires.clear(); // the connections drop what they still hold
}

CErrorPtr CAudioProcessReplicaBase::relayout()
{
    unwire();
    const auto channels = static_cast<std::size_t>(std::max(channelCount(), 0));
    m_source.channels.resize(channels);
    m_sink.channels.resize(channels);

    const std::int32_t wanted = std::max(wantedReplicas(), 1);
    // Shrink from the end: the highest replicas go first.
    while (replicaCount() > wanted)
    {
        m_replicas.back()->destroy();
        m_replicas.pop_back();
    }
    CErrorPtr err;
    while (!err && replicaCount() < wanted)
    {
        const std::int32_t index = replicaCount();
        TObjectPtr<CAudioProcessReplica> made = CObject::make<CAudioProcessReplica>();
        made->setIndex(index);
        CAudioProcessReplica* raw = made.get();
        err = addChild(std::move(made), CText("replica") + CText(std::to_string(index)));
        if (!err)
            err = buildReplica(*raw);
        if (err)
        {
            if (raw->parent() == this)
                raw->destroy();
            break;
        }
        m_replicas.push_back(raw);
    }
    wire();
    m_layoutDirty = false;
    if (err)
        return ZEL_PASS(std::move(err), fullName().toUtf8());
    return nullptr;
}

CErrorPtr CAudioProcessReplicaBase::connect()
{
    (void)inputPort(0);
    (void)outputPort(0);
    ZEL_TRY(relayout(), fullName().toUtf8());
    return nullptr;
}

std::int64_t CAudioProcessReplicaBase::pendingChangePosition() const
{
    std::int64_t earliest = CAudioProcessBase::pendingChangePosition();
    for (const CAudioProcessReplica* replica : m_replicas)
        for (const CAudioProcessBase* stage : replica->stages())
            earliest = std::min(earliest, stage->pendingChangePosition());
    return earliest;
}

CErrorPtr CAudioProcessReplicaBase::forwardOutputs(std::int32_t n)
{
    for (std::size_t c = 0; c < m_sink.channels.size(); ++c)
    {
        CAudioInputChannel& from = m_sink.channels[c];
        const bool hasOutput = !m_outputs.empty() && c < m_outputs[0].channels.size();
        std::int32_t k = availableIn(from);
        if (k == kUnlimited)
        {
            if (hasOutput)
                ZEL_TRY(forwardChannel(from, m_outputs[0].channels[c], n), fullName().toUtf8());
            continue;
        }
        while (k > 0)
        {
            if (hasOutput)
                ZEL_TRY(forwardChannel(from, m_outputs[0].channels[c], k), fullName().toUtf8());
            else
                consumeChannel(from, k);
            k = availableIn(from);
        }
    }
    return nullptr;
}

CErrorPtr CAudioProcessReplicaBase::process(std::int32_t length)
{
    while (true)
    {
        std::int32_t n = availableInput();
        const bool once = n == kUnlimited;
        if (once)
            n = length;
        if (n <= 0 || n == kUnlimited)
            return nullptr;
        const std::int64_t start = position();
        const std::int64_t pending = pendingChangePosition();
        if (pending > start && pending - start < n)
            n = static_cast<std::int32_t>(pending - start);

        ZEL_TRY(applyParamChanges(start), fullName().toUtf8());
        // Every internal connection is empty here, so the wiring may change.
        if (m_layoutDirty)
            ZEL_TRY(relayout(), fullName().toUtf8());

        for (std::size_t p = 0; p < m_inputs.size(); ++p)
            for (std::size_t c = 0; c < m_inputs[p].channels.size(); ++c)
            {
                if (p == 0 && c < m_source.channels.size())
                    ZEL_TRY(forwardChannel(m_inputs[p].channels[c], m_source.channels[c], n),
                            fullName().toUtf8());
                else
                    consumeChannel(m_inputs[p].channels[c], n);
            }
        advance(n);

        for (CAudioProcessReplica* replica : m_replicas)
            for (CAudioProcessBase* stage : replica->stages())
            {
                ZEL_TRY(stage->applyParamChanges(start), fullName().toUtf8());
                ZEL_TRY(stage->updateBlock(), fullName().toUtf8());
                ZEL_TRY(stage->process(n), fullName().toUtf8());
            }
        ZEL_TRY(forwardOutputs(n), fullName().toUtf8());
        if (once)
            return nullptr;
    }
}

void CAudioProcessReplicaBase::flush()
{
    for (CAudioProcessReplica* replica : m_replicas)
        for (CAudioProcessBase* stage : replica->stages())
            stage->flush();
    for (CWire& wire : m_wires)
        wire.connection->clear();
    CAudioProcessBase::flush();
}

} // namespace zel
