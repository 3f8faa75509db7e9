#include "Audio/Processes/ModMeterResult.h"

#include "Audio/DCDAWContext.h"

#include <cstddef>

namespace zel
{

CErrorPtr CModMeterResult::start(CDCDAWContextObject& context, std::int32_t fieldCount,
                                 std::uint8_t* processFlag)
{
    release(context);
    ZEL_TRY(context.takeBuffer(static_cast<std::uint32_t>(fieldCount) * 8u, m_ref),
            "CModMeterResult");
    m_taken = true;
    m_fieldCount = fieldCount;
    double* record = context.data(m_ref);
    for (std::int32_t i = 0; i < fieldCount; ++i)
        record[static_cast<std::size_t>(i)] = 0.0;
    m_flag = 0;
    ZEL_TRY(context.setNotifyFlags(m_ref, &m_flag, processFlag), "CModMeterResult");
    return nullptr;
}

CErrorPtr CModMeterResult::arm(CDCDAWContextObject& context)
{
    return context.requestNotify(m_ref);
}

void CModMeterResult::release(CDCDAWContextObject& context)
{
    if (!m_taken)
        return;
    (void)context.releaseReference(m_ref);
    m_taken = false;
    m_ref = 0xFFFFFFFFu;
    // A record raised but not yet read has no slot to read any more.
    m_flag = 0;
}

} // namespace zel
