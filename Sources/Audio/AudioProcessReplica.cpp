#include "Audio/AudioProcessReplica.h"

#include "Audio/AudioProcess.h"
#include "Audio/AudioProcessDef.h"
#include "Audio/DCDAWContext.h"

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

bool CAudioProcessReplica::fadeRunning() const
{
    for (const CAudioCrossfade& fade : m_fades)
        if (fade.isRunning())
            return true;
    return false;
}

// ---- CAudioProcessReplicaBase ----

CAudioProcessReplicaBase::~CAudioProcessReplicaBase()
{
    unwire();
    for (CAudioProcessReplica* replica : m_replicas)
        for (CAudioCrossfade& fade : replica->m_fades)
            fade.release(context());
    if (m_zeroLength > 0)
        (void)context().releaseReference(m_zero);
}

std::int32_t CAudioProcessReplicaBase::activeReplicaCount() const
{
    std::int32_t count = 0;
    for (const CAudioProcessReplica* replica : m_replicas)
        if (replica->m_fade != CAudioProcessReplica::EFade::kOut)
            ++count;
    return count;
}

void CAudioProcessReplicaBase::setFading(double seconds)
{
    m_fading = true;
    m_fadeLength = CAudioCrossfade::clampLength(seconds);
}

CAudioOutputChannel& CAudioProcessReplicaBase::faded(CAudioOutputChannel& last,
                                                     CAudioProcessReplica& replica,
                                                     std::int32_t channel)
{
    if (!m_fading)
        return last;
    const auto c = static_cast<std::size_t>(channel);
    link(last, replica.m_tapIn[c]);
    return replica.m_tapOut[c];
}

CErrorPtr CAudioProcessReplicaBase::zeros(std::int32_t n, std::uint32_t& ref)
{
    if (n > m_zeroLength)
    {
        if (m_zeroLength > 0)
            (void)context().releaseReference(m_zero);
        m_zeroLength = 0;
        const std::int32_t length = std::max(n, setup().maxBlockLength());
        ZEL_TRY(context().takeBuffer(static_cast<std::uint32_t>(length) * 8u, m_zero),
                fullName().toUtf8());
        m_zeroLength = length;
        ZEL_TRY(context().issue(*findDCDAWKernel("DCDAW_fill0"), length, 0.0, {m_zero}),
                fullName().toUtf8());
    }
    ref = m_zero;
    return nullptr;
}

CErrorPtr CAudioProcessReplicaBase::startFades(CAudioProcessReplica& replica,
                                               CAudioProcessReplica::EFade fade)
{
    replica.m_fade = fade;
    for (CAudioCrossfade& blend : replica.m_fades)
        ZEL_TRY(blend.start(context(), m_fadeLength, sampleRate()), fullName().toUtf8());
    // The silence the blends read is ready before the audio path needs it.
    std::uint32_t zero = 0;
    ZEL_TRY(zeros(setup().maxBlockLength(), zero), fullName().toUtf8());
    return nullptr;
}

