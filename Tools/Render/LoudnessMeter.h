#pragma once
// CLoudnessMeter: the loudness of one signal as EBU R128 measures it (integrated loudness,
// loudness range, true peak), computed by libebur128 from interleaved blocks fed in order.
// It only measures; formatting the summary is the renderer's business.

#include "Core/Error.h"

#include <cstdint>

namespace kelvtools
{

struct SLoudness
{
    double integrated = 0.0; // LUFS; -inf for silence
    double range = 0.0;      // LU
    double truePeak = 0.0;   // dBTP over all channels; -inf for silence
};

class CLoudnessMeter
{
public:
    CLoudnessMeter() = default;
    ~CLoudnessMeter();
    CLoudnessMeter(const CLoudnessMeter&) = delete;
    CLoudnessMeter& operator=(const CLoudnessMeter&) = delete;

    zel::CErrorPtr open(std::int32_t channels, std::int32_t sampleRate);
    zel::CErrorPtr add(const double* interleaved, std::int64_t frames);
    zel::CErrorPtr result(SLoudness& loudness) const;

private:
    void* m_state = nullptr;
    std::int32_t m_channels = 0;
};

} // namespace kelvtools
