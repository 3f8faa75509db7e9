#include "Audio/AudioLatency.h"

#include "Audio/AudioProcess.h"
#include "Audio/AudioProcessDef.h"
#include "Audio/AudioProcessLinkDef.h"

#include <algorithm>

namespace zel
{

namespace
{

constexpr std::int32_t kMaxDepth = 16;

std::int32_t indexOf(const CAudioProcess& container, const CText& name)
{
    const auto& children = container.processes();
    for (std::size_t i = 0; i < children.size(); ++i)
        if (children[i]->name() == name)
            return static_cast<std::int32_t>(i);
    return -2;
}

} // namespace

void processEdges(const CAudioProcess& container,
                  std::vector<std::pair<std::int32_t, std::int32_t>>& edges)
{
    const auto* def = dynamic_cast<const CAudioProcessDef*>(container.definition());
    if (def == nullptr)
        return;
    const std::size_t count = container.processes().size();
    std::vector<char> linked(count, 0);
    for (CObject* child : childrenInDeclarationOrder(*def))
    {
        const auto* link = dynamic_cast<const CAudioProcessLinkDef*>(child);
        if (link == nullptr)
            continue;
        const std::int32_t src = link->srcIsOwn() ? -1 : indexOf(container, link->srcName());
        const std::int32_t dst = link->dstIsOwn() ? -1 : indexOf(container, link->dstName());
        if (src < -1 || dst < -1)
            continue; // a prototype or a name the container did not build
        edges.emplace_back(src, dst);
        if (src >= 0)
            linked[static_cast<std::size_t>(src)] = 1;
        if (dst >= 0)
            linked[static_cast<std::size_t>(dst)] = 1;
    }
    if (!def->isAutoLinks())
        return;
    std::int32_t previous = -1;
    bool any = false;
    for (std::size_t i = 0; i < count; ++i)
        if (!linked[i])
        {
            edges.emplace_back(previous, static_cast<std::int32_t>(i));
            previous = static_cast<std::int32_t>(i);
            any = true;
        }
    if (any)
        edges.emplace_back(previous, -1);
}

std::int32_t CLatencyPlan::addLevel(const CAudioProcess& container, std::int32_t depth)
{
    const auto at = static_cast<std::int32_t>(m_levels.size());
    m_levels.emplace_back();
    std::vector<std::pair<std::int32_t, std::int32_t>> edges;
    processEdges(container, edges);
    const auto& children = container.processes();
    const std::size_t count = children.size();

    // Kahn's order; children caught in a cycle are left out.
    std::vector<std::int32_t> pending(count, 0);
    for (const auto& [src, dst] : edges)
        if (src >= 0 && dst >= 0)
            ++pending[static_cast<std::size_t>(dst)];
    std::vector<std::int32_t> order;
    std::vector<std::int32_t> position(count, -1);
    for (std::size_t i = 0; i < count; ++i)
        if (pending[i] == 0)
            order.push_back(static_cast<std::int32_t>(i));
    for (std::size_t k = 0; k < order.size(); ++k)
        for (const auto& [src, dst] : edges)
            if (src == order[k] && dst >= 0 && --pending[static_cast<std::size_t>(dst)] == 0)
                order.push_back(dst);

    std::vector<CNode> nodes(order.size());
    for (std::size_t k = 0; k < order.size(); ++k)
        position[static_cast<std::size_t>(order[k])] = static_cast<std::int32_t>(k);
    std::vector<std::int32_t> toOut;
    for (std::size_t k = 0; k < order.size(); ++k)
    {
        const CAudioProcessBase* process = children[static_cast<std::size_t>(order[k])];
        CNode& node = nodes[k];
        node.process = process;
        if (dynamic_cast<const CLatencySource*>(process) == nullptr)
        {
            if (const auto* inner = dynamic_cast<const CAudioProcess*>(process);
                inner != nullptr && depth < kMaxDepth)
                node.level = addLevel(*inner, depth + 1);
            else if (const auto* fixed = dynamic_cast<const CLatencyDef*>(process->definition()))
                node.fixedSamples = fixed->latencySamples(process->sampleRate());
        }
    }
    for (const auto& [src, dst] : edges)
    {
        const std::int32_t from = src < 0 ? -1 : position[static_cast<std::size_t>(src)];
        if (src >= 0 && from < 0)
            continue;
        if (dst < 0)
            toOut.push_back(from);
        else if (const std::int32_t to = position[static_cast<std::size_t>(dst)]; to >= 0)
            nodes[static_cast<std::size_t>(to)].from.push_back(from);
    }
    CLevel& level = m_levels[static_cast<std::size_t>(at)];
    level.nodes = std::move(nodes);
    level.toOut = std::move(toOut);
    level.done.assign(level.nodes.size(), 0.0);
    return at;
}

void CLatencyPlan::build(const CAudioProcessBase& target)
{
    m_levels.clear();
    m_target = -1;
    const auto* container = dynamic_cast<const CAudioProcess*>(target.parent());
    if (container == nullptr)
        return;
    (void)addLevel(*container, 0);
    const CLevel& top = m_levels.front();
    for (std::size_t k = 0; k < top.nodes.size(); ++k)
        if (top.nodes[k].process == &target)
            m_target = static_cast<std::int32_t>(k);
}

double CLatencyPlan::evaluate(std::size_t index, std::int32_t stopAt)
{
    CLevel& level = m_levels[index];
    const std::size_t last = stopAt >= 0 ? static_cast<std::size_t>(stopAt) : level.nodes.size();
    for (std::size_t k = 0; k < level.nodes.size() && k <= last; ++k)
    {
        const CNode& node = level.nodes[k];
        double ahead = 0.0;
        for (const std::int32_t from : node.from)
            ahead = std::max(ahead, from < 0 ? 0.0 : level.done[static_cast<std::size_t>(from)]);
        if (stopAt >= 0 && k == last)
            return ahead; // the target's own latency does not count
        double own = 0.0;
        const double rate = node.process->sampleRate();
        if (const auto* source = dynamic_cast<const CLatencySource*>(node.process))
            own = source->currentLatency() / rate;
        else if (node.level >= 0)
            own = evaluate(static_cast<std::size_t>(node.level), -1);
        else
            own = node.fixedSamples / rate;
        level.done[k] = ahead + own;
    }
    double out = 0.0;
    for (const std::int32_t from : level.toOut)
        out = std::max(out, from < 0 ? 0.0 : level.done[static_cast<std::size_t>(from)]);
    return out;
}

double CLatencyPlan::seconds()
{
    if (m_levels.empty() || m_target < 0)
        return 0.0;
    return evaluate(0, m_target);
}

} // namespace zel
