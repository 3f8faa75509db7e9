#include "Audio/AudioProcess.h"

#include "Audio/AudioProcessDef.h"
#include "Audio/AudioProcessLinkDef.h"

#include <algorithm>

namespace zel
{

void CAudioProcess::registerClass(CClassInfo& info)
{
    CAudioProcessBase::registerClass(info);
}

CAudioProcessBase* CAudioProcess::findProcess(const CText& name) const
{
    const std::int32_t index = childIndex(name);
    return index < 0 ? nullptr : m_children[static_cast<std::size_t>(index)];
}

std::int32_t CAudioProcess::childIndex(const CText& name) const
{
    for (std::size_t i = 0; i < m_children.size(); ++i)
        if (m_children[i]->plainName() == name)
            return static_cast<std::int32_t>(i);
    return -1;
}

CErrorPtr CAudioProcess::addProcess(const CAudioProcessDefBase& def, const CText& name,
                                    CAudioProcessBase*& child)
{
    child = nullptr;
    if (childIndex(name) >= 0)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcess_addProcess_Duplicate",
                         "Duplicate audio process name '%1'.", {name.toUtf8()});
    ZEL_TRY(instantiate(def, *this, name, sharedSetup(), instancePath() + CText(".") + name, child),
            fullName().toUtf8());
    m_children.push_back(child);
    return nullptr;
}

CErrorPtr CAudioProcess::initFromDef(const CAudioProcessDefBase& def,
                                     std::shared_ptr<const CAudioProcessSetup> setup,
                                     const CText& instancePath)
{
    const auto* processDef = dynamic_cast<const CAudioProcessDef*>(&def);
    if (processDef == nullptr)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcess_init_InvalidDef",
                         "Audio process def of invalid class supplied.");
    ZEL_TRY(initCommon(def, std::move(setup), instancePath), fullName().toUtf8());

    for (const CAudioProcessDefBase* childDef : processDef->processDefs())
    {
        if (childDef->isPrototype())
            continue;
        CAudioProcessBase* child = nullptr;
        ZEL_TRY(addProcess(*childDef, childDef->plainName(), child), fullName().toUtf8());
    }

    for (CObject* object : childrenInDeclarationOrder(def))
    {
        if (const auto* linkDef = dynamic_cast<const CAudioProcessLinkDef*>(object))
        {
            CLink link;
            link.srcPort = linkDef->srcPort();
            link.dstPort = linkDef->dstPort();
            link.stateId = linkDef->stateId();
            link.bypassStateId = linkDef->bypassStateId();
            link.src = linkDef->srcIsOwn() ? -1 : childIndex(linkDef->srcName());
            link.dst = linkDef->dstIsOwn() ? -1 : childIndex(linkDef->dstName());
            if (!linkDef->srcIsOwn() && link.src < 0)
                return ZEL_ERROR(linkDef->fullName().toUtf8(),
                                 "zelstr_CAudioProcessLinkDef_init_SrcProc",
                                 "Invalid process in the 'src' attribute value '%1' specified.",
                                 {linkDef->srcText().toUtf8()});
            if (!linkDef->dstIsOwn() && link.dst < 0)
                return ZEL_ERROR(linkDef->fullName().toUtf8(),
                                 "zelstr_CAudioProcessLinkDef_init_DstProc",
                                 "Invalid process in the 'dst' attribute value '%1' specified.",
                                 {linkDef->dstText().toUtf8()});
            m_links.push_back(std::move(link));
        }
        else if (const auto* stateDef = dynamic_cast<const CAudioProcessBypassStateDef*>(object))
        {
            m_states.emplace_back();
            CState& state = m_states.back();
            state.def = stateDef;
            if (this->setup().collector == nullptr)
                continue;
            ZEL_TRY(bindInput(state.first, stateDef->first().param), fullName().toUtf8());
            state.first.group0 = stateDef->first().group0;
            if (!stateDef->second().param.empty())
            {
                ZEL_TRY(bindInput(state.second, stateDef->second().param), fullName().toUtf8());
                state.second.group0 = stateDef->second().group0;
            }
        }
    }

    if (processDef->isAutoLinks())
        addAutoLinks();
    ZEL_TRY(bindParamInputs(), fullName().toUtf8());
    for (CAudioParamInput& input : inputs())
    {
        input.structural = true;
        input.lastRounded = input.roundedValue(group());
    }
    m_dirty = true;
    return nullptr;
}

