#include "Audio/Processes/ModRateStep.h"

#include "Audio/DCDAWContext.h"
#include "Audio/Kernels/DCDAWKernel.h"

#include <algorithm>

namespace zel
{

void CModRateStep::registerClass(CClassInfo& info)
{
    CAudioProcessBase::registerClass(info);
}

CErrorPtr CModRateStep::initFromDef(const CAudioProcessDefBase& def,
                                    std::shared_ptr<const CAudioProcessSetup> setup,
                                    const CText& instancePath)
{
    ZEL_TRY(CAudioProcessBase::initFromDef(def, std::move(setup), instancePath),
            fullName().toUtf8());
    (void)inputPort(0);
    (void)outputPort(0);
    m_fill0 = findDCDAWKernel("DCDAW_fill0");
    return nullptr;
}

CErrorPtr CModRateStep::process(std::int32_t length)
{
    while (true)
    {
        bool once = false;
        std::int32_t n = nextRunLength(length, once);
        // The down step takes pairs. A segment can end inside a pair (sub-blocks are cut where
        // parameter changes are due); its lone last sample joins the segment behind it, or,
        // when none is queued yet, waits for the next block. Left alone it would block every
        // segment behind it.
        if (!m_up && n == 1 && !once)
        {
            bool joined = false;
            ZEL_TRY(joinOddFronts(joined), fullName().toUtf8());
            if (!joined)
                return nullptr;
            continue;
        }
        if (!m_up)
            n -= n % 2;
        if (n <= 0)
            return nullptr;
        const std::int32_t produced = m_up ? 2 * n : n / 2;
        CDCDAWContextObject& ctx = context();
        const auto bytes =
            static_cast<std::uint32_t>(std::max(produced, setup().maxBlockLength())) * 8u;
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
                err = in == kNoInput ? ctx.issue(*m_fill0, produced, 0.0, {out})
                                     : issueStep(ctx, n, out, in);
            if (!err)
                err =
                    pushChannel(outputPort(0).channels[static_cast<std::size_t>(c)], out, produced);
            if (out != kNoInput)
                (void)ctx.releaseReference(out);
            if (owned)
                (void)ctx.releaseReference(in);
        }
        consumeAllInputs(n);
        advance(std::max(n, produced));
        ZEL_TRY(std::move(err), fullName().toUtf8());
        if (once)
            return nullptr;
    }
}

CErrorPtr CModRateStep::joinOddFronts(bool& joined)
{
    joined = true;
    for (CAudioInputChannel& channel : inputPort(0).channels)
        for (CAudioConnection* source : channel.sources)
            if (source->isActive() && source->frontLength() == 1)
            {
                bool one = false;
                ZEL_TRY(source->joinFront(one), fullName().toUtf8());
                joined = joined && one;
            }
    return nullptr;
}

} // namespace zel
