#include "Audio/Processes/ModRouter.h"

#include "Audio/DCDAWContext.h"

#include <algorithm>
#include <cmath>

namespace zel
{

namespace
{

// A 1-based channel number to a 0-based channel below `channels`, -1 for none.
std::int32_t channelOf(double value, std::int32_t channels)
{
    if (!std::isfinite(value))
        return -1;
    const long number = std::lround(std::clamp(value, -1.0, 1000.0));
    return number >= 1 && number <= channels ? static_cast<std::int32_t>(number - 1) : -1;
}

} // namespace

CErrorPtr CModRouterModule::start(CAudioProcessTerminalBase& owner, std::int32_t channel)
{
    m_active = channel <= 0;
    if (!m_active)
        return nullptr;
    m_fill0 = findDCDAWKernel("DCDAW_fill0");
    m_mulc = findDCDAWKernel("DCDAW_mulc");
    m_mulci = findDCDAWKernel("DCDAW_mulci");
    m_add2mul = findDCDAWKernel("DCDAW_add2mul");
    m_add3mul = findDCDAWKernel("DCDAW_add3mul");
    m_add2i = findDCDAWKernel("DCDAW_add2i");
    for (const CDCDAWKernel* kernel : {m_fill0, m_mulc, m_mulci, m_add2mul, m_add3mul, m_add2i})
        if (kernel == nullptr)
            return ZEL_ERROR("zel::CModRouterModule::start",
                             "zelstr_CModRouterModule_start_NoKernel",
                             "Routing kernels are missing.", {});
    const auto* def = dynamic_cast<const CModRouterDef*>(owner.definition());
    m_output = def != nullptr && def->isOutput();
    m_fadeLength = CAudioCrossfade::lengthOf(*owner.definition());
    m_fade.prepare(owner.channelCount());
    m_config = read(owner);
    m_previous = m_config;
    return nullptr;
}

CModRouterModule::CConfig CModRouterModule::read(const CAudioProcessTerminalBase& owner) const
{
    CConfig config;
    config.routes.fill(-1);
    const std::int32_t channels = std::min(owner.channelCount(), kMaxChannels);
    const CAudioParamInput& routing = owner.paramInput(kRouting);
    for (std::int32_t c = 0; c < channels; ++c)
    {
        const double value = routing.isBound() ? routing.value(0, c, 0, 0.0) : c + 1.0;
        config.routes[static_cast<std::size_t>(c)] = channelOf(value, channels);
    }
    return config;
}

CErrorPtr CModRouterModule::update(CAudioProcessTerminalBase& owner)
{
    if (!m_active)
        return nullptr;
    const CConfig next = read(owner);
    if (next == m_config)
        return nullptr;
    m_previous = m_config;
    m_config = next;
    return m_fade.start(owner.context(), m_fadeLength, owner.sampleRate());
}

CErrorPtr CModRouterModule::render(CModChannelSink& sink, const CConfig& config) const
{
    const std::int32_t channels = std::min(sink.block().owner().channelCount(), kMaxChannels);
    std::array<std::uint32_t, kMaxChannels> sources{};
    for (std::int32_t d = 0; d < channels; ++d)
    {
        std::int32_t count = 0;
        std::int32_t only = -1;
        for (std::int32_t s = 0; s < channels; ++s)
        {
            const bool routed = m_output ? config.routes[static_cast<std::size_t>(s)] == d
                                         : config.routes[static_cast<std::size_t>(d)] == s;
            if (!routed)
                continue;
            only = s;
            ZEL_TRY(sink.input(s, sources[static_cast<std::size_t>(count)]),
                    "zel::CModRouterModule::render");
            ++count;
        }
        if (count == 1 && only == d)
        {
            ZEL_TRY(sink.pass(d), "zel::CModRouterModule::render");
            continue;
        }
        std::uint32_t out = 0;
        ZEL_TRY(sink.target(d, out), "zel::CModRouterModule::render");
        const double scale = count > 0 ? 1.0 / count : 0.0;
        CErrorPtr err;
        switch (count)
        {
        case 0:
            err = sink.issue(*m_fill0, 0.0, {out});
            break;
        case 1:
            err = sink.issue(*m_mulc, 1.0, {out, sources[0]});
            break;
        case 2:
            err = sink.issue(*m_add2mul, scale, {out, sources[0], sources[1]});
            break;
        default:
            err = sink.issue(*m_add3mul, count == 3 ? scale : 1.0,
                             {out, sources[0], sources[1], sources[2]});
            for (std::int32_t i = 3; i < count && !err; ++i)
                err = sink.issue(*m_add2i, 0.0, {out, sources[static_cast<std::size_t>(i)]});
            if (!err && count > 3)
                err = sink.issue(*m_mulci, scale, {out});
            break;
        }
        ZEL_TRY(std::move(err), "zel::CModRouterModule::render");
    }
    return nullptr;
}

CErrorPtr CModRouterModule::process(CAudioModuleBlock& block)
{
    if (!m_active)
        return nullptr;
    return m_fade.run(
        block, [&](CModChannelSink& sink) { return render(sink, m_config); },
        [&](CModChannelSink& sink) { return render(sink, m_previous); });
}

void CModRouterModule::stop(CAudioProcessTerminalBase& owner)
{
    m_fade.release(owner.context());
}

// ---- CModRouter ----

void CModRouter::registerClass(CClassInfo& info)
{
    CAudioProcessBase::registerClass(info);
}

std::int32_t CModRouter::channelGroups(std::vector<std::int32_t>& groups) const
{
    const CAudioParamInput& grouping = paramInput(CModRouterModule::kGrouping);
    groups.assign(static_cast<std::size_t>(std::max(channelCount(), 0)), 0);
    std::int32_t count = 1;
    for (std::size_t c = 0; c < groups.size(); ++c)
    {
        const double value =
            grouping.isBound() ? grouping.value(0, static_cast<std::int32_t>(c), 0, 0.0) : 0.0;
        const double clamped = std::isfinite(value) ? std::clamp(value, 0.0, 1.0 * kMaxGroup) : 0;
        groups[c] = static_cast<std::int32_t>(std::lround(clamped));
        count = std::max(count, groups[c] + 1);
    }
    return count;
}

// ---- CModRouterDef ----

void CModRouterDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
    info.flag<&CModRouterDef::m_output>("is-output");
}

CErrorPtr CModRouterDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModRouter>();
    return nullptr;
}

} // namespace zel
