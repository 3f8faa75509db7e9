#include "Audio/Processes/ModMSCoder.h"

#include "Audio/DCDAWContext.h"

#include <cmath>

namespace zel
{

CErrorPtr CModMSCoderModule::start(CAudioProcessTerminalBase& owner, std::int32_t channel)
{
    m_active = channel <= 0;
    if (!m_active)
        return nullptr;
    m_enc = findDCDAWKernel("DCDAW_msenc");
    m_dec = findDCDAWKernel("DCDAW_msdec");
    if (m_enc == nullptr || m_dec == nullptr)
        return ZEL_ERROR("zel::CModMSCoderModule::start", "zelstr_CModMSCoderModule_start_NoKernel",
                         "Mid/side kernels are missing.", {});
    m_fadeLength = CAudioCrossfade::lengthOf(*owner.definition());
    m_fade.prepare(owner.channelCount());
    m_config = read(owner);
    m_previous = m_config;
    return nullptr;
}

CModMSCoderModule::CConfig CModMSCoderModule::read(const CAudioProcessTerminalBase& owner) const
{
    CConfig config;
    config.pairs.build(owner.setup(), owner.channelCount(), owner.paramInput(kPairs), 1.0);
    config.decoder = std::lround(owner.paramValue(kMode, 0, 0.0)) != 0;
    config.bypass = owner.paramValue(kBypass, 0, 0.0) >= 0.5;
    return config;
}

CErrorPtr CModMSCoderModule::update(CAudioProcessTerminalBase& owner)
{
    if (!m_active)
        return nullptr;
    const CConfig next = read(owner);
    if (next == m_config)
        return nullptr;
    // A change during a running blend restarts it from what is heard now: the new state.
    m_previous = m_config;
    m_config = next;
    return m_fade.start(owner.context(), m_fadeLength, owner.sampleRate());
}

CErrorPtr CModMSCoderModule::render(CModChannelSink& sink, const CConfig& config) const
{
    const std::int32_t channels = sink.block().owner().channelCount();
    const bool coding = !config.bypass;
    for (std::int32_t c = 0; c < channels; ++c)
        if (!coding || !config.pairs.isPaired(c))
            ZEL_TRY(sink.pass(c), "zel::CModMSCoderModule::render");
    if (!coding)
        return nullptr;
    const CDCDAWKernel& kernel = config.decoder ? *m_dec : *m_enc;
    for (std::int32_t i = 0; i < config.pairs.count(); ++i)
    {
        const std::int32_t a = config.pairs.first(i);
        const std::int32_t b = config.pairs.second(i);
        std::uint32_t inA = 0, inB = 0, outA = 0, outB = 0;
        ZEL_TRY(sink.input(a, inA), "zel::CModMSCoderModule::render");
        ZEL_TRY(sink.input(b, inB), "zel::CModMSCoderModule::render");
        ZEL_TRY(sink.target(a, outA), "zel::CModMSCoderModule::render");
        ZEL_TRY(sink.target(b, outB), "zel::CModMSCoderModule::render");
        ZEL_TRY(sink.issue(kernel, 0.0, {outA, outB, inA, inB}), "zel::CModMSCoderModule::render");
    }
    return nullptr;
}

CErrorPtr CModMSCoderModule::process(CAudioModuleBlock& block)
{
    if (!m_active)
        return nullptr;
    return m_fade.run(
        block, [&](CModChannelSink& sink) { return render(sink, m_config); },
        [&](CModChannelSink& sink) { return render(sink, m_previous); });
}

void CModMSCoderModule::stop(CAudioProcessTerminalBase& owner)
{
    m_fade.release(owner.context());
}

void CModMSCoder::registerClass(CClassInfo& info)
{
    CAudioProcessBase::registerClass(info);
}

void CModMSCoderDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
}

CErrorPtr CModMSCoderDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModMSCoder>();
    return nullptr;
}

} // namespace zel
