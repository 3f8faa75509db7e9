#include "Audio/Processes/ModMSMod.h"

#include "Audio/DCDAWContext.h"
#include "Audio/Kernels/BasicKernels.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace zel
{

namespace
{

constexpr double kIdentityTolerance = 0.0001;
constexpr double kPanThreshold = 0.0001;
constexpr std::uint32_t kNone = CAudioProcessBase::kNoInput;

} // namespace

void CModMSModModule::weights(const CSettings& s, double& c0, double& c1)
{
    const double x = s.mix;
    const double cosine = std::cos(std::numbers::pi * x);
    c0 = s.midMute ? 0.0 : s.midGain * (1.0 + cosine) * (x + 0.5);
    if (s.mid180)
        c0 = -c0;
    c1 = s.sideMute ? 0.0 : s.sideGain * (1.0 - cosine);
    if (s.side180)
        c1 = -c1;
}

CErrorPtr CModMSModModule::start(CAudioProcessTerminalBase& owner, std::int32_t channel)
{
    m_active = channel <= 0;
    if (!m_active)
        return nullptr;
    m_kernels[kEncode] = findDCDAWKernel("DCDAW_msmodenc");
    m_kernels[kDecode] = findDCDAWKernel("DCDAW_msmoddec");
    m_kernels[kInline] = findDCDAWKernel("DCDAW_msmodinl");
    m_mulc = findDCDAWKernel("DCDAW_mulc");
    m_mulci = findDCDAWKernel("DCDAW_mulci");
    for (const CDCDAWKernel* kernel : {m_kernels[0], m_kernels[1], m_kernels[2], m_mulc, m_mulci})
        if (kernel == nullptr)
            return ZEL_ERROR("zel::CModMSModModule::start", "zelstr_CModMSModModule_start_NoKernel",
                             "Mid/side kernels are missing.", {});
    m_fadeLength = CAudioCrossfade::lengthOf(*owner.definition());
    m_fade.prepare(owner.channelCount());
    CDCDAWContextObject& context = owner.context();
    constexpr auto bytes =
        static_cast<std::uint32_t>(kMaxPairs * CDCDAWMSWeights::kSize * sizeof(double));
    ZEL_TRY(context.takeBuffer(bytes, m_weights), "zel::CModMSModModule::start");
    ZEL_TRY(context.takeBuffer(bytes, m_previousWeights), "zel::CModMSModModule::start");
    m_config = read(owner);
    m_previous = m_config;
    storeWeights(context, m_weights, m_config);
    storeWeights(context, m_previousWeights, m_config);
    return nullptr;
}

bool CModMSModModule::CConfig::sameStructure(const CConfig& other) const
{
    if (!(pairs == other.pairs))
        return false;
    for (std::int32_t i = 0; i < pairs.count(); ++i)
    {
        const auto at = static_cast<std::size_t>(i);
        if (pair[at].mode != other.pair[at].mode || pair[at].swap != other.pair[at].swap)
            return false;
    }
    return true;
}

CModMSModModule::CConfig CModMSModModule::read(const CAudioProcessTerminalBase& owner) const
{
    CConfig config;
    config.pairs.build(owner.setup(), owner.channelCount(), owner.paramInput(kPairs), 1.0);
    for (std::int32_t i = 0; i < config.pairs.count(); ++i)
    {
        const std::int32_t c = config.pairs.first(i);
        const auto on = [&](std::int32_t index) { return owner.paramValue(index, c, 0.0) >= 0.5; };
        CPairSettings& pair = config.pair[static_cast<std::size_t>(i)];
        const long mode = std::lround(owner.paramValue(kMode, c, kInline));
        pair.mode = mode <= kEncode ? kEncode : mode == kDecode ? kDecode : kInline;
        pair.swap = on(kSwap);
        CSettings s;
        s.midGain = owner.paramValue(kMidGain, c, 1.0);
        s.mid180 = on(kMid180);
        s.midMute = on(kMidMute);
        s.sideGain = owner.paramValue(kSideGain, c, 1.0);
        s.side180 = on(kSide180);
        s.sideMute = on(kSideMute);
        s.mix = owner.paramValue(kMix, c, 0.5);
        weights(s, pair.c0, pair.c1);
        pair.pan = owner.paramValue(kPan, c, 0.0);
    }
    return config;
}

void CModMSModModule::storeWeights(CDCDAWContextObject& context, std::uint32_t ref,
                                   const CConfig& config)
{
    double* w = context.data(ref);
    for (std::int32_t i = 0; i < config.pairs.count(); ++i)
    {
        const auto at = static_cast<std::size_t>(i);
        w[at * CDCDAWMSWeights::kSize + CDCDAWMSWeights::kMid] = config.pair[at].c0;
        w[at * CDCDAWMSWeights::kSize + CDCDAWMSWeights::kSide] = config.pair[at].c1;
    }
}

CErrorPtr CModMSModModule::update(CAudioProcessTerminalBase& owner)
{
    if (!m_active)
        return nullptr;
    CConfig next = read(owner);
    CDCDAWContextObject& context = owner.context();
    if (next.sameStructure(m_config))
    {
        m_config = next;
        storeWeights(context, m_weights, m_config);
        return nullptr;
    }
    m_previous = m_config;
    std::swap(m_weights, m_previousWeights);
    m_config = next;
    storeWeights(context, m_weights, m_config);
    return m_fade.start(context, m_fadeLength, owner.sampleRate());
}

CErrorPtr CModMSModModule::render(CModChannelSink& sink, const CConfig& config,
                                  std::uint32_t weights) const
{
    const std::int32_t channels = sink.block().owner().channelCount();
    for (std::int32_t c = 0; c < channels; ++c)
        if (!config.pairs.isPaired(c))
            ZEL_TRY(sink.pass(c), "zel::CModMSModModule::render");
    for (std::int32_t i = 0; i < config.pairs.count(); ++i)
    {
        const CPairSettings& pair = config.pair[static_cast<std::size_t>(i)];
        const bool identity = pair.mode == kInline && !pair.swap &&
                              std::fabs(pair.c0 - 1.0) < kIdentityTolerance &&
                              std::fabs(pair.c1 - 1.0) < kIdentityTolerance;
        const double p = pair.pan;
        const bool panned = std::fabs(p) >= kPanThreshold;
        // (1 - cos((|p| + 1) pi)) / 2, the same as (1 + cos(pi |p|)) / 2.
        const double w = (1.0 - std::cos((std::fabs(p) + 1.0) * std::numbers::pi)) * 0.5;
        const std::int32_t a = config.pairs.first(i);
        const std::int32_t b = config.pairs.second(i);
        const std::int32_t panCut = p > 0.0 ? a : b; // the channel away from the pan direction
        if (identity)
        {
            for (const std::int32_t c : {a, b})
            {
                if (panned && c == panCut)
                {
                    std::uint32_t in = 0, out = 0;
                    ZEL_TRY(sink.input(c, in), "zel::CModMSModModule::render");
                    ZEL_TRY(sink.target(c, out), "zel::CModMSModModule::render");
                    ZEL_TRY(sink.issue(*m_mulc, w, {out, in}), "zel::CModMSModModule::render");
                }
                else
                    ZEL_TRY(sink.pass(c), "zel::CModMSModModule::render");
            }
            continue;
        }
        // Swap exchanges the pair's left and right: on the way in for the encoder and inline,
        // on the way out for the decoder.
        const std::int32_t x = pair.swap ? b : a;
        const std::int32_t y = pair.swap ? a : b;
        const bool decode = pair.mode == kDecode;
        const std::uint32_t pairWeights = CDCDAWContextObject::makeReference(
            CDCDAWContextObject::slotOf(weights),
            CDCDAWContextObject::offsetOf(weights) +
                static_cast<std::uint32_t>(i * CDCDAWMSWeights::kSize * 8));
        std::uint32_t inA = 0, inB = 0, outA = 0, outB = 0;
        ZEL_TRY(sink.input(decode ? a : x, inA), "zel::CModMSModModule::render");
        ZEL_TRY(sink.input(decode ? b : y, inB), "zel::CModMSModModule::render");
        ZEL_TRY(sink.target(decode ? x : a, outA), "zel::CModMSModModule::render");
        ZEL_TRY(sink.target(decode ? y : b, outB), "zel::CModMSModModule::render");
        ZEL_TRY(sink.issue(*m_kernels[pair.mode], 0.0, {outA, outB, inA, inB, pairWeights}),
                "zel::CModMSModModule::render");
        if (panned)
        {
            const bool cutIsA = decode ? (panCut == x) : (panCut == a);
            ZEL_TRY(sink.issue(*m_mulci, w, {cutIsA ? outA : outB}),
                    "zel::CModMSModModule::render");
        }
    }
    return nullptr;
}

CErrorPtr CModMSModModule::process(CAudioModuleBlock& block)
{
    if (!m_active)
        return nullptr;
    return m_fade.run(
        block, [&](CModChannelSink& sink) { return render(sink, m_config, m_weights); },
        [&](CModChannelSink& sink) { return render(sink, m_previous, m_previousWeights); });
}

void CModMSModModule::stop(CAudioProcessTerminalBase& owner)
{
    CDCDAWContextObject& context = owner.context();
    m_fade.release(context);
    for (std::uint32_t* ref : {&m_weights, &m_previousWeights})
    {
        if (*ref != kNone)
            (void)context.releaseReference(*ref);
        *ref = kNone;
    }
}

void CModMSMod::registerClass(CClassInfo& info)
{
    CAudioProcessBase::registerClass(info);
}

void CModMSModDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
}

CErrorPtr CModMSModDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModMSMod>();
    return nullptr;
}

} // namespace zel
