#include "Audio/Processes/ModSwitchedOutput.h"

#include "Audio/AudioProcessTerminal.h"
#include "Audio/DCDAWContext.h"
#include "Audio/Kernels/BasicKernels.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

namespace zel
{

namespace
{
constexpr const char* kName = "CModSwitchedOutput";

// Every noise source of the process takes the next value, so no two produce the same noise.
std::atomic<std::uint32_t> g_seedCounter{1};

CErrorPtr missingKernel(const char* name)
{
    return ZEL_ERROR(kName, "zelstr_CModSwitchedOutput_start_missingKernel", "Unknown kernel '%1'.",
                     {name});
}
std::int32_t portOf(const CModSwitchedOutput::CSource& source, const CAudioModuleBlock& block)
{
    if (source.port != 0 && block.input(source.port) == CAudioProcessBase::kNoInput)
        return 0;
    return source.port;
}

std::uint32_t inputOf(const CModSwitchedOutput::CSource& source, const CAudioModuleBlock& block)
{
    return block.input(portOf(source, block));
}
} // namespace

bool isZero(double value)
{
    return std::fabs(value) <= std::numeric_limits<double>::epsilon();
}

bool isOne(double value)
{
    return std::fabs(value - 1.0) <= std::numeric_limits<double>::epsilon();
}

bool isOn(double value)
{
    return value >= 0.5;
}

CErrorPtr requirePerChannel(const CObject& process, std::int32_t channel)
{
    if (channel >= 0)
        return nullptr;
    return ZEL_ERROR(process.fullName().toUtf8(), "zelstr_CModSwitchedOutput_requirePerChannel",
                     "The module '%1' works per channel and cannot be a whole-channel terminal.",
                     {process.name().toUtf8()});
}

bool CModSwitchedOutput::CSource::operator==(const CSource& other) const
{
    if (kind != other.kind)
        return false;
    switch (kind)
    {
    case EKind::kInput:
        return port == other.port;
    case EKind::kScaled:
        return port == other.port && factor == other.factor;
    case EKind::kNoise:
        return true;
    }
    return false;
}

std::uint32_t CModSwitchedOutput::takeNoiseSeed()
{
    return g_seedCounter.fetch_add(1);
}

std::uint32_t CModSwitchedOutput::peekNextSeed()
{
    return g_seedCounter.load();
}

CErrorPtr CModSwitchedOutput::start(CDCDAWContextObject& context, const CSource& initial,
                                    double fadeSeconds, double sampleRate)
{
    m_mulc = findDCDAWKernel("DCDAW_mulc");
    m_noise = findDCDAWKernel("DCDAW_denormn");
    m_fill0 = findDCDAWKernel("DCDAW_fill0");
    if (!m_mulc)
        return missingKernel("DCDAW_mulc");
    if (!m_noise)
        return missingKernel("DCDAW_denormn");
    if (!m_fill0)
        return missingKernel("DCDAW_fill0");
    m_fadeSeconds = CAudioCrossfade::clampLength(fadeSeconds);
    m_sampleRate = sampleRate;
    dropCopy(context, m_current);
    dropCopy(context, m_previous);
    return makeCopy(context, initial, m_current);
}

CErrorPtr CModSwitchedOutput::change(CDCDAWContextObject& context, const CSource& next)
{
    if (next == m_current.source)
        return nullptr;
    CCopy fresh;
    ZEL_TRY(makeCopy(context, next, fresh), kName);
    dropCopy(context, m_previous);
    m_previous = m_current;
    m_current = fresh;
    ZEL_TRY(m_fade.start(context, m_fadeSeconds, m_sampleRate), kName);
    return nullptr;
}

CErrorPtr CModSwitchedOutput::makeCopy(CDCDAWContextObject& context, const CSource& source,
                                       CCopy& copy)
{
    copy = CCopy{source, 0, false};
    if (source.kind != EKind::kNoise)
        return nullptr;
    ZEL_TRY(context.takeBuffer(CDCDAWDenormState::kSize * 8, copy.seedRef), kName);
    copy.hasSeed = true;
    CDCDAWDenormState::setSeed(context.data(copy.seedRef), takeNoiseSeed());
    return nullptr;
}

void CModSwitchedOutput::dropCopy(CDCDAWContextObject& context, CCopy& copy)
{
    if (copy.hasSeed)
        (void)context.releaseReference(copy.seedRef);
    copy.hasSeed = false;
}

CErrorPtr CModSwitchedOutput::render(const CCopy& copy, CAudioModuleBlock& block, std::uint32_t dst,
                                     std::uint32_t& result) const
{
    result = dst;
    if (copy.source.kind == EKind::kNoise)
        return block.issue(*m_noise, 0.0, {dst, copy.seedRef});
    const std::uint32_t in = inputOf(copy.source, block);
    if (in == CAudioProcessBase::kNoInput)
        return block.issue(*m_fill0, 0.0, {dst});
    if (copy.source.kind == EKind::kInput)
    {
        result = in;
        return nullptr;
    }
    return block.issue(*m_mulc, copy.source.factor, {dst, in});
}

CErrorPtr CModSwitchedOutput::process(CAudioModuleBlock& block)
{
    if (!m_fade.isRunning())
    {
        if (m_current.source.kind == EKind::kInput)
        {
            const std::int32_t port = portOf(m_current.source, block);
            if (block.input(port) != CAudioProcessBase::kNoInput)
                return block.passInput(port, 0);
        }
        std::uint32_t out = 0, result = 0;
        ZEL_TRY(block.output(0, out), kName);
        return render(m_current, block, out, result);
    }

    CDCDAWContextObject& context = block.context();
    std::uint32_t out = 0, scratch = 0, fresh = 0, old = 0;
    ZEL_TRY(block.output(0, out), kName);
    const auto bytes = static_cast<std::uint32_t>(
                           std::max(block.length(), block.owner().setup().maxBlockLength())) *
                       8u;
    ZEL_TRY(context.takeBuffer(bytes, scratch), kName);
    CErrorPtr err = render(m_current, block, out, fresh);
    if (!err)
        err = render(m_previous, block, scratch, old);
    if (!err)
        err = m_fade.run(context, block.length(), out, fresh, old);
    (void)context.releaseReference(scratch);
    if (!m_fade.isRunning())
        dropCopy(context, m_previous);
    ZEL_TRY(std::move(err), kName);
    return nullptr;
}

void CModSwitchedOutput::stop(CDCDAWContextObject& context)
{
    dropCopy(context, m_current);
    dropCopy(context, m_previous);
    m_fade.release(context);
}

} // namespace zel
