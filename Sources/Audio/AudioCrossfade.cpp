#include "Audio/AudioCrossfade.h"

#include "Audio/DCDAWContext.h"
#include "Audio/Kernels/BasicKernels.h"
#include "Core/Object.h"

#include <cmath>

namespace zel
{

namespace
{
const CDCDAWKernel& kernel(const char* name)
{
    return *findDCDAWKernel(name);
}
} // namespace

double CAudioCrossfade::clampLength(double seconds)
{
    return seconds >= kMinLength ? seconds : kMinLength; // NaN too
}

double CAudioCrossfade::lengthOf(const CObject& def)
{
    const std::optional<double> length =
        def.attributeFloat("xfade-length", EAttrLookup::kInherited);
    return clampLength(length ? *length : 0.0);
}

CErrorPtr CAudioCrossfade::start(CDCDAWContextObject& context, double seconds, double sampleRate)
{
    if (!m_hasState)
    {
        ZEL_TRY(context.takeBuffer(CDCDAWXfadeState::kSize * 8, m_state), "CAudioCrossfade");
        m_hasState = true;
    }
    context.data(m_state)[CDCDAWXfadeState::kLength] = clampLength(seconds);
    ZEL_TRY(context.issue(kernel("DCDAW_xfadei"), 1, sampleRate, {m_state}), "CAudioCrossfade");
    m_running = true;
    return nullptr;
}

CErrorPtr CAudioCrossfade::run(CDCDAWContextObject& context, std::int32_t n, std::uint32_t out,
                               std::uint32_t newRef, std::uint32_t oldRef)
{
    if (!m_running)
    {
        if (out != newRef)
            ZEL_TRY(context.issue(kernel("DCDAW_copy"), n, 0.0, {out, newRef}), "CAudioCrossfade");
        return nullptr;
    }
    ZEL_TRY(context.issue(kernel("DCDAW_xfade"), n, 0.0, {out, m_state, newRef, oldRef}),
            "CAudioCrossfade");
    const double* state = context.data(m_state);
    if (state[CDCDAWXfadeState::kPosition] >= state[CDCDAWXfadeState::kSamples])
        m_running = false;
    return nullptr;
}

void CAudioCrossfade::release(CDCDAWContextObject& context)
{
    if (m_hasState)
        (void)context.releaseReference(m_state);
    m_hasState = false;
    m_running = false;
}

} // namespace zel
