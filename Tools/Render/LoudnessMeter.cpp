#include "LoudnessMeter.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace kelvtools
{
namespace
{
constexpr const char* kOwner = "CLoudnessMeter";

ebur128_state* state(void* p)
{
    return static_cast<ebur128_state*>(p);
}
} // namespace

CLoudnessMeter::~CLoudnessMeter()
{
    if (m_state != nullptr)
    {
        ebur128_state* st = state(m_state);
        ebur128_destroy(&st);
    }
}

zel::CErrorPtr CLoudnessMeter::open(std::int32_t channels, std::int32_t sampleRate)
{
    ebur128_state* st =
        ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate),
                     EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK);
    if (st == nullptr)
        return ZEL_ERROR(kOwner, "zelstr_CLoudnessMeter_open_Init",
                         "Cannot measure loudness of %1 channels at %2 Hz.",
                         {std::to_string(channels), std::to_string(sampleRate)});
    m_state = st;
    m_channels = channels;
    if (channels == 6)
    {
        // Files with six channels are taken as 5.1 in WAV order; the LFE channel does not count.
        const int map[6] = {EBUR128_LEFT,   EBUR128_RIGHT,         EBUR128_CENTER,
                            EBUR128_UNUSED, EBUR128_LEFT_SURROUND, EBUR128_RIGHT_SURROUND};
        for (unsigned c = 0; c < 6; ++c)
            ebur128_set_channel(st, c, map[c]);
    }
    return nullptr;
}

zel::CErrorPtr CLoudnessMeter::add(const double* interleaved, std::int64_t frames)
{
    if (frames <= 0)
        return nullptr;
    if (ebur128_add_frames_double(state(m_state), interleaved, static_cast<std::size_t>(frames)) !=
        EBUR128_SUCCESS)
        return ZEL_ERROR(kOwner, "zelstr_CLoudnessMeter_add_Failed",
                         "The loudness measurement failed.");
    return nullptr;
}

zel::CErrorPtr CLoudnessMeter::result(SLoudness& loudness) const
{
    ebur128_state* st = state(m_state);
    double integrated = 0.0;
    double range = 0.0;
    if (ebur128_loudness_global(st, &integrated) != EBUR128_SUCCESS ||
        ebur128_loudness_range(st, &range) != EBUR128_SUCCESS)
        return ZEL_ERROR(kOwner, "zelstr_CLoudnessMeter_result_Failed",
                         "The loudness measurement failed.");
    double peak = 0.0;
    for (std::int32_t c = 0; c < m_channels; ++c)
    {
        double channelPeak = 0.0;
        if (ebur128_true_peak(st, static_cast<unsigned>(c), &channelPeak) != EBUR128_SUCCESS)
            return ZEL_ERROR(kOwner, "zelstr_CLoudnessMeter_result_Failed",
                             "The loudness measurement failed.");
        peak = std::max(peak, channelPeak);
    }
    loudness.integrated = integrated;
    loudness.range = range;
    loudness.truePeak =
        peak > 0.0 ? 20.0 * std::log10(peak) : -std::numeric_limits<double>::infinity();
    return nullptr;
}

} // namespace kelvtools
