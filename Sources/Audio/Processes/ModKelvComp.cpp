#include "Audio/Processes/ModKelvComp.h"

#include "Audio/DCDAWContext.h"
#include "Audio/Kernels/DCDAWGainComputer.h"
#include "Audio/Processes/ModSwitchedOutput.h"

#include <algorithm>
#include <cmath>

namespace zel
{

namespace
{
constexpr const char* kName = "CModKelvCompModule";
constexpr std::uint32_t kRecordBytes = kKelvCompFieldCount * 8u;

// Values of the inputs that are not bound, in input order.
constexpr std::array<double, CModKelvCompModule::kInputCount> kUnbound{0.0,  1.0, 30.0, 0.01,
                                                                       0.15, 0.0, 0.0};

CErrorPtr findKernel(const char* name, const CDCDAWKernel*& kernel)
{
    kernel = findDCDAWKernel(name);
    if (kernel == nullptr)
        return ZEL_ERROR(kName, "zelstr_CModKelvCompModule_start_missingKernel",
                         "Unknown kernel '%1'.", {name});
    return nullptr;
}
} // namespace

bool CModKelvCompModule::CSettings::inverse() const
{
    return isOn(values[kInputInverse]);
}

bool CModKelvCompModule::CSettings::rms() const
{
    return isOn(values[kInputRms]);
}

bool CModKelvCompModule::CSettings::operator==(const CSettings& other) const
{
    // A value that stays NaN is no change: it must not rebuild the record on every block.
    for (std::size_t i = 0; i < values.size(); ++i)
        if (!(values[i] == other.values[i]) &&
            !(std::isnan(values[i]) && std::isnan(other.values[i])))
            return false;
    return true;
}

bool CModKelvCompModule::usesRms() const
{
    return m_current.kernel != nullptr && m_current.kernel == m_runRms;
}

CModKelvCompModule::CSettings
CModKelvCompModule::settingsOf(const CAudioProcessTerminalBase& owner) const
{
    CSettings settings;
    for (std::int32_t i = 0; i < kInputCount; ++i)
    {
        const double fallback = kUnbound[static_cast<std::size_t>(i)];
        settings.values[static_cast<std::size_t>(i)] = owner.paramValue(i, m_channel, fallback);
    }
    return settings;
}

CErrorPtr CModKelvCompModule::start(CAudioProcessTerminalBase& owner, std::int32_t channel)
{
    ZEL_TRY(requirePerChannel(owner, channel), kName);
    ZEL_TRY(findKernel("DCDAW_kelvcompi", m_init), kName);
    ZEL_TRY(findKernel("DCDAW_kelvcompu", m_update), kName);
    ZEL_TRY(findKernel("DCDAW_kelvcomp", m_run), kName);
    ZEL_TRY(findKernel("DCDAW_kelvcomprms", m_runRms), kName);
    ZEL_TRY(findKernel("DCDAW_fill0", m_fill0), kName);
    m_channel = channel;
    m_sampleRate = owner.sampleRate();
    m_fadeSeconds = CAudioCrossfade::lengthOf(*owner.definition());
    ZEL_TRY(makeCopy(owner.context(), settingsOf(owner), nullptr, m_current), kName);
    return nullptr;
}

CErrorPtr CModKelvCompModule::makeCopy(CDCDAWContextObject& context, const CSettings& settings,
                                       const CCopy* from, CCopy& copy) const
{
    std::uint32_t ref = 0;
    ZEL_TRY(context.takeBuffer(kRecordBytes, ref), kName);
    double* record = context.data(ref);
    if (record == nullptr)
    {
        (void)context.releaseReference(ref);
        return ZEL_ERROR(kName, "zelstr_CModKelvCompModule_makeCopy_noRecord",
                         "The gain computer's state record is missing.", {});
    }
    std::fill(record, record + kKelvCompFieldCount, 0.0);
    record[kKelvCompThreshold] = settings.values[kInputThreshold];
    record[kKelvCompSlope] = settings.values[kInputRatio];
    record[kKelvCompRange] = settings.values[kInputRange];
    record[kKelvCompAttackTime] = settings.values[kInputAttack];
    record[kKelvCompReleaseTime] = settings.values[kInputRelease];
    setKelvCompInverse(record, settings.inverse());
    CErrorPtr err = from != nullptr ? context.issue(*m_update, 1, m_sampleRate, {ref, from->state})
                                    : context.issue(*m_init, 1, m_sampleRate, {ref});
    if (err)
    {
        (void)context.releaseReference(ref);
        return ZEL_PASS(std::move(err), kName);
    }
    copy.settings = settings;
    copy.state = ref;
    copy.hasState = true;
    copy.kernel = settings.rms() ? m_runRms : m_run;
    return nullptr;
}

void CModKelvCompModule::dropCopy(CDCDAWContextObject& context, CCopy& copy)
{
    if (copy.hasState)
        (void)context.releaseReference(copy.state);
    copy = CCopy();
}

CErrorPtr CModKelvCompModule::update(CAudioProcessTerminalBase& owner)
{
    const CSettings next = settingsOf(owner);
    if (next == m_current.settings)
        return nullptr;
    CDCDAWContextObject& context = owner.context();
    CCopy fresh;
    ZEL_TRY(makeCopy(context, next, &m_current, fresh), kName);
    const bool structural =
        next.inverse() != m_current.settings.inverse() || next.rms() != m_current.settings.rms();
    if (!structural)
    {
        // In place: the fresh record continues the running gain; the old one goes.
        dropCopy(context, m_current);
        m_current = fresh;
        return nullptr;
    }
    // The running copy keeps going with its settings while the output blends over to the new
    // one; a blend already running loses its oldest copy.
    dropCopy(context, m_previous);
    m_previous = m_current;
    m_current = fresh;
    ZEL_TRY(m_fade.start(context, m_fadeSeconds, m_sampleRate), kName);
    return nullptr;
}

CErrorPtr CModKelvCompModule::process(CAudioModuleBlock& block)
{
    CDCDAWContextObject& context = block.context();
    std::uint32_t out = 0;
    ZEL_TRY(block.output(0, out), kName);
    std::uint32_t in = block.input(0);
    if (in == CAudioProcessBase::kNoInput)
    {
        // Nothing connected: the law runs on a zero level.
        ZEL_TRY(block.issue(*m_fill0, 0.0, {out}), kName);
        in = out;
    }
    if (!m_fade.isRunning())
        return block.issue(*m_current.kernel, 0.0, {out, m_current.state, in});

    const auto bytes = static_cast<std::uint32_t>(block.length()) * 8u;
    std::uint32_t fresh = CAudioProcessBase::kNoInput, old = CAudioProcessBase::kNoInput;
    ZEL_TRY(context.takeBuffer(bytes, fresh), kName);
    CErrorPtr err = context.takeBuffer(bytes, old);
    if (err)
        old = CAudioProcessBase::kNoInput;
    if (!err)
        err = block.issue(*m_current.kernel, 0.0, {fresh, m_current.state, in});
    if (!err)
        err = block.issue(*m_previous.kernel, 0.0, {old, m_previous.state, in});
    if (!err)
        err = m_fade.run(context, block.length(), out, fresh, old);
    (void)context.releaseReference(fresh);
    if (old != CAudioProcessBase::kNoInput)
        (void)context.releaseReference(old);
    if (!err && !m_fade.isRunning())
        dropCopy(context, m_previous);
    ZEL_TRY(std::move(err), kName);
    return nullptr;
}

void CModKelvCompModule::stop(CAudioProcessTerminalBase& owner)
{
    CDCDAWContextObject& context = owner.context();
    dropCopy(context, m_current);
    dropCopy(context, m_previous);
    m_fade.release(context);
}

void CModKelvCompDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
}

CErrorPtr CModKelvCompDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModKelvComp>();
    return nullptr;
}

} // namespace zel
