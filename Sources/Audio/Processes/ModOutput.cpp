#include "Audio/Processes/ModOutput.h"

#include "Audio/DCDAWContext.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zel
{
namespace
{

// One pass without early exit, so that it vectorises: NaN fails the comparison, an infinity
// exceeds the largest finite value.
bool allFinite(const double* data, std::int32_t count)
{
    if (data == nullptr)
        return true;
    bool finite = true;
    for (std::int32_t i = 0; i < count; ++i)
        finite &= std::fabs(data[i]) <= std::numeric_limits<double>::max();
    return finite;
}

} // namespace

void CModOutput::registerClass(CClassInfo& info)
{
    CAudioProcessBase::registerClass(info);
}

CErrorPtr CModOutput::attachSource(CAudioProcessBase& source)
{
    CAudioOutputPort& from = source.outputPort(0);
    CAudioInputPort& to = inputPort(0);
    const std::size_t channels = std::min(from.channels.size(), to.channels.size());
    for (std::size_t c = 0; c < channels; ++c)
        (void)makeConnection(from.channels[c], to.channels[c]);
    return nullptr;
}

void CModOutput::setOutputFormat(bool is64Bit, bool interleaved, std::int32_t channels)
{
    m_64 = is64Bit;
    m_interleaved = interleaved;
    m_hostChannels = std::max(channels, 0);
}

void CModOutput::write(void* const* outputs, std::int32_t channel, std::int32_t frame,
                       const double* data, std::int32_t count) const
{
    void* base = m_interleaved ? outputs[0] : outputs[channel];
    if (base == nullptr || count <= 0)
        return;
    const std::size_t stride = m_interleaved ? static_cast<std::size_t>(m_hostChannels) : 1u;
    std::size_t at = static_cast<std::size_t>(frame) * stride +
                     (m_interleaved ? static_cast<std::size_t>(channel) : 0u);
    // Host boundary: the conversion to the host's sample format is done here, not by a kernel.
    for (std::int32_t i = 0; i < count; ++i, at += stride)
    {
        const double v = data != nullptr ? data[i] : 0.0;
        if (m_64)
            static_cast<double*>(base)[at] = v;
        else
            static_cast<float*>(base)[at] = static_cast<float>(v);
    }
}

bool CModOutput::takeNonFinite()
{
    const bool seen = m_nonFinite;
    m_nonFinite = false;
    return seen;
}

void CModOutput::writeSilence(void* const* outputs, std::int32_t n, std::int32_t offset) const
{
    if (outputs == nullptr)
        return;
    for (std::int32_t h = 0; h < m_hostChannels; ++h)
        write(outputs, h, offset, nullptr, n);
}

CErrorPtr CModOutput::render(CAudioProcessBase* graph, std::int32_t n, void* const* outputs,
                             std::int32_t offset)
{
    if (graph != nullptr)
        ZEL_TRY(graph->process(n), fullName().toUtf8());
    if (outputs == nullptr || n <= 0)
        return nullptr;
    CAudioInputPort& port = inputPort(0);
    for (std::int32_t h = 0; h < m_hostChannels; ++h)
    {
        std::int32_t done = 0;
        if (static_cast<std::size_t>(h) < port.channels.size())
        {
            CAudioInputChannel& channel = port.channels[static_cast<std::size_t>(h)];
            while (done < n)
            {
                const std::int32_t available = std::min(availableIn(channel), n - done);
                if (available <= 0 || available == kUnlimited)
                    break;
                std::uint32_t ref = kNoInput;
                bool owned = false;
                ZEL_TRY(readChannel(channel, available, ref, owned), fullName().toUtf8());
                const double* data = context().data(ref);
                m_nonFinite = m_nonFinite || !allFinite(data, available);
                write(outputs, h, offset + done, data, available);
                if (owned)
                    (void)context().releaseReference(ref);
                consumeChannel(channel, available);
                done += available;
            }
        }
        write(outputs, h, offset + done, nullptr, n - done);
    }
    return nullptr;
}

void CModOutputDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
}

CErrorPtr CModOutputDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModOutput>();
    return nullptr;
}

} // namespace zel