void CAudioProcess::addAutoLinks()
{
    std::vector<char> linked(m_children.size(), 0);
    for (const CLink& link : m_links)
    {
        if (link.src >= 0)
            linked[static_cast<std::size_t>(link.src)] = 1;
        if (link.dst >= 0)
            linked[static_cast<std::size_t>(link.dst)] = 1;
    }
    std::int32_t previous = -1;
    bool any = false;
    for (std::size_t i = 0; i < m_children.size(); ++i)
    {
        if (linked[i])
            continue;
        CLink link;
        link.src = previous;
        link.dst = static_cast<std::int32_t>(i);
        m_links.push_back(std::move(link));
        previous = static_cast<std::int32_t>(i);
        any = true;
    }
    if (any)
    {
        CLink last;
        last.src = previous;
        m_links.push_back(std::move(last));
    }
}

CErrorPtr CAudioProcess::connect()
{
    for (CAudioProcessBase* child : m_children)
        ZEL_TRY(child->connect(), fullName().toUtf8());
    const std::int32_t channels = channelCount();
    for (CLink& link : m_links)
    {
        const std::int32_t srcPort = link.srcPort;
        const std::int32_t dstPort = link.dstPort;
        CAudioOutputPort& from =
            link.src < 0 ? grow(m_innerOutputs, srcPort, channels)
                         : m_children[static_cast<std::size_t>(link.src)]->outputPort(srcPort);
        CAudioInputPort& to =
            link.dst < 0 ? grow(m_innerInputs, dstPort, channels)
                         : m_children[static_cast<std::size_t>(link.dst)]->inputPort(dstPort);
        if (link.src < 0)
            (void)inputPort(srcPort);
        if (link.dst < 0)
            (void)outputPort(dstPort);
        link.connections.clear();
        for (std::int32_t c = 0; c < channels; ++c)
            link.connections.push_back(&makeConnection(from.channels[static_cast<std::size_t>(c)],
                                                       to.channels[static_cast<std::size_t>(c)]));
    }
    m_sequence.reserve(m_children.size());
    m_bypassPort.assign(m_children.size(), -1);
    m_pending.assign(m_children.size(), 0);
    m_placed.assign(m_children.size(), 0);
    m_dirty = true;
    ZEL_TRY(rebuild(), fullName().toUtf8());
    return nullptr;
}

bool CAudioProcess::isStateActive(std::int32_t id) const
{
    for (const CState& state : m_states)
        if (state.def->id() == id)
            return state.active;
    return false;
}

void CAudioProcess::setSwitchState(std::int32_t state)
{
    if (state != m_switchState)
    {
        m_switchState = state;
        m_dirty = true;
    }
}

CErrorPtr CAudioProcess::rebuild()
{
    for (CState& state : m_states)
        state.active = state.def->evaluate(state.first.value(group(), 0, 0, 0.0),
                                           state.second.value(group(), 0, 0, 0.0));
    for (CLink& link : m_links)
    {
        const std::int32_t stateId = link.stateId;
        const bool active = stateId == -1 || stateId == m_switchState;
        for (CAudioConnection* connection : link.connections)
            if (connection->isActive() != active)
            {
                connection->clear();
                connection->setActive(active);
            }
    }

    const std::size_t count = m_children.size();
    m_bypassPort.resize(count);
    m_pending.resize(count);
    m_placed.resize(count);
    for (std::size_t i = 0; i < count; ++i)
    {
        const std::int32_t id = m_children[i]->definition()->bypassStateId();
        m_bypassPort[i] = (id >= 0 && isStateActive(id)) ? 0 : -1;
        m_pending[i] = 0;
        m_placed[i] = 0;
    }
    const auto orders = [&](const CLink& link)
    {
        return link.src >= 0 && link.dst >= 0 &&
               !m_children[static_cast<std::size_t>(link.src)]->definition()->isOutOfOrder() &&
               !m_children[static_cast<std::size_t>(link.dst)]->definition()->isOutOfOrder();
    };
    for (const CLink& link : m_links)
    {
        if (link.dst >= 0 && link.bypassStateId >= 0 && isStateActive(link.bypassStateId))
            m_bypassPort[static_cast<std::size_t>(link.dst)] = link.dstPort;
        if (orders(link))
            ++m_pending[static_cast<std::size_t>(link.dst)];
    }

    // Repeatedly place the first child (in declaration order) whose feeders are all placed.
    m_sequence.clear();
    while (m_sequence.size() < count)
    {
        std::size_t next = count;
        for (std::size_t i = 0; i < count && next == count; ++i)
            if (!m_placed[i] && m_pending[i] == 0)
                next = i;
        if (next == count)
            return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcess_process_SeqErr",
                             "process seq err");
        m_placed[next] = 1;
        m_sequence.push_back(static_cast<std::int32_t>(next));
        for (const CLink& link : m_links)
            if (orders(link) && link.src == static_cast<std::int32_t>(next))
                --m_pending[static_cast<std::size_t>(link.dst)];
    }
    m_dirty = false;
    return nullptr;
}

