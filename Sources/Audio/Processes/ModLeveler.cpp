#include "Audio/Processes/ModLeveler.h"

#include "Audio/DCDAWContext.h"
#include "Audio/Processes/ModSwitchedOutput.h"

#include <algorithm>
#include <cmath>

namespace zel
{

namespace
{
constexpr const char* kName = "CModLevelerModule";

CErrorPtr findKernel(const char* name, const CDCDAWKernel*& kernel)
{
    kernel = findDCDAWKernel(name);
    if (!kernel)
        return ZEL_ERROR(kName, "zelstr_CModLevelerModule_start_missingKernel",
                         "Unknown kernel '%1'.", {name});
    return nullptr;
}

// A buffer of the block's pool, released by the destructor.
class CScratch
{
public:
    explicit CScratch(CDCDAWContextObject& context) : m_context(context) {}
    ~CScratch()
    {
        if (m_taken)
            (void)m_context.releaseReference(m_ref);
    }
    CScratch(const CScratch&) = delete;
    CScratch& operator=(const CScratch&) = delete;

    CErrorPtr take(const CAudioModuleBlock& block)
    {
        const auto bytes = static_cast<std::uint32_t>(
                               std::max(block.length(), block.owner().setup().maxBlockLength())) *
                           8u;
        ZEL_TRY(m_context.takeBuffer(bytes, m_ref), kName);
        m_taken = true;
        return nullptr;
    }
    std::uint32_t ref() const { return m_ref; }

private:
    CDCDAWContextObject& m_context;
    std::uint32_t m_ref = 0;
    bool m_taken = false;
};
} // namespace

CErrorPtr CModLevelerModule::start(CAudioProcessTerminalBase& owner, std::int32_t channel)
{
    const char* maxNames[] = {"DCDAW_max2", "DCDAW_max3", "DCDAW_max4"};
    const char* minNames[] = {"DCDAW_min2", "DCDAW_min3", "DCDAW_min4"};
    const char* addNames[] = {"DCDAW_add2", "DCDAW_add3", "DCDAW_add4"};
    for (int i = 0; i < 3; ++i)
    {
        ZEL_TRY(findKernel(maxNames[i], m_max.reduce[i + 2]), kName);
        ZEL_TRY(findKernel(minNames[i], m_min.reduce[i + 2]), kName);
        ZEL_TRY(findKernel(addNames[i], m_add.reduce[i + 2]), kName);
    }
    ZEL_TRY(findKernel("DCDAW_add2mul", m_add.scaled[2]), kName);
    ZEL_TRY(findKernel("DCDAW_add3mul", m_add.scaled[3]), kName);
    ZEL_TRY(findKernel("DCDAW_mulc", m_mulc), kName);
    ZEL_TRY(findKernel("DCDAW_mulci", m_mulci), kName);
    ZEL_TRY(findKernel("DCDAW_mix", m_mix), kName);
    ZEL_TRY(findKernel("DCDAW_copy", m_copy), kName);

    // The groups this instance links: all of them, or its channel's group when the channel is
    // the group's first.
    const CAudioProcessSetup& setup = owner.setup();
    m_groups.clear();
    for (std::int32_t c = 0; c < owner.channelCount(); ++c)
    {
        const std::int32_t group = setup.groupOf(c);
        if (channel >= 0 && group != setup.groupOf(channel))
            continue;
        auto found = std::find_if(m_groups.begin(), m_groups.end(),
                                  [&](const CGroup& g)
                                  { return setup.groupOf(g.channels.front()) == group; });
        if (found == m_groups.end())
        {
            if (channel >= 0 && c != channel)
                return nullptr; // an earlier channel of the group handles it
            m_groups.push_back({});
            found = m_groups.end() - 1;
        }
        found->channels.push_back(c);
    }
    const auto channels = static_cast<std::size_t>(owner.channelCount());
    for (std::vector<std::uint32_t>* refs :
         {&m_inputs, &m_outputs, &m_results, &m_oldResults, &m_scratch})
        refs->reserve(channels);
    m_connected.reserve(channels);
    m_fadeSeconds = CAudioCrossfade::lengthOf(*owner.definition());
    for (CGroup& group : m_groups)
    {
        group.fades.resize(group.channels.size());
        group.current = settingsOf(owner, group);
    }
    return nullptr;
}

CModLevelerModule::CSettings CModLevelerModule::settingsOf(const CAudioProcessTerminalBase& owner,
                                                           const CGroup& group)
{
    const std::int32_t c = group.channels.front();
    CSettings settings;
    settings.minimum = std::round(owner.paramValue(kModeInput, c, 0.0)) != 0.0;
    settings.blend = owner.paramValue(kMixInput, c, 0.0);
    settings.link = 1.0 - owner.paramValue(kLinkingInput, c, 1.0);
    return settings;
}

CErrorPtr CModLevelerModule::update(CAudioProcessTerminalBase& owner)
{
    for (CGroup& group : m_groups)
    {
        const CSettings next = settingsOf(owner, group);
        if (next == group.current)
            continue;
        // A change during a blend restarts it from the current settings.
        group.previous = group.current;
        group.current = next;
        for (CAudioCrossfade& fade : group.fades)
            ZEL_TRY(fade.start(owner.context(), m_fadeSeconds, owner.sampleRate()), kName);
        group.fading = true;
    }
    return nullptr;
}

CErrorPtr CModLevelerModule::process(CAudioModuleBlock& block)
{
    for (CGroup& group : m_groups)
        ZEL_TRY(processGroup(block, group), kName);
    return nullptr;
}

CErrorPtr CModLevelerModule::reduce(CAudioModuleBlock& block, const CKernels& kernels, bool average,
                                    std::uint32_t dst, std::uint32_t& result) const
{
    std::uint32_t g[4] = {};
    std::size_t count = 0;
    for (const std::uint32_t e : m_inputs)
    {
        if (count == 4)
        {
            ZEL_TRY(block.issue(*kernels.reduce[4], 0.0, {dst, g[0], g[1], g[2], g[3]}), kName);
            g[0] = dst;
            count = 1;
        }
        g[count++] = e;
    }
    result = dst;
    const double scale = 1.0 / static_cast<double>(m_inputs.size());
    if (!average)
    {
        switch (count)
        {
        case 1:
            result = g[0];
            return nullptr;
        case 2:
            return block.issue(*kernels.reduce[2], 0.0, {dst, g[0], g[1]});
        case 3:
            return block.issue(*kernels.reduce[3], 0.0, {dst, g[0], g[1], g[2]});
        default:
            return block.issue(*kernels.reduce[4], 0.0, {dst, g[0], g[1], g[2], g[3]});
        }
    }
    switch (count)
    {
    case 1:
        return block.issue(*m_mulc, scale, {dst, g[0]});
    case 2:
        return block.issue(*kernels.scaled[2], scale, {dst, g[0], g[1]});
    case 3:
        return block.issue(*kernels.scaled[3], scale, {dst, g[0], g[1], g[2]});
    default:
        ZEL_TRY(block.issue(*kernels.reduce[4], 0.0, {dst, g[0], g[1], g[2], g[3]}), kName);
        return block.issue(*m_mulci, scale, {dst});
    }
}

template <class Scratch>
CErrorPtr CModLevelerModule::linkedLevel(CAudioModuleBlock& block, const CSettings& settings,
                                         Scratch& extremeBuffer, Scratch& averageBuffer,
                                         std::uint32_t& level) const
{
    std::uint32_t extreme = CAudioProcessBase::kNoInput;
    level = CAudioProcessBase::kNoInput;
    if (!isOne(settings.blend))
    {
        ZEL_TRY(extremeBuffer.take(block), kName);
        ZEL_TRY(
            reduce(block, settings.minimum ? m_min : m_max, false, extremeBuffer.ref(), extreme),
            kName);
        level = extreme;
    }
    if (!isZero(settings.blend))
    {
        ZEL_TRY(averageBuffer.take(block), kName);
        ZEL_TRY(reduce(block, m_add, true, averageBuffer.ref(), level), kName);
        if (extreme != CAudioProcessBase::kNoInput)
            ZEL_TRY(block.issue(*m_mix, settings.blend, {level, level, extreme}), kName);
    }
    return nullptr;
}

bool CModLevelerModule::CSettings::operator==(const CSettings& other) const
{
    return minimum == other.minimum && blend == other.blend && link == other.link;
}

bool CModLevelerModule::isIdentity(const CSettings& settings) const
{
    return isOne(settings.link) || m_inputs.size() == 1;
}

CErrorPtr CModLevelerModule::render(CAudioModuleBlock& block, const CSettings& settings,
                                    const std::vector<std::uint32_t>& dst,
                                    std::vector<std::uint32_t>& results) const
{
    if (isIdentity(settings))
    {
        for (std::size_t i = 0; i < m_inputs.size(); ++i)
            results[i] = m_inputs[i];
        return nullptr;
    }
    CDCDAWContextObject& context = block.context();
    CScratch extremeBuffer(context), averageBuffer(context);
    std::uint32_t level = CAudioProcessBase::kNoInput;
    ZEL_TRY(linkedLevel(block, settings, extremeBuffer, averageBuffer, level), kName);
    const bool shared = isZero(settings.link);
    for (std::size_t i = 0; i < m_inputs.size(); ++i)
    {
        if (shared)
            ZEL_TRY(block.issue(*m_copy, 0.0, {dst[i], level}), kName);
        else
            ZEL_TRY(block.issue(*m_mix, settings.link, {dst[i], m_inputs[i], level}), kName);
        results[i] = dst[i];
    }
    return nullptr;
}

CErrorPtr CModLevelerModule::processGroup(CAudioModuleBlock& block, CGroup& group)
{
    m_inputs.clear();
    m_connected.clear();
    for (std::size_t i = 0; i < group.channels.size(); ++i)
    {
        const std::uint32_t in = block.input(0, group.channels[i]);
        if (in == CAudioProcessBase::kNoInput)
            continue;
        m_inputs.push_back(in);
        m_connected.push_back(i);
    }
    if (m_inputs.empty())
        return nullptr;
    const std::size_t count = m_inputs.size();
    if (!group.fading && isIdentity(group.current))
    {
        for (const std::size_t i : m_connected)
            ZEL_TRY(block.passInput(0, 0, group.channels[i]), kName);
        return nullptr;
    }
    if (!group.fading && isZero(group.current.link))
    {
        // Fully linked: every channel's output is the one level signal, shared, not copied.
        CDCDAWContextObject& context = block.context();
        CScratch extremeBuffer(context), averageBuffer(context);
        std::uint32_t level = CAudioProcessBase::kNoInput;
        ZEL_TRY(linkedLevel(block, group.current, extremeBuffer, averageBuffer, level), kName);
        for (const std::size_t i : m_connected)
            ZEL_TRY(block.shareOutput(0, level, group.channels[i]), kName);
        return nullptr;
    }
    m_outputs.resize(count);
    m_results.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        ZEL_TRY(block.output(0, m_outputs[i], group.channels[m_connected[i]]), kName);
    if (!group.fading)
        return render(block, group.current, m_outputs, m_results);

    // Blend every channel from the previous settings' output to the current one's.
    CDCDAWContextObject& context = block.context();
    const auto bytes = static_cast<std::uint32_t>(
                           std::max(block.length(), block.owner().setup().maxBlockLength())) *
                       8u;
    m_scratch.clear();
    CErrorPtr err;
    for (std::size_t i = 0; i < count && !err; ++i)
    {
        std::uint32_t ref = 0;
        err = context.takeBuffer(bytes, ref);
        if (!err)
            m_scratch.push_back(ref);
    }
    m_oldResults.resize(count);
    if (!err)
        err = render(block, group.current, m_outputs, m_results);
    if (!err)
        err = render(block, group.previous, m_scratch, m_oldResults);
    group.fading = false;
    for (std::size_t i = 0; i < count && !err; ++i)
    {
        CAudioCrossfade& fade = group.fades[m_connected[i]];
        err = fade.run(context, block.length(), m_outputs[i], m_results[i], m_oldResults[i]);
        group.fading = group.fading || fade.isRunning();
    }
    for (const std::uint32_t ref : m_scratch)
        (void)context.releaseReference(ref);
    ZEL_TRY(std::move(err), kName);
    return nullptr;
}

void CModLevelerModule::stop(CAudioProcessTerminalBase& owner)
{
    for (CGroup& group : m_groups)
        for (CAudioCrossfade& fade : group.fades)
            fade.release(owner.context());
}

void CModLevelerDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
}

CErrorPtr CModLevelerDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModLeveler>();
    return nullptr;
}

} // namespace zel
