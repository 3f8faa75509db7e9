#pragma once
// What the latency uniformer needs to know about the graph ahead of it:
//   CLatencySource  mixin of run-time processes whose latency depends on their current state
//                   (a down-sampler's round trip depends on the stage count and the filters);
//                   definitions with a fixed latency declare it through CLatencyDef instead
//   processEdges    the links of a container as child index pairs ("*" is -1), including the
//                   implicit chain of "is-auto-links"
//   CLatencyPlan    the longest path, in seconds, from a container's input to one of its
//                   children, descending into nested containers; built once, then evaluated per
//                   block without allocating
// Links are taken as declared: switch states and bypass states do not shorten a path.

#include "Audio/AudioProcessBase.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace zel
{

class CAudioProcess;

class CLatencySource
{
public:
    virtual ~CLatencySource() = default;
    // The latency the process adds now, in samples of its own rate.
    virtual std::int32_t currentLatency() const = 0;
};

// Appends (source, destination) child indices of container's links; -1 stands for "*".
void processEdges(const CAudioProcess& container,
                  std::vector<std::pair<std::int32_t, std::int32_t>>& edges);

class CLatencyPlan
{
public:
    // Plans the paths from the input of target's enclosing container to target. A target
    // whose parent is no container gets an empty plan (latency 0).
    void build(const CAudioProcessBase& target);
    // The latency ahead of the target now, in seconds.
    double seconds();

private:
    struct CNode
    {
        const CAudioProcessBase* process = nullptr;
        std::int32_t level = -1;        // nested container's level, or -1
        std::int32_t fixedSamples = 0;  // CLatencyDef's value at build time
        std::vector<std::int32_t> from; // feeding nodes; -1 is the container's input
    };
    struct CLevel
    {
        std::vector<CNode> nodes;        // in an order where feeders come first
        std::vector<std::int32_t> toOut; // nodes feeding the container's output
        std::vector<double> done;        // scratch: seconds at each node's output
    };

    std::int32_t addLevel(const CAudioProcess& container, std::int32_t depth);
    double evaluate(std::size_t level, std::int32_t stopAt);

    std::vector<CLevel> m_levels;
    std::int32_t m_target = -1; // node index of the target in level 0
};

} // namespace zel
