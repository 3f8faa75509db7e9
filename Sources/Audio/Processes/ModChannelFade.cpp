#include "Audio/Processes/ModChannelFade.h"

#include "Audio/AudioProcessBase.h"
#include "Audio/DCDAWContext.h"

#include <algorithm>

namespace zel
{

namespace
{

constexpr std::uint32_t kNone = CAudioProcessBase::kNoInput;

std::uint32_t scratchBytes(const CAudioModuleBlock& block)
{
    return static_cast<std::uint32_t>(
               std::max(block.length(), block.owner().setup().maxBlockLength())) *
           8u;
}

} // namespace

// ---- CModChannelSink ----

CModChannelSink::CModChannelSink(CAudioModuleBlock& block, std::uint32_t* scratch)
    : m_block(block), m_scratch(scratch)
{
}

CModChannelSink::~CModChannelSink()
{
    finish();
}

void CModChannelSink::finish()
{
    if (m_silence != kNone)
        (void)m_block.context().releaseReference(m_silence);
    m_silence = kNone;
}

CErrorPtr CModChannelSink::takeScratch(std::uint32_t& ref)
{
    return m_block.context().takeBuffer(scratchBytes(m_block), ref);
}

CErrorPtr CModChannelSink::input(std::int32_t channel, std::uint32_t& ref)
{
    ref = m_block.input(0, channel);
    if (ref != kNone)
        return nullptr;
    if (m_silence == kNone)
    {
        ZEL_TRY(takeScratch(m_silence), "zel::CModChannelSink::input");
        static const CDCDAWKernel* const fill0 = findDCDAWKernel("DCDAW_fill0");
        ZEL_TRY(m_block.issue(*fill0, 0.0, {m_silence}), "zel::CModChannelSink::input");
    }
    ref = m_silence;
    return nullptr;
}

CErrorPtr CModChannelSink::target(std::int32_t channel, std::uint32_t& ref)
{
    if (m_scratch == nullptr)
        return m_block.output(0, ref, channel);
    std::uint32_t& slot = m_scratch[channel];
    if (slot != kNone)
        (void)m_block.context().releaseReference(slot);
    slot = kNone;
    ZEL_TRY(takeScratch(slot), "zel::CModChannelSink::target");
    ref = slot;
    return nullptr;
}

CErrorPtr CModChannelSink::pass(std::int32_t channel)
{
    if (m_scratch == nullptr)
    {
        if (m_block.input(0, channel) != kNone)
            return m_block.passInput(0, 0, channel);
        std::uint32_t out = 0;
        ZEL_TRY(m_block.output(0, out, channel), "zel::CModChannelSink::pass");
        static const CDCDAWKernel* const fill0 = findDCDAWKernel("DCDAW_fill0");
        return m_block.issue(*fill0, 0.0, {out});
    }
    std::uint32_t in = 0;
    ZEL_TRY(input(channel, in), "zel::CModChannelSink::pass");
    std::uint32_t& slot = m_scratch[channel];
    if (slot != kNone)
        (void)m_block.context().releaseReference(slot);
    ZEL_TRY(m_block.context().addReference(in), "zel::CModChannelSink::pass");
    slot = in;
    return nullptr;
}

// ---- CModChannelFade ----

void CModChannelFade::prepare(std::int32_t channels)
{
    const auto count = static_cast<std::size_t>(std::max(channels, 0));
    m_fades.resize(count);
    m_new.assign(count, kNone);
    m_old.assign(count, kNone);
}

CErrorPtr CModChannelFade::start(CDCDAWContextObject& context, double seconds, double sampleRate)
{
    for (CAudioCrossfade& fade : m_fades)
        ZEL_TRY(fade.start(context, seconds, sampleRate), "zel::CModChannelFade::start");
    m_running = !m_fades.empty();
    return nullptr;
}

void CModChannelFade::clearRefs()
{
    std::fill(m_new.begin(), m_new.end(), kNone);
    std::fill(m_old.begin(), m_old.end(), kNone);
}

CErrorPtr CModChannelFade::blend(CAudioModuleBlock& block)
{
    CDCDAWContextObject& context = block.context();
    CErrorPtr err;
    bool running = false;
    for (std::size_t c = 0; c < m_fades.size(); ++c)
    {
        if (!err && m_new[c] != kNone && m_old[c] != kNone)
        {
            std::uint32_t out = 0;
            err = block.output(0, out, static_cast<std::int32_t>(c));
            if (!err)
                err = m_fades[c].run(context, block.length(), out, m_new[c], m_old[c]);
        }
        running = running || m_fades[c].isRunning();
        if (m_new[c] != kNone)
            (void)context.releaseReference(m_new[c]);
        if (m_old[c] != kNone)
            (void)context.releaseReference(m_old[c]);
        m_new[c] = m_old[c] = kNone;
    }
    m_running = running;
    return err;
}

void CModChannelFade::release(CDCDAWContextObject& context)
{
    for (CAudioCrossfade& fade : m_fades)
        fade.release(context);
    for (std::size_t c = 0; c < m_new.size(); ++c)
    {
        if (m_new[c] != kNone)
            (void)context.releaseReference(m_new[c]);
        if (m_old[c] != kNone)
            (void)context.releaseReference(m_old[c]);
    }
    clearRefs();
    m_running = false;
}

} // namespace zel
