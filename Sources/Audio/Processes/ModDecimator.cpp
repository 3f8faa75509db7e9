#include "Audio/Processes/ModDecimator.h"

#include "Audio/DCDAWContext.h"
#include "Audio/Kernels/DCDAWKernel.h"

#include <algorithm>

namespace zel
{

void CModDecimator::registerClass(CClassInfo& info)
{
    CAudioProcessBase::registerClass(info);
}

CErrorPtr CModDecimator::initFromDef(const CAudioProcessDefBase& def,
                                     std::shared_ptr<const CAudioProcessSetup> setup,
                                     const CText& instancePath)
{
    ZEL_TRY(CAudioProcessBase::initFromDef(def, std::move(setup), instancePath),
            fullName().toUtf8());
    (void)inputPort(0);
    (void)outputPort(0);
    m_even = findDCDAWKernel("DCDAW_decim2");
    m_oddKernel = findDCDAWKernel("DCDAW_decim2s");
    m_fill0 = findDCDAWKernel("DCDAW_fill0");
    if (m_even == nullptr || m_oddKernel == nullptr || m_fill0 == nullptr)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CModDecimator_initFromDef_NoKernel",
                         "The resampling kernels are missing.", {});
    return nullptr;
}

CErrorPtr CModDecimator::process(std::int32_t length)
{
    const char* where = "CModDecimator::process";
    while (true)
    {
        std::int32_t n = availableInput();
        const bool once = n == kUnlimited;
        if (once)
            n = length;
        const std::int32_t half = n == kUnlimited ? 0 : n / 2;
        if (half <= 0)
            return nullptr;
        n = 2 * half;
        CDCDAWContextObject& ctx = context();
        const auto bytes =
            static_cast<std::uint32_t>(std::max(half, setup().maxBlockLength())) * 8u;
        CErrorPtr err;
        for (std::int32_t c = 0; c < channelCount() && !err; ++c)
        {
            std::uint32_t in = kNoInput;
            bool owned = false;
            err = readChannel(inputPort(0).channels[static_cast<std::size_t>(c)], n, in, owned);
            std::uint32_t out = kNoInput;
            if (!err)
                err = ctx.takeBuffer(bytes, out);
            if (!err)
                err = in == kNoInput
                          ? ctx.issue(*m_fill0, half, 0.0, {out})
                          : ctx.issue(m_odd ? *m_oddKernel : *m_even, half, 0.0, {out, in});
            if (!err)
                err = pushChannel(outputPort(0).channels[static_cast<std::size_t>(c)], out, half);
            if (out != kNoInput)
                (void)ctx.releaseReference(out);
            if (owned)
                (void)ctx.releaseReference(in);
        }
        consumeAllInputs(n);
        advance(n);
        ZEL_TRY(std::move(err), where);
        if (once)
            return nullptr;
    }
}

void CModDecimatorDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
}

CErrorPtr CModDecimatorDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModDecimator>();
    return nullptr;
}

} // namespace zel
