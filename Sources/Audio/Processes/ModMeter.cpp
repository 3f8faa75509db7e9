#include "Audio/Processes/ModMeter.h"

#include "Audio/AudioEnv.h"
#include "Audio/DCDAWContext.h"
#include "Audio/Kernels/DCDAWMeterKernels.h"
#include "Audio/Processes/ModSwitchedOutput.h"
#include "Core/Numbers.h"

#include <algorithm>
#include <cmath>

namespace zel
{

namespace
{
constexpr const char* kName = "CModMeterModule";
constexpr double kDefaultRate = 30.0;
constexpr double kMinPeakTime = 0.001;
constexpr double kMaxPeakTime = 10.0;
constexpr double kMinRmsTime = 0.0001;
constexpr double kMaxTime = 5.0;
// Below this release time the released level follows the mean square at once.
constexpr double kMinReleaseTime = 0.0001;

double decibels(double db)
{
    return std::pow(10.0, db / 20.0);
}

CErrorPtr findKernel(const char* name, const CDCDAWKernel*& kernel)
{
    kernel = findDCDAWKernel(name);
    if (!kernel)
        return ZEL_ERROR(kName, "zelstr_CModMeterModule_start_missingKernel",
                         "Unknown kernel '%1'.", {name});
    return nullptr;
}

// The update rate: the definition's (or an enclosing one's) "viz-fps", else the environment's.
double updateRate(const CAudioProcessTerminalBase& owner)
{
    if (const std::optional<double> own =
            owner.definition()->attributeFloat("viz-fps", EAttrLookup::kInherited);
        own && *own > 0.0)
        return *own;
    if (owner.setup().env != nullptr && owner.setup().env->vizFps() > 0.0)
        return owner.setup().env->vizFps();
    return kDefaultRate;
}
} // namespace

CModMeterModule::CSettings CModMeterModule::settingsOf(const CAudioProcessTerminalBase& owner,
                                                       std::int32_t channel) const
{
    CSettings s;
    s.peakTime =
        std::clamp(owner.paramValue(kPeakTimeInput, channel, 1.0), kMinPeakTime, kMaxPeakTime);
    s.rmsTime = std::clamp(owner.paramValue(kRmsTimeInput, channel, 0.1), kMinRmsTime, kMaxTime);
    s.thirdTime =
        isOn(owner.paramValue(kUseTime2Input, channel, 0.0))
            ? std::clamp(owner.paramValue(kRmsTime2Input, channel, 0.1), kMinRmsTime, kMaxTime)
            : s.rmsTime;
    s.release = std::clamp(owner.paramValue(kReleaseInput, channel, 0.5), 0.0, kMaxTime);
    s.scale = decibels(owner.paramValue(kGainInput, channel, 0.0));
    s.peakScale = decibels(owner.paramValue(kPeakGainInput, channel, 0.0));
    s.enabled = isOn(owner.paramValue(kEnableInput, channel, 1.0));
    return s;
}

std::uint32_t CModMeterModule::ringLengthFor(double peakTime) const
{
    const double ring = std::round(peakTime * m_sampleRate / static_cast<double>(m_subBlock));
    return static_cast<std::uint32_t>(std::max(1.0, ring));
}

CErrorPtr CModMeterModule::start(CAudioProcessTerminalBase& owner, std::int32_t channel)
{
    const auto* def = dynamic_cast<const CModMeterDef*>(owner.definition());
    auto* source = dynamic_cast<CModMeterSource*>(&owner);
    if (def == nullptr || source == nullptr)
        return ZEL_ERROR(owner.fullName().toUtf8(), "zelstr_CModMeterModule_start_invalidDef",
                         "Audio process def of invalid class supplied.", {});
    m_compression = def->isCompression();
    m_diff = def->isDiff();
    m_inverted = def->isInverted();
    ZEL_TRY(findKernel("DCDAW_meteri", m_init), kName);
    ZEL_TRY(findKernel(m_diff          ? "DCDAW_metersubd"
                       : m_compression ? "DCDAW_metersubc"
                                       : "DCDAW_metersub",
                       m_publish),
            kName);
    ZEL_TRY(findKernel("DCDAW_mulci", m_scale), kName);

    m_sampleRate = owner.sampleRate();
    const double rate = updateRate(owner);
    m_subBlock = static_cast<std::uint32_t>(std::max(1.0, std::round(m_sampleRate / rate)));
    // The ring is sized once for the longest peak time, so a new peak time never allocates.
    m_ringCapacity = ringLengthFor(kMaxPeakTime);
    m_processFlag = &source->processFlag();

    CDCDAWContextObject& context = owner.context();
    m_meters.clear();
    for (std::int32_t c = 0; c < owner.channelCount(); ++c)
    {
        if (channel >= 0 && c != channel)
            continue;
        auto meter = std::make_unique<CMeter>();
        meter->channel = c;
        meter->settings = settingsOf(owner, c);
        m_meters.push_back(std::move(meter));
        CMeter& m = *m_meters.back();
        if (m.settings.enabled)
            ZEL_TRY(acquire(context, m), kName);
    }
    return nullptr;
}

CErrorPtr CModMeterModule::acquire(CDCDAWContextObject& context, CMeter& meter)
{
    ZEL_TRY(context.takeBuffer((kMeterFieldCount + m_ringCapacity) * 8u, meter.stateRef), kName);
    meter.taken = true;
    ZEL_TRY(meter.result.start(context, kMeterResultFieldCount, m_processFlag), kName);
    return initialise(context, meter);
}

void CModMeterModule::releaseSlots(CDCDAWContextObject& context, CMeter& meter)
{
    meter.result.release(context);
    if (meter.taken)
        (void)context.releaseReference(meter.stateRef);
    meter.taken = false;
}

CErrorPtr CModMeterModule::initialise(CDCDAWContextObject& context, CMeter& meter)
{
    double* state = context.data(meter.stateRef);
    const CSettings& s = meter.settings;
    meter.ringLength = ringLengthFor(s.peakTime);
    state[kMeterInitialLevel] = m_compression || m_diff ? 1.0 : 0.0;
    setMeterSizes(state, meter.ringLength, m_subBlock);
    state[kMeterIntegrationTime] = s.rmsTime;
    state[kMeterReleaseTime] = s.release;
    state[kMeterThirdTime] = s.thirdTime;
    setMeterFlags(state, m_diff && m_inverted ? kMeterFlagInverted : 0);
    const std::uint32_t ring =
        CDCDAWContextObject::offsetReference(meter.stateRef, kMeterFieldCount);
    return context.issue(*m_init, 1, m_sampleRate, {ring, meter.stateRef});
}

void CModMeterModule::retune(CDCDAWContextObject& context, CMeter& meter) const
{
    double* state = context.data(meter.stateRef);
    const CSettings& s = meter.settings;
    state[kMeterIntegrationTime] = s.rmsTime;
    state[kMeterReleaseTime] = s.release;
    state[kMeterThirdTime] = s.thirdTime;
    state[kMeterIntegrationCoef] = dcdawMeterCoefficient(s.rmsTime, m_sampleRate);
    state[kMeterReleaseCoef] =
        s.release < kMinReleaseTime ? 1.0 : dcdawMeterCoefficient(s.release, m_sampleRate);
    state[kMeterThirdCoef] = dcdawMeterCoefficient(s.thirdTime, m_sampleRate);
}

CErrorPtr CModMeterModule::update(CAudioProcessTerminalBase& owner)
{
    CDCDAWContextObject& context = owner.context();
    for (const std::unique_ptr<CMeter>& meter : m_meters)
    {
        const CSettings next = settingsOf(owner, meter->channel);
        const CSettings previous = meter->settings;
        meter->settings = next;
        if (!next.enabled)
        {
            releaseSlots(context, *meter);
            continue;
        }
        if (!meter->taken)
            ZEL_TRY(acquire(context, *meter), kName);
        else if (!previous.enabled || ringLengthFor(next.peakTime) != meter->ringLength)
            ZEL_TRY(initialise(context, *meter), kName);
        else if (next.rmsTime != previous.rmsTime || next.release != previous.release ||
                 next.thirdTime != previous.thirdTime)
            retune(context, *meter);
    }
    return nullptr;
}

CErrorPtr CModMeterModule::process(CAudioModuleBlock& block)
{
    CDCDAWContextObject& context = block.context();
    for (const std::unique_ptr<CMeter>& meter : m_meters)
    {
        const std::uint32_t in = block.input(0, meter->channel);
        if (in == CAudioProcessBase::kNoInput)
            continue;
        ZEL_TRY(block.passInput(0, 0, meter->channel), kName);
        const CSettings& s = meter->settings;
        if (!s.enabled || !meter->taken)
            continue;
        const std::uint32_t state = meter->stateRef;
        const std::uint32_t ring = CDCDAWContextObject::offsetReference(state, kMeterFieldCount);
        const std::uint32_t result = meter->result.ref();
        const std::uint32_t other = m_diff ? block.input(1, meter->channel) : 0u;
        if (other == CAudioProcessBase::kNoInput)
            continue;
        // Armed just before the publishing call, which is the first to name the slot.
        ZEL_TRY(meter->result.arm(context), kName);
        if (m_diff)
            ZEL_TRY(block.issue(*m_publish, s.scale, {ring, state, result, in, other}), kName);
        else
            ZEL_TRY(block.issue(*m_publish, s.scale, {ring, state, result, in}), kName);
        if (s.peakScale != 1.0)
        {
            const std::uint32_t peak =
                CDCDAWContextObject::offsetReference(result, kMeterResultPeak);
            ZEL_TRY(context.issue(*m_scale, 1, s.peakScale, {peak}), kName);
        }
    }
    return nullptr;
}

void CModMeterModule::stop(CAudioProcessTerminalBase& owner)
{
    CDCDAWContextObject& context = owner.context();
    for (const std::unique_ptr<CMeter>& meter : m_meters)
        releaseSlots(context, *meter);
    m_meters.clear();
}

void CModMeterDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
    info.flag<&CModMeterDef::m_compression>("is-compression");
    info.flag<&CModMeterDef::m_diff>("is-diff");
    info.flag<&CModMeterDef::m_inverted>("is-inverted");
    info.attribute<&CModMeterDef::onVizFps>("viz-fps");
}

CErrorPtr CModMeterDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModMeter>();
    return nullptr;
}

CErrorPtr CModMeterDef::onVizFps(const CText& value)
{
    double rate = 0.0;
    if (!parseNumber(value, rate) || !(rate > 0.0) || !std::isfinite(rate))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CModMeterDef_onVizFps_Invalid",
                         "Invalid update rate '%1' specified.", {value.toUtf8()});
    return nullptr;
}

bool CModMeterModule::isIdleWhenUnread() const
{
    for (const auto& item : m_meters)
        if (item->settings.enabled)
            return false;
    return true;
}

} // namespace zel
