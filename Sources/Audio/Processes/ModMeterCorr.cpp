#include "Audio/Processes/ModMeterCorr.h"

#include "Audio/DCDAWContext.h"
#include "Audio/Kernels/DCDAWMeterKernels.h"
#include "Audio/Processes/ModSwitchedOutput.h"

#include <algorithm>

namespace zel
{

namespace
{
constexpr const char* kName = "CModMeterCorrModule";
constexpr double kMinAvgTime = 0.001;
constexpr double kMaxAvgTime = 5.0;
// The level meters' time constant factor: their coefficient for a time t is the one-pole
// coefficient of the frequency 1 / (kTimeFactor * t).
constexpr double kTimeFactor = 1.3643161;

CErrorPtr findKernel(const char* name, const CDCDAWKernel*& kernel)
{
    kernel = findDCDAWKernel(name);
    if (!kernel)
        return ZEL_ERROR(kName, "zelstr_CModMeterCorrModule_start_missingKernel",
                         "Unknown kernel '%1'.", {name});
    return nullptr;
}

double avgTimeOf(const CAudioProcessTerminalBase& owner, std::int32_t channel)
{
    return std::clamp(owner.paramValue(CModMeterCorrModule::kAvgTimeInput, channel, 1.0),
                      kMinAvgTime, kMaxAvgTime);
}
} // namespace

double CModMeterCorrModule::cutoffFor(double seconds)
{
    return 1.0 / (kTimeFactor * seconds);
}

CErrorPtr CModMeterCorrModule::start(CAudioProcessTerminalBase& owner, std::int32_t channel)
{
    const auto* def = dynamic_cast<const CModMeterCorrDef*>(owner.definition());
    auto* source = dynamic_cast<CModMeterSource*>(&owner);
    if (def == nullptr || source == nullptr)
        return ZEL_ERROR(owner.fullName().toUtf8(), "zelstr_CModMeterCorrModule_start_invalidDef",
                         "Audio process def of invalid class supplied.", {});
    m_inverted = def->isInverted();
    ZEL_TRY(findKernel("DCDAW_metercorri", m_init), kName);
    ZEL_TRY(findKernel("DCDAW_metercorrsub", m_publish), kName);
    m_channel = channel;
    m_sampleRate = owner.sampleRate();
    m_processFlag = &source->processFlag();

    CDCDAWContextObject& context = owner.context();
    m_pairs.clear();
    for (std::int32_t c = 0; c + 1 < owner.channelCount(); c += 2)
    {
        if (channel >= 0 && c != channel)
            continue;
        m_pairs.push_back(std::make_unique<CPair>());
        CPair& pair = *m_pairs.back();
        pair.channel = c;
        pair.avgTime = avgTimeOf(owner, c);
        pair.enabled = isOn(owner.paramValue(kEnableInput, c, 1.0));
        if (pair.enabled)
            ZEL_TRY(acquire(context, pair), kName);
    }
    return nullptr;
}

CErrorPtr CModMeterCorrModule::acquire(CDCDAWContextObject& context, CPair& pair) const
{
    ZEL_TRY(context.takeBuffer(kCorrFieldCount * 8u, pair.stateRef), kName);
    pair.taken = true;
    ZEL_TRY(pair.result.start(context, kCorrResultFieldCount, m_processFlag), kName);
    return initialise(context, pair);
}

void CModMeterCorrModule::releaseSlots(CDCDAWContextObject& context, CPair& pair)
{
    pair.result.release(context);
    if (pair.taken)
        (void)context.releaseReference(pair.stateRef);
    pair.taken = false;
}

CErrorPtr CModMeterCorrModule::initialise(CDCDAWContextObject& context, CPair& pair) const
{
    context.data(pair.stateRef)[kCorrFrequency] = cutoffFor(pair.avgTime);
    return context.issue(*m_init, 1, m_sampleRate, {pair.stateRef});
}

CErrorPtr CModMeterCorrModule::update(CAudioProcessTerminalBase& owner)
{
    CDCDAWContextObject& context = owner.context();
    for (const std::unique_ptr<CPair>& pair : m_pairs)
    {
        const double avgTime = avgTimeOf(owner, pair->channel);
        const bool enabled = isOn(owner.paramValue(kEnableInput, pair->channel, 1.0));
        const bool restart = enabled && !pair->enabled;
        const bool retune = avgTime != pair->avgTime;
        pair->avgTime = avgTime;
        pair->enabled = enabled;
        if (!enabled)
        {
            releaseSlots(context, *pair);
        }
        else if (!pair->taken)
        {
            ZEL_TRY(acquire(context, *pair), kName);
        }
        else if (restart)
        {
            ZEL_TRY(initialise(context, *pair), kName);
        }
        else if (retune)
        {
            // The means keep running; only their speed changes.
            double* state = context.data(pair->stateRef);
            state[kCorrFrequency] = cutoffFor(avgTime);
            state[kCorrCoef] = dcdawMeterCoefficient(avgTime, m_sampleRate);
        }
    }
    return nullptr;
}

CErrorPtr CModMeterCorrModule::process(CAudioModuleBlock& block)
{
    // Every channel of the instance passes on; a per-channel instance only has its own.
    for (std::int32_t c = 0; c < block.owner().channelCount(); ++c)
        if (m_channel < 0 || c == m_channel)
            ZEL_TRY(block.passInput(0, 0, c), kName);
    CDCDAWContextObject& context = block.context();
    for (const std::unique_ptr<CPair>& pair : m_pairs)
    {
        if (!pair->enabled || !pair->taken)
            continue;
        const std::uint32_t left = block.input(0, pair->channel);
        const std::uint32_t right = block.input(0, pair->channel + 1);
        if (left == CAudioProcessBase::kNoInput || right == CAudioProcessBase::kNoInput)
            continue;
        ZEL_TRY(pair->result.arm(context), kName);
        ZEL_TRY(block.issue(*m_publish, 0.0, {pair->stateRef, pair->result.ref(), left, right}),
                kName);
    }
    return nullptr;
}

void CModMeterCorrModule::stop(CAudioProcessTerminalBase& owner)
{
    CDCDAWContextObject& context = owner.context();
    for (const std::unique_ptr<CPair>& pair : m_pairs)
        releaseSlots(context, *pair);
    m_pairs.clear();
}

void CModMeterCorrDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
    info.flag<&CModMeterCorrDef::m_inverted>("is-inverted");
}

CErrorPtr CModMeterCorrDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModMeterCorr>();
    return nullptr;
}

bool CModMeterCorrModule::isIdleWhenUnread() const
{
    for (const auto& item : m_pairs)
        if (item->enabled)
            return false;
    return true;
}

} // namespace zel
