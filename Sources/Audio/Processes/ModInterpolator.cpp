#include "Audio/Processes/ModInterpolator.h"

#include "Audio/DCDAWContext.h"
#include "Audio/Kernels/DCDAWKernel.h"

#include <algorithm>

namespace zel
{

void CModInterpolator::registerClass(CClassInfo& info)
{
    CAudioProcessBase::registerClass(info);
}

CErrorPtr CModInterpolator::initFromDef(const CAudioProcessDefBase& def,
                                        std::shared_ptr<const CAudioProcessSetup> setup,
                                        const CText& instancePath)
{
    ZEL_TRY(CAudioProcessBase::initFromDef(def, std::move(setup), instancePath),
            fullName().toUtf8());
    (void)inputPort(0);
    (void)outputPort(0);
    m_interp = findDCDAWKernel("DCDAW_interp2");
    m_fill0 = findDCDAWKernel("DCDAW_fill0");
    if (m_interp == nullptr || m_fill0 == nullptr)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CModInterpolator_initFromDef_NoKernel",
                         "The resampling kernels are missing.", {});
    return nullptr;
}

CErrorPtr CModInterpolator::process(std::int32_t length)
{
    const char* where = "CModInterpolator::process";
    while (true)
    {
        std::int32_t n = availableInput();
        const bool once = n == kUnlimited;
        if (once)
            n = length;
        if (n <= 0 || n == kUnlimited)
            return nullptr;
        CDCDAWContextObject& ctx = context();
        const auto bytes =
            static_cast<std::uint32_t>(std::max(2 * n, setup().maxBlockLength())) * 8u;
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
                err = in == kNoInput ? ctx.issue(*m_fill0, 2 * n, 0.0, {out})
                                     : ctx.issue(*m_interp, n, 0.0, {out, in});
            if (!err)
                err = pushChannel(outputPort(0).channels[static_cast<std::size_t>(c)], out, 2 * n);
            if (out != kNoInput)
                (void)ctx.releaseReference(out);
            if (owned)
                (void)ctx.releaseReference(in);
        }
        consumeAllInputs(n);
        advance(2 * n);
        ZEL_TRY(std::move(err), where);
        if (once)
            return nullptr;
    }
}

void CModInterpolatorDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
}

CErrorPtr CModInterpolatorDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModInterpolator>();
    return nullptr;
}

} // namespace zel