CErrorPtr CAudioProcess::applyParamChanges(std::int64_t position)
{
    while (CAudioParamChange* change = takeDueChange(position))
    {
        for (CAudioParamInput& input : inputs())
        {
            if (!input.apply(*change))
                continue;
            const std::int64_t rounded = input.roundedValue(group());
            if (rounded != input.lastRounded)
            {
                input.lastRounded = rounded;
                m_dirty = true;
                markInputsChanged();
            }
        }
        for (CState& state : m_states)
        {
            const bool first = state.first.apply(*change);
            const bool second = state.second.apply(*change);
            if (first || second)
                m_dirty = true;
        }
        change->release();
    }
    return nullptr;
}

std::int64_t CAudioProcess::pendingChangePosition() const
{
    std::int64_t earliest = CAudioProcessBase::pendingChangePosition();
    for (const CAudioProcessBase* child : m_children)
        earliest = std::min(earliest, positionFrom(child->pendingChangePosition(), *child));
    return earliest;
}

CErrorPtr CAudioProcess::forwardOutputs(std::int32_t n)
{
    for (std::size_t p = 0; p < m_innerInputs.size() && p < m_outputs.size(); ++p)
    {
        CAudioInputPort& inner = m_innerInputs[p];
        for (std::size_t c = 0; c < inner.channels.size(); ++c)
        {
            ZEL_TRY(drainChannel(inner.channels[c], &m_outputs[p].channels[c], n),
                    fullName().toUtf8());
        }
    }
    return nullptr;
}

CErrorPtr CAudioProcess::process(std::int32_t length)
{
    while (true)
    {
        bool once = false;
        const std::int32_t n = nextSubBlock(length, once);
        if (n == 0)
            return nullptr;
        const std::int64_t start = position();

        ZEL_TRY(applyParamChanges(start), fullName().toUtf8());
        if (m_dirty)
            ZEL_TRY(rebuild(), fullName().toUtf8());

        for (std::size_t p = 0; p < m_inputs.size(); ++p)
            for (std::size_t c = 0; c < m_inputs[p].channels.size(); ++c)
            {
                if (p < m_innerOutputs.size())
                    ZEL_TRY(
                        forwardChannel(m_inputs[p].channels[c], m_innerOutputs[p].channels[c], n),
                        fullName().toUtf8());
                else
                    consumeChannel(m_inputs[p].channels[c], n);
            }
        advance(n);

        for (const std::int32_t index : m_sequence)
        {
            CAudioProcessBase& child = *m_children[static_cast<std::size_t>(index)];
            ZEL_TRY(child.applyParamChanges(child.positionFrom(start, *this)), fullName().toUtf8());
            ZEL_TRY(child.updateBlock(), fullName().toUtf8());
            const std::int32_t port = m_bypassPort[static_cast<std::size_t>(index)];
            if (port >= 0)
                ZEL_TRY(child.bypass(port), fullName().toUtf8());
            else
                ZEL_TRY(child.process(n), fullName().toUtf8());
        }
        ZEL_TRY(forwardOutputs(n), fullName().toUtf8());
        if (once)
            return nullptr;
    }
}

void CAudioProcess::flush()
{
    for (CAudioProcessBase* child : m_children)
        child->flush();
    clearPorts(m_innerInputs, m_innerOutputs);
    CAudioProcessBase::flush();
}

} // namespace zel