CErrorPtr CAudioProcessReplicaBase::runFades(CAudioProcessReplica& replica)
{
    using EFade = CAudioProcessReplica::EFade;
    for (std::size_t c = 0; c < replica.m_tapIn.size(); ++c)
    {
        CAudioInputChannel& in = replica.m_tapIn[c];
        CAudioOutputChannel& out = replica.m_tapOut[c];
        CAudioCrossfade& blend = replica.m_fades[c];
        std::int32_t k = availableIn(in);
        if (k == kUnlimited)
            continue;
        while (k > 0)
        {
            if (replica.m_fade == EFade::kSteady)
                ZEL_TRY(forwardChannel(in, out, k), fullName().toUtf8());
            else
            {
                std::uint32_t signal = kNoInput;
                bool owned = false;
                std::uint32_t zero = 0;
                std::uint32_t mixed = 0;
                ZEL_TRY(readChannel(in, k, signal, owned), fullName().toUtf8());
                CErrorPtr err = zeros(k, zero);
                if (!err)
                    err = context().takeBuffer(
                        static_cast<std::uint32_t>(std::max(k, setup().maxBlockLength())) * 8u,
                        mixed);
                if (!err)
                {
                    // Fading in: from silence to the signal; fading out: the other way.
                    const bool fadeIn = replica.m_fade == EFade::kIn;
                    err = blend.run(context(), k, mixed, fadeIn ? signal : zero,
                                    fadeIn ? zero : signal);
                    if (!err)
                        err = pushChannel(out, mixed, k);
                    (void)context().releaseReference(mixed);
                }
                if (owned)
                    (void)context().releaseReference(signal);
                ZEL_TRY(std::move(err), fullName().toUtf8());
                consumeChannel(in, k);
            }
            k = availableIn(in);
        }
    }
    if (replica.m_fade != EFade::kSteady && !replica.fadeRunning())
    {
        if (replica.m_fade == EFade::kOut)
            markLayoutDirty(); // silent now: it goes at the next boundary
        else
            replica.m_fade = EFade::kSteady;
    }
    return nullptr;
}

void CAudioProcessReplicaBase::destroyLast()
{
    CAudioProcessReplica* replica = m_replicas.back();
    for (CAudioCrossfade& fade : replica->m_fades)
        fade.release(context());
    replica->destroy();
    m_replicas.pop_back();
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
    using EFade = CAudioProcessReplica::EFade;
    unwire();
    const auto channels = static_cast<std::size_t>(std::max(channelCount(), 0));
    m_source.channels.resize(channels);
    m_sink.channels.resize(channels);
    // Blends only once audio runs: what is laid out before starts at full level.
    const bool blend = m_fading && m_running;

    // Replicas whose fade-out ended go now.
    while (!m_replicas.empty() && m_replicas.back()->m_fade == EFade::kOut &&
           !m_replicas.back()->fadeRunning())
        destroyLast();
    const std::int32_t wanted = std::max(wantedReplicas(), 1);
    CErrorPtr err;
    if (wanted < activeReplicaCount())
    {
        // Shrink from the end: the highest replicas go first.
        for (std::int32_t i = activeReplicaCount() - 1; i >= wanted && !err; --i)
        {
            if (blend)
                err = startFades(replica(i), EFade::kOut);
            else
                destroyLast();
        }
    }
    else
    {
        while (!m_replicas.empty() && m_replicas.back()->m_fade == EFade::kOut)
            destroyLast();
    }
    while (!err && replicaCount() < wanted)
    {
        const std::int32_t index = replicaCount();
        TObjectPtr<CAudioProcessReplica> made = CObject::make<CAudioProcessReplica>();
        made->setIndex(index);
        made->m_tapIn.resize(channels);
        made->m_tapOut.resize(channels);
        made->m_fades.resize(channels);
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
        if (blend)
            err = startFades(*raw, EFade::kIn);
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
        const bool hasOutput = !m_outputs.empty() && c < m_outputs[0].channels.size();
        ZEL_TRY(
            drainChannel(m_sink.channels[c], hasOutput ? &m_outputs[0].channels[c] : nullptr, n),
            fullName().toUtf8());
    }
    return nullptr;
}

CErrorPtr CAudioProcessReplicaBase::process(std::int32_t length)
{
    while (true)
    {
        bool once = false;
        const std::int32_t n = nextSubBlock(length, once);
        if (n == 0)
            return nullptr;
        const std::int64_t start = position();

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
        {
            for (CAudioProcessBase* stage : replica->stages())
            {
                ZEL_TRY(stage->applyParamChanges(start), fullName().toUtf8());
                ZEL_TRY(stage->updateBlock(), fullName().toUtf8());
                ZEL_TRY(stage->process(n), fullName().toUtf8());
            }
            if (m_fading)
                ZEL_TRY(runFades(*replica), fullName().toUtf8());
        }
        ZEL_TRY(forwardOutputs(n), fullName().toUtf8());
        m_running = true;
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
